#pragma once

#include "Exchange.h"

#include <QList>
#include <QPointF>

#include <array>
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

    void add(double x, double y, Exchange::Outcome kind);

    QList<QPointF> points(Exchange::Outcome kind) const;
    // The column a point at x falls in.
    int column(double x) const;
    int columns() const { return columns_; }
    // The highest and lowest y of all kinds; 0 when nothing was added.
    double maxY() const { return any_ ? maxY_ : 0; }
    double minY() const { return any_ ? minY_ : 0; }

private:
    struct Column {
        QPointF low;
        QPointF high;
        bool any = false;
    };

    double fromX_;
    double scale_; // columns per unit of x
    int columns_;
    std::array<std::vector<Column>, 3> kinds_;
    bool any_ = false;
    double minY_ = 0;
    double maxY_ = 0;
};
