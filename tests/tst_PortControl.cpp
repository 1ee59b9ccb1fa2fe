// The port buttons: open with the window's settings, send, receive, close,
// and a port lost under the window. On fakes for the handler's logic, and on
// real pseudo-terminals for what reaches the line.
#include "LinePort.h"
#include "LoopbackCheck.h"
#include "PortFolder.h"
#include "PortSession.h"
#include "Ser2net.h"
#include "TestWindow.h"
#include "WindowOnPty.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTest>

namespace {

// Only a failing test waits this long.
constexpr int kWaitMs = 10000;

// Which of the four port buttons are enabled, as "1000" for the closed state.
QString buttonStates(Controls &c)
{
    QString s;
    for (QPushButton *b : c.portButtons)
        s += b->isEnabled() ? u'1' : u'0';
    return s;
}

const QString kClosed = QStringLiteral("1000");
const QString kOpen = QStringLiteral("0111");

// Clicks Receive until the receive boxes seen so far add up to `expected`, as
// a user clicks again until the whole text is in.
QString receiveUntil(TestWindow &f, const QString &expected)
{
    QString seen;
    const bool whole = QTest::qWaitFor(
        [&] {
            f.click(Form1::Receive);
            seen += Controls::boxText(f.c().receivedText);
            return seen.size() >= expected.size();
        },
        kWaitMs);
    Q_UNUSED(whole); // the caller compares what was seen
    return seen;
}

} // namespace

class TestPortControl : public QObject {
    Q_OBJECT
private slots:
    // Handler logic on a fake port.
    void openFailureKeepsButtonsAndSaysSo_data();
    void openFailureKeepsButtonsAndSaysSo();
    void openWithDefaults();
    void openPassesTypedValuesThrough();
    void sendTransmitsUnescapedTextAndEntersFeedbackMode();
    void echoIsComparedWithTheSendBoxAsEdited();
    void refusedSendIsSaidAfterTheReceiveBoxAndStartsNothing_data();
    void refusedSendIsSaidAfterTheReceiveBoxAndStartsNothing();
    void receiveShowsEscapedArrivalsAndEntersEchoMode();
    void receiveHoldsASplitDoubleByteCharacter();
    void closeReturnsToClosedStateAndKeepsMode();
    void lostPortClosesButtonsAndSaysSoOnce();

    // Against real pseudo-terminals.
    void realOpenAppliesSettingsToTheDevice_data();
    void realOpenAppliesSettingsToTheDevice();
    void realOpenFailsOnSettingsThePtyCannotTake();
    void realOpenFailsOnMissingDevice_data();
    void realOpenFailsOnMissingDevice();
    void realOpenFailsOnBusyDeviceAndLeavesHolderAlone();
    void realSendPutsBytesOnTheLine();
    void realSendsBeyondTheBoundAreRefusedWhole();
    void realReceiveShowsBracketedCodes();
    void realReceiveJoinsASplitDoubleByteCharacter();
    void realCloseAndReopen();
    void realPulledCableClosesThePortOnce_data();
    void realPulledCableClosesThePortOnce();
};

void TestPortControl::openFailureKeepsButtonsAndSaysSo_data()
{
    QTest::addColumn<QString>("portNumber");
    QTest::addColumn<int>("combo");
    QTest::addColumn<QString>("comboText");
    QTest::addColumn<bool>("busy");

    QTest::newRow("letter as port number") << "x" << -1 << QString() << false;
    QTest::newRow("empty port number") << "" << -1 << QString() << false;
    QTest::newRow("port number beyond 16 bits") << "70000" << -1 << QString() << false;
    QTest::newRow("port number zero") << "0" << -1 << QString() << false;
    QTest::newRow("port without a device") << "5" << -1 << QString() << false;
    QTest::newRow("port in use") << "1" << -1 << QString() << true;
    QTest::newRow("baud not a number") << "1" << 0 << "fast" << false;
    QTest::newRow("nine data bits") << "1" << 1 << "9" << false;
    QTest::newRow("unknown parity") << "1" << 2 << "X" << false;
    QTest::newRow("three stop bits") << "1" << 3 << "3" << false;
    QTest::newRow("no handshaking item") << "1" << 4 << "XOn" << false;
}

