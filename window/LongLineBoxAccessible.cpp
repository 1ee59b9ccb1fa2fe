#include "LongLineBoxAccessible.h"

#include "LongLineBox.h"
#include "SoftBreaks.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <utility>

namespace {

// A part of the user's text, which Qt's own boundaries are found in: they
// read a text through text() and characterCount() alone.
class TextPart : public QAccessibleTextInterface {
public:
    explicit TextPart(QString text) : text_(std::move(text)) {}

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
    QString attributes(int, int *start, int *end) const override
    {
        *start = *end = -1;
        return {};
    }

private:
    QString text_;
};

// How far either side of an offset a character, word or sentence is first
// looked for; a line of megabytes is not read whole for a word in it.
constexpr qint64 kFirstReach = 256;
// Boundaries hang on the characters next to them: one found this close to
// where a part was cut out of the text may not be one in the whole text.
constexpr int kMargin = 32;

QAccessibleInterface *create(const QString &className, QObject *object)
{
    if (className != QLatin1String(LongLineBox::staticMetaObject.className()))
        return nullptr;
    auto *box = qobject_cast<LongLineBox *>(object);
    return box ? new LongLineBoxAccessible(box) : nullptr;
}

QString fontWeight(int weight)
{
    if (weight == QFont::Normal)
        return QStringLiteral("normal");
    if (weight == QFont::Bold)
        return QStringLiteral("bold");
    return QString::number(weight);
}

QString fontStyle(QFont::Style style)
{
    switch (style) {
    case QFont::StyleItalic:
        return QStringLiteral("italic");
    case QFont::StyleOblique:
        return QStringLiteral("oblique");
    case QFont::StyleNormal:
        break;
    }
    return QStringLiteral("normal");
}

QString textAlign(Qt::Alignment alignment)
{
    if (alignment & Qt::AlignJustify)
        return QStringLiteral("justify");
    if (alignment & Qt::AlignHCenter)
        return QStringLiteral("center");
    if (alignment & Qt::AlignRight)
        return QStringLiteral("right");
    return QStringLiteral("left");
}

} // namespace

LongLineBoxAccessible::LongLineBoxAccessible(LongLineBox *box)
    : QAccessibleWidget(box, QAccessible::EditableText)
{}

void LongLineBoxAccessible::install()
{
    static const bool installed = [] {
        QAccessible::installFactory(&create);
        return true;
    }();
    Q_UNUSED(installed);
}

void *LongLineBoxAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface *>(this);
    if (type == QAccessible::EditableTextInterface)
        return static_cast<QAccessibleEditableTextInterface *>(this);
    return QAccessibleWidget::interface_cast(type);
}

QAccessible::State LongLineBoxAccessible::state() const
{
    QAccessible::State state = QAccessibleWidget::state();
    state.selectableText = true;
    state.multiLine = true;
    if (box()->isReadOnly())
        state.readOnly = true;
    else
        state.editable = true;
    return state;
}

QString LongLineBoxAccessible::text(QAccessible::Text type) const
{
    if (type != QAccessible::Value)
        return QAccessibleWidget::text(type);
    // The box's plain text, as Qt reports a plain text box's value.
    QString text = box()->document()->toPlainText();
    if (const SoftBreaks *j = joins())
        j->leaveOut(text, 0);
    return text;
}

void LongLineBoxAccessible::setText(QAccessible::Text type, const QString &text)
{
    if (type != QAccessible::Value) {
        QAccessibleWidget::setText(type, text);
        return;
    }
    replaceText(0, characterCount(), text);
}

void LongLineBoxAccessible::selection(int selectionIndex, int *startOffset, int *endOffset) const
{
    *startOffset = *endOffset = 0;
    const QTextCursor cursor = box()->textCursor();
    if (selectionIndex != 0 || !cursor.hasSelection())
        return;
    *startOffset = offsetOf(cursor.selectionStart());
    *endOffset = offsetOf(cursor.selectionEnd());
}

int LongLineBoxAccessible::selectionCount() const
{
    return box()->textCursor().hasSelection() ? 1 : 0;
}

void LongLineBoxAccessible::addSelection(int startOffset, int endOffset)
{
    // The box has one selection.
    setSelection(0, startOffset, endOffset);
}

void LongLineBoxAccessible::removeSelection(int selectionIndex)
{
    if (selectionIndex != 0)
        return;
    QTextCursor cursor = box()->textCursor();
    cursor.clearSelection();
    box()->setTextCursor(cursor);
}

void LongLineBoxAccessible::setSelection(int selectionIndex, int startOffset, int endOffset)
{
    const int count = characterCount();
    if (selectionIndex != 0 || startOffset < 0 || endOffset < 0 || startOffset > count ||
        endOffset > count)
        return;
    QTextCursor cursor = box()->textCursor();
    cursor.setPosition(positionOf(startOffset));
    cursor.setPosition(positionOf(endOffset), QTextCursor::KeepAnchor);
    box()->setTextCursor(cursor);
}

