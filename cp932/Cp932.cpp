#include "Cp932.h"

#include "Cp932Table.h"

#include <array>
#include <cstring>
#include <memory>

namespace {

using Cp932Table::kDoubleByte;
using Cp932Table::kLeadRow;
using Cp932Table::kTrailColumn;
using Cp932Table::kTrailCount;

constexpr char16_t kEscapeBase = 0xDC00;
constexpr quint16 kQuestionMark = '?';

// What each byte decodes to on its own. A lead byte standing alone is not a
// character, so it gets its surrogate escape; every other byte is a character.
constexpr std::array<char16_t, 256> makeSingleBytes()
{
    std::array<char16_t, 256> units{};
    for (int b = 0; b < 256; ++b) {
        if (b < 0x80)
            units[b] = char16_t(b);
        else if (b >= 0xA1 && b <= 0xDF)
            units[b] = char16_t(0xFF61 + (b - 0xA1));
        else if (kLeadRow[b] >= 0)
            units[b] = char16_t(kEscapeBase + b);
    }
    units[0x80] = 0x0080;
    units[0xA0] = 0xF8F0;
    units[0xFD] = 0xF8F1;
    units[0xFE] = 0xF8F2;
    units[0xFF] = 0xF8F3;
    return units;
}

constexpr std::array<char16_t, 256> kSingleByte = makeSingleBytes();

// Unicode (BMP) -> code: below 0x100 a single byte, otherwise lead * 256 +
// trail. Characters without a form hold '?', so the encoder needs no branch
// for them. Surrogate escapes U+DC80-U+DCFF map back to their byte.
using ReverseMap = std::array<quint16, 0x10000>;

std::unique_ptr<ReverseMap> buildReverseMap()
{
    constexpr quint16 kUnset = 0xFFFF; // no code has lead byte 0xFF
    auto map = std::make_unique<ReverseMap>();
    map->fill(kUnset);
    for (int b = 0; b < 256; ++b) {
        if (kLeadRow[b] < 0)
            (*map)[kSingleByte[b]] = quint16(b);
        if (b >= 0x80)
            (*map)[kEscapeBase + b] = quint16(b);
    }

    // Where a character has several codes, Windows encodes to the first of:
    // the JIS X 0208 rows, NEC row 13, the IBM extensions. The NEC-selected
    // copies of the IBM extensions (leads 0xED, 0xEE) decode but are never
    // produced, which is what lets text written by us read the same on
    // machines that lack them.
    auto addLeads = [&map](int first, int last) {
        for (int lead = first; lead <= last; ++lead) {
            const char16_t *row = kDoubleByte + kLeadRow[lead] * kTrailCount;
            for (int trail = 0x40; trail <= 0xFC; ++trail) {
                const int column = kTrailColumn[trail];
                if (column < 0 || row[column] == 0)
                    continue;
                quint16 &code = (*map)[row[column]];
                if (code == kUnset)
                    code = quint16(lead << 8 | trail);
            }
        }
    };
    addLeads(0x81, 0x84);
    addLeads(0x88, 0x9F);
    addLeads(0xE0, 0xEA);
    addLeads(0x87, 0x87);
    addLeads(0xFA, 0xFC);
    addLeads(0xF0, 0xF9);
    addLeads(0x85, 0x86);
    addLeads(0xEB, 0xEC);
    addLeads(0xEF, 0xEF);

    for (quint16 &code : *map) {
        if (code == kUnset)
            code = kQuestionMark;
    }
    return map;
}

const ReverseMap &reverseMap()
{
    static const std::unique_ptr<ReverseMap> map = buildReverseMap();
    return *map;
}

bool isHighSurrogate(char16_t u)
{
    return u >= 0xD800 && u <= 0xDBFF;
}
bool isLowSurrogate(char16_t u)
{
    return u >= 0xDC00 && u <= 0xDFFF;
}

} // namespace

namespace Cp932 {

qsizetype decodeTo(QByteArrayView bytes, char16_t *out, bool *endsInLead)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const auto *const end = p + bytes.size();
    char16_t *dst = out;
    if (endsInLead)
        *endsInLead = false;

