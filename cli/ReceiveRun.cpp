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
        // What came before the loss is shown first, on its own line.
        if (printed_)
            Console::write(out_, QStringLiteral("\n"));
        printed_ = false;
        Console::write(
            err_, QStringLiteral("commcheck-cli: port %1 lost: %2\n").arg(options_.port, reason));
        stop();
    });
    forTimer_.setSingleShot(true);
    forTimer_.setTimerType(Qt::PreciseTimer);
    connect(&forTimer_, &QTimer::timeout, this, &ReceiveRun::stop);
}

void ReceiveRun::start()
{
    if (options_.receiveFor)
        forTimer_.start(*options_.receiveFor);
    printArrived();
}

void ReceiveRun::printArrived()
{
    if (stopping_)
        return;
    const QString arrived = session_.port().escapedInput();
    if (arrived.isEmpty())
        return;
    Console::write(out_, arrived);
    printed_ = true;
}

void ReceiveRun::stop()
{
    if (stopping_)
        return;
    // What already came in is still shown, then the port is left alone.
    printArrived();
    stopping_ = true;
    QMetaObject::invokeMethod(this, &ReceiveRun::finish, Qt::QueuedConnection);
}

void ReceiveRun::finish()
{
    forTimer_.stop();
    session_.close();
    if (printed_)
        Console::write(out_, QStringLiteral("\n"));
    emit finished(portLost_ ? ExitPortLost : ExitOk);
}
