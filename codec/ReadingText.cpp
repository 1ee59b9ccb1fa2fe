#include "ReadingText.h"

#include "BracketCodes.h"

#include <algorithm>

namespace ReadingText {

namespace {

// Room for `length` units and the slack described above.
QString withRoomFor(qsizetype length, FreshBufferHint hint)
{
    QString out(length + length / 1000 + BracketCodes::kEscapeSpare, Qt::Uninitialized);
    if (hint)
        hint(out.data(), out.size() * qsizetype(sizeof(char16_t)));
    return out;
}

} // namespace

QString escape(const QString &decoded, FreshBufferHint hint)
{
    if (decoded.isEmpty())
        return QString();
    const qsizetype length = BracketCodes::EscapedLength(decoded);
    QString out = withRoomFor(length, hint);
    char16_t *const begin = reinterpret_cast<char16_t *>(out.data());
    [[maybe_unused]] const char16_t *const end = BracketCodes::EscapeCodesTo(decoded, begin);
    Q_ASSERT(end == begin + length);
    out.truncate(length);
    return out;
}

QString decodeEscaped(QStringView head, QByteArrayView bytes, bool *endsInLead,
                      FreshBufferHint hint)
{
    // Written in one pass into room for the longest it can be, then given
    // back what it does not use (a shrink in place, nothing copied).
    QString out = withRoomFor(head.size() + bytes.size() * BracketCodes::kMostShownPerByte, hint);
    char16_t *const begin = reinterpret_cast<char16_t *>(out.data());
    char16_t *const afterHead = std::copy(head.utf16(), head.utf16() + head.size(), begin);
    const qsizetype length = BracketCodes::DecodeEscapeTo(bytes, afterHead, endsInLead) - begin;
    if (length == 0)
        return QString();
    out.truncate(length + length / 1000 + BracketCodes::kEscapeSpare);
    out.squeeze();
    out.truncate(length);
    return out;
}

} // namespace ReadingText
