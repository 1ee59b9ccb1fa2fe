#include "StopSignals.h"

#include <QMetaObject>

#include <atomic>
#include <windows.h>

namespace {

std::atomic<StopSignals *> g_instance{nullptr};

// Runs on a thread the system starts for the console event.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    StopSignals *instance = g_instance.load();
    if (instance == nullptr)
        return FALSE;
    const QString name = event == CTRL_C_EVENT       ? QStringLiteral("Ctrl+C")
                         : event == CTRL_BREAK_EVENT ? QStringLiteral("Ctrl+Break")
                                                     : QStringLiteral("console closed");
    QMetaObject::invokeMethod(
        instance, [instance, name] { emit instance->stopRequested(name); }, Qt::QueuedConnection);
    return TRUE;
}

} // namespace

struct StopSignals::Private {
    bool installed = false;
    QString error;
};

StopSignals::StopSignals(QObject *parent) : QObject(parent), d_(std::make_unique<Private>())
{
    g_instance = this;
    d_->installed = ::SetConsoleCtrlHandler(onConsoleEvent, TRUE) != 0;
    if (!d_->installed)
        d_->error = QStringLiteral("SetConsoleCtrlHandler failed (%1)").arg(::GetLastError());
}

StopSignals::~StopSignals()
{
    if (d_->installed)
        ::SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    g_instance = nullptr;
}

bool StopSignals::isValid() const
{
    return d_->installed;
}

QString StopSignals::errorString() const
{
    return d_->error;
}
