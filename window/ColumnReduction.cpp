#include "ColumnReduction.h"

#include <algorithm>

ColumnReduction::ColumnReduction(double fromX, double toX, int columns)
    : fromX_(fromX), count_(std::max(1, columns))
{
    scale_ = toX > fromX ? double(count_) / (toX - fromX) : 0;
    columns_.resize(3 * std::size_t(count_));
}

double ColumnReduction::maxY() const
{
    double most = 0;
    bool any = false;
    for (const Column &c : columns_) {
        if (c.any) {
            most = any ? std::max(most, c.high.y) : c.high.y;
            any = true;
        }
    }
    return most;
}

QList<QPointF> ColumnReduction::points(Exchange::Outcome kind) const
{
    QList<QPointF> drawn;
    const auto first = columns_.begin() + std::ptrdiff_t(std::size_t(kind) * std::size_t(count_));
    for (auto c = first; c != first + count_; ++c) {
        if (!c->any)
            continue;
        // Exactly the same point (a column of one).
        if (c->low.x == c->high.x && c->low.y == c->high.y) {
            drawn.append({c->low.x, c->low.y});
        } else if (c->low.x <= c->high.x) {
            drawn.append({c->low.x, c->low.y});
            drawn.append({c->high.x, c->high.y});
        } else {
            drawn.append({c->high.x, c->high.y});
            drawn.append({c->low.x, c->low.y});
        }
    }
    return drawn;
}
