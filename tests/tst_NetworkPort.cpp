#include "Cp932.h"
#include "NetworkPort.h"
#include "PtyPair.h"
#include "Ser2net.h"
#include "TelnetStream.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <memory>
#include <termios.h>

namespace {

constexpr int kWaitMs = 10000;

// Every byte value, each followed by a NUL: a lead byte then stands alone,
// which code page 932 text keeps as that byte, so the text read and written
// gives back the very bytes.
QByteArray everyByte()
{
    QByteArray bytes;
    for (int b = 0; b < 256; ++b) {
        bytes += char(b);
        bytes += '\0';
    }
    return bytes;
}

// What the port has received so far, as the bytes that came.
QByteArray receivedBytes(NetworkPort &port, QString &collected)
{
    collected += port.input();
    return Cp932::encode(collected);
}

quint16 portNobodyListensOn()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    return server.serverPort();
}

// An RFC 2217 server that does what ser2net will not: answer a setting with
// another value, leave SET-CONTROL unanswered, send a banner and data before
// the purge, close the connection halfway, turn the option down, send a
// subnegotiation that never ends. Raw is a raw TCP accepter (socket://),
// without Telnet. Once the port is open the test sends through it what it
// likes.
class FakeComPortServer : public QObject {
public:
    enum class Behaviour {
        Faithful,
        AnotherBaudRate,
        BaudRateWithIac,
        AnotherDataSize,
        AnotherParity,
        AnotherStopBits,
        SilentControl,
        Banner,
        CloseAtSettings,
        RefuseOption,
        Silent,
        EndlessSubnegotiation,
        Raw,
    };

    explicit FakeComPortServer(Behaviour behaviour) : behaviour_(behaviour)
    {
        connect(&server_, &QTcpServer::newConnection, this, &FakeComPortServer::accept);
    }
    bool listen() { return server_.listen(QHostAddress::LocalHost, 0); }
    QString address() const
    {
        return QStringLiteral("%1://127.0.0.1:%2")
            .arg(behaviour_ == Behaviour::Raw ? QStringLiteral("socket")
                                              : QStringLiteral("rfc2217"))
            .arg(server_.serverPort());
    }

    // Whether the client's connection has been taken; only then can the
    // server send.
    bool connected() const { return client_ != nullptr; }
    // Sends bytes as they are, after whatever went before.
    void send(const QByteArray &bytes) { client_->write(bytes); }
    // Bytes given to send() that the system has not taken yet: a client
    // that reads nothing makes them stay.
    qint64 unsent() const { return client_ ? client_->bytesToWrite() : 0; }
    // Keeps the system's buffer for what goes to the client small, so that
    // a client that reads nothing holds the server back early.
    void setSendBuffer(int bytes) { client_->setSocketOption(sendBufferOption, bytes); }
    // The data bytes the client sent (Telnet's own taken out).
    QByteArray received() const { return received_; }

    // Opens a COM port subnegotiation and goes on with its value for as
    // long as the connection takes it, never with an IAC.
    void startEndlessSubnegotiation()
    {
        flooding_ = true;
        client_->write(QByteArray{} + char(TelnetStream::IAC) + char(TelnetStream::SB) +
                       char(TelnetStream::ComPort) +
                       char(TelnetStream::NotifyModemState + TelnetStream::kServerOffset));
        topUp();
    }
    // How much of the subnegotiation the system has taken so far.
    qint64 subnegotiationSent() const { return queued_ - client_->bytesToWrite(); }
    // Ends it at last, and sends `after`.
    void endSubnegotiation(const QByteArray &after)
    {
        flooding_ = false;
        client_->write(QByteArray{} + char(TelnetStream::IAC) + char(TelnetStream::SE) + after);
    }

    static constexpr char kBanner[] = "WELCOME\r\n";
    static constexpr char kBeforePurge[] = "stale bytes";
    static constexpr char kAfterPurge[] = "READY";
    static constexpr quint32 kRateWithIac = 0xFF00; // 65280 baud: 00 00 FF 00

private:
    static constexpr auto sendBufferOption = QAbstractSocket::SendBufferSizeSocketOption;
    static constexpr qint64 kFloodPiece = 256 * 1024;

