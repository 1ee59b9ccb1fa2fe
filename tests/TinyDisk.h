#pragma once

#include <QString>
#include <QTemporaryDir>

// A disk of a few pages that a test can fill: a tmpfs of the size asked for,
// mounted on a temporary folder for as long as this lives, then unmounted
// and removed. Mounting takes root; isValid() says whether it worked.
class TinyDisk {
public:
    explicit TinyDisk(qint64 bytes);
    ~TinyDisk();
    TinyDisk(const TinyDisk &) = delete;
    TinyDisk &operator=(const TinyDisk &) = delete;

    bool isValid() const { return mounted_; }
    QString error() const { return error_; }
    QString filePath(const QString &name) const { return dir_.filePath(name); }

    // Writes `name` until the disk takes no more; false, with the reason in
    // error(), when it stopped for another reason.
    bool fill(const QString &name);

private:
    QTemporaryDir dir_;
    bool mounted_ = false;
    QString error_;
};
