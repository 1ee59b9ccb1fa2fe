// commcheck-cli on a line behind a device server: Debian's ser2net on
// 127.0.0.1 in front of a pseudo-terminal that echoes every byte at once,
// the same server and the same far end for every figure:
//  - the round trip check --precise logs over rfc2217://, beside Python's
//    serial library (Debian's python3-serial) doing the same exchange through
//    the same URL;
//  - the same over socket://, beside a plain TCP client written here (write,
//    read until the whole echo is back, TCP_NODELAY);
//  - NetworkPort::open() over rfc2217:// (connection, Telnet options, line
//    settings, purge) until the first probe, written right after it, reaches
//    the far end's pseudo-terminal: in a fresh process each time, as
//    commcheck-cli opens it (this program started again with --open-once),
//    and again within this process;
//  - commcheck-cli check over rfc2217:// from the start of the program to
//    its first probe at the far end, beside the same on the pseudo-terminal
//    directly.
//
//   bench_network <commcheck-cli> [runs]     (default 20 runs of the opens)
#include "CliProcess.h"
#include "EchoFarEnd.h"
#include "LineSettings.h"
#include "NetworkPort.h"
#include "Ser2net.h"
#include "Summary.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>
#include <vector>

#ifndef COMMCHECK_BENCH_DIR
#error COMMCHECK_BENCH_DIR names the folder of python_round_trip.py
#endif

namespace {

constexpr int kRoundTrips = 200;
constexpr int kIntervalMs = 20;
// What every client sends: ABC[13].
const QByteArray kText = QByteArrayLiteral("ABC\r");
constexpr const char *kPython = "/usr/bin/python3";
// ser2net closes the device after a connection ends and turns away one that
// comes meanwhile: each client waits this long after the one before.
constexpr int kSettleMs = 300;
constexpr int kWaitMs = 5000;
constexpr double kRfc2217RatioTarget = 1.0;
constexpr double kSocketRatioTarget = 1.1;
constexpr double kOpenTargetMs = 50.0;

int fail(const char *what)
{
    std::fprintf(stderr, "bench_network: %s\n", what);
    return 1;
}

void settle()
{
    ::usleep(kSettleMs * 1000);
}

// The median as both programs print it (the 50th percentile, nearest rank),
// so that it matches the lines above the summary.
double medianOf(const std::vector<double> &times)
{
    return CliProcess::percentile(times, 50);
}

void printTimes(const char *who, std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    std::printf("  %-36s median %7.3f ms  p95 %7.3f ms  max %7.3f ms  min %7.3f ms\n", who,
                CliProcess::percentile(times, 50), CliProcess::percentile(times, 95), times.back(),
                times.front());
}

// The same probe every `intervalMs`, on the monotonic clock: sleeps until
// the next one is due.
class Pacer {
public:
    explicit Pacer(int intervalMs) : intervalNs_(qint64(intervalMs) * 1000000) {}
    void wait()
    {
        if (next_ == 0)
            next_ = CliProcess::monotonicNs();
        const timespec at{time_t(next_ / 1000000000), long(next_ % 1000000000)};
        while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
        }
        next_ += intervalNs_;
    }

private:
    qint64 intervalNs_;
    qint64 next_ = 0;
};

// The round trips of a plain TCP client to 127.0.0.1:`port`, in ms; empty,
// with the reason on standard error, when one failed.
std::vector<double> tcpClientTimes(quint16 port, int count)
{
    std::vector<double> times;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd == -1) {
        std::perror("bench_network: socket");
        return {};
    }
    const int on = 1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == -1 ||
        ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == -1) {
        std::perror("bench_network: TCP client");
        ::close(fd);
        return {};
    }
    Pacer pacer(kIntervalMs);
    for (int probe = 1; probe <= count; ++probe) {
        pacer.wait();
        const qint64 start = CliProcess::monotonicNs();
        if (::write(fd, kText.constData(), size_t(kText.size())) != kText.size()) {
            std::perror("bench_network: TCP client write");
            break;
        }
        QByteArray echo;
        while (echo.size() < kText.size()) {
            pollfd readable{fd, POLLIN, 0};
            char buffer[64];
            const ssize_t n = ::poll(&readable, 1, kWaitMs) == 1
                                  ? ::read(fd, buffer, size_t(kText.size() - echo.size()))
                                  : 0;
            if (n <= 0)
                break;
            echo.append(buffer, n);
        }
        const qint64 end = CliProcess::monotonicNs();
        if (echo != kText) {
            std::fprintf(stderr, "bench_network: TCP client, probe %d: echo \"%s\", not ABC[13]\n",
                         probe, echo.toPercentEncoding().constData());
            break;
        }
        times.push_back(double(end - start) / 1e6);
    }
    ::close(fd);
    if (int(times.size()) != count)
        return {};
    return times;
}

