#pragma once

#include <QPlainTextEdit>

// A multi-line text box that holds a long line in pieces (SoftBreaks) also
// when the user pastes or drops it: a pasted line of megabytes would
// otherwise be one block, laid out whole at every blink of the cursor.
// Copying or dragging out of the box leaves the joins out, so what goes in
// and out is the user's text as it stands.
class LongLineBox : public QPlainTextEdit {
    Q_OBJECT
public:
    using QPlainTextEdit::QPlainTextEdit;

protected:
    bool canInsertFromMimeData(const QMimeData *source) const override;
    void insertFromMimeData(const QMimeData *source) override;
    QMimeData *createMimeDataFromSelection() const override;
};
