#pragma once

#include <QString>

// The file dialog the file buttons ask for a path, set up through properties
// before it is shown, in the manner of a common-dialog control.
class FileDialog {
public:
    // Flag bits for setFlags().
    static constexpr int kOverwritePrompt = 2; // ask before replacing an existing file
    static constexpr int kHideReadOnly = 4;    // offer no "open read-only" choice

    virtual ~FileDialog();

    // Whether the caller wants a cancel treated as a failure. The dialog
    // only keeps it; showOpen() reports a cancel either way.
    virtual void setCancelError(bool cancelError) = 0;
    virtual bool cancelError() const = 0;

    virtual void setFlags(int flags) = 0;
    virtual int flags() const = 0;

    // Description|pattern pairs, e.g. "TXT(*.txt)|*.txt"; several patterns
    // in one pair are separated by ';'.
    virtual void setFilter(const QString &filter) = 0;
    virtual QString filter() const = 0;

    // Lets the user pick an existing file or type a new name. Returns false
    // when the user cancelled; fileName() is then empty.
    virtual bool showOpen() = 0;

    // The full path of the file chosen by the last showOpen().
    virtual QString fileName() const = 0;
};
