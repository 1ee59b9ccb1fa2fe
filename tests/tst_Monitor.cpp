// `commcheck-cli monitor` as a service runs it: many lines on pseudo-terminals
// watched by one process, far ends that answer, answer slowly, drop probes
// or are pulled out and put back, stopped by SIGTERM. What the technician
// reads (the state changes on the error output, one summary line per line
// on the standard output) must be each line's own truth, whatever the other
// lines do.
#include "PortFolder.h"
#include "Prometheus.h"
#include "PtyPair.h"
#include "ScrapeStorm.h"
#include "ScriptedFarEnd.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>
#include <vector>

using namespace std::chrono_literals;

class MonitorTest : public QObject {
    Q_OBJECT
private slots:
    void eachLineKeepsItsOwnCount();
    void refusesABadConfiguration_data();
    void refusesABadConfiguration();
};

namespace {

// Only a failing test waits this long.
constexpr int kWaitMs = 30000;

// The probes every line must have sent before the stop: enough for three
// dropped on the line that drops every fourth.
constexpr int kProbesEach = 12;

// The pulled line's port number: its folder entry is pointed at the new
// far end once that is there.
constexpr int kPulledNumber = 4007;
constexpr int kAnsweredBeforePull = 3;

// One line's summary at the stop.
struct Summary {
    QString port;
    bool up = false;
    qint64 probes = -1, exchanges = -1, errors = -1, lost = -1, late = -1, portLosses = -1;
};

// The summary lines on the standard output, by line name; a line of any
// other form is kept under "?" to fail the test.
QMap<QString, Summary> summaries(const QString &out, QStringList *unread)
{
    static const QRegularExpression form(QStringLiteral(
        "^(\\S+) \\((.*)\\): (up|down)  probes (\\d+)  exchanges (\\d+)  errors (\\d+)  "
        "lost (\\d+)  late (\\d+)  port losses (\\d+)$"));
    QMap<QString, Summary> byName;
    for (const QString &line : out.split(u'\n', Qt::SkipEmptyParts)) {
        const auto m = form.match(line);
        if (!m.hasMatch()) {
            *unread << line;
            continue;
        }
        byName[m.captured(1)] = Summary{m.captured(2),
                                        m.captured(3) == u"up",
                                        m.captured(4).toLongLong(),
                                        m.captured(5).toLongLong(),
                                        m.captured(6).toLongLong(),
                                        m.captured(7).toLongLong(),
                                        m.captured(8).toLongLong(),
                                        m.captured(9).toLongLong()};
    }
    return byName;
}

QString section(const QString &name, const QString &port, const QString &more = {},
                int timeoutMs = 2000)
{
    return QStringLiteral("[%1]\nport = %2\ntext = ABC[13]\ninterval = 250\ntimeout = %3\n"
                          "flow = none\n%4\n")
        .arg(name, port, QString::number(timeoutMs), more);
}

// "200 x961, 503 x39": how a storm's requests were answered.
QString statusCounts(const ScrapeStorm::Result &result)
{
    QStringList counts;
    for (auto it = result.statuses.cbegin(); it != result.statuses.cend(); ++it)
        counts << QStringLiteral("%1 x%2").arg(it.key()).arg(it.value());
    return counts.join(QStringLiteral(", "));
}

bool writeText(const QString &path, const QString &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) == text.toUtf8().size();
}

// The monitor's error output so far, gathered while a test waits.
class ErrorOutput {
public:
    explicit ErrorOutput(QProcess &process) : process_(process) {}
    const QString &text()
    {
        text_ += QString::fromUtf8(process_.readAllStandardError());
        return text_;
    }

private:
    QProcess &process_;
    QString text_;
};

} // namespace

