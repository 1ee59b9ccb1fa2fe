#pragma once

#include <QFile>
#include <QString>
#include <QStringList>

// A log of exchanges as CSV (the rows of ExchangeCsv), in UTF-8. Each row
// goes to the system in one write as it is added, so a run killed at any
// moment leaves every row it finished readable. A log that exists is added
// to; the header row is written only into an empty one. Only a regular file
// is kept as a log.
class CsvLog {
public:
    // Opens (or creates) the file for adding rows; false, with a reason in
    // errorString(), when it cannot be written or is not a regular file.
    bool open(const QString &path);
    bool isOpen() const { return file_.isOpen(); }
    QString errorString() const { return error_; }

    // False when the row did not reach the file (disk full, file gone).
    bool addRow(const QStringList &fields);

private:
    QFile file_;
    QString path_;
    QString error_;
};
