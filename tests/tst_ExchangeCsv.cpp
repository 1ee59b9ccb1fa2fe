#include "ExchangeCsv.h"

#include <QTest>

// Fields of the exchange log as a CSV reader takes them.
class ExchangeCsvTest : public QObject {
    Q_OBJECT
private slots:
    void quotesFieldsAsRfc4180_data();
    void quotesFieldsAsRfc4180();
};

void ExchangeCsvTest::quotesFieldsAsRfc4180_data()
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

void ExchangeCsvTest::quotesFieldsAsRfc4180()
{
    QFETCH(QString, field);
    QFETCH(QString, written);
    QCOMPARE(ExchangeCsv::quoted(field), written);
}

QTEST_GUILESS_MAIN(ExchangeCsvTest)
#include "tst_ExchangeCsv.moc"
