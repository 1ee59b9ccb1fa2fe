#include "NumberText.h"

#include <QRegularExpression>

#include <cfenv>
#include <charconv>
#include <cmath>
#include <iterator>
#include <limits>

namespace NumberText {

namespace {

template <typename Int> std::optional<Int> toInt(const QString &text)
{
    const std::optional<double> value = parse(text);
    if (!value)
        return std::nullopt;
    // nearbyint honours the current rounding mode, which is to-nearest-even
    // unless someone changed it; say so explicitly.
    const int previous = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double rounded = std::nearbyint(*value);
    std::fesetround(previous);
    if (!(rounded >= std::numeric_limits<Int>::min() && rounded <= std::numeric_limits<Int>::max()))
        return std::nullopt; // also refuses NaN and infinities
    return static_cast<Int>(rounded);
}

} // namespace

std::optional<double> parse(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral(
        "^[ \\t]*([+-]?(?:[0-9]+(?:\\.[0-9]*)?|\\.[0-9]+)(?:[eE][+-]?[0-9]+)?)[ \\t]*$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    // The pattern has already vouched for the syntax, so a failed conversion
    // can only be out of range: Qt then gives 0 for an underflow and an
    // infinity for an overflow, which is what the range checks want.
    return match.captured(1).toDouble();
}

std::optional<qint16> toInt16(const QString &text)
{
    return toInt<qint16>(text);
}

std::optional<qint32> toInt32(const QString &text)
{
    return toInt<qint32>(text);
}

QString fromSingle(float value)
{
    if (value == 0.0f)
        return QStringLiteral("0"); // also for -0
    // printf's "%.7G" in the C locale, whatever the user's locale: the
    // statistics are written after every exchange, and std::to_chars does it
    // without parsing a format.
    char text[32];
    const std::to_chars_result written =
        std::to_chars(std::begin(text), std::end(text), static_cast<double>(value),
                      std::chars_format::general, 7);
    for (char *c = text; c != written.ptr; ++c) {
        if (*c >= 'a' && *c <= 'z')
            *c = char(*c - 'a' + 'A'); // "1.234568E+07", "INF"
    }
    return QString::fromLatin1(text, written.ptr - text);
}

} // namespace NumberText
