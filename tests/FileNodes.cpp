#include "FileNodes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace FileNodes {

QString makeNode(const QString &path, Node kind)
{
    const QByteArray name = QFile::encodeName(path);
    int made = -1;
    switch (kind) {
    case Node::Fifo:
        made = ::mkfifo(name.constData(), 0666);
        break;
    case Node::NullDevice:
        made = ::mknod(name.constData(), S_IFCHR | 0666, makedev(1, 3));
        break;
    case Node::RandomDevice:
        made = ::mknod(name.constData(), S_IFCHR | 0444, makedev(1, 9));
        break;
    case Node::Folder:
        made = ::mkdir(name.constData(), 0755);
        break;
    }
    return made == 0 ? QString()
                     : QStringLiteral("cannot make %1: %2")
                           .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
}

QString makeLink(const QString &target, const QString &link)
{
    if (::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()) == 0)
        return {};
    return QStringLiteral("cannot link %1: %2")
        .arg(link, QString::fromLocal8Bit(std::strerror(errno)));
}

QString makeNodeToChoose(const QString &nodePath, Node kind, bool throughLink, QString *problem)
{
    *problem = makeNode(nodePath, kind);
    if (!problem->isEmpty() || !throughLink)
        return nodePath;
    const QFileInfo node(nodePath);
    const QString link = node.dir().filePath(QStringLiteral("link.txt"));
    *problem = makeLink(node.fileName(), link);
    return link;
}

QString nodeAt(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};
    if (::lstat(name.constData(), &info) != 0)
        return QStringLiteral("nothing");
    if (S_ISLNK(info.st_mode)) {
        char target[PATH_MAX];
        const ssize_t size = ::readlink(name.constData(), target, sizeof target);
        return QStringLiteral("link to ") +
               QString::fromLocal8Bit(target, std::max<ssize_t>(size, 0));
    }
    if (S_ISFIFO(info.st_mode))
        return QStringLiteral("fifo");
    if (S_ISCHR(info.st_mode))
        return QStringLiteral("character device %1,%2")
            .arg(major(info.st_rdev))
            .arg(minor(info.st_rdev));
    if (S_ISDIR(info.st_mode))
        return QStringLiteral("folder");
    return S_ISREG(info.st_mode) ? QStringLiteral("regular file") : QStringLiteral("other");
}

QStringList openFilesUnder(const QString &dir)
{
    QStringList open;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    const QString prefix = QFileInfo(dir).canonicalFilePath() + u'/';
    for (const QFileInfo &fd : fds.entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
        const QString target = fd.symLinkTarget();
        if (target.startsWith(prefix))
            open << target;
    }
    return open;
}

} // namespace FileNodes
