#include "LargePages.h"

namespace LargePages {

// Large pages on Windows need a privilege ordinary users lack and memory
// allocated for them from the start, so the buffers keep normal pages.
void prefer(void *, qsizetype) {}

} // namespace LargePages