    // Runs of ASCII, most of what a line usually carries, go eight bytes at
    // a time; where the check fails it costs a few instructions.
    while (end - p >= 2) {
        if (end - p >= 8) {
            quint64 word;
            std::memcpy(&word, p, sizeof word);
            if ((word & 0x8080808080808080u) == 0) {
                for (int k = 0; k < 8; ++k)
                    dst[k] = p[k];
                dst += 8;
                p += 8;
                continue;
            }
        }
        const unsigned char b = p[0];
        const int row = kLeadRow[b];
        if (row >= 0) {
            // A lead byte with a trail byte whose cell is defined makes one
            // character; otherwise the lead byte stands alone (its escape)
            // and the next byte starts afresh.
            const int column = kTrailColumn[p[1]];
            const char16_t cell = column >= 0 ? kDoubleByte[row * kTrailCount + column] : 0;
            if (cell != 0) {
                *dst++ = cell;
                p += 2;
                continue;
            }
        }
        *dst++ = kSingleByte[b];
        ++p;
    }
    if (p < end) {
        // The last byte: a lead byte here may wait for the next piece.
        const unsigned char b = *p;
        if (kLeadRow[b] >= 0 && endsInLead)
            *endsInLead = true;
        else
            *dst++ = kSingleByte[b];
    }
    return dst - out;
}

QString decode(QByteArrayView bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    const qsizetype length = decodeTo(bytes, reinterpret_cast<char16_t *>(text.data()));
    text.truncate(length);
    return text;
}

QByteArray encode(QStringView text)
{
    const ReverseMap &map = reverseMap();
    // Room for two bytes a unit, so that a character's second byte can be
    // written even when it has none.
    QByteArray bytes(text.size() * 2, Qt::Uninitialized);
    auto *dst = reinterpret_cast<unsigned char *>(bytes.data());
    const char16_t *p = text.utf16();
    const char16_t *const end = p + text.size();
    while (p < end) {
        const char16_t unit = *p++;
        if (isHighSurrogate(unit) && p < end && isLowSurrogate(*p)) {
            // A character outside the BMP: code page 932 has none.
            *dst++ = kQuestionMark;
            ++p;
            continue;
        }
        // One byte or two, written without a branch: which it is changes
        // from one character to the next in Japanese text.
        const quint16 code = map[unit];
        const bool twoBytes = code > 0xFF;
        dst[0] = static_cast<unsigned char>(twoBytes ? code >> 8 : code);
        dst[1] = static_cast<unsigned char>(code);
        dst += 1 + int(twoBytes);
    }
    bytes.truncate(reinterpret_cast<char *>(dst) - bytes.data());
    return bytes;
}

qsizetype encodedSize(QStringView text)
{
    const ReverseMap &map = reverseMap();
    qsizetype size = 0;
    const char16_t *p = text.utf16();
    const char16_t *const end = p + text.size();
    while (p < end) {
        const char16_t unit = *p++;
        if (isHighSurrogate(unit) && p < end && isLowSurrogate(*p)) {
            ++size; // '?'
            ++p;
            continue;
        }
        size += map[unit] > 0xFF ? 2 : 1;
    }
    return size;
}

qint16 codeAt(QStringView text, qsizetype i, qsizetype *length)
{
    Q_ASSERT(i >= 0 && i < text.size());
    const char16_t unit = text[i].unicode();
    if (isHighSurrogate(unit) && i + 1 < text.size() && isLowSurrogate(text[i + 1].unicode())) {
        if (length)
            *length = 2;
        return kQuestionMark;
    }
    if (length)
        *length = 1;
    return static_cast<qint16>(reverseMap()[unit]);
}

bool hasForm(char32_t character)
{
    if (character > 0xFFFF)
        return false;
    return character == kQuestionMark || reverseMap()[character] != kQuestionMark;
}

QChar fromSingleByte(quint8 byte)
{
    return QChar(kSingleByte[byte]);
}

} // namespace Cp932
