#include "CliProgram.h"

#include "AnswerRun.h"
#include "CheckRun.h"
#include "CommandLine.h"
#include "Console.h"
#include "CsvLog.h"
#include "ExitCode.h"
#include "PlmMod1.h"
#include "PortSession.h"
#include "QtSerialPort.h"
#include "ReceiveRun.h"
#include "StopSignals.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace {

using Command = CliOptions::Command;

// Runs `run` (a CheckRun, AnswerRun or ReceiveRun) on a local event loop
// until it reports its exit code, stopping it on a stop request.
template <typename Run, typename Stop> int runUntilFinished(Run &run, StopSignals &stops, Stop stop)
{
    QEventLoop loop;
    QObject::connect(&run, &Run::finished, &loop, &QEventLoop::exit);
    QObject::connect(&stops, &StopSignals::stopRequested, &run, stop);
    run.start();
    return loop.exec();
}

} // namespace

CliProgram::CliProgram(std::FILE *out, std::FILE *err) : out_(out), err_(err) {}

int CliProgram::refuse(const QString &reason)
{
    Console::write(err_, QStringLiteral("commcheck-cli: %1\n").arg(reason) + CommandLine::usage());
    return ExitUsage;
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
        return refuse(parsed.error);
    case CommandLine::Action::Run:
        break;
    }
    const CliOptions &options = parsed.options;

    // Before the port: a run that cannot keep its log does not start.
    CsvLog log;
    if (!options.logPath.isEmpty() && !log.open(options.logPath))
        return refuse(log.errorString());

    StopSignals stops;
    if (!stops.isValid())
        Console::write(err_, QStringLiteral("commcheck-cli: Ctrl+C will not print a summary: %1\n")
                                 .arg(stops.errorString()));

    QtSerialPort port;
    PortSession session(port);
    const QString settings = options.line.toString();
    const auto number = options.portNumber();
    const bool opened = number ? session.open(*number, settings, options.handshaking)
                               : session.openDevice(options.port, settings, options.handshaking);
    if (!opened) {
        Console::write(err_, QStringLiteral("commcheck-cli: cannot open port %1: %2\n")
                                 .arg(options.port, session.errorString()));
        return ExitPortNotOpened;
    }

    CsvLog *logOrNone = log.isOpen() ? &log : nullptr;
    switch (options.command) {
    case Command::Check: {
        CheckRun run(options, session, logOrNone, out_, err_);
        return runUntilFinished(run, stops, [&run](const QString &name) {
            run.stop(QStringLiteral("stopped by %1").arg(name));
        });
    }
    case Command::Answer: {
        AnswerRun run(options, session, logOrNone, out_, err_);
        return runUntilFinished(run, stops, [&run](const QString &name) {
            run.stop(QStringLiteral("stopped by %1").arg(name));
        });
    }
    case Command::Receive: {
        ReceiveRun run(options, session, out_, err_);
        return runUntilFinished(run, stops, [&run](const QString &) { run.stop(); });
    }
    case Command::Send:
        if (port.output(PlmMod1::UnescapeCodes(options.text)) != SerialPort::Output::Taken) {
            Console::write(err_, QStringLiteral("commcheck-cli: the port did not take the text\n"));
            session.close();
            return ExitFaults;
        }
        session.close();
        return ExitOk;
    }
    return ExitOk;
}
