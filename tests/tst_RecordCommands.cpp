#include "CsvLog.h"
#include "ExchangeCsv.h"
#include "ExchangeRecord.h"
#include "FakeFileDialog.h"
#include "FileDialog.h"
#include "RecordCommands.h"
#include "ScratchFiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <ctime>

// The run saved from the window: byte for byte the log commcheck-cli writes
// of the same exchanges, and a save that fails says so.
class RecordCommandsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void savesTheRunAsTheCommandLineLogsIt_data();
    void savesTheRunAsTheCommandLineLogsIt();
    void failedSaveSaysSo_data();
    void failedSaveSaysSo();
};

namespace {

Exchange exchange(qint64 atMs, std::uint64_t sequence, double ms,
                  Exchange::Outcome outcome = Exchange::Outcome::Ok, const QString &received = {})
{
    Exchange e;
    e.at = QDateTime::fromMSecsSinceEpoch(atMs);
    e.sequence = sequence;
    e.responseMs = ms;
    e.outcome = outcome;
    e.received = received;
    return e;
}

constexpr qint64 kMay1 = 1714600000000;
// When summer time begins and ends in the zone of the test, at 01:07 UTC:
// not on a quarter of an hour, as no real zone has it.
constexpr qint64 kSummerTimeBegins = 1711847220000; // 2024-03-31
constexpr qint64 kSummerTimeEnds = 1729991220000;   // 2024-10-27

} // namespace

void RecordCommandsTest::initTestCase()
{
    // Local time one hour ahead of UTC, two in summer.
    qputenv("TZ", "XST-1XDT,M3.5.0/2:07,M10.5.0/3:07");
    tzset();
}

void RecordCommandsTest::savesTheRunAsTheCommandLineLogsIt_data()
{
    QTest::addColumn<QList<Exchange>>("run");

    using O = Exchange::Outcome;
    QTest::newRow("nothing yet") << QList<Exchange>{};
    QTest::newRow("replies matched")
        << QList<Exchange>{exchange(kMay1, 1, 50.4125), exchange(kMay1 + 100, 2, 0.0004),
                           exchange(kMay1 + 250, 3, 123456.789)};
    QTest::newRow("an error with a comma, a quote and a line break") << QList<Exchange>{
        exchange(kMay1, 1, 51), exchange(kMay1 + 500, 2, 500.2, O::Error, "A,\"B\"\r\nC[26]")};
    QTest::newRow("lost, with part of a reply and with none") << QList<Exchange>{
        exchange(kMay1, 1, 500.01, O::Lost, "AB"), exchange(kMay1 + 1000, 2, 500.02, O::Lost)};
    QTest::newRow("a probe skipped, the clock set back an hour") << QList<Exchange>{
        exchange(kMay1, 4, 50), exchange(kMay1 + 100, 6, 50), exchange(kMay1 - 3600 * 1000, 7, 50)};
    QTest::newRow("summer time begins") << QList<Exchange>{exchange(kSummerTimeBegins - 50, 1, 50),
                                                           exchange(kSummerTimeBegins, 2, 50),
                                                           exchange(kSummerTimeBegins + 50, 3, 50)};
    QTest::newRow("summer time ends")
        << QList<Exchange>{exchange(kSummerTimeEnds - 1, 1, 50), exchange(kSummerTimeEnds, 2, 50),
                           exchange(kSummerTimeEnds + 3600 * 1000, 3, 50)};
    QTest::newRow("non-ASCII received text")
        << QList<Exchange>{exchange(kMay1, 1, 50, O::Error, QStringLiteral("ｱｲｳ漢字[0]"))};
}

void RecordCommandsTest::savesTheRunAsTheCommandLineLogsIt()
{
    QFETCH(QList<Exchange>, run);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString cliPath = dir.filePath(QStringLiteral("cli.csv"));
    const QString windowPath = dir.filePath(QStringLiteral("window.csv"));

    CsvLog log;
    QVERIFY2(log.open(cliPath), qPrintable(log.errorString()));
    ExchangeRecord record;
    for (const Exchange &e : run) {
        QVERIFY(log.addRow(ExchangeCsv::fields(e)));
        record.add(e);
    }

    FakeFileDialog dialog;
    dialog.choose(windowPath);
    RecordCommands(record, dialog).save();

    QCOMPARE(dialog.errors(), QStringList());
    QCOMPARE(dialog.shown().size(), 1);
    QCOMPARE(dialog.shown()[0].filter, QStringLiteral("CSV(*.csv)|*.csv"));
    QCOMPARE(dialog.shown()[0].flags & FileDialog::kOverwritePrompt, FileDialog::kOverwritePrompt);
    QCOMPARE(ScratchFiles::fileBytes(windowPath), ScratchFiles::fileBytes(cliPath));
}

void RecordCommandsTest::failedSaveSaysSo_data()
{
    QTest::addColumn<QString>("chosen"); // under the scratch folder; empty: cancelled
    QTest::addColumn<bool>("reported");

    QTest::newRow("cancelled") << QString() << false;
    QTest::newRow("a folder") << QStringLiteral("folder") << true;
    QTest::newRow("in a folder that is not there") << QStringLiteral("gone/run.csv") << true;
}

void RecordCommandsTest::failedSaveSaysSo()
{
    QFETCH(QString, chosen);
    QFETCH(bool, reported);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
    ExchangeRecord record;
    record.add(exchange(kMay1, 1, 50));

    FakeFileDialog dialog;
    if (!chosen.isEmpty())
        dialog.choose(dir.filePath(chosen));
    RecordCommands(record, dialog).save();

    QCOMPARE(dialog.errors().size(), reported ? 1 : 0);
    if (reported)
        QVERIFY2(
            dialog.errors()[0].startsWith(QStringLiteral("ファイル「%1」に保存できませんでした。\n")
                                              .arg(QDir::toNativeSeparators(dir.filePath(chosen)))),
            qPrintable(dialog.errors()[0]));
    // Nothing was left beside what was there.
    QCOMPARE(ScratchFiles::entriesOf(dir.path()), QStringList{QStringLiteral("folder")});
}

QTEST_GUILESS_MAIN(RecordCommandsTest)
#include "tst_RecordCommands.moc"
