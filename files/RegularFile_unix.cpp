#include "RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

bool isRegular(const char *path)
{
    struct stat info {};
    return ::stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

// What a path names, symbolic links followed, as a save or a log sees it.
enum class Found { Nothing, LinkToNothing, Regular, Folder, Other, Failed };

Found lookAt(const char *path, mode_t *mode, int *error)
{
    struct stat info {};
    if (::stat(path, &info) != 0) {
        *error = errno;
        if (*error != ENOENT)
            return Found::Failed;
        // stat follows a link, lstat does not: a link whose target is missing.
        struct stat link {};
        return ::lstat(path, &link) == 0 ? Found::LinkToNothing : Found::Nothing;
    }
    *mode = info.st_mode;
    if (S_ISDIR(info.st_mode))
        return Found::Folder;
    return S_ISREG(info.st_mode) ? Found::Regular : Found::Other;
}

// Why a log is not kept in what `mode` is, in the command line's words.
QString notRegular(mode_t mode)
{
    const char *kind = S_ISFIFO(mode)   ? "a FIFO"
                       : S_ISCHR(mode)  ? "a character device"
                       : S_ISBLK(mode)  ? "a block device"
                       : S_ISSOCK(mode) ? "a socket"
                                        : "something";
    return QStringLiteral("%1, not a regular file").arg(QLatin1String(kind));
}

QString linkToNothing(const char *path)
{
    char target[PATH_MAX];
    const ssize_t size = ::readlink(path, target, sizeof target);
    if (size <= 0 || size >= ssize_t(sizeof target))
        return QStringLiteral("a symbolic link to nothing");
    return QStringLiteral("a symbolic link to %1, which does not exist")
        .arg(QFile::decodeName(QByteArray(target, size)));
}

} // namespace

RegularFile::RegularFile(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    // Looked at first, so that a device is not even opened; the type of what
    // was opened is checked again below, as the path may change in between.
    if (!isRegular(name.constData()))
        return;
    // Without O_NONBLOCK, opening a FIFO waits for a writer.
    handle_ = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (handle_ < 0)
        return;
    struct stat info {};
    const int flags = ::fcntl(handle_, F_GETFL);
    // A regular file never makes a read wait; plain blocking reads from here.
    if (::fstat(handle_, &info) != 0 || !S_ISREG(info.st_mode) || flags == -1 ||
        ::fcntl(handle_, F_SETFL, flags & ~O_NONBLOCK) == -1 ||
        !file_.open(handle_, QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) {
        ::close(handle_);
        handle_ = -1;
    }
}

RegularFile::~RegularFile()
{
    file_.close();
    if (handle_ >= 0)
        ::close(handle_);
}

std::optional<QString> RegularFile::saveTarget(const QString &path, QString *error)
{
    const QByteArray name = QFile::encodeName(path);
    mode_t mode = 0;
    int reason = 0;
    switch (lookAt(name.constData(), &mode, &reason)) {
    case Found::Nothing:
    case Found::LinkToNothing:
        // A new file (a link to nothing makes its target).
        return path;
    case Found::Failed:
        *error = qt_error_string(reason);
        return std::nullopt;
    case Found::Folder:
        *error = qt_error_string(EISDIR);
        return std::nullopt;
    case Found::Other:
        *error = QStringLiteral("通常のファイルではありません。");
        return std::nullopt;
    case Found::Regular:
        break;
    }
    // The link's target is replaced and the link kept, rather than a new
    // file renamed over the link.
    char *resolved = ::realpath(name.constData(), nullptr);
    if (!resolved) {
        *error = qt_error_string(errno);
        return std::nullopt;
    }
    const QString target = QFile::decodeName(resolved);
    std::free(resolved);
    return target;
}

bool RegularFile::openToAppend(const QString &path, QFile &file, QString *error)
{
    const QByteArray name = QFile::encodeName(path);
    int flags = O_RDWR | O_APPEND | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    mode_t mode = 0;
    int reason = 0;
    switch (lookAt(name.constData(), &mode, &reason)) {
    case Found::Nothing:
        // O_EXCL: whatever appears at the path meanwhile (a link, a FIFO) is
        // refused rather than followed.
        flags |= O_CREAT | O_EXCL;
        break;
    case Found::LinkToNothing:
        *error = linkToNothing(name.constData());
        return false;
    case Found::Failed:
        *error = qt_error_string(reason);
        return false;
    case Found::Folder:
        *error = qt_error_string(EISDIR);
        return false;
    case Found::Other:
        *error = notRegular(mode);
        return false;
    case Found::Regular:
        break;
    }
    // Should the path have become a FIFO since it was looked at, O_NONBLOCK
    // has the open fail or return at once instead of waiting for a reader;
    // what was opened is looked at again.
    const int handle = ::open(name.constData(), flags, 0666);
    if (handle < 0) {
        *error = qt_error_string(errno);
        return false;
    }
    struct stat info {};
    const int status = ::fcntl(handle, F_GETFL);
    if (::fstat(handle, &info) != 0 || status == -1 ||
        ::fcntl(handle, F_SETFL, status & ~O_NONBLOCK) == -1) {
        *error = qt_error_string(errno);
        ::close(handle);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        *error = notRegular(info.st_mode);
        ::close(handle);
        return false;
    }
    if (!file.open(handle, QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered,
                   QFileDevice::AutoCloseHandle)) {
        *error = file.errorString();
        ::close(handle);
        return false;
    }
    return true;
}
