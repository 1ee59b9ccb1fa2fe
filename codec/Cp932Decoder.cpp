#include "Cp932Decoder.h"

#include "BracketCodes.h"
#include "Cp932.h"
#include "Cp932Table.h"
#include "ReadingText.h"

char16_t Cp932Decoder::takePending(QByteArrayView &bytes)
{
    const int column = Cp932Table::kTrailColumn[static_cast<unsigned char>(bytes.front())];
    const char16_t unit =
        column < 0
            ? 0
            : Cp932Table::kDoubleByte[Cp932Table::kLeadRow[pending_] * Cp932Table::kTrailCount +
                                      column];
    const int lead = pending_;
    pending_ = -1;
    if (unit != 0) {
        bytes = bytes.sliced(1);
        return unit;
    }
    // The held byte starts no character; the byte after it is read on its own.
    return Cp932::fromSingleByte(quint8(lead)).unicode();
}

QString Cp932Decoder::decode(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return {};
    QString text(bytes.size() + 1, Qt::Uninitialized);
    if (hint_)
        hint_(text.data(), text.size() * qsizetype(sizeof(char16_t)));
    auto *const begin = reinterpret_cast<char16_t *>(text.data());
    char16_t *dst = begin;
    if (pending_ >= 0)
        *dst++ = takePending(bytes);
    bool endsInLead = false;
    dst += Cp932::decodeTo(bytes, dst, &endsInLead);
    if (endsInLead)
        pending_ = static_cast<unsigned char>(bytes.back());
    text.truncate(dst - begin);
    return text;
}

QString Cp932Decoder::decodeEscaped(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return {};
    QString head;
    if (pending_ >= 0) {
        const char16_t unit = takePending(bytes);
        head = BracketCodes::EscapeCodes(QString(QChar(unit)));
    }
    bool endsInLead = false;
    QString text = ReadingText::decodeEscaped(head, bytes, &endsInLead, hint_);
    if (endsInLead)
        pending_ = static_cast<unsigned char>(bytes.back());
    return text;
}

QString Cp932Decoder::flush()
{
    if (pending_ < 0)
        return {};
    const QChar escaped = Cp932::fromSingleByte(quint8(pending_));
    pending_ = -1;
    return QString(escaped);
}
