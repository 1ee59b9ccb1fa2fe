#include "Console.h"

#include <QDeadlineTimer>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

// A descriptor of its own for the terminal `fd` writes to, that never
// blocks; -1 when `fd` is no terminal or the terminal cannot be opened anew.
// The open file behind `fd` is shared with the shell, which must not find it
// non-blocking when it next reads a command.
int terminalWriter(int fd)
{
    static int writers[3] = {-2, -2, -2}; // -2: not tried yet
    if (fd < 0 || fd >= int(std::size(writers)))
        return -1;
    int &writer = writers[fd];
    if (writer == -2) {
        writer = -1;
        if (::isatty(fd) == 1) {
            if (const char *name = ::ttyname(fd))
                writer = ::open(name, O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        }
    }
    return writer;
}

} // namespace

namespace Console {

bool isTerminal(std::FILE *stream)
{
    return ::isatty(::fileno(stream)) == 1;
}

qint64 writeBytes(std::FILE *stream, const QByteArray &bytes, std::chrono::milliseconds stall)
{
    const int fd = ::fileno(stream);
    if (fd < 0)
        return -1;
    int target = terminalWriter(fd);
    int restore = -1;
    if (target == -1) {
        target = fd;
        // Non-blocking for this write only: the open file is shared with the
        // programs beside this one in a pipeline, which expect it as it was.
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags != -1 && !(flags & O_NONBLOCK) && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != -1)
            restore = flags;
    }
    qint64 done = 0;
    bool failed = false;
    QDeadlineTimer idle(stall);
    while (done < bytes.size()) {
        const ssize_t n =
            ::write(target, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            idle.setRemainingTime(stall);
            continue;
        }
        if (n == -1 && errno == EINTR)
            continue;
        if (n == -1 && errno != EAGAIN && errno != EWOULDBLOCK) {
            failed = true;
            break;
        }
        const qint64 left = idle.remainingTime();
        if (left == 0)
            break;
        // Woken by room, or by the reader going (the next write fails then).
        pollfd entry{target, POLLOUT, 0};
        ::poll(&entry, 1, int(std::min<qint64>(left, INT_MAX)));
    }
    if (restore != -1)
        ::fcntl(fd, F_SETFL, restore);
    return failed && done == 0 ? -1 : done;
}

} // namespace Console
