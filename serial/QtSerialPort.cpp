#include "QtSerialPort.h"

#include "Cp932.h"
#include "PortLocator.h"
#include "SerialTuning.h"

#include <QDeadlineTimer>

#include <algorithm>
#include <limits>
#include <thread>
#include <type_traits>

namespace {

// waitForReadyRead(0) takes in at most one system read; a few cover anything
// that arrived between two clicks without letting a chattering line hold the
// caller.
constexpr int kMaxReadsPerInput = 8;

// How often drain() looks at the system's output queue: a few characters'
// time at the usual rates, and no burden on the machine.
constexpr std::chrono::milliseconds kDrainPoll{5};

// QSerialPort's handle is a descriptor on Unix and a HANDLE on Windows.
template <typename Handle> qintptr nativeHandle(Handle handle)
{
    if constexpr (std::is_pointer_v<Handle>)
        return reinterpret_cast<qintptr>(handle);
    else
        return static_cast<qintptr>(handle);
}

QSerialPort::Parity qtParity(char parity)
{
    switch (parity) {
    case 'E':
        return QSerialPort::EvenParity;
    case 'O':
        return QSerialPort::OddParity;
    case 'M':
        return QSerialPort::MarkParity;
    case 'S':
        return QSerialPort::SpaceParity;
    default:
        return QSerialPort::NoParity;
    }
}

QSerialPort::StopBits qtStopBits(LineSettings::StopBits stopBits)
{
    switch (stopBits) {
    case LineSettings::StopBits::OneAndHalf:
        return QSerialPort::OneAndHalfStop;
    case LineSettings::StopBits::Two:
        return QSerialPort::TwoStop;
    case LineSettings::StopBits::One:
        break;
    }
    return QSerialPort::OneStop;
}

// QSerialPort takes one flow control; XON/XOFF on top of RTS/CTS is added
// through SerialTuning.
QSerialPort::FlowControl qtFlowControl(const LineSettings &line)
{
    if (line.usesRtsCts())
        return QSerialPort::HardwareControl;
    if (line.usesXonXoff())
        return QSerialPort::SoftwareControl;
    return QSerialPort::NoFlowControl;
}

QString openFailure(const QSerialPort &serial, const QString &device)
{
    switch (serial.error()) {
    case QSerialPort::DeviceNotFoundError:
        return QStringLiteral("%1 does not exist").arg(device);
    case QSerialPort::PermissionError:
        // QSerialPort says this both for a lock file held by another program
        // and for missing access rights; its own text tells which.
        return QStringLiteral("%1 is in use or not accessible (%2)")
            .arg(device, serial.errorString());
    default:
        return QStringLiteral("%1 could not be opened (%2)").arg(device, serial.errorString());
    }
}

} // namespace

QtSerialPort::QtSerialPort(QObject *parent) : SerialPort(parent)
{
    connect(&serial_, &QSerialPort::errorOccurred, this, &QtSerialPort::onError);
    connect(&serial_, &QSerialPort::readyRead, this, &SerialPort::readyRead);
}

QtSerialPort::~QtSerialPort()
{
    close();
}

void QtSerialPort::setCommPort(int number)
{
    number_ = number;
}

bool QtSerialPort::open()
{
    if (state_ == State::Open) {
        error_ = QStringLiteral("port %1 is already open").arg(number_);
        return false;
    }
    releaseDevice();
    decoder_.reset();

    // A device named by a link (/dev/serial/by-id/...) is opened and locked
    // as the device it leads to, like one found through the port folder.
    QString why;
    const QString device = devicePath_.isEmpty() ? PortLocator::deviceFor(number_)
                                                 : PortLocator::deviceForPath(devicePath_, &why);
    if (device.isEmpty()) {
        error_ =
            devicePath_.isEmpty() ? QStringLiteral("port %1 names no device").arg(number_) : why;
        return false;
    }
    // Before QSerialPort opens it, which sets the line up at once: a device
    // another program holds keeps that program's settings.
    if (!lock_.take(device, &why)) {
        error_ = why;
        return false;
    }

    device_ = device;
    serial_.setPortName(device);
    serial_.setReadBufferSize(readBufferLimit_);
    if (!serial_.open(QIODevice::ReadWrite)) {
        error_ = openFailure(serial_, device);
        lock_.release();
        return false;
    }
    SerialTuning::dropExclusiveMode(nativeHandle(serial_.handle()));

    if (!configure(&why)) {
        serial_.close();
        lock_.release();
        error_ = QStringLiteral("%1 refused the settings %2 with handshaking %3: %4")
                     .arg(device, line_.toString())
                     .arg(int(line_.flowControl))
                     .arg(why);
        return false;
    }

    state_ = State::Open;
    ++opens_;
    error_.clear();
    return true;
}

