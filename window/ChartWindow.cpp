#include "ChartWindow.h"

#include "ColumnReduction.h"
#include "ExchangeRecord.h"
#include "LoopbackCheck.h"
#include "NumberText.h"

#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QDateTimeAxis>
#include <QGridLayout>
#include <QLabel>
#include <QLineSeries>
#include <QScatterSeries>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr QSize kStartSize{900, 600};
constexpr qreal kMarkerSize = 7;
// Room above the highest point, as a share of the axis.
constexpr double kHeadroom = 1.05;
constexpr qint64 kDayMs = 24 * 60 * 60 * 1000;

const QColor kErrorColor(220, 20, 20);
const QColor kLostColor(240, 140, 0);

QString timeText(double ms)
{
    return NumberText::fromSingle(static_cast<float>(ms));
}

} // namespace

ChartWindow::ChartWindow(const ExchangeRecord &record, const LoopbackCheck &check, QWidget *parent)
    : QWidget(parent, Qt::Window), record_(record), check_(check)
{
    setObjectName(QStringLiteral("ChartWindow"));
    setWindowTitle(QStringLiteral("応答時間グラフ"));
    if (parent)
        setFont(parent->font());
    resize(kStartSize);

    buildResponseChart();
    buildHistogram();
    auto *charts = new QVBoxLayout;
    charts->addWidget(responseView_, 3);
    charts->addWidget(histogramView_, 2);
    auto *layout = new QHBoxLayout(this);
    layout->addLayout(charts, 1);
    layout->addWidget(buildFigures(), 0, Qt::AlignTop);

    redrawTimer_.setSingleShot(true);
    redrawTimer_.setInterval(kRedrawInterval);
    connect(&redrawTimer_, &QTimer::timeout, this, &ChartWindow::redraw);
}

void ChartWindow::buildResponseChart()
{
    auto *chart = new QChart;
    okSeries_ = new QLineSeries;
    okSeries_->setName(QStringLiteral("応答時間"));
    errorSeries_ = new QScatterSeries;
    errorSeries_->setName(QStringLiteral("エラー"));
    lostSeries_ = new QScatterSeries;
    lostSeries_->setName(QStringLiteral("タイムアウト"));
    for (auto [series, color] : {std::pair{errorSeries_, kErrorColor}, {lostSeries_, kLostColor}}) {
        series->setMarkerSize(kMarkerSize);
        series->setColor(color);
        series->setBorderColor(color);
    }

    timeAxis_ = new QDateTimeAxis;
    timeAxis_->setTitleText(QStringLiteral("時刻"));
    responseAxis_ = new QValueAxis;
    responseAxis_->setTitleText(QStringLiteral("応答時間 (msec)"));
    responseAxis_->setLabelFormat(QStringLiteral("%.4g"));
    chart->addAxis(timeAxis_, Qt::AlignBottom);
    chart->addAxis(responseAxis_, Qt::AlignLeft);
    for (QXYSeries *series :
         std::initializer_list<QXYSeries *>{okSeries_, errorSeries_, lostSeries_}) {
        chart->addSeries(series);
        series->attachAxis(timeAxis_);
        series->attachAxis(responseAxis_);
    }
    for (QAbstractAxis *axis : chart->axes()) {
        axis->setLabelsFont(font());
        axis->setTitleFont(font());
    }
    chart->legend()->setFont(font());
    chart->legend()->setAlignment(Qt::AlignBottom);
    // Resized, the chart has another number of pixel columns to reduce to.
    connect(chart, &QChart::plotAreaChanged, this, [this](const QRectF &plot) {
        if (int(plot.width()) != drawnColumns_) {
            drawnVersion_ = ~std::uint64_t(0);
            recordChanged();
        }
    });

    responseView_ = new QChartView(chart, this);
    responseView_->setObjectName(QStringLiteral("responseChart"));
    responseView_->setAccessibleName(QStringLiteral("応答時間の推移"));
    responseView_->setRenderHint(QPainter::Antialiasing);
}

