#include "SerialTuning.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

#if defined(Q_OS_LINUX)
// The kernel's struct termios2 (asm-generic layout). glibc's <termios.h>
// does not declare it and <asm/termbits.h> cannot be included beside it, so
// the program keeps its own copy; only the speeds are read from it.
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

// The real rates, custom ones included: cfgetospeed only knows the B
// constants and reports BOTHER for a rate set by number.
bool readSpeeds(int fd, qint64 *input, qint64 *output, QString *why)
{
    KernelTermios2 tio{};
    if (::ioctl(fd, kGetTermios2, &tio) == -1) {
        *why = QStringLiteral("cannot read the line speed back: %1").arg(systemError());
        return false;
    }
    *input = tio.c_ispeed;
    *output = tio.c_ospeed;
    return true;
}
#else
// Elsewhere (the BSDs, macOS) a speed_t is the rate itself.
bool readSpeeds(int fd, qint64 *input, qint64 *output, QString *why)
{
    struct termios tio {};
    if (::tcgetattr(fd, &tio) == -1) {
        *why = QStringLiteral("cannot read the line speed back: %1").arg(systemError());
        return false;
    }
    *input = qint64(::cfgetispeed(&tio));
    *output = qint64(::cfgetospeed(&tio));
    return true;
}
#endif

tcflag_t sizeFlag(int dataBits)
{
    switch (dataBits) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

#ifdef CMSPAR
constexpr tcflag_t kStickParity = CMSPAR;
#else
constexpr tcflag_t kStickParity = 0;
#endif

bool parityMatches(tcflag_t cflag, char parity)
{
    const bool enabled = cflag & PARENB;
    const bool odd = cflag & PARODD;
    const bool stick = kStickParity != 0 && (cflag & kStickParity);
    switch (parity) {
    case 'N':
        return !enabled;
    case 'E':
        return enabled && !odd && !stick;
    case 'O':
        return enabled && odd && !stick;
    case 'M':
        return enabled && odd && stick;
    case 'S':
        return enabled && !odd && stick;
    default:
        return false;
    }
}

} // namespace

namespace SerialTuning {

bool addSoftwareFlowControl(qintptr handle, QString *error)
{
    const int fd = int(handle);
    struct termios tio {};
    if (::tcgetattr(fd, &tio) == -1) {
        *error = QStringLiteral("cannot read the terminal settings: %1").arg(systemError());
        return false;
    }
    tio.c_iflag |= IXON | IXOFF;
    if (::tcsetattr(fd, TCSANOW, &tio) == -1) {
        *error = QStringLiteral("cannot turn XON/XOFF on: %1").arg(systemError());
        return false;
    }
    return true;
}

bool verify(qintptr handle, const LineSettings &line, QString *why)
{
    const int fd = int(handle);
    struct termios tio {};
    if (::tcgetattr(fd, &tio) == -1) {
        *why = QStringLiteral("cannot read the terminal settings back: %1").arg(systemError());
        return false;
    }

    qint64 inputSpeed = 0;
    qint64 outputSpeed = 0;
    if (!readSpeeds(fd, &inputSpeed, &outputSpeed, why))
        return false;
    // An input speed of 0 means "the same as the output speed".
    if (outputSpeed != line.baudRate || (inputSpeed != 0 && inputSpeed != line.baudRate)) {
        *why = QStringLiteral("the device runs at %1 baud instead of %2")
                   .arg(outputSpeed)
                   .arg(line.baudRate);
        return false;
    }

    if ((tio.c_cflag & CSIZE) != sizeFlag(line.dataBits)) {
        *why = QStringLiteral("the device did not take %1 data bits").arg(line.dataBits);
        return false;
    }

    if (!parityMatches(tio.c_cflag, line.parity)) {
        *why = QStringLiteral("the device did not take parity %1").arg(QLatin1Char(line.parity));
        return false;
    }

    switch (line.stopBits) {
    case LineSettings::StopBits::One:
        if (tio.c_cflag & CSTOPB) {
            *why = QStringLiteral("the device did not take 1 stop bit");
            return false;
        }
        break;
    case LineSettings::StopBits::Two:
        if (!(tio.c_cflag & CSTOPB)) {
            *why = QStringLiteral("the device did not take 2 stop bits");
            return false;
        }
        break;
    case LineSettings::StopBits::OneAndHalf:
        // termios has one bit for "more than one stop bit"; a port set up
        // here can never be known to send one and a half.
        *why = QStringLiteral("1.5 stop bits cannot be set on this system");
        return false;
    }

    const bool wantHardware = line.usesRtsCts();
    const bool wantSoftware = line.usesXonXoff();
    if (bool(tio.c_cflag & CRTSCTS) != wantHardware) {
        *why = wantHardware ? QStringLiteral("the device did not turn RTS/CTS flow control on")
                            : QStringLiteral("the device kept RTS/CTS flow control on");
        return false;
    }
    const bool softwareOn = (tio.c_iflag & IXON) && (tio.c_iflag & IXOFF);
    const bool softwareOff = !(tio.c_iflag & IXON) && !(tio.c_iflag & IXOFF);
    if (wantSoftware ? !softwareOn : !softwareOff) {
        *why = wantSoftware ? QStringLiteral("the device did not turn XON/XOFF flow control on")
                            : QStringLiteral("the device kept XON/XOFF flow control on");
        return false;
    }
    return true;
}

void dropExclusiveMode(qintptr handle)
{
    // A device without the mode (not a terminal) refuses this harmlessly.
    ::ioctl(int(handle), TIOCNXCL);
}

qint64 writeAvailable(qintptr handle, const char *bytes, qint64 size)
{
    qint64 written = 0;
    while (written < size) {
        const ssize_t n = ::write(int(handle), bytes + written, size_t(size - written));
        if (n > 0) {
            written += n;
            continue;
        }
        if (n == -1 && errno == EINTR)
            continue;
        break; // full (EAGAIN on the port's non-blocking descriptor) or failed
    }
    return written;
}

qint64 queuedOutput(qintptr handle)
{
    int queued = 0;
    if (::ioctl(int(handle), TIOCOUTQ, &queued) == -1)
        return -1;
    return queued;
}

bool deviceGone(qintptr handle)
{
    const int lastError = errno; // before the calls below replace it
    if (lastError == EIO || lastError == ENXIO || lastError == ENODEV || lastError == EBADF)
        return true;
    const int fd = int(handle);
    pollfd entry{fd, POLLIN | POLLOUT, 0};
    int ready;
    do {
        ready = ::poll(&entry, 1, 0);
    } while (ready == -1 && errno == EINTR);
    if (ready == -1 || (entry.revents & (POLLERR | POLLHUP | POLLNVAL)))
        return true;
    // A terminal hung up under a descriptor answers no request on it.
    struct termios tio {};
    return ::tcgetattr(fd, &tio) == -1;
}

} // namespace SerialTuning
