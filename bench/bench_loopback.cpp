// Loop-back benchmark: a checking station on the real timers, clock and
// serial port layer against a far end that echoes every byte at once, over a
// pseudo-terminal. Prints the measured response times and the probe spacing.
//
//   bench_loopback [probes] [interval_ms]      (default 200 probes at 100 ms)
#include "BenchStation.h"
#include "ExchangeRecord.h"
#include "Summary.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char *argv[])
{
    BenchStation::preferOffscreen();
    QApplication app(argc, argv);
    const int probes = argc > 1 ? std::max(1, atoi(argv[1])) : 200;
    const int intervalMs = argc > 2 ? std::max(1, atoi(argv[2])) : 100;

    BenchStation bench("bench_loopback", BenchStation::FarEnd::Echo);
    if (!bench.open(false))
        return 1;
    TestWindow &station = bench.window();

    int completed = 0;
    std::vector<qint64> probeTimes; // ns since start, when each probe went out
    QElapsedTimer clock;
    clock.start();
    LoopbackCheck &check = station.form->check();
    QObject::connect(&check, &LoopbackCheck::probeSent,
                     [&] { probeTimes.push_back(clock.nsecsElapsed()); });
    QObject::connect(&check, &LoopbackCheck::exchangeCompleted, [&] {
        if (++completed >= probes)
            app.quit();
    });

    // The send button's own copy comes back too; let it settle before the
    // check starts so that every probe is timed on its own echo.
    Controls::setBoxText(station.c().sendText, QStringLiteral("ABC[13]"));
    station.form->controls().portButtons[Form1::Send]->click();
    QTimer::singleShot(200, [&] {
        station.form->port().input();
        station.c().checkEnabled->setChecked(true);
        station.c().interval->setText(QString::number(intervalMs));
        station.form->controls().startButton->click();
    });
    QTimer::singleShot(probes * intervalMs * 2 + 5000, &app, &QApplication::quit);
    app.exec();

    // The response times as the window's chart has them.
    const ExchangeRecord::Figures &times = station.form->record().figures();
    if (times.count == 0) {
        std::fprintf(stderr, "bench_loopback: no exchange completed\n");
        return 1;
    }
    double spacing = 0;
    if (probeTimes.size() > 1)
        spacing =
            double(probeTimes.back() - probeTimes.front()) / 1e6 / double(probeTimes.size() - 1);

    std::printf("loop-back: %llu exchanges at a %d ms interval, poll every %lld ms\n",
                static_cast<unsigned long long>(times.count), intervalMs,
                static_cast<long long>(LoopbackCheck::kPollInterval.count()));
    std::printf("  response median     %8.3f ms\n", times.p50);
    std::printf("  response p95        %8.3f ms\n", times.p95);
    std::printf("  response max        %8.3f ms\n", times.max);
    std::printf("  response min        %8.3f ms\n", times.min);
    std::printf("  probe spacing mean  %8.3f ms (%+.3f%% of the interval)\n", spacing,
                (spacing - intervalMs) / intervalMs * 100.0);
    std::printf("  errors              %8.0f\n",
                double(station.check().statistics()[Statistics::Errors]));
    Summary::print(QStringLiteral("loop-back response, median of %1").arg(times.count),
                   Summary::number(times.p50, 3, QStringLiteral("ms")), QString(),
                   QStringLiteral("poll interval %1 ms").arg(LoopbackCheck::kPollInterval.count()),
                   Summary::Status::NoTarget);
    Summary::print(QStringLiteral("loop-back probe spacing error"),
                   QString::asprintf("%+.3f%%", (spacing - intervalMs) / intervalMs * 100.0),
                   QString(), QStringLiteral("interval %1 ms").arg(intervalMs),
                   Summary::Status::NoTarget);
    return times.count >= std::uint64_t(probes) ? 0 : 1;
}