void ChartWindow::buildHistogram()
{
    auto *chart = new QChart;
    histogramOutline_ = new QLineSeries(chart);
    histogramArea_ = new QAreaSeries(histogramOutline_);
    histogramArea_->setName(QStringLiteral("件数"));
    binAxis_ = new QValueAxis;
    binAxis_->setTitleText(QStringLiteral("応答時間 (msec)"));
    binAxis_->setLabelFormat(QStringLiteral("%.4g"));
    countAxis_ = new QValueAxis;
    countAxis_->setTitleText(QStringLiteral("件数"));
    countAxis_->setLabelFormat(QStringLiteral("%.0f"));
    chart->addAxis(binAxis_, Qt::AlignBottom);
    chart->addAxis(countAxis_, Qt::AlignLeft);
    chart->addSeries(histogramArea_);
    histogramArea_->attachAxis(binAxis_);
    histogramArea_->attachAxis(countAxis_);
    for (QAbstractAxis *axis : chart->axes()) {
        axis->setLabelsFont(font());
        axis->setTitleFont(font());
    }
    chart->legend()->hide();

    histogramView_ = new QChartView(chart, this);
    histogramView_->setObjectName(QStringLiteral("histogramChart"));
    histogramView_->setAccessibleName(QStringLiteral("応答時間の分布"));
}

QWidget *ChartWindow::buildFigures()
{
    static const std::array<const char *, FigureCount> kNames = {
        "count", "errors", "lost", "mean", "p50", "p95", "p99", "max", "min", "standardDeviation"};
    const std::array<QString, FigureCount> kCaptions = {
        QStringLiteral("カウント"), QStringLiteral("エラー"), QStringLiteral("タイムアウト"),
        QStringLiteral("平均"),     QStringLiteral("中央値"), QStringLiteral("95%値"),
        QStringLiteral("99%値"),    QStringLiteral("最大"),   QStringLiteral("最小"),
        QStringLiteral("標準偏差")};

    auto *figures = new QWidget(this);
    figures->setObjectName(QStringLiteral("figures"));
    figures->setAccessibleName(QStringLiteral("数値"));
    auto *grid = new QGridLayout(figures);
    for (int i = 0; i < FigureCount; ++i) {
        const QString name = QString::fromLatin1(kNames[std::size_t(i)]);
        captions_[i] = new QLabel(kCaptions[std::size_t(i)], figures);
        captions_[i]->setObjectName(name + QStringLiteral("Caption"));
        values_[i] = new QLabel(figures);
        values_[i]->setObjectName(name + QStringLiteral("Value"));
        values_[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        values_[i]->setLineWidth(1);
        values_[i]->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("0")) * 12);
        values_[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        // As in the main window: the value keeps its text as its name, so
        // that a reader announces the figure, and its caption labels it.
        captions_[i]->setBuddy(values_[i]);
        grid->addWidget(captions_[i], i, 0);
        grid->addWidget(values_[i], i, 1);
    }
    grid->addWidget(new QLabel(QStringLiteral("時間はmsec"), figures), FigureCount, 0, 1, 2);
    return figures;
}

void ChartWindow::recordChanged()
{
    if (isVisible() && !redrawTimer_.isActive())
        redrawTimer_.start();
}

void ChartWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (drawnVersion_ != record_.version())
        redraw();
}

void ChartWindow::hideEvent(QHideEvent *event)
{
    redrawTimer_.stop();
    QWidget::hideEvent(event);
}

void ChartWindow::redraw()
{
    redrawTimer_.stop();
    drawnVersion_ = record_.version();
    showFigures();
    drawResponses();
}

