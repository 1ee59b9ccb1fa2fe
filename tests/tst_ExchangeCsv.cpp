#include "ExchangeCsv.h"

#include <QTest>

// Fields of the exchange log as a CSV reader takes them.
class ExchangeCsvTest : public QObject {
    Q_OBJECT
private slots:
    void quotesFieldsAsRfc4180_data();
    void quotesFieldsAsRfc4180();
    void receivedTextIsBoundedAndTheCutMarked_data();
    void receivedTextIsBoundedAndTheCutMarked();
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

void ExchangeCsvTest::receivedTextIsBoundedAndTheCutMarked_data()
{
    QTest::addColumn<QString>("received");
    QTest::addColumn<QString>("field");

    const QString a4096(4096, u'A');
    QTest::newRow("as long as kept, whole") << a4096 << a4096;
    QTest::newRow("one character more, cut")
        << a4096 + u'B' << a4096 + QStringLiteral("…[cut: 1 more]");
    QTest::newRow("noise of 1 Mi characters")
        << QString(1024 * 1024, u'A') << a4096 + QStringLiteral("…[cut: 1044480 more]");
    QTest::newRow("a code that ends at the cut, kept")
        << QString(4092, u'A') + QStringLiteral("[13]B")
        << QString(4092, u'A') + QStringLiteral("[13]…[cut: 1 more]");
    QTest::newRow("a code across the cut, left out whole")
        << QString(4094, u'A') + QStringLiteral("[13]B")
        << QString(4094, u'A') + QStringLiteral("…[cut: 5 more]");
    QTest::newRow("a double-byte code across the cut, left out whole")
        << QString(4090, u'A') + QStringLiteral("[-32096]")
        << QString(4090, u'A') + QStringLiteral("…[cut: 8 more]");
}

void ExchangeCsvTest::receivedTextIsBoundedAndTheCutMarked()
{
    QFETCH(QString, received);
    QFETCH(QString, field);

    Exchange exchange;
    exchange.at = QDateTime::fromMSecsSinceEpoch(0);
    exchange.outcome = Exchange::Outcome::Error;
    exchange.received = received;
    QCOMPARE(ExchangeCsv::fields(exchange).at(4), field);
}

QTEST_GUILESS_MAIN(ExchangeCsvTest)
#include "tst_ExchangeCsv.moc"
