#pragma once

#include "Exchange.h"

#include <QList>
#include <QPointF>

#include <vector>

// The points of a chart reduced to what its pixel columns can show: of each
// kind (the outcome of the exchange), the lowest and the highest point of
// every column, each where it was, in the order of x. A million points over
// 800 columns come down to at most 1,600 of each kind, and every column still
// reaches exactly as low and as high as its points.
//
//   ColumnReduction r(0, 10, 2);   // columns [0, 5) and [5, 10]
//   r.add(1, 7, Ok); r.add(2, 3, Ok); r.add(3, 5, Ok); r.add(6, 4, Ok);
//   r.points(Ok) == {(1, 7), (2, 3), (6, 4)}
class ColumnReduction {
public:
    // Points at x outside [fromX, toX] count into the first or last column.
    ColumnReduction(double fromX, double toX, int columns);

    void add(double x, double y, Exchange::Outcome kind)
    {
        Column &c = columns_[std::size_t(kind) * std::size_t(count_) + std::size_t(column(x))];
        if (!c.any) {
            c.low = c.high = {x, y};
            c.any = true;
        } else if (y < c.low.y) {
            c.low = {x, y};
        } else if (y > c.high.y) {
            c.high = {x, y};
        }
    }

    QList<QPointF> points(Exchange::Outcome kind) const;
    // The column a point at x falls in.
    int column(double x) const
    {
        const double c = (x - fromX_) * scale_;
        // NaN compares false both ways and lands in the first column.
        if (!(c >= 1))
            return 0;
        return c >= double(count_) ? count_ - 1 : int(c);
    }
    int columns() const { return count_; }
    // The highest y of all kinds; 0 when nothing was added.
    double maxY() const;

private:
    struct At {
        double x;
        double y;
    };
    struct Column {
        At low;
        At high;
        bool any = false;
    };

    double fromX_;
    double scale_; // columns per unit of x
    int count_;
    std::vector<Column> columns_; // of each kind in turn
};
