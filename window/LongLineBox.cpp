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
    // A drop runs this inside an edit of its own, which the document
    // reports only when it ends: the joins wait for that report.
    bool reported = false;
    const QMetaObject::Connection watch =
        connect(document(), &QTextDocument::contentsChange, this, [&reported] { reported = true; });
    QTextCursor cursor = textCursor();
    cursor.beginEditBlock();
    cursor.removeSelectedText();
    const int at = cursor.position();
    // The first piece goes on the line the cursor stands in.
    QList<int> joins = SoftBreaks::cut(text, cursor.positionInBlock());
    cursor.insertText(text);
    cursor.endEditBlock();
    disconnect(watch);
    for (int &join : joins)
        join += at;
    SoftBreaks::add(document(), joins, !reported);
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
