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

    // Received text kept in a row, in characters; a row that would hold more
    // keeps at most this many and ends its text with the mark "…[cut: N more]", N the
    // characters left out. Noise can bring megabytes for a single probe.
    static constexpr qsizetype kMostReceived = 4096;

    // The fields of one exchange's row, in the order of kColumns, its
    // received text as receivedField() keeps it.
    static QStringList fields(const Exchange &exchange);
    // Received text as a row keeps it: whole, or cut to kMostReceived
    // characters and marked. A bracketed code is never split: one that runs
    // past the cut is left out whole. The mark cannot be taken for received
    // text, which shows "…", like every double-byte character, as its code.
    //   receivedField(4000 × "A" + 200 × "[13]") == 4000 × "A" + 24 × "[13]" + "…[cut: 704 more]"
    static QString receivedField(const QString &received);
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
