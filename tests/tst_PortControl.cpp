// The port buttons: open with the window's settings, send, receive, close,
// and a port lost under the window. On fakes for the handler's logic, and on
// real pseudo-terminals for what reaches the line.
#include "PortControl.h"
#include "PortFolder.h"
#include "TestWindow.h"
#include "WindowOnPty.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

namespace {

// Only a failing test waits this long.
constexpr int kWaitMs = 10000;

// Which of the four port buttons are enabled, as "1000" for the closed state.
QString buttonStates(Controls &c)
{
    QString s;
    for (QPushButton *b : c.Command1)
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
            f.click(PortControl::Receive);
            seen += Controls::boxText(f.c().Text3);
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
    void receiveShowsEscapedArrivalsAndEntersEchoMode();
    void receiveHoldsASplitDoubleByteCharacter();
    void closeReturnsToClosedStateAndKeepsMode();
    void lostPortClosesButtonsAndSaysSoOnce();

    // Against real pseudo-terminals.
    void realOpenAppliesSettingsToTheDevice_data();
    void realOpenAppliesSettingsToTheDevice();
    void realOpenFailsOnSettingsThePtyCannotTake();
    void realOpenFailsOnMissingDevice();
    void realOpenFailsOnBusyDeviceAndLeavesHolderAlone();
    void realSendPutsBytesOnTheLine();
    void realReceiveShowsBracketedCodes();
    void realReceiveJoinsASplitDoubleByteCharacter();
    void realCloseAndReopen();
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
    f.c().Text1_5->setText(portNumber);
    if (combo >= 0)
        f.c().Combo1[combo]->setEditText(comboText);
    f.port->setBusy(busy);
    f.state().Mode = 2;
    Controls::setBoxText(f.c().Text3, QStringLiteral("earlier text"));

    f.form->portControl().click(PortControl::Open);

    QVERIFY(!f.port->isOpen());
    QCOMPARE(buttonStates(f.c()), kClosed);
    QCOMPARE(Controls::boxText(f.c().Text3), QStringLiteral("ポートＮｏが違います"));
    QCOMPARE(f.state().Mode, qint16(2));
}

void TestPortControl::openWithDefaults()
{
    TestWindow f;
    f.state().Mode = 1;
    f.form->portControl().click(PortControl::Open);

    QVERIFY(f.port->isOpen());
    QCOMPARE(f.port->commPort(), 1);
    QCOMPARE(f.port->settings(), QStringLiteral("9600,N,8,1"));
    QCOMPARE(f.port->handshaking(), 1);
    QCOMPARE(buttonStates(f.c()), kOpen);
    QCOMPARE(f.state().Mode, qint16(0));
}

void TestPortControl::openPassesTypedValuesThrough()
{
    TestWindow f;
    f.c().Text1_5->setText(QStringLiteral(" 1.5 ")); // rounds half to even: 2
    f.c().Combo1[0]->setEditText(QStringLiteral("115200"));
    f.c().Combo1[1]->setCurrentIndex(1); // 7
    f.c().Combo1[2]->setCurrentIndex(1); // E
    f.c().Combo1[3]->setCurrentIndex(1); // 2
    f.c().Combo1[4]->setCurrentIndex(3);
    f.form->portControl().click(PortControl::Open);

    QVERIFY(f.port->isOpen());
    QCOMPARE(f.port->commPort(), 2);
    // Baud, parity, data bits, stop bits: parity before data bits.
    QCOMPARE(f.port->settings(), QStringLiteral("115200,E,7,2"));
    QCOMPARE(f.port->handshaking(), 3);
}

void TestPortControl::sendTransmitsUnescapedTextAndEntersFeedbackMode()
{
    TestWindow f;
    f.form->portControl().click(PortControl::Open);
    f.state().Stats = {1, 2, 3, 4, 5, 6};
    Controls::setBoxText(f.c().Text2, QStringLiteral("A[13]"));

    f.form->portControl().click(PortControl::Send);

    QCOMPARE(f.port->written(), QByteArray("\x41\x0d"));
    QCOMPARE(f.state().Mode, qint16(1));
    const std::array<float, 6> reset = {0, 0, 0, 99999, 0, 0};
    QCOMPARE(f.state().Stats, reset);
    QCOMPARE(f.state().Waiting, quint8(0));
    QCOMPARE(f.timer1->interval(), 0);
    QCOMPARE(f.timer2->interval(), 0);

    // A line break typed in the box goes out as CR LF, Japanese as code page 932.
    f.port->clearWritten();
    f.c().Text2->setPlainText(QStringLiteral("あ\nB"));
    f.form->portControl().click(PortControl::Send);
    QCOMPARE(f.port->written(), QByteArray("\x82\xa0\r\nB"));
}

void TestPortControl::receiveShowsEscapedArrivalsAndEntersEchoMode()
{
    TestWindow f;
    f.form->portControl().click(PortControl::Open);
    f.port->feed(QByteArray("\x4f\x4b\x0d\x0a"));
    f.form->portControl().click(PortControl::Receive);
    QCOMPARE(Controls::boxText(f.c().Text3), QStringLiteral("OK[13][10]"));
    QCOMPARE(f.state().Mode, qint16(2));

    // Nothing arrived since: the box is emptied.
    f.form->portControl().click(PortControl::Receive);
    QCOMPARE(Controls::boxText(f.c().Text3), QString());
    QCOMPARE(f.state().Mode, qint16(2));
}

void TestPortControl::receiveHoldsASplitDoubleByteCharacter()
{
    TestWindow f;
    f.form->portControl().click(PortControl::Open);
    f.port->feed(QByteArray("A\x82"));
    f.form->portControl().click(PortControl::Receive);
    QCOMPARE(Controls::boxText(f.c().Text3), QStringLiteral("A"));
    f.port->feed(QByteArray("\xa0"));
    f.form->portControl().click(PortControl::Receive);
    QCOMPARE(Controls::boxText(f.c().Text3), QStringLiteral("[-32096]"));
}

void TestPortControl::closeReturnsToClosedStateAndKeepsMode()
{
    TestWindow f;
    f.form->portControl().click(PortControl::Open);
    f.form->portControl().click(PortControl::Send);
    f.form->portControl().click(PortControl::Close);
    QVERIFY(!f.port->isOpen());
    QCOMPARE(buttonStates(f.c()), kClosed);
    QCOMPARE(f.state().Mode, qint16(1));

    f.form->portControl().click(PortControl::Open);
    QVERIFY(f.port->isOpen());
    QCOMPARE(buttonStates(f.c()), kOpen);
    QCOMPARE(f.state().Mode, qint16(0));
}

void TestPortControl::lostPortClosesButtonsAndSaysSoOnce()
{
    TestWindow f;
    f.c().Text1_5->setText(QStringLiteral("2"));
    f.form->portControl().click(PortControl::Open);
    f.form->portControl().click(PortControl::Receive);
    f.port->loseDevice();
    QCOMPARE(buttonStates(f.c()), kClosed);
    QCOMPARE(Controls::boxText(f.c().Text3), PortControl::lostMessage(2));
    QVERIFY(Controls::boxText(f.c().Text3).contains(u'2'));
    QCOMPARE(f.state().Mode, qint16(2));
    QCOMPARE(f.port->closes(), 1);

    // Open works again once the device is back.
    f.form->portControl().click(PortControl::Open);
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
    f.c().Combo1[0]->setEditText(baud);
    f.c().Combo1[3]->setEditText(stopBits);
    f.c().Combo1[4]->setCurrentIndex(handshaking);
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
        f.c().Combo1[box]->setCurrentIndex(1);
        QVERIFY(!f.open());
        QCOMPARE(buttonStates(f.c()), kClosed);
        QCOMPARE(Controls::boxText(f.c().Text3), PortControl::openFailedMessage());
    }
}

