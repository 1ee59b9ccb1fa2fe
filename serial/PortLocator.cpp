#include "PortLocator.h"

#include "NetworkPort.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>

namespace {

// A device that exists is named by its real path, so that the lock file the
// serial layer takes matches the one any other program takes for it. One that
// does not exist is passed on as named, for the open to fail as missing.
QString realPathOf(const QString &device)
{
    const QString real = QFileInfo(device).canonicalFilePath();
    return real.isEmpty() ? device : real;
}

// An entry names one device path on its first line; no path is longer than
// this, and reading no further keeps a mistaken entry (a large file copied
// into the folder) from costing time or memory.
constexpr qint64 kLongestEntryLine = 4096;

// The entry's first line, or an empty string when it is no regular file,
// cannot be read, or its first line is longer than any device path.
QString firstLineOf(const QString &path)
{
    const std::optional<QByteArray> head = PortLocator::entryFileHead(path, kLongestEntryLine + 1);
    if (!head)
        return {};
    qsizetype end = head->indexOf('\n');
    if (end < 0) {
        if (head->size() > kLongestEntryLine)
            return {};
        end = head->size();
    }
    return QString::fromLocal8Bit(head->left(end)).trimmed();
}

} // namespace

namespace PortLocator {

bool isPortNumber(int number)
{
    return number >= kFirstPort && number <= kLastPort;
}

QString portFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/commcheck/ports");
}

QList<int> folderNumbers()
{
    QList<int> numbers;
    const QDir folder(portFolder());
    const QStringList entries =
        folder.entryList({QStringLiteral("com*")}, QDir::Files | QDir::System, QDir::Name);
    for (const QString &entry : entries) {
        bool ok = false;
        const int number = entry.mid(3).toInt(&ok);
        // "com01" is not an entry the program would look for.
        if (ok && isPortNumber(number) && entry == QStringLiteral("com%1").arg(number))
            numbers << number;
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

QString deviceFor(int number)
{
    if (!isPortNumber(number))
        return {};

    const QFileInfo entry(portFolder() + QStringLiteral("/com") + QString::number(number));
    if (entry.isSymLink()) {
        const QString real = entry.canonicalFilePath();
        return real.isEmpty() ? entry.symLinkTarget() : real;
    }
    if (!entry.exists())
        return systemDeviceFor(number);
    // An entry that names nothing (empty, unreadable, a folder or a FIFO put
    // there by mistake) still overrides the system's port: the user took this
    // number over, and guessing a device would be wrong. Only a regular file
    // is opened; a FIFO would keep the caller waiting for a writer.
    if (!entry.isFile())
        return {};
    const QString device = firstLineOf(entry.filePath());
    if (device.isEmpty())
        return {};
    // A line behind a device server is named by its address, as written.
    if (NetworkPort::looksLikeAddress(device))
        return device;
    return realPathOf(entryDevice(entry.path(), device));
}

} // namespace PortLocator
