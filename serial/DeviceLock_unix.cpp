#include "DeviceLock.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

DeviceLock::~DeviceLock()
{
    release();
}

bool DeviceLock::take(const QString &device, QString *why)
{
    release();
    // Non-blocking, or a modem line without carrier would wait here for one;
    // never the controlling terminal; not passed on to programs started later.
    const int fd =
        ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd == -1) {
        const int error = errno;
        *why = error == EBUSY
                   // What a holder's TIOCEXCL tells anyone but root.
                   ? QStringLiteral("%1 is held exclusively by another program").arg(device)
                   : QStringLiteral("%1 cannot be opened: %2")
                         .arg(device, QString::fromLocal8Bit(std::strerror(error)));
        return false;
    }
#ifdef TIOCGEXCL
    // Root passes TIOCEXCL unchallenged; it is asked instead.
    int exclusive = 0;
    if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
        ::close(fd);
        *why = QStringLiteral("%1 is held exclusively by another program").arg(device);
        return false;
    }
#endif
    int locked;
    do {
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (locked == -1 && errno == EINTR);
    if (locked == -1 && errno == EWOULDBLOCK) {
        ::close(fd);
        *why = QStringLiteral("%1 is locked by another program (flock)").arg(device);
        return false;
    }
    // Any other failure means the device takes no such lock; then there is
    // nothing for other programs to honour either, and the open goes on.
    fd_ = fd;
    return true;
}

void DeviceLock::release()
{
    if (fd_ == -1)
        return;
    ::close(fd_); // drops the lock with the descriptor
    fd_ = -1;
}
