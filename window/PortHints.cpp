#include "PortHints.h"

#include "PortSurvey.h"

#include <QDir>

namespace {

QString line(const QString &head, const QString &detail)
{
    return detail.isEmpty() ? QStringLiteral("  %1").arg(head)
                            : QStringLiteral("  %1  %2").arg(head, detail);
}

// How to give `device` port number N, in the folder's own terms.
QString mappingHint(const SerialDevice &device, const QString &portFolder)
{
    const QString target = device.stableName.isEmpty() ? device.path : device.stableName;
    const QString entry = QDir::toNativeSeparators(portFolder + QStringLiteral("/comN"));
#ifdef Q_OS_WIN
    return QStringLiteral("    %1 に一行 %2 と書く (write it into that file)").arg(entry, target);
#else
    return QStringLiteral("    ln -s %1 %2").arg(target, entry);
#endif
}

} // namespace

namespace PortHints {

QString text(const PortSurvey &survey, const QString &portFolder)
{
    QStringList lines;
    if (survey.named.isEmpty()) {
        lines << QStringLiteral("番号で開けるポートはありません (no port number names a device)");
    } else {
        lines << QStringLiteral("ポート番号 (port numbers):");
        for (const PortSurvey::Named &port : survey.named) {
            QString detail = port.description;
            if (port.fromFolder)
                detail = (detail.isEmpty() ? QString() : detail + QStringLiteral("  ")) +
                         QStringLiteral("[com%1]").arg(port.number);
            lines << line(QStringLiteral("%1 = %2").arg(port.number).arg(port.device), detail);
        }
    }
    if (!survey.missing.isEmpty()) {
        lines << QStringLiteral("機器が見つからない番号 (device not present):");
        for (const PortSurvey::Named &port : survey.missing) {
            const QString device =
                port.device.isEmpty() ? QStringLiteral("(no device named)") : port.device;
            lines << line(QStringLiteral("%1 -> %2").arg(port.number).arg(device), QString());
        }
    }
    if (!survey.unnamed.isEmpty()) {
        lines << QStringLiteral("番号のない機器 (devices without a number):");
        for (const SerialDevice &device : survey.unnamed) {
            QStringList detail;
            if (!device.description.isEmpty())
                detail << device.description;
            if (!device.manufacturer.isEmpty() && device.manufacturer != device.description)
                detail << device.manufacturer;
            lines << line(device.path, detail.join(QStringLiteral(", ")));
        }
        lines << QStringLiteral("番号を付けるには (to give one a number N):");
        lines << mappingHint(survey.unnamed.front(), portFolder);
    }
    lines << QStringLiteral("ポートフォルダ (port folder): %1")
                 .arg(QDir::toNativeSeparators(portFolder));
    return lines.join(u'\n');
}

} // namespace PortHints
