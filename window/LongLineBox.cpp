#include "LongLineBox.h"

#include "LongLineBoxAccessible.h"
#include "SoftBreaks.h"

#include <QMimeData>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

LongLineBox::LongLineBox(QWidget *parent) : QPlainTextEdit(parent)
{
    LongLineBoxAccessible::install();
}

bool LongLineBox::canInsertFromMimeData(const QMimeData *source) const
{
    return source->hasText();
}

void LongLineBox::insertFromMimeData(const QMimeData *source)
{
    if (isReadOnly() || !source->hasText())
        return;
    const QString text = source->text();
    if (text.isEmpty())
        return;
    QTextCursor cursor = textCursor();
    insertInPieces(cursor, text);
    setTextCursor(cursor);
    ensureCursorVisible();
}

void LongLineBox::insertInPieces(QTextCursor &cursor, QString text)
{
    // A drop runs this inside an edit of its own, which the document
    // reports only when it ends: the joins wait for that report.
    bool reported = false;
    const QMetaObject::Connection watch =
        connect(document(), &QTextDocument::contentsChange, this, [&reported] { reported = true; });
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
}

QRect LongLineBox::characterRect(int position) const
{
    if (position < 0 || position >= document()->characterCount() - 1)
        return {};
    const QTextBlock block = document()->findBlock(position);
    const int at = position - block.position();
    // Laid out by asking for its place, if it was not yet.
    const QPointF origin = blockBoundingGeometry(block).translated(contentOffset()).topLeft() +
                           block.layout()->position();
    const QTextLine line = block.layout()->lineForTextPosition(at);
    if (!line.isValid())
        return {};
    const qreal from = line.cursorToX(at);
    const qreal to = at + 1 < block.length() ? line.cursorToX(at + 1) : from;
    return QRectF(origin.x() + std::min(from, to), origin.y() + line.y(), std::abs(to - from),
                  line.height())
        .toAlignedRect();
}

int LongLineBox::characterAt(QPoint point) const
{
    if (!viewport()->rect().contains(point))
        return -1;
    const QTextBlock block = cursorForPosition(point).block();
    if (!block.isValid())
        return -1;
    const QPointF inLayout = QPointF(point) -
                             blockBoundingGeometry(block).translated(contentOffset()).topLeft() -
                             block.layout()->position();
    const QTextLayout *layout = block.layout();
    for (int i = 0; i < layout->lineCount(); ++i) {
        const QTextLine line = layout->lineAt(i);
        if (!line.naturalTextRect().contains(inLayout))
            continue;
        const int at = line.xToCursor(inLayout.x(), QTextLine::CursorOnCharacter);
        return at < line.textStart() + line.textLength() ? block.position() + at : -1;
    }
    return -1;
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
