#include "Console.h"

#include <QDeadlineTimer>
#include <QFile>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(TIOCGDEV)
#include <sys/sysmacros.h>
#endif

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

// Whether `device` is the terminal `own` (the program's /dev/tty) stands for.
bool isOwnTerminal(int own, const QString &device)
{
    const QByteArray path = QFile::encodeName(device);
    struct stat target {};
    if (::stat(path.constData(), &target) == -1 || !S_ISCHR(target.st_mode))
        return false;
    struct stat alias {};
    if (::fstat(own, &alias) == 0 && alias.st_rdev == target.st_rdev)
        return true; // /dev/tty itself
#if defined(TIOCGDEV)
    // The terminal's own device, compared without opening `device`: opening
    // and closing a serial port would pulse its modem lines.
    unsigned int number = 0;
    if (::ioctl(own, TIOCGDEV, &number) == -1)
        return false;
    // The kernel's encoding, which keeps 20 bits of minor number.
    const dev_t terminal =
        makedev((number >> 8) & 0xfff, (number & 0xff) | ((number >> 12) & 0xfff00));
    return target.st_rdev == terminal;
#else
    // Only the program's own terminal tells its foreground group.
    const int fd = ::open(path.constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd == -1)
        return false;
    const bool answers = ::tcgetpgrp(fd) != -1;
    ::close(fd);
    return answers;
#endif
}

} // namespace

namespace Console {

bool isTerminal(std::FILE *stream)
{
    return ::isatty(::fileno(stream)) == 1;
}

bool isBackgroundTerminal(const QString &device)
{
    const int own = ::open("/dev/tty", O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (own == -1)
        return false; // no terminal of its own
    const pid_t foreground = ::tcgetpgrp(own);
    const bool background =
        foreground != -1 && foreground != ::getpgrp() && isOwnTerminal(own, device);
    ::close(own);
    return background;
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