void MonitorTest::eachLineKeepsItsOwnCount()
{
    PortFolder folder;
    QVERIFY2(folder.isValid(), "no temporary port folder");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());

    // Sixteen lines: one slow (its replies well within the timeout), one
    // dropping every fourth probe, one pulled out and put back, the others
    // clean.
    constexpr int kLines = 16;
    const QString slow = QStringLiteral("slow");
    const QString dropping = QStringLiteral("dropping");
    const QString pulled = QStringLiteral("pulled");
    QStringList names{slow, dropping, pulled};
    for (int i = int(names.size()); i < kLines; ++i)
        names << QStringLiteral("clean-%1").arg(i, 2, 10, QLatin1Char('0'));

    std::vector<std::unique_ptr<ScriptedFarEnd>> farEnds;
    QString config;
    for (const QString &name : std::as_const(names)) {
        ScriptedFarEnd::Script script;
        if (name == slow)
            script.delay = 400ms;
        if (name == dropping)
            script.dropEvery = 4;
        // The first device answers three probes and keeps the fourth, so
        // that a probe is out when it goes.
        if (name == pulled)
            script.answers = kAnsweredBeforePull;
        farEnds.push_back(std::make_unique<ScriptedFarEnd>(script));
        QVERIFY2(farEnds.back()->isValid(), qPrintable(farEnds.back()->error()));
        QString port = farEnds.back()->device();
        int timeoutMs = 2000;
        QString more;
        if (name == pulled) {
            QVERIFY(folder.map(kPulledNumber, port));
            port = QString::number(kPulledNumber);
            // Longer than the test takes to pull the device: the probe out
            // is not given up before.
            timeoutMs = 30000;
            more = QStringLiteral("log = ") + dir.filePath(QStringLiteral("pulled.csv"));
        }
        config += section(name, port, more, timeoutMs);
    }
    const QString configPath = dir.filePath(QStringLiteral("lines.ini"));
    QVERIFY(writeText(configPath, config));
    const auto farEndOf = [&](const QString &name) -> ScriptedFarEnd & {
        return *farEnds[std::size_t(names.indexOf(name))];
    };

    QProcess cli;
    ErrorOutput err(cli);
    cli.start(QStringLiteral(COMMCHECK_CLI_PATH),
              {QStringLiteral("monitor"), configPath, QStringLiteral("--metrics-listen"),
               QStringLiteral("127.0.0.1:0")});
    QVERIFY2(cli.waitForStarted(kWaitMs), qPrintable(cli.errorString()));
    static const QRegularExpression metricsAt(
        QStringLiteral("commcheck-cli: metrics at http://127\\.0\\.0\\.1:(\\d+)/metrics\n"));
    QTRY_VERIFY2_WITH_TIMEOUT(metricsAt.match(err.text()).hasMatch(), qPrintable(err.text()),
                              kWaitMs);
    const QString metricsPort = metricsAt.match(err.text()).captured(1);

    // The pulled line answers first; then, with a probe out, its device
    // goes, as a USB adapter pulled out does: the program's port is lost.
    const QString pulledSays = QStringLiteral("line pulled (%1) ").arg(kPulledNumber);
    QTRY_VERIFY_WITH_TIMEOUT(farEndOf(pulled).arrivals() > kAnsweredBeforePull, kWaitMs);
    QVERIFY(folder.unmap(kPulledNumber));
    farEnds[std::size_t(names.indexOf(pulled))].reset();
    QTRY_VERIFY2_WITH_TIMEOUT(err.text().contains(pulledSays + QStringLiteral("down: lost ")),
                              qPrintable(err.text()), kWaitMs);
    const qsizetype downAt = err.text().indexOf(pulledSays + QStringLiteral("down: lost "));

    // Put back: a new device under the same port number.
    farEnds[std::size_t(names.indexOf(pulled))] =
        std::make_unique<ScriptedFarEnd>(ScriptedFarEnd::Script{});
    QVERIFY2(farEndOf(pulled).isValid(), qPrintable(farEndOf(pulled).error()));
    QVERIFY(folder.map(kPulledNumber, farEndOf(pulled).device()));
    QTRY_VERIFY2_WITH_TIMEOUT(err.text().indexOf(pulledSays + QStringLiteral("up"), downAt) > 0,
                              qPrintable(err.text()), kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(farEndOf(pulled).arrivals() >= 5, kWaitMs);

    for (const QString &name : std::as_const(names))
        QTRY_VERIFY2_WITH_TIMEOUT(farEndOf(name).arrivals() >= kProbesEach, qPrintable(name),
                                  kWaitMs);

    // Prometheus scrapes the monitor and reads each line's own figures
    // back; meanwhile a storm of scrapes, which the checks must not feel
    // (no clean line loses a probe: see the summaries below).
    Prometheus prometheus(QStringLiteral("127.0.0.1:") + metricsPort);
    QString prometheusError;
    QVERIFY2(prometheus.start(&prometheusError), qPrintable(prometheusError));
    ScrapeStorm storm(QStringLiteral("127.0.0.1"), quint16(metricsPort.toUInt()));
    storm.start(1000, 50);
    const auto value = [&prometheus](const QString &expr) {
        return prometheus.query(expr).value_or(-1);
    };
    QTRY_COMPARE_WITH_TIMEOUT(value(QStringLiteral("count(commcheck_line_up == 1)")),
                              double(kLines), kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(value(QStringLiteral("commcheck_lost_total{line=\"dropping\"}")) >= 1,
                             kWaitMs);
    QCOMPARE(value(QStringLiteral("commcheck_lost_total{line=\"pulled\"}")), 1.0);
    QCOMPARE(value(QStringLiteral("sum(commcheck_lost_total{line!~\"dropping|pulled\"})")), 0.0);
    QCOMPARE(value(QStringLiteral("sum(commcheck_errors_total)")), 0.0);
    // The slow line's replies take 400 ms at least; the others' far less.
    QTRY_VERIFY_WITH_TIMEOUT(
        value(QStringLiteral("commcheck_response_seconds_count{line=\"slow\"}")) >= 3, kWaitMs);
    QCOMPARE(value(QStringLiteral("commcheck_response_seconds_bucket{line=\"slow\",le=\"0.25\"}")),
             0.0);
    QVERIFY(value(QStringLiteral(
                "commcheck_response_seconds_bucket{line=\"clean-05\",le=\"0.25\"}")) >= 1);
    QVERIFY(value(QStringLiteral("commcheck_last_exchange_timestamp_seconds{line=\"clean-05\"}")) >
            double(QDateTime::currentSecsSinceEpoch() - 3600));
    QString scrapeError;
    QCOMPARE(prometheus.targetHealth(&scrapeError), QStringLiteral("up"));
    QCOMPARE(scrapeError, QString());
    const double probesSeen = value(QStringLiteral("commcheck_probes_total{line=\"clean-05\"}"));
    prometheus.stop();
    QTRY_VERIFY_WITH_TIMEOUT(storm.finished(), kWaitMs);
    const ScrapeStorm::Result scrapes = storm.result();
    QCOMPARE(scrapes.failures, QStringList());
    QVERIFY2(scrapes.statuses.value(200) == 1000, qPrintable(statusCounts(scrapes)));

    QVERIFY(::kill(pid_t(cli.processId()), SIGTERM) == 0);
    QVERIFY2(cli.waitForFinished(kWaitMs), "the monitor did not end at SIGTERM");
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.exitCode(), 0);

    QStringList unread;
    const QMap<QString, Summary> lines =
        summaries(QString::fromUtf8(cli.readAllStandardOutput()), &unread);
    QCOMPARE(unread, QStringList());
    QStringList sortedNames = names;
    sortedNames.sort();
    QCOMPARE(lines.keys(), sortedNames);
    // Every line told its state once at the start, the pulled one twice
    // more; nothing else was said but the stop.
    QCOMPARE(err.text().count(QStringLiteral(") up\n")), kLines + 1);
    QCOMPARE(err.text().count(QStringLiteral(") down: ")), 1);
    QVERIFY2(err.text().contains(QStringLiteral("commcheck-cli: monitor stopped by SIGTERM after")),
             qPrintable(err.text()));

    QVERIFY2(probesSeen >= 1 && probesSeen <= double(lines[QStringLiteral("clean-05")].probes),
             qPrintable(QString::number(probesSeen)));
    for (const QString &name : std::as_const(names)) {
        const Summary &s = lines[name];
        const QByteArray what = (name + QStringLiteral(": ") + err.text()).toUtf8();
        QVERIFY2(s.up, what);
        QCOMPARE(s.errors, 0);
        QCOMPARE(s.late, 0);
        // Every probe ended one way or another, but one still out at the
        // stop, which counts as nothing.
        QVERIFY2(s.probes >= kProbesEach, what);
        QVERIFY2(s.exchanges + s.lost == s.probes || s.exchanges + s.lost == s.probes - 1, what);
        if (name == dropping) {
            // Every fourth lost, bar one given up only after the stop.
            QVERIFY2(s.lost == s.probes / 4 || s.lost == s.probes / 4 - 1,
                     qPrintable(QStringLiteral("%1 lost of %2").arg(s.lost).arg(s.probes)));
        } else if (name == pulled) {
            QCOMPARE(s.port, QString::number(kPulledNumber));
            QCOMPARE(s.portLosses, 1);
            // The probe out when the device went.
            QCOMPARE(s.lost, 1);
            QVERIFY2(s.exchanges >= kAnsweredBeforePull + farEndOf(pulled).arrivals() - 1, what);
            // Its log: a row for every probe that ended, numbered on
            // through the loss, the one out when the device went lost.
            QFile log(dir.filePath(QStringLiteral("pulled.csv")));
            QVERIFY(log.open(QIODevice::ReadOnly));
            QStringList rows = QString::fromUtf8(log.readAll()).split(QStringLiteral("\r\n"));
            QCOMPARE(rows.takeLast(), QString());
            QCOMPARE(rows.takeFirst(),
                     QStringLiteral("time,sequence,response_ms,outcome,received"));
            QCOMPARE(rows.size(), s.exchanges + s.lost);
            for (qsizetype i = 0; i < rows.size(); ++i) {
                const QStringList fields = rows[i].split(u',');
                QCOMPARE(fields.size(), 5);
                QCOMPARE(fields[1], QString::number(i + 1));
                QCOMPARE(fields[3],
                         i == kAnsweredBeforePull ? QStringLiteral("lost") : QStringLiteral("ok"));
            }
        } else {
            QCOMPARE(s.lost, 0);
            QCOMPARE(s.portLosses, 0);
            QCOMPARE(s.port, farEndOf(name).device());
        }
        if (name != pulled)
            QCOMPARE(s.portLosses, 0);
    }
}

