// Start-up time and memory of a window program against a reference, run in
// turns: each run starts the program with COMMCHECK_REPORT_SHOWN set, takes
// the monotonic clock just before exec and the time the program reports its
// window first shown ("shown <ns>", see app/main.cpp), waits one second more
// and reads the program's resident memory (VmRSS), then ends it. Needs a
// display; bench/startup.sh provides one.
//
//   bench_startup <program> <reference program> [runs]   (default 10 runs)
#include "Summary.h"

#include <QList>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kShownLimitMs = 30000; // a start-up slower than this is a failure
constexpr int kExitLimitMs = 5000;
constexpr double kStartupTarget = 1.20; // times the reference's
constexpr double kMemoryTargetMB = 10;

struct Launch {
    bool ok = false;
    double startupMs = 0;
    double rssMB = 0;
    std::string error;
};

qint64 monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// VmRSS of `pid` in MB (10^6 bytes), or a negative value.
double residentMB(pid_t pid)
{
    const std::string path = "/proc/" + std::to_string(pid) + "/status";
    FILE *status = std::fopen(path.c_str(), "r");
    if (status == nullptr)
        return -1;
    char line[256];
    double mb = -1;
    while (std::fgets(line, sizeof line, status) != nullptr) {
        long long kb = 0;
        if (std::sscanf(line, "VmRSS: %lld kB", &kb) == 1) {
            mb = double(kb) * 1024.0 / 1e6;
            break;
        }
    }
    std::fclose(status);
    return mb;
}

