#include "CommandLine.h"

#include "OptionValues.h"

namespace {

using Command = CliOptions::Command;

// The commands of one port; monitor reads its ports from a file.
const QList<Command> kOnePort = {Command::Check, Command::Answer, Command::Send, Command::Receive};
const QList<Command> kCommands = kOnePort + QList<Command>{Command::Monitor};
const QList<Command> kWithText = {Command::Check, Command::Answer, Command::Send};

// The format the arguments ask for, read before they are parsed, so that a
// refusal is reported in it too; text unless nagios or json is there.
CliOptions::Format formatAskedIn(const QStringList &arguments)
{
    CliOptions::Format format = CliOptions::Format::Text;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        QString value;
        if (arguments[i] == u"--format" && i + 1 < arguments.size())
            value = arguments[i + 1];
        else if (arguments[i].startsWith(QStringLiteral("--format=")))
            value = arguments[i].mid(9);
        else
            continue;
        if (value == u"nagios")
            format = CliOptions::Format::Nagios;
        else if (value == u"json")
            format = CliOptions::Format::Json;
    }
    return format;
}

QString quotedValue(const QString &value)
{
    return u'"' + value + u'"';
}

std::optional<Command> commandNamed(const QString &name)
{
    for (Command command : kCommands) {
        if (CliOptions::commandName(command) == name)
            return command;
    }
    return std::nullopt;
}

} // namespace

