// One commcheck-cli monitor watching 64 lines at once, measured from outside
// over a minute, on pseudo-terminals whose far ends send each probe back at
// once and note when it came:
//  - the processor time of the whole monitor process (utime + stime from
//    /proc/PID/stat, every thread) as a share of one core;
//  - its peak resident memory (VmHWM, read at the end: the scrapes below
//    included);
//  - the spacing of the probes as the far ends see it: per line the mean of
//    the gaps between arrivals against the 1 s interval, the worst line's
//    deviation, and the longest single gap of any line.
// The minute starts once every line has had its first probe. Then, with
// the monitor still running:
//  - /metrics of the 64 lines scraped 200 times one after the other, each
//    from its connect to the end of its answer;
//  - storms of 1000 scrapes, 50 at once, one after the other for
//    kStormSeconds, and the probe spacing of every line meanwhile, as above.
//
//   bench_monitor <commcheck-cli> [seconds]      (default 60)
#include "CliProcess.h"
#include "EchoFarEnd.h"
#include "ScrapeStorm.h"
#include "Summary.h"

#include <QCoreApplication>
#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kLines = 64;
constexpr double kIntervalMs = 1000;
// A probe that starts less than this after the last byte of the one before
// is the same probe, come in pieces.
constexpr int kQuietMs = 300;
constexpr double kCpuTargetPercent = 5;
constexpr double kMemoryTargetMB = 40;
constexpr double kSpacingTargetPercent = 1;
constexpr double kScrapeTargetMs = 5;
constexpr int kStormSeconds = 20;

// utime + stime of `pid` in seconds, or a negative value.
double processorSeconds(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // The name in parentheses may hold spaces; the fields after it are
    // state (3), ..., utime (14), stime (15).
    const qsizetype close = text.lastIndexOf(')');
    if (close < 0)
        return -1;
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    const double ticks = fields[11].toDouble() + fields[12].toDouble();
    return ticks / double(::sysconf(_SC_CLK_TCK));
}

// VmHWM of `pid` in MB (10^6 bytes), or a negative value.
double peakResidentMB(pid_t pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() * 1024.0 / 1e6;
    }
    return -1;
}

// True while `pid` runs; once it has ended, false, with its exit status
// (-1 when a signal ended it) in `status`.
bool running(pid_t pid, int &status)
{
    int raw = 0;
    if (::waitpid(pid, &raw, WNOHANG) != pid)
        return true;
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return false;
}

QString sectionName(int line)
{
    return QStringLiteral("line-%1").arg(line + 1, 2, 10, QLatin1Char('0'));
}

// The monitor's file: one section per far end, each probed every second,
// given up after 500 ms, its reply taken the moment it is complete.
bool writeConfig(const QString &path, const std::vector<std::unique_ptr<EchoFarEnd>> &ends)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray text;
    for (size_t i = 0; i < ends.size(); ++i) {
        text += '[' + sectionName(int(i)).toUtf8() + "]\n";
        text += "port = " + ends[i]->device().toUtf8() + '\n';
        text += "text = ABC[13]\ninterval = 1s\ntimeout = 500ms\nprecise = true\n\n";
    }
    return file.write(text) == text.size();
}

struct Spacing {
    double worstDeviationPercent = 0; // of the mean gap from the interval
    QString worstLine;
    double worstMeanMs = 0;
    double longestGapMs = 0;
    QString longestLine;
    qsizetype fewestGaps = -1;
};

