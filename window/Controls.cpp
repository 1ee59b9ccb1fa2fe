#include "Controls.h"

#include "LargePages.h"
#include "SoftBreaks.h"

#include <QComboBox>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextDocument>

namespace {

// A line longer than this is held in pieces of this length, each piece a
// block of its own: the box lays out only the blocks in view, but a block in
// view is laid out whole, and a received burst of megabytes without a line
// break would take seconds. The pieces still wrap at the box's width like
// any line; only boxText() knows where they join (SoftBreaks).
constexpr qsizetype kLongestBlock = 4096;

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

void Controls::setBoxText(QPlainTextEdit *box, const QString &text)
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
        while (end - at > kLongestBlock) {
            qsizetype cut = at + kLongestBlock;
            if (all[cut].isLowSurrogate())
                ++cut; // a surrogate pair stays in one piece
            if (cut >= end)
                break;
            pieces += all.sliced(at, cut - at);
            joins << int(pieces.size());
            pieces += u'\n';
            at = cut;
        }
        pieces += all.sliced(at, end - at);
        if (lineBreak < 0)
            break;
        pieces += u'\n';
        at = lineBreak + 1;
    }
    delete SoftBreaks::of(document);
    box->setPlainText(pieces);
    if (!joins.isEmpty())
        new SoftBreaks(document, std::move(joins));
}

int Controls::listIndex(const QComboBox *combo)
{
    const int current = combo->currentIndex();
    if (current >= 0 && combo->itemText(current) == combo->currentText())
        return current;
    return combo->findText(combo->currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
}
