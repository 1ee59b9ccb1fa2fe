#pragma once

#include <QByteArrayView>
#include <QString>

// Decodes code page 932 bytes that arrive in pieces: a lead byte that ends one
// piece waits for the next piece to complete its character.
class Cp932Decoder {
public:
    // Decodes `bytes` after whatever is pending from the previous call.
    QString decode(QByteArrayView bytes);

    // Decodes and drops a pending lead byte (as an escaped lone byte).
    QString flush();

    bool hasPending() const { return pending_ >= 0; }
    void reset() { pending_ = -1; }

private:
    int pending_ = -1; // the held lead byte, or -1
};
