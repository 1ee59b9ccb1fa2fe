#pragma once

#include "ChartPlots.h"

#include <QWidget>

class QAreaSeries;
class QChartView;
class QDateTimeAxis;
class QLineSeries;
class QScatterSeries;
class QValueAxis;
class QXYSeries;

// The chart window's plots drawn with Qt Charts.
class QtChartPlots : public QWidget, public ChartPlots {
    Q_OBJECT
public:
    explicit QtChartPlots(QWidget *window);

    QWidget *widget() override { return this; }
    QWidget *responseView() override;
    void layOut() override;
    int columns() const override;
    void onColumnsChanged(std::function<void()> changed) override;
    void setTimeRange(qint64 firstMs, qint64 endMs, bool withDay) override;
    void setPoints(Layer layer, const QList<QPointF> &points) override;
    void setResponseTop(double ms) override;
    qsizetype pointsShown(Layer layer) const override;
    void setHistogram(const QList<QPointF> &outline, double lowMs, double highMs,
                      double top) override;

private:
    QChartView *buildResponseChart();
    QChartView *buildHistogram();
    QXYSeries *series(Layer layer) const;

    std::function<void()> columnsChanged_;
    int announcedColumns_ = -1;
    QChartView *responseView_ = nullptr;
    QLineSeries *timeSeries_ = nullptr;
    QScatterSeries *errorSeries_ = nullptr;
    QScatterSeries *lostSeries_ = nullptr;
    QDateTimeAxis *timeAxis_ = nullptr;
    QValueAxis *responseAxis_ = nullptr;
    QLineSeries *histogramOutline_ = nullptr;
    QAreaSeries *histogramArea_ = nullptr;
    QValueAxis *binAxis_ = nullptr;
    QValueAxis *countAxis_ = nullptr;
};