    void accept()
    {
        client_ = server_.nextPendingConnection();
        connect(client_, &QTcpSocket::readyRead, this, &FakeComPortServer::answer);
        connect(client_, &QTcpSocket::bytesWritten, this, &FakeComPortServer::topUp);
        if (behaviour_ == Behaviour::Silent || behaviour_ == Behaviour::Raw)
            return;
        if (behaviour_ == Behaviour::Banner)
            client_->write(kBanner);
        const char verb = behaviour_ == Behaviour::RefuseOption ? char(TelnetStream::DONT)
                                                                : char(TelnetStream::DO);
        client_->write(QByteArray{} + char(TelnetStream::IAC) + verb + char(TelnetStream::ComPort));
        if (behaviour_ == Behaviour::EndlessSubnegotiation)
            startEndlessSubnegotiation();
    }

    void topUp()
    {
        while (flooding_ && client_->bytesToWrite() < kFloodPiece) {
            client_->write(QByteArray(kFloodPiece, '\x01'));
            queued_ += kFloodPiece;
        }
    }

    void answer()
    {
        if (behaviour_ == Behaviour::Raw) {
            received_ += client_->readAll();
            return;
        }
        received_ += reader_.feed(client_->readAll());
        // Busy with its endless subnegotiation, or saying nothing at all.
        if (behaviour_ == Behaviour::Silent || behaviour_ == Behaviour::EndlessSubnegotiation)
            return;
        for (const auto &asked : reader_.takeComPortAnswers()) {
            QByteArray value = asked.value;
            switch (asked.command) {
            case TelnetStream::SetBaudRate:
                if (behaviour_ == Behaviour::CloseAtSettings) {
                    client_->disconnectFromHost();
                    return;
                }
                if (behaviour_ == Behaviour::AnotherBaudRate)
                    value = QByteArray::fromHex("00004b00"); // 19200
                if (behaviour_ == Behaviour::BaudRateWithIac)
                    value = QByteArray::fromHex("0000ff00");
                break;
            case TelnetStream::SetDataSize:
                if (behaviour_ == Behaviour::AnotherDataSize)
                    value = QByteArray(1, char(7));
                break;
            case TelnetStream::SetParity:
                if (behaviour_ == Behaviour::AnotherParity)
                    value = QByteArray(1, char(3)); // even
                break;
            case TelnetStream::SetStopSize:
                if (behaviour_ == Behaviour::AnotherStopBits)
                    value = QByteArray(1, char(1));
                break;
            case TelnetStream::SetControl:
                if (behaviour_ == Behaviour::SilentControl)
                    continue;
                break;
            case TelnetStream::PurgeData:
                if (behaviour_ == Behaviour::Banner)
                    client_->write(kBeforePurge);
                break;
            }
            // Doubles every IAC of the value, as the protocol wants.
            client_->write(TelnetStream::comPortCommand(
                quint8(asked.command + TelnetStream::kServerOffset), value));
            if (asked.command == TelnetStream::PurgeData && behaviour_ == Behaviour::Banner)
                client_->write(kAfterPurge);
        }
    }

    Behaviour behaviour_;
    QTcpServer server_;
    QTcpSocket *client_ = nullptr;
    TelnetStream reader_; // reads the client's commands
    QByteArray received_;
    bool flooding_ = false;
    qint64 queued_ = 0; // subnegotiation bytes given to the socket
};

} // namespace

class NetworkPortTest : public QObject {
    Q_OBJECT
private slots:
    void carriesEveryByteBothWays_data();
    void carriesEveryByteBothWays();
    void setsTheLineUp_data();
    void setsTheLineUp();
    void reportsAKilledServerOnce_data();
    void reportsAKilledServerOnce();
    void failsToOpen_data();
    void failsToOpen();
    void checksTheServersAnswers_data();
    void checksTheServersAnswers();
    void dropsWhatCameBeforeThePurge_data();
    void dropsWhatCameBeforeThePurge();
    void readsCommandsCutBetweenReads_data();
    void readsCommandsCutBetweenReads();
    void keepsGoingWhateverTheServerSends_data();
    void keepsGoingWhateverTheServerSends();
    void holdsAtMostItsLimitAndLosesNothing_data();
    void holdsAtMostItsLimitAndLosesNothing();

private:
    // A pty with ser2net in front of it; QFAIL when either cannot start.
    struct Line {
        PtyPair pty;
        std::unique_ptr<Ser2net> server;
    };
    static bool startLine(Line &line);
};

