#include "PortLocator.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace PortLocator {

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
