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
// the purge, close the connection halfway, turn the option down.
class FakeComPortServer : public QObject {
public:
    enum class Behaviour {
        Faithful,
        AnotherBaudRate,
        AnotherStopBits,
        SilentControl,
        Banner,
        CloseAtSettings,
        RefuseOption,
        Silent,
    };

    explicit FakeComPortServer(Behaviour behaviour) : behaviour_(behaviour)
    {
        connect(&server_, &QTcpServer::newConnection, this, &FakeComPortServer::accept);
    }
    bool listen() { return server_.listen(QHostAddress::LocalHost, 0); }
    QString address() const
    {
        return QStringLiteral("rfc2217://127.0.0.1:%1").arg(server_.serverPort());
    }

    static constexpr char kBanner[] = "WELCOME\r\n";
    static constexpr char kBeforePurge[] = "stale bytes";
    static constexpr char kAfterPurge[] = "READY";

private:
    void accept()
    {
        client_ = server_.nextPendingConnection();
        connect(client_, &QTcpSocket::readyRead, this, &FakeComPortServer::answer);
        if (behaviour_ == Behaviour::Silent)
            return;
        if (behaviour_ == Behaviour::Banner)
            client_->write(kBanner);
        const char verb = behaviour_ == Behaviour::RefuseOption ? char(TelnetStream::DONT)
                                                                : char(TelnetStream::DO);
        client_->write(QByteArray{} + char(TelnetStream::IAC) + verb + char(TelnetStream::ComPort));
    }

    void answer()
    {
        reader_.feed(client_->readAll());
        if (behaviour_ == Behaviour::Silent)
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
    void dropsWhatCameBeforeThePurge();

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
    QTest::addColumn<speed_t>("speed");
    QTest::addColumn<bool>("twoStopBits");
    QTest::addColumn<bool>("xonXoff");

    QTest::newRow("115200, two stop bits, XON/XOFF")
        << true << "115200,N,8,2" << LineSettings::FlowControl::XonXoff << speed_t(B115200) << true
        << true;
    QTest::newRow("19200, one stop bit, no flow control")
        << true << "19200,N,8,1" << LineSettings::FlowControl::None << speed_t(B19200) << false
        << false;
    // ser2net's own 9600n81 stands: the raw accepter carries no settings.
    QTest::newRow("socket leaves the server's setup")
        << false << "115200,N,8,2" << LineSettings::FlowControl::XonXoff << speed_t(B9600) << false
        << false;
}

void NetworkPortTest::setsTheLineUp()
{
    QFETCH(bool, rfc2217);
    QFETCH(QString, settings);
    QFETCH(LineSettings::FlowControl, flowControl);
    QFETCH(speed_t, speed);
    QFETCH(bool, twoStopBits);
    QFETCH(bool, xonXoff);
    Line line;
    if (!startLine(line))
        QFAIL("ser2net could not be started in front of a pseudo-terminal");
    NetworkPort port(rfc2217 ? line.server->rfc2217Address() : line.server->socketAddress());
    LineSettings wanted = LineSettings::parse(settings).value();
    wanted.flowControl = flowControl;
    port.setSettings(wanted);
    QVERIFY2(port.open(), qPrintable(port.errorString()));
    // Only the raw kind says that it set nothing.
    QCOMPARE(port.note().contains(QStringLiteral("not applied")), !rfc2217);

    // ser2net opens the device when the connection comes and sets it then;
    // one byte through the line shows that it has.
    QVERIFY(line.pty.write("x"));
    QString collected;
    QTRY_COMPARE_WITH_TIMEOUT(receivedBytes(port, collected), QByteArray("x"), kWaitMs);
    const termios held = line.pty.slaveTermios();
    QCOMPARE(cfgetospeed(&held), speed);
    QCOMPARE(bool(held.c_cflag & CSTOPB), twoStopBits);
    QCOMPARE(bool(held.c_iflag & IXON), xonXoff);
    QCOMPARE(bool(held.c_iflag & IXOFF), xonXoff);
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
    QTest::addColumn<bool>("opens");
    QTest::addColumn<QString>("message"); // in errorString() or, when it opens, note()

    QTest::newRow("every setting confirmed") << Behaviour::Faithful << true << "";
    QTest::newRow("baud rate answered with another")
        << Behaviour::AnotherBaudRate << false << "the baud rate is 19200, not 9600";
    QTest::newRow("stop bits answered with another")
        << Behaviour::AnotherStopBits << false << "the stop bits is 1, not 2";
    QTest::newRow("SET-CONTROL left unanswered")
        << Behaviour::SilentControl << true << "did not confirm the flow control";
    QTest::newRow("connection closed at the settings")
        << Behaviour::CloseAtSettings << false << "closed the connection";
    QTest::newRow("COM port option turned down")
        << Behaviour::RefuseOption << false << "refused the COM port option";
    QTest::newRow("server that never answers")
        << Behaviour::Silent << false << "did not agree to the COM port option";
}

void NetworkPortTest::checksTheServersAnswers()
{
    QFETCH(FakeComPortServer::Behaviour, behaviour);
    QFETCH(bool, opens);
    QFETCH(QString, message);
    FakeComPortServer server(behaviour);
    QVERIFY(server.listen());
    NetworkPort port(server.address());
    LineSettings line;
    line.stopBits = LineSettings::StopBits::Two;
    port.setSettings(line);
    QCOMPARE(port.open(), opens);
    QCOMPARE(port.isOpen(), opens);
    const QString said = opens ? port.note() : port.errorString();
    if (message.isEmpty())
        QVERIFY2(said.isEmpty(), qPrintable(said));
    else
        QVERIFY2(said.contains(message), qPrintable(said));
}

void NetworkPortTest::dropsWhatCameBeforeThePurge()
{
    FakeComPortServer server(FakeComPortServer::Behaviour::Banner);
    QVERIFY(server.listen());
    NetworkPort port(server.address());
    QVERIFY2(port.open(), qPrintable(port.errorString()));
    QString collected;
    QTRY_VERIFY_WITH_TIMEOUT(!receivedBytes(port, collected).isEmpty(), kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(receivedBytes(port, collected),
                              QByteArray(FakeComPortServer::kAfterPurge), kWaitMs);
}

QTEST_GUILESS_MAIN(NetworkPortTest)
#include "tst_NetworkPort.moc"
