#include "CsvLog.h"

#include "ScratchFiles.h"

#include <QTemporaryDir>
#include <QTest>

// The exchange log of commcheck-cli, added to run after run.
class CsvLogTest : public QObject {
    Q_OBJECT
private slots:
    void addsToAnExistingLogWithoutASecondHeader();
};

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
