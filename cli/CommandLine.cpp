#include "CommandLine.h"

#include "BracketCodes.h"
#include "Cp932.h"
#include "DurationText.h"

#include <cmath>
#include <limits>

namespace {

using Command = CliOptions::Command;
using std::chrono::milliseconds;

const QList<Command> kAll = {Command::Check, Command::Answer, Command::Send, Command::Receive};
const QList<Command> kWithText = {Command::Check, Command::Answer, Command::Send};

constexpr qint64 kHighestBaud = std::numeric_limits<qint32>::max();

// A whole number written in ASCII digits only, from `lowest` to `highest`.
std::optional<qint64> wholeNumber(const QString &text, qint64 lowest, qint64 highest)
{
    if (text.isEmpty())
        return std::nullopt;
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
    }
    bool fits = false;
    const qint64 value = text.toLongLong(&fits);
    if (!fits || value < lowest || value > highest)
        return std::nullopt;
    return value;
}

// A time in ms above 0, with or without a fraction: "10", "12.5".
std::optional<double> positiveMs(const QString &text)
{
    qsizetype points = 0;
    for (QChar c : text) {
        points += c == u'.';
        if ((c < u'0' || c > u'9') && c != u'.')
            return std::nullopt;
    }
    bool number = false;
    const double value = text.toDouble(&number);
    if (!number || points > 1 || text.startsWith(u'.') || text.endsWith(u'.') ||
        !std::isfinite(value) || value <= 0)
        return std::nullopt;
    return value;
}

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

// The characters of a typed text that code page 932 has no form for, which
// would go out as '?' (what a bracketed code gives always has one; one
// typed inside brackets, where it stands for nothing, is a mistake all the
// same). Each is named with its code point and its position among
// the typed characters, counting from 1 and a surrogate pair as one; past
// the first few only their number is given, so that the reason stays a
// line. Empty when every character can be sent.
QString unsendableCharacters(const QString &typed)
{
    constexpr int kMostNamed = 10;
    QStringList named;
    qsizetype unnamed = 0;
    qsizetype position = 0;
    for (qsizetype i = 0; i < typed.size(); ++i) {
        ++position;
        char32_t character = typed.at(i).unicode();
        const bool pair = typed.at(i).isHighSurrogate() && i + 1 < typed.size() &&
                          typed.at(i + 1).isLowSurrogate();
        if (pair)
            character = QChar::surrogateToUcs4(typed.at(i), typed.at(i + 1));
        i += pair ? 1 : 0;
        if (Cp932::hasForm(character))
            continue;
        if (named.size() == kMostNamed) {
            ++unnamed;
            continue;
        }
        QString name =
            QStringLiteral("U+%1").arg(uint(character), 4, 16, QLatin1Char('0')).toUpper();
        // A control character or a lone surrogate would garble the line.
        if (QChar::isPrint(character))
            name += QStringLiteral(" '%1'").arg(QString::fromUcs4(&character, 1));
        named.append(QStringLiteral("%1 at %2").arg(name, QString::number(position)));
    }
    if (named.isEmpty())
        return {};
    QString list = named.join(QStringLiteral(", "));
    if (unnamed > 0)
        list += QStringLiteral(" and %1 more").arg(unnamed);
    return list;
}

