#include "CliProgram.h"

#include "AnswerRun.h"
#include "CheckReport.h"
#include "CheckRun.h"
#include "CommandLine.h"
#include "Console.h"
#include "CsvLog.h"
#include "ExitCode.h"
#include "LinePort.h"
#include "MetricsServer.h"
#include "MetricsText.h"
#include "MonitorConfig.h"
#include "MonitorLine.h"
#include "MonitorRun.h"
#include "NetworkPort.h"
#include "PortLocator.h"
#include "PortSession.h"
#include "ReceiveRun.h"
#include "SendRun.h"
#include "StopSignals.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <memory>

namespace {

using Command = CliOptions::Command;

// The run of the command `options` name.
std::unique_ptr<CliRun> runFor(const CliOptions &options, PortSession &session, CsvLog *log,
                               std::FILE *out, std::FILE *err)
{
    switch (options.command) {
    case Command::Check:
        return std::make_unique<CheckRun>(options, session, log, out, err);
    case Command::Answer:
        return std::make_unique<AnswerRun>(options, session, log, out, err);
    case Command::Receive:
        return std::make_unique<ReceiveRun>(options, session, out, err);
    case Command::Send:
        return std::make_unique<SendRun>(options, session, out, err);
    case Command::Monitor:
        break; // many ports, not one: MonitorRun
    }
    return nullptr; // every command has its run above
}

} // namespace

CliProgram::CliProgram(std::FILE *out, std::FILE *err) : out_(out), err_(err) {}

int CliProgram::refuse(const QString &reason, CliOptions::Format format)
{
    Console::write(err_, QStringLiteral("commcheck-cli: %1\n").arg(reason) + CommandLine::usage());
    return notOpened(reason, format, ExitUsage);
}

int CliProgram::notOpened(const QString &reason, CliOptions::Format format, int exitCode)
{
    // A monitoring system reads one line and one of its four codes.
    if (format != CliOptions::Format::Nagios)
        return exitCode;
    Console::write(out_, CheckReport::unknownLine(reason));
    return int(CheckVerdict::State::Unknown);
}

int CliProgram::run(const QStringList &arguments)
{
    CommandLine commandLine;
    const CommandLine::Result parsed = commandLine.parse(arguments);
    switch (parsed.action) {
    case CommandLine::Action::Help:
        Console::write(out_, commandLine.helpText());
        return ExitOk;
    case CommandLine::Action::Version:
        Console::write(
            out_, QStringLiteral("commcheck-cli %1\n").arg(QCoreApplication::applicationVersion()));
        return ExitOk;
    case CommandLine::Action::Refuse:
        return refuse(parsed.error, parsed.options.format);
    case CommandLine::Action::Run:
        break;
    }
    const CliOptions &options = parsed.options;
    if (options.command == Command::Monitor)
        return runMonitor(options);

    // Before the port: a run that cannot keep its log does not start.
    CsvLog log;
    if (!options.logPath.isEmpty() && !log.open(options.logPath))
        return refuse(log.errorString(), options.format);

    // send waits for the line outside the event loop, where a request to stop
    // would go unheard: there it ends the program at once.
    StopSignals stops(options.command == Command::Send ? StopSignals::Mode::AtOnce
                                                       : StopSignals::Mode::InOrder);
    if (!stops.isValid())
        Console::write(err_, QStringLiteral("commcheck-cli: Ctrl+C will not print a summary: %1\n")
                                 .arg(stops.errorString()));

    const auto number = options.portNumber();
    // Opening would change the settings of the terminal the shell reads its
    // commands from, under it. A line behind a device server (rfc2217:// or
    // socket://) is no device of this machine.
    if (const QString device = number ? PortLocator::deviceFor(*number) : options.port;
        !device.isEmpty() && !NetworkPort::looksLikeAddress(device) &&
        Console::isBackgroundTerminal(device)) {
        const QString reason = QStringLiteral("cannot open port %1: it is the terminal this "
                                              "program runs in the background of; run it in "
                                              "the foreground to check that terminal")
                                   .arg(options.port);
        Console::write(err_, QStringLiteral("commcheck-cli: %1\n").arg(reason));
        return notOpened(reason, options.format, ExitPortNotOpened);
    }

    LinePort port;
    PortSession session(port);
    // check --reconnect opens the port itself, and tries again where the
    // first open fails.
    const bool opensItself = options.command == Command::Check && options.reconnect;
    const bool opened = opensItself || (number ? session.open(*number, options.line)
                                               : session.openDevice(options.port, options.line));
    if (!opened) {
        const QString reason =
            QStringLiteral("cannot open port %1: %2").arg(options.port, session.errorString());
        Console::write(err_, QStringLiteral("commcheck-cli: %1\n").arg(reason));
        return notOpened(reason, options.format, ExitPortNotOpened);
    }
    // Said once, before the run prints anything: what the open took without
    // the device's word (a socket:// line keeps the server's own settings).
    if (const QString note = session.port().note(); !opensItself && !note.isEmpty())
        Console::write(err_, QStringLiteral("commcheck-cli: %1\n").arg(note));

    const std::unique_ptr<CliRun> run =
        runFor(options, session, log.isOpen() ? &log : nullptr, out_, err_);
    QEventLoop loop;
    QObject::connect(run.get(), &CliRun::finished, &loop, &QEventLoop::exit);
    QObject::connect(&stops, &StopSignals::stopRequested, run.get(), [&run](const QString &name) {
        run->stop(QStringLiteral("stopped by %1").arg(name));
    });
    run->start();
    return loop.exec();
}

