#include "NetworkPort.h"

#include "Cp932.h"
#include "SocketTuning.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <limits>

namespace {

const QString kRfc2217Scheme = QStringLiteral("rfc2217");
const QString kSocketScheme = QStringLiteral("socket");

QString parityName(quint8 value)
{
    switch (value) {
    case 1:
        return QStringLiteral("N");
    case 2:
        return QStringLiteral("O");
    case 3:
        return QStringLiteral("E");
    case 4:
        return QStringLiteral("M");
    case 5:
        return QStringLiteral("S");
    }
    return QStringLiteral("code %1").arg(value);
}

QString stopBitsName(quint8 value)
{
    switch (value) {
    case 1:
        return QStringLiteral("1");
    case 2:
        return QStringLiteral("2");
    case 3:
        return QStringLiteral("1.5");
    }
    return QStringLiteral("code %1").arg(value);
}

QString flowControlName(quint8 value)
{
    switch (value) {
    case 1:
        return QStringLiteral("none");
    case 2:
        return QStringLiteral("XON/XOFF");
    case 3:
        return QStringLiteral("RTS/CTS");
    }
    return QStringLiteral("code %1").arg(value);
}

// What a setting is called in messages and how its value reads, by the
// client's command code.
QString settingName(quint8 command)
{
    switch (command) {
    case TelnetStream::SetBaudRate:
        return QStringLiteral("baud rate");
    case TelnetStream::SetDataSize:
        return QStringLiteral("data bits");
    case TelnetStream::SetParity:
        return QStringLiteral("parity");
    case TelnetStream::SetStopSize:
        return QStringLiteral("stop bits");
    case TelnetStream::SetControl:
        return QStringLiteral("flow control");
    }
    return QStringLiteral("setting %1").arg(command);
}

QString settingValue(const TelnetStream::ComPortAnswer &setting)
{
    const quint32 number = setting.number();
    switch (setting.command % TelnetStream::kServerOffset) {
    case TelnetStream::SetParity:
        return parityName(quint8(number));
    case TelnetStream::SetStopSize:
        return stopBitsName(quint8(number));
    case TelnetStream::SetControl:
        return flowControlName(quint8(number));
    }
    return QString::number(number);
}

// The setting commands of `line` as they go out, read back: the client's
// command code and value of each, in order.
QList<TelnetStream::ComPortAnswer> settingsAsked(const LineSettings &line)
{
    TelnetStream reader;
    reader.feed(TelnetStream::setLine(line));
    return reader.takeComPortAnswers();
}

} // namespace

