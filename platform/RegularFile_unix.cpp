#include "RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

bool isRegular(const char *path)
{
    struct stat info {};
    return ::stat(path, &info) == 0 && S_ISREG(info.st_mode);
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
    struct stat info {};
    if (::stat(name.constData(), &info) != 0) {
        // Nothing there: a new file (a link to nothing makes its target).
        if (errno == ENOENT)
            return path;
        *error = qt_error_string(errno);
        return std::nullopt;
    }
    if (S_ISDIR(info.st_mode)) {
        *error = qt_error_string(EISDIR);
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {
        *error = QStringLiteral("通常のファイルではありません。");
        return std::nullopt;
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
