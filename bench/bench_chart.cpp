// The chart window's cost, in three figures:
//   - a checking station probing every 100 ms against a far end that echoes
//     every byte (over a pseudo-terminal, the relay in this process not
//     counted), its window shown: the main thread's CPU with the chart
//     window open, against the same run with it closed;
//   - a run of 1,000,000 exchanges: from Ctrl+G to the chart window shown
//     and its chart painted;
//   - on that run, one redraw: the record reduced to the chart's pixel
//     columns, the histogram and the figures worked out, and the window
//     painted.
//
//   bench_chart [seconds]      (default 60 for each of the two checks)
#include "BenchStation.h"
#include "ChartPlots.h"
#include "ChartWindow.h"
#include "ExchangeRecord.h"
#include "MainThreadUsage.h"
#include "Summary.h"
#include "TestWindow.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kProbeIntervalMs = 100;
constexpr double kCpuRatioTarget = 2.0;
constexpr std::size_t kLongRun = 1'000'000;
constexpr double kOpenTargetMs = 300;
constexpr double kRedrawTargetMs = 30;
constexpr int kRedraws = 21;
const QString kText = QStringLiteral("ABC[13]");

using Usage = MainThreadUsage;

// A checking station for `seconds` after a settling second, the chart
// window open or not; false when the check could not run.
bool checkingStation(QApplication &app, int seconds, bool chartOpen, Usage *usage)
{
    BenchStation station("bench_chart", BenchStation::FarEnd::Echo);
    if (!station.open(true))
        return false;
    if (chartOpen)
        station.form().showChart();
    if (!station.measureCheck(app, seconds, kProbeIntervalMs, kText, usage))
        return false;
    if (chartOpen && station.form().record().total() == 0) {
        std::fprintf(stderr, "bench_chart: the chart's record stayed empty\n");
        return false;
    }
    return true;
}

// A run of `n` exchanges 100 ms apart, mostly about 50 ms, one in 200 an
// error and one in 500 lost, as the engine reports them.
void fillRun(TestWindow &station, std::size_t n)
{
    QRandomGenerator random(1);
    const qint64 start = QDateTime::currentMSecsSinceEpoch() - qint64(n) * kProbeIntervalMs;
    Exchange e;
    for (std::size_t i = 0; i < n; ++i) {
        const quint32 roll = random.bounded(1000u);
        e.sequence = i + 1;
        e.at = QDateTime::fromMSecsSinceEpoch(start + qint64(i) * kProbeIntervalMs, Qt::UTC);
        e.responseMs = roll < 10 ? 100 + random.bounded(400.0) : 45 + random.bounded(10.0);
        e.outcome = roll % 200 == 3   ? Exchange::Outcome::Error
                    : roll % 500 == 7 ? Exchange::Outcome::Lost
                                      : Exchange::Outcome::Ok;
        emit station.check().exchangeCompleted(e);
    }
}

// Types Ctrl+G into the window, and times it to the chart window exposed
// and its response chart painted.
bool timeOpening(QApplication &app, Form1 &form, double *wallMs, double *cpuMs)
{
    struct PaintWatch : QObject {
        bool painted = false;
        bool eventFilter(QObject *, QEvent *event) override
        {
            painted = painted || event->type() == QEvent::Paint;
            return false;
        }
    } watch;

    QElapsedTimer wall;
    double cpuStart = 0;
    bool shown = false;
    QTimer look;
    look.setTimerType(Qt::PreciseTimer);
    look.setInterval(1);
    QObject::connect(&look, &QTimer::timeout, [&] {
        const ChartWindow *chart = form.chartWindow();
        if (!chart || !chart->windowHandle() || !chart->windowHandle()->isExposed() ||
            !watch.painted)
            return;
        *wallMs = double(wall.nsecsElapsed()) / 1e6;
        *cpuMs = (MainThreadUsage::threadCpuSeconds() - cpuStart) * 1000.0;
        shown = true;
        look.stop();
        app.quit();
    });
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &app, &QApplication::quit);
    QTimer::singleShot(0, &app, [&] {
        deadline.start(10000);
        look.start();
        wall.start();
        cpuStart = MainThreadUsage::threadCpuSeconds();
        // The shortcut makes the window at once; it is shown and painted
        // when the event loop comes round.
        QTest::keyClick(&form, Qt::Key_G, Qt::ControlModifier);
        if (form.chartWindow() && form.chartWindow()->plots())
            qobject_cast<QAbstractScrollArea *>(form.chartWindow()->plots()->responseView())
                ->viewport()
                ->installEventFilter(&watch);
    });
    app.exec();
    return shown;
}

} // namespace

