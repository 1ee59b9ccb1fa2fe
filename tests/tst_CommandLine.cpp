#include "CommandLine.h"

#include <QTest>

// commcheck-cli's command line read into what a run does, and every way of
// getting it wrong refused with its reason.
class CommandLineTest : public QObject {
    Q_OBJECT
private slots:
    void readsWhatTheRunDoes_data();
    void readsWhatTheRunDoes();
    void refusesBadInput_data();
    void refusesBadInput();
};

namespace {

// The words of `line` as a shell splits them, '...' quoting included.
QStringList argumentsOf(const QString &line)
{
    QStringList words{QStringLiteral("commcheck-cli")};
    QString word;
    bool inWord = false;
    bool quoted = false;
    for (QChar c : line) {
        if (c == u'\'') {
            quoted = !quoted;
            inWord = true;
        } else if (c == u' ' && !quoted) {
            if (inWord)
                words.append(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words.append(word);
    return words;
}

QString orDash(std::optional<std::chrono::milliseconds> time)
{
    return time ? QString::number(time->count()) : QStringLiteral("-");
}

// Limits as errors/lost/p95, "-" for none.
QString limitsText(const CheckVerdict::Limits &l)
{
    return QStringLiteral("%1/%2/%3")
        .arg(l.errors ? QString::number(*l.errors) : QStringLiteral("-"),
             l.lost ? QString::number(*l.lost) : QStringLiteral("-"),
             l.p95Ms ? QString::number(*l.p95Ms) : QStringLiteral("-"));
}

// Every field of the options on one line, so that a row states them all;
// those of --reconnect and monitor only when they are not the defaults, or
// for monitor.
QString described(const CliOptions &o)
{
    QString extra;
    if (o.reconnect)
        extra += QStringLiteral(" reconnect=1");
    if (!o.configPath.isEmpty())
        extra += QStringLiteral(" config=") + o.configPath;
    if (o.command == CliOptions::Command::Monitor || o.metricsHost != u"127.0.0.1" ||
        o.metricsPort != 9717)
        extra += QStringLiteral(" metrics=%1 %2").arg(o.metricsHost).arg(o.metricsPort);
    return extra.prepend(
        QStringLiteral("%1 %2 text=%3 interval=%4 count=%5 duration=%6 timeout=%7 precise=%8 "
                       "log=%9 line=%10 flow=%11 for=%12 format=%13 max=%14 warn=%15 crit=%16")
            .arg(CliOptions::commandName(o.command), o.port, o.text)
            .arg(o.interval.count())
            .arg(o.count ? QString::number(*o.count) : QStringLiteral("-"))
            .arg(orDash(o.duration), orDash(o.timeout))
            .arg(int(o.precise))
            .arg(o.logPath, o.line.toString())
            .arg(int(o.line.flowControl))
            .arg(orDash(o.receiveFor))
            .arg(int(o.format))
            .arg(limitsText(o.thresholds.max), limitsText(o.thresholds.warn),
                 limitsText(o.thresholds.crit)));
}

} // namespace

void CommandLineTest::readsWhatTheRunDoes_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("options");

    QTest::newRow("check with the window's defaults")
        << "check 3 --text ABC[13]"
        << "check 3 text=ABC[13] interval=1000 count=- duration=- timeout=- precise=0 log= "
           "line=9600,N,8,1 flow=1 for=- format=0 max=-/-/- warn=-/-/- crit=-/-/-";
    QTest::newRow("check with everything given")
        << "check /dev/ttyUSB0 --text 'A B' --interval 250 --count 100 --timeout 2s --precise "
           "--log out.csv --baud 115200 --data-bits 7 --parity e --stop-bits 1.5 --flow rts+xon"
        << "check /dev/ttyUSB0 text=A B interval=250 count=100 duration=- timeout=2000 precise=1 "
           "log=out.csv line=115200,E,7,1.5 flow=3 for=- format=0 max=-/-/- warn=-/-/- crit=-/-/-";
    QTest::newRow("check for a night")
        << "check 1 --text X --duration 8h --interval 1s"
        << "check 1 text=X interval=1000 count=- duration=28800000 timeout=- precise=0 log= "
           "line=9600,N,8,1 flow=1 for=- format=0 max=-/-/- warn=-/-/- crit=-/-/-";
    QTest::newRow("answer with a log and no flow control")
        << "answer 2 --text ABC[13] --log a.csv --flow none --stop-bits 2"
        << "answer 2 text=ABC[13] interval=1000 count=- duration=- timeout=- precise=0 log=a.csv "
           "line=9600,N,8,2 flow=0 for=- format=0 max=-/-/- warn=-/-/- crit=-/-/-";
    QTest::newRow("send with RTS/CTS, mark parity")
        << "send 4 --text [2]DATA[3] --flow RTS --parity M"
        << "send 4 text=[2]DATA[3] interval=1000 count=- duration=- timeout=- precise=0 log= "
           "line=9600,M,8,1 flow=2 for=- format=0 max=-/-/- warn=-/-/- crit=-/-/-";
    QTest::newRow("receive for half a second")
        << "receive 5 --for 500ms --baud 300 --data-bits 5"
        << "receive 5 text= interval=1000 count=- duration=- timeout=- precise=0 log= "
           "line=300,N,5,1 flow=1 for=500 format=0 max=-/-/- warn=-/-/- crit=-/-/-";
    QTest::newRow("Japanese text, full-width tilde and question mark")
        << QStringLiteral("send 1 --text 'こんにちは～?[13]'")
        << QStringLiteral("send 1 text=こんにちは～?[13] interval=1000 count=- duration=- "
                          "timeout=- precise=0 log= line=9600,N,8,1 flow=1 for=- format=0 "
                          "max=-/-/- warn=-/-/- crit=-/-/-");
    QTest::newRow("codes only, and ERR")
        << QStringLiteral("answer 1 --text '[300][13]'")
        << QStringLiteral("answer 1 text=[300][13] interval=1000 count=- duration=- "
                          "timeout=- precise=0 log= line=9600,N,8,1 flow=1 for=- format=0 "
                          "max=-/-/- warn=-/-/- crit=-/-/-");
    QTest::newRow("check with limits, as JSON")
        << "check 1 --text X --max-errors 0 --max-lost 3 --max-p95 12.5 --format json"
        << "check 1 text=X interval=1000 count=- duration=- timeout=- precise=0 log= "
           "line=9600,N,8,1 flow=1 for=- format=1 max=0/3/12.5 warn=-/-/- crit=-/-/-";
    QTest::newRow("check as a plugin, --max-* the critical limits")
        << "check 1 --text X --format nagios --warn-errors 1 --max-errors 4 --warn-lost 2 "
           "--crit-lost 2 --warn-p95 10 --crit-p95 20"
        << "check 1 text=X interval=1000 count=- duration=- timeout=- precise=0 log= "
           "line=9600,N,8,1 flow=1 for=- format=2 max=4/-/- warn=1/2/10 crit=-/2/20";
    QTest::newRow("longest time taken")
        << "check 1 --text X --timeout 2147483647"
        << "check 1 text=X interval=1000 count=- duration=- timeout=2147483647 precise=0 log= "
           "line=9600,N,8,1 flow=1 for=- format=0 max=-/-/- warn=-/-/- crit=-/-/-";
    QTest::newRow("check that waits out a lost port")
        << "check 1 --text X --reconnect --timeout 500"
        << "check 1 text=X interval=1000 count=- duration=- timeout=500 precise=0 log= "
           "line=9600,N,8,1 flow=1 for=- format=0 max=-/-/- warn=-/-/- crit=-/-/- reconnect=1";
    const QString monitorDefaults =
        QStringLiteral("monitor  text= interval=1000 count=- duration=- timeout=- precise=0 log= "
                       "line=9600,N,8,1 flow=1 for=- format=0 max=-/-/- warn=-/-/- crit=-/-/-");
    QTest::newRow("monitor on the default address")
        << "monitor /etc/commcheck/lines.ini"
        << monitorDefaults + " config=/etc/commcheck/lines.ini metrics=127.0.0.1 9717";
    QTest::newRow("monitor on any free port of the IPv6 loopback")
        << "monitor lines.ini --metrics-listen [::1]:0"
        << monitorDefaults + " config=lines.ini metrics=::1 0";
    QTest::newRow("monitor on every interface, the option first")
        << "monitor --metrics-listen=0.0.0.0:65535 lines.ini"
        << monitorDefaults + " config=lines.ini metrics=0.0.0.0 65535";
    QTest::newRow("monitor on every IPv6 interface")
        << "monitor lines.ini --metrics-listen [::]:9717"
        << monitorDefaults + " config=lines.ini metrics=:: 9717";
    QTest::newRow("monitor on a host name")
        << "monitor lines.ini --metrics-listen plant-7.example:9100"
        << monitorDefaults + " config=lines.ini metrics=plant-7.example 9100";
    QTest::newRow("monitor on a scoped IPv6 address")
        << "monitor lines.ini --metrics-listen [fe80::1%lo]:9717"
        << monitorDefaults + " config=lines.ini metrics=fe80::1%lo 9717";
}

void CommandLineTest::readsWhatTheRunDoes()
{
    QFETCH(QString, line);
    QFETCH(QString, options);

    CommandLine commandLine;
    const CommandLine::Result result = commandLine.parse(argumentsOf(line));
    QCOMPARE(result.error, QString());
    QCOMPARE(result.action, CommandLine::Action::Run);
    QCOMPARE(described(result.options), options);
}

void CommandLineTest::refusesBadInput_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("reason");

    QTest::newRow("no command") << ""
                                << "no command given (check, answer, send, receive or monitor)";
    QTest::newRow("unknown command") << "loop 1 --text A"
                                     << "unknown command \"loop\" (check, answer, send, receive or "
                                        "monitor)";
    QTest::newRow("unknown option") << "check 1 --text A --fast"
                                    << "Unknown option 'fast'.";
    QTest::newRow("option without its value") << "check 1 --text A --count"
                                              << "Missing value after '--count'.";
    QTest::newRow("missing PORT")
        << "check --text A"
        << "check needs a PORT (a port number, a device path or a device server's address)";
    QTest::newRow("second PORT") << "send 1 2 --text A"
                                 << "unexpected argument \"2\"";
    QTest::newRow("missing text") << "answer 1"
                                  << "answer needs --text";
    QTest::newRow("empty text") << "send 1 --text ''"
                                << "--text must not be empty";
    QTest::newRow("text that sends nothing") << "check 1 --text []"
                                             << "--text \"[]\" gives nothing to send";
    const QString cannotSend = QStringLiteral("--text has characters code page 932 cannot send: ");
    QTest::newRow("e acute") << QStringLiteral("send 1 --text 'café'")
                             << cannotSend + QStringLiteral("U+00E9 'é' at 4");
    QTest::newRow("euro sign after a code, each named")
        << QStringLiteral("check 1 --text 'é[13]€'")
        << cannotSend + QStringLiteral("U+00E9 'é' at 1, U+20AC '€' at 6");
    QTest::newRow("emoji counted as one character")
        << QStringLiteral("answer 1 --text '😀x€'")
        << cannotSend + QStringLiteral("U+1F600 '😀' at 1, U+20AC '€' at 3");
    QTest::newRow("invalid UTF-8, as Qt reads it")
        << QStringLiteral("send 1 --text 'A\uFFFD'")
        << cannotSend + QStringLiteral("U+FFFD '\uFFFD' at 2");
    QTest::newRow("wave dash, where code page 932 has the full-width tilde")
        << QStringLiteral("send 1 --text '～〜'")
        << cannotSend + QStringLiteral("U+301C '〜' at 2");
    QTest::newRow("control character named by its code only")
        << QStringLiteral("send 1 --text 'A\u0085'") << cannotSend + QStringLiteral("U+0085 at 2");
    QTest::newRow("past ten, only counted")
        << QStringLiteral("send 1 --text 'éééééééééééé'")
        << cannotSend +
               QStringLiteral("U+00E9 'é' at 1, U+00E9 'é' at 2, U+00E9 'é' at 3, U+00E9 'é' at "
                              "4, U+00E9 'é' at 5, U+00E9 'é' at 6, U+00E9 'é' at 7, U+00E9 'é' "
                              "at 8, U+00E9 'é' at 9, U+00E9 'é' at 10 and 2 more");
    QTest::newRow("count of 0")
        << "check 1 --text A --count 0"
        << "--count must be a whole number from 1 to 9223372036854775807, not \"0\"";
    QTest::newRow("negative count")
        << "check 1 --text A --count -3"
        << "--count must be a whole number from 1 to 9223372036854775807, not \"-3\"";
    QTest::newRow("count not a number")
        << "check 1 --text A --count ten"
        << "--count must be a whole number from 1 to 9223372036854775807, not \"ten\"";
    QTest::newRow("count beyond the largest")
        << "check 1 --text A --count 9223372036854775808"
        << "--count must be a whole number from 1 to 9223372036854775807, not "
           "\"9223372036854775808\"";
    QTest::newRow("text given twice") << "check 1 --text A --text B"
                                      << "--text is given more than once";
    QTest::newRow("a flag given twice") << "check 1 --text A --precise --precise"
                                        << "--precise is given more than once";
    QTest::newRow("count and duration") << "check 1 --text A --count 5 --duration 1m"
                                        << "--count and --duration cannot be given together";
    QTest::newRow("negative interval") << "check 1 --text A --interval -100"
                                       << "--interval must be a time from 1 ms to 596h31m23s647ms, "
                                          "such as 1000 (ms), 500ms or 2s, not "
                                          "\"-100\"";
    QTest::newRow("interval of 0") << "check 1 --text A --interval 0"
                                   << "--interval must be a time from 1 ms to 596h31m23s647ms, "
                                      "such as 1000 (ms), 500ms or 2s, not "
                                      "\"0\"";
    QTest::newRow("fractional timeout") << "check 1 --text A --timeout 1.5s"
                                        << "--timeout must be a time from 1 ms to 596h31m23s647ms, "
                                           "such as 1000 (ms), 500ms or 2s, not "
                                           "\"1.5s\"";
    QTest::newRow("duration without a unit")
        << "check 1 --text A --duration 8"
        << "--duration must be a time from 1 ms to 596h31m23s647ms, such as 500ms, 2s, 10m or 8h, "
           "not \"8\"";
    QTest::newRow("duration beyond a timer")
        << "check 1 --text A --duration 597h"
        << "--duration must be a time from 1 ms to 596h31m23s647ms, such as 500ms, 2s, 10m or 8h, "
           "not "
           "\"597h\"";
    QTest::newRow("unknown time unit") << "receive 1 --for 2d"
                                       << "--for must be a time from 1 ms to 596h31m23s647ms, such "
                                          "as 500ms, 2s, 10m or 8h, not \"2d\"";
    QTest::newRow("option of another command") << "answer 1 --text A --count 3"
                                               << "--count does not apply to answer";
    QTest::newRow("log for send") << "send 1 --text A --log x.csv"
                                  << "--log does not apply to send";
    QTest::newRow("empty log name") << "check 1 --text A --log ''"
                                    << "--log needs a file name";
    QTest::newRow("baud of 0") << "check 1 --text A --baud 0"
                               << "--baud must be a whole number from 1 to 2147483647, not \"0\"";
    QTest::newRow("baud beyond 32 bits")
        << "check 1 --text A --baud 2147483648"
        << "--baud must be a whole number from 1 to 2147483647, not \"2147483648\"";
    QTest::newRow("9 data bits") << "check 1 --text A --data-bits 9"
                                 << "--data-bits must be 5, 6, 7 or 8, not \"9\"";
    QTest::newRow("parity word") << "check 1 --text A --parity even"
                                 << "--parity must be N, E, O, M or S, not \"even\"";
    QTest::newRow("3 stop bits") << "check 1 --text A --stop-bits 3"
                                 << "--stop-bits must be 1, 1.5 or 2, not \"3\"";
    QTest::newRow("negative --max-errors")
        << "check 1 --text A --max-errors -1"
        << "--max-errors must be a whole number from 0 to 9223372036854775807, not \"-1\"";
    QTest::newRow("--max-lost not a number")
        << "check 1 --text A --max-lost few"
        << "--max-lost must be a whole number from 0 to 9223372036854775807, not \"few\"";
    QTest::newRow("--max-p95 of 0")
        << "check 1 --text A --max-p95 0"
        << "--max-p95 must be a number of ms above 0, such as 10 or 12.5, not \"0\"";
    QTest::newRow("--crit-p95 with a unit")
        << "check 1 --text A --format nagios --crit-p95 10ms"
        << "--crit-p95 must be a number of ms above 0, such as 10 or 12.5, not \"10ms\"";
    QTest::newRow("--warn-p95 with two points")
        << "check 1 --text A --format nagios --warn-p95 1.2.3"
        << "--warn-p95 must be a number of ms above 0, such as 10 or 12.5, not \"1.2.3\"";
    QTest::newRow("limit of another command") << "answer 1 --text A --max-lost 3"
                                              << "--max-lost does not apply to answer";
    QTest::newRow("format of another command") << "receive 1 --format json"
                                               << "--format does not apply to receive";
    QTest::newRow("unknown format") << "check 1 --text A --format xml"
                                    << "--format must be text, json or nagios, not \"xml\"";
    QTest::newRow("warning limit outside the nagios format")
        << "check 1 --text A --format json --warn-lost 1"
        << "--warn-lost applies to --format nagios only";
    QTest::newRow("--max and --crit of one figure")
        << "check 1 --text A --format nagios --max-errors 1 --crit-errors 2"
        << "--max-errors and --crit-errors cannot be given together";
    QTest::newRow("warning above the critical limit")
        << "check 1 --text A --format nagios --warn-p95 30 --max-p95 20.5"
        << "--warn-p95 30 is above --max-p95 20.5";
    QTest::newRow("unknown flow") << "check 1 --text A --flow dtr"
                                  << "--flow must be none, xon, rts or rts+xon, not \"dtr\"";
    QTest::newRow("monitor without its file")
        << "monitor"
        << "monitor needs a CONFIG file (the INI file naming the lines to check)";
    QTest::newRow("monitor with two files") << "monitor a.ini b.ini"
                                            << "unexpected argument \"b.ini\"";
    QTest::newRow("text for monitor, which has it in the file")
        << "monitor a.ini --text A"
        << "--text does not apply to monitor";
    QTest::newRow("line settings for monitor") << "monitor a.ini --baud 9600"
                                               << "--baud does not apply to monitor";
    QTest::newRow("interval for monitor") << "monitor a.ini --interval 1s"
                                          << "--interval does not apply to monitor";
    QTest::newRow("reconnect for monitor, which always does")
        << "monitor a.ini --reconnect"
        << "--reconnect does not apply to monitor";
    QTest::newRow("reconnect for answer") << "answer 1 --text A --reconnect"
                                          << "--reconnect does not apply to answer";
    QTest::newRow("reconnect given twice") << "check 1 --text A --reconnect --reconnect"
                                           << "--reconnect is given more than once";
    QTest::newRow("metrics address for check") << "check 1 --text A --metrics-listen :9717"
                                               << "--metrics-listen does not apply to check";
    QTest::newRow("metrics address given twice")
        << "monitor a.ini --metrics-listen 127.0.0.1:1 --metrics-listen 127.0.0.1:2"
        << "--metrics-listen is given more than once";
    const QString listenReason = QStringLiteral(
        "--metrics-listen must be HOST:PORT, HOST an IPv4 address, a bracketed IPv6 address or "
        "a name and PORT from 0 (any free port) to 65535, such as 127.0.0.1:9717, [::1]:9717 or "
        "localhost:9717, not ");
    const QList<std::pair<const char *, const char *>> badAddresses = {
        {"metrics address without a port", "127.0.0.1"},
        {"metrics port beyond 65535", "127.0.0.1:65536"},
        {"metrics port as a service name", "localhost:http"},
        {"metrics port empty", "localhost:"},
        {"metrics port negative", "localhost:-1"},
        {"metrics host empty", ":9717"},
        {"IPv6 without brackets", "::1:9717"},
        {"IPv4 address in brackets", "[127.0.0.1]:9717"},
        {"IPv4 part above 255", "256.0.0.1:9717"},
        {"IPv4 with three parts", "127.0.1:9717"},
        {"IPv4 part with a leading 0", "127.0.0.010:9717"},
        {"host name with an underscore", "plant_7:9717"},
        {"host name with an empty label", "plant..example:9717"},
        {"host name label ending in a hyphen", "plant-.example:9717"},
        {"URL instead of an address", "http://127.0.0.1:9717"},
    };
    for (const auto &[name, address] : badAddresses)
        QTest::newRow(name)
            << QStringLiteral("monitor a.ini --metrics-listen '%1'").arg(QLatin1String(address))
            << listenReason + u'"' + QLatin1String(address) + u'"';
}

void CommandLineTest::refusesBadInput()
{
    QFETCH(QString, line);
    QFETCH(QString, reason);

    CommandLine commandLine;
    const CommandLine::Result result = commandLine.parse(argumentsOf(line));
    QCOMPARE(result.action, CommandLine::Action::Refuse);
    QCOMPARE(result.error, reason);
}

QTEST_GUILESS_MAIN(CommandLineTest)
#include "tst_CommandLine.moc"
