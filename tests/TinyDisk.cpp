#include "TinyDisk.h"

#include <QFile>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

TinyDisk::TinyDisk(qint64 bytes)
{
    if (!dir_.isValid()) {
        error_ = QStringLiteral("no temporary folder: %1").arg(dir_.errorString());
        return;
    }
    const QByteArray options = "size=" + QByteArray::number(bytes);
    if (::mount("tmpfs", QFile::encodeName(dir_.path()).constData(), "tmpfs",
                MS_NOSUID | MS_NODEV | MS_NOEXEC, options.constData()) != 0) {
        error_ = QStringLiteral("cannot mount a tmpfs of %1 bytes on %2 (root is needed): %3")
                     .arg(bytes)
                     .arg(dir_.path(), QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    mounted_ = true;
}

TinyDisk::~TinyDisk()
{
    // Detached, so that a file a test left open does not keep it mounted.
    if (mounted_)
        ::umount2(QFile::encodeName(dir_.path()).constData(), MNT_DETACH);
}

bool TinyDisk::fill(const QString &name)
{
    const int fd = ::open(QFile::encodeName(filePath(name)).constData(),
                          O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        error_ = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    const QByteArray block(4096, 'x');
    ssize_t written = 0;
    do {
        written = ::write(fd, block.constData(), size_t(block.size()));
    } while (written > 0 || (written < 0 && errno == EINTR));
    const int reason = errno;
    ::close(fd);
    if (reason != ENOSPC) {
        error_ = QString::fromLocal8Bit(std::strerror(reason));
        return false;
    }
    return true;
}
