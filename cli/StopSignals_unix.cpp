#include "StopSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM};

// The pipe's write end, for the handler; -1 while no StopSignals exists.
volatile sig_atomic_t g_writeEnd = -1;

extern "C" void onStopSignal(int number)
{
    const int saved = errno;
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
    default:
        return QStringLiteral("signal %1").arg(number);
    }
}

} // namespace

struct StopSignals::Private {
    int pipe[2] = {-1, -1};
    struct sigaction previous[std::size(kSignals)] = {};
    std::size_t changed = 0; // handlers replaced so far, in kSignals' order
    bool installed = false;
    QSocketNotifier *notifier = nullptr;
    QString error;
};

StopSignals::StopSignals(QObject *parent) : QObject(parent), d_(std::make_unique<Private>())
{
    if (::pipe2(d_->pipe, O_CLOEXEC | O_NONBLOCK) == -1) {
        d_->error = QStringLiteral("pipe: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    g_writeEnd = d_->pipe[1];
    d_->notifier = new QSocketNotifier(d_->pipe[0], QSocketNotifier::Read, this);
    connect(d_->notifier, &QSocketNotifier::activated, this, [this] {
        unsigned char byte = 0;
        while (::read(d_->pipe[0], &byte, 1) == 1)
            emit stopRequested(signalName(byte));
    });

    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // Restarted system calls: Qt's own calls need not see EINTR.
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        if (::sigaction(kSignals[i], &action, &d_->previous[i]) == -1) {
            d_->error =
                QStringLiteral("sigaction: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
            return;
        }
        d_->changed = i + 1;
    }
    d_->installed = true;
}

StopSignals::~StopSignals()
{
    for (std::size_t i = 0; i < d_->changed; ++i)
        ::sigaction(kSignals[i], &d_->previous[i], nullptr);
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
