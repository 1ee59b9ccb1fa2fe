#include "BracketCodes.h"

#include "Cp932.h"
#include "Cp932Table.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

namespace BracketCodes {

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
static_assert(kEscapeSpare >= 8);

// What each single byte and each double-byte cell shows as once decoded and
// escaped, written out in full, so that a reading from the port goes to its
// escaped text without the decoded text in between, and each character costs
// one fixed-size copy instead of branches on its kind. Entries 0-255 are the
// single bytes, then come the cells of the double-byte table.
constexpr int kCellCount = Cp932Table::kLeadCount * Cp932Table::kTrailCount;
constexpr int kShownUnits = 8; // "[-32448]", the longest escape
constexpr int kSingleCount = 256;

struct ByteEscapes {
    std::array<std::array<char16_t, kShownUnits>, kSingleCount + kCellCount> shown;
    std::array<quint8, kSingleCount + kCellCount> length; // 0: the cell holds no character
};

std::unique_ptr<ByteEscapes> buildByteEscapes()
{
    const EscapeTables &units = escapeTables();
    auto tables = std::make_unique<ByteEscapes>();
    const auto fill = [&](int entry, char16_t unit) {
        auto &shown = tables->shown[entry];
        shown.fill(0);
        if (units.code[unit] >= 32) {
            shown[0] = unit;
        } else {
            char16_t escape[kShownUnits + kEscapeSpare];
            char16_t *const end = writeEscape(escape, units.code[unit]);
            std::copy(escape + 0, end, shown.begin());
        }
        tables->length[entry] = units.length[unit];
    };
    for (int b = 0; b < kSingleCount; ++b)
        fill(b, Cp932::fromSingleByte(quint8(b)).unicode());
    for (int cell = 0; cell < kCellCount; ++cell) {
        const char16_t unit = Cp932Table::kDoubleByte[cell];
        if (unit != 0) {
            fill(kSingleCount + cell, unit);
        } else {
            tables->shown[kSingleCount + cell].fill(0);
            tables->length[kSingleCount + cell] = 0;
        }
    }
    return tables;
}

const ByteEscapes &byteEscapes()
{
    static const std::unique_ptr<ByteEscapes> tables = buildByteEscapes();
    return *tables;
}

static_assert(kEscapeSpare >= kShownUnits);
static_assert(kMostShownPerByte * 2 >= kShownUnits);

// The character each code 0..kHighestCode stands for, looked up without a
// call per escape.
const std::array<char16_t, kHighestCode + 1> &producedTable()
{
    static const std::array<char16_t, kHighestCode + 1> table = [] {
        std::array<char16_t, kHighestCode + 1> t{};
        for (int code = 0; code <= kHighestCode; ++code)
            t[std::size_t(code)] = Cp932::fromSingleByte(quint8(code)).unicode();
        return t;
    }();
    return table;
}

} // namespace

QString UnescapeCodes(const QString &text)
{
    if (text.isEmpty())
        return QString();
    // Every escape is at least as long as what it stands for ("[129]" gives
    // "ERR"), so the result never outgrows the text.
    QString out(text.size(), Qt::Uninitialized);
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
                // Plain text up to the next "[" goes across in one loop.
                *dst++ = c;
                while (p + 1 != end && p[1] != u'[')
                    *dst++ = *++p;
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
        const char16_t produced = producedTable()[std::size_t(value)];
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

qsizetype EscapedLength(QStringView text)
{
    const quint8 *const lengths = escapeTables().length.data();
    qsizetype length = 0;
    const char16_t *const end = text.utf16() + text.size();
    for (const char16_t *p = text.utf16(); p != end; ++p)
        length += lengths[*p];
    return length;
}

char16_t *EscapeCodesTo(QStringView text, char16_t *out)
{
    const qint16 *const codes = escapeTables().code.data();
    const char16_t *const end = text.utf16() + text.size();
    for (const char16_t *p = text.utf16(); p != end; ++p) {
        const char16_t u = *p;
        const int code = codes[u];
        if (code >= 32)
            *out++ = u;
        else
            out = writeEscape(out, code);
    }
    return out;
}

QString EscapeCodes(const QString &text)
{
    if (text.isEmpty())
        return QString();
    // Measured first and allocated once: a received burst runs to tens of
    // megabytes once escaped.
    const qsizetype length = EscapedLength(text);
    QString out(length + kEscapeSpare, Qt::Uninitialized);
    char16_t *const begin = reinterpret_cast<char16_t *>(out.data());
    [[maybe_unused]] const char16_t *const end = EscapeCodesTo(text, begin);
    Q_ASSERT(end == begin + length);
    out.truncate(length);
    return out;
}

char16_t *DecodeEscapeTo(QByteArrayView bytes, char16_t *out, bool *endsInLead)
{
    // Each character is its entry's fixed-size copy, which writes up to
    // kShownUnits units past the end of what it shows.
    const ByteEscapes &tables = byteEscapes();
    char16_t *dst = out;
    const auto entry = [&](int e) {
        std::memcpy(dst, tables.shown[e].data(), kShownUnits * sizeof(char16_t));
        dst += tables.length[e];
    };
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const auto *const end = p + bytes.size();
    if (endsInLead)
        *endsInLead = false;
    while (end - p >= 2) {
        if (end - p >= 8) {
            quint64 word;
            std::memcpy(&word, p, sizeof word);
            // No byte at 0x80 or above, and none below 0x20 (subtracting 0x20
            // sets the top bit of the lowest such byte): shown as they are.
            if (((word | (word - 0x2020202020202020u)) & 0x8080808080808080u) == 0) {
                for (int k = 0; k < 8; ++k)
                    dst[k] = p[k];
                dst += 8;
                p += 8;
                continue;
            }
        }
        // A lead byte with a trail byte whose cell holds a character makes
        // one character; any other byte stands alone. Chosen without
        // branches: which it is depends on the data, byte by byte.
        const int row = Cp932Table::kLeadRow[p[0]];
        const int column = Cp932Table::kTrailColumn[p[1]];
        const int cell = kSingleCount + row * Cp932Table::kTrailCount + column;
        const bool pair = (row | column) >= 0 && tables.length[cell] != 0;
        entry(pair ? cell : p[0]);
        p += 1 + int(pair);
    }
    if (p < end) {
        const unsigned char b = *p;
        if (endsInLead && Cp932Table::kLeadRow[b] >= 0)
            *endsInLead = true;
        else
            entry(b);
    }
    return dst;
}

} // namespace BracketCodes
