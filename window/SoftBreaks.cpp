#include "SoftBreaks.h"

#include <QTextDocument>

#include <algorithm>

SoftBreaks::SoftBreaks(QTextDocument *document, QList<int> positions)
    : QObject(document), document_(document), positions_(std::move(positions))
{
    connect(document, &QTextDocument::contentsChange, this, &SoftBreaks::onContentsChange);
}

const SoftBreaks *SoftBreaks::of(const QTextDocument *document)
{
    return document->findChild<const SoftBreaks *>(QString(), Qt::FindDirectChildrenOnly);
}

bool SoftBreaks::contains(int position) const
{
    return std::binary_search(positions_.cbegin(), positions_.cend(), position);
}

void SoftBreaks::onContentsChange(int position, int removed, int added)
{
    const int end = position + removed;
    QList<int> kept;
    kept.reserve(positions_.size());
    for (const int at : std::as_const(positions_)) {
        if (at < position) {
            kept << at;
        } else if (at >= end) {
            kept << at + added - removed;
        } else if (removed == added && document_->characterAt(at) == QChar::ParagraphSeparator) {
            // A change of formats only reports its range as replaced; the
            // join is still there. (A join the user deletes and brings back
            // with undo comes back as a line break.)
            kept << at;
        }
    }
    positions_ = std::move(kept);
}
