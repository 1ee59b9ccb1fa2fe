// `commcheck-cli check` against far ends that misbehave as real ones do:
// late, answering twice, corrupting a reply, falling silent. What the user
// reads (the summary, the log, the exit code) must be the line's truth.
#include "ScratchFiles.h"
#include "ScriptedFarEnd.h"
#include "TinyDisk.h"

#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;

Q_DECLARE_METATYPE(ScriptedFarEnd::Script)

class CheckRunTest : public QObject {
    Q_OBJECT
private slots:
    void summaryTellsWhatTheFarEndDid_data();
    void summaryTellsWhatTheFarEndDid();
};

namespace {

constexpr int kLimitMs = 60000;

// The summary's lines as name -> value; times in ms without their unit.
QMap<QString, double> figures(const QString &summary)
{
    QMap<QString, double> values;
    static const QRegularExpression line(QStringLiteral("^(\\w+) +(-|[\\d.]+)(?: ms)?$"),
                                         QRegularExpression::MultilineOption);
    for (auto it = line.globalMatch(summary); it.hasNext();) {
        const auto match = it.next();
        values[match.captured(1)] = match.captured(2) == u"-" ? -1 : match.captured(2).toDouble();
    }
    return values;
}

// How many rows of each outcome the log holds.
QMap<QString, int> outcomes(const QString &path)
{
    QMap<QString, int> counts;
    const QStringList lines = QString::fromUtf8(ScratchFiles::fileBytes(path))
                                  .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    for (qsizetype i = 1; i < lines.size(); ++i)
        ++counts[lines[i].section(u',', 3, 3)];
    return counts;
}

// The log's lines that are not a whole row of the run (the header aside),
// and the file's last bytes when it does not end a line.
QStringList brokenRows(const QString &path)
{
    static const QRegularExpression row(
        QStringLiteral("^[^,\"]+,\\d+,\\d+\\.\\d{3},(ok|error|lost|late|unanswered),[^,\"]*$"));
    const QByteArray bytes = ScratchFiles::fileBytes(path);
    QStringList broken;
    if (!bytes.endsWith("\r\n"))
        broken << QStringLiteral("ends in ") + QString::fromUtf8(bytes.right(40));
    const QStringList lines =
        QString::fromUtf8(bytes).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    for (qsizetype i = 1; i < lines.size(); ++i)
        if (!row.match(lines[i]).hasMatch())
            broken << lines[i];
    return broken;
}

// Checks each "name op value" of `expected` (op: = >= <) against `values`.
void verifyFigures(const QMap<QString, double> &values, const QString &expected,
                   const QString &summary)
{
    for (const QString &term : expected.split(u' ', Qt::SkipEmptyParts)) {
        const auto m = QRegularExpression(QStringLiteral("^(\\w+)(>=|<|=)([\\d.]+)$")).match(term);
        QVERIFY2(m.hasMatch(), qPrintable(term));
        QVERIFY2(values.contains(m.captured(1)), qPrintable(term + u'\n' + summary));
        const double actual = values[m.captured(1)];
        const double bound = m.captured(3).toDouble();
        const QString op = m.captured(2);
        const bool holds = op == u"="   ? actual == bound
                           : op == u"<" ? actual < bound
                                        : actual >= bound;
        QVERIFY2(holds, qPrintable(term + u'\n' + summary));
    }
}

} // namespace

