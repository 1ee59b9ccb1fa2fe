#pragma once

#include <array>

// The double-byte half of code page 932 as a flat table, generated from glibc's
// converter by tools/gen_cp932_table (see Cp932Table.cpp). Rows are the 60 lead
// bytes 0x81-0x9F, 0xE0-0xFC; columns the 188 trail bytes 0x40-0x7E, 0x80-0xFC.
// A cell holds its UTF-16 unit, or 0 where Windows defines no character.
namespace Cp932Table {

inline constexpr int kLeadCount = 60;
inline constexpr int kTrailCount = 188;

extern const char16_t kDoubleByte[kLeadCount * kTrailCount];

namespace detail {

constexpr std::array<short, 256> makeLeadRows()
{
    std::array<short, 256> rows{};
    int row = 0;
    for (int b = 0; b < 256; ++b)
        rows[b] = ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) ? row++ : -1;
    return rows;
}

constexpr std::array<short, 256> makeTrailColumns()
{
    std::array<short, 256> columns{};
    int column = 0;
    for (int b = 0; b < 256; ++b)
        columns[b] = (b >= 0x40 && b <= 0xFC && b != 0x7F) ? column++ : -1;
    return columns;
}

} // namespace detail

// A byte's row as a lead byte, or -1: kLeadRow[0x81] == 0, kLeadRow[0xE0] == 31.
inline constexpr std::array<short, 256> kLeadRow = detail::makeLeadRows();

// A byte's column as a trail byte, or -1: kTrailColumn[0x40] == 0,
// kTrailColumn[0x80] == 63.
inline constexpr std::array<short, 256> kTrailColumn = detail::makeTrailColumns();

} // namespace Cp932Table
