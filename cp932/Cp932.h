#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

// Conversion between text and Windows code page 932 (Shift_JIS as Windows
// uses it), done with our own table so that every byte survives the trip.
//
// Representation of bytes that start no valid character: a byte b that is a
// lead byte (0x81-0x9F, 0xE0-0xFC) not followed by a trail byte forming a
// defined double-byte cell decodes to the lone surrogate U+DC00+b (the
// "surrogate escape" convention). Such a character encodes back to the byte b
// and its code is b. Lone surrogates never occur in well-formed text, so the
// escape cannot be confused with a real character.
//
// Single bytes: 0x00-0x7F are ASCII (0x5C backslash, 0x7E tilde), 0xA1-0xDF
// half-width katakana (U+FF61-U+FF9F), and 0x80, 0xA0, 0xFD, 0xFE, 0xFF map to
// U+0080, U+F8F0, U+F8F1, U+F8F2, U+F8F3.
//
// A character with no code page 932 form encodes to '?'.
namespace Cp932 {

// Decodes a complete byte sequence. A lead byte at the very end decodes as an
// escaped lone byte (see above); use Cp932Decoder to decode in pieces.
QString decode(QByteArrayView bytes);

// The core of decode() for callers that manage their own buffer: writes the
// text of `bytes` to `out`, which must have room for bytes.size() units, and
// returns the number of units written. Given `endsInLead`, a lead byte at the
// very end is left undecoded and *endsInLead tells whether that happened, so
// that a caller decoding in pieces can hold it for the next piece.
qsizetype decodeTo(QByteArrayView bytes, char16_t *out, bool *endsInLead = nullptr);

// Encodes text; characters without a code page 932 form become '?'.
QByteArray encode(QStringView text);

// How many bytes encode(text) gives, found without making them.
qsizetype encodedSize(QStringView text);

// The code of the character at text[i] as a signed 16-bit value: single-byte
// characters give 0..255, double-byte ones lead*256+trail as a signed 16-bit
// number (always negative). A character without a code page 932 form has the
// code of '?' (63). A surrogate pair counts as one character; `length`
// receives the number of UTF-16 units it took (1 or 2).
qint16 codeAt(QStringView text, qsizetype i, qsizetype *length = nullptr);

// Whether code page 932 has a form for the character (a code point):
// false for those encode() turns into '?', '?' itself aside.
//   hasForm(U'あ') and hasForm(U'?') hold; hasForm(U'é') does not.
bool hasForm(char32_t character);

// The character of a single-byte code 0..255 (as decoded from that byte).
QChar fromSingleByte(quint8 byte);

} // namespace Cp932