// Ends `pid` and reaps it, by force if it does not go within the limit.
void endProcess(pid_t pid)
{
    ::kill(pid, SIGTERM);
    const qint64 deadline = monotonicNs() + qint64(kExitLimitMs) * 1000000;
    while (monotonicNs() < deadline) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        ::usleep(10000);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

// Reads lines from `fd` until one starts with `word`; its number, or -1 when
// the deadline passes or the stream ends first.
qint64 awaitNumber(int fd, const char *word, std::string &pending, qint64 deadlineNs)
{
    const std::string prefix = std::string(word) + ' ';
    for (;;) {
        std::size_t newline;
        while ((newline = pending.find('\n')) != std::string::npos) {
            const std::string line = pending.substr(0, newline);
            pending.erase(0, newline + 1);
            if (line.compare(0, prefix.size(), prefix) == 0)
                return std::atoll(line.c_str() + prefix.size());
        }
        const qint64 left = deadlineNs - monotonicNs();
        if (left <= 0)
            return -1;
        pollfd entry{fd, POLLIN, 0};
        const int ready = ::poll(&entry, 1, int(left / 1000000) + 1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return -1;
        char buffer[512];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return -1;
        pending.append(buffer, std::size_t(n));
    }
}

Launch launchOnce(const char *program)
{
    Launch result;
    int out[2];
    if (::pipe2(out, O_CLOEXEC) == -1) {
        result.error = std::string("pipe: ") + std::strerror(errno);
        return result;
    }
    const pid_t pid = ::fork();
    if (pid == -1) {
        result.error = std::string("fork: ") + std::strerror(errno);
        ::close(out[0]);
        ::close(out[1]);
        return result;
    }
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::setenv("COMMCHECK_REPORT_SHOWN", "1", 1);
        ::dprintf(STDOUT_FILENO, "exec %lld\n", static_cast<long long>(monotonicNs()));
        ::execl(program, program, static_cast<char *>(nullptr));
        ::dprintf(STDERR_FILENO, "bench_startup: cannot run %s: %s\n", program,
                  std::strerror(errno));
        ::_exit(127);
    }
    ::close(out[1]);

    std::string pending;
    const qint64 deadline = monotonicNs() + qint64(kShownLimitMs) * 1000000;
    const qint64 started = awaitNumber(out[0], "exec", pending, deadline);
    const qint64 shown = started < 0 ? -1 : awaitNumber(out[0], "shown", pending, deadline);
    if (shown < 0) {
        result.error = std::string(program) + " reported no shown window within " +
                       std::to_string(kShownLimitMs) + " ms";
    } else {
        result.startupMs = double(shown - started) / 1e6;
        const qint64 readAt = shown + 1000000000;
        const timespec until{time_t(readAt / 1000000000), long(readAt % 1000000000)};
        while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
        }
        result.rssMB = residentMB(pid);
        if (result.rssMB < 0)
            result.error = std::string(program) + " was gone before its memory was read";
        else
            result.ok = true;
    }
    endProcess(pid);
    ::close(out[0]);
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_startup <program> <reference program> [runs]\n");
        return 2;
    }
    const char *const programs[2] = {argv[1], argv[2]};
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 10;
    QList<double> startup[2];
    QList<double> memory[2];

    // One start of each first, unmeasured: it fills the file cache.
    for (const char *program : programs) {
        const Launch warmUp = launchOnce(program);
        if (!warmUp.ok) {
            std::fprintf(stderr, "bench_startup: %s\n", warmUp.error.c_str());
            return 1;
        }
    }
    std::printf("start-up to window shown, and resident memory 1 s later; %d runs in turns\n",
                runs);
    const QString names[2] = {QString::fromLocal8Bit(programs[0]).section(u'/', -1),
                              QString::fromLocal8Bit(programs[1]).section(u'/', -1)};
    std::printf("  %-6s %14s %10s %14s %10s\n", "run", qPrintable(names[0] + QStringLiteral(" ms")),
                "MB", qPrintable(names[1] + QStringLiteral(" ms")), "MB");
    for (int run = 0; run < runs; ++run) {
        Launch launches[2];
        // Which one goes first alternates, so that neither always follows the other.
        for (int k = 0; k < 2; ++k) {
            const int which = (run + k) % 2;
            launches[which] = launchOnce(programs[which]);
            if (!launches[which].ok) {
                std::fprintf(stderr, "bench_startup: %s\n", launches[which].error.c_str());
                return 1;
            }
            startup[which].append(launches[which].startupMs);
            memory[which].append(launches[which].rssMB);
        }
        std::printf("  %-6d %14.1f %10.1f %14.1f %10.1f\n", run + 1, launches[0].startupMs,
                    launches[0].rssMB, launches[1].startupMs, launches[1].rssMB);
    }

    const double ours = Summary::median(startup[0]);
    const double bare = Summary::median(startup[1]);
    const double oursMB = Summary::median(memory[0]);
    const double bareMB = Summary::median(memory[1]);
    std::printf("  %-6s %14.1f %10.1f %14.1f %10.1f\n", "median", ours, oursMB, bare, bareMB);
    const QString runsText = QString::number(runs);
    Summary::print(QStringLiteral("start-up to window shown, median of %1").arg(runsText),
                   Summary::number(ours, 1, QStringLiteral("ms")) +
                       QStringLiteral(" (%1x)").arg(ours / bare, 0, 'f', 2),
                   QStringLiteral("<= %1x bare").arg(kStartupTarget, 0, 'f', 2),
                   QStringLiteral("bare window ") + Summary::number(bare, 1, QStringLiteral("ms")),
                   Summary::judge(ours <= kStartupTarget * bare));
    Summary::print(QStringLiteral("resident memory 1 s after shown, median of %1").arg(runsText),
                   Summary::number(oursMB, 1, QStringLiteral("MB")) +
                       QStringLiteral(" (%1%2 MB)")
                           .arg(oursMB >= bareMB ? QStringLiteral("+") : QString())
                           .arg(oursMB - bareMB, 0, 'f', 1),
                   QStringLiteral("<= bare + %1 MB").arg(kMemoryTargetMB, 0, 'f', 0),
                   QStringLiteral("bare window ") +
                       Summary::number(bareMB, 1, QStringLiteral("MB")),
                   Summary::judge(oursMB <= bareMB + kMemoryTargetMB));
    return 0;
}
