#include "AtomicFile.h"

#include "RegularFile.h"

#include <QSaveFile>

AtomicFile::AtomicFile(const QString &path) : path_(path) {}

AtomicFile::~AtomicFile()
{
    if (file_)
        file_->cancelWriting();
}

bool AtomicFile::fail(const QString &reason)
{
    if (error_.isEmpty())
        error_ = reason;
    if (file_) {
        file_->cancelWriting();
        file_.reset();
    }
    return false;
}

bool AtomicFile::open()
{
    QString reason;
    const std::optional<QString> target = RegularFile::saveTarget(path_, &reason);
    if (!target)
        return fail(reason);
    // QSaveFile writes beside the target and renames over it only on commit.
    // In a folder where nothing new may be made but the file itself may be
    // written, it writes into the file instead: the only way such a save can
    // succeed, at the price of the old contents if the write then fails.
    file_ = std::make_unique<QSaveFile>(*target);
    file_->setDirectWriteFallback(true);
    // Unbuffered, and written on after a short write: the write that then
    // fails carries the system's reason (a full disk, a size limit), which a
    // short write or a failure inside commit() does not.
    if (!file_->open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return fail(file_->errorString());
    return true;
}

bool AtomicFile::write(QByteArrayView bytes)
{
    if (!file_)
        return fail(QStringLiteral("not open"));
    for (qsizetype done = 0; done < bytes.size();) {
        const qint64 written = file_->write(bytes.data() + done, bytes.size() - done);
        if (written <= 0)
            return fail(file_->errorString());
        done += written;
    }
    return true;
}

bool AtomicFile::commit()
{
    if (!file_)
        return fail(QStringLiteral("not open"));
    const bool committed = file_->commit();
    const QString reason = file_->errorString();
    file_.reset();
    return committed || fail(reason);
}
