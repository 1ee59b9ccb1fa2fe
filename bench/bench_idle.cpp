// Idle cost: the CPU the window's thread spends while a station waits with
// nothing to do but its timers. Two stations, one after the other, each on
// the real timers, clock and serial port layer over a pseudo-terminal:
//   - an answering station (echo mode, poller running) on a silent line;
//   - a checking station probing at a 100 ms interval against a far end that
//     echoes every byte (a relay thread in this process, whose CPU is not
//     counted: only the main thread's is).
// Afterwards each station must still be doing its work: the answering one
// answers a text, the checking one has completed exchanges.
//
// For reference, an empty Qt event loop with timers at the rates of each
// station's is measured the same way (for a quarter of the time): on some
// virtual machines a timer wake-up alone costs a good part of the budget.
//
//   bench_idle [seconds]      (default 60 for each station)
#include "BenchStation.h"
#include "MainThreadUsage.h"
#include "PtyPair.h"
#include "Summary.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <initializer_list>
#include <memory>
#include <vector>

namespace {

constexpr double kTargetPercent = 0.5;
constexpr int kProbeIntervalMs = 100;
const QString kText = QStringLiteral("ABC[13]");

using Usage = MainThreadUsage;

// An empty event loop with precise timers at the given intervals (as the
// stations' timers are), a window shown.
Usage measureBareLoop(QApplication &app, int seconds, std::initializer_list<int> intervalsMs)
{
    QWidget window;
    window.show();
    std::vector<std::unique_ptr<QTimer>> timers;
    int ticks = 0;
    for (const int interval : intervalsMs) {
        timers.push_back(std::make_unique<QTimer>());
        timers.back()->setTimerType(Qt::PreciseTimer);
        QObject::connect(timers.back().get(), &QTimer::timeout, [&ticks] { ++ticks; });
        timers.back()->start(interval);
    }
    return MainThreadUsage::measure(app, seconds, &ticks);
}

bool answeringStation(QApplication &app, int seconds, Usage *usage)
{
    BenchStation station("bench_idle", BenchStation::FarEnd::Played);
    if (!station.open(true))
        return false;
    station.window().answer(kText);
    PtyPair &far = station.far();
    *usage = MainThreadUsage::measure(app, seconds);

    // Still answering after the idle span: the text comes back.
    if (!far.write(QByteArrayLiteral("ABC\r"))) {
        std::fprintf(stderr, "bench_idle: cannot write to the answering station\n");
        return false;
    }
    const QByteArray answer = far.read(4, 2000);
    if (answer != QByteArrayLiteral("ABC\r")) {
        std::fprintf(stderr, "bench_idle: the answering station did not answer (got %s)\n",
                     answer.toHex(' ').constData());
        return false;
    }
    return true;
}

bool checkingStation(QApplication &app, int seconds, bool shown, Usage *usage)
{
    BenchStation station("bench_idle", BenchStation::FarEnd::Echo);
    return station.open(shown) &&
           station.measureCheck(app, seconds, kProbeIntervalMs, kText, usage);
}

QString percentText(const Usage &usage)
{
    return Summary::number(usage.percent(), 3, QStringLiteral("%"));
}

} // namespace

int main(int argc, char *argv[])
{
    BenchStation::preferOffscreen();
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 60;
    const int referenceSeconds = std::max(2, seconds / 4);

    Usage answering;
    if (!answeringStation(app, seconds, &answering))
        return 1;
    std::printf("answering station, idle:        %.3f s CPU on the main thread in %.1f s "
                "(%.3f%%)\n",
                answering.cpuSeconds, answering.wallSeconds, answering.percent());
    std::fflush(stdout);
    // The answering station's poller ticks every 50 ms.
    const Usage bareAnswering =
        measureBareLoop(app, referenceSeconds, {int(LoopbackCheck::kPollInterval.count())});
    std::printf("  empty loop, one 50 ms timer:  %.3f s CPU in %.1f s (%.3f%%), %d ticks\n",
                bareAnswering.cpuSeconds, bareAnswering.wallSeconds, bareAnswering.percent(),
                bareAnswering.events);
    std::fflush(stdout);

    Usage checking;
    if (!checkingStation(app, seconds, true, &checking))
        return 1;
    std::printf("checking station, %d ms probes: %.3f s CPU on the main thread in %.1f s "
                "(%.3f%%), %d exchanges\n",
                kProbeIntervalMs, checking.cpuSeconds, checking.wallSeconds, checking.percent(),
                checking.events);
    std::fflush(stdout);
    // The checking station's probe timer ticks every 100 ms, and its poller
    // every 50 ms while a probe is out.
    const Usage bareChecking = measureBareLoop(
        app, referenceSeconds, {kProbeIntervalMs, int(LoopbackCheck::kPollInterval.count())});
    std::printf("  empty loop, 100 + 50 ms timers: %.3f s CPU in %.1f s (%.3f%%), %d ticks\n",
                bareChecking.cpuSeconds, bareChecking.wallSeconds, bareChecking.percent(),
                bareChecking.events);
    // The same station with its window never shown: what the painting of the
    // statistics and the receive box after every exchange takes.
    Usage unshown;
    if (!checkingStation(app, referenceSeconds, false, &unshown))
        return 1;
    std::printf("  the same, window not shown:   %.3f s CPU in %.1f s (%.3f%%), %d exchanges\n",
                unshown.cpuSeconds, unshown.wallSeconds, unshown.percent(), unshown.events);

    const QString target = QStringLiteral("< %1 % of a core").arg(kTargetPercent, 0, 'f', 1);
    Summary::print(QStringLiteral("idle answering station, %1 s: main-thread CPU").arg(seconds),
                   percentText(answering), target,
                   QStringLiteral("empty loop, 50 ms timer: ") + percentText(bareAnswering),
                   Summary::judge(answering.percent() < kTargetPercent));
    Summary::print(QStringLiteral("checking station %1 ms vs echo, %2 s: main-thread CPU")
                       .arg(kProbeIntervalMs)
                       .arg(seconds),
                   percentText(checking) + QStringLiteral(" (%1 exchanges)").arg(checking.events),
                   target,
                   QStringLiteral("empty loop, 100+50 ms timers: ") + percentText(bareChecking),
                   Summary::judge(checking.percent() < kTargetPercent));
    return 0;
}