bool NetworkPortTest::startLine(Line &line)
{
    if (!line.pty.isValid()) {
        qWarning("no pseudo-terminal: %s", qPrintable(line.pty.error()));
        return false;
    }
    line.server = std::make_unique<Ser2net>(line.pty.slavePath());
    if (!line.server->start()) {
        qWarning("%s", qPrintable(line.server->error()));
        return false;
    }
    return true;
}

void NetworkPortTest::carriesEveryByteBothWays_data()
{
    QTest::addColumn<bool>("rfc2217");
    QTest::addColumn<QString>("host");
    QTest::newRow("rfc2217, 0xFF doubled on the wire") << true << "127.0.0.1";
    QTest::newRow("socket, bytes as they are") << false << "127.0.0.1";
    // The name is looked up before the connection is made.
    QTest::newRow("rfc2217 to a host by name") << true << "localhost";
}

void NetworkPortTest::carriesEveryByteBothWays()
{
    QFETCH(bool, rfc2217);
    QFETCH(QString, host);
    Line line;
    if (!startLine(line))
        QFAIL("ser2net could not be started in front of a pseudo-terminal");
    QString address = rfc2217 ? line.server->rfc2217Address() : line.server->socketAddress();
    address.replace(QStringLiteral("127.0.0.1"), host);
    NetworkPort port(address);
    QVERIFY2(port.open(), qPrintable(port.errorString()));

    const QByteArray bytes = everyByte();
    QCOMPARE(port.output(Cp932::decode(bytes)), SerialPort::Output::Taken);
    QCOMPARE(line.pty.read(bytes.size(), kWaitMs), bytes);

    QVERIFY(line.pty.write(bytes));
    QString collected;
    QTRY_COMPARE_WITH_TIMEOUT(receivedBytes(port, collected), bytes, kWaitMs);
}

void NetworkPortTest::setsTheLineUp_data()
{
    QTest::addColumn<bool>("rfc2217");
    QTest::addColumn<QString>("settings");
    QTest::addColumn<LineSettings::FlowControl>("flowControl");
    QTest::addColumn<qint64>("speed");
    QTest::addColumn<bool>("twoStopBits");
    QTest::addColumn<bool>("xonXoff");
    QTest::addColumn<bool>("rtsCts");
    QTest::addColumn<QString>("note"); // what note() says; empty for nothing

    using Flow = LineSettings::FlowControl;
    QTest::newRow("115200, two stop bits, XON/XOFF")
        << true << "115200,N,8,2" << Flow::XonXoff << qint64(115200) << true << true << false << "";
    QTest::newRow("19200, one stop bit, no flow control")
        << true << "19200,N,8,1" << Flow::None << qint64(19200) << false << false << false << "";
    QTest::newRow("38400, RTS/CTS")
        << true << "38400,N,8,1" << Flow::RtsCts << qint64(38400) << false << false << true << "";
    // SET-CONTROL names one kind; ser2net sets RTS/CTS and clears XON/XOFF.
    QTest::newRow("RTS/CTS with XON/XOFF: RTS/CTS alone, and said so")
        << true << "9600,N,8,1" << Flow::RtsCtsXonXoff << qint64(9600) << false << false << true
        << "not XON/XOFF as well";
    // 00 00 FF 00 goes out as 00 00 FF FF 00, and ser2net's answer too.
    QTest::newRow("65280 baud, an IAC among the rate's bytes")
        << true << "65280,N,8,1" << Flow::None << qint64(FakeComPortServer::kRateWithIac) << false
        << false << false << "";
    // ser2net's own 9600n81 stands: the raw accepter carries no settings.
    QTest::newRow("socket leaves the server's setup")
        << false << "115200,N,8,2" << Flow::RtsCts << qint64(9600) << false << false << false
        << "not applied";
}