void TestPortControl::openFailureKeepsButtonsAndSaysSo()
{
    QFETCH(QString, portNumber);
    QFETCH(int, combo);
    QFETCH(QString, comboText);
    QFETCH(bool, busy);

    TestWindow f;
    f.c().portNumber->setText(portNumber);
    if (combo >= 0)
        f.c().lineSettings[combo]->setEditText(comboText);
    f.port->setBusy(busy);
    f.form->check().receiveOnce(); // echo mode
    Controls::setBoxText(f.c().receivedText, QStringLiteral("earlier text"));

    f.form->controls().portButtons[Form1::Open]->click();

    QVERIFY(!f.port->isOpen());
    QCOMPARE(buttonStates(f.c()), kClosed);
    QCOMPARE(Controls::boxText(f.c().receivedText), QStringLiteral("ポートＮｏが違います"));
    QCOMPARE(f.check().mode(), LoopbackCheck::Mode::Echo);
}

void TestPortControl::openWithDefaults()
{
    TestWindow f;
    f.form->check().sendOnce(); // feedback mode
    f.form->controls().portButtons[Form1::Open]->click();

    QVERIFY(f.port->isOpen());
    QCOMPARE(f.port->commPort(), 1);
    QCOMPARE(f.port->settings().toString(), QStringLiteral("9600,N,8,1"));
    QCOMPARE(int(f.port->settings().flowControl), 1);
    QCOMPARE(buttonStates(f.c()), kOpen);
    QCOMPARE(f.check().mode(), LoopbackCheck::Mode::Idle);
}

void TestPortControl::openPassesTypedValuesThrough()
{
    TestWindow f;
    f.c().portNumber->setText(QStringLiteral(" 1.5 ")); // rounds half to even: 2
    f.c().lineSettings[0]->setEditText(QStringLiteral("115200"));
    f.c().lineSettings[1]->setCurrentIndex(1); // 7
    f.c().lineSettings[2]->setCurrentIndex(1); // E
    f.c().lineSettings[3]->setCurrentIndex(1); // 2
    f.c().lineSettings[4]->setCurrentIndex(3);
    f.form->controls().portButtons[Form1::Open]->click();

    QVERIFY(f.port->isOpen());
    QCOMPARE(f.port->commPort(), 2);
    // Baud, parity, data bits, stop bits: parity before data bits.
    QCOMPARE(f.port->settings().toString(), QStringLiteral("115200,E,7,2"));
    QCOMPARE(int(f.port->settings().flowControl), 3);
}

void TestPortControl::sendTransmitsUnescapedTextAndEntersFeedbackMode()
{
    TestWindow f;
    f.form->controls().portButtons[Form1::Open]->click();
    Controls::setBoxText(f.c().sendText, QStringLiteral("A[13]"));

    f.form->controls().portButtons[Form1::Send]->click();

    QCOMPARE(f.port->written(), QByteArray("\x41\x0d"));
    QCOMPARE(f.check().mode(), LoopbackCheck::Mode::Feedback);
    const std::array<float, 6> reset = {0, 0, 0, 99999, 0, 0};
    QCOMPARE(f.check().statistics().values, reset);
    QCOMPARE(f.check().waiting(), bool(0));
    QCOMPARE(f.probeTimer->interval(), 0);
    QCOMPARE(f.pollTimer->interval(), 0);

    // A line break typed in the box goes out as CR LF, Japanese as code page 932.
    f.port->clearWritten();
    f.c().sendText->setPlainText(QStringLiteral("あ\nB"));
    f.form->controls().portButtons[Form1::Send]->click();
    QCOMPARE(f.port->written(), QByteArray("\x82\xa0\r\nB"));
}

// The check keeps the text it compares echoes with between polls; an edit of
// the send box while a probe is out must still be what the echo is held to.
void TestPortControl::echoIsComparedWithTheSendBoxAsEdited()
{
    TestWindow f;
    f.form->controls().portButtons[Form1::Open]->click();
    f.check(QStringLiteral("AB[13]"), 1000);
    QVERIFY(f.probeTimer->fire());
    f.port->feed("AB\r");
    QVERIFY(f.pollTimer->fire());
    QVERIFY(f.probeTimer->fire());
    QVERIFY(f.check().waiting());

    Controls::setBoxText(f.c().sendText, QStringLiteral("XY[13]"));
    f.port->feed("XY\r");
    QVERIFY(f.pollTimer->fire());
    QCOMPARE(f.check().statistics()[Statistics::Count], 2.0f);
    QCOMPARE(f.check().statistics()[Statistics::Errors], 0.0f);
}

