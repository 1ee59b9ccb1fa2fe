#include "FakeSerialPort.h"

#include "Cp932.h"

bool FakeSerialPort::open()
{
    if (open_) {
        error_ = QStringLiteral("already open");
        return false;
    }
    if (device_.isEmpty() && !existing_.contains(number_)) {
        error_ = QStringLiteral("no such port");
        return false;
    }
    if (busy_) {
        error_ = QStringLiteral("port in use");
        return false;
    }
    open_ = true;
    decoder_.reset();
    ++opens_;
    return true;
}

void FakeSerialPort::close()
{
    if (!open_)
        return;
    open_ = false;
    ++closes_;
}

SerialPort::Output FakeSerialPort::output(const QString &text)
{
    if (!open_)
        return Output::Closed;
    if (refusing_)
        return Output::Refused;
    written_ += Cp932::encode(text);
    return Output::Taken;
}

QString FakeSerialPort::input()
{
    if (!open_)
        return {};
    const QByteArray bytes = std::exchange(pending_, {});
    return decoder_.decode(bytes);
}

void FakeSerialPort::loseDevice()
{
    if (!open_)
        return;
    close();
    error_ = QStringLiteral("device lost");
    emit lost(error_);
}
