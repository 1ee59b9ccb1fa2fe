#pragma once

#include <QString>

#include <cstdio>

// The program's text streams: whether one is a terminal, and writing text to
// one as UTF-8.
namespace Console {

// True when `stream` is a terminal (so a status line may be redrawn in place).
bool isTerminal(std::FILE *stream);

// Writes `text` as UTF-8 and flushes, so that what is shown is never held
// back behind a pipe's buffer.
void write(std::FILE *stream, const QString &text);

} // namespace Console
