#include "QtChartPlots.h"

#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QGraphicsLayout>
#include <QLineSeries>
#include <QScatterSeries>
#include <QVBoxLayout>
#include <QValueAxis>

namespace {

const QColor kTimeColor(32, 110, 200);
const QColor kErrorColor(220, 20, 20);
const QColor kLostColor(240, 140, 0);

// A series given the points it already has is left alone: replaced, it
// would be drawn again all the same.
void replaceIfChanged(QXYSeries *series, const QList<QPointF> &points)
{
    if (series->points() != points)
        series->replace(points);
}

void useFont(QChart *chart, const QFont &font)
{
    for (QAbstractAxis *axis : chart->axes()) {
        axis->setLabelsFont(font);
        axis->setTitleFont(font);
    }
    chart->legend()->setFont(font);
}

} // namespace

QtChartPlots::QtChartPlots(QWidget *window) : QWidget(window)
{
    setObjectName(QStringLiteral("plots"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(buildResponseChart(), 3);
    layout->addWidget(buildHistogram(), 2);
}

QChartView *QtChartPlots::buildResponseChart()
{
    auto *chart = new QChart;
    timeSeries_ = new QLineSeries;
    timeSeries_->setName(QStringLiteral("応答時間"));
    // A hair line, which the painter draws as a line; a wider one it
    // strokes as an outline and fills.
    timeSeries_->setPen(QPen(kTimeColor, 1));
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
         std::initializer_list<QXYSeries *>{timeSeries_, errorSeries_, lostSeries_}) {
        chart->addSeries(series);
        series->attachAxis(timeAxis_);
        series->attachAxis(responseAxis_);
    }
    useFont(chart, font());
    chart->legend()->setAlignment(Qt::AlignBottom);
    // Resized, the plot has another number of pixel columns: told once the
    // resizing is done with.
    connect(chart, &QChart::plotAreaChanged, this, [this](const QRectF &plot) {
        if (int(plot.width()) == announcedColumns_ || !columnsChanged_)
            return;
        announcedColumns_ = int(plot.width());
        QMetaObject::invokeMethod(
            this, [this] { columnsChanged_(); }, Qt::QueuedConnection);
    });

    responseView_ = new QChartView(chart, this);
    responseView_->setObjectName(QStringLiteral("responseChart"));
    responseView_->setAccessibleName(QStringLiteral("応答時間の推移"));
    return responseView_;
}

QChartView *QtChartPlots::buildHistogram()
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
    useFont(chart, font());
    chart->legend()->hide();

    auto *view = new QChartView(chart, this);
    view->setObjectName(QStringLiteral("histogramChart"));
    view->setAccessibleName(QStringLiteral("応答時間の分布"));
    return view;
}

QWidget *QtChartPlots::responseView()
{
    return responseView_;
}

void QtChartPlots::layOut()
{
    // The chart lays itself out when the event loop comes round; done now,
    // the first drawing already has its plot area's width.
    responseView_->chart()->layout()->activate();
}

int QtChartPlots::columns() const
{
    const QRectF plot = responseView_->chart()->plotArea();
    return std::max(1, int(plot.isEmpty() ? responseView_->width() : plot.width()));
}

void QtChartPlots::onColumnsChanged(std::function<void()> changed)
{
    columnsChanged_ = std::move(changed);
}

void QtChartPlots::setTimeRange(qint64 firstMs, qint64 endMs, bool withDay)
{
    timeAxis_->setFormat(withDay ? QStringLiteral("MM/dd HH:mm") : QStringLiteral("HH:mm:ss"));
    timeAxis_->setRange(QDateTime::fromMSecsSinceEpoch(firstMs),
                        QDateTime::fromMSecsSinceEpoch(endMs));
}

QXYSeries *QtChartPlots::series(Layer layer) const
{
    switch (layer) {
    case Layer::Times:
        return timeSeries_;
    case Layer::Errors:
        return errorSeries_;
    case Layer::Lost:
        break;
    }
    return lostSeries_;
}

void QtChartPlots::setPoints(Layer layer, const QList<QPointF> &points)
{
    replaceIfChanged(series(layer), points);
}

void QtChartPlots::setResponseTop(double ms)
{
    if (ms != responseAxis_->max())
        responseAxis_->setRange(0, ms);
}

qsizetype QtChartPlots::pointsShown(Layer layer) const
{
    return series(layer)->count();
}

void QtChartPlots::setHistogram(const QList<QPointF> &outline, double lowMs, double highMs,
                                double top)
{
    replaceIfChanged(histogramOutline_, outline);
    if (lowMs != binAxis_->min() || highMs != binAxis_->max())
        binAxis_->setRange(lowMs, highMs);
    if (top != countAxis_->max())
        countAxis_->setRange(0, top);
}
