#include "DeviceLock.h"

DeviceLock::~DeviceLock() = default;

bool DeviceLock::take(const QString &, QString *)
{
    // The port's own open is exclusive on Windows: a COM port another
    // program holds fails to open there.
    return true;
}

void DeviceLock::release() {}
