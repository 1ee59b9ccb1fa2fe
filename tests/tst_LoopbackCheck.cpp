// The loop-back check and the echo responder alone, on a fake port, fake
// timers and a fake clock: every state change, the statistics, the reply
// timeout and precise timing.
#include "BracketCodes.h"
#include "FakeClock.h"
#include "FakeSerialPort.h"
#include "FakeTimer.h"
#include "LoopbackCheck.h"

#include <QSignalSpy>
#include <QTest>

#include <optional>

using namespace std::chrono_literals;

namespace {

// A checking station: port open, probes enabled, the text sent once by
// send().
struct Station {
    FakeSerialPort port;
    FakeClock clock;
    FakeTimer probeTimer; // probe timer
    FakeTimer pollTimer;  // poller
    QString text;
    LoopbackCheck check{port, clock, probeTimer, pollTimer};
    QString shown; // what the last replyShown carried
    QList<Exchange> exchanges;

    explicit Station(const QString &typed = QStringLiteral("AB[13]")) : text(typed)
    {
        port.open();
        check.setTextSource([this] { return text; });
        check.setProbesEnabled(true);
        check.portOpened();
        QObject::connect(&check, &LoopbackCheck::replyShown,
                         [this](const QString &reply) { shown = reply; });
        QObject::connect(&check, &LoopbackCheck::exchangeCompleted,
                         [this](const Exchange &e) { exchanges << e; });
    }
    void send()
    {
        check.sendOnce();
        port.clearWritten();
    }
    void startStop(std::optional<qint32> intervalMs = 1000) { check.startStop(intervalMs); }
    // The six figures as the window shows them: times in ms.
    QStringList figures() const
    {
        QStringList list;
        const auto &v = check.statistics().values;
        for (int i = 0; i < 6; ++i) {
            const float shownValue =
                i <= Statistics::MinTime ? static_cast<float>(double(v[i]) * 1000.0) : v[i];
            list << QString::number(double(shownValue), 'g', 7);
        }
        return list;
    }
    float stat(Statistics::Slot slot) const { return check.statistics()[slot]; }
    // One full exchange: probe, the echo arrives after `delay`, a poll finds it.
    void exchange(Clock::Duration delay, const QByteArray &echo)
    {
        probeTimer.fire();
        clock.advance(delay);
        port.feed(echo);
        pollTimer.fire();
    }
};

// An answering station on the same fakes.
struct Answerer {
    FakeSerialPort port;
    FakeClock clock;
    FakeTimer probeTimer;
    FakeTimer pollTimer;
    LoopbackCheck check{port, clock, probeTimer, pollTimer};

    explicit Answerer(const QString &text)
    {
        port.open();
        check.setText(text);
        check.portOpened();
        check.receiveOnce();
        check.startStop(std::nullopt);
    }
};

} // namespace

class TestLoopbackCheck : public QObject {
    Q_OBJECT
private slots:
    void startNeedsFeedbackModeAndAnInterval_data();
    void startNeedsFeedbackModeAndAnInterval();
    void stopStopsBothTimersAndForgetsTheProbe();
    void probeSendsOnlyWhenEnabledOpenAndNotWaiting();
    void probeWithPortClosedStopsThePoller();
    void exchangeIsTimedAndShown();
    void statisticsOverSeveralExchanges();
    void fortyMsExchangeLeavesExactStatistics();
    void statisticsResetSetsHighMinimum();
    void replyInTwoReadsIsJoined();
    void wrongReplyCountsAnErrorEveryPoll_data();
    void wrongReplyCountsAnErrorEveryPoll();
    void emptyTextMatchesAtOnce();
    void echoStationAnswersEachArrival();
    void textsMatchTheirOwnEcho_data();
    void textsMatchTheirOwnEcho();
    void stopWhileProbeOutstandingResumesOnRestart();
    void closeReopenSendStartResumesProbing();
    void sendDuringRunResetsStatistics();
    void zeroIntervalRunsButNeverProbes();
    void pollLetsPendingEventsRunFirst();
    void echoStationSkipsNoiseBeforeTheText_data();
    void echoStationSkipsNoiseBeforeTheText();
    void freshStartClearsAStrayByte_data();
    void freshStartClearsAStrayByte();
    void lateReplyIsGivenUp_data();
    void lateReplyIsGivenUp();
    void onlyWhatCameAfterAProbeMatchesIt_data();
    void onlyWhatCameAfterAProbeMatchesIt();
    void preciseModeTimesTheEchoOnArrival_data();
    void preciseModeTimesTheEchoOnArrival();
    void largeReadingIsShownWhole();
    void refusedProbeIsRetriedRefusedAnswerDropped_data();
    void refusedProbeIsRetriedRefusedAnswerDropped();
};

