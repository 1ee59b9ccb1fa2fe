#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

// The escaped form of what was read from the port. A received burst runs to
// tens of megabytes once escaped, so it is measured once and written once
// into memory the system may back with huge pages (see FreshBufferHint), with a little room past
// its end (a unit in a thousand) so that a display can put line breaks into
// it where it lies.
namespace ReadingText {

// Called with a large buffer just made, before it is filled, so that its
// first touch costs less; the serial layer passes the system's huge-page
// hint. May be null; it never changes what the buffer holds.
using FreshBufferHint = void (*)(void *data, qsizetype bytes);

//   escape(u"OK\r\n") == u"OK[13][10]"
QString escape(const QString &decoded, FreshBufferHint hint = nullptr);

// `head`, already escaped, then code page 932 `bytes` escaped as they decode
// (BracketCodes::DecodeEscapeTo). With `endsInLead`, a lead byte at the very end
// is left out and *endsInLead says so.
//   decodeEscaped(u"", "OK\r\n", nullptr) == u"OK[13][10]"
QString decodeEscaped(QStringView head, QByteArrayView bytes, bool *endsInLead,
                      FreshBufferHint hint = nullptr);

} // namespace ReadingText
