#include "Controls.h"

#include "LargePages.h"
#include "SoftBreaks.h"

#include <QComboBox>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <cstring>

namespace {

// A line longer than this is held in pieces of this length, each piece a
// block of its own: the box lays out only the blocks in view, but a block in
// view is laid out whole, and a received burst of megabytes without a line
// break would take seconds. The pieces still wrap at the box's width like
// any line; only boxText() knows where they join (SoftBreaks).
constexpr qsizetype kLongestBlock = 4096;

// Where the piece of a line that starts at `at` and ends at `end` is cut, or
// -1 when the rest of the line is short enough to stay whole. A surrogate
// pair stays in one piece.
qsizetype nextCut(QStringView text, qsizetype at, qsizetype end)
{
    if (end - at <= kLongestBlock)
        return -1;
    qsizetype cut = at + kLongestBlock;
    if (text[cut].isLowSurrogate())
        ++cut;
    return cut < end ? cut : -1;
}

// Cuts a text without line breaks into pieces where it lies, and returns the
// positions of the LFs put between them. A received burst is megabytes of
// one line, and a copy of it costs as much as a good part of showing it.
QList<int> cutInPlace(QString &line)
{
    QList<qsizetype> cuts;
    for (qsizetype at = 0, cut; (cut = nextCut(line, at, line.size())) >= 0; at = cut)
        cuts << cut;
    QList<int> joins;
    if (cuts.isEmpty())
        return joins;
    // Each piece moves right by the number of breaks before it; the last
    // piece first, so that nothing is overwritten before it has moved.
    qsizetype end = line.size();
    line.resize(line.size() + cuts.size());
    QChar *const d = line.data();
    for (qsizetype k = cuts.size() - 1; k >= 0; --k) {
        std::memmove(d + cuts[k] + k + 1, d + cuts[k], size_t(end - cuts[k]) * sizeof(QChar));
        d[cuts[k] + k] = u'\n';
        end = cuts[k];
    }
    joins.reserve(cuts.size());
    for (qsizetype k = 0; k < cuts.size(); ++k)
        joins << int(cuts[k] + k);
    return joins;
}

} // namespace

QString Controls::boxText(const QPlainTextEdit *box)
{
    const QTextDocument *document = box->document();
    const SoftBreaks *joins = SoftBreaks::of(document);
    QString text;
    text.reserve(document->characterCount());
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
    if (text.size() <= kLongestBlock && document->characterCount() <= text.size() + 1) {
        QString shown = boxText(box);
        QString wanted = text;
        shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        wanted.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        if (shown == wanted)
            return;
    }

    // The widget's lines end in LF; long lines are cut into pieces, and the
    // positions of the joins kept.
    QList<int> joins;
    if (!text.contains(u'\n')) {
        joins = cutInPlace(text);
    } else {
        QString pieces;
        pieces.reserve(text.size() + text.size() / kLongestBlock + 1);
        LargePages::prefer(pieces.data(), pieces.capacity() * qsizetype(sizeof(QChar)));
        const QStringView all(text);
        qsizetype at = 0;
        for (;;) {
            const qsizetype lineBreak = all.indexOf(u'\n', at);
            qsizetype end = lineBreak < 0 ? all.size() : lineBreak;
            if (lineBreak > at && all[lineBreak - 1] == u'\r')
                --end; // CR LF
            for (qsizetype cut; (cut = nextCut(all, at, end)) >= 0; at = cut) {
                pieces += all.sliced(at, cut - at);
                joins << int(pieces.size());
                pieces += u'\n';
            }
            pieces += all.sliced(at, end - at);
            if (lineBreak < 0)
                break;
            pieces += u'\n';
            at = lineBreak + 1;
        }
        text = std::move(pieces);
    }
    delete SoftBreaks::of(document);
    box->setPlainText(text);
    if (!joins.isEmpty())
        new SoftBreaks(document, std::move(joins));
}

void Controls::appendBoxLine(QPlainTextEdit *box, const QString &line)
{
    QTextDocument *document = box->document();
    if (document->isEmpty()) {
        setBoxText(box, line);
        return;
    }
    // Added at the end, the box's own text is neither copied nor laid out
    // again, and the joins of its long lines keep their places.
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::End);
    cursor.insertBlock();
    cursor.insertText(line);
}

int Controls::listIndex(const QComboBox *combo)
{
    const int current = combo->currentIndex();
    if (current >= 0 && combo->itemText(current) == combo->currentText())
        return current;
    return combo->findText(combo->currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
}