void TestPortControl::realOpenFailsOnMissingDevice()
{
    PortFolder folder;
    QVERIFY(folder.map(1, QStringLiteral("/dev/commcheck-no-such-device")));
    TestWindow f(TestWindow::Real);
    QVERIFY(!f.open(1));
    QCOMPARE(buttonStates(f.c()), kClosed);
    QCOMPARE(Controls::boxText(f.c().Text3), PortControl::openFailedMessage());
}

void TestPortControl::realOpenFailsOnBusyDeviceAndLeavesHolderAlone()
{
    WindowOnPty holder;
    QVERIFY2(holder.open(), qPrintable(holder.problem()));

    TestWindow second(TestWindow::Real);
    QVERIFY(!second.open(1));
    QCOMPARE(buttonStates(second.c()), kClosed);
    QCOMPARE(Controls::boxText(second.c().Text3), PortControl::openFailedMessage());

    // The holder still talks on the line both ways.
    Controls::setBoxText(holder.c().Text2, QStringLiteral("HI"));
    holder.click(PortControl::Send);
    QCOMPARE(holder.line.pty.read(2, kWaitMs), QByteArray("HI"));
    QVERIFY(holder.line.pty.write("YO"));
    QCOMPARE(receiveUntil(holder, QStringLiteral("YO")), QStringLiteral("YO"));
}