void ChartWindow::showFigures()
{
    const ExchangeRecord::Figures &f = record_.figures();
    // Errors as the engine counts them (polls that found a reply which can
    // no longer match) and probes given up on with such a reply: as
    // commcheck-cli counts them.
    const auto errorPolls = std::uint64_t(check_.statistics()[Statistics::Errors]);
    values_[Count]->setText(QString::number(f.count));
    values_[Errors]->setText(QString::number(errorPolls + f.errors));
    values_[Lost]->setText(QString::number(f.lost));
    // Lost replies are only counted where a reply timeout is set.
    const bool lostShown = check_.replyTimeout().has_value() || f.lost > 0;
    captions_[Lost]->setVisible(lostShown);
    values_[Lost]->setVisible(lostShown);

    const std::array<std::pair<Figure, double>, 7> times = {
        {{Mean, f.mean},
         {P50, f.p50},
         {P95, f.p95},
         {P99, f.p99},
         {Max, f.max},
         {Min, f.min},
         {StandardDeviation, f.standardDeviation}}};
    for (const auto &[figure, ms] : times)
        values_[figure]->setText(f.count == 0 ? QStringLiteral("-") : timeText(ms));
}

void ChartWindow::drawResponses()
{
    qint64 firstMs = record_.firstAtMs();
    qint64 lastMs = record_.lastAtMs();
    if (lastMs <= firstMs) {
        firstMs -= 500;
        lastMs += 500;
    }

    // Before the chart is first laid out, its plot area is empty: the view's
    // width is then near enough, and the plot area's change draws it again.
    const QRectF plot = responseView_->chart()->plotArea();
    drawnColumns_ = std::max(1, int(plot.isEmpty() ? responseView_->width() : plot.width()));
    const int columns = drawnColumns_;
    ColumnReduction reduction(double(firstMs), double(lastMs), columns);
    record_.forEach([&](const ExchangeRecord::Point &p) {
        reduction.add(double(p.atMs), p.responseMs, p.outcome);
    });
    const QList<QPointF> ok = reduction.points(Exchange::Outcome::Ok);
    okSeries_->replace(ok);
    errorSeries_->replace(reduction.points(Exchange::Outcome::Error));
    lostSeries_->replace(reduction.points(Exchange::Outcome::Lost));

    timeAxis_->setFormat(lastMs - firstMs > kDayMs ? QStringLiteral("MM/dd HH:mm")
                                                   : QStringLiteral("HH:mm:ss"));
    timeAxis_->setRange(QDateTime::fromMSecsSinceEpoch(firstMs),
                        QDateTime::fromMSecsSinceEpoch(lastMs));
    const double top = reduction.maxY() > 0 ? reduction.maxY() * kHeadroom : 1.0;
    responseAxis_->setRange(0, top);

    // The lowest and highest time that ended Ok are among the drawn points.
    double low = 0;
    double high = 0;
    for (qsizetype i = 0; i < ok.size(); ++i) {
        low = i == 0 ? ok[i].y() : std::min(low, ok[i].y());
        high = i == 0 ? ok[i].y() : std::max(high, ok[i].y());
    }
    drawHistogram(low, high);
}

void ChartWindow::drawHistogram(double lowMs, double highMs)
{
    if (highMs <= lowMs) {
        lowMs -= 0.5;
        highMs += 0.5;
    }
    const double width = (highMs - lowMs) / kHistogramBins;
    std::vector<std::uint64_t> bins(kHistogramBins, 0);
    record_.forEach([&](const ExchangeRecord::Point &p) {
        if (p.outcome != Exchange::Outcome::Ok)
            return;
        const auto bin = std::min<std::size_t>(
            kHistogramBins - 1, std::size_t(std::max(0.0, (p.responseMs - lowMs) / width)));
        ++bins[bin];
    });

    // The outline of the bars: up and across each bin, down at the end.
    QList<QPointF> outline;
    outline.reserve(2 * kHistogramBins + 2);
    outline.append({lowMs, 0});
    std::uint64_t most = 0;
    for (int i = 0; i < kHistogramBins; ++i) {
        const double count = double(bins[std::size_t(i)]);
        outline.append({lowMs + width * i, count});
        outline.append({lowMs + width * (i + 1), count});
        most = std::max(most, bins[std::size_t(i)]);
    }
    outline.append({highMs, 0});
    histogramOutline_->replace(outline);
    binAxis_->setRange(lowMs, highMs);
    countAxis_->setRange(0, most > 0 ? double(most) * kHeadroom : 1.0);
}
