#include "Console.h"

#include <QDeadlineTimer>

#include <algorithm>
#include <io.h>
#include <windows.h>

namespace Console {

bool isTerminal(std::FILE *stream)
{
    return ::_isatty(::_fileno(stream)) != 0;
}

bool isBackgroundTerminal(const QString &)
{
    return false; // a console has no background to halt a program in
}

qint64 writeBytes(std::FILE *stream, const QByteArray &bytes, std::chrono::milliseconds stall)
{
    const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    // In no-wait mode a write to a pipe takes what fits and returns, where it
    // would otherwise wait for as long as nobody reads.
    DWORD mode = 0;
    const bool pipe =
        ::GetFileType(handle) == FILE_TYPE_PIPE &&
        ::GetNamedPipeHandleStateW(handle, &mode, nullptr, nullptr, nullptr, nullptr, 0);
    if (pipe) {
        DWORD noWait = (mode & ~PIPE_WAIT) | PIPE_NOWAIT;
        ::SetNamedPipeHandleState(handle, &noWait, nullptr, nullptr);
    }
    qint64 done = 0;
    bool failed = false;
    QDeadlineTimer idle(stall);
    while (done < bytes.size()) {
        const DWORD chunk = DWORD(std::min<qint64>(bytes.size() - done, 64 * 1024));
        DWORD written = 0;
        if (!::WriteFile(handle, bytes.constData() + done, chunk, &written, nullptr)) {
            failed = true;
            break;
        }
        if (written > 0) {
            done += written;
            idle.setRemainingTime(stall);
            continue;
        }
        if (!pipe || idle.hasExpired())
            break;
        ::Sleep(10);
    }
    if (pipe)
        ::SetNamedPipeHandleState(handle, &mode, nullptr, nullptr);
    return failed && done == 0 ? -1 : done;
}

} // namespace Console
