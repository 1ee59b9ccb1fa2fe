#include "PortLocator.h"

#include <QRegularExpression>

namespace PortLocator {

QString systemDeviceFor(int number)
{
    if (number < 1)
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
