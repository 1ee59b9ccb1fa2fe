// Fuzzes the bracket codec with arbitrary text. Checks what must hold for any
// input: no crash, output linear in the input, escaping equals a plain
// character-by-character escape and leaves no code below 32 unbracketed, and
// unescaping what escaping produced gives back the text for single-byte
// characters up to 128 other than "[".
#include "BracketCodes.h"
#include "Cp932.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Two bytes a character: any UTF-16 unit, lone surrogates included.
    QString text;
    text.reserve(qsizetype(size / 2));
    for (size_t i = 0; i + 1 < size; i += 2)
        text += QChar(char16_t(data[i] | (data[i + 1] << 8)));

    const QString sent = BracketCodes::UnescapeCodes(text);
    // Each character yields at most "ERR" and escapes need 3 characters.
    if (sent.size() > text.size())
        abort();

    const QString shown = BracketCodes::EscapeCodes(text);
    // "[-32768]" is the longest an escaped character can become.
    if (shown.size() > 8 * text.size())
        abort();
    for (QChar c : shown)
        if (c.unicode() < 32)
            abort();
    // The escape measures its result before writing it: any miscount shows
    // against the slow way.
    QString expected;
    for (QChar c : text) {
        const int code = Cp932::codeAt(QStringView(&c, 1), 0);
        if (code >= 32)
            expected += c;
        else
            expected += u'[' + QString::number(code) + u']';
    }
    if (shown != expected)
        abort();

    bool plain = true;
    for (QChar c : text)
        plain = plain && c.unicode() <= 128 && c != u'[';
    if (plain && BracketCodes::UnescapeCodes(shown) != text)
        abort();
    return 0;
}
