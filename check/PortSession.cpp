#include "PortSession.h"

#include "SerialPort.h"

PortSession::PortSession(SerialPort &port, QObject *parent) : QObject(parent), port_(port)
{
    connect(&port_, &SerialPort::lost, this,
            [this](const QString &reason) { emit lost(port_.commPort(), reason); });
}

bool PortSession::open(int number, const QString &settings, int handshaking)
{
    port_.setDevice(QString());
    port_.setCommPort(number);
    return applyAndOpen(settings, handshaking);
}

bool PortSession::openDevice(const QString &device, const QString &settings, int handshaking)
{
    port_.setDevice(device);
    return applyAndOpen(settings, handshaking);
}

bool PortSession::applyAndOpen(const QString &settings, int handshaking)
{
    if (!port_.setSettings(settings)) {
        error_ = QStringLiteral("line settings \"%1\" are not baud,parity,data bits,stop bits")
                     .arg(settings);
        return false;
    }
    if (!port_.setHandshaking(handshaking)) {
        error_ = QStringLiteral("handshaking %1 is not one of 0 to 3").arg(handshaking);
        return false;
    }
    if (!port_.open()) {
        error_ = port_.errorString();
        return false;
    }
    error_.clear();
    emit opened();
    return true;
}

void PortSession::close()
{
    port_.close();
    emit closed();
}

bool PortSession::isOpen() const
{
    return port_.isOpen();
}

int PortSession::portNumber() const
{
    return port_.commPort();
}

QString PortSession::errorString() const
{
    return error_.isEmpty() ? port_.errorString() : error_;
}