void NetworkPortTest::setsTheLineUp()
{
    QFETCH(bool, rfc2217);
    QFETCH(QString, settings);
    QFETCH(LineSettings::FlowControl, flowControl);
    QFETCH(qint64, speed);
    QFETCH(bool, twoStopBits);
    QFETCH(bool, xonXoff);
    QFETCH(bool, rtsCts);
    QFETCH(QString, note);
    Line line;
    if (!startLine(line))
        QFAIL("ser2net could not be started in front of a pseudo-terminal");
    NetworkPort port(rfc2217 ? line.server->rfc2217Address() : line.server->socketAddress());
    LineSettings wanted = LineSettings::parse(settings).value();
    wanted.flowControl = flowControl;
    port.setSettings(wanted);
    QVERIFY2(port.open(), qPrintable(port.errorString()));
    if (note.isEmpty())
        QVERIFY2(port.note().isEmpty(), qPrintable(port.note()));
    else
        QVERIFY2(port.note().contains(note), qPrintable(port.note()));

    // ser2net opens the device when the connection comes and sets it then;
    // one byte through the line shows that it has.
    QVERIFY(line.pty.write("x"));
    QString collected;
    QTRY_COMPARE_WITH_TIMEOUT(receivedBytes(port, collected), QByteArray("x"), kWaitMs);
    // A pseudo-terminal holds the speed, custom rates included, the stop
    // bits and the flow controls; its data bits and parity stay 8 and none
    // whatever it is told (checksTheServersAnswers covers those).
    QCOMPARE(line.pty.slaveSpeed(), speed);
    const termios held = line.pty.slaveTermios();
    QCOMPARE(bool(held.c_cflag & CSTOPB), twoStopBits);
    QCOMPARE(bool(held.c_iflag & IXON), xonXoff);
    QCOMPARE(bool(held.c_iflag & IXOFF), xonXoff);
    QCOMPARE(bool(held.c_cflag & CRTSCTS), rtsCts);
}

void NetworkPortTest::reportsAKilledServerOnce_data()
{
    QTest::addColumn<bool>("rfc2217");
    QTest::newRow("rfc2217") << true;
    QTest::newRow("socket") << false;
}

void NetworkPortTest::reportsAKilledServerOnce()
{
    QFETCH(bool, rfc2217);
    Line line;
    if (!startLine(line))
        QFAIL("ser2net could not be started in front of a pseudo-terminal");
    NetworkPort port(rfc2217 ? line.server->rfc2217Address() : line.server->socketAddress());
    QSignalSpy lost(&port, &SerialPort::lost);
    QVERIFY2(port.open(), qPrintable(port.errorString()));

    line.server->kill();
    QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, kWaitMs);
    QVERIFY(!port.isOpen());
    QVERIFY2(lost.first().first().toString().contains(port.errorString()),
             qPrintable(lost.first().first().toString()));
    // What the window does next finds the port closed, and hears no more.
    QCOMPARE(port.output(QStringLiteral("after")), SerialPort::Output::Closed);
    QCOMPARE(port.input(), QString());
    QCOMPARE(port.drain(std::chrono::milliseconds(100)), qint64(-1));
    QVERIFY(!lost.wait(500));
    QCOMPARE(lost.count(), 1);
}

void NetworkPortTest::failsToOpen_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("reason");

    const quint16 closed = portNobodyListensOn();
    QTest::newRow("connection refused")
        << QStringLiteral("rfc2217://127.0.0.1:%1").arg(closed) << "refused";
    QTest::newRow("raw connection refused")
        << QStringLiteral("socket://127.0.0.1:%1").arg(closed) << "refused";
    QTest::newRow("name that does not resolve")
        << QStringLiteral("rfc2217://commcheck-test.invalid:2217") << "could not be reached";
    QTest::newRow("bracketed IPv6, refused")
        << QStringLiteral("socket://[::1]:%1").arg(closed) << "could not be reached";
    QTest::newRow("no TCP port") << QStringLiteral("rfc2217://127.0.0.1") << "names no TCP port";
    QTest::newRow("port out of range") << QStringLiteral("socket://127.0.0.1:70000") << "HOST:PORT";
    QTest::newRow("a path after the port")
        << QStringLiteral("socket://127.0.0.1:2000/dev/ttyS0") << "HOST:PORT";
    QTest::newRow("another scheme") << QStringLiteral("telnet://127.0.0.1:23") << "not an rfc2217";
}

void NetworkPortTest::failsToOpen()
{
    QFETCH(QString, address);
    QFETCH(QString, reason);
    NetworkPort port(address);
    QSignalSpy lost(&port, &SerialPort::lost);
    QVERIFY(!port.open());
    QVERIFY(!port.isOpen());
    QVERIFY2(port.errorString().contains(reason), qPrintable(port.errorString()));
    QCOMPARE(port.output(QStringLiteral("x")), SerialPort::Output::Closed);
    QCOMPARE(lost.count(), 0);
}

