#pragma once

#include <QByteArrayView>
#include <QString>

// The bracket convention for control codes: in the send box any character may
// be written as its decimal code in square brackets, and received text is
// shown the same way. A character's code is its code page 932 value.
namespace BracketCodes {

// Turns typed text into the text to transmit. Each "[n]" with n at most 128
// becomes the character of code n; a larger n becomes "ERR". Non-digits inside
// the brackets are skipped, an escape with no digits yields nothing, and an
// escape left open at the end is dropped. A "[" produced by "[91]" opens a
// new escape.
//   UnescapeCodes("AB[13]")   == "AB\r"
//   UnescapeCodes("[013]x")   == "\rx"
//   UnescapeCodes("[200]")    == "ERR"
//   UnescapeCodes("[91]65]")  == "A"
//   UnescapeCodes("AB[1")     == "AB"
QString UnescapeCodes(const QString &text);

// Turns received text into displayable text: every character whose code is
// below 32 is written as "[n]"; double-byte characters have negative codes.
//   EscapeCodes("OK\r\n") == "OK[13][10]"
//   EscapeCodes("あ")     == "[-32096]"
QString EscapeCodes(const QString &text);

// The two halves of EscapeCodes, for a caller that provides the memory:
// the length of the result, and the result written to `out`, returning where
// it ends. `out` has room for the length and kEscapeSpare units more, which
// the writing may use as scratch.
//   EscapedLength(u"OK\r") == 6
constexpr qsizetype kEscapeSpare = 8;
qsizetype EscapedLength(QStringView text);
char16_t *EscapeCodesTo(QStringView text, char16_t *out);

// Code page 932 bytes straight to the text EscapeCodes(Cp932::decode(bytes))
// shows, in one pass and without the decoded text in between: how a reading
// from the port becomes received text. Given `endsInLead`, a lead byte at the
// very end is left out and *endsInLead says so, for a caller that reads in
// pieces, as Cp932::decodeTo does. `out` has room for kMostShownPerByte units
// a byte and kEscapeSpare more; returns where the text ends.
//   DecodeEscapeTo("OK\r", out) writes "OK[13]"
//   DecodeEscapeTo("\x82\xA0", out) writes "[-32096]"
constexpr qsizetype kMostShownPerByte = 4; // "[13]"; "[-32096]" for two bytes
char16_t *DecodeEscapeTo(QByteArrayView bytes, char16_t *out, bool *endsInLead = nullptr);

} // namespace BracketCodes
