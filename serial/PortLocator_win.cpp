#include "PortLocator.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace PortLocator {

void keepCommandLine(int, const char *const[])
{
    // Windows hands Qt the command line as UTF-16: nothing is lost there.
}

QString deviceForPath(const QString &path, QString *)
{
    // "COM3" is no file; a path to a link leads to the device behind it.
    const QString real = QFileInfo(path).canonicalFilePath();
    return real.isEmpty() ? path : real;
}

std::optional<QByteArray> entryFileHead(const QString &path, qint64 most)
{
    // Windows keeps no FIFOs or devices among files; a folder is all there
    // is to turn away.
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray head = file.read(most);
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return head;
}

QString entryDevice(const QString &portFolder, const QString &text)
{
    // "COM3" is a device name, not a file beside the entry; a path is taken
    // from the port folder when it is relative, wherever the program runs.
    if (!text.contains(u'/') && !text.contains(u'\\'))
        return text;
    return QDir(portFolder).absoluteFilePath(text);
}

QString systemDeviceFor(int number)
{
    if (!isPortNumber(number))
        return {};
    return QStringLiteral("COM%1").arg(number);
}

int systemNumberFor(const QString &device)
{
    static const QRegularExpression com(QStringLiteral("^COM([1-9]\\d{0,3})$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = com.match(device);
    return match.hasMatch() ? match.captured(1).toInt() : 0;
}

QString stableNameFor(const QString &)
{
    // COM numbers are what Windows keeps per adapter already.
    return {};
}

} // namespace PortLocator
