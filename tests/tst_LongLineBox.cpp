// The text boxes as the user fills them: a pasted line of any length is held
// in pieces, and reads back, copies out and undoes as the text it is.
#include "Controls.h"
#include "LongLineBox.h"
#include "SoftBreaks.h"

#include <QApplication>
#include <QClipboard>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>

namespace {

QString repeated(const QString &unit, qsizetype length)
{
    QString text;
    while (text.size() < length)
        text += unit;
    return text.left(length);
}

// The document position of character `at` of the box's text as boxText()
// reads it, where a line break is CR LF (`at` never inside one).
int documentPosition(const QPlainTextEdit &box, qsizetype at)
{
    const SoftBreaks *joins = SoftBreaks::of(box.document());
    qsizetype seen = 0;
    for (QTextBlock b = box.document()->begin(); b.isValid(); b = b.next()) {
        if (b != box.document()->begin() && !(joins && joins->contains(b.position() - 1)))
            seen += 2; // the CR LF before this block
        if (at <= seen + b.length() - 1)
            return b.position() + int(at - seen);
        seen += b.length() - 1;
    }
    return box.document()->characterCount() - 1;
}

// Every line break a paste may bring (CR LF, LF, CR) reads back as CR LF.
QString asTheBoxReadsIt(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    return text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
}

} // namespace

class TestLongLineBox : public QObject {
    Q_OBJECT
private slots:
    void pasteKeepsTheTextInPieces_data();
    void pasteKeepsTheTextInPieces();
    void copyLeavesTheJoinsOut_data();
    void copyLeavesTheJoinsOut();
};

void TestLongLineBox::pasteKeepsTheTextInPieces_data()
{
    // The box holds `before` (CR LF line breaks), the cursor stands at
    // character `at` of it, and the clipboard's text is pasted there.
    QTest::addColumn<QString>("before");
    QTest::addColumn<int>("at");
    QTest::addColumn<QString>("pasted");
    QTest::addColumn<bool>("dropped"); // inside a larger edit, as a drop is

    const QString megabyte = repeated(QStringLiteral("ABC[13]あいう"), 1024 * 1024);
    const QString line9000 = repeated(QStringLiteral("0123456789"), 9000);
    QTest::newRow("megabyte line into an empty box") << QString() << 0 << megabyte << false;
    QTest::newRow("long line after text on the cursor's line")
        << QStringLiteral("head") << 4 << line9000 << false;
    QTest::newRow("long line into the middle of a long line")
        << line9000 << 5000 << line9000 << false;
    QTest::newRow("lines ending in CR LF, LF and CR, one of them long")
        << QStringLiteral("top\r\nend") << 5
        << QStringLiteral("a\r\n") + line9000 + QStringLiteral("\nb\rc") << false;
    QTest::newRow("short text between lines")
        << QStringLiteral("top\r\nend") << 3 << QStringLiteral("[2]X[3]") << false;
    QTest::newRow("surrogate pairs across every cut")
        << QString() << 0 << repeated(QString::fromUcs4(U"x\U0001F600"), 3 * 7000) << false;
    QTest::newRow("long line dropped into the middle of a long line")
        << line9000 << 5000 << line9000 << true;
}

void TestLongLineBox::pasteKeepsTheTextInPieces()
{
    QFETCH(QString, before);
    QFETCH(int, at);
    QFETCH(QString, pasted);
    QFETCH(bool, dropped);

    LongLineBox box;
    Controls::setBoxText(&box, before);
    QTextCursor cursor(box.document());
    cursor.setPosition(documentPosition(box, at));
    box.setTextCursor(cursor);
    QGuiApplication::clipboard()->setText(pasted);
    QCOMPARE(QGuiApplication::clipboard()->text(), pasted);
    if (dropped) {
        QTextCursor drop(box.document());
        drop.beginEditBlock();
        box.paste();
        drop.endEditBlock();
    } else {
        box.paste();
    }

    const QString expected = before.left(at) + asTheBoxReadsIt(pasted) + before.mid(at);
    QCOMPARE(Controls::boxText(&box).size(), expected.size());
    QVERIFY(Controls::boxText(&box) == expected);
    // No block is laid out from more than a piece and what the cursor's
    // line held, and none holds half a surrogate pair.
    for (QTextBlock b = box.document()->begin(); b.isValid(); b = b.next()) {
        const QString t = b.text();
        QVERIFY2(t.size() <= 2 * SoftBreaks::kLongestBlock, qPrintable(QString::number(t.size())));
        QVERIFY(t.isEmpty() || !t.front().isLowSurrogate());
        QVERIFY(t.isEmpty() || !t.back().isHighSurrogate());
    }

    // Undone and done again, the text is the same both times.
    box.undo();
    QVERIFY(Controls::boxText(&box) == before);
    box.redo();
    QVERIFY(Controls::boxText(&box) == expected);
}

void TestLongLineBox::copyLeavesTheJoinsOut_data()
{
    // The box holds "top", a line of 9000 characters in three pieces, "end";
    // [from, to) is the selection in that text, line breaks as CR LF.
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");

    QTest::newRow("everything") << 0 << 5 + 9000 + 2 + 3;
    QTest::newRow("across one join") << 5 + 4000 << 5 + 4200;
    QTest::newRow("from the first line across both joins") << 1 << 5 + 8500;
}

void TestLongLineBox::copyLeavesTheJoinsOut()
{
    QFETCH(int, from);
    QFETCH(int, to);

    const QString text = QStringLiteral("top\r\n") + repeated(QStringLiteral("0123456789"), 9000) +
                         QStringLiteral("\r\nend");
    LongLineBox box;
    Controls::setBoxText(&box, text);
    QTextCursor cursor(box.document());
    cursor.setPosition(documentPosition(box, from));
    cursor.setPosition(documentPosition(box, to), QTextCursor::KeepAnchor);
    box.setTextCursor(cursor);
    box.copy();
    QCOMPARE(QGuiApplication::clipboard()->text(),
             text.mid(from, to - from).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));

    // Pasted back over itself, the text stays as it was.
    box.paste();
    QCOMPARE(Controls::boxText(&box), text);
}

QTEST_MAIN(TestLongLineBox)
#include "tst_LongLineBox.moc"