std::optional<NetworkPort::Address> NetworkPort::parseAddress(const QString &text, QString *why)
{
    auto fail = [&](const QString &reason) -> std::optional<Address> {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    const QUrl url(text, QUrl::StrictMode);
    Address address;
    const QString scheme = url.scheme().toLower();
    if (scheme == kRfc2217Scheme)
        address.kind = Kind::Rfc2217;
    else if (scheme == kSocketScheme)
        address.kind = Kind::Socket;
    else
        return fail(QStringLiteral("%1 is not an rfc2217:// or socket:// address").arg(text));
    if (!url.isValid() || url.host().isEmpty() || !url.userInfo().isEmpty() ||
        !(url.path().isEmpty() || url.path() == QLatin1String("/")) || url.hasQuery() ||
        url.hasFragment())
        return fail(QStringLiteral("%1 is not of the form %2://HOST:PORT").arg(text, scheme));
    const int port = url.port();
    if (port <= 0)
        return fail(QStringLiteral("%1 names no TCP port (1 to 65535)").arg(text));
    address.host = url.host();
    address.port = quint16(port);
    return address;
}

bool NetworkPort::looksLikeAddress(const QString &text)
{
    return text.startsWith(kRfc2217Scheme + QLatin1String("://"), Qt::CaseInsensitive) ||
           text.startsWith(kSocketScheme + QLatin1String("://"), Qt::CaseInsensitive);
}

NetworkPort::NetworkPort(const QString &address, QObject *parent)
    : SerialPort(parent), address_(address)
{
    connect(&socket_, &QTcpSocket::readyRead, this, &NetworkPort::onReadyRead);
    connect(&socket_, &QTcpSocket::disconnected, this, &NetworkPort::onGone);
    connect(&socket_, &QTcpSocket::errorOccurred, this, &NetworkPort::onGone);
    socket_.setReadBufferSize(std::min(readLimit_, kSocketReadChunk));
}

NetworkPort::~NetworkPort()
{
    // Nothing is reported from here on.
    socket_.disconnect(this);
    socket_.abort();
}

template <typename Done> bool NetworkPort::waitFor(std::chrono::milliseconds limit, Done done)
{
    if (done())
        return true;
    // open() is synchronous for its callers, as a serial device's is; the
    // window's clicks and keys wait until it returns.
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    auto check = [&] {
        // A name being looked up and a connection being made are on their
        // way; only a connection that ended stops the wait early.
        if (done() || socket_.state() == QAbstractSocket::UnconnectedState)
            loop.quit();
    };
    const auto readConnection =
        connect(&socket_, &QTcpSocket::readyRead, &loop, check, Qt::QueuedConnection);
    const auto stateConnection =
        connect(&socket_, &QTcpSocket::stateChanged, &loop, check, Qt::QueuedConnection);
    const auto errorConnection =
        connect(&socket_, &QTcpSocket::errorOccurred, &loop, &QEventLoop::quit);
    deadline.start(limit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    disconnect(readConnection);
    disconnect(stateConnection);
    disconnect(errorConnection);
    return done();
}

bool NetworkPort::open()
{
    if (state_ != State::Closed) {
        error_ = QStringLiteral("%1 is already open").arg(where_);
        return false;
    }
    const std::optional<Address> address = parseAddress(address_, &error_);
    if (!address)
        return false;
    kind_ = address->kind;
    where_ = address_;
    note_.clear();
    sentSinceDrain_ = 0;
    received_.clear();
    answers_.clear();
    decoder_.reset();
    telnet_ = TelnetStream();
    dropData_ = kind_ == Kind::Rfc2217;
    endedWithIac_ = false;
    state_ = State::Opening;

    if (!connectTo(*address) || (kind_ == Kind::Rfc2217 && !negotiate())) {
        state_ = State::Closed;
        socket_.abort();
        received_.clear();
        return false;
    }
    dropData_ = false;
    if (kind_ == Kind::Socket)
        note_ = QStringLiteral("%1 carries the bytes only: the line settings are the device "
                               "server's own, %2 is not applied")
                    .arg(where_, line_.toString());
    state_ = State::Open;
    ++opens_;
    error_.clear();
    // Data that followed the purge's answer came while opening, when nobody
    // was told; more may wait in the socket beyond the read limit.
    if (!received_.isEmpty() || socket_.bytesAvailable() > 0)
        readLater();
    return true;
}

bool NetworkPort::connectTo(const Address &address)
{
    socket_.abort();
    socket_.connectToHost(address.host, address.port);
    const bool connected = waitFor(
        kConnectLimit, [this] { return socket_.state() == QAbstractSocket::ConnectedState; });
    if (!connected) {
        if (socket_.error() == QAbstractSocket::UnknownSocketError)
            error_ = QStringLiteral("%1 did not answer within %2 s")
                         .arg(where_)
                         .arg(std::chrono::duration<double>(kConnectLimit).count());
        else
            error_ =
                QStringLiteral("%1 could not be reached: %2").arg(where_, socket_.errorString());
        return false;
    }
    // Each text goes out as it is written, not held back to fill a segment:
    // the check times the answers.
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    return true;
}

bool NetworkPort::negotiate()
{
    auto connectionLost = [this](const QString &during) {
        error_ = QStringLiteral("%1 closed the connection %2").arg(where_, during);
        return false;
    };
    socket_.write(telnet_.start());
    const bool settled = waitFor(kNegotiationLimit, [this] {
        return telnet_.comPortAgreed() || telnet_.serverRefusedComPort();
    });
    if (socket_.state() != QAbstractSocket::ConnectedState)
        return connectionLost(QStringLiteral("while agreeing on the COM port option"));
    if (!settled) {
        error_ = QStringLiteral("%1 did not agree to the COM port option (RFC 2217) within %2 s")
                     .arg(where_)
                     .arg(std::chrono::duration<double>(kNegotiationLimit).count());
        return false;
    }
    if (!telnet_.comPortAgreed()) {
        error_ = QStringLiteral("%1 refused the COM port option (RFC 2217): the line's settings "
                                "cannot be set through it")
                     .arg(where_);
        return false;
    }

    const QList<TelnetStream::ComPortAnswer> asked = settingsAsked(line_);
    answers_.clear();
    socket_.write(TelnetStream::setLine(line_));
    auto answerTo = [this](quint8 command) -> const TelnetStream::ComPortAnswer * {
        const quint8 code = command + TelnetStream::kServerOffset;
        for (const auto &answer : answers_) {
            if (answer.command == code)
                return &answer;
        }
        return nullptr;
    };
    auto answered = [&](bool control) {
        return std::all_of(asked.begin(), asked.end(), [&](const auto &setting) {
            return (!control && setting.command == TelnetStream::SetControl) ||
                   answerTo(setting.command) != nullptr;
        });
    };
    // The server answers in order; SET-CONTROL, the last, may never come.
    if (!waitFor(kNegotiationLimit, [&] { return answered(false); })) {
        if (socket_.state() != QAbstractSocket::ConnectedState)
            return connectionLost(QStringLiteral("while setting the line up"));
        for (const auto &setting : asked) {
            if (setting.command != TelnetStream::SetControl && !answerTo(setting.command)) {
                error_ = QStringLiteral("%1 did not answer the setting of the %2 within %3 s")
                             .arg(where_, settingName(setting.command))
                             .arg(std::chrono::duration<double>(kNegotiationLimit).count());
                return false;
            }
        }
    }
    waitFor(kControlAnswerLimit, [&] { return answered(true); });
    if (socket_.state() != QAbstractSocket::ConnectedState)
        return connectionLost(QStringLiteral("while setting the line up"));
    QStringList notes;
    for (const auto &setting : asked) {
        const TelnetStream::ComPortAnswer *answer = answerTo(setting.command);
        if (!answer) {
            notes += QStringLiteral("%1 did not confirm the %2; it is taken as set")
                         .arg(where_, settingName(setting.command));
            continue;
        }
        if (answer->value != setting.value) {
            error_ = QStringLiteral("%1 refused the settings %2 with handshaking %3: the %4 is %5, "
                                    "not %6")
                         .arg(where_, line_.toString())
                         .arg(int(line_.flowControl))
                         .arg(settingName(setting.command), settingValue(*answer),
                              settingValue(setting));
            return false;
        }
    }
    // SET-CONTROL sets one kind of flow control for the line's output; the
    // hardware one was asked (see TelnetStream::setFlowControl).
    if (line_.flowControl == LineSettings::FlowControl::RtsCtsXonXoff)
        notes += QStringLiteral("%1 takes one flow control through RFC 2217: the line has RTS/CTS, "
                                "not XON/XOFF as well")
                     .arg(where_);
    note_ = notes.join(QStringLiteral("; "));

    // Whatever the server held for either direction (a banner, bytes the
    // line received before) goes; so does the data that came meanwhile.
    answers_.clear();
    socket_.write(TelnetStream::purgeData(TelnetStream::Purge::Both));
    const quint8 purged = TelnetStream::PurgeData + TelnetStream::kServerOffset;
    waitFor(kControlAnswerLimit, [&] {
        return std::any_of(answers_.begin(), answers_.end(),
                           [&](const auto &answer) { return answer.command == purged; });
    });
    if (socket_.state() != QAbstractSocket::ConnectedState)
        return connectionLost(QStringLiteral("while emptying the line's buffers"));
    return true;
}

void NetworkPort::close()
{
    state_ = State::Closed;
    socket_.abort();
    received_.clear();
    decoder_.reset();
}

void NetworkPort::onReadyRead()
{
    if (state_ == State::Closed)
        return;
    for (;;) {
        // Until the server has answered the purge its data goes, so nothing
        // of it is kept and it is all read.
        const qint64 room = dropData_ ? kSocketReadChunk : readLimit_ - received_.size();
        if (room <= 0)
            break;
        // A Telnet byte read carries at most one data byte, so what is read
        // fits whatever it holds.
        const QByteArray bytes = socket_.read(std::min(room, kSocketReadChunk));
        if (bytes.isEmpty())
            break;
        if (kind_ == Kind::Socket)
            received_ += bytes;
        else
            readTelnet(bytes);
        if (state_ == State::Closed)
            return;
        SocketTuning::acknowledgeAtOnce(socket_.socketDescriptor());
    }
    if (state_ == State::Open && !received_.isEmpty())
        emit readyRead();
}

void NetworkPort::readLater()
{
    if (readPending_)
        return;
    readPending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            readPending_ = false;
            if (state_ == State::Open)
                onReadyRead();
        },
        Qt::QueuedConnection);
}

