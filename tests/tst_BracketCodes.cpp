// The bracket codec: typed text to line text and received text to display.
#include "BracketCodes.h"

#include <QRandomGenerator>
#include <QTest>

using BracketCodes::EscapeCodes;
using BracketCodes::UnescapeCodes;

class TestBracketCodes : public QObject {
    Q_OBJECT
private slots:
    void unescape_data();
    void unescape();
    void escape_data();
    void escape();
    void escapeThenUnescapeGivesSingleByteTextBack();
    void unescapeLeavesItsArgumentAlone();
    void longTextsAreProcessedWhole_data();
    void longTextsAreProcessedWhole();
};

void TestBracketCodes::unescape_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("sent");

    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("plain text") << "ABC"
                                << "ABC";
    QTest::newRow("CR LF at the end") << "ABC[13][10]"
                                      << "ABC\r\n";
    QTest::newRow("STX and ETX around data") << "[2]DATA[3]"
                                             << "\x02"
                                                "DATA\x03";
    QTest::newRow("unclosed escape alone") << "[13"
                                           << "";
    QTest::newRow("unclosed escape after text") << "AB[1"
                                                << "AB";
    QTest::newRow("closing bracket outside") << "a]b"
                                             << "a]b";
    QTest::newRow("non-digit inside skipped") << "[1x3]"
                                              << "\r";
    QTest::newRow("above 128 is ERR") << "[200]"
                                      << "ERR";
    QTest::newRow("many digits is ERR") << "[99999]"
                                        << "ERR";
    QTest::newRow("digits beyond int range is ERR") << "[99999999999999999999]"
                                                    << "ERR";
    QTest::newRow("129 is ERR") << "[129]"
                                << "ERR";
    QTest::newRow("300 is ERR") << "[300]"
                                << "ERR";
    QTest::newRow("128 is a character") << "[128]" << QString(QChar(0x80));
    QTest::newRow("NUL") << "[0]" << QString(QChar(0));
    QTest::newRow("leading zeros") << "[013]"
                                   << "\r";
    QTest::newRow("many leading zeros") << "[0000000065]"
                                        << "A";
    QTest::newRow("code of a printable character") << "[65][66]"
                                                   << "AB";
    QTest::newRow("93 gives a closing bracket") << "[93]"
                                                << "]";
    QTest::newRow("91 opens a new escape") << "[91]65]"
                                           << "A";
    QTest::newRow("91 at the end swallows the rest") << "x[91]abc"
                                                     << "x";
    QTest::newRow("opening bracket inside an escape is ignored") << "[1[3]"
                                                                 << "\r";
    QTest::newRow("empty escape yields nothing") << "A[]B"
                                                 << "AB";
    QTest::newRow("escape of non-digits yields nothing") << "A[x]B"
                                                         << "AB";
    QTest::newRow("ERR then text") << "[500]OK"
                                   << "ERROK";
    QTest::newRow("text between escapes") << "[27]P1[13]"
                                          << "\x1bP1\r";
    QTest::newRow("Japanese passes through") << "あ[13]"
                                             << "あ\r";
    QTest::newRow("full-width digits are not digits") << "[１３]"
                                                      << "";
    QTest::newRow("typed line break passes through") << "A\r\nB"
                                                     << "A\r\nB";
}

void TestBracketCodes::unescape()
{
    QFETCH(QString, typed);
    QFETCH(QString, sent);
    QCOMPARE(UnescapeCodes(typed), sent);
}

