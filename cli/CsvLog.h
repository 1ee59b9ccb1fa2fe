#pragma once

#include <QFile>
#include <QString>
#include <QStringList>

// A log of exchanges as CSV (the rows of ExchangeCsv), in UTF-8. Each row
// goes to the system in one write as it is added, so a run killed at any
// moment leaves every row it finished readable, and a row that does not fit
// (a full disk) is taken back whole, so the file always ends on a whole row.
// A log that exists is added to, after its last line is ended should it end
// in part of a row; the header row is written only into an empty one. Only
// a regular file is kept as a log.
class CsvLog {
public:
    // Opens (or creates) the file for adding rows; false, with a reason in
    // errorString(), when it cannot be written or is not a regular file.
    bool open(const QString &path);
    bool isOpen() const { return file_.isOpen(); }
    QString errorString() const { return error_; }

    // False, with the system's reason in errorString(), when the row did not
    // reach the file (disk full, file gone); none of it is left in the file.
    bool addRow(const QStringList &fields);

private:
    // Writes `bytes` at the end whole, or takes back what part of them went.
    bool append(const QByteArray &bytes);
    // What ends the part of a row the file ends in, if it does: empty when it
    // ends on a whole line.
    QByteArray endOfLastRow();

    QFile file_;
    QString path_;
    QString error_;
};
