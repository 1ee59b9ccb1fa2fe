// Fuzzes the code page 932 conversion with arbitrary bytes: decoding never
// fails, decoding in pieces gives what decoding at once gives, and the
// decoded text encodes back to bytes that decode to the same text again. The
// received text made straight from the bytes, in the same pieces, is the
// decoded text escaped.
#include "BracketCodes.h"
#include "Cp932.h"
#include "Cp932Decoder.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString whole = Cp932::decode(bytes);

    // Pieces cut where the first byte says, then every 3 bytes.
    Cp932Decoder decoder;
    Cp932Decoder port;
    const qsizetype cut = size ? qsizetype(data[0] % (size + 1)) : 0;
    QString pieces = decoder.decode(bytes.first(cut));
    QString shown = port.decodeEscaped(bytes.first(cut));
    for (qsizetype i = cut; i < bytes.size(); i += 3) {
        const QByteArrayView piece = bytes.sliced(i, std::min<qsizetype>(3, bytes.size() - i));
        pieces += decoder.decode(piece);
        shown += port.decodeEscaped(piece);
    }
    pieces += decoder.flush();
    shown += BracketCodes::EscapeCodes(port.flush());
    if (pieces != whole || shown != BracketCodes::EscapeCodes(whole))
        abort();

    // Every byte is kept: bytes come back as they were, except that a
    // character Windows writes under one code of several comes back under
    // that code; either way the text is the same.
    const QByteArray again = Cp932::encode(whole);
    if (again.size() != bytes.size())
        abort();
    if (again != bytes.toByteArray() && Cp932::decode(again) != whole) {
        // A re-encoded duplicate may pair with an escaped lone byte before
        // it; only then may the text differ, and never in length of bytes.
        bool hasEscapedByte = false;
        for (QChar c : whole)
            hasEscapedByte = hasEscapedByte || (c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF);
        if (!hasEscapedByte)
            abort();
    }
    return 0;
}
