#include "PortLocator.h"

#include <QDir>
#include <QFile>
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

QString firstLineOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromLocal8Bit(file.readLine()).trimmed();
}

} // namespace

namespace PortLocator {

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
        if (ok && number >= 1 && entry == QStringLiteral("com%1").arg(number))
            numbers << number;
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

QString deviceFor(int number)
{
    if (number < 1)
        return {};

    const QFileInfo entry(portFolder() + QStringLiteral("/com") + QString::number(number));
    if (entry.isSymLink()) {
        const QString real = entry.canonicalFilePath();
        return real.isEmpty() ? entry.symLinkTarget() : real;
    }
    if (entry.isFile()) {
        // An entry that names nothing still overrides the system's port: the
        // user took this number over, and guessing a device would be wrong.
        const QString device = firstLineOf(entry.filePath());
        return device.isEmpty() ? QString() : realPathOf(device);
    }
    return systemDeviceFor(number);
}

} // namespace PortLocator
