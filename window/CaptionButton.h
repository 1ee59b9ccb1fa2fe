#pragma once

#include <QPushButton>

// A push button whose caption wraps onto a second line when one line is too
// wide for the button's fixed size, as the window's narrow file buttons need
// ("ファイル読み" is wider than its button). text() stays the caption as set.
class CaptionButton : public QPushButton {
    Q_OBJECT
public:
    using QPushButton::QPushButton;

    // Whether the caption is drawn over two or more lines at the present
    // size and font.
    bool wrapsCaption() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QRect captionRect() const;
};
