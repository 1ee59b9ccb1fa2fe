#pragma once

#include <QList>
#include <QObject>
#include <QString>

class QTextDocument;

// The block separators of a text box's document that stand for no line
// break: a long line is held in pieces of bounded length (the box lays out
// a block in view whole, and a received burst or a pasted text is megabytes
// without a line break), and these are the joins between the pieces. The
// positions follow the user's edits: a join deleted with the text around it
// is gone, text inserted before it moves it along, and an undo or redo that
// brings back text the joins were deleted with brings them back too.
class SoftBreaks : public QObject {
    Q_OBJECT
public:
    // A line longer than this is held in pieces of this length.
    static constexpr qsizetype kLongestBlock = 4096;

    // Makes `text` ready for a box: each CR LF becomes one LF (the box's own
    // line end), and a line longer than kLongestBlock is cut into pieces by
    // LFs, whose positions in the result are returned. `held` characters of
    // the first line are in the box already, before where the text goes. A
    // surrogate pair stays in one piece.
    static QList<int> cut(QString &text, qsizetype held = 0);

    // Watches `document`, whose separators at `positions` (ascending) are
    // joins; owned by the document.
    SoftBreaks(QTextDocument *document, QList<int> positions);

    // The joins of `document`, if it has any.
    static const SoftBreaks *of(const QTextDocument *document);

    // Makes the separators at `positions` (ascending) joins too. With
    // `afterChange`, the edit that put them there is still open (a drop is
    // one edit with the paste inside it): they count once the document has
    // reported that edit, at the positions given.
    static void add(QTextDocument *document, const QList<int> &positions, bool afterChange = false);

    bool contains(int position) const;

    // The user's text is the document's with the joins left out. The offset
    // in it of the document's `position`, the same on either side of a join.
    int offsetOf(int position) const;
    // The document's position at `offset` of the user's text: where a join
    // stands there, the position before it, at the end of its piece.
    int positionOf(int offset) const;
    qsizetype count() const { return positions_.size(); }
    // Leaves the joins out of `text`, the document's text from `from` on.
    void leaveOut(QString &text, int from) const;

private:
    // Joins a change removed, by their offset from where it happened.
    struct Removed {
        int position;
        int length;
        QList<int> offsets;
    };
    // How many such changes are remembered for an undo or redo.
    static constexpr qsizetype kRemembered = 64;

    void onContentsChange(int position, int removed, int added);

    QTextDocument *document_;
    QList<int> positions_;
    QList<Removed> removed_; // the latest last
    QList<int> pending_;     // joins of an edit not yet reported
};
