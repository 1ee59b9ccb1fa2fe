#include "ExchangeCsv.h"

const QStringList ExchangeCsv::kColumns = {QStringLiteral("time"), QStringLiteral("sequence"),
                                           QStringLiteral("response_ms"), QStringLiteral("outcome"),
                                           QStringLiteral("received")};

QStringList ExchangeCsv::fields(const Exchange &exchange)
{
    return {timeText(exchange.at), QString::number(exchange.sequence),
            QString::number(exchange.responseMs, 'f', 3), Exchange::outcomeName(exchange.outcome),
            exchange.received};
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