bool QtSerialPort::configure(QString *why)
{
    if (!serial_.setBaudRate(line_.baudRate)) {
        *why = QStringLiteral("the device did not take %1 baud (%2)")
                   .arg(line_.baudRate)
                   .arg(serial_.errorString());
        return false;
    }
    if (!serial_.setDataBits(QSerialPort::DataBits(line_.dataBits))) {
        *why = QStringLiteral("the device did not take %1 data bits (%2)")
                   .arg(line_.dataBits)
                   .arg(serial_.errorString());
        return false;
    }
    if (!serial_.setParity(qtParity(line_.parity))) {
        *why = QStringLiteral("the device did not take parity %1 (%2)")
                   .arg(QString(QLatin1Char(line_.parity)), serial_.errorString());
        return false;
    }
    if (!serial_.setStopBits(qtStopBits(line_.stopBits))) {
        *why =
            QStringLiteral("the device did not take the stop bits (%1)").arg(serial_.errorString());
        return false;
    }
    if (!serial_.setFlowControl(qtFlowControl(line_))) {
        *why = QStringLiteral("the device did not take the flow control (%1)")
                   .arg(serial_.errorString());
        return false;
    }
    const qintptr handle = nativeHandle(serial_.handle());
    if (line_.flowControl == LineSettings::FlowControl::RtsCtsXonXoff &&
        !SerialTuning::addSoftwareFlowControl(handle, why))
        return false;
    // QSerialPort's setters succeed for some settings the device quietly
    // ignores (a pseudo-terminal keeps 8 data bits and no parity whatever it
    // is told), so only the device's own account counts.
    return SerialTuning::verify(handle, line_, why);
}

void QtSerialPort::close()
{
    state_ = State::Closed;
    releaseDevice();
    decoder_.reset();
}

void QtSerialPort::releaseDevice()
{
    releasePending_ = false;
    if (serial_.isOpen())
        serial_.close();
    lock_.release();
}

SerialPort::Output QtSerialPort::output(const QString &text)
{
    if (state_ != State::Open)
        return Output::Closed;
    // Decided before anything is sent: a text goes out whole or not at all.
    // A text that might not fit is measured before it is encoded, so that a
    // large one refused costs no more than it must.
    const qint64 waiting = serial_.bytesToWrite();
    const qint64 room = std::max<qint64>(writeBufferLimit_ - waiting, 0);
    if (2 * text.size() > room && Cp932::encodedSize(text) > room)
        return Output::Refused;
    const QByteArray bytes = Cp932::encode(text);
    if (bytes.isEmpty())
        return Output::Taken;
    // Straight to the device while nothing waits in QSerialPort's buffer:
    // one system call, where QSerialPort's own way costs its write notifier,
    // a wait and a wake-up of the event loop for every text sent.
    qint64 sent = 0;
    if (waiting == 0)
        sent = SerialTuning::writeAvailable(nativeHandle(serial_.handle()), bytes.constData(),
                                            bytes.size());
    // What the system did not take waits in QSerialPort's buffer, whose
    // notifier hands it on as the line frees up. Waiting for that here would
    // freeze the window for as long as the line is held.
    if (sent < bytes.size()) {
        serial_.write(bytes.constData() + sent, bytes.size() - sent);
        // One look without waiting, so that a device that is gone (an
        // adapter pulled out) shows at the send that finds it.
        serial_.waitForBytesWritten(0);
    }
    return Output::Taken;
}