void TestLoopbackCheck::startNeedsFeedbackModeAndAnInterval_data()
{
    QTest::addColumn<std::optional<qint32>>("interval");
    QTest::addColumn<bool>("starts");

    QTest::newRow("an interval") << std::optional<qint32>(1000) << true;
    QTest::newRow("zero") << std::optional<qint32>(0) << true;
    QTest::newRow("not a number") << std::optional<qint32>() << false;
    QTest::newRow("negative") << std::optional<qint32>(-5) << false;
}

void TestLoopbackCheck::startNeedsFeedbackModeAndAnInterval()
{
    QFETCH(std::optional<qint32>, interval);
    QFETCH(bool, starts);

    Station s;
    QSignalSpy running(&s.check, &LoopbackCheck::runningChanged);
    s.startStop(interval); // idle: nothing at all
    QVERIFY(!s.check.running());
    QCOMPARE(s.probeTimer.interval(), 0);

    s.send();
    s.startStop(interval);
    QCOMPARE(s.check.running(), starts);
    QCOMPARE(s.probeTimer.interval(), starts ? *interval : 0);
    QCOMPARE(s.pollTimer.interval(), 0);
    QCOMPARE(running.size(), starts ? 1 : 0);
}

void TestLoopbackCheck::stopStopsBothTimersAndForgetsTheProbe()
{
    Station s;
    s.send();
    s.startStop();
    s.probeTimer.fire();
    QVERIFY(s.check.waiting());
    QCOMPARE(s.pollTimer.interval(), 50);
    s.clock.advance(70ms);
    const std::optional<Exchange> awaited = s.check.awaitedProbe();
    QVERIFY(awaited);
    QCOMPARE(awaited->outcome, Exchange::Outcome::Unanswered);
    QCOMPARE(awaited->sequence, 1u);
    QCOMPARE(awaited->responseMs, 70.0);

    QSignalSpy running(&s.check, &LoopbackCheck::runningChanged);
    s.startStop(); // stop
    QCOMPARE(running.size(), 1);
    QCOMPARE(running.first().first().toBool(), false);
    QCOMPARE(s.probeTimer.interval(), 0);
    QCOMPARE(s.pollTimer.interval(), 0);
    QVERIFY(!s.check.waiting());
    QVERIFY(!s.check.awaitedProbe());
}

void TestLoopbackCheck::probeSendsOnlyWhenEnabledOpenAndNotWaiting()
{
    Station s;
    s.send();
    s.startStop();

    s.check.setProbesEnabled(false);
    s.probeTimer.fire();
    QCOMPARE(s.port.written(), QByteArray());
    QVERIFY(!s.check.waiting());

    s.check.setProbesEnabled(true);
    s.probeTimer.fire();
    QCOMPARE(s.port.written(), QByteArray("AB\r"));
    QVERIFY(s.check.waiting());
    QCOMPARE(s.pollTimer.interval(), 50);

    // While the probe is out, ticks send nothing.
    s.probeTimer.fire();
    s.probeTimer.fire();
    QCOMPARE(s.port.written(), QByteArray("AB\r"));
}

