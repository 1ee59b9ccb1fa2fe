#pragma once

#include <QString>

class FileDialog;

// The file dialog as every file button uses it: set up afresh for each
// choice, a cancel as an empty path, and one message for a save that failed
// after a file was chosen, so that the user does not take an unsaved file for
// a saved one.
class FileChooser {
public:
    explicit FileChooser(FileDialog &dialog);

    // The path the user chose in the dialog shown with `flags`
    // (FileDialog::kOverwritePrompt, ...) and `filter`; empty when they
    // cancelled.
    QString choose(int flags, const QString &filter);

    // Tells the user, through the dialog, that the save to `path` failed and
    // the system's `reason`.
    void saveFailed(const QString &path, const QString &reason);

    // saveFailedMessage("/tmp/a.txt", "No space left on device") ==
    //     "ファイル「/tmp/a.txt」に保存できませんでした。\nNo space left on device"
    static QString saveFailedMessage(const QString &path, const QString &reason);

private:
    FileDialog &dialog_;
};
