#include "RegularFile.h"

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
