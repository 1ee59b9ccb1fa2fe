#pragma once

#include "LineSettings.h"

#include <QString>
#include <QtGlobal>

// What QSerialPort cannot do itself, done through the operating system on an
// open port's handle (termios on Unix, the DCB on Windows).
namespace SerialTuning {

// Turns on XON/XOFF in both directions in addition to the RTS/CTS flow
// control already set, for LineSettings::FlowControl::RtsCtsXonXoff.
bool addSoftwareFlowControl(qintptr handle, QString *error);

// Reads the device's settings back and checks that it really took `line`,
// its flow control included (QSerialPort's getters only report what was
// asked). On a mismatch returns false and says which setting in `why`.
bool verify(qintptr handle, const LineSettings &line, QString *why);

// Lets the device be opened again by others than the handle's holder: the
// exclusive mode (TIOCEXCL) QSerialPort puts an open port in stays on a
// pseudo-terminal after its holder is killed, for as long as the far side is
// open, and keeps every later program out. DeviceLock keeps cooperating
// programs out instead, with a lock that dies with its holder. Nothing to do
// on Windows.
void dropExclusiveMode(qintptr handle);

// Writes what the system takes at once of `bytes` to the open port `handle`,
// without waiting, and returns how many bytes it took (0 when it took none
// or failed: the caller hands the rest to QSerialPort, which reports a
// failure in its own way). On Windows, where QSerialPort's handle is opened
// for overlapped I/O, it writes nothing and returns 0.
qint64 writeAvailable(qintptr handle, const char *bytes, qint64 size);

// How many bytes the system still holds for the open port `handle` that have
// not gone out on the line (the driver's output queue: TIOCOUTQ on Unix,
// ClearCommError's cbOutQue on Windows); -1 when the system cannot tell, a
// device that failed included. A pseudo-terminal hands its bytes straight to
// the far side and always has 0.
qint64 queuedOutput(qintptr handle);

// Whether the device behind the open port `handle` is gone or broken (an
// adapter pulled out, the far side of a pseudo-terminal closed) rather than
// merely holding the line or having nothing to read, as QSerialPort reports
// all of these alike. On Unix a device that hung up says so to poll() and
// refuses its settings, and a last system error of EIO, ENXIO, ENODEV or
// EBADF counts too, so this is to be asked right after the failure, before
// another system call; EAGAIN, EINTR and a read of nothing on a live device
// are not a loss. On Windows, where a held line makes a write wait instead of
// fail, every failure QSerialPort reports is the device's.
bool deviceGone(qintptr handle);

} // namespace SerialTuning
