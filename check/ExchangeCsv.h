#pragma once

#include "Exchange.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

// Exchanges as rows of CSV (RFC 4180: fields quoted where needed, CR LF line
// ends), the one form every log of them takes, whichever program writes it:
//   time,sequence,response_ms,outcome,received
//   2024-05-01T23:59:58.123+09:00,7,50.412,ok,
//   2024-05-01T23:59:59.126+09:00,8,500.004,error,"A,B"
class ExchangeCsv {
public:
    // time, sequence, response_ms, outcome, received
    static const QStringList kColumns;

    // The fields of one exchange's row, in the order of kColumns.
    static QStringList fields(const Exchange &exchange);
    // A whole row: the fields quoted as needed, joined by commas, ended by CR LF.
    //   line({"t", "A,B"}) == "t,\"A,B\"\r\n"
    static QString line(const QStringList &fields);

    // A field as RFC 4180 writes it: quoted, its quotes doubled, when it holds
    // a comma, a double quote, a CR or an LF.
    //   quoted(u"a,b") == u"\"a,b\""      quoted(u"5\"") == u"\"5\"\"\""
    static QString quoted(const QString &field);

    // ISO 8601 local time with milliseconds and the offset from UTC:
    // "2024-05-01T23:59:58.123+09:00".
    static QString timeText(const QDateTime &at);
};
