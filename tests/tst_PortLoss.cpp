// A port that goes away under the running window: the far side of the
// pseudo-terminal is ended, as when a USB adapter is pulled out, in each state
// the window can be in. The window closes the port once, says so once, keeps
// its timers as a closed port leaves them, stays idle, and opens the port
// again once the device is back.
#include "LoopbackCheck.h"
#include "Timer.h"
#include "WindowOnPty.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <ctime>
#include <thread>

namespace {

// Only a failing test waits this long.
constexpr int kWaitMs = 10000;
constexpr int kPortNumber = 4;
const QString kText = QStringLiteral("ABC[13]");

enum class Moment { IdleOpen, DuringSend, DuringReceive, DuringClose, Checking, Answering };

struct ButtonStates {
    bool open, send, receive, close;
    bool operator==(const ButtonStates &) const = default;
};

ButtonStates buttonStates(Controls &c)
{
    return {c.portButtons[Form1::Open]->isEnabled(), c.portButtons[Form1::Send]->isEnabled(),
            c.portButtons[Form1::Receive]->isEnabled(), c.portButtons[Form1::Close]->isEnabled()};
}

constexpr ButtonStates kClosed{true, false, false, false};

// How long a window with its device gone is watched for a busy loop, and the
// share of that time it may spend on the CPU. A loop spinning on the dead
// device takes all the CPU it gets, a whole core unless other programs crowd
// it out; an idle window takes well under 1%, a few per cent under the
// sanitizers.
constexpr int kWatchMs = 2000;
constexpr double kBusyShare = 0.65;

// How long the far side may take to write a burst through a busy machine.
constexpr int kBurstWaitMs = 60000;

// CPU time the process used, all threads, in ms.
double processCpuMs()
{
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

} // namespace

namespace QTest {
template <> char *toString(const ButtonStates &s)
{
    return qstrdup(QStringLiteral("open %1 send %2 receive %3 close %4")
                       .arg(s.open)
                       .arg(s.send)
                       .arg(s.receive)
                       .arg(s.close)
                       .toUtf8()
                       .constData());
}
} // namespace QTest

Q_DECLARE_METATYPE(Moment)

class TestPortLoss : public QObject {
    Q_OBJECT
private slots:
    void pulledCableIsHandledOnce_data();
    void pulledCableIsHandledOnce();
    void busyPortIsRefusedAndHolderKeepsIt_data();
    void busyPortIsRefusedAndHolderKeepsIt();
    void burstOfHostileBytesIsReadInOnePoll_data();
    void burstOfHostileBytesIsReadInOnePoll();
};

void TestPortLoss::pulledCableIsHandledOnce_data()
{
    QTest::addColumn<Moment>("moment");
    QTest::addColumn<bool>("lossShown"); // false: the user's close came first

    QTest::newRow("idle with the port open") << Moment::IdleOpen << true;
    QTest::newRow("during send") << Moment::DuringSend << true;
    QTest::newRow("during receive") << Moment::DuringReceive << true;
    QTest::newRow("during close") << Moment::DuringClose << false;
    QTest::newRow("checking station waiting for the echo") << Moment::Checking << true;
    QTest::newRow("answering station polling") << Moment::Answering << true;
}

void TestPortLoss::pulledCableIsHandledOnce()
{
    QFETCH(Moment, moment);
    QFETCH(bool, lossShown);

    WindowOnPty station(kPortNumber);
    Controls &c = station.c();
    QVERIFY2(station.open(), qPrintable(station.problem()));
    int losses = 0;
    QObject::connect(&station.form->port(), &SerialPort::lost, [&losses] { ++losses; });

    const int probeMs = 30;
    if (moment == Moment::Checking) {
        // The far side never answers: the probe stays outstanding.
        station.check(kText, probeMs);
        QTRY_VERIFY_WITH_TIMEOUT(station.check().waiting(), kWaitMs);
        QVERIFY(station.form->pollTimer().isRunning());
    } else if (moment == Moment::Answering) {
        station.answer(kText);
        QVERIFY(station.form->pollTimer().isRunning());
    }
    // What the receive box shows stays through the loss.
    Controls::setBoxText(c.receivedText, QStringLiteral("OK[13][10]"));
    QString shownBefore = Controls::boxText(c.receivedText);

    station.line.pty.closeMaster();
    // The click comes before the window has had a chance to notice.
    switch (moment) {
    case Moment::DuringSend:
        Controls::setBoxText(c.sendText, kText);
        station.form->controls().portButtons[Form1::Send]->click();
        break;
    case Moment::DuringReceive:
        station.form->controls().portButtons[Form1::Receive]->click();
        shownBefore = Controls::boxText(c.receivedText); // what the read brought
        break;
    case Moment::DuringClose:
        station.form->controls().portButtons[Form1::Close]->click();
        break;
    default:
        break;
    }

    QTRY_VERIFY_WITH_TIMEOUT(!station.isOpen(), kWaitMs);
    if (lossShown) {
        QTRY_COMPARE_WITH_TIMEOUT(losses, 1, kWaitMs);
    }
    // Let the window run a while with the device gone: no further report, no
    // error flood, no busy loop.
    QElapsedTimer wall;
    wall.start();
    const double cpuBefore = processCpuMs();
    // The window's own event loop, as the program runs it: QTest::qWait naps
    // between its passes, which would hide most of a loop's spinning.
    QEventLoop watch;
    QTimer::singleShot(kWatchMs, Qt::PreciseTimer, &watch, &QEventLoop::quit);
    watch.exec();
    const double cpuUsed = processCpuMs() - cpuBefore;
    const double wallMs = double(wall.elapsed());
    QCOMPARE(losses, lossShown ? 1 : 0);
    QVERIFY(!station.isOpen());
    QCOMPARE(buttonStates(c), kClosed);
    // The loss is said after what the box held, which stays; a close by the
    // user that came first leaves the box as it was.
    const QString lostLine = Form1::lostMessage(kPortNumber);
    QCOMPARE(Controls::boxText(c.receivedText),
             !lossShown              ? shownBefore
             : shownBefore.isEmpty() ? lostLine
                                     : shownBefore + QStringLiteral("\r\n") + lostLine);
    if (lossShown)
        QCOMPARE(Controls::boxText(c.receivedText).count(QStringLiteral("接続が切れました")), 1);
    QVERIFY2(cpuUsed < kBusyShare * wallMs,
             qPrintable(QStringLiteral("%1 ms of CPU in %2 ms").arg(cpuUsed).arg(wallMs)));

    // The timers as a closed port leaves them.
    if (moment == Moment::Checking) {
        // A probe tick found the port closed and stopped the poller; the
        // check itself still runs, sending nothing until the port is back.
        QCOMPARE(station.form->probeTimer().interval(), probeMs);
        QVERIFY(!station.form->pollTimer().isRunning());
        QCOMPARE(station.check().waiting(), bool(0));
        QCOMPARE(station.check().running(), bool(1));
        QCOMPARE(c.startButton->text(), QStringLiteral("終了"));
    } else if (moment == Moment::Answering) {
        // The poller runs on and does nothing with the port closed.
        QCOMPARE(station.form->pollTimer().interval(), 50);
        QVERIFY(!station.form->probeTimer().isRunning());
    } else {
        QVERIFY(!station.form->probeTimer().isRunning());
        QVERIFY(!station.form->pollTimer().isRunning());
    }

    // The adapter comes back (as a new device behind the same port number):
    // the port opens again and carries data both ways.
    PtyPair back;
    QVERIFY2(back.isValid(), qPrintable(back.error()));
    QVERIFY(station.line.plugIn(back));
    QVERIFY2(station.open(), qPrintable(station.problem()));
    Controls::setBoxText(c.sendText, QStringLiteral("UP"));
    station.form->controls().portButtons[Form1::Send]->click();
    // A check still running sends again once the text has been sent anew.
    const QByteArray sent = moment == Moment::Checking ? "UPUP" : "UP";
    QCOMPARE(back.read(sent.size(), kWaitMs), sent);
    QVERIFY(back.write("OK"));
    QVERIFY(back.waitUntilDelivered(kWaitMs));
    station.form->controls().portButtons[Form1::Receive]->click();
    QTRY_VERIFY_WITH_TIMEOUT(Controls::boxText(c.receivedText).endsWith(u"OK"), kWaitMs);
    QCOMPARE(losses, lossShown ? 1 : 0);
}

void TestPortLoss::busyPortIsRefusedAndHolderKeepsIt_data()
{
    QTest::addColumn<bool>("throughLinkChain");

    QTest::newRow("port folder names the device") << false;
    QTest::newRow("port folder names a link to the device") << true;
}

void TestPortLoss::busyPortIsRefusedAndHolderKeepsIt()
{
    QFETCH(bool, throughLinkChain);

    WindowOnPty holder(1);
    PtyPair &pty = holder.line.pty;
    QTemporaryDir links;
    QVERIFY(links.isValid());
    QString device = pty.slavePath();
    if (throughLinkChain) {
        // Like /dev/serial/by-id/... pointing at the adapter's node.
        const QString byId = links.filePath(QStringLiteral("usb-Adapter-if00-port0"));
        QVERIFY(QFile::link(pty.slavePath(), byId));
        device = byId;
    }
    QVERIFY(holder.line.folder.map(2, device));

    // The holder opened the device by its own name; the second copy reaches
    // it through another name.
    QVERIFY2(holder.open(), qPrintable(holder.problem()));
    TestWindow second(TestWindow::Real);
    QVERIFY(!second.open(2));
    QCOMPARE(buttonStates(second.c()), kClosed);
    QCOMPARE(Controls::boxText(second.c().receivedText), Form1::openFailedMessage());

    // The holder keeps its port and its line.
    QVERIFY(holder.isOpen());
    Controls::setBoxText(holder.c().sendText, QStringLiteral("HI"));
    holder.form->controls().portButtons[Form1::Send]->click();
    QCOMPARE(pty.read(2, kWaitMs), QByteArray("HI"));
    QVERIFY(pty.write("YO"));
    QVERIFY(pty.waitUntilDelivered(kWaitMs));
    holder.form->controls().portButtons[Form1::Receive]->click();
    QTRY_VERIFY_WITH_TIMEOUT(Controls::boxText(holder.c().receivedText).endsWith(u"YO"), kWaitMs);
}

void TestPortLoss::burstOfHostileBytesIsReadInOnePoll_data()
{
    QTest::addColumn<QByteArray>("pattern");

    QTest::newRow("NUL bytes") << QByteArray(1, '\0');
    QTest::newRow("lead byte before an invalid trail byte") << QByteArray("\x81\x7f");
    QTest::newRow("lead byte before a control code") << QByteArray("\x9f\x0d");
    QTest::newRow("bytes no character starts with") << QByteArray("\xfd\xa0\xff\x80");
    QTest::newRow("double-byte characters") << QByteArray("\x82\xa0");
}

void TestPortLoss::burstOfHostileBytesIsReadInOnePoll()
{
    QFETCH(QByteArray, pattern);

    WindowOnPty station;
    PtyPair &pty = station.line.pty;
    QVERIFY2(station.open(), qPrintable(station.problem()));
    // An answering station whose text never comes: it only collects.
    station.answer(QStringLiteral("NEVER"));
    station.form->pollTimer().setInterval(0); // polls by hand below

    // 4 MB arrive between two polls: the port takes them in while the
    // window waits, and the next poll has all of them at once.
    const qsizetype total = 4 * 1024 * 1024;
    QByteArray burst;
    burst.reserve(total + pattern.size());
    while (burst.size() < total)
        burst += pattern;
    std::atomic<bool> fed{false};
    std::atomic<bool> feedOk{true};
    std::thread feeder([&] {
        for (qsizetype at = 0; at < burst.size() && feedOk; at += 64 * 1024)
            feedOk = pty.write(burst.mid(at, 64 * 1024));
        fed = true;
    });
    // The event loop runs meanwhile (qWait keeps it running while bytes come;
    // qWaitFor would let it run once per pass), so the port takes them in.
    const QDeadlineTimer deadline(kBurstWaitMs);
    while (!fed && !deadline.hasExpired())
        QTest::qWait(10);
    const bool allFed = fed;
    feeder.join(); // a feeder still writing gives up within its write's own limit
    QVERIFY2(allFed && feedOk, "the far side could not write the burst");
    // The port has taken up every byte: none waits at the slave side, nor in
    // the kernel on its way there.
    QTRY_COMPARE_WITH_TIMEOUT(pty.pendingAtSlave(), qsizetype(0), kWaitMs);

    station.form->check().poll();

    // The whole burst was taken by that one poll, and none of it, which can
    // begin no answer, is kept.
    QCOMPARE(station.check().received(), QString());
    QCOMPARE(station.form->port().input(), QString());
    QVERIFY(station.isOpen());
    QCOMPARE(station.check().mode(), LoopbackCheck::Mode::Echo);
}

QTEST_MAIN(TestPortLoss)
#include "tst_PortLoss.moc"