CommandLine::CommandLine()
    : help_({QStringLiteral("h"), QStringLiteral("help")},
            QStringLiteral("Show this help and exit.")),
      version_({QStringLiteral("V"), QStringLiteral("version")},
               QStringLiteral("Show the version and exit."))
{
    auto add = [this](const QString &name, const QString &description, const QString &valueName,
                      const QList<Command> &commands) {
        options_.append({QCommandLineOption(name, description, valueName), commands});
    };
    add(QStringLiteral("text"),
        QStringLiteral("The text to send (check, answer, send); control codes as bracketed "
                       "decimal numbers, [13] is CR. Characters code page 932 has no form "
                       "for are refused."),
        QStringLiteral("TEXT"), kWithText);
    add(QStringLiteral("interval"),
        QStringLiteral("check: time from one probe to the next; a bare number is ms "
                       "(default 1000)."),
        QStringLiteral("MS"), {Command::Check});
    add(QStringLiteral("count"), QStringLiteral("check: end after N probes have ended."),
        QStringLiteral("N"), {Command::Check});
    add(QStringLiteral("duration"),
        QStringLiteral("check: end after this long, e.g. 90s, 10m, 8h."), QStringLiteral("TIME"),
        {Command::Check});
    add(QStringLiteral("timeout"),
        QStringLiteral("check: a reply not complete this long after its probe is counted lost "
                       "(or an error, when something else came) and the next probe goes out; "
                       "a bare number is ms. Default: wait for ever, as the window does."),
        QStringLiteral("MS"), {Command::Check});
    add(QStringLiteral("precise"),
        QStringLiteral("check: take each reply the moment its last byte arrives, not at the "
                       "next 50 ms poll."),
        QString(), {Command::Check});
    add(QStringLiteral("reconnect"),
        QStringLiteral("check: a port that is lost or cannot be opened is tried again after "
                       "1 s, then 2, 4... up to every 60 s, and checked again once back, "
                       "instead of ending the run."),
        QString(), {Command::Check});
    add(QStringLiteral("log"),
        QStringLiteral("check, answer: add one CSV row per exchange to FILE (created if "
                       "missing)."),
        QStringLiteral("FILE"), {Command::Check, Command::Answer});
    add(QStringLiteral("max-errors"),
        QStringLiteral("check: pass with up to N errors (default 0)."), QStringLiteral("N"),
        {Command::Check});
    add(QStringLiteral("max-lost"),
        QStringLiteral("check: pass with up to N probes that did not come back: given up, "
                       "unanswered at the end, or answered twice (default 0)."),
        QStringLiteral("N"), {Command::Check});
    add(QStringLiteral("max-p95"),
        QStringLiteral("check: fail when the 95th percentile of the response times is above "
                       "MS, a number of ms above 0 (default: no limit)."),
        QStringLiteral("MS"), {Command::Check});
    add(QStringLiteral("format"),
        QStringLiteral("check: how the end is reported: text (the summary; default), json "
                       "(one JSON object on one line) or nagios (one line as a monitoring "
                       "plugin prints it; exit 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN)."),
        QStringLiteral("FORMAT"), {Command::Check});
    const QList<std::pair<const char *, QString>> pluginLimits = {
        {"warn-errors", QStringLiteral("check, nagios: WARNING above N errors.")},
        {"crit-errors", QStringLiteral("check, nagios: CRITICAL above N errors (default: "
                                       "--max-errors, else 0 unless --warn-errors is given).")},
        {"warn-lost", QStringLiteral("check, nagios: WARNING above N probes that did not "
                                     "come back.")},
        {"crit-lost", QStringLiteral("check, nagios: CRITICAL above N probes that did not "
                                     "come back (default: --max-lost, else 0 unless "
                                     "--warn-lost is given).")},
        {"warn-p95", QStringLiteral("check, nagios: WARNING when the p95 is above MS.")},
        {"crit-p95", QStringLiteral("check, nagios: CRITICAL when the p95 is above MS "
                                    "(default: --max-p95).")},
    };
    for (const auto &[name, description] : pluginLimits)
        add(QLatin1String(name), description,
            QLatin1String(name).endsWith(QLatin1String("p95")) ? QStringLiteral("MS")
                                                               : QStringLiteral("N"),
            {Command::Check});
    add(QStringLiteral("for"),
        QStringLiteral("receive: stop after this long, e.g. 500ms, 2s. Default: until "
                       "Ctrl+C."),
        QStringLiteral("TIME"), {Command::Receive});
    add(QStringLiteral("metrics-listen"),
        QStringLiteral("monitor: serve the metrics on http://HOST:PORT/metrics; HOST an IPv4 "
                       "address, a bracketed IPv6 address or a name, PORT 0 for any free "
                       "port (default 127.0.0.1:9717)."),
        QStringLiteral("HOST:PORT"), {Command::Monitor});
    add(QStringLiteral("baud"), QStringLiteral("Baud rate, any positive number (default 9600)."),
        QStringLiteral("N"), kOnePort);
    add(QStringLiteral("data-bits"), QStringLiteral("Data bits, 5 to 8 (default 8)."),
        QStringLiteral("N"), kOnePort);
    add(QStringLiteral("parity"),
        QStringLiteral("Parity: N (none), E (even), O (odd), M (mark), S (space) (default N)."),
        QStringLiteral("P"), kOnePort);
    add(QStringLiteral("stop-bits"), QStringLiteral("Stop bits: 1, 1.5 or 2 (default 1)."),
        QStringLiteral("N"), kOnePort);
    add(QStringLiteral("flow"),
        QStringLiteral("Handshaking: none, xon (XOn/XOff), rts (RTS/CTS) or rts+xon "
                       "(default xon)."),
        QStringLiteral("MODE"), kOnePort);

    parser_.setApplicationDescription(QStringLiteral(
        "Checks a serial (RS-232C) line from a shell: the loop-back check of the commcheck "
        "window, without a display.\n"
        "\n"
        "Commands:\n"
        "  check PORT    send the text every interval, time each complete echo; a live\n"
        "                status line on a terminal, a summary at the end\n"
        "  answer PORT   answering station: send the text back on each arrival of it,\n"
        "                until Ctrl+C\n"
        "  send PORT     send the text once, and wait until the line has taken it\n"
        "  receive PORT  print what arrives, control codes in brackets\n"
        "  monitor CONFIG\n"
        "                check every line the INI file CONFIG names, all at once, until\n"
        "                stopped; their counts for Prometheus on http://HOST:PORT/metrics\n"
        "\n"
        "PORT is a port number (the window's numbering and port folder), a device\n"
        "such as /dev/ttyUSB0, or a line behind a device server:\n"
        "  rfc2217://HOST:PORT  Telnet with RFC 2217: the line settings are sent to\n"
        "                       the server, and the open fails if it does not take them\n"
        "  socket://HOST:PORT   raw TCP: the bytes only, the server's settings stand\n"
        "HOST is a name, an IPv4 address or a bracketed IPv6 address ([::1]).\n"
        "\n"
        "Exit status: 0 at least one exchange completed and nothing was wrong (send,\n"
        "receive, answer: done or stopped); 1 errors, lost, late or unanswered\n"
        "replies or no exchange completed (send: the line did not take every byte in\n"
        "time); 2 bad usage or a log that cannot be written; 3 the port could not be\n"
        "opened; 4 the port was lost; 5 the log could not be kept to the end.\n"
        "monitor: 0 stopped by a signal; 2 bad usage or a bad CONFIG; 3 the metrics\n"
        "address cannot be listened on."));
    parser_.addPositionalArgument(QStringLiteral("command"),
                                  QStringLiteral("check, answer, send, receive or monitor."));
    parser_.addPositionalArgument(QStringLiteral("PORT"),
                                  QStringLiteral("Port number, device path, rfc2217://HOST:PORT "
                                                 "or socket://HOST:PORT; for monitor, CONFIG."));
    parser_.addOption(help_);
    parser_.addOption(version_);
    for (const Option &o : options_)
        parser_.addOption(o.option);
}

