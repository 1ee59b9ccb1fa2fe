#pragma once

#include <QList>
#include <QPointF>

#include <functional>

class QWidget;

// The two plots of the chart window, as the chart module draws them: the
// response time of each exchange over the time of day, and a histogram of
// the times. The window works out what to draw (points already reduced to
// what the plots' pixels can show, axes' ranges); the plots only draw it.
// Only Qt's and the standard library's types cross this interface, so that
// the module and the program share no code of their own.
class ChartPlots {
public:
    // What the response plot shows: the times of exchanges that came back,
    // as a line; errors and lost replies, as markers.
    enum class Layer { Times, Errors, Lost };
    // A marker's width in pixels; markers closer together cover each other.
    static constexpr int kMarkerSize = 7;

    virtual ~ChartPlots() = default;

    // Both plots, one above the other, a child of the window they were made
    // for and deleted with it.
    virtual QWidget *widget() = 0;
    // The response plot's own widget, whose painting benchmarks watch.
    virtual QWidget *responseView() = 0;

    // Lays the plots out now rather than when the event loop comes round.
    virtual void layOut() = 0;
    // The response plot's width in pixels: one column for each. Before it
    // is first laid out, the width of its view.
    virtual int columns() const = 0;
    // Called, once the event loop comes round, when the response plot's
    // width changes: the window reduces its points to the new columns.
    virtual void onColumnsChanged(std::function<void()> changed) = 0;

    // The time axis, ms since 1970 UTC; labelled with the day as well as the
    // time when `withDay`.
    virtual void setTimeRange(qint64 firstMs, qint64 endMs, bool withDay) = 0;
    // x: ms since 1970 UTC, y: ms. A layer given the points it already shows
    // is left alone.
    virtual void setPoints(Layer layer, const QList<QPointF> &points) = 0;
    virtual void setResponseTop(double ms) = 0;
    virtual qsizetype pointsShown(Layer layer) const = 0;

    // The histogram: its bars' outline (up and across each bin, down at the
    // end), the times it spans, and its count axis' top.
    virtual void setHistogram(const QList<QPointF> &outline, double lowMs, double highMs,
                              double top) = 0;
};
