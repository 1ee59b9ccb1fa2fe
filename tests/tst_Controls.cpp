// The multi-line boxes as the handlers see them: CR LF line breaks, and long
// lines held in pieces that read back whole.
#include "Controls.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>

#include <utility>

namespace {

QString repeated(const QString &unit, qsizetype length)
{
    QString text;
    while (text.size() < length)
        text += unit;
    return text.left(length);
}

} // namespace

class TestControls : public QObject {
    Q_OBJECT
private slots:
    void boxTextReadsBackWhatWasSet_data();
    void boxTextReadsBackWhatWasSet();
    void longLineIsHeldInPiecesOfBoundedLength();
    void lineBreakTypedInsideAPieceIsARealBreak();
    void joiningPiecesByDeletingAddsNothing();
    void editsAcrossJoinsKeepTheOtherBreaks_data();
    void editsAcrossJoinsKeepTheOtherBreaks();
};

void TestControls::boxTextReadsBackWhatWasSet_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("blocks"); // blocks the box holds the text in

    const QString line4096 = repeated(QStringLiteral("ABC[13]"), 4096);
    QTest::newRow("empty") << QString() << 1;
    QTest::newRow("one short line") << QStringLiteral("OK[13][10]") << 1;
    QTest::newRow("CR LF lines") << QStringLiteral("L1\r\nL2\r\n\r\nL4") << 4;
    QTest::newRow("ends with CR LF") << QStringLiteral("L1\r\n") << 2;
    QTest::newRow("line at the piece length") << line4096 << 1;
    QTest::newRow("line one past the piece length") << line4096 + u'x' << 2;
    QTest::newRow("long line between short ones")
        << QStringLiteral("head\r\n") + repeated(QStringLiteral("あ"), 10000) +
               QStringLiteral("\r\ntail")
        << 5;
    QTest::newRow("surrogate pair across the cut")
        << repeated(QStringLiteral("a"), 4095) + QString::fromUcs4(U"\U0001F600") +
               QStringLiteral("b")
        << 2;
    QTest::newRow("long line ending where a piece would start")
        << repeated(QStringLiteral("z"), 8192) + QStringLiteral("\r\nnext") << 3;
}

void TestControls::boxTextReadsBackWhatWasSet()
{
    QFETCH(QString, text);
    QFETCH(int, blocks);

    QPlainTextEdit box;
    Controls::setBoxText(&box, text);
    QCOMPARE(Controls::boxText(&box), text);
    QCOMPARE(box.document()->blockCount(), blocks);
    // No block holds a surrogate pair cut in two.
    for (QTextBlock b = box.document()->begin(); b.isValid(); b = b.next()) {
        const QString t = b.text();
        QVERIFY(t.isEmpty() || !t.front().isLowSurrogate());
        QVERIFY(t.isEmpty() || !t.back().isHighSurrogate());
    }
    // Setting the same text again keeps it.
    Controls::setBoxText(&box, text);
    QCOMPARE(Controls::boxText(&box), text);

    // Handed over with room to spare, as a received text is, and cut where it
    // lies: the same box.
    QString roomy = text;
    roomy.reserve(2 * text.size() + 16);
    QPlainTextEdit other;
    Controls::setBoxText(&other, std::move(roomy));
    QCOMPARE(Controls::boxText(&other), text);
    QCOMPARE(other.document()->toPlainText(), box.document()->toPlainText());
}

void TestControls::longLineIsHeldInPiecesOfBoundedLength()
{
    // A received burst: megabytes of escaped text without a line break.
    const QString burst = repeated(QStringLiteral("[2]ABC[13][10][-32096]"), 8 * 1024 * 1024);
    QPlainTextEdit box;
    Controls::setBoxText(&box, burst);
    for (QTextBlock b = box.document()->begin(); b.isValid(); b = b.next())
        QVERIFY(b.length() <= 4096 + 2);
    QCOMPARE(Controls::boxText(&box).size(), burst.size());
    QVERIFY(Controls::boxText(&box) == burst);
}

void TestControls::lineBreakTypedInsideAPieceIsARealBreak()
{
    const QString line = repeated(QStringLiteral("0123456789"), 9000);
    QPlainTextEdit box;
    Controls::setBoxText(&box, line);
    // The user presses Enter inside the second piece, and again right where
    // the third piece starts.
    QTextCursor cursor(box.document());
    cursor.setPosition(4096 + 1 + 100);
    cursor.insertBlock();
    const int thirdPiece = box.document()->findBlockByNumber(3).position();
    cursor.setPosition(thirdPiece);
    cursor.insertBlock();

    const QString expected = line.left(4096 + 100) + QStringLiteral("\r\n") +
                             line.mid(4096 + 100, 8192 - 4096 - 100) + QStringLiteral("\r\n") +
                             line.mid(8192);
    QCOMPARE(Controls::boxText(&box), expected);
}

void TestControls::joiningPiecesByDeletingAddsNothing()
{
    const QString line = repeated(QStringLiteral("abc"), 5000);
    QPlainTextEdit box;
    Controls::setBoxText(&box, QStringLiteral("top\r\n") + line);
    // Backspace at the start of the second piece joins it to the first.
    QTextCursor cursor(box.document());
    cursor.setPosition(box.document()->findBlockByNumber(2).position());
    cursor.deletePreviousChar();
    QCOMPARE(Controls::boxText(&box), QStringLiteral("top\r\n") + line);
}

void TestControls::editsAcrossJoinsKeepTheOtherBreaks_data()
{
    // The box holds "top", a real break, then a line of 9000 characters in
    // three pieces (joins at 4096 and 8192 of the line), a real break, "end".
    QTest::addColumn<int>("from"); // in the line, a selection [from, to)
    QTest::addColumn<int>("to");
    QTest::addColumn<QString>("typed");

    QTest::newRow("delete a selection across a join") << 4000 << 4200 << QString();
    QTest::newRow("delete up to the line's real break") << 8100 << 9000 << QString();
    QTest::newRow("replace a selection across both joins") << 100 << 8500 << "XY";
    QTest::newRow("type right before a join") << 4096 << 4096 << "Q";
    QTest::newRow("delete the whole line") << 0 << 9000 << QString();
}

void TestControls::editsAcrossJoinsKeepTheOtherBreaks()
{
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(QString, typed);

    const QString line = repeated(QStringLiteral("0123456789"), 9000);
    QPlainTextEdit box;
    Controls::setBoxText(&box, QStringLiteral("top\r\n") + line + QStringLiteral("\r\nend"));
    // Line position -> document position: 4 for "top" and its break, one
    // more for each join before it.
    auto documentPosition = [](int at) { return 4 + at + (at > 4096) + (at > 8192); };
    QTextCursor cursor(box.document());
    cursor.setPosition(documentPosition(from));
    cursor.setPosition(documentPosition(to), QTextCursor::KeepAnchor);
    cursor.insertText(typed);

    const QString edited = line.left(from) + typed + line.mid(to);
    QCOMPARE(Controls::boxText(&box),
             QStringLiteral("top\r\n") + edited + QStringLiteral("\r\nend"));

    // Undone, the joins come back with the text; done again, they go again.
    box.undo();
    QCOMPARE(Controls::boxText(&box), QStringLiteral("top\r\n") + line + QStringLiteral("\r\nend"));
    box.redo();
    QCOMPARE(Controls::boxText(&box),
             QStringLiteral("top\r\n") + edited + QStringLiteral("\r\nend"));
}

QTEST_MAIN(TestControls)
#include "tst_Controls.moc"