void TestPortControl::refusedSendIsSaidAfterTheReceiveBoxAndStartsNothing_data()
{
    QTest::addColumn<QString>("shown"); // in the receive box before the click

    QTest::newRow("receive box with lines") << QStringLiteral("earlier[13]\r\nlines");
    QTest::newRow("receive box ending in a line break") << QStringLiteral("earlier\r\n");
    QTest::newRow("empty receive box") << QString();
}

void TestPortControl::refusedSendIsSaidAfterTheReceiveBoxAndStartsNothing()
{
    QFETCH(QString, shown);

    TestWindow f;
    f.form->controls().portButtons[Form1::Open]->click();
    f.form->check().receiveOnce(); // echo mode
    const std::array<float, 6> untouched = f.check().statistics().values;
    Controls::setBoxText(f.c().sendText, QStringLiteral("A[13]"));
    Controls::setBoxText(f.c().receivedText, shown);
    f.port->setRefusing(true);

    f.form->controls().portButtons[Form1::Send]->click();
    const QString said = Form1::sendRefusedMessage();
    const QString once = shown.isEmpty() ? said : shown + QStringLiteral("\r\n") + said;
    QCOMPARE(Controls::boxText(f.c().receivedText), once);
    QCOMPARE(f.port->written(), QByteArray());
    QCOMPARE(f.check().mode(), LoopbackCheck::Mode::Echo);
    QCOMPARE(f.check().statistics().values, untouched); // not reset

    // Each click that is refused says so.
    f.form->controls().portButtons[Form1::Send]->click();
    QCOMPARE(Controls::boxText(f.c().receivedText), once + QStringLiteral("\r\n") + said);

    f.port->setRefusing(false);
    f.form->controls().portButtons[Form1::Send]->click();
    QCOMPARE(f.port->written(), QByteArray("A\r"));
    QCOMPARE(f.check().mode(), LoopbackCheck::Mode::Feedback);
}

void TestPortControl::receiveShowsEscapedArrivalsAndEntersEchoMode()
{
    TestWindow f;
    f.form->controls().portButtons[Form1::Open]->click();
    f.port->feed(QByteArray("\x4f\x4b\x0d\x0a"));
    f.form->controls().portButtons[Form1::Receive]->click();
    QCOMPARE(Controls::boxText(f.c().receivedText), QStringLiteral("OK[13][10]"));
    QCOMPARE(f.check().mode(), LoopbackCheck::Mode::Echo);

    // Nothing arrived since: the box is emptied.
    f.form->controls().portButtons[Form1::Receive]->click();
    QCOMPARE(Controls::boxText(f.c().receivedText), QString());
    QCOMPARE(f.check().mode(), LoopbackCheck::Mode::Echo);
}

void TestPortControl::receiveHoldsASplitDoubleByteCharacter()
{
    TestWindow f;
    f.form->controls().portButtons[Form1::Open]->click();
    f.port->feed(QByteArray("A\x82"));
    f.form->controls().portButtons[Form1::Receive]->click();
    QCOMPARE(Controls::boxText(f.c().receivedText), QStringLiteral("A"));
    f.port->feed(QByteArray("\xa0"));
    f.form->controls().portButtons[Form1::Receive]->click();
    QCOMPARE(Controls::boxText(f.c().receivedText), QStringLiteral("[-32096]"));
}

void TestPortControl::closeReturnsToClosedStateAndKeepsMode()
{
    TestWindow f;
    f.form->controls().portButtons[Form1::Open]->click();
    f.form->controls().portButtons[Form1::Send]->click();
    f.form->controls().portButtons[Form1::Close]->click();
    QVERIFY(!f.port->isOpen());
    QCOMPARE(buttonStates(f.c()), kClosed);
    QCOMPARE(f.check().mode(), LoopbackCheck::Mode::Feedback);

    f.form->controls().portButtons[Form1::Open]->click();
    QVERIFY(f.port->isOpen());
    QCOMPARE(buttonStates(f.c()), kOpen);
    QCOMPARE(f.check().mode(), LoopbackCheck::Mode::Idle);
}

