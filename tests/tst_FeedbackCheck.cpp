// The loop-back check and the echo responder, on a fake port, fake timers and
// a fake clock: every state change, the statistics and their display.
#include "FeedbackCheck.h"
#include "FormFixture.h"
#include "PortControl.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

using namespace std::chrono_literals;

namespace {

// A checking station: port open, send box sent once, check ticked.
struct Station : FakeForm {
    explicit Station(const QString &text = QStringLiteral("AB[13]"))
    {
        form->portControl().click(PortControl::Open);
        Controls::setBoxText(c().Text2, text);
        c().Check1->setChecked(true);
    }
    FeedbackCheck &check() { return form->feedbackCheck(); }
    void send()
    {
        form->portControl().click(PortControl::Send);
        port->clearWritten();
    }
    void start() { check().click(); }
    QString label(int i) const { return form->controls().Label4[i]->text(); }
    QStringList labels() const
    {
        QStringList list;
        for (int i = 0; i < 6; ++i)
            list << label(i);
        return list;
    }
    // One full exchange: probe, the echo arrives after `delay`, a poll finds it.
    void exchange(Clock::Duration delay, const QByteArray &echo)
    {
        timer1->fire();
        clock->advance(delay);
        port->feed(echo);
        timer2->fire();
    }
};

} // namespace

class TestFeedbackCheck : public QObject {
    Q_OBJECT
private slots:
    void startNeedsFeedbackModeAndANumber_data();
    void startNeedsFeedbackModeAndANumber();
    void startSetsProbeIntervalCaptionAndRunning();
    void stopStopsBothTimersAndClearsTheProbe();
    void probeSendsOnlyWhenTickedOpenAndNotWaiting();
    void probeWithPortClosedStopsThePoller();
    void exchangeTimesAndShowsStatistics();
    void statisticsOverSeveralExchanges();
    void forty_msExchangeLeavesExactStats();
    void replyInTwoReadsIsJoined();
    void wrongReplyCountsAnErrorEveryPoll();
    void emptySendBoxMatchesAtOnce();
    void echoStationAnswersEachArrival();
    void echoStartNeedsNoNumber();
    void japaneseAndLeadingZeroTextsMatchTheirEcho_data();
    void japaneseAndLeadingZeroTextsMatchTheirEcho();
    void stopWhileProbeOutstandingResumesOnRestart();
    void closeReopenSendStartResumesProbing();
    void sendDuringRunResetsStatistics();
    void zeroIntervalShowsRunningButNeverProbes();
    void pollLetsPendingClicksRunFirst();
    void strayTextKeepsEchoStationSilentButBounded();
    void refusedProbeOrAnswerIsSaidOnceAndRetried_data();
    void refusedProbeOrAnswerIsSaidOnceAndRetried();
};

void TestFeedbackCheck::startNeedsFeedbackModeAndANumber_data()
{
    QTest::addColumn<QString>("interval");
    QTest::addColumn<bool>("starts");
    QTest::addColumn<int>("timerInterval");

    QTest::newRow("default") << "1000" << true << 1000;
    QTest::newRow("spaces and fraction") << " 20.5 " << true << 20;
    QTest::newRow("exponent") << "1e2" << true << 100;
    QTest::newRow("not a number") << "abc" << false << 0;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("negative") << "-5" << false << 0;
    QTest::newRow("beyond 32 bits") << "3000000000" << false << 0;
}

void TestFeedbackCheck::startNeedsFeedbackModeAndANumber()
{
    QFETCH(QString, interval);
    QFETCH(bool, starts);
    QFETCH(int, timerInterval);

    Station s;
    s.c().Text4->setText(interval);
    s.start(); // Mode 0: nothing at all
    QCOMPARE(s.c().Command2->text(), QStringLiteral("開始"));
    QCOMPARE(s.timer1->interval(), 0);

    s.send();
    s.start();
    QCOMPARE(s.timer1->interval(), timerInterval);
    QCOMPARE(s.c().Command2->text(), starts ? QStringLiteral("終了") : QStringLiteral("開始"));
    QCOMPARE(s.state().Running, quint8(starts ? 1 : 0));
}