void TestLoopbackCheck::probeWithPortClosedStopsThePoller()
{
    Station s;
    s.send();
    s.startStop();
    s.probeTimer.fire();
    QCOMPARE(s.pollTimer.interval(), 50);
    s.port.clearWritten();

    s.port.close();
    s.probeTimer.fire();
    QCOMPARE(s.pollTimer.interval(), 0);
    QVERIFY(!s.check.waiting());
    QCOMPARE(s.probeTimer.interval(), 1000); // the probe timer keeps running
    QVERIFY(s.check.running());
    s.probeTimer.fire();
    QCOMPARE(s.port.written(), QByteArray());
}

void TestLoopbackCheck::exchangeIsTimedAndShown()
{
    Station s;
    s.send();
    s.startStop();
    QSignalSpy shownStats(&s.check, &LoopbackCheck::statisticsChanged);
    s.exchange(62500us, "AB\r");

    QCOMPARE(s.figures(), QStringList({"62.5", "62.5", "62.5", "62.5", "1", "0"}));
    QCOMPARE(shownStats.size(), 1);
    QVERIFY(!s.check.waiting());
    QCOMPARE(s.pollTimer.interval(), 0);
    QCOMPARE(s.shown, QStringLiteral("AB[13]"));
    QVERIFY(s.check.received().isEmpty());
    QCOMPARE(s.exchanges.size(), 1);
    QCOMPARE(s.exchanges[0].sequence, 1u);
    QCOMPARE(s.exchanges[0].outcome, Exchange::Outcome::Ok);
    QCOMPARE(s.exchanges[0].responseMs, 62.5);

    // The next tick sends again.
    s.probeTimer.fire();
    QCOMPARE(s.port.written(), QByteArray("AB\rAB\r"));
}

void TestLoopbackCheck::statisticsOverSeveralExchanges()
{
    Station s;
    s.send();
    s.startStop();
    for (Clock::Duration d : {50ms, 120ms, 30ms, 75ms})
        s.exchange(d, "AB\r");
    QCOMPARE(s.figures(), QStringList({"75", "275", "120", "30", "4", "0"}));
    QCOMPARE(s.exchanges.last().sequence, 4u);
}

void TestLoopbackCheck::fortyMsExchangeLeavesExactStatistics()
{
    Station s;
    s.send();
    s.startStop();
    s.exchange(40ms, "AB\r");
    const std::array<float, 6> expected = {0.04f, 0.04f, 0.04f, 0.04f, 1.0f, 0.0f};
    QCOMPARE(s.check.statistics().values, expected);
}

void TestLoopbackCheck::statisticsResetSetsHighMinimum()
{
    Statistics stats;
    stats.values = {1, 2, 3, 4, 5, 6};
    stats.lost = 7;
    stats.reset();
    const std::array<float, 6> expected = {0, 0, 0, 99999, 0, 0};
    QCOMPARE(stats.values, expected);
    QCOMPARE(stats.lost, 0u);
}

void TestLoopbackCheck::replyInTwoReadsIsJoined()
{
    Station s;
    s.send();
    s.startStop();
    s.probeTimer.fire();
    s.clock.advance(50ms);
    s.port.feed("AB");
    s.pollTimer.fire();
    QVERIFY(s.check.waiting());
    QCOMPARE(s.check.received(), QStringLiteral("AB"));
    QCOMPARE(s.stat(Statistics::Count), 0.0f);

    s.clock.advance(50ms);
    s.port.feed("\r");
    s.pollTimer.fire();
    QVERIFY(!s.check.waiting());
    QCOMPARE(s.figures().first(), QStringLiteral("100"));
    // Only the read that completed the echo is shown.
    QCOMPARE(s.shown, QStringLiteral("[13]"));
}

void TestLoopbackCheck::wrongReplyCountsAnErrorEveryPoll_data()
{
    QTest::addColumn<QByteArray>("first");  // read by the first poll
    QTest::addColumn<QByteArray>("second"); // read by the second
    QTest::addColumn<int>("errorsAfterFirst");

    QTest::newRow("a stray byte before the text") << QByteArray("XAB") << QByteArray("\r") << 1;
    QTest::newRow("one bit flipped, the right length") << QByteArray("AC\r") << QByteArray() << 1;
    QTest::newRow("a wrong beginning, still short") << QByteArray("B") << QByteArray() << 1;
    QTest::newRow("longer than the text, wrong") << QByteArray("ABX\r") << QByteArray() << 1;
    QTest::newRow("half the text, then a wrong end") << QByteArray("AB") << QByteArray("\n") << 0;
}

