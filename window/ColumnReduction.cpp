#include "ColumnReduction.h"

#include <algorithm>
#include <cmath>

ColumnReduction::ColumnReduction(double fromX, double toX, int columns)
    : fromX_(fromX), columns_(std::max(1, columns))
{
    scale_ = toX > fromX ? double(columns_) / (toX - fromX) : 0;
    for (auto &kind : kinds_)
        kind.resize(std::size_t(columns_));
}

int ColumnReduction::column(double x) const
{
    const double c = std::floor((x - fromX_) * scale_);
    // NaN compares false both ways and lands in the first column.
    if (!(c > 0))
        return 0;
    return c >= double(columns_) ? columns_ - 1 : int(c);
}

void ColumnReduction::add(double x, double y, Exchange::Outcome kind)
{
    Column &c = kinds_[std::size_t(kind)][std::size_t(column(x))];
    const QPointF p(x, y);
    if (!c.any) {
        c.low = c.high = p;
        c.any = true;
    } else if (y < c.low.y()) {
        c.low = p;
    } else if (y > c.high.y()) {
        c.high = p;
    }
    minY_ = any_ ? std::min(minY_, y) : y;
    maxY_ = any_ ? std::max(maxY_, y) : y;
    any_ = true;
}

QList<QPointF> ColumnReduction::points(Exchange::Outcome kind) const
{
    QList<QPointF> drawn;
    for (const Column &c : kinds_[std::size_t(kind)]) {
        if (!c.any)
            continue;
        // Exactly the same point (a column of one), not QPointF's fuzzy equality.
        if (c.low.x() == c.high.x() && c.low.y() == c.high.y()) {
            drawn.append(c.low);
        } else if (c.low.x() <= c.high.x()) {
            drawn.append(c.low);
            drawn.append(c.high);
        } else {
            drawn.append(c.high);
            drawn.append(c.low);
        }
    }
    return drawn;
}
