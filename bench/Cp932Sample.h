#pragma once

#include <QByteArray>
#include <QString>

// Deterministic sample data for the benchmarks: what a line carries and what
// a user types, in the proportions the program meets.
namespace Cp932Sample {

// `size` bytes of code page 932 line data from `seed`: printable ASCII, about
// 15% half-width katakana (0xA1-0xDF), about 30% of the bytes in double-byte
// characters from the JIS X 0208 rows (every one defined), about 5% control
// codes below 32. The data never ends inside a character, so it decodes the
// same whole or in pieces cut at character boundaries.
QByteArray mixedBytes(qsizetype size, quint32 seed = 932);

// A send text of `units` UTF-16 units as a user types it: lines of Japanese
// and ASCII framed with bracketed codes such as [2], [3], [13][10] and [27].
// Every code it writes is at most 127, so the text it stands for has a code
// page 932 form in every converter.
QString sendText(qsizetype units);

} // namespace Cp932Sample
