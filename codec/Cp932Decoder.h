#pragma once

#include "ReadingText.h"

#include <QByteArrayView>
#include <QString>

// Decodes code page 932 bytes that arrive in pieces: a lead byte that ends one
// piece waits for the next piece to complete its character.
class Cp932Decoder {
public:
    // `hint` is given every large buffer the decoder makes (see
    // ReadingText::FreshBufferHint).
    explicit Cp932Decoder(ReadingText::FreshBufferHint hint = nullptr) : hint_(hint) {}

    // Decodes `bytes` after whatever is pending from the previous call.
    QString decode(QByteArrayView bytes);
    // The same, as the received text shows it: BracketCodes::EscapeCodes of what
    // decode() gives, made straight from the bytes.
    QString decodeEscaped(QByteArrayView bytes);

    // Decodes and drops a pending lead byte (as an escaped lone byte).
    QString flush();

    bool hasPending() const { return pending_ >= 0; }
    void reset() { pending_ = -1; }

private:
    // The character the held lead byte starts with the first of `bytes`
    // (taken from them), or the held byte alone; nothing is held after.
    char16_t takePending(QByteArrayView &bytes);

    ReadingText::FreshBufferHint hint_;
    int pending_ = -1; // the held lead byte, or -1
};