void TestLoopbackCheck::wrongReplyCountsAnErrorEveryPoll()
{
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);
    QFETCH(int, errorsAfterFirst);

    // As soon as what came back can no longer become the text, every poll
    // counts an error, whatever its length.
    Station s;
    s.send();
    s.startStop();
    QSignalSpy errors(&s.check, &LoopbackCheck::errorCounted);
    s.probeTimer.fire();
    s.port.feed(first);
    s.pollTimer.fire();
    QCOMPARE(s.stat(Statistics::Errors), float(errorsAfterFirst));
    s.port.feed(second);
    s.pollTimer.fire();
    s.pollTimer.fire();
    QCOMPARE(s.stat(Statistics::Errors), float(errorsAfterFirst + 2));
    QCOMPARE(s.check.received(), BracketCodes::EscapeCodes(QString::fromLatin1(first + second)));
    QVERIFY(s.check.waiting());
    // Each error is reported as it is counted; no exchange completed.
    QCOMPARE(errors.size(), errorsAfterFirst + 2);
    QVERIFY(s.exchanges.isEmpty());
}

void TestLoopbackCheck::emptyTextMatchesAtOnce()
{
    Station s(QString{});
    s.send();
    s.startStop();
    s.probeTimer.fire();
    s.clock.advance(50ms);
    s.pollTimer.fire();
    QVERIFY(!s.check.waiting());
    QCOMPARE(s.figures().first(), QStringLiteral("50"));
    QCOMPARE(s.stat(Statistics::Count), 1.0f);
}

void TestLoopbackCheck::echoStationAnswersEachArrival()
{
    Answerer a(QStringLiteral("AB[13]"));
    QCOMPARE(a.check.mode(), LoopbackCheck::Mode::Echo);
    QCOMPARE(a.pollTimer.interval(), 50);
    QVERIFY(!a.check.running());
    QSignalSpy shown(&a.check, &LoopbackCheck::replyShown);

    a.pollTimer.fire(); // nothing yet
    QCOMPARE(a.port.written(), QByteArray());
    a.port.feed("AB");
    a.pollTimer.fire();
    QCOMPARE(a.port.written(), QByteArray());
    a.port.feed("\r");
    a.pollTimer.fire();
    QCOMPARE(a.port.written(), QByteArray("AB\r"));
    QCOMPARE(shown.last().first().toString(), QStringLiteral("[13]"));
    QVERIFY(a.check.received().isEmpty());

    a.port.feed("AB\r");
    a.pollTimer.fire();
    QCOMPARE(a.port.written(), QByteArray("AB\rAB\r"));
    QCOMPARE(a.pollTimer.interval(), 50); // keeps polling
    // A second start only sets the same poll again.
    a.check.startStop(std::nullopt);
    QCOMPARE(a.pollTimer.interval(), 50);
    QCOMPARE(a.probeTimer.interval(), 0);
}

void TestLoopbackCheck::textsMatchTheirOwnEcho_data()
{
    QTest::addColumn<QString>("typed");

    QTest::newRow("Japanese") << QStringLiteral("あいう[13]");
    QTest::newRow("leading zero") << QStringLiteral("AB[013]");
    QTest::newRow("printable code") << QStringLiteral("[65]B");
    QTest::newRow("typed line break") << QStringLiteral("A\r\nB");
    QTest::newRow("ERR escape") << QStringLiteral("[300]");
    QTest::newRow("half-width katakana") << QStringLiteral("ｱｲｳ");
    QTest::newRow("a character code page 932 lacks, sent as ?") << QStringLiteral("〜ABC[13]");
    QTest::newRow("longer than the received text kept")
        << QString(LoopbackCheck::kRxBufferCap + 10, u'A');
}

