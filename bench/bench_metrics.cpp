// The metrics server of `commcheck-cli monitor` with 64 watched lines, each
// tally filled as a day of probing every second leaves it, in this process
// on 127.0.0.1, scraped over real sockets by a client on a thread of its
// own (tests/ScrapeStorm):
//  - one scrape at a time: from the client's connect to the whole answer
//    read (median, 95th percentile, most), and the body's size;
//  - the text alone, rendered in this thread (median);
//  - scrapes 50 at once while a 10 ms timer runs on the server's thread,
//    the checks' stand-in: how late its ticks came at most.
//
//   bench_metrics [scrapes]      (default 1000)
#include "Exchange.h"
#include "LineTally.h"
#include "MetricsServer.h"
#include "MetricsText.h"
#include "Percentile.h"
#include "ScrapeStorm.h"
#include "Summary.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

constexpr int kLines = 64;
constexpr int kConcurrency = 50;
constexpr double kScrapeTargetMs = 5.0;
constexpr double kRenderTargetMs = 1.0;
constexpr double kTickLateTargetMs = 50.0;
constexpr int kTickMs = 10;

// The p-th percentile by nearest rank, as the programs print theirs.
double percentile(std::vector<double> values, double p)
{
    return Percentile::exact(values, {&p, 1}).front();
}

// A day of probing every second: response times spread over the buckets
// as a 9600-baud line's are, a few errors, losses and late replies.
void fillDay(LineTally &tally, int line)
{
    const qint64 start = 1765249000000 + line;
    for (int second = 0; second < 86400; ++second) {
        Exchange exchange;
        exchange.at = QDateTime::fromMSecsSinceEpoch(start + second * 1000LL, Qt::UTC);
        const int kind = (second * 7919 + line * 104729) % 10000;
        if (kind < 3)
            exchange.outcome = Exchange::Outcome::Error;
        else if (kind < 8)
            exchange.outcome = Exchange::Outcome::Lost;
        exchange.responseMs = 4.0 + double((second * 31 + line) % 400) / 10.0;
        tally.probeSent();
        tally.add(exchange);
        if (kind == 9999) {
            exchange.outcome = Exchange::Outcome::Late;
            tally.add(exchange);
        }
    }
    tally.setUp(line % 16 != 5);
}

// Runs the event loop until `storm` is done.
void waitFor(const ScrapeStorm &storm)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (storm.finished())
            loop.quit();
    });
    poll.start(5);
    loop.exec();
}

