#include "ReadingText.h"

#include "LargePages.h"
#include "PlmMod1.h"

namespace ReadingText {

QString escape(const QString &decoded)
{
    if (decoded.isEmpty())
        return QString();
    const qsizetype length = PlmMod1::EscapedLength(decoded);
    QString out(length + length / 1000 + PlmMod1::kEscapeSpare, Qt::Uninitialized);
    LargePages::prefer(out.data(), out.size() * qsizetype(sizeof(char16_t)));
    char16_t *const begin = reinterpret_cast<char16_t *>(out.data());
    [[maybe_unused]] const char16_t *const end = PlmMod1::EscapeCodesTo(decoded, begin);
    Q_ASSERT(end == begin + length);
    out.truncate(length);
    return out;
}

} // namespace ReadingText