void TestPortControl::realSendPutsBytesOnTheLine()
{
    WindowOnPty f;
    QVERIFY2(f.open(), qPrintable(f.problem()));
    Controls::setBoxText(f.c().Text2, QStringLiteral("A[13]"));
    f.click(PortControl::Send);
    QCOMPARE(f.line.pty.read(2, kWaitMs), QByteArray("\x41\x0d"));
    QCOMPARE(f.form->state().Mode, qint16(1));
    // Nothing more than those two bytes: what is not there a moment later
    // was not sent.
    QCOMPARE(f.line.pty.readFor(100), QByteArray());
}

void TestPortControl::realReceiveShowsBracketedCodes()
{
    WindowOnPty f;
    QVERIFY2(f.open(), qPrintable(f.problem()));
    QVERIFY(f.line.pty.write(QByteArray("\x4f\x4b\x0d\x0a")));
    QCOMPARE(receiveUntil(f, QStringLiteral("OK[13][10]")), QStringLiteral("OK[13][10]"));
    QCOMPARE(f.form->state().Mode, qint16(2));
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
    f.click(PortControl::Close);
    QVERIFY(!f.isOpen());
    QCOMPARE(buttonStates(f.c()), kClosed);

    // Closed means released: another window can take the port now.
    TestWindow other(TestWindow::Real);
    QVERIFY2(other.open(1), qPrintable(other.form->port().errorString()));
    other.click(PortControl::Close);

    QVERIFY2(f.open(), qPrintable(f.problem()));
    QCOMPARE(buttonStates(f.c()), kOpen);
}

void TestPortControl::realPulledCableClosesThePortOnce()
{
    WindowOnPty f(3);
    QVERIFY2(f.open(), qPrintable(f.problem()));

    int losses = 0;
    QObject::connect(&f.form->port(), &SerialPort::lost, [&losses] { ++losses; });
    f.line.pty.closeMaster();
    QTRY_COMPARE_WITH_TIMEOUT(losses, 1, kWaitMs);
    QCOMPARE(buttonStates(f.c()), kClosed);
    QCOMPARE(Controls::boxText(f.c().Text3), PortControl::lostMessage(3));
    QVERIFY(!f.isOpen());
    // A second report would come from the same error repeating; give it the
    // time it would take.
    QTest::qWait(300);
    QCOMPARE(losses, 1);

    // A new device under the same number opens again.
    PtyPair replacement;
    QVERIFY2(replacement.isValid(), qPrintable(replacement.error()));
    QVERIFY(f.line.plugIn(replacement));
    QVERIFY2(f.open(), qPrintable(f.problem()));
}

QTEST_MAIN(TestPortControl)
#include "tst_PortControl.moc"
