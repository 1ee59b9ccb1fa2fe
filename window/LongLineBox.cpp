#include "LongLineBox.h"

#include "SoftBreaks.h"

#include <QMimeData>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

bool LongLineBox::canInsertFromMimeData(const QMimeData *source) const
{
    return source->hasText();
}

void LongLineBox::insertFromMimeData(const QMimeData *source)
{
    if (isReadOnly() || !source->hasText())
        return;
    QString text = source->text();
    if (text.isEmpty())
        return;
    QTextCursor cursor = textCursor();
    cursor.beginEditBlock();
    cursor.removeSelectedText();
    const int at = cursor.position();
    // The first piece goes on the line the cursor stands in.
    QList<int> joins = SoftBreaks::cut(text, cursor.positionInBlock());
    cursor.insertText(text);
    cursor.endEditBlock();
    // Recorded once the box has taken the text in, at their place in it.
    for (int &join : joins)
        join += at;
    SoftBreaks::add(document(), joins);
    setTextCursor(cursor);
    ensureCursorVisible();
}

QMimeData *LongLineBox::createMimeDataFromSelection() const
{
    const QTextCursor cursor = textCursor();
    const int start = cursor.selectionStart();
    // The selection with its line ends as LF and its joins left out; other
    // characters as a plain-text copy of the box gives them.
    QString text = cursor.selectedText();
    const SoftBreaks *joins = SoftBreaks::of(document());
    qsizetype to = 0;
    for (qsizetype from = 0; from < text.size(); ++from) {
        const QChar c = text[from];
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator) {
            if (c == QChar::ParagraphSeparator && joins && joins->contains(start + int(from)))
                continue;
            text[to++] = u'\n';
        } else if (c == QChar::Nbsp) {
            text[to++] = u' ';
        } else {
            text[to++] = c;
        }
    }
    text.truncate(to);
    auto *data = new QMimeData;
    data->setText(text);
    return data;
}