void CheckRunTest::summaryTellsWhatTheFarEndDid_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<ScriptedFarEnd::Script>("farEnd");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("expected"); // the summary's figures, and the log's rows
    QTest::addColumn<bool>("diskFills");   // the log on a disk with room for a few rows
    QTest::addColumn<QString>("stderrHas");

    using Script = ScriptedFarEnd::Script;
    QTest::newRow("every reply 300 ms late")
        << "--interval 700 --count 3" << Script{"ABC\r", 300ms} << 0
        << "count=3 errors=0 late=0 min>=300 max<700 log_ok=3" << false << QString();
    QTest::newRow("every reply 300 ms late, timed on arrival")
        << "--interval 700 --count 3 --precise" << Script{"ABC\r", 300ms} << 0
        << "count=3 errors=0 min>=300 max<700" << false << QString();
    QTest::newRow("every reply 600 ms late, given up at 200 ms")
        << "--interval 1000 --count 3 --timeout 200" << Script{"ABC\r", 600ms} << 1
        << "count=0 lost=3 late=2 log_lost=3 log_late=2" << false << QString();
    // Each late reply belongs to a probe counted lost already: nothing
    // over the limit is said (no exchange completed fails the run).
    QTest::newRow("every reply 600 ms late, given up at 200 ms, each probe counted once")
        << "--interval 1000 --count 3 --timeout 200 --max-lost 3" << Script{"ABC\r", 600ms} << 1
        << "count=0 lost=3 late=2" << false << QString();
    QTest::newRow("every reply twice")
        << "--interval 500 --count 3 --precise" << Script{"ABC\r", 100ms, -1, 0, true} << 1
        << "count=3 min>=100 late=2 errors=0 log_late=2" << false << QString();
    // The last probe's second reply may come after the run's end.
    QTest::newRow("every reply twice, the second ones over --max-lost")
        << "--interval 1000 --count 3 --precise --max-lost 0" << Script{"ABC\r", 100ms, -1, 0, true}
        << 1 << "count=3 late>=1 errors=0" << false << QStringLiteral(" exceed --max-lost 0\n");
    QTest::newRow("the third reply corrupted")
        << "--interval 300 --duration 1500ms" << Script{"ABC\r", 0ms, -1, 3} << 1
        << "count=2 errors>=1 unanswered=1 log_unanswered=1" << false << QString();
    QTest::newRow("the third reply corrupted, given up at 200 ms")
        << "--interval 300 --count 5 --timeout 200" << Script{"ABC\r", 0ms, -1, 3} << 1
        << "probes=5 count=4 errors>=1 lost=0 unanswered=0" << false << QString();
    QTest::newRow("three replies, then silence")
        << "--interval 300 --duration 1500ms" << Script{"ABC\r", 0ms, 3} << 1
        << "count=3 lost=0 unanswered=1 log_unanswered=1" << false << QString();
    // What the disk has left is less than any row, so the run's first row
    // goes in part: the 106 rows there before are all the log may hold.
    QTest::newRow("the log's disk full, the check goes on")
        << "--interval 20 --count 20 --precise" << Script{"ABC\r", 0ms} << 5
        << "count=20 log_ok=106" << true
        << QStringLiteral("failed: No space left on device; the check goes on unlogged\n");
}

void CheckRunTest::summaryTellsWhatTheFarEndDid()
{
    QFETCH(QString, arguments);
    QFETCH(ScriptedFarEnd::Script, farEnd);
    QFETCH(int, exitCode);
    QFETCH(QString, expected);
    QFETCH(bool, diskFills);
    QFETCH(QString, stderrHas);

    ScriptedFarEnd far(farEnd);
    QVERIFY2(far.isValid(), qPrintable(far.error()));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString logPath = dir.filePath(QStringLiteral("log.csv"));
    std::unique_ptr<TinyDisk> disk;
    if (diskFills) {
        // The log takes one page of the disk, all but 24 bytes of it, and a
        // file of its own the rest.
        disk = std::make_unique<TinyDisk>(64 * 1024);
        QVERIFY2(disk->isValid(), qPrintable(disk->error()));
        logPath = disk->filePath(QStringLiteral("log.csv"));
        const QByteArray rows =
            "time,sequence,response_ms,outcome,received\r\n" +
            QByteArray("2024-05-01T00:00:00.000Z,1,0.000,ok,\r\n").repeated(106);
        QCOMPARE(rows.size(), 4096 - 24);
        QVERIFY(ScratchFiles::writeBytes(logPath, rows));
        QVERIFY2(disk->fill(QStringLiteral("filler")), qPrintable(disk->error()));
    }

    QProcess cli;
    cli.start(QStringLiteral(COMMCHECK_CLI_PATH),
              QStringList{QStringLiteral("check"), far.device(), QStringLiteral("--text"),
                          QStringLiteral("ABC[13]"), QStringLiteral("--flow"),
                          QStringLiteral("none"), QStringLiteral("--log"), logPath} +
                  QProcess::splitCommand(arguments));
    QVERIFY2(cli.waitForFinished(kLimitMs), qPrintable(cli.errorString()));
    const QString out = QString::fromUtf8(cli.readAllStandardOutput());
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    if (stderrHas.isEmpty())
        QCOMPARE(err, QString());
    else
        QVERIFY2(err.contains(stderrHas), qPrintable(err));
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QVERIFY2(cli.exitCode() == exitCode, qPrintable(out));

    QMap<QString, double> values = figures(out);
    const QMap<QString, int> rows = outcomes(logPath);
    for (const char *kind : {"ok", "error", "lost", "late", "unanswered"})
        values.insert(QStringLiteral("log_") + QLatin1String(kind),
                      rows.value(QLatin1String(kind)));
    verifyFigures(values, expected, out);
    QCOMPARE(brokenRows(logPath), QStringList());
}

QTEST_GUILESS_MAIN(CheckRunTest)
#include "tst_CheckRun.moc"
