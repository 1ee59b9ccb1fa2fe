#pragma once

#include "LineSettings.h"

#include <QObject>
#include <QString>

class SerialPort;

// The port from open to close: opened by number or by device with its line
// settings, closed on request, or lost when the device goes away, which is
// reported once.
class PortSession : public QObject {
    Q_OBJECT
public:
    explicit PortSession(SerialPort &port, QObject *parent = nullptr);

    // The port keeps the number and the settings also when the open fails.
    bool open(int number, const LineSettings &line);
    // The same with a device path (or COMn) in place of a number.
    bool openDevice(const QString &device, const LineSettings &line);
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
    bool applyAndOpen(const LineSettings &line);

    SerialPort &port_;
};
