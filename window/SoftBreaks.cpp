#include "SoftBreaks.h"

#include "LargePages.h"

#include <QTextDocument>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

// Where the piece of a line that starts at `at` and ends at `end` is cut, or
// -1 when the rest of the line is short enough to stay whole; `held`
// characters of the line lie before `at` in the same piece.
qsizetype nextCut(QStringView text, qsizetype at, qsizetype end, qsizetype held)
{
    const qsizetype room = std::max<qsizetype>(SoftBreaks::kLongestBlock - held, 0);
    if (end - at <= room)
        return -1;
    qsizetype cut = at + room;
    if (text[cut].isLowSurrogate())
        ++cut;
    return cut < end ? cut : -1;
}

// Cuts a text without line breaks into pieces where it lies, and returns the
// positions of the LFs put between them. A received burst is megabytes of
// one line, and a copy of it costs as much as a good part of showing it.
QList<int> cutInPlace(QString &line, qsizetype held)
{
    QList<qsizetype> cuts;
    for (qsizetype at = 0, cut; (cut = nextCut(line, at, line.size(), held)) >= 0; at = cut) {
        cuts << cut;
        held = 0;
    }
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

QList<int> SoftBreaks::cut(QString &text, qsizetype held)
{
    if (!text.contains(u'\n'))
        return cutInPlace(text, held);

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
        for (qsizetype cut; (cut = nextCut(all, at, end, held)) >= 0; at = cut) {
            pieces += all.sliced(at, cut - at);
            joins << int(pieces.size());
            pieces += u'\n';
            held = 0;
        }
        held = 0;
        pieces += all.sliced(at, end - at);
        if (lineBreak < 0)
            break;
        pieces += u'\n';
        at = lineBreak + 1;
    }
    text = std::move(pieces);
    return joins;
}

SoftBreaks::SoftBreaks(QTextDocument *document, QList<int> positions)
    : QObject(document), document_(document), positions_(std::move(positions))
{
    connect(document, &QTextDocument::contentsChange, this, &SoftBreaks::onContentsChange);
}

const SoftBreaks *SoftBreaks::of(const QTextDocument *document)
{
    return document->findChild<const SoftBreaks *>(QString(), Qt::FindDirectChildrenOnly);
}

void SoftBreaks::add(QTextDocument *document, const QList<int> &positions, bool afterChange)
{
    if (positions.isEmpty())
        return;
    auto *joins = const_cast<SoftBreaks *>(of(document));
    if (!joins)
        joins = new SoftBreaks(document, {});
    QList<int> &into = afterChange ? joins->pending_ : joins->positions_;
    QList<int> merged;
    merged.reserve(into.size() + positions.size());
    std::set_union(into.cbegin(), into.cend(), positions.cbegin(), positions.cend(),
                   std::back_inserter(merged));
    into = std::move(merged);
}

bool SoftBreaks::contains(int position) const
{
    return std::binary_search(positions_.cbegin(), positions_.cend(), position);
}

int SoftBreaks::offsetOf(int position) const
{
    const auto before = std::lower_bound(positions_.cbegin(), positions_.cend(), position);
    return position - int(before - positions_.cbegin());
}

int SoftBreaks::positionOf(int offset) const
{
    // The k-th join (from 0) stands at offset positions_[k] - k of the
    // user's text, which grows with k: a screen reader asks at every move of
    // the caret, and a line of megabytes has thousands of joins.
    qsizetype low = 0;
    qsizetype high = positions_.size();
    while (low < high) {
        const qsizetype k = low + (high - low) / 2;
        if (positions_[k] - k < offset)
            low = k + 1;
        else
            high = k;
    }
    return offset + int(low);
}

void SoftBreaks::leaveOut(QString &text, int from) const
{
    auto join = std::lower_bound(positions_.cbegin(), positions_.cend(), from);
    const auto end = std::lower_bound(join, positions_.cend(), from + int(text.size()));
    if (join == end)
        return;
    QChar *const d = text.data();
    qsizetype to = *join - from;
    for (; join != end; ++join) {
        const qsizetype next = join + 1 == end ? text.size() : *(join + 1) - from;
        const qsizetype piece = next - (*join - from) - 1;
        std::memmove(d + to, d + (*join - from) + 1, size_t(piece) * sizeof(QChar));
        to += piece;
    }
    text.truncate(to);
}

void SoftBreaks::onContentsChange(int position, int removed, int added)
{
    const int end = position + removed;
    QList<int> kept;
    QList<int> gone;
    kept.reserve(positions_.size());
    for (const int at : std::as_const(positions_)) {
        if (at < position) {
            kept << at;
        } else if (at >= end) {
            kept << at + added - removed;
        } else if (removed == added && document_->characterAt(at) == QChar::ParagraphSeparator) {
            // A change of formats only reports its range as replaced; the
            // join is still there.
            kept << at;
        } else {
            gone << at - position;
        }
    }

    // An undo or redo puts back exactly the text an earlier change took
    // away, at the same place: the latest such change with joins in it left
    // them here, and they come back where separators stand again.
    if (added > 0) {
        for (qsizetype i = removed_.size() - 1; i >= 0; --i) {
            const Removed &earlier = removed_[i];
            if (earlier.position != position || earlier.length != added)
                continue;
            const qsizetype before = kept.size();
            for (const int offset : earlier.offsets) {
                if (document_->characterAt(position + offset) == QChar::ParagraphSeparator)
                    kept << position + offset;
            }
            if (kept.size() > before) {
                std::sort(kept.begin(), kept.end());
                kept.erase(std::unique(kept.begin(), kept.end()), kept.end());
            }
            removed_.remove(i);
            break;
        }
    }
    if (!gone.isEmpty()) {
        if (removed_.size() == kRemembered)
            removed_.removeFirst();
        removed_.append({position, removed, std::move(gone)});
    }
    if (!pending_.isEmpty()) {
        kept += std::exchange(pending_, {});
        std::sort(kept.begin(), kept.end());
        kept.erase(std::unique(kept.begin(), kept.end()), kept.end());
    }
    positions_ = std::move(kept);
}
