#pragma once

#include <QPlainTextEdit>

// A multi-line text box that holds a long line in pieces (SoftBreaks) also
// when the user pastes or drops it: a pasted line of megabytes would
// otherwise be one block, laid out whole at every blink of the cursor.
// Copying or dragging out of the box leaves the joins out, so what goes in
// and out is the user's text as it stands; a screen reader reads it so too
// (LongLineBoxAccessible).
class LongLineBox : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit LongLineBox(QWidget *parent = nullptr);

    // Puts `text` in place of the selection of `cursor`, held in pieces as a
    // paste is, as one step to undo; the cursor ends after it.
    void insertInPieces(QTextCursor &cursor, QString text);

    // Where the document's character at `position` is drawn, in the
    // viewport; a line break is as wide as nothing. Empty past the end.
    QRect characterRect(int position) const;
    // The document position of the character drawn at `point` of the
    // viewport, or -1 where none is.
    int characterAt(QPoint point) const;

protected:
    bool canInsertFromMimeData(const QMimeData *source) const override;
    void insertFromMimeData(const QMimeData *source) override;
    QMimeData *createMimeDataFromSelection() const override;
};