// The gaps between the arrivals at each far end from `fromNs` to `toNs`.
Spacing spacing(const std::vector<std::unique_ptr<EchoFarEnd>> &ends, qint64 fromNs, qint64 toNs)
{
    Spacing found;
    for (size_t i = 0; i < ends.size(); ++i) {
        std::vector<qint64> times = ends[i]->arrivals();
        std::erase_if(times, [&](qint64 t) { return t < fromNs || t > toNs; });
        const qsizetype gaps = qsizetype(times.size()) - 1;
        if (found.fewestGaps < 0 || gaps < found.fewestGaps)
            found.fewestGaps = gaps;
        if (gaps < 1)
            continue;
        const double meanMs = double(times.back() - times.front()) / 1e6 / double(gaps);
        const double deviation = std::abs(meanMs - kIntervalMs) / kIntervalMs * 100;
        if (found.worstLine.isEmpty() || deviation > found.worstDeviationPercent) {
            found.worstDeviationPercent = deviation;
            found.worstLine = sectionName(int(i));
            found.worstMeanMs = meanMs;
        }
        for (size_t k = 1; k < times.size(); ++k) {
            const double gapMs = double(times[k] - times[k - 1]) / 1e6;
            if (gapMs > found.longestGapMs) {
                found.longestGapMs = gapMs;
                found.longestLine = sectionName(int(i));
            }
        }
    }
    return found;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_monitor <commcheck-cli> [seconds]\n");
        return 2;
    }
    const char *program = argv[1];
    const int seconds = argc > 2 ? std::max(5, std::atoi(argv[2])) : 60;
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "bench_monitor: no scratch folder\n");
        return 1;
    }

    std::vector<std::unique_ptr<EchoFarEnd>> ends;
    for (int i = 0; i < kLines; ++i) {
        ends.push_back(std::make_unique<EchoFarEnd>());
        if (!ends.back()->isValid()) {
            std::fprintf(stderr, "bench_monitor: far end %d: %s\n", i + 1,
                         qPrintable(ends.back()->error()));
            return 1;
        }
        ends.back()->recordArrivals(kQuietMs);
    }
    const QString config = dir.filePath(QStringLiteral("monitor.conf"));
    if (!writeConfig(config, ends)) {
        std::fprintf(stderr, "bench_monitor: cannot write %s\n", qPrintable(config));
        return 1;
    }

    // A port free a moment ago, for the monitor's metrics.
    quint16 metricsPort = 0;
    {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, 0)) {
            std::fprintf(stderr, "bench_monitor: no free port for the metrics\n");
            return 1;
        }
        metricsPort = probe.serverPort();
    }
    const pid_t pid = CliProcess::start(program, {QStringLiteral("monitor"), config,
                                                  QStringLiteral("--metrics-listen"),
                                                  QStringLiteral("127.0.0.1:%1").arg(metricsPort)});
    if (pid < 0)
        return 1;
    int status = 0;
    // Every line's first probe, within the usual limit.
    const qint64 firstDeadline = CliProcess::monotonicNs() + qint64(CliProcess::kLimitMs) * 1000000;
    auto allProbed = [&ends] {
        return std::all_of(ends.begin(), ends.end(),
                           [](const auto &end) { return !end->arrivals().empty(); });
    };
    while (!allProbed()) {
        if (!running(pid, status)) {
            std::fprintf(stderr, "bench_monitor: commcheck-cli monitor ended with status %d\n",
                         status);
            return 1;
        }
        if (CliProcess::monotonicNs() > firstDeadline) {
            std::fprintf(stderr, "bench_monitor: not every line was probed within %d ms\n",
                         CliProcess::kLimitMs);
            CliProcess::finish(pid, true);
            return 1;
        }
        ::usleep(20000);
    }

    std::printf("commcheck-cli monitor, %d lines on pseudo-terminals with echoing far ends, "
                "ABC[13] every 1 s, --precise, watched %d s\n",
                kLines, seconds);
    const qint64 fromNs = CliProcess::monotonicNs();
    const double cpuBefore = processorSeconds(pid);
    for (int s = 0; s < seconds; ++s) {
        ::sleep(1);
        if (!running(pid, status)) {
            std::fprintf(stderr,
                         "bench_monitor: commcheck-cli monitor ended with status %d "
                         "after %d s\n",
                         status, s + 1);
            return 1;
        }
    }
    const qint64 toNs = CliProcess::monotonicNs();
    const double cpuAfter = processorSeconds(pid);

    // Scrapes of the running monitor: one at a time, then storms.
    const ScrapeStorm scrapes(QStringLiteral("127.0.0.1"), metricsPort);
    const ScrapeStorm::Result single = scrapes.run(200, 1);
    const qint64 stormFromNs = CliProcess::monotonicNs();
    int stormRequests = 0;
    int stormAnswered = 0;
    QStringList stormFailures;
    while (CliProcess::monotonicNs() - stormFromNs < qint64(kStormSeconds) * 1000000000) {
        const ScrapeStorm::Result storm = scrapes.run(1000, 50);
        stormRequests += 1000;
        stormAnswered += storm.statuses.value(200);
        stormFailures += storm.failures;
    }
    const qint64 stormToNs = CliProcess::monotonicNs();
    const double peakMB = peakResidentMB(pid);
    const int exitStatus = CliProcess::finish(pid, true);
    if (cpuBefore < 0 || cpuAfter < 0 || peakMB < 0) {
        std::fprintf(stderr, "bench_monitor: cannot read the monitor's /proc entries\n");
        return 1;
    }
    if (exitStatus != 0) {
        std::fprintf(stderr,
                     "bench_monitor: commcheck-cli monitor ended with status %d on "
                     "SIGTERM, not 0\n",
                     exitStatus);
        return 1;
    }

    const double wallSeconds = double(toNs - fromNs) / 1e9;
    const double cpuPercent = (cpuAfter - cpuBefore) / wallSeconds * 100;
    const Spacing found = spacing(ends, fromNs, toNs);
    if (found.fewestGaps < seconds / 2) {
        std::fprintf(stderr, "bench_monitor: a line had %lld gaps between probes in %d s\n",
                     static_cast<long long>(found.fewestGaps), seconds);
        return 1;
    }
    if (single.statuses.value(200) != 200 || stormAnswered != stormRequests) {
        std::fprintf(stderr,
                     "bench_monitor: scrapes of the monitor not all answered 200: %d of 200 "
                     "one at a time, %d of %d in the storms; %s\n",
                     single.statuses.value(200), stormAnswered, stormRequests,
                     qPrintable(stormFailures.value(0)));
        return 1;
    }
    std::vector<double> scrapeMs(single.milliseconds.begin(), single.milliseconds.end());
    const double scrapeMedianMs = CliProcess::percentile(scrapeMs, 50);
    const double scrapeLongestMs = *std::max_element(scrapeMs.begin(), scrapeMs.end());
    const Spacing stormed = spacing(ends, stormFromNs, stormToNs);

    std::printf("  processor time  %.2f s of %.1f s: %.2f %% of a core\n", cpuAfter - cpuBefore,
                wallSeconds, cpuPercent);
    std::printf("  peak resident   %.1f MB (VmHWM)\n", peakMB);
    std::printf("  probe spacing   worst line %s: mean gap %.2f ms (%.3f %% off 1 s); "
                "longest gap %.1f ms (%s); fewest gaps on a line %lld\n",
                qPrintable(found.worstLine), found.worstMeanMs, found.worstDeviationPercent,
                found.longestGapMs, qPrintable(found.longestLine),
                static_cast<long long>(found.fewestGaps));

    Summary::print(QStringLiteral("monitor, %1 lines at 1 s: processor time").arg(kLines),
                   Summary::number(cpuPercent, 2, QStringLiteral("% of a core")),
                   QStringLiteral("<= %1 %").arg(kCpuTargetPercent),
                   QStringLiteral("utime+stime over %1 s").arg(seconds),
                   Summary::judge(cpuPercent <= kCpuTargetPercent));
    Summary::print(QStringLiteral("monitor, %1 lines: peak resident memory").arg(kLines),
                   Summary::number(peakMB, 1, QStringLiteral("MB")),
                   QStringLiteral("<= %1 MB").arg(kMemoryTargetMB),
                   QStringLiteral("VmHWM, the scrape storms included"),
                   Summary::judge(peakMB <= kMemoryTargetMB));
    Summary::print(
        QStringLiteral("monitor, %1 lines: mean probe spacing, worst line off 1 s").arg(kLines),
        Summary::number(found.worstDeviationPercent, 3, QStringLiteral("%")),
        QStringLiteral("<= %1 %").arg(kSpacingTargetPercent),
        QStringLiteral("longest gap ") +
            Summary::number(found.longestGapMs, 1, QStringLiteral("ms")),
        Summary::judge(found.worstDeviationPercent <= kSpacingTargetPercent));

    std::printf("  scrapes         one at a time: median %.3f ms, longest %.3f ms, body %lld "
                "bytes\n",
                scrapeMedianMs, scrapeLongestMs, static_cast<long long>(single.bodySizes.value(0)));
    std::printf("  during storms   %d scrapes 50 at once in %.1f s; worst line %s: mean gap "
                "%.2f ms (%.3f %% off 1 s); longest gap %.1f ms (%s)\n",
                stormRequests, double(stormToNs - stormFromNs) / 1e9, qPrintable(stormed.worstLine),
                stormed.worstMeanMs, stormed.worstDeviationPercent, stormed.longestGapMs,
                qPrintable(stormed.longestLine));
    Summary::print(QStringLiteral("monitor, %1 lines: /metrics scrape, median of 200").arg(kLines),
                   Summary::number(scrapeMedianMs, 3, QStringLiteral("ms")),
                   QStringLiteral("<= %1 ms").arg(kScrapeTargetMs),
                   QStringLiteral("longest ") +
                       Summary::number(scrapeLongestMs, 3, QStringLiteral("ms")),
                   Summary::judge(scrapeMedianMs <= kScrapeTargetMs));
    Summary::print(
        QStringLiteral("monitor, %1 lines: mean probe spacing during scrape storms, worst line")
            .arg(kLines),
        Summary::number(stormed.worstDeviationPercent, 3, QStringLiteral("%")),
        QStringLiteral("<= %1 %").arg(kSpacingTargetPercent),
        QStringLiteral("%1 scrapes, 50 at once; longest gap ").arg(stormRequests) +
            Summary::number(stormed.longestGapMs, 1, QStringLiteral("ms")),
        Summary::judge(stormed.worstDeviationPercent <= kSpacingTargetPercent));
    return 0;
}
