#include "LineSettings.h"

#include <QTest>

// The settings text as the window's settings box holds it.
class LineSettingsTest : public QObject {
    Q_OBJECT
private slots:
    void parsesWellFormedText_data();
    void parsesWellFormedText();
    void refusesMalformedText_data();
    void refusesMalformedText();
    void handshakingCodeNamesAFlowControl_data();
    void handshakingCodeNamesAFlowControl();
};

void LineSettingsTest::parsesWellFormedText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint32>("baud");
    QTest::addColumn<char>("parity");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("stopBits"); // LineSettings::StopBits as int
    QTest::addColumn<QString>("canonical");
    QTest::addColumn<double>("bitsPerCharacter"); // with the start bit

    const int one = int(LineSettings::StopBits::One);
    const int oneAndHalf = int(LineSettings::StopBits::OneAndHalf);
    const int two = int(LineSettings::StopBits::Two);

    QTest::newRow("usual") << "9600,N,8,1" << 9600 << 'N' << 8 << one << "9600,N,8,1" << 10.0;
    QTest::newRow("spaces around fields")
        << " 19200 , E , 7 , 2 " << 19200 << 'E' << 7 << two << "19200,E,7,2" << 11.0;
    QTest::newRow("lower-case parity")
        << "4800,o,7,1" << 4800 << 'O' << 7 << one << "4800,O,7,1" << 10.0;
    QTest::newRow("mark parity, 1.5 stop bits")
        << "1200,m,5,1.5" << 1200 << 'M' << 5 << oneAndHalf << "1200,M,5,1.5" << 8.5;
    QTest::newRow("space parity, 6 data bits")
        << "300,S,6,2" << 300 << 'S' << 6 << two << "300,S,6,2" << 10.0;
    QTest::newRow("custom rate") << "250000,N,8,1" << 250000 << 'N' << 8 << one << "250000,N,8,1"
                                 << 10.0;
    QTest::newRow("largest 32-bit rate")
        << "2147483647,N,8,1" << 2147483647 << 'N' << 8 << one << "2147483647,N,8,1" << 10.0;
    QTest::newRow("leading zeros in the rate")
        << "009600,N,8,1" << 9600 << 'N' << 8 << one << "9600,N,8,1" << 10.0;
    QTest::newRow("rate of 1") << "1,N,8,1" << 1 << 'N' << 8 << one << "1,N,8,1" << 10.0;
}

void LineSettingsTest::parsesWellFormedText()
{
    QFETCH(QString, text);
    QFETCH(qint32, baud);
    QFETCH(char, parity);
    QFETCH(int, dataBits);
    QFETCH(int, stopBits);
    QFETCH(QString, canonical);
    QFETCH(double, bitsPerCharacter);

    const auto line = LineSettings::parse(text);
    QVERIFY(line.has_value());
    QCOMPARE(line->baudRate, baud);
    QCOMPARE(line->parity, parity);
    QCOMPARE(line->dataBits, dataBits);
    QCOMPARE(int(line->stopBits), stopBits);
    QCOMPARE(line->toString(), canonical);
    QCOMPARE(line->bitsPerCharacter(), bitsPerCharacter);
    QCOMPARE(LineSettings::parse(line->toString()), line);
}

void LineSettingsTest::refusesMalformedText_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("empty") << "";
    QTest::newRow("spaces only") << "   ";
    QTest::newRow("three fields") << "9600,N,8";
    QTest::newRow("five fields") << "9600,N,8,1,1";
    QTest::newRow("trailing comma") << "9600,N,8,1,";
    QTest::newRow("semicolons") << "9600;N;8;1";
    QTest::newRow("empty baud") << ",N,8,1";
    QTest::newRow("zero baud") << "0,N,8,1";
    QTest::newRow("negative baud") << "-9600,N,8,1";
    QTest::newRow("plus sign") << "+9600,N,8,1";
    QTest::newRow("letter O in the rate") << "96O0,N,8,1";
    QTest::newRow("fractional baud") << "9600.5,N,8,1";
    QTest::newRow("hex baud") << "0x2580,N,8,1";
    QTest::newRow("space inside the rate") << "96 00,N,8,1";
    QTest::newRow("full-width digits") << QStringLiteral("９６００,N,8,1");
    QTest::newRow("baud past 32 bits") << "2147483648,N,8,1";
    QTest::newRow("baud past 64 bits") << "99999999999999999999,N,8,1";
    QTest::newRow("unknown parity") << "9600,X,8,1";
    QTest::newRow("parity spelled out") << "9600,None,8,1";
    QTest::newRow("empty parity") << "9600,,8,1";
    QTest::newRow("four data bits") << "9600,N,4,1";
    QTest::newRow("nine data bits") << "9600,N,9,1";
    QTest::newRow("data bits with leading zero") << "9600,N,08,1";
    QTest::newRow("zero stop bits") << "9600,N,8,0";
    QTest::newRow("three stop bits") << "9600,N,8,3";
    QTest::newRow("1.0 stop bits") << "9600,N,8,1.0";
    QTest::newRow("1,5 stop bits") << "9600,N,8,1,5";
}

void LineSettingsTest::refusesMalformedText()
{
    QFETCH(QString, text);

    QCOMPARE(LineSettings::parse(text), std::nullopt);
}

void LineSettingsTest::handshakingCodeNamesAFlowControl_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("known");
    QTest::addColumn<bool>("rtsCts");
    QTest::addColumn<bool>("xonXoff");

    QTest::newRow("below the list") << -1 << false << false << false;
    QTest::newRow("none") << 0 << true << false << false;
    QTest::newRow("XON/XOFF") << 1 << true << false << true;
    QTest::newRow("RTS/CTS") << 2 << true << true << false;
    QTest::newRow("RTS/CTS and XON/XOFF") << 3 << true << true << true;
    QTest::newRow("past the list") << 4 << false << false << false;
}

void LineSettingsTest::handshakingCodeNamesAFlowControl()
{
    QFETCH(int, code);
    QFETCH(bool, known);
    QFETCH(bool, rtsCts);
    QFETCH(bool, xonXoff);

    const auto flowControl = LineSettings::flowControlFromCode(code);
    QCOMPARE(flowControl.has_value(), known);
    if (!known)
        return;
    LineSettings line;
    line.flowControl = *flowControl;
    QCOMPARE(line.usesRtsCts(), rtsCts);
    QCOMPARE(line.usesXonXoff(), xonXoff);
    // The settings text never carries it.
    QCOMPARE(line.toString(), QStringLiteral("9600,N,8,1"));
}

QTEST_GUILESS_MAIN(LineSettingsTest)
#include "tst_LineSettings.moc"
