#pragma once

#include <QByteArrayView>
#include <QString>

#include <memory>

class QSaveFile;

// A file written whole or not at all, for the saves the user asks for. Only
// a regular file is ever replaced: through a symbolic link, the link's target
// gets the new contents and the link stays. The file is replaced only once
// everything is on disk, so a failed save leaves any earlier file as it was;
// only where no new file can be made beside it is an existing file
// overwritten in place.
//
//   AtomicFile file(path);
//   if (!file.open() || !file.write(bytes) || !file.commit())
//       report(file.errorString());
class AtomicFile {
public:
    explicit AtomicFile(const QString &path);
    // Without commit(), the target stays as it was.
    ~AtomicFile();
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    // False when the path names something other than a regular file or
    // nothing can be written there.
    bool open();
    // Writes on after short writes; false once a write fails, and every
    // later call of write() or commit() fails too.
    bool write(QByteArrayView bytes);
    // Puts the file in place of the target.
    bool commit();

    // The system's reason for the first failure.
    QString errorString() const { return error_; }

private:
    bool fail(const QString &reason);

    QString path_;
    std::unique_ptr<QSaveFile> file_;
    QString error_;
};
