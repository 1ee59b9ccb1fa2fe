#include "ReceiveRun.h"

#include "CliOptions.h"
#include "Console.h"
#include "ExitCode.h"
#include "PortSession.h"
#include "SerialPort.h"

ReceiveRun::ReceiveRun(const CliOptions &options, PortSession &session, std::FILE *out,
                       std::FILE *err, QObject *parent)
    : CliRun(options, session, out, err, parent)
{
    connect(&session_.port(), &SerialPort::readyRead, this, &ReceiveRun::printArrived);
    forTimer_.setSingleShot(true);
    forTimer_.setTimerType(Qt::PreciseTimer);
    connect(&forTimer_, &QTimer::timeout, this, [this] { stop(QString()); });
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
    if (ending() || !waiting_.isEmpty())
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
        stop(QString());
        return;
    }
    waiting_.remove(0, written);
    if (!waiting_.isEmpty())
        outputRetry_.start(kOutputRetry);
}

void ReceiveRun::onPortLost()
{
    // Told after what arrived before the loss (see printEnd).
    stop(QString());
}

void ReceiveRun::stop(const QString &)
{
    if (ending())
        return;
    // What already came in is still shown, then the port is left alone.
    if (!outputGone_) {
        const QString arrived = session_.port().escapedInput();
        if (!arrived.isEmpty()) {
            waiting_ += arrived.toUtf8();
            printed_ = true;
        }
    }
    endSoon();
}

void ReceiveRun::printEnd()
{
    forTimer_.stop();
    outputRetry_.stop();
    if (printed_ && !outputGone_)
        Console::writeBytes(out_, waiting_ + '\n', Console::kStallLimit);
    if (portLost())
        reportPortLoss();
}

int ReceiveRun::exitCode() const
{
    return ExitOk;
}
