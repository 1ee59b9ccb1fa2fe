#include "LineSettings.h"

#include <QStringList>

#include <limits>

namespace {

bool isAsciiDigits(const QString &text)
{
    if (text.isEmpty())
        return false;
    // QChar::isDigit would also take other scripts' digits, which no device
    // settings text contains.
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return false;
    }
    return true;
}

std::optional<qint32> parseBaud(const QString &text)
{
    if (!isAsciiDigits(text))
        return std::nullopt;
    bool ok = false;
    const qulonglong value = text.toULongLong(&ok);
    if (!ok || value == 0 || value > qulonglong(std::numeric_limits<qint32>::max()))
        return std::nullopt;
    return qint32(value);
}

std::optional<char> parseParity(const QString &text)
{
    if (text.size() != 1)
        return std::nullopt;
    const char c = text.at(0).toUpper().toLatin1();
    switch (c) {
    case 'N':
    case 'E':
    case 'O':
    case 'M':
    case 'S':
        return c;
    default:
        return std::nullopt;
    }
}

std::optional<int> parseDataBits(const QString &text)
{
    if (text.size() != 1 || text.at(0) < u'5' || text.at(0) > u'8')
        return std::nullopt;
    return text.at(0).unicode() - u'0';
}

std::optional<LineSettings::StopBits> parseStopBits(const QString &text)
{
    if (text == u"1")
        return LineSettings::StopBits::One;
    if (text == u"1.5")
        return LineSettings::StopBits::OneAndHalf;
    if (text == u"2")
        return LineSettings::StopBits::Two;
    return std::nullopt;
}

QString stopBitsText(LineSettings::StopBits stopBits)
{
    switch (stopBits) {
    case LineSettings::StopBits::One:
        return QStringLiteral("1");
    case LineSettings::StopBits::OneAndHalf:
        return QStringLiteral("1.5");
    case LineSettings::StopBits::Two:
        return QStringLiteral("2");
    }
    return QStringLiteral("1");
}

} // namespace

std::optional<LineSettings> LineSettings::parse(const QString &text)
{
    const QStringList fields = text.split(u',');
    if (fields.size() != 4)
        return std::nullopt;

    const auto baud = parseBaud(fields.at(0).trimmed());
    const auto parity = parseParity(fields.at(1).trimmed());
    const auto dataBits = parseDataBits(fields.at(2).trimmed());
    const auto stopBits = parseStopBits(fields.at(3).trimmed());
    if (!baud || !parity || !dataBits || !stopBits)
        return std::nullopt;

    LineSettings line;
    line.baudRate = *baud;
    line.parity = *parity;
    line.dataBits = *dataBits;
    line.stopBits = *stopBits;
    return line;
}

std::optional<LineSettings::FlowControl> LineSettings::flowControlFromCode(int code)
{
    if (code < int(FlowControl::None) || code > int(FlowControl::RtsCtsXonXoff))
        return std::nullopt;
    return FlowControl(code);
}

QString LineSettings::toString() const
{
    return QStringLiteral("%1,%2,%3,%4")
        .arg(baudRate)
        .arg(QLatin1Char(parity))
        .arg(dataBits)
        .arg(stopBitsText(stopBits));
}

double LineSettings::bitsPerCharacter() const
{
    double stop = 1.0;
    switch (stopBits) {
    case StopBits::One:
        break;
    case StopBits::OneAndHalf:
        stop = 1.5;
        break;
    case StopBits::Two:
        stop = 2.0;
        break;
    }
    return 1.0 + dataBits + (parity == 'N' ? 0.0 : 1.0) + stop;
}

bool LineSettings::usesRtsCts() const
{
    return flowControl == FlowControl::RtsCts || flowControl == FlowControl::RtsCtsXonXoff;
}

bool LineSettings::usesXonXoff() const
{
    return flowControl == FlowControl::XonXoff || flowControl == FlowControl::RtsCtsXonXoff;
}