void TestFeedbackCheck::startSetsProbeIntervalCaptionAndRunning()
{
    Station s;
    s.send();
    s.start();
    QCOMPARE(s.timer1->interval(), 1000);
    QCOMPARE(s.timer2->interval(), 0);
    QCOMPARE(s.state().Running, quint8(1));
    QCOMPARE(s.state().Waiting, quint8(0));
}

void TestFeedbackCheck::stopStopsBothTimersAndClearsTheProbe()
{
    Station s;
    s.send();
    s.start();
    s.timer1->fire();
    QCOMPARE(s.state().Waiting, quint8(1));
    QCOMPARE(s.timer2->interval(), 50);

    s.start(); // stop
    QCOMPARE(s.c().Command2->text(), QStringLiteral("開始"));
    QCOMPARE(s.state().Running, quint8(0));
    QCOMPARE(s.timer1->interval(), 0);
    QCOMPARE(s.timer2->interval(), 0);
    QCOMPARE(s.state().Waiting, quint8(0));
}

void TestFeedbackCheck::probeSendsOnlyWhenTickedOpenAndNotWaiting()
{
    Station s;
    s.send();
    s.start();

    s.c().Check1->setChecked(false);
    s.timer1->fire();
    QCOMPARE(s.port->written(), QByteArray());
    QCOMPARE(s.state().Waiting, quint8(0));

    s.c().Check1->setChecked(true);
    s.clock->set(5s);
    s.timer1->fire();
    QCOMPARE(s.port->written(), QByteArray("AB\r"));
    QCOMPARE(s.state().Waiting, quint8(1));
    QCOMPARE(s.state().SendTime, Clock::Duration(5s));
    QCOMPARE(s.timer2->interval(), 50);

    // While the probe is out, ticks send nothing.
    s.timer1->fire();
    s.timer1->fire();
    QCOMPARE(s.port->written(), QByteArray("AB\r"));
}

void TestFeedbackCheck::probeWithPortClosedStopsThePoller()
{
    Station s;
    s.send();
    s.start();
    s.timer1->fire();
    QCOMPARE(s.timer2->interval(), 50);
    s.port->clearWritten();

    s.form->portControl().click(PortControl::Close);
    s.timer1->fire();
    QCOMPARE(s.timer2->interval(), 0);
    QCOMPARE(s.state().Waiting, quint8(0));
    QCOMPARE(s.timer1->interval(), 1000); // the probe timer keeps running
    QCOMPARE(s.state().Running, quint8(1));

    // Ticks with the port closed send nothing; polls read nothing.
    s.timer1->fire();
    QCOMPARE(s.port->written(), QByteArray());
}

void TestFeedbackCheck::exchangeTimesAndShowsStatistics()
{
    Station s;
    s.send();
    s.start();
    s.exchange(62500us, "AB\r");

    QCOMPARE(s.labels(), QStringList({"62.5", "62.5", "62.5", "62.5", "1", "0"}));
    QCOMPARE(s.state().Waiting, quint8(0));
    QCOMPARE(s.timer2->interval(), 0);
    QCOMPARE(Controls::boxText(s.c().Text3), QStringLiteral("AB[13]"));
    QVERIFY(s.state().RxBuffer.isEmpty());

    // The next tick sends again.
    s.timer1->fire();
    QCOMPARE(s.port->written(), QByteArray("AB\rAB\r"));
}

void TestFeedbackCheck::statisticsOverSeveralExchanges()
{
    Station s;
    s.send();
    s.start();
    const std::array<Clock::Duration, 4> delays = {50ms, 120ms, 30ms, 75ms};
    for (Clock::Duration d : delays)
        s.exchange(d, "AB\r");

    QCOMPARE(s.labels(), QStringList({"75", "275", "120", "30", "4", "0"}));
    const auto &st = s.state().Stats;
    QVERIFY(st[WindowState::MinTime] <= st[WindowState::LastTime]);
    QVERIFY(st[WindowState::LastTime] <= st[WindowState::MaxTime]);
}

