#include "NullModemCable.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

// Writes all of `data` to a non-blocking descriptor, waiting for room; gives
// up only when the descriptor fails (the other side closed) or `stop` polls
// readable.
bool writeAll(int fd, const char *data, ssize_t size, int stop)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n > 0) {
            data += n;
            size -= n;
            continue;
        }
        if (n == -1 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd fds[2] = {{fd, POLLOUT, 0}, {stop, POLLIN, 0}};
        if (::poll(fds, 2, 100) > 0 && (fds[1].revents & POLLIN))
            return false;
    }
    return true;
}

} // namespace

NullModemCable::NullModemCable(Kind kind) : kind_(kind)
{
    if (!a_.isValid() || (kind_ == TwoEnds && !b_.isValid()))
        return;
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) == -1)
        return;
    thread_ = std::thread([this] { relay(); });
}

NullModemCable::~NullModemCable()
{
    stop();
    for (int fd : wake_)
        if (fd >= 0)
            ::close(fd);
}

bool NullModemCable::isValid() const
{
    return a_.isValid() && (kind_ == Echo || b_.isValid()) && thread_.joinable();
}

QString NullModemCable::error() const
{
    if (!a_.isValid())
        return a_.error();
    if (kind_ == TwoEnds && !b_.isValid())
        return b_.error();
    return thread_.joinable() ? QString() : QStringLiteral("could not start the relay");
}

void NullModemCable::cut()
{
    stop();
    a_.closeMaster();
    b_.closeMaster();
}

void NullModemCable::stop()
{
    if (!thread_.joinable())
        return;
    const char byte = 0;
    [[maybe_unused]] const ssize_t n = ::write(wake_[1], &byte, 1);
    thread_.join();
}

void NullModemCable::relay()
{
    const int a = a_.masterFd();
    const int b = kind_ == TwoEnds ? b_.masterFd() : a;
    char buffer[4096];
    for (;;) {
        pollfd fds[3] = {{wake_[0], POLLIN, 0}, {a, POLLIN, 0}, {b, POLLIN, 0}};
        const nfds_t count = kind_ == TwoEnds ? 3 : 2;
        if (::poll(fds, count, -1) == -1) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[0].revents & POLLIN)
            return;
        for (nfds_t i = 1; i < count; ++i) {
            if (!(fds[i].revents & POLLIN)) {
                // A far side that fails would otherwise poll ready forever.
                if (fds[i].revents & (POLLERR | POLLHUP | POLLNVAL))
                    return;
                continue;
            }
            const int from = fds[i].fd;
            const int to = from == a ? b : a;
            const ssize_t n = ::read(from, buffer, sizeof buffer);
            if (n > 0) {
                carried_ += n;
                if (!writeAll(to, buffer, n, wake_[0]))
                    return;
            }
        }
    }
}
