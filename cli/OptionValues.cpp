#include "OptionValues.h"

#include "BracketCodes.h"
#include "Cp932.h"
#include "DurationText.h"

#include <QHostAddress>

#include <cmath>
#include <limits>

namespace {

using std::chrono::milliseconds;

constexpr qint64 kHighestBaud = std::numeric_limits<qint32>::max();
constexpr qint64 kHighestCount = std::numeric_limits<qint64>::max();

QString quotedValue(const QString &value)
{
    return u'"' + value + u'"';
}

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

QString readText(QString &target, const QString &text)
{
    if (text.isEmpty())
        return QStringLiteral("must not be empty");
    if (BracketCodes::UnescapeCodes(text).isEmpty())
        return QStringLiteral("%1 gives nothing to send").arg(quotedValue(text));
    if (const QString unsendable = unsendableCharacters(text); !unsendable.isEmpty())
        return QStringLiteral("has characters code page 932 cannot send: %1").arg(unsendable);
    target = text;
    return {};
}

// A time: a whole number and a unit, and for the ms options a bare number.
QString readTime(std::optional<milliseconds> &target, const QString &text,
                 std::optional<milliseconds> bareUnit)
{
    const auto parsed = DurationText::parse(text, bareUnit);
    if (!parsed || parsed->count() == 0)
        return QStringLiteral("must be a time from 1 ms to 596h31m23s647ms, such as %1, not %2")
            .arg(bareUnit ? QStringLiteral("1000 (ms), 500ms or 2s")
                          : QStringLiteral("500ms, 2s, 10m or 8h"),
                 quotedValue(text));
    target = parsed;
    return {};
}

// Yes or no, as a file writes it; the command line's flags give "true".
QString readSwitch(bool &target, const QString &text)
{
    const QString word = text.toLower();
    if (word == u"true" || word == u"yes" || word == u"1")
        target = true;
    else if (word == u"false" || word == u"no" || word == u"0")
        target = false;
    else
        return QStringLiteral("must be true or false (or yes, no, 1, 0), not %1")
            .arg(quotedValue(text));
    return {};
}

QString readCount(std::optional<std::uint64_t> &target, const QString &text, qint64 lowest)
{
    const auto n = wholeNumber(text, lowest, kHighestCount);
    if (!n)
        return QStringLiteral("must be a whole number from %1 to %2, not %3")
            .arg(lowest)
            .arg(kHighestCount)
            .arg(quotedValue(text));
    target = std::uint64_t(*n);
    return {};
}

QString readP95(std::optional<double> &target, const QString &text)
{
    const auto ms = positiveMs(text);
    if (!ms)
        return QStringLiteral("must be a number of ms above 0, such as 10 or 12.5, not %1")
            .arg(quotedValue(text));
    target = *ms;
    return {};
}

QString readFormat(CliOptions::Format &target, const QString &text)
{
    if (text == u"text")
        target = CliOptions::Format::Text;
    else if (text == u"json")
        target = CliOptions::Format::Json;
    else if (text == u"nagios")
        target = CliOptions::Format::Nagios;
    else
        return QStringLiteral("must be text, json or nagios, not %1").arg(quotedValue(text));
    return {};
}

QString readLog(QString &target, const QString &text)
{
    if (text.isEmpty())
        return QStringLiteral("needs a file name");
    target = text;
    return {};
}

// A name a listening socket can be given: letters, digits and hyphens in
// dot-separated labels, as a host name is written; digits and dots alone
// are an IPv4 address.
bool isHostName(const QString &host)
{
    if (host.isEmpty() || host.size() > 253)
        return false;
    const QStringList labels = host.split(u'.');
    for (const QString &label : labels) {
        if (label.isEmpty() || label.size() > 63 || label.startsWith(u'-') || label.endsWith(u'-'))
            return false;
        for (QChar c : label) {
            if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != u'-')
                return false;
        }
    }
    // 999.1.1.1 is a wrong address, not a name.
    return wholeNumber(labels.constLast(), 0, kHighestCount) == std::nullopt;
}

bool isIpv4Address(const QString &host)
{
    const QStringList parts = host.split(u'.');
    if (parts.size() != 4)
        return false;
    for (const QString &part : parts) {
        // 010 would be taken as octal by some and decimal by others.
        if (!wholeNumber(part, 0, 255) || (part.size() > 1 && part.startsWith(u'0')))
            return false;
    }
    return true;
}

