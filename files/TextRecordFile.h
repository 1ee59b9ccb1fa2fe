#pragma once

#include <QString>

#include <optional>

class QIODevice;

// The file form of a text box: one record holding the text as a quoted field,
// in code page 932 with CR LF line ends. The text is written unchanged, so a
// double quote inside it ends the field when the file is read back.
//
// WriteRecord("A,B\r\nC") writes the bytes  "A,B<CR><LF>C"<CR><LF>
// ReadFirstField of  "A,B"<CR><LF>  or of  A,B<CR><LF>  gives "A,B" and "A".
class TextRecordFile {
public:
    // The longest field read, in bytes as the file holds them (each line
    // break inside counted as CR LF): a first field longer than this is
    // refused rather than read into memory. It never decodes to more
    // UTF-16 units than it has bytes.
    static constexpr qsizetype kMaxFieldLength = qsizetype(1) << 20;
    // The reader's piece size; reading stops within a piece of the field's end.
    static constexpr qint64 kChunkSize = 64 * 1024;

    // Writes `text` as the file's one record. Only a regular file is ever
    // replaced: through a symbolic link, the link's target gets the record
    // and the link stays. The file is replaced only once the whole record is
    // on disk, so a failed write leaves any earlier file as it was; only where
    // no new file can be made beside it is an existing file overwritten in
    // place. Returns false, with the system's reason in `error`, when the
    // record could not be written.
    static bool writeRecord(const QString &path, const QString &text, QString *error = nullptr);

    // The first field of the file: leading spaces and blank lines skipped; a
    // quoted field runs to the next double quote, across lines (every line
    // break in it reads as CR LF), or to the end of the file when the quote
    // is never closed; an unquoted field runs to the first comma or line end.
    // A file starting with a UTF-8 byte-order mark is read as UTF-8, any
    // other as code page 932. Reads only as far as the field goes.
    // Fails when the path is not a regular file (a FIFO or device is never
    // opened, so this never waits), the file cannot be opened, holds no field,
    // or its first field is longer than kMaxFieldLength.
    static std::optional<QString> readFirstField(const QString &path);
    // `chunkSize` is the piece size the data is read and decoded in.
    static std::optional<QString> readFirstField(QIODevice &in, qint64 chunkSize = kChunkSize);
};
