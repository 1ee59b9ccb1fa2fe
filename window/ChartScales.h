#pragma once

#include <QList>
#include <QPointF>
#include <QtGlobal>

#include <cstdint>
#include <vector>

class TimeHistogram;

// The chart window's axes and bars, from the record's figures: round axis
// ends, so that a growing run mostly moves the line and not the labels, and
// the histogram's bars from the record's narrow time buckets.
namespace ChartScales {

// The least of 1, 1.5, 2, 3, 4, 5, 6, 8 times a power of ten that is at
// least `value`; 1 for nothing above 0.
// roundUp(0) == 1, roundUp(100) == 100, roundUp(101) == 150, roundUp(0.07) == 0.08
double roundUp(double value);

// The least round span of time that holds `ms`: 10 s, 20 s, 30 s, 1 min ...
// up to a year, then whole years.
// roundSpanMs(0) == 10000, roundSpanMs(10001) == 20000
qint64 roundSpanMs(qint64 ms);

// The kept times counted into `count` bars of equal width, from the low end
// of the lowest bucket used to the top of the highest: each bucket counted
// whole into the bar its middle falls in. From 0 to 1, all bars empty, when
// no time is kept.
struct Bars {
    double lowMs = 0;
    double highMs = 1;
    std::vector<std::uint64_t> counts;

    double widthMs() const { return (highMs - lowMs) / double(counts.size()); }
};
Bars bars(const TimeHistogram &times, int count);

// The outline of the bars: up and across each bar, down at the end.
// Bars{0, 2, {3, 1}} -> (0,0) (0,3) (1,3) (1,1) (2,1) (2,0)
QList<QPointF> outline(const Bars &bars);

} // namespace ChartScales
