#pragma once

#include "NetworkPort.h"
#include "QtSerialPort.h"
#include "SerialPort.h"

// The line a port number or a port name leads to, whichever kind it is: a
// serial device of this machine, or a line behind a device server when the
// name (or the first line of the number's port folder entry) is an
// rfc2217:// or socket:// address. The kind is chosen anew at each open; the
// window and the command line see one port.
class LinePort : public SerialPort {
    Q_OBJECT
public:
    explicit LinePort(QObject *parent = nullptr);
    ~LinePort() override;

    void setCommPort(int number) override { number_ = number; }
    int commPort() const override { return number_; }
    void setDevice(const QString &path) override { name_ = path; }

    void setSettings(const LineSettings &line) override { line_ = line; }
    LineSettings settings() const override { return line_; }

    bool open() override;
    void close() override { active_->close(); }
    bool isOpen() const override { return active_->isOpen(); }

    Output output(const QString &text) override { return active_->output(text); }
    qint64 drain(std::chrono::milliseconds limit) override { return active_->drain(limit); }
    QString input() override { return active_->input(); }
    QString escapedInput() override { return active_->escapedInput(); }

    QString errorString() const override { return active_->errorString(); }
    QString note() const override { return active_->note(); }

    // The two kinds, for settings only one of them has.
    QtSerialPort &local() { return local_; }
    NetworkPort &network() { return network_; }

private:
    QtSerialPort local_;
    NetworkPort network_;
    SerialPort *active_ = &local_; // the kind last opened
    int number_ = 1;
    QString name_; // given instead of the number, when not empty
    LineSettings line_;
};