void NetworkPortTest::checksTheServersAnswers_data()
{
    using Behaviour = FakeComPortServer::Behaviour;
    QTest::addColumn<Behaviour>("behaviour");
    QTest::addColumn<qint32>("baudRate"); // asked, with N,8,2
    QTest::addColumn<bool>("opens");
    QTest::addColumn<QString>("message"); // in errorString() or, when it opens, note()

    QTest::newRow("every setting confirmed") << Behaviour::Faithful << 9600 << true << "";
    QTest::newRow("baud rate answered with another")
        << Behaviour::AnotherBaudRate << 9600 << false << "the baud rate is 19200, not 9600";
    // Read with its IAC still doubled, the answer would be 65535.
    QTest::newRow("baud rate answered with another holding an IAC")
        << Behaviour::BaudRateWithIac << 9600 << false << "the baud rate is 65280, not 9600";
    // Sent without its IAC doubled, the rate would go unanswered.
    QTest::newRow("baud rate holding an IAC confirmed")
        << Behaviour::Faithful << qint32(FakeComPortServer::kRateWithIac) << true << "";
    QTest::newRow("data bits answered with another")
        << Behaviour::AnotherDataSize << 9600 << false << "the data bits is 7, not 8";
    QTest::newRow("parity answered with another")
        << Behaviour::AnotherParity << 9600 << false << "the parity is E, not N";
    QTest::newRow("stop bits answered with another")
        << Behaviour::AnotherStopBits << 9600 << false << "the stop bits is 1, not 2";
    QTest::newRow("SET-CONTROL left unanswered")
        << Behaviour::SilentControl << 9600 << true << "did not confirm the flow control";
    QTest::newRow("connection closed at the settings")
        << Behaviour::CloseAtSettings << 9600 << false << "closed the connection";
    QTest::newRow("COM port option turned down")
        << Behaviour::RefuseOption << 9600 << false << "refused the COM port option";
    QTest::newRow("server that never answers")
        << Behaviour::Silent << 9600 << false << "did not agree to the COM port option";
    // Its bytes go through the Telnet reader, which keeps no more than a
    // few hundred of them.
    QTest::newRow("subnegotiation that never ends")
        << Behaviour::EndlessSubnegotiation << 9600 << false
        << "did not answer the setting of the baud rate";
}

void NetworkPortTest::checksTheServersAnswers()
{
    QFETCH(FakeComPortServer::Behaviour, behaviour);
    QFETCH(qint32, baudRate);
    QFETCH(bool, opens);
    QFETCH(QString, message);
    FakeComPortServer server(behaviour);
    QVERIFY(server.listen());
    NetworkPort port(server.address());
    LineSettings line;
    line.baudRate = baudRate;
    line.stopBits = LineSettings::StopBits::Two;
    port.setSettings(line);
    QCOMPARE(port.open(), opens);
    QCOMPARE(port.isOpen(), opens);
    const QString said = opens ? port.note() : port.errorString();
    if (message.isEmpty())
        QVERIFY2(said.isEmpty(), qPrintable(said));
    else
        QVERIFY2(said.contains(message), qPrintable(said));
    QCOMPARE(port.bytesWaiting(), qint64(0));
}

void NetworkPortTest::dropsWhatCameBeforeThePurge_data()
{
    // The socket takes in at most as many bytes at a time as the limit: with
    // one byte, the purge's answer comes in pieces.
    QTest::addColumn<qint64>("readLimit");
    QTest::newRow("answer and data in one read") << NetworkPort::kReadBufferLimit;
    QTest::newRow("every byte its own read") << qint64(1);
    // The server sends the stale bytes, the answer and the data at once;
    // the socket's buffer is then as big as the stale bytes and the answer
    // up to its IAC, so the SE starts the next read, with the data.
    QTest::newRow("answer's IAC | SE and data")
        << qint64(sizeof FakeComPortServer::kBeforePurge - 1 + 6);
}