void TestPortControl::lostPortClosesButtonsAndSaysSoOnce()
{
    TestWindow f;
    f.c().portNumber->setText(QStringLiteral("2"));
    f.form->controls().portButtons[Form1::Open]->click();
    f.port->feed("OK\r\n");
    f.form->controls().portButtons[Form1::Receive]->click();
    f.port->loseDevice();
    QCOMPARE(buttonStates(f.c()), kClosed);
    // What Receive had just shown stays, the loss said once after it.
    QCOMPARE(Controls::boxText(f.c().receivedText),
             QStringLiteral("OK[13][10]\r\n") + Form1::lostMessage(2));
    QCOMPARE(Form1::lostMessage(2), QStringLiteral("ポート2との接続が切れました"));
    QCOMPARE(f.check().mode(), LoopbackCheck::Mode::Echo);
    QCOMPARE(f.port->closes(), 1);

    // Open works again once the device is back.
    f.form->controls().portButtons[Form1::Open]->click();
    QVERIFY(f.port->isOpen());
}

void TestPortControl::realOpenAppliesSettingsToTheDevice_data()
{
    QTest::addColumn<QString>("baud");
    QTest::addColumn<QString>("stopBits");
    QTest::addColumn<int>("handshaking");
    QTest::addColumn<int>("speed");
    QTest::addColumn<bool>("twoStopBits");
    QTest::addColumn<bool>("rtsCts");
    QTest::addColumn<bool>("xonXoff");

    QTest::newRow("defaults") << "9600"
                              << "1" << 1 << int(B9600) << false << false << true;
    QTest::newRow("19200 two stop bits RTS/CTS")
        << "19200"
        << "2" << 2 << int(B19200) << true << true << false;
    QTest::newRow("both handshakes") << "4800"
                                     << "1" << 3 << int(B4800) << false << true << true;
    QTest::newRow("no handshake") << "1200"
                                  << "1" << 0 << int(B1200) << false << false << false;
    QTest::newRow("typed 115200") << "115200"
                                  << "1" << 0 << int(B115200) << false << false << false;
}

void TestPortControl::realOpenAppliesSettingsToTheDevice()
{
    QFETCH(QString, baud);
    QFETCH(QString, stopBits);
    QFETCH(int, handshaking);
    QFETCH(int, speed);
    QFETCH(bool, twoStopBits);
    QFETCH(bool, rtsCts);
    QFETCH(bool, xonXoff);

    WindowOnPty f(7);
    f.c().lineSettings[0]->setEditText(baud);
    f.c().lineSettings[3]->setEditText(stopBits);
    f.c().lineSettings[4]->setCurrentIndex(handshaking);
    QVERIFY2(f.open(), qPrintable(f.problem()));

    QCOMPARE(buttonStates(f.c()), kOpen);
    const struct termios t = f.line.pty.slaveTermios();
    QCOMPARE(int(cfgetospeed(&t)), speed);
    QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(bool(t.c_cflag & PARENB), false);
    QCOMPARE(bool(t.c_cflag & CSTOPB), twoStopBits);
    QCOMPARE(bool(t.c_cflag & CRTSCTS), rtsCts);
    QCOMPARE(bool(t.c_iflag & IXON), xonXoff);
    QCOMPARE(bool(t.c_iflag & IXOFF), xonXoff);
}

void TestPortControl::realOpenFailsOnSettingsThePtyCannotTake()
{
    for (int box : {1, 2}) { // 7 data bits, then even parity
        WindowOnPty f;
        QVERIFY2(f.line.problem().isEmpty(), qPrintable(f.line.problem()));
        f.c().lineSettings[box]->setCurrentIndex(1);
        QVERIFY(!f.open());
        QCOMPARE(buttonStates(f.c()), kClosed);
        QCOMPARE(Controls::boxText(f.c().receivedText), Form1::openFailedMessage());
    }
}

