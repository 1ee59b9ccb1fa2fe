#include "PortLocator.h"

namespace PortLocator {

QString systemDeviceFor(int number)
{
    if (number < 1)
        return {};
    return QStringLiteral("COM%1").arg(number);
}

} // namespace PortLocator
