#include "ReceiveRun.h"

#include "Console.h"
#include "ExitCode.h"
#include "PortSession.h"
#include "SerialPort.h"

ReceiveRun::ReceiveRun(const CliOptions &options, PortSession &session, std::FILE *out,
                       std::FILE *err, QObject *parent)
    : QObject(parent), options_(options), session_(session), out_(out), err_(err)
{
    connect(&session_.port(), &SerialPort::readyRead, this, &ReceiveRun::printArrived);
    connect(&session_, &PortSession::lost, this, [this](int, const QString &reason) {
        if (stopping_)
            return;
        portLost_ = true;
        lostReason_ = reason;
        stop();
    });
    forTimer_.setSingleShot(true);
    forTimer_.setTimerType(Qt::PreciseTimer);
    connect(&forTimer_, &QTimer::timeout, this, &ReceiveRun::stop);
    outputRetry_.setSingleShot(true);
    connect(&outputRetry_, &QTimer::timeout, this, [this] {
        writeWaiting();
        // Caught up: what arrived meanwhile waited in the port.
        if (waiting_.isEmpty())
            printArrived();
    });
}

void ReceiveRun::start()
{
    if (options_.receiveFor)
        forTimer_.start(*options_.receiveFor);
    printArrived();
}

void ReceiveRun::printArrived()
{
    // While the output is behind, what arrives is left in the port.
    if (stopping_ || !waiting_.isEmpty())
        return;
    const QString arrived = session_.port().escapedInput();
    if (arrived.isEmpty())
        return;
    waiting_ = arrived.toUtf8();
    printed_ = true;
    writeWaiting();
}

void ReceiveRun::writeWaiting()
{
    const qint64 written = Console::writeBytes(out_, waiting_, std::chrono::milliseconds(0));
    if (written < 0) {
        // Nobody reads any more (the reader of the pipe ended, the terminal
        // hung up): nothing more can be shown.
        outputGone_ = true;
        waiting_.clear();
        stop();
        return;
    }
    waiting_.remove(0, written);
    if (!waiting_.isEmpty())
        outputRetry_.start(kOutputRetry);
}

void ReceiveRun::stop()
{
    if (stopping_)
        return;
    // What already came in is still shown, then the port is left alone.
    if (!outputGone_) {
        const QString arrived = session_.port().escapedInput();
        if (!arrived.isEmpty()) {
            waiting_ += arrived.toUtf8();
            printed_ = true;
        }
    }
    stopping_ = true;
    QMetaObject::invokeMethod(this, &ReceiveRun::finish, Qt::QueuedConnection);
}

void ReceiveRun::finish()
{
    forTimer_.stop();
    outputRetry_.stop();
    session_.close();
    if (printed_ && !outputGone_)
        Console::writeBytes(out_, waiting_ + '\n', Console::kStallLimit);
    if (portLost_)
        Console::write(
            err_,
            QStringLiteral("commcheck-cli: port %1 lost: %2\n").arg(options_.port, lostReason_));
    emit finished(portLost_ ? ExitPortLost : ExitOk);
}
