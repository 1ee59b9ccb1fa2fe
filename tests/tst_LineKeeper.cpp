// The waits between tries at a line's port: 1 s after the first failure,
// doubled after each further one up to 60 s, from 1 s again once the port
// opened. Stepped through on a fake port and a fake timer, so that an hour
// of a device gone takes no time.
#include "FakeSerialPort.h"
#include "FakeTimer.h"
#include "LineKeeper.h"
#include "PortSession.h"

#include <QTest>

class LineKeeperTest : public QObject {
    Q_OBJECT
private slots:
    void waitsGrowAndStartAgain_data();
    void waitsGrowAndStartAgain();
};

void LineKeeperTest::waitsGrowAndStartAgain_data()
{
    // What happens, step by step: busy / free (the device's next opens fail
    // or succeed), start, tick (the retry timer fires), lose (the open
    // device goes away), stop. What the keeper says: up, down:<wait in ms>
    // for an open that failed, lost:<wait> for a port lost.
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("said");
    QTest::addColumn<int>("losses");

    QTest::newRow("opens at once") << "start"
                                   << "up" << 0;
    QTest::newRow("never opens: the waits double up to a minute")
        << "busy start tick tick tick tick tick tick tick tick"
        << "down:1000 down:2000 down:4000 down:8000 down:16000 down:32000 down:60000 "
           "down:60000 down:60000"
        << 0;
    QTest::newRow("opens on the third try, lost later: from 1 s again")
        << "busy start tick tick free tick lose tick"
        << "down:1000 down:2000 down:4000 up lost:1000 up" << 1;
    QTest::newRow("lost, not back at the first try, back at the second")
        << "start lose busy tick free tick lose busy tick tick"
        << "up lost:1000 down:2000 up lost:1000 down:2000 down:4000" << 2;
    QTest::newRow("stopped while down: no more tries") << "busy start stop free tick"
                                                       << "down:1000" << 0;
    QTest::newRow("stopped while up: the port is closed") << "start stop"
                                                          << "up" << 0;
}

void LineKeeperTest::waitsGrowAndStartAgain()
{
    QFETCH(QString, steps);
    QFETCH(QString, said);
    QFETCH(int, losses);

    FakeSerialPort port;
    PortSession session(port);
    FakeTimer timer;
    LineKeeper keeper(session, timer);
    QStringList heard;
    connect(&keeper, &LineKeeper::up, this, [&] {
        heard << QStringLiteral("up");
        // Up: nothing more to try, and the port is open.
        QCOMPARE(timer.interval(), 0);
        QVERIFY(port.isOpen());
    });
    connect(&keeper, &LineKeeper::down, this,
            [&](const QString &reason, bool lost, std::chrono::milliseconds retryIn) {
                heard << QStringLiteral("%1:%2")
                             .arg(lost ? QStringLiteral("lost") : QStringLiteral("down"))
                             .arg(retryIn.count());
                // The wait told is the wait the timer was set to.
                QCOMPARE(timer.interval(), int(retryIn.count()));
                QVERIFY(!port.isOpen());
                QVERIFY2(!reason.isEmpty(), "a down line says why");
            });

    for (const QString &step : steps.split(u' ')) {
        if (step == u"busy") {
            port.setBusy(true);
        } else if (step == u"free") {
            port.setBusy(false);
        } else if (step == u"start") {
            keeper.start(2, QString(), LineSettings{});
        } else if (step == u"tick") {
            timer.fire();
        } else if (step == u"lose") {
            QVERIFY2(port.isOpen(), "only an open port can be lost");
            port.loseDevice();
        } else if (step == u"stop") {
            keeper.stop();
            QVERIFY(!port.isOpen());
            QCOMPARE(timer.interval(), 0);
        } else {
            QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
        }
    }
    QCOMPARE(heard.join(u' '), said);
    QCOMPARE(keeper.losses(), losses);
    QCOMPARE(keeper.isUp(), port.isOpen());
}

QTEST_GUILESS_MAIN(LineKeeperTest)
#include "tst_LineKeeper.moc"