const QCommandLineOption &CommandLine::option(const QString &name) const
{
    for (const Option &o : options_) {
        if (o.option.names().constFirst() == name)
            return o.option;
    }
    Q_UNREACHABLE();
}

QString CommandLine::helpText()
{
    return parser_.helpText();
}

QString CommandLine::usage()
{
    return QStringLiteral(
        "Usage: commcheck-cli check   PORT --text TEXT [--interval MS] [--count N | --duration "
        "TIME]\n"
        "                             [--timeout MS] [--precise] [--reconnect] [--log FILE.csv]\n"
        "                             [line settings]\n"
        "                             [--max-errors N] [--max-lost N] [--max-p95 MS]\n"
        "                             [--format text|json|nagios] [--warn-*|--crit-* ...]\n"
        "       commcheck-cli answer  PORT --text TEXT [--log FILE.csv] [line settings]\n"
        "       commcheck-cli send    PORT --text TEXT [line settings]\n"
        "       commcheck-cli receive PORT [--for TIME] [line settings]\n"
        "       commcheck-cli monitor CONFIG [--metrics-listen HOST:PORT]\n"
        "Line settings: --baud N --data-bits 5-8 --parity N|E|O|M|S --stop-bits 1|1.5|2\n"
        "               --flow none|xon|rts|rts+xon\n"
        "PORT: a port number, a device, rfc2217://HOST:PORT or socket://HOST:PORT\n"
        "Try 'commcheck-cli --help' for more.\n");
}

CommandLine::Result CommandLine::parse(const QStringList &arguments)
{
    Result result;
    result.options.format = formatAskedIn(arguments);
    if (!parser_.parse(arguments)) {
        result.error = parser_.errorText();
        return result;
    }
    if (parser_.isSet(help_)) {
        result.action = Action::Help;
        return result;
    }
    if (parser_.isSet(version_)) {
        result.action = Action::Version;
        return result;
    }

    const QStringList positional = parser_.positionalArguments();
    if (positional.isEmpty()) {
        result.error = QStringLiteral("no command given (check, answer, send, receive or monitor)");
        return result;
    }
    const auto command = commandNamed(positional.at(0));
    if (!command) {
        result.error =
            QStringLiteral("unknown command %1 (check, answer, send, receive or monitor)")
                .arg(quotedValue(positional.at(0)));
        return result;
    }
    CliOptions &options = result.options;
    options.command = *command;
    if (positional.size() < 2 || positional.at(1).isEmpty()) {
        result.error = *command == Command::Monitor
                           ? QStringLiteral("monitor needs a CONFIG file (the INI file naming "
                                            "the lines to check)")
                           : QStringLiteral("%1 needs a PORT (a port number, a device path or "
                                            "a device server's address)")
                                 .arg(CliOptions::commandName(*command));
        return result;
    }
    if (positional.size() > 2) {
        result.error = QStringLiteral("unexpected argument %1").arg(quotedValue(positional.at(2)));
        return result;
    }
    (*command == Command::Monitor ? options.configPath : options.port) = positional.at(1);

    result.error = checkApplies(*command);
    if (result.error.isEmpty())
        result.error = parseValues(options);
    if (result.error.isEmpty())
        result.action = Action::Run;
    return result;
}

