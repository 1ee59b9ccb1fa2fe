#include "PortLocator.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace PortLocator {

std::optional<QByteArray> entryFileHead(const QString &path, qint64 most)
{
    // Without O_NONBLOCK a FIFO would hold the open until someone wrote to
    // it; the kind is told by the descriptor, whatever the name meant when
    // the caller looked.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd == -1)
        return std::nullopt;
    struct stat info {};
    if (::fstat(fd, &info) == -1 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    QByteArray head(most, Qt::Uninitialized);
    qint64 got = 0;
    while (got < most) {
        const ssize_t n = ::read(fd, head.data() + got, size_t(most - got));
        if (n > 0) {
            got += n;
            continue;
        }
        if (n == -1 && errno == EINTR)
            continue;
        if (n == -1) {
            ::close(fd);
            return std::nullopt;
        }
        break; // the end of the file
    }
    ::close(fd);
    head.truncate(got);
    return head;
}

QString entryDevice(const QString &portFolder, const QString &text)
{
    // Wherever the program was started, a relative path in an entry means
    // the same device.
    return QDir(portFolder).absoluteFilePath(text);
}

QString systemDeviceFor(int number)
{
    if (!isPortNumber(number))
        return {};
    // The system counts its ports from 0, the window from 1.
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
}

int systemNumberFor(const QString &device)
{
    static const QRegularExpression ttyS(QStringLiteral("^/dev/ttyS(0|[1-9]\\d{0,3})$"));
    const QRegularExpressionMatch match = ttyS.match(device);
    return match.hasMatch() ? match.captured(1).toInt() + 1 : 0;
}

QString stableNameFor(const QString &device)
{
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo &link : byId.entryInfoList(QDir::System | QDir::Files, QDir::Name)) {
        if (link.canonicalFilePath() == device)
            return link.absoluteFilePath();
    }
    return {};
}

} // namespace PortLocator
