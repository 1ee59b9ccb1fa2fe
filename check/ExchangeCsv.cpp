#include "ExchangeCsv.h"

const QStringList ExchangeCsv::kColumns = {QStringLiteral("time"), QStringLiteral("sequence"),
                                           QStringLiteral("response_ms"), QStringLiteral("outcome"),
                                           QStringLiteral("received")};

QStringList ExchangeCsv::fields(const Exchange &exchange)
{
    return {timeText(exchange.at), QString::number(exchange.sequence),
            QString::number(exchange.responseMs, 'f', 3), Exchange::outcomeName(exchange.outcome),
            receivedField(exchange.received)};
}

QString ExchangeCsv::receivedField(const QString &received)
{
    if (received.size() <= kMostReceived)
        return received;
    // The longest bracketed code, "[-32096]" and the like.
    constexpr qsizetype kLongestCode = 8;
    qsizetype kept = kMostReceived;
    // Half a code ("[-32", "[1") would read as characters that never came.
    const qsizetype open = received.lastIndexOf(u'[', kept - 1);
    if (open >= 0 && kept - open < kLongestCode) {
        const qsizetype close = received.indexOf(u']', open);
        if (close < 0 || close >= kept)
            kept = open;
    }
    if (kept > 0 && received.at(kept - 1).isHighSurrogate())
        --kept;
    return received.left(kept) + QStringLiteral("…[cut: %1 more]").arg(received.size() - kept);
}

QString ExchangeCsv::line(const QStringList &fields)
{
    QString text;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            text += u',';
        text += quoted(fields.at(i));
    }
    text += QStringLiteral("\r\n");
    return text;
}

QString ExchangeCsv::quoted(const QString &field)
{
    static const QString kSpecial = QStringLiteral(",\"\r\n");
    bool needsQuotes = false;
    for (QChar c : field)
        needsQuotes = needsQuotes || kSpecial.contains(c);
    if (!needsQuotes)
        return field;
    QString text = field;
    text.replace(u'"', QStringLiteral("\"\""));
    return u'"' + text + u'"';
}

QString ExchangeCsv::timeText(const QDateTime &at)
{
    // A local time alone is ambiguous for an hour each autumn; the offset
    // keeps a night's rows in order across a clock change.
    return at.toOffsetFromUtc(at.offsetFromUtc()).toString(Qt::ISODateWithMs);
}
