#pragma once

#include <QtGlobal>

// Memory hints for the large buffers a received burst is converted into.
namespace LargePages {

// Asks the system to back the untouched part of a large buffer with huge
// pages where it can. Writing tens of megabytes of fresh memory otherwise
// costs one page fault per 4 KiB, which on virtual machines takes longer than
// the conversion that fills the buffer. Smaller buffers are left alone (a
// huge page only covers an aligned 2 MiB of the buffer, and small ones come
// from memory already in use), as is every buffer where the system has no
// such pages; the hint never changes what the buffer holds.
void prefer(void *data, qsizetype bytes);

// The smallest buffer prefer() does anything for.
constexpr qsizetype kThreshold = 4 * 1024 * 1024;

} // namespace LargePages
