#include "CsvLog.h"

#include "ExchangeCsv.h"
#include "RegularFile.h"

#include <algorithm>
#include <optional>

namespace {

// How far back the start of a last row cut short is looked for. Rows are far
// shorter; past this the row is ended without closing a quoted field.
constexpr qint64 kLongestTail = 16 * 1024 * 1024;
constexpr qint64 kTailPiece = 64 * 1024;

} // namespace

bool CsvLog::open(const QString &path)
{
    path_ = path;
    QString reason;
    if (!RegularFile::openToAppend(path, file_, &reason)) {
        error_ = QStringLiteral("cannot write the log %1: %2").arg(path, reason);
        return false;
    }
    const bool ready = file_.size() == 0 ? append(ExchangeCsv::line(ExchangeCsv::kColumns).toUtf8())
                                         : append(endOfLastRow());
    if (!ready) {
        error_ = QStringLiteral("cannot write the log %1: %2").arg(path, error_);
        file_.close();
    }
    return ready;
}

bool CsvLog::addRow(const QStringList &fields)
{
    if (append(ExchangeCsv::line(fields).toUtf8()))
        return true;
    error_ = QStringLiteral("writing the log %1 failed: %2").arg(path_, error_);
    return false;
}

bool CsvLog::append(const QByteArray &bytes)
{
    const qint64 before = file_.size();
    for (qint64 done = 0; done < bytes.size();) {
        // Written on after a short write: the write that then fails carries
        // the system's reason, which a short write alone does not.
        const qint64 written = file_.write(bytes.constData() + done, bytes.size() - done);
        if (written <= 0) {
            error_ = file_.errorString();
            // Part of a row would run into the next run's first one, and no
            // reader could tell the two apart.
            if (done > 0 && !file_.resize(before))
                error_ += QStringLiteral("; the log ends in part of a row");
            return false;
        }
        done += written;
    }
    return true;
}

QByteArray CsvLog::endOfLastRow()
{
    // A row holds no line break of its own (received text is escaped), so
    // the last row begins after the file's last LF. An odd count of quotes
    // since then leaves a quoted field open, which would take the rows after
    // it in as its text: it is closed first.
    const qint64 size = file_.size();
    std::optional<char> last;
    qint64 quotes = 0;
    bool rowBeginningFound = false;
    for (qint64 end = size; end > 0 && size - end < kLongestTail;) {
        const qint64 start = std::max<qint64>(0, end - kTailPiece);
        if (!file_.seek(start))
            break;
        const QByteArray piece = file_.read(end - start);
        if (piece.size() != end - start)
            break;
        if (end == size)
            last = piece.back();
        const qsizetype lineEnd = piece.lastIndexOf('\n');
        quotes += piece.mid(lineEnd + 1).count('"');
        rowBeginningFound = lineEnd >= 0 || start == 0;
        if (rowBeginningFound)
            break;
        end = start;
    }
    // A file that cannot be read is left as it is: a guess could add a line
    // that was never there.
    if (!last || *last == '\n')
        return {};
    if (rowBeginningFound && quotes % 2 == 1)
        return QByteArrayLiteral("\"\r\n");
    return *last == '\r' ? QByteArrayLiteral("\n") : QByteArrayLiteral("\r\n");
}