void NetworkPortTest::dropsWhatCameBeforeThePurge()
{
    QFETCH(qint64, readLimit);
    FakeComPortServer server(FakeComPortServer::Behaviour::Banner);
    QVERIFY(server.listen());
    NetworkPort port(server.address());
    port.setReadBufferLimit(readLimit);
    QVERIFY2(port.open(), qPrintable(port.errorString()));
    QString collected;
    QTRY_VERIFY_WITH_TIMEOUT(!receivedBytes(port, collected).isEmpty(), kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(receivedBytes(port, collected),
                              QByteArray(FakeComPortServer::kAfterPurge), kWaitMs);
}

void NetworkPortTest::readsCommandsCutBetweenReads_data()
{
    // Each piece is sent once the port has received the data of the ones
    // before, so that it comes in a read of its own; `data` is what the
    // port has received after each.
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<QList<QByteArray>>("data");

    const QByteArray iac(1, char(TelnetStream::IAC));
    const QByteArray modemState =
        QByteArray{} + char(TelnetStream::SB) + char(TelnetStream::ComPort) +
        char(TelnetStream::NotifyModemState + TelnetStream::kServerOffset) + char(0x30);
    const QByteArray se = iac + char(TelnetStream::SE);
    QTest::newRow("IAC | IAC: one 0xFF data byte")
        << QList<QByteArray>{"a" + iac, iac + "b"} << QList<QByteArray>{"a", "a" + iac + "b"};
    QTest::newRow("IAC | SB: a command, not data")
        << QList<QByteArray>{"a" + iac, modemState + se + "b"} << QList<QByteArray>{"a", "ab"};
    QTest::newRow("IAC | DO: a negotiation, not data")
        << QList<QByteArray>{"a" + iac, QByteArray{} + char(TelnetStream::DO) + char(24) + "b"}
        << QList<QByteArray>{"a", "ab"};
    QTest::newRow("subnegotiation's IAC | SE")
        << QList<QByteArray>{"a" + iac + modemState + iac,
                             QByteArray{} + char(TelnetStream::SE) + "b"}
        << QList<QByteArray>{"a", "ab"};
    QTest::newRow("doubled IAC inside a subnegotiation | SE")
        << QList<QByteArray>{"a" + iac + modemState + iac, iac + se + "b"}
        << QList<QByteArray>{"a", "ab"};
}

void NetworkPortTest::readsCommandsCutBetweenReads()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(QList<QByteArray>, data);
    QCOMPARE(pieces.size(), data.size());
    FakeComPortServer server(FakeComPortServer::Behaviour::Faithful);
    QVERIFY(server.listen());
    NetworkPort port(server.address());
    QVERIFY2(port.open(), qPrintable(port.errorString()));
    QString collected;
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        server.send(pieces[i]);
        QTRY_COMPARE_WITH_TIMEOUT(receivedBytes(port, collected), data[i], kWaitMs);
    }
    // It still sends.
    QCOMPARE(port.output(QStringLiteral("end")), SerialPort::Output::Taken);
    QTRY_COMPARE_WITH_TIMEOUT(server.received(), QByteArray("end"), kWaitMs);
    QVERIFY(port.isOpen());
}

void NetworkPortTest::keepsGoingWhateverTheServerSends_data()
{
    // After the open the server sends a COM port subnegotiation of at least
    // `subnegotiation` bytes (none for 0), which ends or not, then `data`.
    QTest::addColumn<qint64>("subnegotiation");
    QTest::addColumn<bool>("ends");
    QTest::addColumn<QByteArray>("data");

    QTest::newRow("silent after the open, then data") << qint64(0) << false << QByteArray("late");
    QTest::newRow("8 MiB of subnegotiation, then its end and data")
        << qint64(8 << 20) << true << QByteArray("after");
    // What follows is inside it, never data.
    QTest::newRow("8 MiB of subnegotiation that never ends")
        << qint64(8 << 20) << false << QByteArray();
}