void TestLoopbackCheck::textsMatchTheirOwnEcho()
{
    QFETCH(QString, typed);

    Station s(typed);
    s.send();
    s.startStop();
    s.probeTimer.fire();
    const QByteArray perfectEcho = s.port.written();
    QVERIFY(!perfectEcho.isEmpty());
    s.clock.advance(20ms);
    s.port.feed(perfectEcho);
    s.pollTimer.fire();
    QVERIFY(!s.check.waiting());
    QCOMPARE(s.stat(Statistics::Count), 1.0f);
    QCOMPARE(s.stat(Statistics::Errors), 0.0f);

    // And an answering station answers it.
    Answerer echo(typed);
    echo.port.feed(perfectEcho);
    echo.pollTimer.fire();
    QCOMPARE(echo.port.written(), perfectEcho);
}

void TestLoopbackCheck::stopWhileProbeOutstandingResumesOnRestart()
{
    Station s;
    s.send();
    s.startStop();
    s.probeTimer.fire(); // probe out, half its echo back
    s.port.feed("A");
    s.pollTimer.fire();
    s.startStop(); // stop
    QVERIFY(s.check.received().isEmpty());
    s.startStop(); // start again
    QVERIFY(s.check.running());
    s.port.clearWritten();
    s.probeTimer.fire();
    QCOMPARE(s.port.written(), QByteArray("AB\r"));
    QCOMPARE(s.pollTimer.interval(), 50);
    // The half echo kept would make this one "AAB[13]".
    s.port.feed("AB\r");
    s.pollTimer.fire();
    QCOMPARE(s.stat(Statistics::Count), 1.0f);
    QCOMPARE(s.stat(Statistics::Errors), 0.0f);
}

void TestLoopbackCheck::closeReopenSendStartResumesProbing()
{
    Station s;
    s.send();
    s.startStop();
    s.probeTimer.fire(); // probe out
    s.port.close();
    s.probeTimer.fire(); // finds the port closed
    s.port.open();
    s.check.portOpened();
    QCOMPARE(s.check.mode(), LoopbackCheck::Mode::Idle);
    s.send();
    s.startStop(); // still running: this stops
    s.startStop(); // and this starts
    s.probeTimer.fire();
    QCOMPARE(s.port.written(), QByteArray("AB\r"));
    s.port.feed("AB\r");
    s.pollTimer.fire();
    QCOMPARE(s.stat(Statistics::Count), 1.0f);
}

void TestLoopbackCheck::sendDuringRunResetsStatistics()
{
    Station s;
    s.send();
    s.startStop();
    s.exchange(30ms, "AB\r");
    s.exchange(30ms, "AB\r");
    QCOMPARE(s.stat(Statistics::Count), 2.0f);
    QSignalSpy runs(&s.check, &LoopbackCheck::runStarted);
    s.port.clearWritten();
    s.check.sendOnce();
    QCOMPARE(s.port.written(), QByteArray("AB\r"));
    const std::array<float, 6> reset = {0, 0, 0, 99999, 0, 0};
    QCOMPARE(s.check.statistics().values, reset);
    QVERIFY(s.check.running());
    QCOMPARE(runs.size(), 1);
    // The new run numbers its probes from 1 again.
    s.exchange(30ms, "AB\r");
    QCOMPARE(s.exchanges.last().sequence, 1u);
}

void TestLoopbackCheck::zeroIntervalRunsButNeverProbes()
{
    Station s;
    s.send();
    s.startStop(0);
    QVERIFY(s.check.running());
    QVERIFY(!s.probeTimer.fire());
    QCOMPARE(s.port.written(), QByteArray());
}

void TestLoopbackCheck::pollLetsPendingEventsRunFirst()
{
    Station s;
    s.send();
    s.startStop();
    s.probeTimer.fire();
    s.port.feed("AB\r");
    // A stop waiting in the event queue runs at the poll's start; the poll
    // then sees the stopped check and leaves the echo unread.
    QMetaObject::invokeMethod(
        &s.check, [&s] { s.startStop(); }, Qt::QueuedConnection);
    s.pollTimer.fire();
    QVERIFY(!s.check.running());
    QCOMPARE(s.stat(Statistics::Count), 0.0f);
}

