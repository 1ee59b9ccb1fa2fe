#include "PtyPair.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace {

// Event processing is sliced this thin so that a read returns soon after its
// bytes come, while the program under test still gets its turns.
constexpr int kSliceMs = 5;

// The kernel's struct termios2 (asm-generic layout), which glibc does not
// declare; only its speeds are read.
struct KernelTermios2 {
    tcflag_t c_iflag;
    tcflag_t c_oflag;
    tcflag_t c_cflag;
    tcflag_t c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed;
    speed_t c_ospeed;
};

// TCGETS2 from <asm/ioctls.h> names the kernel's struct, unknown here.
constexpr unsigned long kGetTermios2 = _IOR('T', 0x2A, KernelTermios2);

QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}

bool waitFor(int fd, short events, int timeoutMs)
{
    pollfd entry{fd, events, 0};
    return ::poll(&entry, 1, timeoutMs) > 0 && (entry.revents & events);
}

} // namespace

PtyPair::PtyPair()
{
    char name[256] = {};
    if (::openpty(&master_, &slave_, name, nullptr, nullptr) == -1) {
        error_ = systemError("openpty");
        master_ = slave_ = -1;
        return;
    }
    slavePath_ = QFile::decodeName(name);
    // A program the test starts must not hold the far end open: closing the
    // master would then not hang the line up.
    if (::fcntl(master_, F_SETFD, FD_CLOEXEC) == -1 || ::fcntl(slave_, F_SETFD, FD_CLOEXEC) == -1) {
        error_ = systemError("making the pair close on exec");
        closeMaster();
        return;
    }

    struct termios raw {};
    if (::tcgetattr(slave_, &raw) == -1) {
        error_ = systemError("tcgetattr on the slave");
        closeMaster();
        return;
    }
    ::cfmakeraw(&raw);
    if (::tcsetattr(slave_, TCSANOW, &raw) == -1) {
        error_ = systemError("tcsetattr on the slave");
        closeMaster();
        return;
    }
    const int flags = ::fcntl(master_, F_GETFL);
    if (flags == -1 || ::fcntl(master_, F_SETFL, flags | O_NONBLOCK) == -1) {
        error_ = systemError("making the master non-blocking");
        closeMaster();
    }
}

PtyPair::~PtyPair()
{
    closeMaster();
    if (slave_ >= 0)
        ::close(slave_);
}

bool PtyPair::write(const QByteArray &bytes, int timeoutMs)
{
    if (master_ < 0)
        return false;
    const QDeadlineTimer deadline(timeoutMs);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n == -1 && errno != EAGAIN && errno != EINTR)
            return false;
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents();
        waitFor(master_, POLLOUT, kSliceMs);
    }
    return true;
}

QByteArray PtyPair::read(int count, int timeoutMs)
{
    QByteArray received;
    if (master_ < 0)
        return received;
    const QDeadlineTimer deadline(timeoutMs);
    while (received.size() < count) {
        QCoreApplication::processEvents();
        char buffer[4096];
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) {
            received.append(buffer, n);
            continue;
        }
        if (deadline.hasExpired())
            break;
        waitFor(master_, POLLIN, kSliceMs);
    }
    return received;
}

QByteArray PtyPair::readFor(int timeoutMs)
{
    QByteArray received;
    if (master_ < 0)
        return received;
    const QDeadlineTimer deadline(timeoutMs);
    do {
        QCoreApplication::processEvents();
        char buffer[4096];
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0)
            received.append(buffer, n);
        else
            waitFor(master_, POLLIN, kSliceMs);
    } while (!deadline.hasExpired());
    return received;
}

QByteArray PtyPair::readWithoutEventLoop(int count, int timeoutMs)
{
    QByteArray received;
    if (master_ < 0)
        return received;
    const QDeadlineTimer deadline(timeoutMs);
    while (received.size() < count) {
        char buffer[4096];
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) {
            received.append(buffer, n);
            continue;
        }
        const qint64 left = deadline.remainingTime();
        if (left <= 0 || !waitFor(master_, POLLIN, int(left)))
            break;
    }
    return received;
}

bool PtyPair::waitUntilDelivered(int timeoutMs) const
{
    // The kernel moves bytes from master to slave in the background; once the
    // slave polls readable they are where the program's port can read them.
    return slave_ >= 0 && waitFor(slave_, POLLIN, timeoutMs);
}

qsizetype PtyPair::pendingAtSlave() const
{
    int pending = 0;
    if (slave_ < 0)
        return -1;
    // The kernel moves bytes from master to slave in the background, and the
    // count below sees only those already moved. A look at the slave that
    // finds nothing to read first waits for a move under way to finish.
    waitFor(slave_, POLLIN, 0);
    if (::ioctl(slave_, FIONREAD, &pending) == -1)
        return -1;
    return pending;
}

bool PtyPair::waitUntilHeld(int timeoutMs) const
{
    if (slave_ < 0)
        return false;
    // A stopped line gives poll() nothing to wake up for, so it is looked at
    // now and then until the far end's XOFF has gone through the kernel.
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (!waitFor(slave_, POLLOUT, 0))
            return true;
        if (deadline.hasExpired())
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

bool PtyPair::waitUntilFree(int timeoutMs) const
{
    return slave_ >= 0 && waitFor(slave_, POLLOUT, timeoutMs);
}

qsizetype PtyPair::fillLine(char filler)
{
    if (slave_ < 0)
        return -1;
    // A descriptor of its own, so that the pair's blocking one stays as it is.
    const int fd = ::open(QFile::encodeName(slavePath_).constData(),
                          O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd == -1)
        return -1;
    const QByteArray bytes(4096, filler);
    qsizetype written = 0;
    for (;;) {
        const ssize_t n = ::write(fd, bytes.constData(), size_t(bytes.size()));
        if (n > 0) {
            written += n;
            continue;
        }
        if (n == -1 && errno == EINTR)
            continue;
        // The kernel may still be moving bytes to the far side's buffer,
        // which makes room again.
        if (n == -1 && errno == EAGAIN && waitFor(fd, POLLOUT, 0))
            continue;
        const bool full = n == -1 && errno == EAGAIN;
        ::close(fd);
        return full ? written : -1;
    }
}

bool PtyPair::stopOutput()
{
    return slave_ >= 0 && ::tcflow(slave_, TCOOFF) == 0;
}

bool PtyPair::restartOutput()
{
    return slave_ >= 0 && ::tcflow(slave_, TCOON) == 0;
}

struct termios PtyPair::slaveTermios() const
{
    struct termios tio {};
    if (slave_ >= 0)
        ::tcgetattr(slave_, &tio);
    return tio;
}

qint64 PtyPair::slaveSpeed() const
{
    KernelTermios2 tio{};
    if (slave_ < 0 || ::ioctl(slave_, kGetTermios2, &tio) == -1)
        return -1;
    return tio.c_ospeed;
}

void PtyPair::closeMaster()
{
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}
