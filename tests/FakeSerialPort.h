#pragma once

#include "Cp932Decoder.h"
#include "SerialPort.h"

#include <QByteArray>
#include <QSet>

// A serial port for tests: records what was written, delivers scripted bytes,
// and fails or loses the device on request.
class FakeSerialPort : public SerialPort {
    Q_OBJECT
public:
    using SerialPort::SerialPort;

    void setCommPort(int number) override { number_ = number; }
    int commPort() const override { return number_; }
    void setDevice(const QString &path) override { device_ = path; }
    QString device() const { return device_; }
    void setSettings(const LineSettings &line) override { line_ = line; }
    LineSettings settings() const override { return line_; }
    bool open() override;
    void close() override;
    bool isOpen() const override { return open_; }
    Output output(const QString &text) override;
    // What output() takes is on the line at once: nothing is ever left.
    qint64 drain(std::chrono::milliseconds) override { return open_ ? 0 : -1; }
    QString input() override;
    QString errorString() const override { return error_; }

    // Port numbers that name an existing device (default: 1 and 2).
    void setExistingPorts(QSet<int> numbers) { existing_ = std::move(numbers); }
    // Makes the next opens fail as if the device were in use.
    void setBusy(bool busy) { busy_ = busy; }
    // Bytes arriving from the far end, read by the next input().
    void feed(const QByteArray &bytes)
    {
        pending_ += bytes;
        emit readyRead();
    }
    // Everything written so far, as bytes on the line.
    QByteArray written() const { return written_; }
    void clearWritten() { written_.clear(); }
    // Makes the next outputs refused, as a port with too much waiting unsent.
    void setRefusing(bool refusing) { refusing_ = refusing; }
    // Simulates the device disappearing while open.
    void loseDevice();

    int opens() const { return opens_; }
    int closes() const { return closes_; }

private:
    int number_ = 1;
    QString device_;
    LineSettings line_;
    bool open_ = false;
    bool busy_ = false;
    bool refusing_ = false;
    QSet<int> existing_{1, 2};
    QByteArray pending_;
    QByteArray written_;
    Cp932Decoder decoder_;
    QString error_;
    int opens_ = 0;
    int closes_ = 0;
};
