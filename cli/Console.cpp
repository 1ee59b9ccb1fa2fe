#include "Console.h"

namespace Console {

bool write(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    return writeBytes(stream, bytes, kStallLimit) == bytes.size();
}

} // namespace Console
