#include "PortSession.h"

#include "SerialPort.h"

PortSession::PortSession(SerialPort &port, QObject *parent) : QObject(parent), port_(port)
{
    connect(&port_, &SerialPort::lost, this,
            [this](const QString &reason) { emit lost(port_.commPort(), reason); });
}

bool PortSession::open(int number, const LineSettings &line)
{
    port_.setDevice(QString());
    port_.setCommPort(number);
    return applyAndOpen(line);
}

bool PortSession::openDevice(const QString &device, const LineSettings &line)
{
    port_.setDevice(device);
    return applyAndOpen(line);
}

bool PortSession::applyAndOpen(const LineSettings &line)
{
    port_.setSettings(line);
    if (!port_.open())
        return false;
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
    return port_.errorString();
}
