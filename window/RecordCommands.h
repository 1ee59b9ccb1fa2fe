#pragma once

#include "FileChooser.h"

#include <QString>

class ExchangeRecord;
class FileDialog;

// Saves the current run's exchanges as a CSV file the user picks through the
// file dialog: the same columns and rows as commcheck-cli --log, in UTF-8,
// the file replaced only once it is whole, like the receive box's save. A
// save that fails after a file was chosen says so.
class RecordCommands {
public:
    RecordCommands(const ExchangeRecord &record, FileDialog &dialog);

    void save();

    // The filter the dialog is given.
    static QString filter();

private:
    bool write(const QString &path, QString *error) const;

    const ExchangeRecord &record_;
    FileChooser chooser_;
};
