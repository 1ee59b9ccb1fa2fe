#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

class LineTally;

// The tallies of the watched lines in Prometheus' text exposition format
// (version 0.0.4), as a scrape of /metrics reads them: each family with its
// HELP and TYPE once, then one sample (or, for the response-time histogram,
// its buckets, sum and count) per line, labelled line="<name>", the lines in
// the order given.
namespace MetricsText {

struct Line {
    QString name;           // the line="..." label
    const LineTally *tally; // never null
};

// The Content-Type a scrape is answered with.
inline constexpr char kContentType[] = "text/plain; version=0.0.4; charset=utf-8";

// The whole text, UTF-8.
QByteArray render(const QList<Line> &lines);

// `value` as a label value between double quotes: backslash, double quote
// and line feed escaped.
QByteArray labelValue(const QString &value);
// `value` written so that a reader gets the same double back: an integral
// value without a point ("10"), others in the fewest digits that read back
// exactly ("0.0025"), never an exponent.
QByteArray number(double value);

} // namespace MetricsText
