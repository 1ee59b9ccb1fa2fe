#pragma once

#include <QList>
#include <QObject>

class QTextDocument;

// The block separators of a text box's document that stand for no line
// break: a long line is held in pieces of bounded length (the box lays out
// a block in view whole, and a received burst is megabytes without a line
// break), and these are the joins between the pieces. The positions follow
// the user's edits: a join deleted with the text around it is gone, text
// inserted before it moves it along.
class SoftBreaks : public QObject {
    Q_OBJECT
public:
    // Watches `document`, whose separators at `positions` (ascending) are
    // joins; owned by the document.
    SoftBreaks(QTextDocument *document, QList<int> positions);

    // The joins of `document`, if it has any.
    static const SoftBreaks *of(const QTextDocument *document);

    bool contains(int position) const;

private:
    void onContentsChange(int position, int removed, int added);

    QTextDocument *document_;
    QList<int> positions_;
};
