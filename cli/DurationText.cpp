#include "DurationText.h"

#include <array>
#include <limits>

namespace DurationText {

namespace {

using std::chrono::milliseconds;

struct Unit {
    const char16_t *name;
    milliseconds length;
};

constexpr std::array<Unit, 4> kUnits = {{
    {u"h", std::chrono::hours(1)},
    {u"m", std::chrono::minutes(1)},
    {u"s", std::chrono::seconds(1)},
    {u"ms", milliseconds(1)},
}};

constexpr qint64 kLongest = std::numeric_limits<int>::max();

} // namespace

std::optional<milliseconds> parse(const QString &text, std::optional<milliseconds> bareUnit)
{
    qsizetype digits = 0;
    while (digits < text.size() && text.at(digits) >= u'0' && text.at(digits) <= u'9')
        ++digits;
    // 10 digits already exceed the longest time in ms; more would overflow.
    if (digits == 0 || digits > 10)
        return std::nullopt;
    const qint64 number = text.left(digits).toLongLong();
    const QStringView unitText = QStringView(text).mid(digits);

    std::optional<milliseconds> unit;
    if (unitText.isEmpty()) {
        unit = bareUnit;
    } else {
        for (const Unit &u : kUnits) {
            if (unitText == QStringView(u.name))
                unit = u.length;
        }
    }
    if (!unit || number > kLongest / unit->count())
        return std::nullopt;
    return milliseconds(number * unit->count());
}

QString format(milliseconds duration)
{
    if (duration.count() == 0)
        return QStringLiteral("0s");
    QString text;
    qint64 left = duration.count();
    for (const Unit &u : kUnits) {
        const qint64 n = left / u.length.count();
        if (n > 0) {
            text += QString::number(n) + QString::fromUtf16(u.name);
            left -= n * u.length.count();
        }
    }
    return text;
}

} // namespace DurationText