qint64 QtSerialPort::drain(std::chrono::milliseconds limit)
{
    if (state_ != State::Open)
        return -1;
    const QDeadlineTimer deadline(limit);
    auto pause = [&deadline] {
        std::this_thread::sleep_for(
            std::min<std::chrono::nanoseconds>(kDrainPoll, deadline.remainingTimeAsDuration()));
    };
    // First what waits in QSerialPort's buffer, handed to the system as fast
    // as it takes it. A failure found on the way (the device gone) closes
    // the port through onError.
    while (state_ == State::Open && serial_.bytesToWrite() > 0) {
        const qint64 left = deadline.remainingTime();
        if (left <= 0)
            break;
        const qint64 before = serial_.bytesToWrite();
        const int wait = int(std::min<qint64>(left, std::numeric_limits<int>::max()));
        // A false return that moved nothing (a full read buffer makes
        // QSerialPort give up at once) must not spin until the deadline.
        if (!serial_.waitForBytesWritten(wait) && serial_.bytesToWrite() == before &&
            state_ == State::Open)
            pause();
    }
    if (state_ != State::Open)
        return -1;
    const qintptr handle = nativeHandle(serial_.handle());
    // Bytes given up on that the system holds are dropped there: a line
    // held by flow control would otherwise send them after the caller was
    // told they were not sent, or keep close() waiting for them. Only then,
    // as a pseudo-terminal's flush would also drop bytes that already
    // reached its far side; QSerialPort's own buffer goes at close().
    auto giveUp = [this](qint64 queued) {
        const qint64 unsent = serial_.bytesToWrite() + std::max<qint64>(queued, 0);
        if (queued > 0)
            serial_.clear(QSerialPort::Output);
        return unsent;
    };
    if (serial_.bytesToWrite() > 0)
        return giveUp(SerialTuning::queuedOutput(handle));

    // Then the system's queue, which the line empties at its own speed.
    for (;;) {
        const qint64 queued = SerialTuning::queuedOutput(handle);
        if (queued < 0) {
            // The system cannot tell: either the driver keeps no count, and
            // what it took counts as gone, or the device failed, which a look
            // for input shows (QSerialPort reads a hung-up device's end).
            serial_.waitForReadyRead(0);
            return state_ == State::Open ? 0 : -1;
        }
        if (queued == 0)
            return 0;
        if (deadline.hasExpired())
            return giveUp(queued);
        pause();
    }
}

void QtSerialPort::setWriteBufferLimit(qint64 bytes)
{
    writeBufferLimit_ = std::max<qint64>(bytes, 1);
}

void QtSerialPort::setReadBufferLimit(qint64 bytes)
{
    readBufferLimit_ = std::max<qint64>(bytes, 1);
    serial_.setReadBufferSize(readBufferLimit_);
}

QByteArray QtSerialPort::takeReceived()
{
    if (state_ != State::Open)
        return {};
    // The window asks from clicks and timer ticks, which may come before the
    // event loop has let QSerialPort's read notifier take in what the system
    // already holds; take it in now, without waiting for more.
    for (int i = 0; i < kMaxReadsPerInput && state_ == State::Open; ++i) {
        if (!serial_.waitForReadyRead(0))
            break;
    }
    // Bytes that came before a loss found just now are still worth showing.
    // Most polls find nothing, and readAll() makes a buffer even then.
    if (serial_.bytesAvailable() == 0)
        return {};
    return serial_.readAll();
}

QString QtSerialPort::input()
{
    return decoder_.decode(takeReceived());
}

QString QtSerialPort::escapedInput()
{
    return decoder_.decodeEscaped(takeReceived());
}

void QtSerialPort::onError(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
        break;
    default:
        // NoError comes with every cleared error and TimeoutError with every
        // empty look from input(); failures during open() are handled there.
        return;
    }
    // After an unplug QSerialPort repeats the error for as long as the port
    // stays open; only the first one counts.
    if (state_ != State::Open)
        return;
    // QSerialPort tells a device that is gone the same way as a line that
    // takes nothing just now (XOFF from the far end or a far end that reads
    // nothing: its write got EAGAIN after the line had looked free) and as a
    // wake-up for input that an earlier read already took (its read got
    // nothing and it passes on whatever error the system gave last). Only
    // the device itself can tell them apart.
    if (!SerialTuning::deviceGone(nativeHandle(serial_.handle()))) {
        // A failed read also stopped QSerialPort's watch for input, which
        // readyRead() depends on; setting the buffer's size starts it again.
        // What waits to be sent goes on as the line frees up.
        serial_.setReadBufferSize(readBufferLimit_);
        serial_.clearError();
        return;
    }

    state_ = State::Closed;
    // QSerialPort's text for this comes from a stale errno (a hung-up device
    // reads as end of file), so it is only passed on as a detail.
    error_ = QStringLiteral("lost %1: %2 failed, the device is gone or broken (system: %3)")
                 .arg(device_,
                      error == QSerialPort::WriteError ? QStringLiteral("writing")
                                                       : QStringLiteral("reading"),
                      serial_.errorString());

    // This runs inside QSerialPort (its notifier, or the write or read that
    // output() and input() asked of it), which goes on using the descriptor
    // after emitting; the close and the report wait for the event loop.
    releasePending_ = true;
    const quint64 lostOpen = opens_;
    const QString reason = error_;
    QMetaObject::invokeMethod(
        this,
        [this, lostOpen, reason] {
            if (releasePending_)
                releaseDevice();
            // A port opened again meanwhile is a different story: telling the
            // window now would make it drop a good port.
            if (lostOpen == opens_)
                emit lost(reason);
        },
        Qt::QueuedConnection);
}
