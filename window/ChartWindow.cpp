#include "ChartWindow.h"

#include "ChartLoader.h"
#include "ChartModule.h"
#include "ChartPlots.h"
#include "ChartScales.h"
#include "ColumnReduction.h"
#include "ExchangeRecord.h"
#include "LoopbackCheck.h"
#include "NumberText.h"

#include <QGridLayout>
#include <QLabel>

#include <algorithm>
#include <array>

namespace {

constexpr QSize kStartSize{900, 600};
// Room above the highest point, as a share of the axis.
constexpr double kHeadroom = 1.05;
constexpr qint64 kDayMs = 24 * 60 * 60 * 1000;

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

    auto *layout = new QHBoxLayout(this);
    layout->addWidget(buildPlots(), 1);
    layout->addWidget(buildFigures(), 0, Qt::AlignTop);

    redrawTimer_.setSingleShot(true);
    redrawTimer_.setInterval(kRedrawInterval);
    connect(&redrawTimer_, &QTimer::timeout, this, &ChartWindow::redraw);
}

QWidget *ChartWindow::buildPlots()
{
    QString error;
    ChartModule *module = ChartLoader::load(&error);
    if (!module) {
        auto *missing = new QLabel(
            QStringLiteral("グラフを表示できません（グラフの部品を読み込めません）\n") + error,
            this);
        missing->setObjectName(QStringLiteral("plotsMissing"));
        missing->setWordWrap(true);
        missing->setTextInteractionFlags(Qt::TextSelectableByMouse);
        missing->setAlignment(Qt::AlignCenter);
        return missing;
    }
    plots_ = module->createPlots(this);
    // Resized, the plot has another number of pixel columns to reduce to:
    // drawn again once the resizing is done with, not a redraw interval later.
    plots_->onColumnsChanged([this] { redrawIfResized(); });
    return plots_->widget();
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
        values_[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        // Its size fixed (room for 12 digits), a value taking a new text at
        // every redraw does not have the window lay itself out again.
        values_[i]->setFixedSize(fontMetrics().horizontalAdvance(QStringLiteral("0")) * 12 + 8,
                                 values_[i]->sizeHint().height());
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

void ChartWindow::checkChanged()
{
    drawnVersion_ = ~std::uint64_t(0);
    recordChanged();
}

void ChartWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Laid out now, the first drawing already has the plot's width.
    if (plots_)
        plots_->layOut();
    if (drawnVersion_ != record_.version())
        redraw();
}

void ChartWindow::redrawIfResized()
{
    if (isVisible() && plots_ && plots_->columns() != drawnColumns_)
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
    if (!plots_)
        return;
    drawResponses();
    drawHistogram();
}

void ChartWindow::showFigures()
{
    const ExchangeRecord::Figures &f = record_.figures();
    // The record holds the error polls as the main window counts them, and
    // probes given up on with a reply that can no longer match.
    values_[Count]->setText(QString::number(f.count));
    values_[Errors]->setText(QString::number(f.errors));
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
    // The time axis runs from the oldest exchange over a round span that
    // the run grows into, and the response axis up to a round number: a
    // new exchange mostly changes the line alone, not the axes, whose labels
    // cost more to lay out again than the line to draw.
    const qint64 firstMs = record_.firstAtMs();
    const qint64 endMs = firstMs + ChartScales::roundSpanMs(record_.lastAtMs() - firstMs);
    if (firstMs != shownFirstMs_ || endMs != shownEndMs_) {
        shownFirstMs_ = firstMs;
        shownEndMs_ = endMs;
        plots_->setTimeRange(firstMs, endMs, endMs - firstMs > kDayMs);
    }

    // Before the plot is first laid out, its view's width is near enough, and
    // the plot's change of width draws it again.
    drawnColumns_ = plots_->columns();
    // Times to each pixel column; errors and lost replies to each marker's
    // width, as markers closer together would only cover each other.
    ColumnReduction times(double(firstMs), double(endMs), drawnColumns_);
    ColumnReduction marks(double(firstMs), double(endMs),
                          std::max(1, drawnColumns_ / ChartPlots::kMarkerSize));
    auto reductionOf = [&](Exchange::Outcome outcome) -> ColumnReduction & {
        return outcome == Exchange::Outcome::Ok ? times : marks;
    };
    // A stretch of exchanges within one column of both is taken whole: its
    // lowest and highest of each outcome are all the column needs of it.
    record_.forEachSpan(
        [&](const ExchangeRecord::Span &span) {
            const double earliest = double(span.earliestAtMs);
            const double latest = double(span.latestAtMs);
            if (times.column(earliest) != times.column(latest) ||
                marks.column(earliest) != marks.column(latest))
                return false;
            for (std::size_t i = 0; i < span.outcomes.size(); ++i) {
                const ExchangeRecord::Extremes &e = span.outcomes[i];
                if (!e.any)
                    continue;
                const auto outcome = Exchange::Outcome(i);
                reductionOf(outcome).add(double(e.lowAtMs), e.lowMs, outcome);
                reductionOf(outcome).add(double(e.highAtMs), e.highMs, outcome);
            }
            return true;
        },
        [&](const ExchangeRecord::Point &p) {
            reductionOf(p.outcome).add(double(p.atMs), p.responseMs, p.outcome);
        });
    plots_->setPoints(ChartPlots::Layer::Times, times.points(Exchange::Outcome::Ok));
    plots_->setPoints(ChartPlots::Layer::Errors, marks.points(Exchange::Outcome::Error));
    plots_->setPoints(ChartPlots::Layer::Lost, marks.points(Exchange::Outcome::Lost));
    plots_->setResponseTop(ChartScales::roundUp(std::max(times.maxY(), marks.maxY()) * kHeadroom));
}

void ChartWindow::drawHistogram()
{
    const ChartScales::Bars bars = ChartScales::bars(record_.keptTimes(), kHistogramBins);
    const std::uint64_t most = *std::max_element(bars.counts.begin(), bars.counts.end());
    plots_->setHistogram(ChartScales::outline(bars), bars.lowMs, bars.highMs,
                         ChartScales::roundUp(double(most) * kHeadroom));
}
