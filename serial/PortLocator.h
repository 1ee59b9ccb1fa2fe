#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// Maps port numbers to devices. A per-user port folder
// (<config>/commcheck/ports, <config> being XDG_CONFIG_HOME or ~/.config on
// Linux) may hold an entry "comN": a symbolic link to the device (such as
// /dev/serial/by-id/usb-...), or a file whose first line names it. Port N is
// then that device, resolved to its real path so that the lock taken on it
// matches other programs'. An entry file whose first line is an rfc2217://
// or socket:// address names a line behind a device server. Without an
// entry, port N is the system's own N-th port: /dev/ttyS(N-1) on Linux, COMN
// on Windows. Port numbers run from 1 to 32767, what the port number box
// takes (a 16-bit signed number above 0).
namespace PortLocator {

constexpr int kFirstPort = 1;
constexpr int kLastPort = 32767;

// Whether `number` can name a port at all.
bool isPortNumber(int number);

// The port folder (it need not exist).
QString portFolder();

// The device for port `number` (or the network address its entry gives), or
// an empty string when it names none.
QString deviceFor(int number);

// The device an entry file of `portFolder` names with `text`, its first line:
// a relative path is taken from the port folder (on Windows a bare device
// name such as COM3 stays as it is).
QString entryDevice(const QString &portFolder, const QString &text);

// Keeps the program's arguments as the system gave them, before Qt reads
// them as text and turns every byte that is not UTF-8 into U+FFFD: a device
// path given with such bytes is opened as given. main() calls it first.
void keepCommandLine(int argc, const char *const argv[]);

// The device `path` names, given on the command line instead of a number:
// links resolved to the real device, as for the port folder's entries; a
// path to nothing is passed on as given, for the open to fail as missing.
// A path with U+FFFD is looked up among the kept arguments for the bytes it
// was given as. Empty, with the reason in `why`, when those bytes cannot be
// told or the real device's name is not text the serial layer can open.
QString deviceForPath(const QString &path, QString *why);

// The first `most` bytes of the entry file at `path`, or nothing when it is
// not a regular file (a folder, a FIFO, a device) or cannot be read. Never
// waits: a FIFO put in its place between a look and the open is not read.
std::optional<QByteArray> entryFileHead(const QString &path, qint64 most);

// The system's own device for `number`, ignoring the port folder.
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