void MonitorTest::refusesABadConfiguration_data()
{
    // The first line is good and names the far end's pseudo-terminal at
    // 1200 baud (PORT stands for it); the file is bad elsewhere.
    QTest::addColumn<QString>("config");
    QTest::addColumn<QString>("stderrHas"); // CONFIG: the file's path

    QTest::newRow("a line without its timeout")
        << section(QStringLiteral("good"), QStringLiteral("PORT"), QStringLiteral("baud = 1200")) +
               QStringLiteral("[no-timeout]\nport = /dev/null\ntext = A\ninterval = 1000\n")
        << QStringLiteral("CONFIG: [no-timeout] timeout");
    QTest::newRow("an interval that is no length of time")
        << section(QStringLiteral("good"), QStringLiteral("PORT"), QStringLiteral("baud = 1200")) +
               section(QStringLiteral("soon"), QStringLiteral("/dev/null"))
                   .replace(QStringLiteral("interval = 250"), QStringLiteral("interval = soon"))
        << QStringLiteral("CONFIG: [soon] interval");
    QTest::newRow("a log that cannot be written")
        << section(QStringLiteral("good"), QStringLiteral("PORT"),
                   QStringLiteral("baud = 1200\nlog = /proc/no-such-folder/good.csv"))
        << QStringLiteral("/proc/no-such-folder/good.csv");
}

