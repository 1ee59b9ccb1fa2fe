// The text boxes as the user fills them: a pasted line of any length is held
// in pieces, and reads back, copies out, undoes and reads to a screen reader
// as the text it is.
#include "Controls.h"
#include "LongLineBox.h"
#include "SoftBreaks.h"

#include <QAccessible>
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

// Qt's own reading of a plain text, by which the boxes' words, sentences and
// lines are judged: it asks nothing but the text.
class PlainText : public QAccessibleTextInterface {
public:
    explicit PlainText(QString text) : text_(std::move(text)) {}
    QString text(int start, int end) const override { return text_.mid(start, end - start); }
    int characterCount() const override { return int(text_.size()); }
    void selection(int, int *start, int *end) const override { *start = *end = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint &) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int *, int *) const override { return {}; }

private:
    QString text_;
};

QString withLf(QString text)
{
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

} // namespace

class TestLongLineBox : public QObject {
    Q_OBJECT
private slots:
    void pasteKeepsTheTextInPieces_data();
    void pasteKeepsTheTextInPieces();
    void copyLeavesTheJoinsOut_data();
    void copyLeavesTheJoinsOut();
    void readsAsTheUserWroteIt_data();
    void readsAsTheUserWroteIt();
    void boundariesAsInTheUsersText_data();
    void boundariesAsInTheUsersText();
    void editsThroughAccessibility_data();
    void editsThroughAccessibility();
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

void TestLongLineBox::readsAsTheUserWroteIt_data()
{
    // The box holds `text` (CR LF line breaks), with a line of 9604
    // characters in it; a screen reader reads line breaks as LF.
    QTest::addColumn<QString>("text");

    const QString line = repeated(QStringLiteral("0123456789"), 9604);
    QTest::newRow("a line of 9604 characters") << line;
    QTest::newRow("real line breaks around a long line")
        << QStringLiteral("top\r\n") + line + QStringLiteral("\r\n\r\nend");
}

void TestLongLineBox::readsAsTheUserWroteIt()
{
    QFETCH(QString, text);

    LongLineBox box;
    box.setAccessibleName(QStringLiteral("送信テキスト"));
    box.resize(400, 300);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    Controls::setBoxText(&box, text);
    const QString user = withLf(text);
    const int lineAt = int(user.indexOf(u'0'));
    const qsizetype lineBreak = user.indexOf(u'\n', lineAt);
    const int lineEnd = int(lineBreak < 0 ? user.size() : lineBreak + 1); // after its line break

    QAccessibleInterface *read = QAccessible::queryAccessibleInterface(&box);
    QVERIFY(read);
    QAccessibleTextInterface *t = read->textInterface();
    QVERIFY(t);
    QCOMPARE(read->text(QAccessible::Name), QStringLiteral("送信テキスト"));
    QCOMPARE(t->characterCount(), user.size());
    QVERIFY(t->text(0, t->characterCount()) == user);
    QVERIFY(read->text(QAccessible::Value) == user);
    QCOMPARE(t->text(lineAt + 4090, lineAt + 4100), user.mid(lineAt + 4090, 10));

    int start = -1;
    int end = -1;
    QVERIFY(t->textAtOffset(lineAt + 5000, QAccessible::LineBoundary, &start, &end) ==
            user.mid(lineAt, lineEnd - lineAt));
    QCOMPARE(start, lineAt);
    QCOMPARE(end, lineEnd);

    // The box's caret right after the line's 5000th character.
    t->setCursorPosition(lineAt + 5000);
    QCOMPARE(t->cursorPosition(), lineAt + 5000);
    QCOMPARE(box.textCursor().position(), documentPosition(box, text.indexOf(u'0') + 5000));

    // A selection across a join copies as the text it covers.
    t->setSelection(0, lineAt + 4090, lineAt + 4100);
    t->selection(0, &start, &end);
    QCOMPARE(start, lineAt + 4090);
    QCOMPARE(end, lineAt + 4100);
    box.copy();
    QCOMPARE(QGuiApplication::clipboard()->text(), user.mid(lineAt + 4090, 10));

    // The first character after a join is found where it is drawn.
    t->setCursorPosition(lineAt + 4096);
    const QRect drawn = t->characterRect(lineAt + 4096);
    QVERIFY(!drawn.isEmpty());
    QCOMPARE(t->offsetAtPoint(drawn.center()), lineAt + 4096);
}

void TestLongLineBox::boundariesAsInTheUsersText_data()
{
    // The box holds `text` (CR LF line breaks); at each of `offsets` in it
    // (LF line breaks), the text at, before and after is what Qt reads in
    // the user's text by `boundary`.
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("boundary");
    QTest::addColumn<QList<int>>("offsets");

    const QString line = repeated(QStringLiteral("0123456789"), 9604);
    const QString aroundLine = QStringLiteral("top\r\n") + line + QStringLiteral("\r\n\r\nend");
    // 4096 characters in, the join cuts a word (Abcd|e) and a sentence.
    const QString words = repeated(QStringLiteral("Abcde fgh. "), 9604);
    QTest::newRow("characters at a join")
        << line << int(QAccessible::CharBoundary) << QList<int>{0, 4095, 4096, 4097, 9603, 9604};
    QTest::newRow("words across a join")
        << words << int(QAccessible::WordBoundary) << QList<int>{0, 4090, 4095, 4096, 4097, 9603};
    QTest::newRow("a word of 9604 digits")
        << line << int(QAccessible::WordBoundary) << QList<int>{0, 4096, 5000, 9603};
    QTest::newRow("sentences across a join")
        << words << int(QAccessible::SentenceBoundary) << QList<int>{0, 4095, 4096, 4100, 9603};
    QTest::newRow("lines around a long line")
        << aroundLine << int(QAccessible::LineBoundary)
        << QList<int>{0, 3, 4, 4100, 9607, 9608, 9609, 9611, 9613};
    QTest::newRow("paragraphs of a text that ends in a line break")
        << QStringLiteral("top\r\n") + line + QStringLiteral("\r\n")
        << int(QAccessible::ParagraphBoundary) << QList<int>{0, 4, 4100, 9608, 9609};
}

void TestLongLineBox::boundariesAsInTheUsersText()
{
    QFETCH(QString, text);
    QFETCH(int, boundary);
    QFETCH(QList<int>, offsets);

    LongLineBox box;
    Controls::setBoxText(&box, text);
    const QAccessibleTextInterface *read =
        QAccessible::queryAccessibleInterface(&box)->textInterface();
    const PlainText user(withLf(text));
    const auto type = QAccessible::TextBoundaryType(boundary);
    using Reading = QString (QAccessibleTextInterface::*)(int, QAccessible::TextBoundaryType, int *,
                                                          int *) const;
    const std::pair<const char *, Reading> sides[] = {
        {"before", &QAccessibleTextInterface::textBeforeOffset},
        {"at", &QAccessibleTextInterface::textAtOffset},
        {"after", &QAccessibleTextInterface::textAfterOffset}};
    for (const int offset : offsets) {
        for (const auto &[side, reading] : sides) {
            int start = -2;
            int end = -2;
            int userStart = -2;
            int userEnd = -2;
            const QString got = (read->*reading)(offset, type, &start, &end);
            const QString wanted = (user.*reading)(offset, type, &userStart, &userEnd);
            QVERIFY2(got == wanted && start == userStart && end == userEnd,
                     qPrintable(QStringLiteral("%1 %2: [%3, %4) %5 where Qt reads [%6, %7) %8")
                                    .arg(side)
                                    .arg(offset)
                                    .arg(start)
                                    .arg(end)
                                    .arg(got.left(20))
                                    .arg(userStart)
                                    .arg(userEnd)
                                    .arg(wanted.left(20))));
        }
    }
}

void TestLongLineBox::editsThroughAccessibility_data()
{
    // The box holds `before` (CR LF line breaks); [from, to) of it (LF line
    // breaks) is replaced with `put` through the editable text.
    QTest::addColumn<QString>("before");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<QString>("put");

    const QString line = repeated(QStringLiteral("0123456789"), 9604);
    const QString aroundLine = QStringLiteral("top\r\n") + line + QStringLiteral("\r\nend");
    QTest::newRow("a long line into the middle of a long line") << line << 5000 << 5000 << line;
    QTest::newRow("all of it, as a screen reader sets a box's text")
        << aroundLine << 0 << int(withLf(aroundLine).size())
        << QStringLiteral("new\r\n") + line + line;
    QTest::newRow("across a join") << line << 4000 << 4200 << QString();
}

void TestLongLineBox::editsThroughAccessibility()
{
    QFETCH(QString, before);
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(QString, put);

    LongLineBox box;
    Controls::setBoxText(&box, before);
    QAccessibleInterface *read = QAccessible::queryAccessibleInterface(&box);
    read->editableTextInterface()->replaceText(from, to, put);

    const QString user = withLf(before);
    const QString expected = user.left(from) + withLf(put) + user.mid(to);
    QCOMPARE(read->textInterface()->characterCount(), expected.size());
    QVERIFY(read->textInterface()->text(0, int(expected.size())) == expected);
    QVERIFY(withLf(Controls::boxText(&box)) == expected);
    for (QTextBlock b = box.document()->begin(); b.isValid(); b = b.next())
        QVERIFY(b.length() - 1 <= 2 * SoftBreaks::kLongestBlock);
    box.undo();
    QVERIFY(Controls::boxText(&box) == before);
}

QTEST_MAIN(TestLongLineBox)
#include "tst_LongLineBox.moc"