void TestLoopbackCheck::echoStationSkipsNoiseBeforeTheText_data()
{
    QTest::addColumn<QByteArray>("noise");
    QTest::addColumn<bool>("apart"); // the noise read at a poll of its own

    QTest::newRow("a stray byte") << QByteArray("x") << true;
    QTest::newRow("a stray byte in the same read") << QByteArray("x") << false;
    QTest::newRow("half a text") << QByteArray("A") << true;
    QTest::newRow("the text's end, as a station started mid-text hears it")
        << QByteArray("B\r") << true;
    QTest::newRow("a flood of noise") << QByteArray(2 * 1024 * 1024, 'z') << true;
}

void TestLoopbackCheck::echoStationSkipsNoiseBeforeTheText()
{
    QFETCH(QByteArray, noise);
    QFETCH(bool, apart);

    Answerer a(QStringLiteral("AB[13]"));
    QSignalSpy answered(&a.check, &LoopbackCheck::answered);
    a.port.feed(noise);
    if (apart)
        a.pollTimer.fire();
    QVERIFY(a.check.received().size() < 6); // never more than can still match
    for (int i = 0; i < 5; ++i) {
        a.port.feed("AB\r");
        a.pollTimer.fire();
    }
    QCOMPARE(answered.size(), 5);
    QCOMPARE(a.port.written(), QByteArray("AB\r").repeated(5));
}

void TestLoopbackCheck::freshStartClearsAStrayByte_data()
{
    QTest::addColumn<QString>("how"); // the user's fresh start

    QTest::newRow("send") << "send";
    QTest::newRow("receive, then send") << "receive";
    QTest::newRow("open again, then send") << "open";
}

void TestLoopbackCheck::freshStartClearsAStrayByte()
{
    QFETCH(QString, how);

    // A stray byte before the echo: no comparison can match any more.
    Station s;
    s.send();
    s.startStop();
    s.probeTimer.fire();
    s.port.feed("xAB\r");
    s.pollTimer.fire();
    QVERIFY(s.check.waiting());
    QCOMPARE(s.stat(Statistics::Errors), 1.0f);

    if (how == QLatin1String("send")) {
        s.check.sendOnce();
    } else if (how == QLatin1String("receive")) {
        s.check.receiveOnce();
    } else {
        s.port.close();
        s.port.open();
        s.check.portOpened();
    }
    QVERIFY(s.check.received().isEmpty());
    QVERIFY(!s.check.waiting());
    if (how != QLatin1String("send"))
        s.check.sendOnce();

    // The check runs again: a probe goes out and its echo completes it.
    s.port.clearWritten();
    s.exchange(20ms, "AB\r");
    QCOMPARE(s.port.written(), QByteArray("AB\r"));
    QVERIFY(!s.check.waiting());
    QCOMPARE(s.stat(Statistics::Count), 1.0f);
}

void TestLoopbackCheck::lateReplyIsGivenUp_data()
{
    QTest::addColumn<QByteArray>("arrived"); // before the timeout
    QTest::addColumn<Exchange::Outcome>("outcome");
    QTest::addColumn<quint64>("lost");

    QTest::newRow("nothing came back") << QByteArray() << Exchange::Outcome::Lost << 1ull;
    QTest::newRow("half the echo") << QByteArray("A") << Exchange::Outcome::Lost << 1ull;
    QTest::newRow("a stray byte before the echo")
        << QByteArray("xAB\r") << Exchange::Outcome::Error << 0ull;
}

