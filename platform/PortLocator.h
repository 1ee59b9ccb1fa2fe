#pragma once

#include <QList>
#include <QString>

// Maps port numbers to devices. A per-user port folder
// (<config>/commcheck/ports, <config> being XDG_CONFIG_HOME or ~/.config on
// Linux) may hold an entry "comN": a symbolic link to the device (such as
// /dev/serial/by-id/usb-...), or a file whose first line names it. Port N is
// then that device, resolved to its real path so that the lock taken on it
// matches other programs'. Without an entry, port N is the system's own N-th
// port: /dev/ttyS(N-1) on Linux, COMN on Windows. Numbers below 1 name no port.
namespace PortLocator {

// The port folder (it need not exist).
QString portFolder();

// The device for port `number`, or an empty string when it names none.
QString deviceFor(int number);

// The system's own device for `number` (>= 1), ignoring the port folder.
QString systemDeviceFor(int number);

// The number the system's own numbering gives `device`, or 0 when it gives
// none: systemDeviceFor(systemNumberFor(d)) == d for such a device.
int systemNumberFor(const QString &device);

// The numbers the port folder has an entry for, ascending.
QList<int> folderNumbers();

// A name for `device` that stays when it is plugged in elsewhere (on Linux
// its link in /dev/serial/by-id), or an empty string.
QString stableNameFor(const QString &device);

} // namespace PortLocator
