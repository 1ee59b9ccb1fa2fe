#include "CsvLog.h"

#include "ScratchFiles.h"

#include <QTemporaryDir>
#include <QTest>

// The exchange log as a CSV reader takes it.
class CsvLogTest : public QObject {
    Q_OBJECT
private slots:
    void quotesFieldsAsRfc4180_data();
    void quotesFieldsAsRfc4180();
    void addsToAnExistingLogWithoutASecondHeader();
};

void CsvLogTest::quotesFieldsAsRfc4180_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("written");

    QTest::newRow("plain") << "ABC[13]"
                           << "ABC[13]";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("comma") << "A,B"
                           << "\"A,B\"";
    QTest::newRow("double quote") << "5\" disk"
                                  << "\"5\"\" disk\"";
    QTest::newRow("only a quote") << "\""
                                  << "\"\"\"\"";
    QTest::newRow("line break") << "A\r\nB"
                                << "\"A\r\nB\"";
}

void CsvLogTest::quotesFieldsAsRfc4180()
{
    QFETCH(QString, field);
    QFETCH(QString, written);
    QCOMPARE(CsvLog::quoted(field), written);
}

void CsvLogTest::addsToAnExistingLogWithoutASecondHeader()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("log.csv"));
    for (const QString &sequence : {QStringLiteral("1"), QStringLiteral("2")}) {
        CsvLog log;
        QVERIFY2(log.open(path), qPrintable(log.errorString()));
        QVERIFY(log.addRow({QStringLiteral("t"), sequence, QStringLiteral("0.5"),
                            QStringLiteral("error"), QStringLiteral("A,\"B\"")}));
    }
    QCOMPARE(ScratchFiles::fileBytes(path),
             QByteArray("time,sequence,response_ms,outcome,received\r\n"
                        "t,1,0.5,error,\"A,\"\"B\"\"\"\r\n"
                        "t,2,0.5,error,\"A,\"\"B\"\"\"\r\n"));
}

QTEST_GUILESS_MAIN(CsvLogTest)
#include "tst_CsvLog.moc"
