#pragma once

#include <QtGlobal>

// What the system's TCP does for a line behind a device server beyond what
// Qt's socket options reach.
namespace SocketTuning {

// Acknowledges what arrives on the connected socket `descriptor` at once
// instead of after the system's delayed-acknowledgement wait (up to 40 ms on
// Linux), until the system goes back to delaying; called after each read.
// A device server that holds small pieces until the previous one is
// acknowledged (Nagle's algorithm, which ser2net leaves on) would otherwise
// hold the second piece of an answer, or an echo, for that long.
void acknowledgeAtOnce(qintptr descriptor);

} // namespace SocketTuning