void TestBracketCodes::escape_data()
{
    QTest::addColumn<QString>("received");
    QTest::addColumn<QString>("shown");

    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("plain text") << "ABC"
                                << "ABC";
    QTest::newRow("CR LF") << "\r\n"
                           << "[13][10]";
    QTest::newRow("OK reply") << "OK\r\n"
                              << "OK[13][10]";
    QTest::newRow("NUL") << QString(QChar(0)) << "[0]";
    QTest::newRow("unit separator 31") << QString(QChar(31)) << "[31]";
    QTest::newRow("space stays") << " "
                                 << " ";
    QTest::newRow("DEL stays") << QString(QChar(0x7f)) << QString(QChar(0x7f));
    QTest::newRow("SUB and FS are bracketed") << "\x1a\x1c"
                                              << "[26][28]";
    QTest::newRow("half-width katakana stays") << "ｱｲ"
                                               << "ｱｲ";
    QTest::newRow("hiragana a") << "あ"
                                << "[-32096]";
    QTest::newRow("kanji") << "漢"
                           << "[-30017]";
    QTest::newRow("full-width digit") << "１"
                                      << "[-32176]";
    QTest::newRow("NEC row 13 circled one") << "①"
                                            << "[-30912]";
    QTest::newRow("IBM extension") << "ⅰ"
                                   << "[-1472]";
    QTest::newRow("user-defined area") << QString(QChar(0xE000)) << "[-4032]";
    QTest::newRow("byte 0x80 character") << QString(QChar(0x80)) << QString(QChar(0x80));
    QTest::newRow("lone invalid byte stays") << QString(QChar(0xDC81)) << QString(QChar(0xDC81));
    QTest::newRow("no code page form stays") << "€"
                                             << "€";
    QTest::newRow("mixed") << "A\tあ\r"
                           << "A[9][-32096][13]";
    QTest::newRow("opening bracket is not escaped") << "["
                                                    << "[";
}

void TestBracketCodes::escape()
{
    QFETCH(QString, received);
    QFETCH(QString, shown);
    QCOMPARE(EscapeCodes(received), shown);
}

// Any text of single-byte characters 0..128 survives display and re-sending,
// as long as it holds no "[" (which the display does not escape).
void TestBracketCodes::escapeThenUnescapeGivesSingleByteTextBack()
{
    QRandomGenerator rng(932);
    for (int round = 0; round < 2000; ++round) {
        QString text;
        const int length = rng.bounded(0, 40);
        for (int i = 0; i < length; ++i) {
            char16_t c = static_cast<char16_t>(rng.bounded(0, 129));
            if (c == u'[')
                c = u'A';
            text += QChar(c);
        }
        const QString back = UnescapeCodes(EscapeCodes(text));
        if (back != text)
            QFAIL(qPrintable(QStringLiteral("round trip changed %1 into %2")
                                 .arg(QString::fromLatin1(text.toLatin1().toHex(' ')),
                                      QString::fromLatin1(back.toLatin1().toHex(' ')))));
    }
}

void TestBracketCodes::unescapeLeavesItsArgumentAlone()
{
    const QString typed = QStringLiteral("AB[13]");
    const QString copy = typed;
    QCOMPARE(UnescapeCodes(typed), QStringLiteral("AB\r"));
    QCOMPARE(EscapeCodes(typed), typed);
    QCOMPARE(typed, copy);
}

// Long texts are handled in full, not cut or refused: beyond 32,766
// characters, and results of megabytes (the escape measures its result
// before writing it, so a miscount shows here as a cut or padded result).
void TestBracketCodes::longTextsAreProcessedWhole_data()
{
    QTest::addColumn<int>("repeats");
    // "AB[13][-32096]" is 14 units, 28 bytes.
    QTest::newRow("beyond 32,766 characters") << 100000;
    QTest::newRow("result of 8 MiB") << 8 * 1024 * 1024 / 28;
}

void TestBracketCodes::longTextsAreProcessedWhole()
{
    QFETCH(int, repeats);
    const QString typed = QStringLiteral("AB[13]").repeated(repeats);
    const QString sent = UnescapeCodes(typed);
    QCOMPARE(sent.size(), 3 * repeats);
    QCOMPARE(sent, QStringLiteral("AB\r").repeated(repeats));
    QCOMPARE(EscapeCodes(sent), typed);

    const QString received = QStringLiteral("AB\rあ").repeated(repeats);
    const QString shown = EscapeCodes(received);
    QCOMPARE(shown.size(), 14 * qsizetype(repeats));
    QCOMPARE(shown, QStringLiteral("AB[13][-32096]").repeated(repeats));
}

QTEST_APPLESS_MAIN(TestBracketCodes)
#include "tst_BracketCodes.moc"
