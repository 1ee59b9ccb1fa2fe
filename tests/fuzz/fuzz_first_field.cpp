// Fuzzes the first-field reader of the file commands with arbitrary file
// contents read in pieces of any size: it never fails on any bytes, and it
// gives the same field as a plain reading of the whole text decoded at once.
#include "Cp932.h"
#include "TextRecordFile.h"

#include <QBuffer>
#include <QStringDecoder>

#include <cstdlib>
#include <optional>

namespace {

// The rules of the first field, over the whole text at once.
std::optional<QString> firstField(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\r' || text[i] == u'\n'))
        ++i;
    if (i == text.size())
        return std::nullopt;
    QString field;
    if (text[i] == u'"') {
        for (++i; i < text.size() && text[i] != u'"'; ++i) {
            if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
            if (text[i] == u'\r' || text[i] == u'\n')
                field += QStringLiteral("\r\n");
            else
                field += text[i];
        }
        return field;
    }
    for (; i < text.size() && text[i] != u',' && text[i] != u'\r' && text[i] != u'\n'; ++i)
        field += text[i];
    return field;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks the piece size, the rest is the file.
    const qint64 chunkSize = 1 + data[0] % 16;
    QByteArray bytes(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));

    QBuffer file(&bytes);
    file.open(QIODevice::ReadOnly);
    const std::optional<QString> got = TextRecordFile::readFirstField(file, chunkSize);

    QString text;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless |
                                                        QStringConverter::Flag::ConvertInitialBom);
        text = utf8.decode(bytes.sliced(3));
    } else {
        text = Cp932::decode(bytes);
    }
    const std::optional<QString> expected = firstField(text);
    // Beyond the limit the reader refuses; the rules say nothing of that.
    if (got != expected && !(!got && bytes.size() > TextRecordFile::kMaxFieldLength))
        abort();
    return 0;
}