void MonitorTest::refusesABadConfiguration()
{
    QFETCH(QString, config);
    QFETCH(QString, stderrHas);

    PtyPair pty;
    QVERIFY2(pty.isValid(), qPrintable(pty.error()));
    QVERIFY2(pty.slaveSpeed() != 1200, "the pseudo-terminal starts at the speed the test sets");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString configPath = dir.filePath(QStringLiteral("lines.ini"));
    QVERIFY(
        writeText(configPath, QString(config).replace(QStringLiteral("PORT"), pty.slavePath())));

    QProcess cli;
    cli.start(QStringLiteral(COMMCHECK_CLI_PATH), {QStringLiteral("monitor"), configPath});
    QVERIFY2(cli.waitForFinished(kWaitMs), qPrintable(cli.errorString()));
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QVERIFY2(cli.exitCode() == 2, qPrintable(err));
    QVERIFY2(err.contains(QString(stderrHas).replace(QStringLiteral("CONFIG"), configPath)),
             qPrintable(err));
    QCOMPARE(cli.readAllStandardOutput(), QByteArray());
    // The good line's port was never opened: its speed is not set, and no
    // byte came from it.
    QVERIFY(pty.slaveSpeed() != 1200);
    QCOMPARE(pty.readWithoutEventLoop(1, 0), QByteArray());
}

QTEST_GUILESS_MAIN(MonitorTest)
#include "tst_Monitor.moc"
