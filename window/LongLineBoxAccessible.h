#pragma once

#include <QAccessibleWidget>

class LongLineBox;
class SoftBreaks;

// A LongLineBox as a screen reader reads it: the user's text, where the
// joins between the pieces of a long line are no line breaks and take no
// offset, and a line break is one LF (the box's own line end). Name, value,
// role and states are as Qt gives a plain text box; editing through it cuts
// a long text into pieces as a paste does. The notices of inserted and
// removed text that Qt's text control sends by itself still count the joins:
// they go out before the joins of a change are known.
class LongLineBoxAccessible : public QAccessibleWidget,
                              public QAccessibleTextInterface,
                              public QAccessibleEditableTextInterface {
public:
    explicit LongLineBoxAccessible(LongLineBox *box);

    // Makes every LongLineBox read through this class; the first box does
    // it before anything asks.
    static void install();

    void *interface_cast(QAccessible::InterfaceType type) override;
    QAccessible::State state() const override;
    QString text(QAccessible::Text type) const override;
    void setText(QAccessible::Text type, const QString &text) override;

    // Offsets here are in the user's text.
    void selection(int selectionIndex, int *startOffset, int *endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                             int *startOffset, int *endOffset) const override;
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType,
                            int *startOffset, int *endOffset) const override;
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset,
                         int *endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint &point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int *startOffset, int *endOffset) const override;

    void deleteText(int startOffset, int endOffset) override;
    void insertText(int offset, const QString &text) override;
    void replaceText(int startOffset, int endOffset, const QString &text) override;

private:
    enum class Side { Before, At, After };
    // A line of the user's text: [first, last), with its line break if it
    // has one.
    struct Line {
        int first;
        int last;
        bool broken;
    };

    LongLineBox *box() const;
    const SoftBreaks *joins() const;
    int offsetOf(int position) const;
    int positionOf(int offset) const;
    int characterPosition(int offset) const;
    Line lineAround(int offset) const;
    QString textBeside(Side side, int offset, QAccessible::TextBoundaryType type, int *start,
                       int *end) const;
    QString lineBeside(Side side, int offset, int *start, int *end) const;
    QString segmentBeside(Side side, int offset, QAccessible::TextBoundaryType type, int *start,
                          int *end) const;
};