std::optional<Command> commandNamed(const QString &name)
{
    for (Command command : kAll) {
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
    add(QStringLiteral("baud"), QStringLiteral("Baud rate, any positive number (default 9600)."),
        QStringLiteral("N"), kAll);
    add(QStringLiteral("data-bits"), QStringLiteral("Data bits, 5 to 8 (default 8)."),
        QStringLiteral("N"), kAll);
    add(QStringLiteral("parity"),
        QStringLiteral("Parity: N (none), E (even), O (odd), M (mark), S (space) (default N)."),
        QStringLiteral("P"), kAll);
    add(QStringLiteral("stop-bits"), QStringLiteral("Stop bits: 1, 1.5 or 2 (default 1)."),
        QStringLiteral("N"), kAll);
    add(QStringLiteral("flow"),
        QStringLiteral("Handshaking: none, xon (XOn/XOff), rts (RTS/CTS) or rts+xon "
                       "(default xon)."),
        QStringLiteral("MODE"), kAll);

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
        "opened; 4 the port was lost; 5 the log could not be kept to the end."));
    parser_.addPositionalArgument(QStringLiteral("command"),
                                  QStringLiteral("check, answer, send or receive."));
    parser_.addPositionalArgument(QStringLiteral("PORT"),
                                  QStringLiteral("Port number, device path, rfc2217://HOST:PORT "
                                                 "or socket://HOST:PORT."));
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
        "                             [--timeout MS] [--precise] [--log FILE.csv] [line "
        "settings]\n"
        "                             [--max-errors N] [--max-lost N] [--max-p95 MS]\n"
        "                             [--format text|json|nagios] [--warn-*|--crit-* ...]\n"
        "       commcheck-cli answer  PORT --text TEXT [--log FILE.csv] [line settings]\n"
        "       commcheck-cli send    PORT --text TEXT [line settings]\n"
        "       commcheck-cli receive PORT [--for TIME] [line settings]\n"
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
        result.error = QStringLiteral("no command given (check, answer, send or receive)");
        return result;
    }
    const auto command = commandNamed(positional.at(0));
    if (!command) {
        result.error = QStringLiteral("unknown command %1 (check, answer, send or receive)")
                           .arg(quotedValue(positional.at(0)));
        return result;
    }
    CliOptions &options = result.options;
    options.command = *command;
    if (positional.size() < 2 || positional.at(1).isEmpty()) {
        result.error = QStringLiteral("%1 needs a PORT (a port number, a device path or "
                                      "a device server's address)")
                           .arg(CliOptions::commandName(*command));
        return result;
    }
    if (positional.size() > 2) {
        result.error = QStringLiteral("unexpected argument %1").arg(quotedValue(positional.at(2)));
        return result;
    }
    options.port = positional.at(1);

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

QString CommandLine::parseVerdictValues(CliOptions &options) const
{
    auto value = [this](const QString &name) { return parser_.value(option(name)); };
    auto isSet = [this](const QString &name) { return parser_.isSet(option(name)); };

    options.format = CliOptions::Format::Text;
    if (isSet(QStringLiteral("format"))) {
        const QString format = value(QStringLiteral("format"));
        if (format == u"json")
            options.format = CliOptions::Format::Json;
        else if (format == u"nagios")
            options.format = CliOptions::Format::Nagios;
        else if (format != u"text")
            return QStringLiteral("--format must be text, json or nagios, not %1")
                .arg(quotedValue(format));
    }

    CheckVerdict::Thresholds &t = options.thresholds;
    struct Limit {
        const char *kind; // max, warn, crit
        CheckVerdict::Limits *limits;
    };
    for (const Limit &limit :
         {Limit{"max", &t.max}, Limit{"warn", &t.warn}, Limit{"crit", &t.crit}}) {
        const QString kind = QLatin1String(limit.kind);
        for (const char *figure : {"errors", "lost"}) {
            const QString name = kind + u'-' + QLatin1String(figure);
            if (!isSet(name))
                continue;
            const auto n = wholeNumber(value(name), 0, std::numeric_limits<qint64>::max());
            if (!n)
                return QStringLiteral("--%1 must be a whole number from 0 to %2, not %3")
                    .arg(name)
                    .arg(std::numeric_limits<qint64>::max())
                    .arg(quotedValue(value(name)));
            (figure[0] == 'e' ? limit.limits->errors : limit.limits->lost) = std::uint64_t(*n);
        }
        const QString name = kind + QStringLiteral("-p95");
        if (!isSet(name))
            continue;
        const auto ms = positiveMs(value(name));
        if (!ms)
            return QStringLiteral("--%1 must be a number of ms above 0, such as 10 or 12.5, "
                                  "not %2")
                .arg(name, quotedValue(value(name)));
        limit.limits->p95Ms = *ms;
    }

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
        const bool above = figure[0] == 'p'
                               ? *positiveMs(value(warn)) > *positiveMs(value(critical))
                               : value(warn).toLongLong() > value(critical).toLongLong();
        if (above)
            return QStringLiteral("--%1 %2 is above --%3 %4")
                .arg(warn, value(warn), critical, value(critical));
    }
    return {};
}

