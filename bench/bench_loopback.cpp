// Loop-back benchmark: a checking station on the real timers, clock and
// serial port layer against a far end that echoes every byte at once, over a
// pseudo-terminal. Prints the measured response times and the probe spacing.
//
//   bench_loopback [probes] [interval_ms]      (default 200 probes at 100 ms)
#include "NullModemCable.h"
#include "PortFolder.h"
#include "Summary.h"
#include "TestWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double percentile(std::vector<double> sorted, double p)
{
    if (sorted.empty())
        return 0;
    const double rank = p * double(sorted.size() - 1);
    const auto low = std::size_t(rank);
    const std::size_t high = std::min(low + 1, sorted.size() - 1);
    return sorted[low] + (sorted[high] - sorted[low]) * (rank - double(low));
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int probes = argc > 1 ? std::max(1, atoi(argv[1])) : 200;
    const int intervalMs = argc > 2 ? std::max(1, atoi(argv[2])) : 100;

    PortFolder folder;
    NullModemCable echo(NullModemCable::Echo);
    if (!folder.isValid() || !echo.isValid() || !folder.map(1, echo.endA())) {
        std::fprintf(stderr, "bench_loopback: no virtual cable: %s\n", qPrintable(echo.error()));
        return 1;
    }

    TestWindow station(TestWindow::Real);
    if (!station.open(1)) {
        std::fprintf(stderr, "bench_loopback: cannot open the port: %s\n",
                     qPrintable(station.form->port().errorString()));
        return 1;
    }

    std::vector<double> times;      // ms, as the station measured them
    std::vector<qint64> probeTimes; // ns since start, when each probe went out
    QElapsedTimer clock;
    clock.start();
    LoopbackCheck &check = station.form->check();
    QObject::connect(&check, &LoopbackCheck::probeSent,
                     [&] { probeTimes.push_back(clock.nsecsElapsed()); });
    QObject::connect(&check, &LoopbackCheck::exchangeCompleted, [&] {
        times.push_back(double(station.check().statistics()[Statistics::LastTime]) * 1000.0);
        if (int(times.size()) >= probes)
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

    if (times.empty()) {
        std::fprintf(stderr, "bench_loopback: no exchange completed\n");
        return 1;
    }
    std::vector<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    double spacing = 0;
    if (probeTimes.size() > 1)
        spacing =
            double(probeTimes.back() - probeTimes.front()) / 1e6 / double(probeTimes.size() - 1);

    std::printf("loop-back: %zu exchanges at a %d ms interval, poll every %lld ms\n", times.size(),
                intervalMs, static_cast<long long>(LoopbackCheck::kPollInterval.count()));
    std::printf("  response median     %8.3f ms\n", percentile(sorted, 0.5));
    std::printf("  response p95        %8.3f ms\n", percentile(sorted, 0.95));
    std::printf("  response max        %8.3f ms\n", sorted.back());
    std::printf("  response min        %8.3f ms\n", sorted.front());
    std::printf("  probe spacing mean  %8.3f ms (%+.3f%% of the interval)\n", spacing,
                (spacing - intervalMs) / intervalMs * 100.0);
    std::printf("  errors              %8.0f\n",
                double(station.check().statistics()[Statistics::Errors]));
    Summary::print(QStringLiteral("loop-back response, median of %1").arg(times.size()),
                   Summary::number(percentile(sorted, 0.5), 3, QStringLiteral("ms")), QString(),
                   QStringLiteral("poll interval %1 ms").arg(LoopbackCheck::kPollInterval.count()),
                   Summary::Status::NoTarget);
    Summary::print(QStringLiteral("loop-back probe spacing error"),
                   QString::asprintf("%+.3f%%", (spacing - intervalMs) / intervalMs * 100.0),
                   QString(), QStringLiteral("interval %1 ms").arg(intervalMs),
                   Summary::Status::NoTarget);
    return int(times.size()) >= probes ? 0 : 1;
}
