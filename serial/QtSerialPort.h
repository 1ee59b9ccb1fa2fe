#pragma once

#include "Cp932Decoder.h"
#include "DeviceLock.h"
#include "LargePages.h"
#include "LineSettings.h"
#include "SerialPort.h"

#include <QSerialPort>

// The real serial line, over QSerialPort. Settings QSerialPort cannot make
// (RTS/CTS together with XON/XOFF) and the check that the device took every
// setting go through SerialTuning.
class QtSerialPort : public SerialPort {
    Q_OBJECT
public:
    explicit QtSerialPort(QObject *parent = nullptr);
    ~QtSerialPort() override;

    void setCommPort(int number) override;
    int commPort() const override { return number_; }
    void setDevice(const QString &path) override { devicePath_ = path; }

    void setSettings(const LineSettings &line) override { line_ = line; }
    LineSettings settings() const override { return line_; }

    bool open() override;
    void close() override;
    bool isOpen() const override { return state_ == State::Open; }

    Output output(const QString &text) override;
    qint64 drain(std::chrono::milliseconds limit) override;
    QString input() override;
    QString escapedInput() override;

    QString errorString() const override { return error_; }

    // The most received bytes kept between two reads. Beyond it the port
    // leaves further bytes to the system's own buffer (and the line's flow
    // control), as a UART does, so an open port nobody reads stays small.
    static constexpr qint64 kReadBufferLimit = 8 * 1024 * 1024;
    void setReadBufferLimit(qint64 bytes);

    // The most bytes kept waiting to be sent: a stalled line (flow control
    // holding it, a far end that reads nothing) makes sends queue up here,
    // and a send that would go beyond it is refused.
    static constexpr qint64 kWriteBufferLimit = 8 * 1024 * 1024;
    void setWriteBufferLimit(qint64 bytes);

private:
    enum class State { Closed, Open };

    bool configure(QString *why);
    void onError(QSerialPort::SerialPortError error);
    void releaseDevice();
    // What the system has received since the last read; empty when closed.
    QByteArray takeReceived();

    DeviceLock lock_; // taken before serial_ opens, released after it closes
    QSerialPort serial_;
    Cp932Decoder decoder_{LargePages::prefer};
    State state_ = State::Closed;
    // A lost port stays open inside QSerialPort until the event loop comes
    // round (see onError); open() and close() finish that close at once.
    bool releasePending_ = false;
    quint64 opens_ = 0; // successful opens so far; tells a stale loss report
    int number_ = 1;
    QString devicePath_; // given instead of the number, when not empty
    LineSettings line_;
    qint64 readBufferLimit_ = kReadBufferLimit;
    qint64 writeBufferLimit_ = kWriteBufferLimit;
    QString device_; // the device last opened, for messages
    QString error_;
};
