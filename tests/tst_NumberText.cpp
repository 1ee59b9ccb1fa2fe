// Numbers typed into the window (port number, interval) and shown in it.
#include "NumberText.h"

#include <QTest>

#include <limits>

class TestNumberText : public QObject {
    Q_OBJECT
private slots:
    void toInt16_data();
    void toInt16();
    void toInt32_data();
    void toInt32();
    void fromSingle_data();
    void fromSingle();
};

void TestNumberText::toInt16_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("value");

    QTest::newRow("one") << "1" << true << 1;
    QTest::newRow("spaces around") << "  2 " << true << 2;
    QTest::newRow("tab before") << "\t3" << true << 3;
    QTest::newRow("plus sign") << "+4" << true << 4;
    QTest::newRow("negative") << "-5" << true << -5;
    QTest::newRow("fraction rounds down") << "1.4" << true << 1;
    QTest::newRow("fraction rounds up") << "1.6" << true << 2;
    QTest::newRow("half to even down") << "2.5" << true << 2;
    QTest::newRow("half to even up") << "3.5" << true << 4;
    QTest::newRow("negative half to even") << "-2.5" << true << -2;
    QTest::newRow("exponent") << "1e1" << true << 10;
    QTest::newRow("negative exponent") << "150E-2" << true << 2;
    QTest::newRow("leading dot") << ".6" << true << 1;
    QTest::newRow("trailing dot") << "7." << true << 7;
    QTest::newRow("largest") << "32767" << true << 32767;
    QTest::newRow("smallest") << "-32768" << true << -32768;
    QTest::newRow("rounds past the top") << "32767.5" << false << 0;
    QTest::newRow("too large") << "70000" << false << 0;
    QTest::newRow("too small") << "-32769" << false << 0;
    QTest::newRow("overflowing exponent") << "1e999" << false << 0;
    QTest::newRow("underflowing exponent") << "1e-999" << true << 0;
    QTest::newRow("letter") << "x" << false << 0;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("only spaces") << "   " << false << 0;
    QTest::newRow("trailing garbage") << "1a" << false << 0;
    QTest::newRow("space inside") << "1 2" << false << 0;
    QTest::newRow("two signs") << "--1" << false << 0;
    QTest::newRow("lone sign") << "-" << false << 0;
    QTest::newRow("lone dot") << "." << false << 0;
    QTest::newRow("exponent without digits") << "1e" << false << 0;
    QTest::newRow("comma decimal") << "1,5" << false << 0;
    QTest::newRow("hexadecimal") << "0x10" << false << 0;
    QTest::newRow("full-width digit") << "１" << false << 0;
    QTest::newRow("infinity word") << "inf" << false << 0;
    QTest::newRow("nan word") << "nan" << false << 0;
}

void TestNumberText::toInt16()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(int, value);
    const std::optional<qint16> result = NumberText::toInt16(text);
    QCOMPARE(result.has_value(), ok);
    if (ok)
        QCOMPARE(int(*result), value);
}

void TestNumberText::toInt32_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<qint32>("value");

    QTest::newRow("default interval") << "1000" << true << 1000;
    QTest::newRow("beyond 16 bits") << "100000" << true << 100000;
    QTest::newRow("largest") << "2147483647" << true << 2147483647;
    QTest::newRow("past the largest") << "2147483648" << false << 0;
    QTest::newRow("half to even") << "20.5" << true << 20;
    QTest::newRow("exponent") << "2.5e3" << true << 2500;
    QTest::newRow("not a number") << "abc" << false << 0;
}

void TestNumberText::toInt32()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(qint32, value);
    const std::optional<qint32> result = NumberText::toInt32(text);
    QCOMPARE(result.has_value(), ok);
    if (ok)
        QCOMPARE(*result, value);
}

void TestNumberText::fromSingle_data()
{
    QTest::addColumn<float>("value");
    QTest::addColumn<QString>("text");

    QTest::newRow("zero") << 0.0f << "0";
    QTest::newRow("negative zero") << -0.0f << "0";
    QTest::newRow("count") << 12.0f << "12";
    QTest::newRow("milliseconds with a half") << 62.5f << "62.5";
    QTest::newRow("forty milliseconds") << float(0.04f * 1000.0) << "40";
    QTest::newRow("negative") << -1.5f << "-1.5";
    QTest::newRow("seven significant digits") << 1234.5678f << "1234.568";
    QTest::newRow("seven-digit integer") << 9999999.0f << "9999999";
    QTest::newRow("eight-digit integer") << 12345678.0f << "1.234568E+07";
    QTest::newRow("reset minimum in ms") << 99999000.0f << "9.9999E+07";
    QTest::newRow("small fraction") << 0.001f << "0.001";
    QTest::newRow("small with exponent") << 0.00001f << "1E-05";
    QTest::newRow("rounds to seven digits") << 0.1f << "0.1";
    QTest::newRow("infinity") << std::numeric_limits<float>::infinity() << "INF";
}

void TestNumberText::fromSingle()
{
    QFETCH(float, value);
    QFETCH(QString, text);
    QCOMPARE(NumberText::fromSingle(value), text);
}

QTEST_APPLESS_MAIN(TestNumberText)
#include "tst_NumberText.moc"