int fail(const QString &what)
{
    std::fprintf(stderr, "bench_metrics: %s\n", qPrintable(what));
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int scrapes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;

    std::vector<std::unique_ptr<LineTally>> tallies;
    QList<MetricsText::Line> lines;
    for (int i = 0; i < kLines; ++i) {
        tallies.push_back(std::make_unique<LineTally>());
        fillDay(*tallies.back(), i);
        lines.append(
            {QStringLiteral("press-%1").arg(i + 1, 2, 10, QLatin1Char('0')), tallies.back().get()});
    }
    MetricsServer server([&lines] { return MetricsText::render(lines); });
    if (!server.listen(QStringLiteral("127.0.0.1"), 0))
        return fail(server.errorString());
    const QByteArray body = MetricsText::render(lines);

    // One at a time.
    ScrapeStorm single(QStringLiteral("127.0.0.1"), server.serverPort());
    single.start(scrapes, 1);
    waitFor(single);
    const ScrapeStorm::Result one = single.result();
    if (one.answered() != scrapes || one.statuses.value(200) != scrapes ||
        one.bodies != QSet<QByteArray>{body})
        return fail(QStringLiteral("%1 of %2 scrapes answered 200 with the whole body: %3")
                        .arg(one.statuses.value(200))
                        .arg(scrapes)
                        .arg(one.failures.mid(0, 3).join(QStringLiteral("; "))));
    const std::vector<double> times(one.milliseconds.begin(), one.milliseconds.end());
    const double median = percentile(times, 50);
    const double p95 = percentile(times, 95);
    const double most = *std::max_element(times.begin(), times.end());

    // The text alone.
    std::vector<double> renders;
    for (int i = 0; i < scrapes; ++i) {
        QElapsedTimer timer;
        timer.start();
        const QByteArray text = MetricsText::render(lines);
        renders.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (text.size() != body.size())
            return fail(QStringLiteral("the text changed size"));
    }
    const double renderMedian = percentile(renders, 50);

    // Many at once, beside a timer on this thread.
    QElapsedTimer clock;
    double lateMost = 0;
    qint64 last = -1;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (last >= 0)
            lateMost = std::max(lateMost, double(now - last) / 1e6 - kTickMs);
        last = now;
    });
    clock.start();
    ticker.start(kTickMs);
    ScrapeStorm storm(QStringLiteral("127.0.0.1"), server.serverPort());
    storm.start(scrapes, kConcurrency);
    waitFor(storm);
    ticker.stop();
    const ScrapeStorm::Result many = storm.result();
    if (many.statuses.value(200) != scrapes || many.bodies != QSet<QByteArray>{body})
        return fail(QStringLiteral("%1 of %2 scrapes %3 at once answered 200 with the whole "
                                   "body: %4")
                        .arg(many.statuses.value(200))
                        .arg(scrapes)
                        .arg(kConcurrency)
                        .arg(many.failures.mid(0, 3).join(QStringLiteral("; "))));
    const std::vector<double> manyTimes(many.milliseconds.begin(), many.milliseconds.end());

    std::printf("metrics server, %d lines, body %lld bytes\n", kLines,
                static_cast<long long>(body.size()));
    std::printf("  scrape, one at a time    median %7.3f ms  p95 %7.3f ms  max %7.3f ms\n", median,
                p95, most);
    std::printf("  text rendering alone     median %7.3f ms\n", renderMedian);
    std::printf("  scrape, %d at once       median %7.3f ms  p95 %7.3f ms; a %d ms timer beside "
                "them at most %.1f ms late\n",
                kConcurrency, percentile(manyTimes, 50), percentile(manyTimes, 95), kTickMs,
                lateMost);

    Summary::print(
        QStringLiteral("/metrics scrape for %1 lines, median of %2").arg(kLines).arg(scrapes),
        Summary::number(median, 3, QStringLiteral("ms")),
        QStringLiteral("<= %1 ms").arg(kScrapeTargetMs),
        QStringLiteral("p95 %1 ms, max %2 ms")
            .arg(QString::number(p95, 'f', 3), QString::number(most, 'f', 3)),
        Summary::judge(median <= kScrapeTargetMs));
    Summary::print(QStringLiteral("  of it: the text alone"),
                   Summary::number(renderMedian, 3, QStringLiteral("ms")),
                   QStringLiteral("<= %1 ms").arg(kRenderTargetMs), QString(),
                   Summary::judge(renderMedian <= kRenderTargetMs));
    Summary::print(QStringLiteral("/metrics body for %1 lines").arg(kLines),
                   Summary::number(double(body.size()) / 1024.0, 1, QStringLiteral("KiB")),
                   QString(), QString(), Summary::Status::NoTarget);
    Summary::print(QStringLiteral("%1 ms timer beside %2 scrapes %3 at once, most late")
                       .arg(kTickMs)
                       .arg(scrapes)
                       .arg(kConcurrency),
                   Summary::number(lateMost, 1, QStringLiteral("ms")),
                   QStringLiteral("<= %1 ms").arg(kTickLateTargetMs),
                   QStringLiteral("scrape median %1 ms")
                       .arg(QString::number(percentile(manyTimes, 50), 'f', 3)),
                   Summary::judge(lateMost <= kTickLateTargetMs));
    return 0;
}