void TestPortControl::realOpenFailsOnMissingDevice_data()
{
    QTest::addColumn<QString>("entry"); // a link's target, or a file's line
    QTest::newRow("device not there") << QStringLiteral("/dev/commcheck-no-such-device");
    QTest::newRow("device server refusing the connection") << QStringLiteral("rfc2217://CLOSED");
    QTest::newRow("device server whose name does not resolve")
        << QStringLiteral("socket://commcheck-no-such-host.invalid:2000");
}

void TestPortControl::realOpenFailsOnMissingDevice()
{
    QFETCH(QString, entry);
    PortFolder folder;
    if (entry.startsWith(u'/')) {
        QVERIFY(folder.map(1, entry));
    } else {
        // A port nothing listens on: one just given up by a server.
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        entry.replace(QStringLiteral("CLOSED"),
                      QStringLiteral("127.0.0.1:%1").arg(closed.serverPort()));
        closed.close();
        QVERIFY(folder.write(1, entry));
    }
    TestWindow f(TestWindow::Real);
    QVERIFY(!f.open(1));
    QCOMPARE(buttonStates(f.c()), kClosed);
    QCOMPARE(Controls::boxText(f.c().receivedText), Form1::openFailedMessage());
}

void TestPortControl::realOpenFailsOnBusyDeviceAndLeavesHolderAlone()
{
    WindowOnPty holder;
    QVERIFY2(holder.open(), qPrintable(holder.problem()));

    TestWindow second(TestWindow::Real);
    QVERIFY(!second.open(1));
    QCOMPARE(buttonStates(second.c()), kClosed);
    QCOMPARE(Controls::boxText(second.c().receivedText), Form1::openFailedMessage());

    // The holder still talks on the line both ways.
    Controls::setBoxText(holder.c().sendText, QStringLiteral("HI"));
    holder.click(Form1::Send);
    QCOMPARE(holder.line.pty.read(2, kWaitMs), QByteArray("HI"));
    QVERIFY(holder.line.pty.write("YO"));
    QCOMPARE(receiveUntil(holder, QStringLiteral("YO")), QStringLiteral("YO"));
}

void TestPortControl::realSendPutsBytesOnTheLine()
{
    WindowOnPty f;
    QVERIFY2(f.open(), qPrintable(f.problem()));
    Controls::setBoxText(f.c().sendText, QStringLiteral("A[13]"));
    f.click(Form1::Send);
    QCOMPARE(f.line.pty.read(2, kWaitMs), QByteArray("\x41\x0d"));
    QCOMPARE(f.form->check().mode(), LoopbackCheck::Mode::Feedback);
    // Nothing more than those two bytes: what is not there a moment later
    // was not sent.
    QCOMPARE(f.line.pty.readFor(100), QByteArray());
}

void TestPortControl::realSendsBeyondTheBoundAreRefusedWhole()
{
    WindowOnPty f; // the far end reads nothing until the end
    PtyPair &pty = f.line.pty;
    f.c().lineSettings[4]->setCurrentIndex(0); // no handshaking: every byte is data
    static_cast<LinePort &>(f.form->port()).local().setWriteBufferLimit(64 * 1024);
    QVERIFY2(f.open(), qPrintable(f.problem()));
    Controls::setBoxText(f.c().receivedText, QStringLiteral("earlier"));

    // Sends of 16 KiB, told apart by number and letter, until one is refused.
    QByteArray taken;
    QString refusedText;
    for (int i = 0; i < 100 && refusedText.isEmpty(); ++i) {
        QString text = QStringLiteral("<%1>").arg(i);
        text += QString(16 * 1024 - text.size(), QChar(u'a' + i % 26));
        Controls::setBoxText(f.c().sendText, text);
        f.click(Form1::Send);
        if (Controls::boxText(f.c().receivedText).contains(Form1::sendRefusedMessage()))
            refusedText = text;
        else
            taken += text.toLatin1();
    }
    QVERIFY2(!refusedText.isEmpty(), "no send was refused");
    QVERIFY(!taken.isEmpty());
    QCOMPARE(Controls::boxText(f.c().receivedText),
             QStringLiteral("earlier\r\n") + Form1::sendRefusedMessage());

    // The far end gets every send taken, whole and in order, and nothing of
    // the refused one; then sends go out again.
    QByteArray received = pty.read(int(taken.size()), kWaitMs);
    received += pty.readFor(100);
    QCOMPARE(received.size(), taken.size());
    QVERIFY(received == taken);
    f.click(Form1::Send);
    QCOMPARE(pty.read(int(refusedText.size()), kWaitMs), refusedText.toLatin1());
}

