#include "StopSignals.h"

#include <QMetaObject>

#include <atomic>
#include <windows.h>

namespace {

std::atomic<StopSignals *> g_instance{nullptr};
std::atomic<bool> g_requested{false};
// Set once the run is over, for a console that is closing to wait for.
std::atomic<HANDLE> g_ended{nullptr};

// The system ends the program once the handler of a closing console returns,
// and at the latest after 5 s: the run is given most of that to end in order.
constexpr DWORD kClosingWaitMs = 4500;

// Runs on a thread the system starts for the console event.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    StopSignals *instance = g_instance.load();
    if (instance == nullptr)
        return FALSE;
    const bool closing =
        event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
    // Asked again: the system's own handler ends the program at once.
    if (g_requested.exchange(true))
        return closing ? TRUE : FALSE;
    const QString name = event == CTRL_C_EVENT       ? QStringLiteral("Ctrl+C")
                         : event == CTRL_BREAK_EVENT ? QStringLiteral("Ctrl+Break")
                                                     : QStringLiteral("console closed");
    QMetaObject::invokeMethod(
        instance, [instance, name] { emit instance->stopRequested(name); }, Qt::QueuedConnection);
    if (const HANDLE ended = g_ended.load(); closing && ended != nullptr)
        ::WaitForSingleObject(ended, kClosingWaitMs);
    return TRUE;
}

} // namespace

struct StopSignals::Private {
    bool handling = false;
    bool installed = false;
    QString error;
};

// A pipe nobody reads fails a write on Windows without a signal, and a
// console has no background to stop a program in: only the requests to stop
// are handled here.
StopSignals::StopSignals(Mode mode, QObject *parent)
    : QObject(parent), d_(std::make_unique<Private>())
{
    if (mode == Mode::AtOnce) {
        d_->installed = true;
        return;
    }
    g_requested = false;
    g_ended = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_instance = this;
    d_->handling = ::SetConsoleCtrlHandler(onConsoleEvent, TRUE) != 0;
    d_->installed = d_->handling;
    if (!d_->installed)
        d_->error = QStringLiteral("SetConsoleCtrlHandler failed (%1)").arg(::GetLastError());
}

StopSignals::~StopSignals()
{
    if (d_->handling)
        ::SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    g_instance = nullptr;
    // Left open: a handler may still be waiting on it.
    if (const HANDLE ended = g_ended.exchange(nullptr))
        ::SetEvent(ended);
}

bool StopSignals::isValid() const
{
    return d_->installed;
}

QString StopSignals::errorString() const
{
    return d_->error;
}