void TestLoopbackCheck::lateReplyIsGivenUp()
{
    QFETCH(QByteArray, arrived);
    QFETCH(Exchange::Outcome, outcome);
    QFETCH(quint64, lost);

    Station s;
    s.check.setReplyTimeout(300ms);
    s.send();
    s.startStop(100);
    s.probeTimer.fire();
    s.port.feed(arrived);
    s.clock.advance(250ms);
    s.pollTimer.fire();
    QVERIFY(s.check.waiting()); // not yet late
    s.clock.advance(50ms);
    s.pollTimer.fire();
    QVERIFY(!s.check.waiting());
    QCOMPARE(s.pollTimer.interval(), 50); // still looking for the reply, to report it late
    QVERIFY(s.check.received().isEmpty());
    QCOMPARE(s.exchanges.size(), 1);
    QCOMPARE(s.exchanges[0].outcome, outcome);
    QCOMPARE(s.exchanges[0].responseMs, 300.0);
    QCOMPARE(s.check.statistics().lost, lost);

    // The next probe goes out and completes as usual.
    s.port.clearWritten();
    s.exchange(20ms, "AB\r");
    QCOMPARE(s.port.written(), QByteArray("AB\r"));
    QCOMPARE(s.stat(Statistics::Count), 1.0f);
    QCOMPARE(s.exchanges.last().sequence, 2u);
}

void TestLoopbackCheck::onlyWhatCameAfterAProbeMatchesIt_data()
{
    QTest::addColumn<QString>("farEnd");
    QTest::addColumn<double>("firstMs");       // the first probe's time; 0: not completed
    QTest::addColumn<QList<double>>("lateMs"); // the late replies reported for probe 1

    QTest::newRow("the echo of the send click waits when the check starts")
        << "send echo" << 300.0 << QList<double>{};
    QTest::newRow("a reply after its probe was given up")
        << "after give-up" << 0.0 << QList<double>{450.0};
    QTest::newRow("every reply sent twice") << "twice" << 300.0 << QList<double>{1000.0};
}

void TestLoopbackCheck::onlyWhatCameAfterAProbeMatchesIt()
{
    QFETCH(QString, farEnd);
    QFETCH(double, firstMs);
    QFETCH(QList<double>, lateMs);

    // A far end that answers 300 ms late (450 ms where the probe is given up
    // at 300 ms); the probes go out every second.
    Station s;
    QList<Exchange> late;
    QObject::connect(&s.check, &LoopbackCheck::lateReply,
                     [&late](const Exchange &e) { late << e; });
    if (farEnd == u"after give-up")
        s.check.setReplyTimeout(300ms);
    s.send();
    if (farEnd == u"send echo")
        s.port.feed("AB\r");
    s.startStop();
    s.probeTimer.fire();
    const auto answerAt = farEnd == u"after give-up" ? 450ms : 300ms;
    for (auto t = 50ms; t <= 1000ms; t += 50ms) {
        s.clock.advance(50ms);
        if (t == answerAt || (farEnd == u"twice" && t == answerAt + 100ms))
            s.port.feed("AB\r");
        s.pollTimer.fire();
    }
    QCOMPARE(s.exchanges.isEmpty() ? 0.0 : s.exchanges[0].responseMs,
             farEnd == u"after give-up" ? 300.0 : firstMs);
    s.probeTimer.fire(); // the second probe, at 1000 ms
    QCOMPARE(late.size(), lateMs.size());
    for (qsizetype i = 0; i < late.size(); ++i) {
        QCOMPARE(late[i].outcome, Exchange::Outcome::Late);
        QCOMPARE(late[i].sequence, 1u);
        QCOMPARE(late[i].responseMs, lateMs[i]);
    }
    // Nothing that came before it completes the second probe.
    s.clock.advance(50ms);
    s.pollTimer.fire();
    QVERIFY(s.check.waiting());
    QCOMPARE(s.stat(Statistics::Count), firstMs > 0 ? 1.0f : 0.0f);
    QCOMPARE(s.stat(Statistics::Errors), 0.0f);
}

void TestLoopbackCheck::preciseModeTimesTheEchoOnArrival_data()
{
    QTest::addColumn<bool>("completesOnArrival");
    QTest::newRow("the command line: completed on arrival") << true;
    QTest::newRow("the window: shown at the next poll") << false;
}

