#pragma once

#include "LineSettings.h"

#include <QString>
#include <QtGlobal>

// What QSerialPort cannot do itself, done through the operating system on an
// open port's handle (termios on Unix, the DCB on Windows).
namespace SerialTuning {

// Turns on XON/XOFF in both directions in addition to the RTS/CTS flow
// control already set, for handshaking code 3.
bool addSoftwareFlowControl(qintptr handle, QString *error);

// Reads the device's settings back and checks that it really took `line` and
// the handshaking code (QSerialPort's getters only report what was asked).
// On a mismatch returns false and says which setting in `why`.
bool verify(qintptr handle, const LineSettings &line, int handshaking, QString *why);

// Whether another program holds `device` for itself (TIOCEXCL on Unix), to be
// asked before opening: the serial layer's lock file only stops programs that
// take it too, and root passes TIOCEXCL unchallenged. Windows' own exclusive
// opens do this job there, so it is always false on Windows.
bool isHeldExclusively(const QString &device);

// Writes what the system takes at once of `bytes` to the open port `handle`,
// without waiting, and returns how many bytes it took (0 when it took none
// or failed: the caller hands the rest to QSerialPort, which reports a
// failure in its own way). On Windows, where QSerialPort's handle is opened
// for overlapped I/O, it writes nothing and returns 0.
qint64 writeAvailable(qintptr handle, const char *bytes, qint64 size);

} // namespace SerialTuning
