// The port buttons: open with the window's settings, send, receive, close,
// and a port lost under the window. On fakes for the handler's logic, and on
// real pseudo-terminals for what reaches the line.
#include "FakeSerialPort.h"
#include "FormFixture.h"
#include "PortControl.h"
#include "PortFolder.h"
#include "PtyPair.h"
#include "QtSerialPort.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

namespace {

constexpr int kWaitMs = 3000;

// A loaded Form1 whose port is the real serial port layer; the timers and the
// clock stay fakes.
struct RealForm {
    QtSerialPort *port = nullptr;
    std::unique_ptr<Form1> form;

    RealForm()
    {
        PlatformServices services;
        auto realPort = std::make_unique<QtSerialPort>();
        port = realPort.get();
        services.MSComm1 = std::move(realPort);
        services.clock = std::make_unique<FakeClock>();
        services.Timer1 = std::make_unique<FakeTimer>();
        services.Timer2 = std::make_unique<FakeTimer>();
        form = std::make_unique<Form1>(std::move(services));
        form->load();
    }
    Controls &c() { return form->controls(); }
    void click(int index) { QTest::mouseClick(c().Command1[index], Qt::LeftButton); }
};

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

// Clicks Receive until the receive boxes seen so far add up to `expected`.
QString receiveUntil(RealForm &f, const QString &expected)
{
    QString seen;
    QElapsedTimer timer;
    timer.start();
    while (seen.size() < expected.size() && timer.elapsed() < kWaitMs) {
        f.click(PortControl::Receive);
        seen += Controls::boxText(f.c().Text3);
        if (seen.size() < expected.size())
            QTest::qWait(10);
    }
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
    void realOpenFailsOnMissingDevice();
    void realOpenFailsOnBusyDeviceAndLeavesHolderAlone();
    void realSendPutsBytesOnTheLine();
    void realSendsBeyondTheBoundAreRefusedWhole();
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

    FakeForm f;
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
    FakeForm f;
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
    FakeForm f;
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
    FakeForm f;
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

    FakeForm f;
    f.form->portControl().click(PortControl::Open);
    f.state().Mode = 2;
    f.state().Stats = {1, 2, 3, 4, 5, 6};
    Controls::setBoxText(f.c().Text2, QStringLiteral("A[13]"));
    Controls::setBoxText(f.c().Text3, shown);
    f.port->setRefusing(true);

    f.form->portControl().click(PortControl::Send);
    const QString said = PortControl::sendRefusedMessage();
    const QString once = shown.isEmpty() ? said : shown + QStringLiteral("\r\n") + said;
    QCOMPARE(Controls::boxText(f.c().Text3), once);
    QCOMPARE(f.port->written(), QByteArray());
    QCOMPARE(f.state().Mode, qint16(2));
    const std::array<float, 6> untouched = {1, 2, 3, 4, 5, 6};
    QCOMPARE(f.state().Stats, untouched);

    // Each click that is refused says so.
    f.form->portControl().click(PortControl::Send);
    QCOMPARE(Controls::boxText(f.c().Text3), once + QStringLiteral("\r\n") + said);

    f.port->setRefusing(false);
    f.form->portControl().click(PortControl::Send);
    QCOMPARE(f.port->written(), QByteArray("A\r"));
    QCOMPARE(f.state().Mode, qint16(1));
}

void TestPortControl::receiveShowsEscapedArrivalsAndEntersEchoMode()
{
    FakeForm f;
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
    FakeForm f;
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
    FakeForm f;
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
    FakeForm f;
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

    PortFolder folder;
    PtyPair pty;
    QVERIFY2(pty.isValid(), qPrintable(pty.error()));
    QVERIFY(folder.map(7, pty.slavePath()));

    RealForm f;
    f.c().Text1_5->setText(QStringLiteral("7"));
    f.c().Combo1[0]->setEditText(baud);
    f.c().Combo1[3]->setEditText(stopBits);
    f.c().Combo1[4]->setCurrentIndex(handshaking);
    f.click(PortControl::Open);

    QVERIFY2(f.port->isOpen(), qPrintable(f.port->errorString()));
    QCOMPARE(buttonStates(f.c()), kOpen);
    const struct termios t = pty.slaveTermios();
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
    PortFolder folder;
    PtyPair pty;
    QVERIFY2(pty.isValid(), qPrintable(pty.error()));
    QVERIFY(folder.map(1, pty.slavePath()));

    for (int box : {1, 2}) { // 7 data bits, then even parity
        RealForm f;
        f.c().Combo1[box]->setCurrentIndex(1);
        f.click(PortControl::Open);
        QVERIFY(!f.port->isOpen());
        QCOMPARE(buttonStates(f.c()), kClosed);
        QCOMPARE(Controls::boxText(f.c().Text3), PortControl::openFailedMessage());
    }
}

void TestPortControl::realOpenFailsOnMissingDevice()
{
    PortFolder folder;
    QVERIFY(folder.map(1, QStringLiteral("/dev/commcheck-no-such-device")));
    RealForm f;
    f.click(PortControl::Open);
    QVERIFY(!f.port->isOpen());
    QCOMPARE(buttonStates(f.c()), kClosed);
    QCOMPARE(Controls::boxText(f.c().Text3), PortControl::openFailedMessage());
}

void TestPortControl::realOpenFailsOnBusyDeviceAndLeavesHolderAlone()
{
    PortFolder folder;
    PtyPair pty;
    QVERIFY2(pty.isValid(), qPrintable(pty.error()));
    QVERIFY(folder.map(1, pty.slavePath()));

    RealForm holder;
    holder.click(PortControl::Open);
    QVERIFY2(holder.port->isOpen(), qPrintable(holder.port->errorString()));

    RealForm second;
    second.click(PortControl::Open);
    QVERIFY(!second.port->isOpen());
    QCOMPARE(buttonStates(second.c()), kClosed);
    QCOMPARE(Controls::boxText(second.c().Text3), PortControl::openFailedMessage());

    // The holder still talks on the line both ways.
    Controls::setBoxText(holder.c().Text2, QStringLiteral("HI"));
    holder.click(PortControl::Send);
    QCOMPARE(pty.read(2, kWaitMs), QByteArray("HI"));
    QVERIFY(pty.write("YO"));
    QCOMPARE(receiveUntil(holder, QStringLiteral("YO")), QStringLiteral("YO"));
}

void TestPortControl::realSendPutsBytesOnTheLine()
{
    PortFolder folder;
    PtyPair pty;
    QVERIFY2(pty.isValid(), qPrintable(pty.error()));
    QVERIFY(folder.map(1, pty.slavePath()));

    RealForm f;
    f.click(PortControl::Open);
    QVERIFY2(f.port->isOpen(), qPrintable(f.port->errorString()));
    Controls::setBoxText(f.c().Text2, QStringLiteral("A[13]"));
    f.click(PortControl::Send);
    QCOMPARE(pty.read(2, kWaitMs), QByteArray("\x41\x0d"));
    QCOMPARE(f.form->state().Mode, qint16(1));
    // Nothing more than those two bytes.
    QCOMPARE(pty.readFor(100), QByteArray());
}

void TestPortControl::realSendsBeyondTheBoundAreRefusedWhole()
{
    PortFolder folder;
    PtyPair pty; // the far end reads nothing until the end
    QVERIFY2(pty.isValid(), qPrintable(pty.error()));
    QVERIFY(folder.map(1, pty.slavePath()));

    RealForm f;
    f.c().Combo1[4]->setCurrentIndex(0); // no handshaking: every byte is data
    f.port->setWriteBufferLimit(64 * 1024);
    f.click(PortControl::Open);
    QVERIFY2(f.port->isOpen(), qPrintable(f.port->errorString()));
    Controls::setBoxText(f.c().Text3, QStringLiteral("earlier"));

    // Sends of 16 KiB, told apart by number and letter, until one is refused.
    QByteArray taken;
    QString refusedText;
    for (int i = 0; i < 100 && refusedText.isEmpty(); ++i) {
        QString text = QStringLiteral("<%1>").arg(i);
        text += QString(16 * 1024 - text.size(), QChar(u'a' + i % 26));
        Controls::setBoxText(f.c().Text2, text);
        f.click(PortControl::Send);
        if (Controls::boxText(f.c().Text3).contains(PortControl::sendRefusedMessage()))
            refusedText = text;
        else
            taken += text.toLatin1();
    }
    QVERIFY2(!refusedText.isEmpty(), "no send was refused");
    QVERIFY(!taken.isEmpty());
    QCOMPARE(Controls::boxText(f.c().Text3),
             QStringLiteral("earlier\r\n") + PortControl::sendRefusedMessage());

    // The far end gets every send taken, whole and in order, and nothing of
    // the refused one; then sends go out again.
    QByteArray received = pty.read(int(taken.size()), kWaitMs);
    received += pty.readFor(100);
    QCOMPARE(received.size(), taken.size());
    QVERIFY(received == taken);
    f.click(PortControl::Send);
    QCOMPARE(pty.read(int(refusedText.size()), kWaitMs), refusedText.toLatin1());
}

void TestPortControl::realReceiveShowsBracketedCodes()
{
    PortFolder folder;
    PtyPair pty;
    QVERIFY2(pty.isValid(), qPrintable(pty.error()));
    QVERIFY(folder.map(1, pty.slavePath()));

    RealForm f;
    f.click(PortControl::Open);
    QVERIFY2(f.port->isOpen(), qPrintable(f.port->errorString()));
    QVERIFY(pty.write(QByteArray("\x4f\x4b\x0d\x0a")));
    QCOMPARE(receiveUntil(f, QStringLiteral("OK[13][10]")), QStringLiteral("OK[13][10]"));
    QCOMPARE(f.form->state().Mode, qint16(2));
}

void TestPortControl::realReceiveJoinsASplitDoubleByteCharacter()
{
    PortFolder folder;
    PtyPair pty;
    QVERIFY2(pty.isValid(), qPrintable(pty.error()));
    QVERIFY(folder.map(1, pty.slavePath()));

    RealForm f;
    f.click(PortControl::Open);
    QVERIFY2(f.port->isOpen(), qPrintable(f.port->errorString()));
    QVERIFY(pty.write(QByteArray("X\x82")));
    QCOMPARE(receiveUntil(f, QStringLiteral("X")), QStringLiteral("X"));
    QVERIFY(pty.write(QByteArray("\xa0")));
    QCOMPARE(receiveUntil(f, QStringLiteral("[-32096]")), QStringLiteral("[-32096]"));
}

void TestPortControl::realCloseAndReopen()
{
    PortFolder folder;
    PtyPair pty;
    QVERIFY2(pty.isValid(), qPrintable(pty.error()));
    QVERIFY(folder.map(1, pty.slavePath()));

    RealForm f;
    f.click(PortControl::Open);
    QVERIFY2(f.port->isOpen(), qPrintable(f.port->errorString()));
    f.click(PortControl::Close);
    QVERIFY(!f.port->isOpen());
    QCOMPARE(buttonStates(f.c()), kClosed);

    // Closed means released: another window can take the port now.
    RealForm other;
    other.click(PortControl::Open);
    QVERIFY2(other.port->isOpen(), qPrintable(other.port->errorString()));
    other.click(PortControl::Close);

    f.click(PortControl::Open);
    QVERIFY2(f.port->isOpen(), qPrintable(f.port->errorString()));
    QCOMPARE(buttonStates(f.c()), kOpen);
}

void TestPortControl::realPulledCableClosesThePortOnce()
{
    PortFolder folder;
    PtyPair pty;
    QVERIFY2(pty.isValid(), qPrintable(pty.error()));
    QVERIFY(folder.map(3, pty.slavePath()));

    RealForm f;
    f.c().Text1_5->setText(QStringLiteral("3"));
    f.click(PortControl::Open);
    QVERIFY2(f.port->isOpen(), qPrintable(f.port->errorString()));

    int losses = 0;
    QObject::connect(f.port, &SerialPort::lost, [&losses] { ++losses; });
    pty.closeMaster();
    QTRY_COMPARE_WITH_TIMEOUT(losses, 1, kWaitMs);
    QCOMPARE(buttonStates(f.c()), kClosed);
    QCOMPARE(Controls::boxText(f.c().Text3), PortControl::lostMessage(3));
    QVERIFY(!f.port->isOpen());
    QTest::qWait(300);
    QCOMPARE(losses, 1);

    // A new device under the same number opens again.
    PtyPair replacement;
    QVERIFY2(replacement.isValid(), qPrintable(replacement.error()));
    QVERIFY(folder.unmap(3));
    QVERIFY(folder.map(3, replacement.slavePath()));
    f.click(PortControl::Open);
    QVERIFY2(f.port->isOpen(), qPrintable(f.port->errorString()));
}

QTEST_MAIN(TestPortControl)
#include "tst_PortControl.moc"