int LongLineBoxAccessible::cursorPosition() const
{
    return offsetOf(box()->textCursor().position());
}

void LongLineBoxAccessible::setCursorPosition(int position)
{
    if (position < 0 || position > characterCount())
        return;
    QTextCursor cursor = box()->textCursor();
    cursor.setPosition(positionOf(position));
    box()->setTextCursor(cursor);
}

QString LongLineBoxAccessible::text(int startOffset, int endOffset) const
{
    const int count = characterCount();
    if (endOffset == -1)
        endOffset = count;
    startOffset = std::clamp(startOffset, 0, count);
    endOffset = std::clamp(endOffset, startOffset, count);
    if (startOffset == endOffset)
        return {};
    const int from = positionOf(startOffset);
    QTextCursor cursor(box()->document());
    cursor.setPosition(from);
    cursor.setPosition(positionOf(endOffset), QTextCursor::KeepAnchor);
    QString text = cursor.selectedText();
    if (const SoftBreaks *j = joins())
        j->leaveOut(text, from);
    return text.replace(QChar::ParagraphSeparator, u'\n');
}

QString LongLineBoxAccessible::textBeforeOffset(int offset,
                                                QAccessible::TextBoundaryType boundaryType,
                                                int *startOffset, int *endOffset) const
{
    return textBeside(Side::Before, offset, boundaryType, startOffset, endOffset);
}

QString LongLineBoxAccessible::textAfterOffset(int offset,
                                               QAccessible::TextBoundaryType boundaryType,
                                               int *startOffset, int *endOffset) const
{
    return textBeside(Side::After, offset, boundaryType, startOffset, endOffset);
}

QString LongLineBoxAccessible::textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                                            int *startOffset, int *endOffset) const
{
    return textBeside(Side::At, offset, boundaryType, startOffset, endOffset);
}

int LongLineBoxAccessible::characterCount() const
{
    const SoftBreaks *j = joins();
    return box()->document()->characterCount() - 1 - (j ? int(j->count()) : 0);
}

QRect LongLineBoxAccessible::characterRect(int offset) const
{
    if (offset < 0 || offset >= characterCount())
        return {};
    const QRect rect = box()->characterRect(characterPosition(offset));
    if (rect.isNull())
        return {};
    return QRect(box()->viewport()->mapToGlobal(rect.topLeft()), rect.size());
}

int LongLineBoxAccessible::offsetAtPoint(const QPoint &point) const
{
    const int position = box()->characterAt(box()->viewport()->mapFromGlobal(point));
    return position < 0 ? -1 : offsetOf(position);
}

void LongLineBoxAccessible::scrollToSubstring(int, int)
{
    // As with Qt's plain text box, a reader brings text into view by moving
    // the caret to it.
}

QString LongLineBoxAccessible::attributes(int offset, int *startOffset, int *endOffset) const
{
    *startOffset = *endOffset = -1;
    const int count = characterCount();
    if (offset == -1)
        offset = count;
    if (offset < 0 || offset > count)
        return {};
    // The box's text is plain, one format throughout a line: the run is the
    // line without its line break.
    const Line line = lineAround(offset);
    *startOffset = line.first;
    *endOffset = line.last - (line.broken ? 1 : 0);
    QTextCursor cursor(box()->document());
    cursor.setPosition(characterPosition(std::min(offset, std::max(count - 1, 0))));
    const QFont font = cursor.charFormat().font().resolve(box()->document()->defaultFont());
    const QString size = font.pointSizeF() > 0
                             ? QString::number(font.pointSizeF()) + QStringLiteral("pt")
                             : QString::number(font.pixelSize()) + QStringLiteral("px");
    return QStringLiteral("font-family:\"%1\";font-size:%2;font-weight:%3;font-style:%4;"
                          "text-position:baseline;text-align:%5;")
        .arg(font.family(), size, fontWeight(font.weight()), fontStyle(font.style()),
             textAlign(cursor.blockFormat().alignment()));
}

void LongLineBoxAccessible::deleteText(int startOffset, int endOffset)
{
    replaceText(startOffset, endOffset, QString());
}

void LongLineBoxAccessible::insertText(int offset, const QString &text)
{
    replaceText(offset, offset, text);
}

void LongLineBoxAccessible::replaceText(int startOffset, int endOffset, const QString &text)
{
    const int count = characterCount();
    if (box()->isReadOnly() || startOffset < 0 || endOffset < startOffset || endOffset > count)
        return;
    QTextCursor cursor(box()->document());
    cursor.setPosition(positionOf(startOffset));
    cursor.setPosition(positionOf(endOffset), QTextCursor::KeepAnchor);
    box()->insertInPieces(cursor, text);
}

