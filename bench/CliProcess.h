#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <sys/types.h>
#include <vector>

// commcheck-cli run from a benchmark as a shell would run it: started, its
// first probe waited for, its log of exchanges read back. What goes wrong is
// said on standard error.
namespace CliProcess {

// How long a run or a wait may take before it is given up.
constexpr int kLimitMs = 30000;

// The monotonic clock, in ns.
qint64 monotonicNs();

// Starts `program` with `arguments`, its output thrown away; -1 on failure.
pid_t start(const char *program, const QStringList &arguments);

// Waits for `pid` to end within kLimitMs, after a SIGTERM if `stopFirst`; its
// exit code, or -1 (killed when it would not end).
int finish(pid_t pid, bool stopFirst);

// Milliseconds from just before `program` is started with `arguments` until
// the first probe came to the far end, or -1. `arrival` waits for it, at most
// kLimitMs, and gives the moment on monotonicNs()'s clock (-1 for none). The
// program is stopped afterwards.
double startToArrival(const char *program, const QStringList &arguments,
                      const std::function<qint64()> &arrival);

// The response times of the ok rows of a check's log, in ms.
std::vector<double> okTimes(const QString &logPath);

// A check of `count` probes of ABC[13] every `intervalMs` on `port`, logged to
// `log`; its ok times, sorted. Empty when the run failed.
std::vector<double> checkTimes(const char *program, const QString &port, int count, int intervalMs,
                               bool precise, const QString &log);

// The p-th percentile of `times` as both programs print it (nearest rank).
double percentile(std::vector<double> times, double p);

} // namespace CliProcess
