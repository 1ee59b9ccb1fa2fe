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
    void setCancelError(bool cancelError) { cancelError_ = cancelError; }
    bool cancelError() const { return cancelError_; }

    void setFlags(int flags) { flags_ = flags; }
    int flags() const { return flags_; }

    // Description|pattern pairs, e.g. "TXT(*.txt)|*.txt"; several patterns
    // in one pair are separated by ';'.
    void setFilter(const QString &filter) { filter_ = filter; }
    QString filter() const { return filter_; }

    // Lets the user pick an existing file or type a new name, as set up by
    // the properties above. Returns false when the user cancelled;
    // fileName() is then empty.
    virtual bool showOpen() = 0;

    // The full path of the file chosen by the last showOpen().
    QString fileName() const { return fileName_; }

    // Tells the user, over the window, that what they chose the file for
    // failed; returns once they have read it.
    virtual void showError(const QString &message) = 0;

protected:
    void setFileName(const QString &path) { fileName_ = path; }

private:
    bool cancelError_ = false;
    int flags_ = 0;
    QString filter_;
    QString fileName_;
};
