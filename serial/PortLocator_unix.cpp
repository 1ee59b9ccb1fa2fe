#include "PortLocator.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QList<QByteArray> &keptArguments()
{
    static QList<QByteArray> arguments;
    return arguments;
}

// The bytes `path` stands for; nothing when arguments that differ read alike.
// Qt reads a name from the system as UTF-8 and each byte that is not becomes
// U+FFFD, so a path with one no longer says which bytes it had; the command
// line it came from still does. A path from elsewhere, or a name holding
// U+FFFD itself, is taken as it reads.
std::optional<QByteArray> givenBytes(const QString &path)
{
    const QByteArray asRead = QFile::encodeName(path);
    if (!path.contains(QChar::ReplacementCharacter))
        return asRead;
    std::optional<QByteArray> given;
    for (const QByteArray &argument : keptArguments()) {
        if (QFile::decodeName(argument) != path)
            continue;
        if (given && *given != argument)
            return std::nullopt;
        given = argument;
    }
    return given.value_or(asRead);
}

} // namespace

namespace PortLocator {

void keepCommandLine(int argc, const char *const argv[])
{
    QList<QByteArray> &kept = keptArguments();
    kept.clear();
    for (int i = 0; i < argc; ++i)
        kept << QByteArray(argv[i]);
}

QString deviceForPath(const QString &path, QString *why)
{
    const std::optional<QByteArray> bytes = givenBytes(path);
    if (!bytes) {
        *why = QStringLiteral("%1 cannot be opened: more than one argument reads as this name, "
                              "differing in bytes that are not UTF-8")
                   .arg(path);
        return {};
    }
    char *real = ::realpath(bytes->constData(), nullptr);
    if (!real) // nothing there (or no way to it): the open tells which
        return path;
    const QByteArray resolved(real);
    std::free(real);
    // QSerialPort takes the device's name as text and gives the system its
    // UTF-8 form.
    const QString device = QFile::decodeName(resolved);
    if (QFile::encodeName(device) != resolved) {
        *why = QStringLiteral("%1 cannot be opened: it is %2, whose name is not UTF-8; "
                              "a link to it with a name that is can be opened")
                   .arg(path, device);
        return {};
    }
    return device;
}

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