LongLineBox *LongLineBoxAccessible::box() const
{
    return static_cast<LongLineBox *>(widget());
}

const SoftBreaks *LongLineBoxAccessible::joins() const
{
    return SoftBreaks::of(box()->document());
}

int LongLineBoxAccessible::offsetOf(int position) const
{
    const SoftBreaks *j = joins();
    return j ? j->offsetOf(position) : position;
}

int LongLineBoxAccessible::positionOf(int offset) const
{
    const SoftBreaks *j = joins();
    return j ? j->positionOf(offset) : offset;
}

int LongLineBoxAccessible::characterPosition(int offset) const
{
    // Past the joins there, where the character itself stands.
    int position = positionOf(offset);
    if (const SoftBreaks *j = joins()) {
        while (j->contains(position))
            ++position;
    }
    return position;
}

LongLineBoxAccessible::Line LongLineBoxAccessible::lineAround(int offset) const
{
    const SoftBreaks *j = joins();
    const auto joined = [j](int position) { return j && j->contains(position); };
    const QTextBlock at = box()->document()->findBlock(positionOf(offset));
    QTextBlock first = at;
    while (first.position() > 0 && joined(first.position() - 1))
        first = first.previous();
    QTextBlock last = at;
    while (last.next().isValid() && joined(last.position() + last.length() - 1))
        last = last.next();
    const bool broken = last.next().isValid();
    return {offsetOf(first.position()),
            offsetOf(last.position() + last.length() - 1) + (broken ? 1 : 0), broken};
}

QString LongLineBoxAccessible::textBeside(Side side, int offset, QAccessible::TextBoundaryType type,
                                          int *start, int *end) const
{
    *start = *end = -1;
    const int count = characterCount();
    if (offset == -1)
        offset = count;
    if (offset < 0 || offset > count)
        return {};
    switch (type) {
    case QAccessible::LineBoundary:
    case QAccessible::ParagraphBoundary:
        return lineBeside(side, offset, start, end);
    case QAccessible::NoBoundary: {
        const TextPart whole(text(0, count));
        return side == Side::Before  ? whole.textBeforeOffset(offset, type, start, end)
               : side == Side::After ? whole.textAfterOffset(offset, type, start, end)
                                     : whole.textAtOffset(offset, type, start, end);
    }
    case QAccessible::CharBoundary:
    case QAccessible::WordBoundary:
    case QAccessible::SentenceBoundary:
        break;
    }
    return segmentBeside(side, offset, type, start, end);
}

QString LongLineBoxAccessible::lineBeside(Side side, int offset, int *start, int *end) const
{
    // Lines end after each line break; an empty text has none, as in Qt's
    // own boundaries.
    if (characterCount() == 0)
        return {};
    Line line = lineAround(offset);
    if (side == Side::Before) {
        if (line.first == 0)
            return {};
        line = lineAround(line.first - 1);
    } else if (side == Side::After) {
        if (!line.broken)
            return {};
        line = lineAround(line.last);
    }
    *start = line.first;
    *end = line.last;
    return text(line.first, line.last);
}

QString LongLineBoxAccessible::segmentBeside(Side side, int offset,
                                             QAccessible::TextBoundaryType type, int *start,
                                             int *end) const
{
    const int count = characterCount();
    // Qt's own word or sentence at the very end of a text never returns;
    // there the one that ends the text is read.
    if (side == Side::At && offset == count && type != QAccessible::CharBoundary) {
        if (count == 0)
            return {};
        --offset;
    }
    for (qint64 reach = kFirstReach;; reach *= 4) {
        const int from = int(std::max<qint64>(offset - reach, 0));
        const int to = int(std::min<qint64>(offset + reach, count));
        const TextPart part(text(from, to));
        int s = -1;
        int e = -1;
        const QString found =
            side == Side::Before  ? part.textBeforeOffset(offset - from, type, &s, &e)
            : side == Side::After ? part.textAfterOffset(offset - from, type, &s, &e)
                                  : part.textAtOffset(offset - from, type, &s, &e);
        const bool wholeStart = from == 0;
        const bool wholeEnd = to == count;
        bool sure;
        if (s < 0 || e < 0) {
            // Nothing there: sure only if the part reaches that end of the text.
            sure = side == Side::Before ? wholeStart : wholeEnd;
        } else {
            sure = (wholeStart || s >= kMargin) && (wholeEnd || e <= to - from - kMargin);
        }
        if (sure) {
            *start = s < 0 ? s : s + from;
            *end = e < 0 ? e : e + from;
            return found;
        }
    }
}
