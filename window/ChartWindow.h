#pragma once

#include <QTimer>
#include <QWidget>

#include <array>
#include <chrono>
#include <cstdint>

class ExchangeRecord;
class LoopbackCheck;
class QAreaSeries;
class QChart;
class QChartView;
class QDateTimeAxis;
class QLabel;
class QLineSeries;
class QScatterSeries;
class QValueAxis;

// The second window of a checking station: the current run's response
// time per exchange over time, how the times are spread, and its figures.
// It only reads the record, which the main window keeps whether or not this
// window is open; while shown it is drawn again at most every
// kRedrawInterval, and hidden it does nothing at all.
class ChartWindow : public QWidget {
    Q_OBJECT
public:
    // Twice a second: at four times, a check probing every 100 ms cost the
    // window's thread more with the chart open than twice what it costs
    // with the chart closed (bench_chart).
    static constexpr std::chrono::milliseconds kRedrawInterval{500};
    static constexpr int kHistogramBins = 50;

    // The figures, in the order they are shown.
    enum Figure {
        Count,
        Errors,
        Lost,
        Mean,
        P50,
        P95,
        P99,
        Max,
        Min,
        StandardDeviation,
        FigureCount
    };

    ChartWindow(const ExchangeRecord &record, const LoopbackCheck &check, QWidget *parent);

    // The record has changed: drawn again within kRedrawInterval if shown.
    void recordChanged();
    // Draws the record as it is now.
    void redraw();

    QLabel *value(Figure figure) const { return values_[figure]; }
    QLabel *caption(Figure figure) const { return captions_[figure]; }
    QChartView *responseView() const { return responseView_; }
    QChartView *histogramView() const { return histogramView_; }
    // What the response chart shows of each kind, for tests.
    QLineSeries *okSeries() const { return okSeries_; }
    QScatterSeries *errorSeries() const { return errorSeries_; }
    QScatterSeries *lostSeries() const { return lostSeries_; }

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void redrawIfResized();
    void buildResponseChart();
    void buildHistogram();
    QWidget *buildFigures();
    void showFigures();
    void drawResponses();
    void drawHistogram();

    const ExchangeRecord &record_;
    const LoopbackCheck &check_;
    QTimer redrawTimer_;
    std::uint64_t drawnVersion_ = ~std::uint64_t(0);
    int drawnColumns_ = 0;
    qint64 shownFirstMs_ = 0;
    qint64 shownEndMs_ = 0;

    std::array<QLabel *, FigureCount> captions_{};
    std::array<QLabel *, FigureCount> values_{};
    QChartView *responseView_ = nullptr;
    QLineSeries *okSeries_ = nullptr;
    QScatterSeries *errorSeries_ = nullptr;
    QScatterSeries *lostSeries_ = nullptr;
    QDateTimeAxis *timeAxis_ = nullptr;
    QValueAxis *responseAxis_ = nullptr;
    QChartView *histogramView_ = nullptr;
    QLineSeries *histogramOutline_ = nullptr;
    QAreaSeries *histogramArea_ = nullptr;
    QValueAxis *binAxis_ = nullptr;
    QValueAxis *countAxis_ = nullptr;
};