struct PythonRun {
    std::vector<double> roundTrips; // ms
    double openMs = -1;
};

// Python's serial library through `url`; empty round trips, with the reason
// on standard error, when it failed.
PythonRun pythonTimes(const QString &url, int count)
{
    PythonRun run;
    QProcess python;
    python.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    python.start(QString::fromLatin1(kPython),
                 {QStringLiteral(COMMCHECK_BENCH_DIR "/python_round_trip.py"), url,
                  QString::number(count), QString::fromLatin1(kText.toHex()),
                  QString::number(kIntervalMs)});
    if (!python.waitForFinished(CliProcess::kLimitMs * 2) ||
        python.exitStatus() != QProcess::NormalExit || python.exitCode() != 0) {
        std::fprintf(stderr, "bench_network: %s on %s did not run to the end (%s)\n", kPython,
                     qPrintable(url), qPrintable(python.errorString()));
        python.kill();
        python.waitForFinished();
        return {};
    }
    for (const QByteArray &line : python.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() != 2)
            continue;
        if (fields[0] == "round_trip_ns")
            run.roundTrips.push_back(fields[1].toDouble() / 1e6);
        else if (fields[0] == "open_ns")
            run.openMs = fields[1].toDouble() / 1e6;
    }
    if (int(run.roundTrips.size()) != count) {
        std::fprintf(stderr, "bench_network: python gave %zu round trips, not %d\n",
                     run.roundTrips.size(), count);
        run.roundTrips.clear();
    }
    return run;
}

struct OpenTimes {
    double openMs = -1;       // until open() returned
    double firstProbeMs = -1; // until the probe written after it reached the far end
};

// NetworkPort opening `url` with commcheck-cli's default settings, then
// writing one probe and waiting for its echo. The moments before the open
// and after it, on CliProcess::monotonicNs()'s clock (the same for every
// process), or nothing, with the reason on standard error.
std::optional<std::pair<qint64, qint64>> openAndProbe(const QString &url)
{
    NetworkPort port(url);
    LineSettings line;
    line.flowControl = LineSettings::FlowControl::XonXoff;
    port.setSettings(line);
    const qint64 before = CliProcess::monotonicNs();
    if (!port.open()) {
        std::fprintf(stderr, "bench_network: %s\n", qPrintable(port.errorString()));
        return std::nullopt;
    }
    const qint64 opened = CliProcess::monotonicNs();
    if (port.output(QString::fromLatin1(kText)) != SerialPort::Output::Taken ||
        port.drain(std::chrono::milliseconds(kWaitMs)) != 0) {
        std::fprintf(stderr, "bench_network: the probe did not go out\n");
        return std::nullopt;
    }
    // The connection stays until the echo is back: closed at once, it can
    // take with it what ser2net has not yet written to the line.
    QString echo;
    QEventLoop loop;
    QObject::connect(&port, &SerialPort::readyRead, &loop, [&] {
        echo += port.input();
        if (echo.size() >= kText.size())
            loop.quit();
    });
    QTimer::singleShot(kWaitMs, &loop, &QEventLoop::quit);
    loop.exec();
    if (echo != QString::fromLatin1(kText)) {
        std::fprintf(stderr, "bench_network: the probe's echo was \"%s\"\n", qPrintable(echo));
        return std::nullopt;
    }
    return std::pair{before, opened};
}

// --open-once URL: openAndProbe() alone, in a process of its own; prints both
// moments.
int openOnce(const QString &url)
{
    const auto moments = openAndProbe(url);
    if (!moments)
        return 1;
    std::printf("%lld %lld\n", moments->first, moments->second);
    return 0;
}