void TestFeedbackCheck::forty_msExchangeLeavesExactStats()
{
    Station s;
    s.send();
    s.start();
    s.exchange(40ms, "AB\r");
    const std::array<float, 6> expected = {0.04f, 0.04f, 0.04f, 0.04f, 1.0f, 0.0f};
    QCOMPARE(s.state().Stats, expected);
}

void TestFeedbackCheck::replyInTwoReadsIsJoined()
{
    Station s;
    s.send();
    s.start();
    s.timer1->fire();
    s.clock->advance(50ms);
    s.port->feed("AB");
    s.timer2->fire();
    QCOMPARE(s.state().Waiting, quint8(1));
    QCOMPARE(s.state().RxBuffer, QStringLiteral("AB"));
    QCOMPARE(s.label(4), QStringLiteral("Label4"));

    s.clock->advance(50ms);
    s.port->feed("\r");
    s.timer2->fire();
    QCOMPARE(s.state().Waiting, quint8(0));
    QCOMPARE(s.label(0), QStringLiteral("100"));
    // The receive box shows only the read that completed the echo.
    QCOMPARE(Controls::boxText(s.c().Text3), QStringLiteral("[13]"));
}

void TestFeedbackCheck::wrongReplyCountsAnErrorEveryPoll()
{
    Station s;
    s.send();
    s.start();
    s.timer1->fire();
    s.port->feed("XAB");
    s.timer2->fire();
    QCOMPARE(s.state().RxBuffer, QStringLiteral("XAB"));
    QCOMPARE(s.state().Stats[WindowState::Errors], 0.0f);

    s.port->feed("\r");
    s.timer2->fire();
    QCOMPARE(s.state().RxBuffer, QStringLiteral("XAB[13]"));
    QCOMPARE(s.state().Stats[WindowState::Errors], 1.0f);
    s.timer2->fire();
    s.timer2->fire();
    QCOMPARE(s.state().Stats[WindowState::Errors], 3.0f);
    QCOMPARE(s.state().Waiting, quint8(1));
    // Errors are not shown until an exchange completes.
    QCOMPARE(s.label(5), QStringLiteral("Label4"));
}

void TestFeedbackCheck::emptySendBoxMatchesAtOnce()
{
    Station s(QString{});
    s.send();
    s.start();
    s.timer1->fire();
    s.clock->advance(50ms);
    s.timer2->fire();
    QCOMPARE(s.state().Waiting, quint8(0));
    QCOMPARE(s.label(0), QStringLiteral("50"));
    QCOMPARE(s.label(4), QStringLiteral("1"));
}

void TestFeedbackCheck::echoStationAnswersEachArrival()
{
    FakeForm f;
    f.form->portControl().click(PortControl::Open);
    Controls::setBoxText(f.c().Text2, QStringLiteral("AB[13]"));
    f.form->portControl().click(PortControl::Receive);
    QCOMPARE(f.state().Mode, qint16(2));
    f.form->feedbackCheck().click();
    QCOMPARE(f.timer2->interval(), 50);
    QCOMPARE(f.c().Command2->text(), QStringLiteral("開始"));
    QCOMPARE(f.state().Running, quint8(0));

    f.timer2->fire(); // nothing yet
    QCOMPARE(f.port->written(), QByteArray());

    f.port->feed("AB");
    f.timer2->fire();
    QCOMPARE(f.port->written(), QByteArray());
    f.port->feed("\r");
    f.timer2->fire();
    QCOMPARE(f.port->written(), QByteArray("AB\r"));
    QCOMPARE(Controls::boxText(f.c().Text3), QStringLiteral("[13]"));
    QVERIFY(f.state().RxBuffer.isEmpty());

    f.port->feed("AB\r");
    f.timer2->fire();
    QCOMPARE(f.port->written(), QByteArray("AB\rAB\r"));
    QCOMPARE(f.timer2->interval(), 50); // keeps polling
}