int CliProgram::runMonitor(const CliOptions &options)
{
    // The whole file is read, and every log opened, before any port: a
    // mistake anywhere starts nothing.
    const MonitorConfig::Result config = MonitorConfig::read(options.configPath);
    if (!config.error.isEmpty()) {
        Console::write(err_, QStringLiteral("commcheck-cli: %1\n").arg(config.error));
        return ExitUsage;
    }
    MonitorRun run(config.lines, out_, err_);
    if (QString error; !run.openLogs(&error)) {
        Console::write(err_, QStringLiteral("commcheck-cli: %1\n").arg(error));
        return ExitUsage;
    }
    // The metrics are served from the start, a line down before its first
    // open included; an address that cannot be listened on starts nothing.
    QList<MetricsText::Line> tallies;
    for (const MonitorLine *line : run.lines())
        tallies.append({line->name(), &line->tally()});
    MetricsServer metrics([&tallies] { return MetricsText::render(tallies); });
    if (!metrics.listen(options.metricsHost, options.metricsPort)) {
        Console::write(err_, QStringLiteral("commcheck-cli: %1\n").arg(metrics.errorString()));
        return ExitPortNotOpened;
    }
    const QString host = options.metricsHost.contains(u':')
                             ? QStringLiteral("[%1]").arg(options.metricsHost)
                             : options.metricsHost;
    Console::write(err_, QStringLiteral("commcheck-cli: metrics at http://%1:%2%3\n")
                             .arg(host)
                             .arg(metrics.serverPort())
                             .arg(QLatin1String(MetricsServer::kPath)));

    StopSignals stops(StopSignals::Mode::InOrder);
    if (!stops.isValid())
        Console::write(err_, QStringLiteral("commcheck-cli: SIGTERM and Ctrl+C will end the "
                                            "monitor without a summary: %1\n")
                                 .arg(stops.errorString()));
    QEventLoop loop;
    QObject::connect(&run, &MonitorRun::finished, &loop, &QEventLoop::exit);
    QObject::connect(&stops, &StopSignals::stopRequested, &run, [&run](const QString &name) {
        run.stop(QStringLiteral("stopped by %1").arg(name));
    });
    run.start();
    return loop.exec();
}
