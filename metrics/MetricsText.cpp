#include "MetricsText.h"

#include "LineTally.h"

#include <QLocale>

#include <cmath>

namespace MetricsText {

namespace {

struct Family {
    const char *name;
    const char *type;
    const char *help;
};

constexpr Family kProbes{"commcheck_probes_total", "counter", "Probes sent on the line."};
constexpr Family kExchanges{"commcheck_exchanges_total", "counter",
                            "Probes whose text came back whole and in time."};
constexpr Family kErrors{"commcheck_errors_total", "counter",
                         "Probes answered with something that cannot match the text sent."};
constexpr Family kLost{"commcheck_lost_total", "counter",
                       "Probes given up with no whole reply in time, or still awaited at the "
                       "end."};
constexpr Family kLate{"commcheck_late_total", "counter",
                       "Whole replies that came after their probe had ended."};
constexpr Family kResponse{"commcheck_response_seconds", "histogram",
                           "Time from a probe sent to its text back, of the exchanges."};
constexpr Family kUp{"commcheck_line_up", "gauge",
                     "1 while the line's port is open, 0 while it is lost or cannot be opened."};
constexpr Family kLastExchange{"commcheck_last_exchange_timestamp_seconds", "gauge",
                               "When the line's last exchange came back, in seconds since 1970 "
                               "(UTC)."};

void head(QByteArray &out, const Family &family)
{
    out += "# HELP ";
    out += family.name;
    out += ' ';
    out += family.help;
    out += "\n# TYPE ";
    out += family.name;
    out += ' ';
    out += family.type;
    out += '\n';
}

// name{line="..."<extra>} value
void sample(QByteArray &out, const char *name, const char *suffix, const QByteArray &label,
            const QByteArray &extra, const QByteArray &value)
{
    out += name;
    out += suffix;
    out += "{line=";
    out += label;
    out += extra;
    out += "} ";
    out += value;
    out += '\n';
}

void counter(QByteArray &out, const Family &family, const QList<Line> &lines,
             const QList<QByteArray> &labels, std::uint64_t (LineTally::*count)() const)
{
    head(out, family);
    for (qsizetype i = 0; i < lines.size(); ++i)
        sample(out, family.name, "", labels[i], {}, QByteArray::number((lines[i].tally->*count)()));
}

// The le="..." of each bucket, the same text on every scrape.
const QList<QByteArray> &bucketLabels()
{
    static const QList<QByteArray> labels = [] {
        QList<QByteArray> made;
        for (double bound : LineTally::kBucketBounds)
            made.append(",le=\"" + number(bound) + '"');
        made.append(QByteArrayLiteral(",le=\"+Inf\""));
        return made;
    }();
    return labels;
}

} // namespace

QByteArray labelValue(const QString &value)
{
    const QByteArray utf8 = value.toUtf8();
    QByteArray quoted;
    quoted.reserve(utf8.size() + 2);
    quoted += '"';
    for (char c : utf8) {
        switch (c) {
        case '\\':
            quoted += "\\\\";
            break;
        case '"':
            quoted += "\\\"";
            break;
        case '\n':
            quoted += "\\n";
            break;
        default:
            quoted += c;
        }
    }
    quoted += '"';
    return quoted;
}

QByteArray number(double value)
{
    if (std::isnan(value))
        return QByteArrayLiteral("NaN");
    if (std::isinf(value))
        return value > 0 ? QByteArrayLiteral("+Inf") : QByteArrayLiteral("-Inf");
    // 'f' with the shortest precision: the fewest digits that read back as
    // the same double, in plain decimals.
    return QByteArray::number(value, 'f', QLocale::FloatingPointShortest);
}

QByteArray render(const QList<Line> &lines)
{
    QList<QByteArray> labels;
    labels.reserve(lines.size());
    for (const Line &line : lines)
        labels.append(labelValue(line.name));

    QByteArray out;
    // About 2 kB a line: the histogram's fifteen buckets make most of it.
    out.reserve(2048 + lines.size() * 2048);
    counter(out, kProbes, lines, labels, &LineTally::probes);
    counter(out, kExchanges, lines, labels, &LineTally::exchanges);
    counter(out, kErrors, lines, labels, &LineTally::errors);
    counter(out, kLost, lines, labels, &LineTally::lost);
    counter(out, kLate, lines, labels, &LineTally::late);

    head(out, kResponse);
    const QList<QByteArray> &le = bucketLabels();
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const LineTally &tally = *lines[i].tally;
        for (std::size_t b = 0; b < LineTally::kBucketBounds.size(); ++b)
            sample(out, kResponse.name, "_bucket", labels[i], le[qsizetype(b)],
                   QByteArray::number(tally.bucket(b)));
        sample(out, kResponse.name, "_bucket", labels[i], le.last(),
               QByteArray::number(tally.exchanges()));
        sample(out, kResponse.name, "_sum", labels[i], {}, number(tally.responseSeconds()));
        sample(out, kResponse.name, "_count", labels[i], {}, QByteArray::number(tally.exchanges()));
    }

    head(out, kUp);
    for (qsizetype i = 0; i < lines.size(); ++i)
        sample(out, kUp.name, "", labels[i], {}, lines[i].tally->up() ? "1" : "0");

    head(out, kLastExchange);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (const auto at = lines[i].tally->lastExchangeAt())
            sample(out, kLastExchange.name, "", labels[i], {}, number(*at));
    }
    return out;
}

} // namespace MetricsText