void TestFeedbackCheck::echoStartNeedsNoNumber()
{
    FakeForm f;
    f.form->portControl().click(PortControl::Open);
    f.form->portControl().click(PortControl::Receive);
    f.c().Text4->setText(QStringLiteral("abc"));
    f.form->feedbackCheck().click();
    f.form->feedbackCheck().click();
    QCOMPARE(f.timer2->interval(), 50);
    QCOMPARE(f.timer1->interval(), 0);
}

void TestFeedbackCheck::japaneseAndLeadingZeroTextsMatchTheirEcho_data()
{
    QTest::addColumn<QString>("typed");

    QTest::newRow("Japanese") << QStringLiteral("あいう[13]");
    QTest::newRow("leading zero") << QStringLiteral("AB[013]");
    QTest::newRow("printable code") << QStringLiteral("[65]B");
    QTest::newRow("typed line break") << QStringLiteral("A\r\nB");
    QTest::newRow("ERR escape") << QStringLiteral("[300]");
    QTest::newRow("half-width katakana") << QStringLiteral("ｱｲｳ");
}

void TestFeedbackCheck::japaneseAndLeadingZeroTextsMatchTheirEcho()
{
    QFETCH(QString, typed);

    Station s(typed);
    s.send();
    s.start();
    s.timer1->fire();
    const QByteArray perfectEcho = s.port->written();
    QVERIFY(!perfectEcho.isEmpty());
    s.clock->advance(20ms);
    s.port->feed(perfectEcho);
    s.timer2->fire();
    QCOMPARE(s.state().Waiting, quint8(0));
    QCOMPARE(s.label(4), QStringLiteral("1"));
    QCOMPARE(s.label(5), QStringLiteral("0"));

    // And an echo station answers it.
    FakeForm echo;
    echo.form->portControl().click(PortControl::Open);
    Controls::setBoxText(echo.c().Text2, typed);
    echo.form->portControl().click(PortControl::Receive);
    echo.form->feedbackCheck().click();
    echo.port->feed(perfectEcho);
    echo.timer2->fire();
    QCOMPARE(echo.port->written(), perfectEcho);
}

void TestFeedbackCheck::stopWhileProbeOutstandingResumesOnRestart()
{
    Station s;
    s.send();
    s.start();
    s.timer1->fire(); // probe out, no echo
    s.start();        // stop
    s.start();        // start again
    QCOMPARE(s.c().Command2->text(), QStringLiteral("終了"));
    s.port->clearWritten();
    s.timer1->fire();
    QCOMPARE(s.port->written(), QByteArray("AB\r"));
    QCOMPARE(s.timer2->interval(), 50);
}

void TestFeedbackCheck::closeReopenSendStartResumesProbing()
{
    Station s;
    s.send();
    s.start();
    s.timer1->fire(); // probe out
    s.form->portControl().click(PortControl::Close);
    s.timer1->fire(); // finds the port closed
    s.form->portControl().click(PortControl::Open);
    s.send();
    s.start(); // Running was 1: this click stops
    s.start(); // and this one starts
    s.timer1->fire();
    QCOMPARE(s.port->written(), QByteArray("AB\r"));
    s.port->feed("AB\r");
    s.timer2->fire();
    QCOMPARE(s.label(4), QStringLiteral("1"));
}

void TestFeedbackCheck::sendDuringRunResetsStatistics()
{
    Station s;
    s.send();
    s.start();
    s.exchange(30ms, "AB\r");
    s.exchange(30ms, "AB\r");
    QCOMPARE(s.state().Stats[WindowState::Count], 2.0f);
    s.port->clearWritten();
    s.form->portControl().click(PortControl::Send);
    QCOMPARE(s.port->written(), QByteArray("AB\r"));
    const std::array<float, 6> reset = {0, 0, 0, 99999, 0, 0};
    QCOMPARE(s.state().Stats, reset);
    QCOMPARE(s.state().Running, quint8(1));
}

