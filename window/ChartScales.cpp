#include "ChartScales.h"

#include "TimeHistogram.h"

#include <algorithm>
#include <cmath>

namespace ChartScales {

double roundUp(double value)
{
    if (!(value > 0))
        return 1;
    const double decade = std::pow(10.0, std::floor(std::log10(value)));
    for (double step : {1.0, 1.5, 2.0, 3.0, 4.0, 5.0, 6.0, 8.0, 10.0}) {
        if (step * decade >= value)
            return step * decade;
    }
    return 10 * decade;
}

qint64 roundSpanMs(qint64 ms)
{
    constexpr qint64 kSecond = 1000;
    constexpr qint64 kMinute = 60 * kSecond;
    constexpr qint64 kHour = 60 * kMinute;
    constexpr qint64 kDay = 24 * kHour;
    constexpr qint64 kYear = 365 * kDay;
    for (qint64 span :
         {10 * kSecond, 20 * kSecond, 30 * kSecond, kMinute,   2 * kMinute, 5 * kMinute,
          10 * kMinute, 15 * kMinute, 30 * kMinute, kHour,     2 * kHour,   3 * kHour,
          6 * kHour,    12 * kHour,   kDay,         2 * kDay,  3 * kDay,    7 * kDay,
          14 * kDay,    30 * kDay,    60 * kDay,    90 * kDay, 180 * kDay,  kYear}) {
        if (ms <= span)
            return span;
    }
    return (ms / kYear + 1) * kYear;
}

Bars bars(const TimeHistogram &times, int count)
{
    // From the record's narrow buckets of the kept times: no look at the
    // exchanges themselves.
    Bars b;
    b.counts.assign(std::size_t(std::max(count, 1)), 0);
    const int first = times.firstUsed();
    const int last = times.lastUsed();
    if (last < first)
        return b;
    b.lowMs = TimeHistogram::lowMs(first);
    b.highMs = TimeHistogram::lowMs(last + 1);
    const double width = b.widthMs();
    const std::size_t lastBar = b.counts.size() - 1;
    for (int bucket = first; bucket <= last; ++bucket) {
        const double middle = (TimeHistogram::lowMs(bucket) + TimeHistogram::lowMs(bucket + 1)) / 2;
        b.counts[std::min(lastBar, std::size_t((middle - b.lowMs) / width))] += times.count(bucket);
    }
    return b;
}

QList<QPointF> outline(const Bars &bars)
{
    QList<QPointF> points;
    points.reserve(qsizetype(2 * bars.counts.size() + 2));
    points.append({bars.lowMs, 0});
    const double width = bars.widthMs();
    for (std::size_t i = 0; i < bars.counts.size(); ++i) {
        const double count = double(bars.counts[i]);
        points.append({bars.lowMs + width * double(i), count});
        points.append({bars.lowMs + width * double(i + 1), count});
    }
    points.append({bars.highMs, 0});
    return points;
}

} // namespace ChartScales
