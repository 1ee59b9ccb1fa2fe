#include "CliProgram.h"

#include "AnswerRun.h"
#include "BracketCodes.h"
#include "CheckRun.h"
#include "CommandLine.h"
#include "Console.h"
#include "Cp932.h"
#include "CsvLog.h"
#include "DurationText.h"
#include "ExitCode.h"
#include "PortLocator.h"
#include "PortSession.h"
#include "QtSerialPort.h"
#include "ReceiveRun.h"
#include "StopSignals.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <cmath>

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

// How long send waits for `bytes` to leave before it gives up: their time on
// the line at its speed and framing, half as long again for a line that is
// slower than it says, and 2 s for the system and the far end to get going.
std::chrono::milliseconds sendLimit(qint64 bytes, const LineSettings &line)
{
    const double lineMs = double(bytes) * line.bitsPerCharacter() * 1000.0 / line.baudRate;
    return std::chrono::milliseconds(qint64(std::ceil(1.5 * lineMs)) + 2000);
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

    // send waits for the line outside the event loop, where a request to stop
    // would go unheard: there it ends the program at once.
    StopSignals stops(options.command == Command::Send ? StopSignals::Mode::AtOnce
                                                       : StopSignals::Mode::InOrder);
    if (!stops.isValid())
        Console::write(err_, QStringLiteral("commcheck-cli: Ctrl+C will not print a summary: %1\n")
                                 .arg(stops.errorString()));

    const auto number = options.portNumber();
    // Opening would change the settings of the terminal the shell reads its
    // commands from, under it.
    if (const QString device = number ? PortLocator::deviceFor(*number) : options.port;
        !device.isEmpty() && Console::isBackgroundTerminal(device)) {
        Console::write(err_,
                       QStringLiteral("commcheck-cli: cannot open port %1: it is the terminal "
                                      "this program runs in the background of; run it in "
                                      "the foreground to check that terminal\n")
                           .arg(options.port));
        return ExitPortNotOpened;
    }

    QtSerialPort port;
    PortSession session(port);
    const bool opened = number ? session.open(*number, options.line)
                               : session.openDevice(options.port, options.line);
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
        return send(session, options);
    }
    return ExitOk;
}

int CliProgram::send(PortSession &session, const CliOptions &options)
{
    SerialPort &port = session.port();
    const QString text = BracketCodes::UnescapeCodes(options.text);
    if (port.output(text) != SerialPort::Output::Taken) {
        Console::write(err_, QStringLiteral("commcheck-cli: the port did not take the text\n"));
        session.close();
        return ExitFaults;
    }
    // Closing the port drops whatever has not left yet, so the program ends
    // only once the line has taken every byte, or has been given its time.
    const qint64 size = Cp932::encodedSize(text);
    const std::chrono::milliseconds limit = sendLimit(size, options.line);
    const qint64 unsent = port.drain(limit);
    const QString lostReason = port.errorString();
    session.close();
    if (unsent < 0) {
        Console::write(
            err_,
            QStringLiteral("commcheck-cli: port %1 lost: %2\n").arg(options.port, lostReason));
        return ExitPortLost;
    }
    if (unsent > 0) {
        Console::write(err_, QStringLiteral("commcheck-cli: %1 of %2 bytes were not sent: the line "
                                            "did not take them within %3\n")
                                 .arg(unsent)
                                 .arg(size)
                                 .arg(DurationText::format(limit)));
        return ExitFaults;
    }
    return ExitOk;
}