QString CommandLine::parseValues(CliOptions &options) const
{
    auto value = [this](const char *name) { return parser_.value(option(QLatin1String(name))); };
    auto isSet = [this](const char *name) { return parser_.isSet(option(QLatin1String(name))); };

    options.text = value("text");
    if (kWithText.contains(options.command) && BracketCodes::UnescapeCodes(options.text).isEmpty())
        return options.text.isEmpty() ? QStringLiteral("--text must not be empty")
                                      : QStringLiteral("--text %1 gives nothing to send")
                                            .arg(quotedValue(options.text));
    if (kWithText.contains(options.command)) {
        const QString unsendable = unsendableCharacters(options.text);
        if (!unsendable.isEmpty())
            return QStringLiteral("--text has characters code page 932 cannot send: %1")
                .arg(unsendable);
    }

    // Time options: a whole number and a unit; the ms ones take a bare number too.
    struct TimeOption {
        const char *name;
        std::optional<milliseconds> bareUnit;
        std::optional<milliseconds> *target;
    };
    std::optional<milliseconds> interval;
    const TimeOption times[] = {
        {"interval", milliseconds(1), &interval},
        {"timeout", milliseconds(1), &options.timeout},
        {"duration", std::nullopt, &options.duration},
        {"for", std::nullopt, &options.receiveFor},
    };
    for (const TimeOption &t : times) {
        if (!isSet(t.name))
            continue;
        const QString text = value(t.name);
        const auto parsed = DurationText::parse(text, t.bareUnit);
        if (!parsed || parsed->count() == 0)
            return QStringLiteral(
                       "--%1 must be a time from 1 ms to 596h31m23s647ms, such as %2, not %3")
                .arg(QLatin1String(t.name),
                     t.bareUnit ? QStringLiteral("1000 (ms), 500ms or 2s")
                                : QStringLiteral("500ms, 2s, 10m or 8h"),
                     quotedValue(text));
        *t.target = parsed;
    }
    if (interval)
        options.interval = *interval;

    if (isSet("count")) {
        const auto count = wholeNumber(value("count"), 1, std::numeric_limits<qint64>::max());
        if (!count)
            return QStringLiteral("--count must be a whole number from 1 to %1, not %2")
                .arg(std::numeric_limits<qint64>::max())
                .arg(quotedValue(value("count")));
        options.count = std::uint64_t(*count);
    }
    if (options.count && options.duration)
        return QStringLiteral("--count and --duration cannot be given together");
    options.precise = isSet("precise");
    if (const QString error = parseVerdictValues(options); !error.isEmpty())
        return error;
    options.logPath = value("log");
    if (isSet("log") && options.logPath.isEmpty())
        return QStringLiteral("--log needs a file name");

    if (isSet("baud")) {
        const auto baud = wholeNumber(value("baud"), 1, kHighestBaud);
        if (!baud)
            return QStringLiteral("--baud must be a whole number from 1 to %1, not %2")
                .arg(kHighestBaud)
                .arg(quotedValue(value("baud")));
        options.line.baudRate = qint32(*baud);
    }
    if (isSet("data-bits")) {
        const auto bits = wholeNumber(value("data-bits"), 5, 8);
        if (!bits)
            return QStringLiteral("--data-bits must be 5, 6, 7 or 8, not %1")
                .arg(quotedValue(value("data-bits")));
        options.line.dataBits = int(*bits);
    }
    if (isSet("parity")) {
        const QString parity = value("parity").toUpper();
        if (parity.size() != 1 || !QStringLiteral("NEOMS").contains(parity))
            return QStringLiteral("--parity must be N, E, O, M or S, not %1")
                .arg(quotedValue(value("parity")));
        options.line.parity = parity.at(0).toLatin1();
    }
    if (isSet("stop-bits")) {
        const QString stop = value("stop-bits");
        if (stop == u"1")
            options.line.stopBits = LineSettings::StopBits::One;
        else if (stop == u"1.5")
            options.line.stopBits = LineSettings::StopBits::OneAndHalf;
        else if (stop == u"2")
            options.line.stopBits = LineSettings::StopBits::Two;
        else
            return QStringLiteral("--stop-bits must be 1, 1.5 or 2, not %1").arg(quotedValue(stop));
    }
    if (isSet("flow")) {
        // In the order of LineSettings::FlowControl.
        static const QStringList kFlows = {QStringLiteral("none"), QStringLiteral("xon"),
                                           QStringLiteral("rts"), QStringLiteral("rts+xon")};
        const auto flowControl =
            LineSettings::flowControlFromCode(int(kFlows.indexOf(value("flow").toLower())));
        if (!flowControl)
            return QStringLiteral("--flow must be none, xon, rts or rts+xon, not %1")
                .arg(quotedValue(value("flow")));
        options.line.flowControl = *flowControl;
    }
    return {};
}