void NetworkPort::readTelnet(QByteArrayView bytes)
{
    // Until the server has answered the purge, its data is from before (a
    // banner, bytes the line held) and goes; what follows the answer is the
    // line's. An answer ends with IAC SE, so the bytes are taken in pieces
    // that end there, and the answers looked at after each.
    qsizetype from = 0;
    while (dropData_ && from < bytes.size()) {
        qsizetype end = bytes.size();
        for (qsizetype se = bytes.indexOf(char(TelnetStream::SE), from); se >= 0;
             se = bytes.indexOf(char(TelnetStream::SE), se + 1)) {
            const bool afterIac =
                se > 0 ? quint8(bytes[se - 1]) == TelnetStream::IAC : endedWithIac_;
            if (afterIac) {
                end = se + 1;
                break;
            }
        }
        telnet_.feed(bytes.sliced(from, end - from));
        from = end;
        takeAnswers();
    }
    received_ += telnet_.feed(bytes.sliced(from));
    endedWithIac_ = quint8(bytes.back()) == TelnetStream::IAC;
    takeAnswers();
    const QByteArray replies = telnet_.takeReplies();
    if (!replies.isEmpty())
        socket_.write(replies);
}

void NetworkPort::takeAnswers()
{
    // Once open, the server's notices of line and modem state are of no use
    // to the check.
    const auto answers = telnet_.takeComPortAnswers();
    if (state_ != State::Opening)
        return;
    for (const auto &answer : answers) {
        answers_ += answer;
        if (answer.command == TelnetStream::PurgeData + TelnetStream::kServerOffset)
            dropData_ = false;
    }
}