QString CommandLine::checkApplies(Command command) const
{
    const QStringList given = parser_.optionNames();
    for (const Option &o : options_) {
        if (parser_.isSet(o.option) && !o.commands.contains(command))
            return QStringLiteral("--%1 does not apply to %2")
                .arg(o.option.names().constFirst(), CliOptions::commandName(command));
        // Only the last of two values would count, silently: `--text A
        // --text B` checks B. Said instead.
        qsizetype times = 0;
        for (const QString &name : o.option.names())
            times += given.count(name);
        if (times > 1)
            return QStringLiteral("--%1 is given more than once")
                .arg(o.option.names().constFirst());
    }
    if (kWithText.contains(command) && !parser_.isSet(option(QStringLiteral("text"))))
        return QStringLiteral("%1 needs --text").arg(CliOptions::commandName(command));
    return {};
}

QString CommandLine::checkVerdictLimits(const CliOptions &options) const
{
    auto isSet = [this](const QString &name) { return parser_.isSet(option(name)); };
    auto value = [this](const QString &name) { return parser_.value(option(name)); };
    const CheckVerdict::Thresholds &t = options.thresholds;

    for (const char *figure : {"errors", "lost", "p95"}) {
        const QString warn = QStringLiteral("warn-") + QLatin1String(figure);
        const QString crit = QStringLiteral("crit-") + QLatin1String(figure);
        const QString max = QStringLiteral("max-") + QLatin1String(figure);
        for (const QString &name : {warn, crit}) {
            if (isSet(name) && options.format != CliOptions::Format::Nagios)
                return QStringLiteral("--%1 applies to --format nagios only").arg(name);
        }
        // In the nagios format --max-* is the critical limit.
        if (isSet(crit) && isSet(max))
            return QStringLiteral("--%1 and --%2 cannot be given together").arg(max, crit);
        const QString critical = isSet(crit) ? crit : max;
        if (!isSet(warn) || !isSet(critical))
            continue;
        const CheckVerdict::Limits &c = isSet(crit) ? t.crit : t.max;
        bool above = false;
        if (figure[0] == 'e')
            above = *t.warn.errors > *c.errors;
        else if (figure[0] == 'l')
            above = *t.warn.lost > *c.lost;
        else
            above = *t.warn.p95Ms > *c.p95Ms;
        if (above)
            return QStringLiteral("--%1 %2 is above --%3 %4")
                .arg(warn, value(warn), critical, value(critical));
    }
    return {};
}

QString CommandLine::parseValues(CliOptions &options) const
{
    // Each value as monitor's file reads it; a flag given is a yes. Until
    // --format is read, a refusal is reported in the format asked for.
    for (const Option &o : options_) {
        if (!parser_.isSet(o.option))
            continue;
        const QString name = o.option.names().constFirst();
        const QString text =
            o.option.valueName().isEmpty() ? QStringLiteral("true") : parser_.value(o.option);
        if (const QString reason = OptionValues::set(options, name, text); !reason.isEmpty())
            return QStringLiteral("--%1 %2").arg(name, reason);
    }
    if (!parser_.isSet(option(QStringLiteral("format"))))
        options.format = CliOptions::Format::Text;
    if (options.count && options.duration)
        return QStringLiteral("--count and --duration cannot be given together");
    return checkVerdictLimits(options);
}
