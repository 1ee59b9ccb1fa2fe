// `commcheck-cli check` against far ends that misbehave as real ones do:
// late, answering twice, corrupting a reply, falling silent. What the user
// reads (the summary, the log, the exit code) must be the line's truth.
#include "ScratchFiles.h"
#include "ScriptedFarEnd.h"

#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

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

    using Script = ScriptedFarEnd::Script;
    QTest::newRow("every reply 300 ms late")
        << "--interval 700 --count 3" << Script{"ABC\r", 300ms} << 0
        << "count=3 errors=0 late=0 min>=300 max<700 log_ok=3";
    QTest::newRow("every reply 300 ms late, timed on arrival")
        << "--interval 700 --count 3 --precise" << Script{"ABC\r", 300ms} << 0
        << "count=3 errors=0 min>=300 max<700";
    QTest::newRow("every reply 600 ms late, given up at 200 ms")
        << "--interval 1000 --count 3 --timeout 200" << Script{"ABC\r", 600ms} << 1
        << "count=0 lost=3 late=2 log_lost=3 log_late=2";
    QTest::newRow("every reply twice")
        << "--interval 500 --count 3 --precise" << Script{"ABC\r", 100ms, -1, 0, true} << 1
        << "count=3 min>=100 late=2 errors=0 log_late=2";
    QTest::newRow("the third reply corrupted")
        << "--interval 300 --duration 1500ms" << Script{"ABC\r", 0ms, -1, 3} << 1
        << "count=2 errors>=1 unanswered=1 log_unanswered=1";
    QTest::newRow("the third reply corrupted, given up at 200 ms")
        << "--interval 300 --count 5 --timeout 200" << Script{"ABC\r", 0ms, -1, 3} << 1
        << "probes=5 count=4 errors>=1 lost=0 unanswered=0";
    QTest::newRow("three replies, then silence")
        << "--interval 300 --duration 1500ms" << Script{"ABC\r", 0ms, 3} << 1
        << "count=3 lost=0 unanswered=1 log_unanswered=1";
}

void CheckRunTest::summaryTellsWhatTheFarEndDid()
{
    QFETCH(QString, arguments);
    QFETCH(ScriptedFarEnd::Script, farEnd);
    QFETCH(int, exitCode);
    QFETCH(QString, expected);

    ScriptedFarEnd far(farEnd);
    QVERIFY2(far.isValid(), qPrintable(far.error()));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString logPath = dir.filePath(QStringLiteral("log.csv"));

    QProcess cli;
    cli.start(QStringLiteral(COMMCHECK_CLI_PATH),
              QStringList{QStringLiteral("check"), far.device(), QStringLiteral("--text"),
                          QStringLiteral("ABC[13]"), QStringLiteral("--flow"),
                          QStringLiteral("none"), QStringLiteral("--log"), logPath} +
                  QProcess::splitCommand(arguments));
    QVERIFY2(cli.waitForFinished(kLimitMs), qPrintable(cli.errorString()));
    const QString out = QString::fromUtf8(cli.readAllStandardOutput());
    QCOMPARE(QString::fromUtf8(cli.readAllStandardError()), QString());
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QVERIFY2(cli.exitCode() == exitCode, qPrintable(out));

    QMap<QString, double> values = figures(out);
    const QMap<QString, int> rows = outcomes(logPath);
    for (const char *kind : {"ok", "error", "lost", "late", "unanswered"})
        values.insert(QStringLiteral("log_") + QLatin1String(kind),
                      rows.value(QLatin1String(kind)));
    verifyFigures(values, expected, out);
}

QTEST_GUILESS_MAIN(CheckRunTest)
#include "tst_CheckRun.moc"