// HOST:PORT, HOST an IPv4 address, a bracketed IPv6 address or a name; the
// host is kept without its brackets.
QString readListenAddress(CliOptions &options, const QString &text)
{
    const QString reason =
        QStringLiteral("must be HOST:PORT, HOST an IPv4 address, a bracketed IPv6 address or "
                       "a name and PORT from 0 (any free port) to 65535, such as "
                       "127.0.0.1:9717, [::1]:9717 or localhost:9717, not %1")
            .arg(quotedValue(text));
    const qsizetype colon = text.lastIndexOf(u':');
    if (colon < 0)
        return reason;
    QString host = text.left(colon);
    const auto port = wholeNumber(text.mid(colon + 1), 0, 65535);
    if (!port)
        return reason;
    if (host.startsWith(u'[') && host.endsWith(u']')) {
        host = host.mid(1, host.size() - 2);
        QHostAddress address;
        if (!address.setAddress(host) ||
            address.protocol() != QAbstractSocket::NetworkLayerProtocol::IPv6Protocol)
            return reason;
    } else if (!isIpv4Address(host) && !isHostName(host)) {
        return reason;
    }
    options.metricsHost = host;
    options.metricsPort = quint16(*port);
    return {};
}

QString readLineSetting(LineSettings &line, const QString &name, const QString &text)
{
    if (name == u"baud") {
        const auto baud = wholeNumber(text, 1, kHighestBaud);
        if (!baud)
            return QStringLiteral("must be a whole number from 1 to %1, not %2")
                .arg(kHighestBaud)
                .arg(quotedValue(text));
        line.baudRate = qint32(*baud);
    } else if (name == u"data-bits") {
        const auto bits = wholeNumber(text, 5, 8);
        if (!bits)
            return QStringLiteral("must be 5, 6, 7 or 8, not %1").arg(quotedValue(text));
        line.dataBits = int(*bits);
    } else if (name == u"parity") {
        const QString parity = text.toUpper();
        if (parity.size() != 1 || !QStringLiteral("NEOMS").contains(parity))
            return QStringLiteral("must be N, E, O, M or S, not %1").arg(quotedValue(text));
        line.parity = parity.at(0).toLatin1();
    } else if (name == u"stop-bits") {
        if (text == u"1")
            line.stopBits = LineSettings::StopBits::One;
        else if (text == u"1.5")
            line.stopBits = LineSettings::StopBits::OneAndHalf;
        else if (text == u"2")
            line.stopBits = LineSettings::StopBits::Two;
        else
            return QStringLiteral("must be 1, 1.5 or 2, not %1").arg(quotedValue(text));
    } else {
        // In the order of LineSettings::FlowControl.
        static const QStringList kFlows = {QStringLiteral("none"), QStringLiteral("xon"),
                                           QStringLiteral("rts"), QStringLiteral("rts+xon")};
        const auto flowControl =
            LineSettings::flowControlFromCode(int(kFlows.indexOf(text.toLower())));
        if (!flowControl)
            return QStringLiteral("must be none, xon, rts or rts+xon, not %1")
                .arg(quotedValue(text));
        line.flowControl = *flowControl;
    }
    return {};
}

// The limits --max-*, --warn-* and --crit-* set: "max-p95" is the p95 of
// the max limits.
CheckVerdict::Limits *limitsNamed(CheckVerdict::Thresholds &thresholds, const QString &name)
{
    if (name.startsWith(QStringLiteral("max-")))
        return &thresholds.max;
    if (name.startsWith(QStringLiteral("warn-")))
        return &thresholds.warn;
    if (name.startsWith(QStringLiteral("crit-")))
        return &thresholds.crit;
    return nullptr;
}

} // namespace

QString OptionValues::set(CliOptions &options, const QString &name, const QString &text)
{
    if (name == u"text")
        return readText(options.text, text);
    if (name == u"interval") {
        std::optional<milliseconds> interval;
        const QString error = readTime(interval, text, milliseconds(1));
        if (interval)
            options.interval = *interval;
        return error;
    }
    if (name == u"timeout")
        return readTime(options.timeout, text, milliseconds(1));
    if (name == u"duration")
        return readTime(options.duration, text, std::nullopt);
    if (name == u"for")
        return readTime(options.receiveFor, text, std::nullopt);
    if (name == u"count")
        return readCount(options.count, text, 1);
    if (name == u"precise")
        return readSwitch(options.precise, text);
    if (name == u"reconnect")
        return readSwitch(options.reconnect, text);
    if (name == u"format")
        return readFormat(options.format, text);
    if (name == u"log")
        return readLog(options.logPath, text);
    if (name == u"metrics-listen")
        return readListenAddress(options, text);
    if (CheckVerdict::Limits *limits = limitsNamed(options.thresholds, name)) {
        if (name.endsWith(QStringLiteral("-errors")))
            return readCount(limits->errors, text, 0);
        if (name.endsWith(QStringLiteral("-lost")))
            return readCount(limits->lost, text, 0);
        if (name.endsWith(QStringLiteral("-p95")))
            return readP95(limits->p95Ms, text);
    }
    static const QStringList kLineSettings = {QStringLiteral("baud"), QStringLiteral("data-bits"),
                                              QStringLiteral("parity"), QStringLiteral("stop-bits"),
                                              QStringLiteral("flow")};
    if (kLineSettings.contains(name))
        return readLineSetting(options.line, name, text);
    return QStringLiteral("is no option of commcheck-cli");
}
