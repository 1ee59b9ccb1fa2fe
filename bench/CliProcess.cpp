#include "CliProcess.h"

#include "Percentile.h"

#include <QFile>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace CliProcess {

qint64 monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

pid_t start(const char *program, const QStringList &arguments)
{
    std::vector<std::string> storage{program};
    for (const QString &a : arguments)
        storage.push_back(a.toStdString());
    std::vector<char *> argv;
    for (std::string &s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, program, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        std::fprintf(stderr, "cannot start %s: %s\n", program, std::strerror(failed));
        return -1;
    }
    return pid;
}

int finish(pid_t pid, bool stopFirst)
{
    if (stopFirst)
        ::kill(pid, SIGTERM);
    const qint64 deadline = monotonicNs() + qint64(kLimitMs) * 1000000;
    int status = 0;
    while (monotonicNs() < deadline) {
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        ::usleep(5000);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return -1;
}

double startToArrival(const char *program, const QStringList &arguments,
                      const std::function<qint64()> &arrival)
{
    const qint64 before = monotonicNs();
    const pid_t pid = start(program, arguments);
    if (pid < 0)
        return -1;
    const qint64 arrived = arrival();
    finish(pid, true);
    return arrived >= 0 ? double(arrived - before) / 1e6 : -1;
}

std::vector<double> okTimes(const QString &logPath)
{
    QFile log(logPath);
    std::vector<double> times;
    if (!log.open(QIODevice::ReadOnly))
        return times;
    for (const QByteArray &line : log.readAll().split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split(',');
        if (fields.size() == 5 && fields[3] == "ok")
            times.push_back(fields[2].toDouble());
    }
    return times;
}

std::vector<double> checkTimes(const char *program, const QString &port, int count, int intervalMs,
                               bool precise, const QString &log)
{
    QStringList arguments = {QStringLiteral("check"),      port,
                             QStringLiteral("--text"),     QStringLiteral("ABC[13]"),
                             QStringLiteral("--interval"), QString::number(intervalMs),
                             QStringLiteral("--count"),    QString::number(count),
                             QStringLiteral("--log"),      log};
    if (precise)
        arguments << QStringLiteral("--precise");
    QFile::remove(log);
    const pid_t pid = start(program, arguments);
    if (pid < 0)
        return {};
    const int status = finish(pid, false);
    if (status != 0) {
        std::fprintf(stderr, "commcheck-cli check %s ended with status %d\n", qPrintable(port),
                     status);
        return {};
    }
    std::vector<double> times = okTimes(log);
    std::sort(times.begin(), times.end());
    return times;
}

double percentile(std::vector<double> times, double p)
{
    return Percentile::exact(times, {&p, 1}).front();
}

} // namespace CliProcess
