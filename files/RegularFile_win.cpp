#include "RegularFile.h"

#include <QDir>
#include <QFileInfo>

// What Qt does not see as a file (a folder, a device name) is refused; the
// type of an open Windows handle is not looked at again.
RegularFile::RegularFile(const QString &path)
{
    if (!QFileInfo(path).isFile())
        return;
    file_.setFileName(path);
    file_.open(QIODevice::ReadOnly);
}

RegularFile::~RegularFile() = default;

std::optional<QString> RegularFile::saveTarget(const QString &path, QString *error)
{
    const QFileInfo info(path);
    if (!info.exists())
        return path;
    if (!info.isFile()) {
        *error = QStringLiteral("通常のファイルではありません。");
        return std::nullopt;
    }
    const QString target = info.canonicalFilePath();
    return target.isEmpty() ? path : target;
}

bool RegularFile::openToAppend(const QString &path, QFile &file, QString *error)
{
    const QFileInfo info(path);
    if (info.isSymLink() && !info.exists()) {
        *error = QStringLiteral("a symbolic link to %1, which does not exist")
                     .arg(QDir::toNativeSeparators(info.symLinkTarget()));
        return false;
    }
    if (info.exists() && !info.isFile()) {
        *error = info.isDir() ? QStringLiteral("a folder, not a regular file")
                              : QStringLiteral("not a regular file");
        return false;
    }
    const QString target = info.exists() ? info.canonicalFilePath() : QString();
    file.setFileName(target.isEmpty() ? path : target);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered)) {
        *error = file.errorString();
        return false;
    }
    return true;
}