int main(int argc, char *argv[])
{
    BenchStation::preferOffscreen();
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 60;

    // (b) Opening on a run of a million, first: the first chart window of
    // the program, as a user opens it.
    double openWallMs = 0;
    double openCpuMs = 0;
    std::vector<double> wallMs;
    std::vector<double> cpuMs;
    {
        TestWindow station;
        station.form->show();
        station.form->activateWindow();
        if (!QTest::qWaitForWindowActive(station.form.get())) {
            std::fprintf(stderr, "bench_chart: the window did not become active\n");
            return 1;
        }
        fillRun(station, kLongRun);
        if (station.form->record().size() != kLongRun) {
            std::fprintf(stderr, "bench_chart: the record holds %zu exchanges, not %zu\n",
                         station.form->record().size(), kLongRun);
            return 1;
        }
        if (!timeOpening(app, *station.form, &openWallMs, &openCpuMs)) {
            std::fprintf(stderr, "bench_chart: Ctrl+G did not show the chart within 10 s\n");
            return 1;
        }
        std::printf("Ctrl+G to the chart shown, %zu exchanges: %.1f ms (%.1f ms CPU)\n", kLongRun,
                    openWallMs, openCpuMs);

        // (c) Redraws on that run, each after one more exchange.
        ChartWindow *chart = station.form->chartWindow();
        for (int i = 0; i < kRedraws; ++i) {
            Exchange e;
            e.sequence = kLongRun + std::size_t(i) + 1;
            e.at = QDateTime::fromMSecsSinceEpoch(station.form->record().lastAtMs() + 100, Qt::UTC);
            e.responseMs = 50;
            emit station.check().exchangeCompleted(e);
            QElapsedTimer wall;
            wall.start();
            const double cpuStart = MainThreadUsage::threadCpuSeconds();
            chart->redraw();
            // What the redraw left to the event loop (the charts' layout), and the paint.
            QCoreApplication::sendPostedEvents();
            chart->repaint();
            wallMs.push_back(double(wall.nsecsElapsed()) / 1e6);
            cpuMs.push_back((MainThreadUsage::threadCpuSeconds() - cpuStart) * 1000.0);
        }
        std::printf("one redraw, %zu exchanges: median %.1f ms (%.1f ms CPU), longest %.1f ms, "
                    "of %d\n",
                    kLongRun, Summary::median(wallMs), Summary::median(cpuMs),
                    *std::max_element(wallMs.begin(), wallMs.end()), kRedraws);
    }

    // (a) The same check with the chart window closed, then open.
    Usage closed;
    Usage open;
    if (!checkingStation(app, seconds, false, &closed) ||
        !checkingStation(app, seconds, true, &open))
        return 1;
    std::printf("checking station, %d ms probes, chart closed: %.3f s CPU on the main thread in "
                "%.1f s (%.3f%%), %d exchanges\n",
                kProbeIntervalMs, closed.cpuSeconds, closed.wallSeconds, closed.percent(),
                closed.events);
    std::printf("checking station, %d ms probes, chart open:   %.3f s CPU on the main thread in "
                "%.1f s (%.3f%%), %d exchanges\n",
                kProbeIntervalMs, open.cpuSeconds, open.wallSeconds, open.percent(), open.events);
    std::fflush(stdout);
    const double ratio = open.percent() / closed.percent();

    Summary::print(
        QStringLiteral("checking station %1 ms, chart open vs closed, %2 s: "
                       "main-thread CPU")
            .arg(kProbeIntervalMs)
            .arg(seconds),
        QString::asprintf("%.2fx (%.3f %% vs %.3f %%)", ratio, open.percent(), closed.percent()),
        QStringLiteral("<= %1x").arg(kCpuRatioTarget, 0, 'f', 0), QString(),
        Summary::judge(ratio <= kCpuRatioTarget));
    Summary::print(QStringLiteral("Ctrl+G to the chart shown, 1,000,000 exchanges"),
                   Summary::number(openWallMs, 1, QStringLiteral("ms")),
                   QStringLiteral("< %1 ms").arg(kOpenTargetMs),
                   QStringLiteral("CPU ") + Summary::number(openCpuMs, 1, QStringLiteral("ms")),
                   Summary::judge(openWallMs < kOpenTargetMs));
    Summary::print(
        QStringLiteral("one chart redraw, 1,000,000 exchanges, median of %1").arg(kRedraws),
        Summary::number(Summary::median(wallMs), 1, QStringLiteral("ms")),
        QStringLiteral("< %1 ms").arg(kRedrawTargetMs),
        QStringLiteral("CPU ") + Summary::number(Summary::median(cpuMs), 1, QStringLiteral("ms")),
        Summary::judge(Summary::median(wallMs) < kRedrawTargetMs));
    return 0;
}
