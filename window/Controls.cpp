#include "Controls.h"

#include "LargePages.h"
#include "SoftBreaks.h"

#include <QComboBox>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

QString Controls::boxText(const QPlainTextEdit *box)
{
    const QTextDocument *document = box->document();
    const SoftBreaks *joins = SoftBreaks::of(document);
    QString text;
    // The send box's text is read at every send: a pasted text of megabytes
    // costs mostly the first touch of fresh memory.
    text.reserve(document->characterCount() + document->blockCount());
    LargePages::prefer(text.data(), text.capacity() * qsizetype(sizeof(QChar)));
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        if (block != document->begin() && !(joins && joins->contains(block.position() - 1)))
            text += QStringLiteral("\r\n");
        text += block.text();
    }
    return text;
}

void Controls::setBoxText(QPlainTextEdit *box, QString text)
{
    QTextDocument *document = box->document();
    // A box set to what it already shows (the same echo, exchange after
    // exchange) is left alone: laying the text out again costs more than
    // the rest of an exchange together.
    if (text.size() <= SoftBreaks::kLongestBlock && document->characterCount() <= text.size() + 1) {
        QString shown = boxText(box);
        QString wanted = text;
        shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        wanted.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        if (shown == wanted)
            return;
    }

    // The widget's lines end in LF; long lines are cut into pieces, and the
    // positions of the joins kept. A received burst is cut where it lies.
    QList<int> joins = SoftBreaks::cut(text);
    delete SoftBreaks::of(document);
    box->setPlainText(text);
    if (!joins.isEmpty())
        new SoftBreaks(document, std::move(joins));
}

void Controls::appendBoxLine(QPlainTextEdit *box, const QString &line)
{
    // Added where the text ends, leaving the rest of the box (and its joins)
    // as it is: laying megabytes out again for one line would freeze it.
    QTextCursor cursor(box->document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    if (!box->document()->isEmpty())
        cursor.insertBlock();
    cursor.insertText(line);
    cursor.endEditBlock();
    box->setTextCursor(cursor);
    box->ensureCursorVisible();
}

int Controls::listIndex(const QComboBox *combo)
{
    const int current = combo->currentIndex();
    if (current >= 0 && combo->itemText(current) == combo->currentText())
        return current;
    return combo->findText(combo->currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
}