void NetworkPort::onGone()
{
    if (state_ != State::Open)
        return;
    state_ = State::Closed;
    error_ = QStringLiteral("lost %1: %2").arg(where_, socket_.errorString());
    // This runs inside QTcpSocket, which goes on with the socket after
    // emitting; the close and the report wait for the event loop.
    const quint64 lostOpen = opens_;
    const QString reason = error_;
    QMetaObject::invokeMethod(
        this,
        [this, lostOpen, reason] {
            if (state_ == State::Closed)
                socket_.abort();
            // A port opened again meanwhile is a different story.
            if (lostOpen == opens_)
                emit lost(reason);
        },
        Qt::QueuedConnection);
}

SerialPort::Output NetworkPort::output(const QString &text)
{
    if (state_ != State::Open)
        return Output::Closed;
    const qint64 waiting = socket_.bytesToWrite();
    const qint64 room = std::max<qint64>(kWriteBufferLimit - waiting, 0);
    if (2 * text.size() > room && Cp932::encodedSize(text) > room)
        return Output::Refused;
    QByteArray bytes = Cp932::encode(text);
    if (bytes.isEmpty())
        return Output::Taken;
    const qint64 dataBytes = bytes.size();
    if (kind_ == Kind::Rfc2217) {
        bytes = TelnetStream::data(bytes);
        // Doubled 0xFF bytes may take it over the limit after all.
        if (bytes.size() > room)
            return Output::Refused;
    }
    sentSinceDrain_ += dataBytes;
    socket_.write(bytes);
    // Handed to the system at once where it takes them; the rest follows
    // from the event loop.
    socket_.flush();
    return Output::Taken;
}

qint64 NetworkPort::drain(std::chrono::milliseconds limit)
{
    if (state_ != State::Open)
        return -1;
    const QDeadlineTimer deadline(limit);
    while (state_ == State::Open && socket_.bytesToWrite() > 0 && !deadline.hasExpired()) {
        const qint64 left = deadline.remainingTime();
        socket_.waitForBytesWritten(int(std::min<qint64>(left, std::numeric_limits<int>::max())));
    }
    if (state_ != State::Open)
        return -1;
    if (const qint64 unsent = socket_.bytesToWrite(); unsent > 0)
        return unsent;
    // What the system took is on its way, but the device server's buffers
    // and the line beyond it cannot be seen from here, and a server may drop
    // what it has not passed on yet when the connection closes (ser2net
    // does). The bytes are given the time the line takes for them at the
    // port's settings, and the server a little more to pass them on.
    const double lineSeconds =
        double(std::exchange(sentSinceDrain_, 0)) * line_.bitsPerCharacter() / line_.baudRate;
    const auto wait = std::chrono::milliseconds(qint64(lineSeconds * 1000.0) + 1) + kPassOnTime;
    waitFor(std::min(wait, std::chrono::milliseconds(deadline.remainingTime())),
            [] { return false; });
    return state_ == State::Open ? 0 : -1;
}

QByteArray NetworkPort::takeReceived()
{
    if (state_ != State::Open)
        return {};
    // What came is taken in by readyRead from the event loop. A look at the
    // socket from here (waitForReadyRead(0)) can hold the caller for as long
    // as the connection stays quiet.
    QByteArray bytes = std::exchange(received_, {});
    // What the read limit left in the socket follows from the event loop.
    if (socket_.bytesAvailable() > 0)
        readLater();
    return bytes;
}

void NetworkPort::setReadBufferLimit(qint64 bytes)
{
    readLimit_ = std::max<qint64>(bytes, 1);
    socket_.setReadBufferSize(std::min(readLimit_, kSocketReadChunk));
    if (state_ == State::Open && socket_.bytesAvailable() > 0)
        readLater();
}

QString NetworkPort::input()
{
    return decoder_.decode(takeReceived());
}

QString NetworkPort::escapedInput()
{
    return decoder_.decodeEscaped(takeReceived());
}
