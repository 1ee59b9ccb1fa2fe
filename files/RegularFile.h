#pragma once

#include <QFile>
#include <QString>

#include <optional>

// The file buttons and the command line's log deal in regular files only. A
// save never replaces a device, FIFO, socket or folder, a load never opens
// one, and a log is never added to one: opening a FIFO with no reader or
// writer, or reading a device, could hold the program forever.
class RegularFile {
public:
    // Opens `path` for reading if it is a regular file (symbolic links
    // followed), without ever waiting on what the path names; anything else
    // is refused. isOpen() tells which.
    explicit RegularFile(const QString &path);
    ~RegularFile();
    RegularFile(const RegularFile &) = delete;
    RegularFile &operator=(const RegularFile &) = delete;

    bool isOpen() const { return file_.isOpen(); }
    QIODevice &device() { return file_; }

    // Where a save to `path` writes: the regular file it names, symbolic
    // links followed, or `path` itself when nothing is there yet. Nothing,
    // with the reason in `error`, when the path names something other than a
    // regular file or cannot be looked up.
    static std::optional<QString> saveTarget(const QString &path, QString *error);

    // Opens `file` for reading and adding at its end, as a log is kept: the
    // regular file `path` names, symbolic links followed, or a new one where
    // nothing at all is (a link to nothing is refused rather than its target
    // made). Never waits on what the path names. False, with the reason in
    // `error` (in English, for the command line), when the path names
    // anything else or the file cannot be opened.
    static bool openToAppend(const QString &path, QFile &file, QString *error);

private:
    QFile file_;
    int handle_ = -1; // held here while file_ reads through it, where the OS has one
};
