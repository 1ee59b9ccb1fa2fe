#include "PlmMod1.h"

#include "Cp932.h"
#include "LargePages.h"

#include <array>
#include <cstring>
#include <memory>

namespace PlmMod1 {

namespace {

// Codes above this become "ERR"; 128 itself still names a character.
constexpr int kHighestCode = 128;

// Both functions write straight into the result's buffer: a received burst
// runs to millions of characters, and appending them one QString call at a
// time cost several times the conversion itself.

// "00" to "99", two units a pair, for writing codes without a division per
// digit.
constexpr std::array<char16_t, 200> makeDigitPairs()
{
    std::array<char16_t, 200> pairs{};
    for (int n = 0; n < 100; ++n) {
        pairs[2 * n] = char16_t(u'0' + n / 10);
        pairs[2 * n + 1] = char16_t(u'0' + n % 10);
    }
    return pairs;
}

constexpr std::array<char16_t, 200> kDigitPairs = makeDigitPairs();

// Writes "[code]" for a code below 32: a control code 0..31 or the negative
// code of a double-byte character, -32448 (0x8140) ... -772 (0xFCFC). The
// number of digits varies from one character to the next at random, so the
// digits are laid out at a fixed width and copied from the first one that
// counts, rather than chosen by branches. Writes up to 8 units past `dst`
// whatever the escape's length, and returns the end of the escape.
char16_t *writeEscape(char16_t *dst, int code)
{
    const bool negative = code < 0;
    const unsigned magnitude = unsigned(negative ? -code : code); // at most 32768
    const unsigned low = magnitude % 100;
    const unsigned high = magnitude / 100;
    const unsigned middle = high % 100;
    const char16_t digits[12] = {char16_t(u'0' + high / 100), kDigitPairs[2 * middle],
                                 kDigitPairs[2 * middle + 1], kDigitPairs[2 * low],
                                 kDigitPairs[2 * low + 1],    u']'};
    const int count = 1 + int(magnitude >= 10) + int(magnitude >= 100) + int(magnitude >= 1000) +
                      int(magnitude >= 10000);
    dst[0] = u'[';
    dst[1] = u'-'; // overwritten by the first digit when the code is positive
    char16_t *const first = dst + 1 + int(negative);
    std::memcpy(first, digits + (5 - count), 6 * sizeof(char16_t));
    return first + count + 1;
}

// The code of every UTF-16 unit, from Cp932::codeAt, so that escaping a
// character costs a table look-up rather than a call, and the number of units
// the unit takes once escaped. Text is escaped unit by unit: a surrogate pair
// is a character without a code page 932 form (code 63), shown as it is, and
// so is each of its units on its own (a lone surrogate has no form either, or
// is an escaped byte 0x80-0xFF).
struct EscapeTables {
    std::array<qint16, 0x10000> code;
    std::array<quint8, 0x10000> length;
};

std::unique_ptr<EscapeTables> buildEscapeTables()
{
    auto tables = std::make_unique<EscapeTables>();
    for (int unit = 0; unit < 0x10000; ++unit) {
        const char16_t u = char16_t(unit);
        const int code = Cp932::codeAt(QStringView(&u, 1), 0);
        tables->code[unit] = qint16(code);
        // Measured by writing the escape, so that the two cannot disagree.
        char16_t escape[16];
        tables->length[unit] = quint8(code >= 32 ? 1 : writeEscape(escape, code) - escape);
    }
    return tables;
}

const EscapeTables &escapeTables()
{
    static const std::unique_ptr<EscapeTables> tables = buildEscapeTables();
    return *tables;
}

// What writeEscape() may write past the end of the escape it writes.
constexpr qsizetype kEscapeSlack = 8;

} // namespace

QString UnescapeCodes(const QString &text)
{
    if (text.isEmpty())
        return QString();
    // Every escape is at least as long as what it stands for ("[129]" gives
    // "ERR"), so the result never outgrows the text.
    QString out(text.size(), Qt::Uninitialized);
    LargePages::prefer(out.data(), out.size() * qsizetype(sizeof(char16_t)));
    char16_t *const begin = reinterpret_cast<char16_t *>(out.data());
    char16_t *dst = begin;

    bool inEscape = false;
    bool haveDigits = false;
    int value = 0; // saturates just above kHighestCode, however many digits

    const char16_t *const end = QStringView(text).utf16() + text.size();
    for (const char16_t *p = QStringView(text).utf16(); p != end; ++p) {
        const char16_t c = *p;
        if (!inEscape) {
            if (c == u'[') {
                inEscape = true;
                haveDigits = false;
                value = 0;
            } else {
                *dst++ = c;
            }
            continue;
        }
        // Inside an escape only digits and the closing bracket count; a
        // second "[" and any other character are skipped.
        if (c >= u'0' && c <= u'9') {
            haveDigits = true;
            if (value <= kHighestCode)
                value = value * 10 + (c - u'0');
            continue;
        }
        if (c != u']')
            continue;
        inEscape = false;
        if (!haveDigits)
            continue; // "[]" and "[x]" stand for nothing
        if (value > kHighestCode) {
            *dst++ = u'E';
            *dst++ = u'R';
            *dst++ = u'R';
            continue;
        }
        const char16_t produced = Cp932::fromSingleByte(static_cast<quint8>(value)).unicode();
        if (produced == u'[') {
            // The produced text takes the place of the bracket: a produced
            // "[" opens a new escape just as a typed one would.
            inEscape = true;
            haveDigits = false;
            value = 0;
        } else {
            *dst++ = produced;
        }
    }
    out.truncate(dst - begin);
    return out;
}

QString EscapeCodes(const QString &text)
{
    if (text.isEmpty())
        return QString();
    const EscapeTables &tables = escapeTables();
    const char16_t *const begin = QStringView(text).utf16();
    const char16_t *const end = begin + text.size();

    // The result is measured first and allocated once: a received burst runs
    // to tens of megabytes once escaped, and a result grown as it fills is
    // copied at every move and cannot keep the large pages asked for it.
    qsizetype length = 0;
    const quint8 *const lengths = tables.length.data();
    for (const char16_t *p = begin; p != end; ++p)
        length += lengths[*p];

    // With a little room to spare past the text (a unit in a thousand), so
    // that line breaks can be put into a long result where it lies: the
    // receive box cuts a received burst into pieces that way.
    QString out(length + length / 1000 + kEscapeSlack, Qt::Uninitialized);
    LargePages::prefer(out.data(), out.size() * qsizetype(sizeof(char16_t)));
    const qint16 *const codes = tables.code.data();
    char16_t *dst = reinterpret_cast<char16_t *>(out.data());
    for (const char16_t *p = begin; p != end; ++p) {
        const char16_t u = *p;
        const int code = codes[u];
        if (code >= 32)
            *dst++ = u;
        else
            dst = writeEscape(dst, code);
    }
    Q_ASSERT(dst == reinterpret_cast<const char16_t *>(out.constData()) + length);
    out.truncate(length);
    return out;
}

} // namespace PlmMod1
