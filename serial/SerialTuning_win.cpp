#include "SerialTuning.h"

#include <qt_windows.h>

namespace {

QString systemError()
{
    return qt_error_string(int(::GetLastError()));
}

bool readState(HANDLE handle, DCB *dcb, QString *why)
{
    ::ZeroMemory(dcb, sizeof(DCB));
    dcb->DCBlength = sizeof(DCB);
    if (!::GetCommState(handle, dcb)) {
        *why = QStringLiteral("cannot read the port settings: %1").arg(systemError());
        return false;
    }
    return true;
}

BYTE parityCode(char parity)
{
    switch (parity) {
    case 'E':
        return EVENPARITY;
    case 'O':
        return ODDPARITY;
    case 'M':
        return MARKPARITY;
    case 'S':
        return SPACEPARITY;
    default:
        return NOPARITY;
    }
}

BYTE stopBitsCode(LineSettings::StopBits stopBits)
{
    switch (stopBits) {
    case LineSettings::StopBits::OneAndHalf:
        return ONE5STOPBITS;
    case LineSettings::StopBits::Two:
        return TWOSTOPBITS;
    case LineSettings::StopBits::One:
        break;
    }
    return ONESTOPBIT;
}

} // namespace

namespace SerialTuning {

bool addSoftwareFlowControl(qintptr handle, QString *error)
{
    const HANDLE port = reinterpret_cast<HANDLE>(handle);
    DCB dcb;
    if (!readState(port, &dcb, error))
        return false;
    dcb.fOutX = TRUE;
    dcb.fInX = TRUE;
    // SetCommState refuses equal XON and XOFF characters; a driver that never
    // had software flow control on may hold zeros in both.
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    if (!::SetCommState(port, &dcb)) {
        *error = QStringLiteral("cannot turn XON/XOFF on: %1").arg(systemError());
        return false;
    }
    return true;
}

bool verify(qintptr handle, const LineSettings &line, QString *why)
{
    DCB dcb;
    if (!readState(reinterpret_cast<HANDLE>(handle), &dcb, why))
        return false;

    if (dcb.BaudRate != DWORD(line.baudRate)) {
        *why = QStringLiteral("the device runs at %1 baud instead of %2")
                   .arg(qulonglong(dcb.BaudRate))
                   .arg(line.baudRate);
        return false;
    }
    if (dcb.ByteSize != line.dataBits) {
        *why = QStringLiteral("the device did not take %1 data bits").arg(line.dataBits);
        return false;
    }
    if (dcb.Parity != parityCode(line.parity)) {
        *why = QStringLiteral("the device did not take parity %1").arg(QLatin1Char(line.parity));
        return false;
    }
    if (dcb.StopBits != stopBitsCode(line.stopBits)) {
        *why = QStringLiteral("the device did not take the stop bits asked for");
        return false;
    }

    const bool wantHardware = line.usesRtsCts();
    const bool wantSoftware = line.usesXonXoff();
    const bool hardwareOn = dcb.fOutxCtsFlow && dcb.fRtsControl == RTS_CONTROL_HANDSHAKE;
    const bool hardwareOff = !dcb.fOutxCtsFlow && dcb.fRtsControl != RTS_CONTROL_HANDSHAKE;
    if (wantHardware ? !hardwareOn : !hardwareOff) {
        *why = wantHardware ? QStringLiteral("the device did not turn RTS/CTS flow control on")
                            : QStringLiteral("the device kept RTS/CTS flow control on");
        return false;
    }
    const bool softwareOn = dcb.fOutX && dcb.fInX;
    const bool softwareOff = !dcb.fOutX && !dcb.fInX;
    if (wantSoftware ? !softwareOn : !softwareOff) {
        *why = wantSoftware ? QStringLiteral("the device did not turn XON/XOFF flow control on")
                            : QStringLiteral("the device kept XON/XOFF flow control on");
        return false;
    }
    return true;
}

void dropExclusiveMode(qintptr) {}

qint64 writeAvailable(qintptr, const char *, qint64)
{
    return 0;
}

qint64 queuedOutput(qintptr handle)
{
    // The same call also resets the port's error flags; only the count of
    // bytes waiting to go out is wanted here.
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(reinterpret_cast<HANDLE>(handle), &errors, &status))
        return -1;
    return qint64(status.cbOutQue);
}

bool deviceGone(qintptr)
{
    // QSerialPort writes overlapped here: a line held by flow control or a
    // full queue keeps the write pending, and a read with nothing to take
    // waits, so every failure it reports comes from the device.
    return true;
}

} // namespace SerialTuning
