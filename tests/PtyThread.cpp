#include "PtyThread.h"

#include <fcntl.h>
#include <unistd.h>

PtyThread::~PtyThread()
{
    stop();
    for (int fd : wake_)
        if (fd >= 0)
            ::close(fd);
}

bool PtyThread::start(std::function<void()> body)
{
    if (!pty_.isValid() || ::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) == -1)
        return false;
    thread_ = std::thread(std::move(body));
    return true;
}

void PtyThread::stop()
{
    if (!thread_.joinable())
        return;
    const char byte = 0;
    [[maybe_unused]] const ssize_t n = ::write(wake_[1], &byte, 1);
    thread_.join();
}

QString PtyThread::error(const QString &what) const
{
    if (!pty_.isValid())
        return pty_.error();
    return thread_.joinable() ? QString() : QStringLiteral("could not start %1").arg(what);
}
