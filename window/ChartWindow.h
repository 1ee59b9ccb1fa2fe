#pragma once

#include <QTimer>
#include <QWidget>

#include <array>
#include <chrono>
#include <cstdint>

class ChartPlots;
class ExchangeRecord;
class LoopbackCheck;
class QLabel;

// The second window of a checking station: the current run's response
// time per exchange over time, how the times are spread, and its figures.
// The plots come from the chart module, loaded with the first chart window;
// without it the window shows its figures and why there are no plots.
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
    // The check's settings have changed, and with them which figures show:
    // drawn again as for a changed record, or when next shown.
    void checkChanged();
    // Draws the record as it is now.
    void redraw();

    QLabel *value(Figure figure) const { return values_[figure]; }
    QLabel *caption(Figure figure) const { return captions_[figure]; }
    // The plots, or nullptr when the chart module could not be loaded.
    ChartPlots *plots() const { return plots_; }

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void redrawIfResized();
    QWidget *buildPlots();
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
    ChartPlots *plots_ = nullptr;
};
