#include "PortLocator.h"

namespace PortLocator {

QString systemDeviceFor(int number)
{
    if (number < 1)
        return {};
    // The system counts its ports from 0, the window from 1.
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
}

} // namespace PortLocator
