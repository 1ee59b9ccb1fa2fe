#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <cstdio>

// The program's text streams: whether one is a terminal, and writing to one
// without ever being held by it. Output nobody reads (a pipe nobody drains, a
// terminal held with Ctrl+S, an SSH session that went quiet) must not keep the
// program from hearing Ctrl+C, nor from ending.
namespace Console {

// How long write() goes on trying while the stream takes nothing, before it
// drops the rest: a reader that is alive takes a summary in far less.
inline constexpr std::chrono::milliseconds kStallLimit{2000};

// True when `stream` is a terminal (so a status line may be redrawn in place).
bool isTerminal(std::FILE *stream);

// True when `device` is the terminal this program was started from and the
// program runs in its background (`&` in a shell): its settings are then the
// shell's, and changing them would halt the program, or change them under
// the shell.
bool isBackgroundTerminal(const QString &device);

// Writes as much of `bytes` as `stream` takes, going on while it takes some
// and giving up once it has taken nothing for `stall` (at once for 0).
// Returns how many bytes went, or -1 when the stream failed before any did
// (its reader gone, its terminal hung up).
qint64 writeBytes(std::FILE *stream, const QByteArray &bytes, std::chrono::milliseconds stall);

// Writes `text` as UTF-8, giving up after kStallLimit without progress. False
// when not all of it went.
bool write(std::FILE *stream, const QString &text);

} // namespace Console