void TestPortControl::realReceiveShowsBracketedCodes()
{
    WindowOnPty f;
    QVERIFY2(f.open(), qPrintable(f.problem()));
    QVERIFY(f.line.pty.write(QByteArray("\x4f\x4b\x0d\x0a")));
    QCOMPARE(receiveUntil(f, QStringLiteral("OK[13][10]")), QStringLiteral("OK[13][10]"));
    QCOMPARE(f.form->check().mode(), LoopbackCheck::Mode::Echo);
}

void TestPortControl::realReceiveJoinsASplitDoubleByteCharacter()
{
    WindowOnPty f;
    QVERIFY2(f.open(), qPrintable(f.problem()));
    QVERIFY(f.line.pty.write(QByteArray("X\x82")));
    QCOMPARE(receiveUntil(f, QStringLiteral("X")), QStringLiteral("X"));
    QVERIFY(f.line.pty.write(QByteArray("\xa0")));
    QCOMPARE(receiveUntil(f, QStringLiteral("[-32096]")), QStringLiteral("[-32096]"));
}

void TestPortControl::realCloseAndReopen()
{
    WindowOnPty f;
    QVERIFY2(f.open(), qPrintable(f.problem()));
    f.click(Form1::Close);
    QVERIFY(!f.isOpen());
    QCOMPARE(buttonStates(f.c()), kClosed);

    // Closed means released: another window can take the port now.
    TestWindow other(TestWindow::Real);
    QVERIFY2(other.open(1), qPrintable(other.form->port().errorString()));
    other.click(Form1::Close);

    QVERIFY2(f.open(), qPrintable(f.problem()));
    QCOMPARE(buttonStates(f.c()), kOpen);
}

void TestPortControl::realPulledCableClosesThePortOnce_data()
{
    QTest::addColumn<bool>("deviceServer"); // else the pty is plugged in here
    QTest::newRow("adapter pulled out") << false;
    QTest::newRow("device server killed") << true;
}

void TestPortControl::realPulledCableClosesThePortOnce()
{
    QFETCH(bool, deviceServer);
    WindowOnPty f(3);
    QVERIFY2(f.line.problem().isEmpty(), qPrintable(f.line.problem()));
    // Behind a device server, port 3's entry is the server's rfc2217://
    // address; killing the server is the pulled cable.
    auto server = std::make_unique<Ser2net>(f.line.pty.slavePath());
    if (deviceServer) {
        QVERIFY2(server->start(), qPrintable(server->error()));
        QVERIFY(f.line.folder.write(3, server->rfc2217Address()));
    }
    QVERIFY2(f.open(), qPrintable(f.problem()));

    int losses = 0;
    QObject::connect(&f.form->port(), &SerialPort::lost, [&losses] { ++losses; });
    if (deviceServer)
        server->kill();
    else
        f.line.pty.closeMaster();
    QTRY_COMPARE_WITH_TIMEOUT(losses, 1, kWaitMs);
    QCOMPARE(buttonStates(f.c()), kClosed);
    QCOMPARE(Controls::boxText(f.c().receivedText), Form1::lostMessage(3));
    QVERIFY(!f.isOpen());
    // A second report would come from the same error repeating; give it the
    // time it would take.
    QTest::qWait(300);
    QCOMPARE(losses, 1);

    // A new device (or server) under the same number opens again.
    PtyPair replacement;
    QVERIFY2(replacement.isValid(), qPrintable(replacement.error()));
    QVERIFY(f.line.plugIn(replacement));
    if (deviceServer) {
        server = std::make_unique<Ser2net>(replacement.slavePath());
        QVERIFY2(server->start(), qPrintable(server->error()));
        QVERIFY(f.line.folder.write(3, server->rfc2217Address()));
    }
    QVERIFY2(f.open(), qPrintable(f.problem()));
}

QTEST_MAIN(TestPortControl)
#include "tst_PortControl.moc"