void TestLoopbackCheck::preciseModeTimesTheEchoOnArrival()
{
    QFETCH(bool, completesOnArrival);

    Station s;
    s.check.setPrecise(true);
    s.check.setCompletesOnArrival(completesOnArrival);
    s.send();
    s.startStop();
    s.probeTimer.fire();
    s.clock.advance(3ms);
    s.port.feed("AB");
    QVERIFY(s.check.waiting());
    s.clock.advance(1ms);
    s.port.feed("\r"); // the last byte: timed now, not at the next poll
    QCOMPARE(s.check.waiting(), !completesOnArrival);
    s.clock.advance(46ms);
    s.pollTimer.fire();
    QVERIFY(!s.check.waiting());
    QCOMPARE(s.exchanges.size(), 1);
    QCOMPARE(s.exchanges[0].responseMs, 4.0);
    QCOMPARE(s.shown, QStringLiteral("AB[13]"));

    // Noise arriving a byte at a time counts one error a poll, as without it.
    s.probeTimer.fire();
    for (int i = 0; i < 5; ++i)
        s.port.feed("x");
    QCOMPARE(s.stat(Statistics::Errors), 0.0f);
    s.pollTimer.fire();
    QCOMPARE(s.stat(Statistics::Errors), 1.0f);

    // Without it, arrival alone matches nothing.
    Station polled;
    polled.send();
    polled.startStop();
    polled.probeTimer.fire();
    polled.port.feed("AB\r");
    QVERIFY(polled.check.waiting());
}

void TestLoopbackCheck::largeReadingIsShownWhole()
{
    // Beyond the size from which readings are put in large pages, and with
    // double-byte characters, whose escapes are the longest.
    const int repeats = 8 * 1024 * 1024 / 28; // "AB[13][-32096]": 28 bytes
    Station s;
    s.port.feed(QByteArray("AB\r\x82\xa0").repeated(repeats));
    s.check.receiveOnce();
    QCOMPARE(s.shown.size(), 14 * qsizetype(repeats));
    QCOMPARE(s.shown, QStringLiteral("AB[13][-32096]").repeated(repeats));
}

void TestLoopbackCheck::refusedProbeIsRetriedRefusedAnswerDropped_data()
{
    QTest::addColumn<bool>("echo");
    QTest::newRow("probe of a checking station") << false;
    QTest::newRow("answer of an answering station") << true;
}

void TestLoopbackCheck::refusedProbeIsRetriedRefusedAnswerDropped()
{
    QFETCH(bool, echo);

    // The port refuses while too much waits unsent (the line held): each
    // tick is refused and said, and nothing counts as sent. A refused probe
    // goes out at the next tick; a refused answer is dropped, and the next
    // arrival is answered.
    Station s;
    if (echo) {
        s.check.receiveOnce();
        s.startStop(std::nullopt);
    } else {
        s.send();
        s.startStop();
    }
    QSignalSpy refused(&s.check, &LoopbackCheck::sendRefused);
    QSignalSpy answered(&s.check, &LoopbackCheck::answered);
    s.port.setRefusing(true);
    for (int tick = 0; tick < 3; ++tick) {
        if (echo) {
            s.port.feed("AB\r");
            s.pollTimer.fire();
        } else {
            s.probeTimer.fire();
        }
    }
    QCOMPARE(refused.size(), 3);
    QCOMPARE(refused.first().first().toBool(), true); // by a timer
    QVERIFY(!s.check.waiting());                      // no probe is out
    QCOMPARE(s.pollTimer.interval(), echo ? 50 : 0);
    QCOMPARE(answered.size(), 0);

    // Once the port takes texts again, the next tick sends.
    s.port.setRefusing(false);
    if (echo) {
        s.port.feed("AB\r");
        s.pollTimer.fire();
        QCOMPARE(answered.size(), 1);
    } else {
        s.probeTimer.fire();
        QVERIFY(s.check.waiting());
    }
    QCOMPARE(s.port.written(), QByteArray("AB\r"));
}

QTEST_MAIN(TestLoopbackCheck)
#include "tst_LoopbackCheck.moc"
