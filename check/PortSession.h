#pragma once

#include <QObject>
#include <QString>

class SerialPort;

// The port from open to close: opened by number or by device with a
// settings text ("9600,N,8,1") and a handshaking code, closed on request, or
// lost when the device goes away, which is reported once.
class PortSession : public QObject {
    Q_OBJECT
public:
    explicit PortSession(SerialPort &port, QObject *parent = nullptr);

    // Each step stops at the first failure, keeping what was set before it:
    // the number, the settings, the handshaking code (0 to 3), the open.
    bool open(int number, const QString &settings, int handshaking);
    // The same with a device path (or COMn) in place of a number.
    bool openDevice(const QString &device, const QString &settings, int handshaking);
    void close();

    bool isOpen() const;
    int portNumber() const;
    // Why the last open failed, naming the port, or why the port was lost.
    QString errorString() const;
    SerialPort &port() { return port_; }

signals:
    void opened();
    void closed();
    // The open port went away (a USB adapter pulled out) and is closed.
    void lost(int portNumber, const QString &reason);

private:
    bool applyAndOpen(const QString &settings, int handshaking);

    SerialPort &port_;
    QString error_;
};