void TestFeedbackCheck::zeroIntervalShowsRunningButNeverProbes()
{
    Station s;
    s.c().Text4->setText(QStringLiteral("0"));
    s.send();
    s.start();
    QCOMPARE(s.c().Command2->text(), QStringLiteral("終了"));
    QCOMPARE(s.state().Running, quint8(1));
    QVERIFY(!s.timer1->fire());
    QCOMPARE(s.port->written(), QByteArray());
}

void TestFeedbackCheck::pollLetsPendingClicksRunFirst()
{
    Station s;
    s.send();
    s.start();
    s.timer1->fire();
    s.port->feed("AB\r");
    // A stop click waiting in the event queue runs at the poll's start; the
    // poll then sees the stopped check and leaves the echo unread.
    QMetaObject::invokeMethod(
        s.c().Command2, [&s] { s.c().Command2->click(); }, Qt::QueuedConnection);
    s.timer2->fire();
    QCOMPARE(s.state().Running, quint8(0));
    QCOMPARE(s.label(4), QStringLiteral("Label4"));
}

void TestFeedbackCheck::strayTextKeepsEchoStationSilentButBounded()
{
    FakeForm f;
    f.form->portControl().click(PortControl::Open);
    Controls::setBoxText(f.c().Text2, QStringLiteral("AB"));
    f.form->portControl().click(PortControl::Receive);
    f.form->feedbackCheck().click();
    f.port->feed("x");
    f.timer2->fire();
    f.port->feed("AB");
    f.timer2->fire();
    QCOMPARE(f.port->written(), QByteArray());

    // However much stray text arrives, the kept buffer stays within its cap.
    const QByteArray chunk(256 * 1024, 'z');
    for (int i = 0; i < 8; ++i) {
        f.port->feed(chunk);
        f.timer2->fire();
    }
    QCOMPARE(f.state().RxBuffer.size(), FeedbackCheck::kRxBufferCap);
    QVERIFY(f.state().RxBuffer.startsWith(QStringLiteral("xAB")));
    QCOMPARE(f.port->written(), QByteArray());
}

void TestFeedbackCheck::refusedProbeOrAnswerIsSaidOnceAndRetried_data()
{
    QTest::addColumn<bool>("echo");
    QTest::newRow("probe of a checking station") << false;
    QTest::newRow("answer of an answering station") << true;
}

void TestFeedbackCheck::refusedProbeOrAnswerIsSaidOnceAndRetried()
{
    QFETCH(bool, echo);

    // The port refuses while too much waits unsent (the line held): each
    // tick is refused, and the receive box says so once, after its text.
    Station s;
    if (echo) {
        s.form->portControl().click(PortControl::Receive);
        s.start();
    } else {
        s.send();
        s.start();
    }
    Controls::setBoxText(s.c().Text3, QStringLiteral("shown"));
    s.port->setRefusing(true);
    for (int tick = 0; tick < 3; ++tick) {
        if (echo) {
            s.port->feed("AB\r");
            s.timer2->fire();
        } else {
            s.timer1->fire();
        }
    }
    const QString said = PortControl::sendRefusedMessage();
    QCOMPARE(Controls::boxText(s.c().Text3),
             (echo ? QStringLiteral("AB[13]") : QStringLiteral("shown")) + QStringLiteral("\r\n") +
                 said);
    QCOMPARE(s.state().Waiting, quint8(0)); // no probe is out
    QCOMPARE(s.timer2->interval(), echo ? 50 : 0);

    // Once the port takes texts again, the next tick sends.
    s.port->setRefusing(false);
    if (echo) {
        s.port->feed("AB\r");
        s.timer2->fire();
    } else {
        s.timer1->fire();
        QCOMPARE(s.state().Waiting, quint8(1));
    }
    QCOMPARE(s.port->written(), QByteArray("AB\r"));
}

QTEST_MAIN(TestFeedbackCheck)
#include "tst_FeedbackCheck.moc"
