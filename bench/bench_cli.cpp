// commcheck-cli's own figures, measured from outside as a shell would see
// them, on pseudo-terminals:
//  - start-up: from just before the program is started until its first probe
//    reaches the far end of the line (median of runs);
//  - resident memory (VmRSS) after a few seconds of a check against an echo;
//  - the round trip --precise measures against an immediate echo, read from
//    its log, beside the poll-based one.
//
//   bench_cli <commcheck-cli> [runs]      (default 10 start-up runs)
#include "CliProcess.h"
#include "NullModemCable.h"
#include "PtyPair.h"
#include "Summary.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <unistd.h>
#include <vector>

namespace {

using CliProcess::finish;
using CliProcess::percentile;
using CliProcess::start;

constexpr int kIntervalMs = 20;
constexpr double kPreciseTargetMs = 1.0;
constexpr int kMemorySeconds = 3;

// VmRSS of `pid` in MB (10^6 bytes), or a negative value.
double residentMB(pid_t pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() * 1024.0 / 1e6;
    }
    return -1;
}

// Milliseconds from the start of the program until its first probe arrives.
double startupToFirstProbe(const char *program)
{
    PtyPair line;
    if (!line.isValid())
        return -1;
    return CliProcess::startToArrival(program,
                                      {QStringLiteral("check"), line.slavePath(),
                                       QStringLiteral("--text"), QStringLiteral("ABC[13]")},
                                      [&line]() -> qint64 {
                                          pollfd far{line.masterFd(), POLLIN, 0};
                                          return ::poll(&far, 1, CliProcess::kLimitMs) == 1
                                                     ? CliProcess::monotonicNs()
                                                     : -1;
                                      });
}

// A check of `count` probes against an immediate echo; its ok times, sorted.
std::vector<double> checkTimes(const char *program, int count, bool precise, const QString &log)
{
    NullModemCable echo(NullModemCable::Echo);
    if (!echo.isValid())
        return {};
    return CliProcess::checkTimes(program, echo.endA(), count, kIntervalMs, precise, log);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_cli <commcheck-cli> [runs]\n");
        return 2;
    }
    const char *program = argv[1];
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;

    // Start-up to the first probe; one unmeasured start fills the file cache.
    if (startupToFirstProbe(program) < 0) {
        std::fprintf(stderr, "bench_cli: no first probe arrived\n");
        return 1;
    }
    std::vector<double> startups;
    std::printf("commcheck-cli check: start to first probe at the far end, %d runs\n", runs);
    for (int run = 0; run < runs; ++run) {
        const double ms = startupToFirstProbe(program);
        if (ms < 0) {
            std::fprintf(stderr, "bench_cli: no first probe arrived\n");
            return 1;
        }
        startups.push_back(ms);
        std::printf("  run %-3d %8.1f ms\n", run + 1, ms);
    }
    const double startup = Summary::median(startups);
    std::printf("  median  %8.1f ms\n", startup);

    // Resident memory while a check runs against an echo.
    double rss = -1;
    {
        NullModemCable echo(NullModemCable::Echo);
        const pid_t pid =
            echo.isValid() ? start(program, {QStringLiteral("check"), echo.endA(),
                                             QStringLiteral("--text"), QStringLiteral("ABC[13]"),
                                             QStringLiteral("--interval"), QStringLiteral("100")})
                           : -1;
        if (pid > 0) {
            ::sleep(kMemorySeconds);
            rss = residentMB(pid);
            finish(pid, true);
        }
    }
    if (rss < 0) {
        std::fprintf(stderr, "bench_cli: no check to read the memory of\n");
        return 1;
    }
    std::printf("commcheck-cli check at 100 ms against an echo: VmRSS %.1f MB after %d s\n", rss,
                kMemorySeconds);

    // Round trip against an immediate echo, precise and polled.
    const QString log = dir.filePath(QStringLiteral("times.csv"));
    const std::vector<double> precise = checkTimes(program, 200, true, log);
    const std::vector<double> polled = checkTimes(program, 50, false, log);
    if (precise.size() < 200 || polled.size() < 50) {
        std::fprintf(stderr, "bench_cli: a check against the echo did not complete\n");
        return 1;
    }
    std::printf("commcheck-cli check --precise, %zu probes at 20 ms against an echo:\n",
                precise.size());
    std::printf("  median %8.3f ms  p95 %8.3f ms  p99 %8.3f ms  max %8.3f ms  min %8.3f ms\n",
                percentile(precise, 50), percentile(precise, 95), percentile(precise, 99),
                precise.back(), precise.front());
    std::printf("the same without --precise, %zu probes:\n", polled.size());
    std::printf("  median %8.3f ms  p95 %8.3f ms  max %8.3f ms\n", percentile(polled, 50),
                percentile(polled, 95), polled.back());

    Summary::print(QStringLiteral("CLI start-up to first probe, median of %1").arg(runs),
                   Summary::number(startup, 1, QStringLiteral("ms")), QString(), QString(),
                   Summary::Status::NoTarget);
    Summary::print(QStringLiteral("CLI resident memory, %1 s into a check").arg(kMemorySeconds),
                   Summary::number(rss, 1, QStringLiteral("MB")), QString(), QString(),
                   Summary::Status::NoTarget);
    const double preciseMedian = percentile(precise, 50);
    Summary::print(
        QStringLiteral("CLI --precise round trip, pty echo, median of %1").arg(precise.size()),
        Summary::number(preciseMedian, 3, QStringLiteral("ms")),
        QStringLiteral("< %1 ms").arg(kPreciseTargetMs, 0, 'f', 0),
        QStringLiteral("polled ") +
            Summary::number(percentile(polled, 50), 3, QStringLiteral("ms")),
        Summary::judge(preciseMedian < kPreciseTargetMs));
    return 0;
}