// The open in this process, or, if `fresh`, in a process of its own started
// for it (its start-up not counted).
OpenTimes openToFirstProbe(const QString &url, EchoFarEnd &far, bool fresh)
{
    OpenTimes times;
    far.arm();
    std::optional<std::pair<qint64, qint64>> moments;
    qint64 arrived = -1;
    if (fresh) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--open-once"), url});
        arrived = far.waitFirstByte(kWaitMs);
        const QList<QByteArray> fields = child.waitForFinished(kWaitMs) &&
                                                 child.exitStatus() == QProcess::NormalExit &&
                                                 child.exitCode() == 0
                                             ? child.readAllStandardOutput().trimmed().split(' ')
                                             : QList<QByteArray>();
        if (fields.size() == 2)
            moments = std::pair{fields[0].toLongLong(), fields[1].toLongLong()};
        else
            std::fprintf(stderr, "bench_network: the open in a process of its own failed\n");
    } else {
        moments = openAndProbe(url);
        if (moments)
            arrived = far.waitFirstByte(kWaitMs);
    }
    if (!moments)
        return times;
    if (arrived < 0) {
        std::fprintf(stderr, "bench_network: the probe did not reach the far end\n");
        return times;
    }
    times.openMs = double(moments->second - moments->first) / 1e6;
    times.firstProbeMs = double(arrived - moments->first) / 1e6;
    return times;
}

// commcheck-cli check on `port`, from its start until its first probe came.
double cliStartToFirstProbe(const char *program, const QString &port, EchoFarEnd &far)
{
    far.arm();
    return CliProcess::startToArrival(
        program,
        {QStringLiteral("check"), port, QStringLiteral("--text"), QStringLiteral("ABC[13]")},
        [&far] { return far.waitFirstByte(CliProcess::kLimitMs); });
}

