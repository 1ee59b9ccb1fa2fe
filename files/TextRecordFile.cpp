#include "TextRecordFile.h"

#include "AtomicFile.h"
#include "Cp932.h"
#include "RegularFile.h"

#include <QFileDevice>
#include <QStringDecoder>

#include <algorithm>

namespace {

constexpr char kQuote = '"';
const QByteArray kUtf8Bom("\xEF\xBB\xBF");

// Finds the first field in bytes that arrive in pieces. It works on the bytes
// themselves: in code page 932 and in UTF-8 alike, the space, the double
// quote, the comma, CR and LF never occur inside a multi-byte character, so
// each such byte is that character wherever it stands.
struct FieldScanner {
    enum class State { BeforeField, Quoted, QuotedAfterCr, Unquoted, Done };

    State state = State::BeforeField;
    QByteArray field;

    bool done() const { return state == State::Done; }

    void feed(QByteArrayView bytes)
    {
        for (const char c : bytes) {
            if (state == State::Done)
                return;
            step(c);
        }
    }

    void step(char c)
    {
        switch (state) {
        case State::BeforeField:
            // Blank lines hold no field; a space before the field is padding.
            if (c == ' ' || c == '\r' || c == '\n')
                return;
            if (c == kQuote) {
                state = State::Quoted;
                return;
            }
            state = State::Unquoted;
            step(c);
            return;
        case State::QuotedAfterCr:
            state = State::Quoted;
            if (c == '\n')
                return; // the LF of a CR LF already written
            step(c);
            return;
        case State::Quoted:
            if (c == kQuote) {
                state = State::Done;
            } else if (c == '\r' || c == '\n') {
                // Every kind of line break comes back as the box's CR LF.
                field += "\r\n";
                if (c == '\r')
                    state = State::QuotedAfterCr;
            } else {
                field += c;
            }
            return;
        case State::Unquoted:
            if (c == ',' || c == '\r' || c == '\n')
                state = State::Done;
            else
                field += c;
            return;
        case State::Done:
            return;
        }
    }
};

// Reads up to `size` bytes; fewer only at the end of the data.
QByteArray readPiece(QIODevice &in, qint64 size)
{
    QByteArray piece = in.read(size);
    while (piece.size() < size && !in.atEnd()) {
        const QByteArray more = in.read(size - piece.size());
        if (more.isEmpty())
            break;
        piece += more;
    }
    return piece;
}

bool readFailed(const QIODevice &in)
{
    const auto *file = qobject_cast<const QFileDevice *>(&in);
    return file && file->error() != QFileDevice::NoError;
}

} // namespace

bool TextRecordFile::writeRecord(const QString &path, const QString &text, QString *error)
{
    QByteArray record;
    record += kQuote;
    record += Cp932::encode(text);
    record += kQuote;
    record += "\r\n";

    AtomicFile file(path);
    if (file.open() && file.write(record) && file.commit())
        return true;
    if (error)
        *error = file.errorString();
    return false;
}

std::optional<QString> TextRecordFile::readFirstField(const QString &path)
{
    RegularFile file(path);
    if (!file.isOpen())
        return std::nullopt;
    return readFirstField(file.device());
}

std::optional<QString> TextRecordFile::readFirstField(QIODevice &in, qint64 chunkSize)
{
    chunkSize = std::max<qint64>(chunkSize, 1);
    // The first piece is long enough to hold the whole byte-order mark.
    QByteArray piece = readPiece(in, std::max<qint64>(chunkSize, kUtf8Bom.size()));
    const bool utf8 = piece.startsWith(kUtf8Bom);
    if (utf8)
        piece.remove(0, kUtf8Bom.size());

    FieldScanner scanner;
    while (!piece.isEmpty() || !in.atEnd()) {
        scanner.feed(piece);
        // Stop as soon as the field is known to be too long, not at its end.
        if (scanner.field.size() > kMaxFieldLength)
            return std::nullopt;
        if (scanner.done())
            break;
        piece = readPiece(in, chunkSize);
        if (piece.isEmpty())
            break;
    }
    if (readFailed(in) || scanner.state == FieldScanner::State::BeforeField)
        return std::nullopt;
    // The field's bytes are decoded at once, so that how the file was cut
    // into pieces never changes the text.
    if (!utf8)
        return Cp932::decode(scanner.field);
    // The file's mark is gone already; a mark at the start of the field is
    // part of the text.
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless |
                                                       QStringConverter::Flag::ConvertInitialBom);
    return QString(decoder.decode(scanner.field));
}