void NetworkPortTest::keepsGoingWhateverTheServerSends()
{
    QFETCH(qint64, subnegotiation);
    QFETCH(bool, ends);
    QFETCH(QByteArray, data);
    FakeComPortServer server(FakeComPortServer::Behaviour::Faithful);
    QVERIFY(server.listen());
    NetworkPort port(server.address());
    QSignalSpy lost(&port, &SerialPort::lost);
    QSignalSpy readyRead(&port, &SerialPort::readyRead);
    QVERIFY2(port.open(), qPrintable(port.errorString()));

    if (subnegotiation > 0) {
        server.startEndlessSubnegotiation();
        // The port reads on, and keeps none of it.
        QTRY_VERIFY_WITH_TIMEOUT(server.subnegotiationSent() >= subnegotiation, kWaitMs);
    }
    QCOMPARE(port.bytesWaiting(), qint64(0));
    QCOMPARE(port.input(), QString());
    QCOMPARE(readyRead.count(), 0);
    // It still sends, and is still open.
    QCOMPARE(port.output(QStringLiteral("ping")), SerialPort::Output::Taken);
    QTRY_COMPARE_WITH_TIMEOUT(server.received(), QByteArray("ping"), kWaitMs);
    QVERIFY(port.isOpen());
    QCOMPARE(lost.count(), 0);

    if (ends)
        server.endSubnegotiation(data);
    else if (subnegotiation == 0)
        server.send(data);
    QString collected;
    if (!data.isEmpty())
        QTRY_COMPARE_WITH_TIMEOUT(receivedBytes(port, collected), data, kWaitMs);
    QCOMPARE(port.input(), QString());
    QVERIFY(port.isOpen());
    QCOMPARE(lost.count(), 0);
}

void NetworkPortTest::holdsAtMostItsLimitAndLosesNothing_data()
{
    // The server sends `bytes` bytes of every value at once and nobody reads
    // until the port holds its limit; a reader then reads everything.
    QTest::addColumn<bool>("rfc2217");
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<qint64>("bytes");
    // Whether it is more than the systems' buffers on the way take, so that
    // the server is held back; otherwise it has sent everything before the
    // first read, and the rest waits in the port's socket with nothing more
    // to come that would tell of it.
    QTest::addColumn<bool>("heldBack");

    const qint64 limit = 64 * 1024;
    QTest::newRow("socket, 4 MiB against 64 KiB") << false << limit << qint64(4 << 20) << true;
    QTest::newRow("rfc2217, 4 MiB against 64 KiB, 0xFF doubled")
        << true << limit << qint64(4 << 20) << true;
    QTest::newRow("socket, a little more than the limit")
        << false << limit << limit + 1000 << false;
    QTest::newRow("rfc2217, a little more than the limit")
        << true << limit << limit + 1000 << false;
}

void NetworkPortTest::holdsAtMostItsLimitAndLosesNothing()
{
    QFETCH(bool, rfc2217);
    QFETCH(qint64, limit);
    QFETCH(qint64, bytes);
    QFETCH(bool, heldBack);
    using Behaviour = FakeComPortServer::Behaviour;
    FakeComPortServer server(rfc2217 ? Behaviour::Faithful : Behaviour::Raw);
    QVERIFY(server.listen());
    NetworkPort port(server.address());
    port.setReadBufferLimit(limit);
    QVERIFY2(port.open(), qPrintable(port.errorString()));

    QByteArray sent;
    sent.reserve(bytes);
    while (sent.size() < bytes)
        sent += everyByte();
    sent.truncate(bytes);
    QTRY_VERIFY_WITH_TIMEOUT(server.connected(), kWaitMs);
    server.setSendBuffer(64 * 1024);
    server.send(rfc2217 ? TelnetStream::data(sent) : sent);

    QTRY_VERIFY_WITH_TIMEOUT(port.bytesWaiting() >= limit, kWaitMs);
    if (heldBack) {
        // However long nobody reads, the port keeps no more and the server
        // gets no further.
        QVERIFY(!QTest::qWaitFor(
            [&] { return port.bytesWaiting() > limit || server.unsent() == 0; }, 500));
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(server.unsent(), qint64(0), kWaitMs);
    }
    QCOMPARE(port.bytesWaiting(), limit);

    // A reader that keeps reading.
    QByteArray received = Cp932::encode(port.input());
    QVERIFY2(received.size() <= limit, qPrintable(QString::number(received.size())));
    connect(&port, &SerialPort::readyRead, this, [&] { received += Cp932::encode(port.input()); });
    QTRY_COMPARE_WITH_TIMEOUT(received.size(), sent.size(), kWaitMs);
    QVERIFY(received == sent);
    QCOMPARE(port.bytesWaiting(), qint64(0));
}

QTEST_GUILESS_MAIN(NetworkPortTest)
#include "tst_NetworkPort.moc"
