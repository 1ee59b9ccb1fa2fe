#include "CaptionButton.h"

#include <QStyleOptionButton>
#include <QStylePainter>

QRect CaptionButton::captionRect() const
{
    QStyleOptionButton option;
    initStyleOption(&option);
    return style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
}

bool CaptionButton::wrapsCaption() const
{
    return fontMetrics().horizontalAdvance(text()) > captionRect().width();
}

void CaptionButton::paintEvent(QPaintEvent *event)
{
    if (!wrapsCaption()) {
        QPushButton::paintEvent(event);
        return;
    }
    // The frame as the style draws it, then the caption wrapped inside it.
    // Japanese text may break between any two characters.
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();
    painter.drawControl(QStyle::CE_PushButton, option);
    // The whole button height: two lines need more than the contents rect
    // leaves after the style's padding.
    QRect area = captionRect();
    area.setTop(rect().top() + 1);
    area.setBottom(rect().bottom() - 1);
    painter.drawItemText(area, Qt::AlignCenter | Qt::TextWrapAnywhere, option.palette, isEnabled(),
                         text(), QPalette::ButtonText);
}