QString ratioText(double ratio)
{
    return QString::number(ratio, 'f', 3);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_network <commcheck-cli> [runs]\n");
        return 2;
    }
    if (argc == 3 && qstrcmp(argv[1], "--open-once") == 0)
        return openOnce(QString::fromLocal8Bit(argv[2]));
    const char *program = argv[1];
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
    if (!QFileInfo(QString::fromLatin1(kPython)).isExecutable())
        return fail("/usr/bin/python3 is not installed (sh scripts/install-deps.sh bench)");
    QTemporaryDir dir;
    if (!dir.isValid())
        return fail("no temporary folder");
    const QString log = dir.filePath(QStringLiteral("times.csv"));

    EchoFarEnd far;
    if (!far.isValid())
        return fail(qPrintable(far.error()));
    Ser2net server(far.device());
    if (!server.start())
        return fail(qPrintable(server.error()));
    std::printf("ser2net on 127.0.0.1: rfc2217 port %u, raw TCP port %u, in front of %s (an "
                "echo)\n",
                server.rfc2217Port(), server.socketPort(), qPrintable(far.device()));

    // Round trips over rfc2217://. ser2net leaves a DTR or RTS SET-CONTROL
    // on a pseudo-terminal unanswered; Python's library is told not to wait.
    const std::vector<double> cliTelnet = CliProcess::checkTimes(
        program, server.rfc2217Address(), kRoundTrips, kIntervalMs, true, log);
    if (int(cliTelnet.size()) != kRoundTrips)
        return fail("commcheck-cli check over rfc2217:// did not complete every probe");
    settle();
    const PythonRun python =
        pythonTimes(server.rfc2217Address() + QStringLiteral("?ign_set_control"), kRoundTrips);
    if (python.roundTrips.empty())
        return fail("Python's serial library over rfc2217:// did not complete");
    settle();

    // Round trips over socket://.
    const std::vector<double> cliRaw = CliProcess::checkTimes(program, server.socketAddress(),
                                                              kRoundTrips, kIntervalMs, true, log);
    if (int(cliRaw.size()) != kRoundTrips)
        return fail("commcheck-cli check over socket:// did not complete every probe");
    settle();
    const std::vector<double> tcp = tcpClientTimes(server.socketPort(), kRoundTrips);
    if (tcp.empty())
        return fail("the TCP client over socket:// did not complete");
    settle();

    // The open, in a fresh process as commcheck-cli has it, then again in
    // this one.
    std::vector<double> opens;
    std::vector<double> firstProbes;
    std::vector<double> warmOpens;
    std::vector<double> warmFirstProbes;
    for (bool fresh : {true, false}) {
        for (int run = 0; run < runs; ++run) {
            const OpenTimes times = openToFirstProbe(server.rfc2217Address(), far, fresh);
            if (times.firstProbeMs < 0)
                return fail("NetworkPort did not open over rfc2217://");
            (fresh ? opens : warmOpens).push_back(times.openMs);
            (fresh ? firstProbes : warmFirstProbes).push_back(times.firstProbeMs);
            settle();
        }
    }

    // commcheck-cli from its start, over ser2net and on the pseudo-terminal
    // itself (which ser2net leaves alone while nobody is connected).
    std::vector<double> cliStarts;
    std::vector<double> ptyStarts;
    for (int run = 0; run < runs; ++run) {
        const double network = cliStartToFirstProbe(program, server.rfc2217Address(), far);
        settle();
        const double pty = cliStartToFirstProbe(program, far.device(), far);
        if (network < 0 || pty < 0)
            return fail("no first probe of commcheck-cli arrived");
        cliStarts.push_back(network);
        ptyStarts.push_back(pty);
    }

    std::printf("Round trips of ABC[13] every %d ms through ser2net to the echo, %d each:\n",
                kIntervalMs, kRoundTrips);
    printTimes("rfc2217, commcheck-cli --precise", cliTelnet);
    printTimes("rfc2217, python3-serial", python.roundTrips);
    printTimes("socket, commcheck-cli --precise", cliRaw);
    printTimes("socket, TCP client (TCP_NODELAY)", tcp);
    std::printf("Opening rfc2217:// with 9600,N,8,1 and XON/XOFF, %d runs:\n", runs);
    printTimes("fresh process: open() returned", opens);
    printTimes("fresh process: probe at the far end", firstProbes);
    // Two groups, as a rule: the figure moves with how many fall in each.
    std::vector<double> sorted = firstProbes;
    std::sort(sorted.begin(), sorted.end());
    std::printf("    each, sorted (ms):");
    for (double ms : sorted)
        std::printf(" %.1f", ms);
    std::printf("\n");
    printTimes("this process: open() returned", warmOpens);
    printTimes("this process: probe at the far end", warmFirstProbes);
    std::printf("  python3-serial serial_for_url(), 1 run: %.3f ms\n", python.openMs);
    std::printf("commcheck-cli check, start to first probe at the far end, %d runs:\n", runs);
    printTimes("over rfc2217 through ser2net", cliStarts);
    printTimes("on the pseudo-terminal itself", ptyStarts);

    const double cliTelnetMedian = medianOf(cliTelnet);
    const double pythonMedian = medianOf(python.roundTrips);
    const double telnetRatio = cliTelnetMedian / pythonMedian;
    Summary::print(QStringLiteral("rfc2217 round trip via ser2net, CLI --precise / python3-serial, "
                                  "medians of %1")
                       .arg(kRoundTrips),
                   ratioText(telnetRatio),
                   QStringLiteral("<= %1").arg(kRfc2217RatioTarget, 0, 'f', 2),
                   QStringLiteral("CLI %1, python %2")
                       .arg(Summary::number(cliTelnetMedian, 3, QStringLiteral("ms")),
                            Summary::number(pythonMedian, 3, QStringLiteral("ms"))),
                   Summary::judge(telnetRatio <= kRfc2217RatioTarget));

    const double cliRawMedian = medianOf(cliRaw);
    const double tcpMedian = medianOf(tcp);
    const double rawRatio = cliRawMedian / tcpMedian;
    Summary::print(QStringLiteral("socket round trip via ser2net, CLI --precise / TCP client, "
                                  "medians of %1")
                       .arg(kRoundTrips),
                   ratioText(rawRatio), QStringLiteral("<= %1").arg(kSocketRatioTarget, 0, 'f', 2),
                   QStringLiteral("CLI %1, TCP client %2")
                       .arg(Summary::number(cliRawMedian, 3, QStringLiteral("ms")),
                            Summary::number(tcpMedian, 3, QStringLiteral("ms"))),
                   Summary::judge(rawRatio <= kSocketRatioTarget));

    const double firstProbe = medianOf(firstProbes);
    Summary::print(
        QStringLiteral("rfc2217 open to first probe at the far end, median of %1").arg(runs),
        Summary::number(firstProbe, 1, QStringLiteral("ms")),
        QStringLiteral("<= %1 ms").arg(kOpenTargetMs, 0, 'f', 0),
        QStringLiteral("python3-serial open %1")
            .arg(Summary::number(python.openMs, 1, QStringLiteral("ms"))),
        Summary::judge(firstProbe <= kOpenTargetMs));

    Summary::print(
        QStringLiteral("CLI start to first probe, rfc2217 via ser2net, median of %1").arg(runs),
        Summary::number(medianOf(cliStarts), 1, QStringLiteral("ms")), QString(),
        QStringLiteral("pty itself ") +
            Summary::number(medianOf(ptyStarts), 1, QStringLiteral("ms")),
        Summary::Status::NoTarget);
    return 0;
}
