#include "StopSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

// Ctrl+C, what `kill` and service managers send, and the hangup of a terminal
// that went away: all three mean "stop". SIGHUP last: it alone stays caught
// after the first request.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr std::size_t kEndAtOnce = 2; // the first two: ended at once when repeated

// A write to a reader that has gone fails instead, and output or terminal
// settings from the background of the program's own terminal go ahead
// instead of halting the program until someone brings it to the foreground.
constexpr int kIgnoredSignals[] = {SIGPIPE, SIGTTOU};

// The pipe's write end, for the handler; -1 while no StopSignals exists.
volatile sig_atomic_t g_writeEnd = -1;
// Which of kStopSignals the handler took over, for it to give back.
volatile sig_atomic_t g_caught[std::size(kStopSignals)] = {};

extern "C" void onStopSignal(int number)
{
    const int saved = errno;
    // Another Ctrl+C or SIGTERM is to end the program whatever it is doing:
    // a run stuck where it cannot hear this request ends then too.
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    for (std::size_t i = 0; i < kEndAtOnce; ++i) {
        if (g_caught[i])
            ::sigaction(kStopSignals[i], &byDefault, nullptr);
    }
    const unsigned char byte = static_cast<unsigned char>(number);
    // A full pipe already holds a request to stop: losing this one is fine.
    [[maybe_unused]] const ssize_t written = ::write(g_writeEnd, &byte, 1);
    errno = saved;
}

QString signalName(int number)
{
    switch (number) {
    case SIGINT:
        return QStringLiteral("SIGINT");
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    case SIGHUP:
        return QStringLiteral("SIGHUP");
    default:
        return QStringLiteral("signal %1").arg(number);
    }
}

QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

struct StopSignals::Private {
    struct Replaced {
        int number;
        struct sigaction previous;
    };

    // Replaces the action for `number`, keeping the one before to put back.
    bool replace(int number, const struct sigaction &action)
    {
        Replaced entry{number, {}};
        if (::sigaction(number, &action, &entry.previous) == -1)
            return false;
        replaced.push_back(entry);
        return true;
    }

    std::vector<Replaced> replaced;
    int pipe[2] = {-1, -1};
    bool requested = false;
    bool installed = false;
    QSocketNotifier *notifier = nullptr;
    QString error;
};

StopSignals::StopSignals(Mode mode, QObject *parent)
    : QObject(parent), d_(std::make_unique<Private>())
{
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    for (int number : kIgnoredSignals) {
        if (!d_->replace(number, ignore)) {
            d_->error = systemError("sigaction");
            return;
        }
    }
    if (mode == Mode::AtOnce) {
        d_->installed = true;
        return;
    }

    if (::pipe2(d_->pipe, O_CLOEXEC | O_NONBLOCK) == -1) {
        d_->error = systemError("pipe");
        return;
    }
    g_writeEnd = d_->pipe[1];
    d_->notifier = new QSocketNotifier(d_->pipe[0], QSocketNotifier::Read, this);
    connect(d_->notifier, &QSocketNotifier::activated, this, [this] {
        unsigned char byte = 0;
        while (::read(d_->pipe[0], &byte, 1) == 1) {
            if (d_->requested)
                continue;
            d_->requested = true;
            emit stopRequested(signalName(byte));
        }
    });

    struct sigaction action {};
    action.sa_handler = onStopSignal;
    // All of them held off while the handler runs: a second request that
    // comes meanwhile then finds the default action the handler put back.
    sigemptyset(&action.sa_mask);
    for (int number : kStopSignals)
        sigaddset(&action.sa_mask, number);
    // Restarted system calls: Qt's own calls need not see EINTR.
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
        struct sigaction current {};
        if (::sigaction(kStopSignals[i], nullptr, &current) == -1) {
            d_->error = systemError("sigaction");
            return;
        }
        // Whoever started the program asked for it to go on regardless.
        if (current.sa_handler == SIG_IGN)
            continue;
        g_caught[i] = 1;
        if (!d_->replace(kStopSignals[i], action)) {
            g_caught[i] = 0;
            d_->error = systemError("sigaction");
            return;
        }
    }
    d_->installed = true;
}

StopSignals::~StopSignals()
{
    for (auto it = d_->replaced.rbegin(); it != d_->replaced.rend(); ++it)
        ::sigaction(it->number, &it->previous, nullptr);
    for (auto &caught : g_caught)
        caught = 0;
    g_writeEnd = -1;
    delete d_->notifier;
    for (int fd : d_->pipe) {
        if (fd >= 0)
            ::close(fd);
    }
}

bool StopSignals::isValid() const
{
    return d_->installed;
}

QString StopSignals::errorString() const
{
    return d_->error;
}
