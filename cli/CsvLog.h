#pragma once

#include <QDateTime>
#include <QFile>
#include <QString>
#include <QStringList>

// A log of exchanges as CSV (RFC 4180: fields quoted where needed, CR LF line
// ends), in UTF-8. Each row goes to the system in one write as it is added,
// so a run killed at any moment leaves every row it finished readable. A log
// that exists is added to; the header row is written only into an empty one.
class CsvLog {
public:
    // time, sequence, response_ms, outcome, received
    static const QStringList kColumns;

    // Opens (or creates) the file for adding rows; false, with a reason in
    // errorString(), when it cannot be written.
    bool open(const QString &path);
    bool isOpen() const { return file_.isOpen(); }
    QString errorString() const { return error_; }

    // False when the row did not reach the file (disk full, file gone).
    bool addRow(const QStringList &fields);

    // A field as RFC 4180 writes it: quoted, its quotes doubled, when it holds
    // a comma, a double quote, a CR or an LF.
    //   quoted(u"a,b") == u"\"a,b\""      quoted(u"5\"") == u"\"5\"\"\""
    static QString quoted(const QString &field);

    // ISO 8601 local time with milliseconds and the offset from UTC:
    // "2024-05-01T23:59:58.123+09:00".
    static QString timeText(const QDateTime &at);

private:
    QFile file_;
    QString error_;
};
