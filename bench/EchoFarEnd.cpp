#include "EchoFarEnd.h"

#include "CliProcess.h"

#include <cerrno>
#include <chrono>
#include <poll.h>
#include <unistd.h>

EchoFarEnd::EchoFarEnd()
{
    relay_.start([this] { relay(); });
}

// The relay stops before the state it notes goes.
EchoFarEnd::~EchoFarEnd()
{
    relay_.stop();
}

QString EchoFarEnd::error() const
{
    return relay_.error(QStringLiteral("the echo"));
}

void EchoFarEnd::arm()
{
    const std::lock_guard lock(mutex_);
    armed_ = true;
    arrivalNs_ = -1;
}

qint64 EchoFarEnd::waitFirstByte(int limitMs)
{
    std::unique_lock lock(mutex_);
    arrived_.wait_for(lock, std::chrono::milliseconds(limitMs), [this] { return arrivalNs_ >= 0; });
    armed_ = false;
    return arrivalNs_;
}

void EchoFarEnd::recordArrivals(int quietMs)
{
    const std::lock_guard lock(mutex_);
    quietNs_ = qint64(quietMs) * 1000000;
}

std::vector<qint64> EchoFarEnd::arrivals() const
{
    const std::lock_guard lock(mutex_);
    return arrivals_;
}

void EchoFarEnd::relay()
{
    const int far = relay_.pty().masterFd();
    char buffer[4096];
    for (;;) {
        pollfd fds[2] = {{relay_.wakeFd(), POLLIN, 0}, {far, POLLIN, 0}};
        if (::poll(fds, 2, -1) == -1) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[0].revents & POLLIN)
            return;
        if (!(fds[1].revents & POLLIN)) {
            // A far side that fails would otherwise poll ready forever.
            if (fds[1].revents & (POLLERR | POLLHUP | POLLNVAL))
                return;
            continue;
        }
        const ssize_t n = ::read(far, buffer, sizeof buffer);
        if (n <= 0)
            continue;
        const qint64 now = CliProcess::monotonicNs();
        {
            const std::lock_guard lock(mutex_);
            if (armed_ && arrivalNs_ < 0) {
                arrivalNs_ = now;
                arrived_.notify_all();
            }
            if (quietNs_ >= 0 && (lastReadNs_ < 0 || now - lastReadNs_ >= quietNs_))
                arrivals_.push_back(now);
            lastReadNs_ = now;
        }
        // Back at once, all of it, waiting for room if the line is full.
        for (ssize_t done = 0; done < n;) {
            const ssize_t written = ::write(far, buffer + done, size_t(n - done));
            if (written > 0) {
                done += written;
                continue;
            }
            if (written == -1 && errno != EAGAIN && errno != EINTR)
                return;
            pollfd room[2] = {{far, POLLOUT, 0}, {relay_.wakeFd(), POLLIN, 0}};
            if (::poll(room, 2, 100) > 0 && (room[1].revents & POLLIN))
                return;
        }
    }
}
