#include "FontWarmUp.h"

// Windows keeps its fonts in the system, ready for every program.
FontWarmUp::FontWarmUp() = default;

FontWarmUp::~FontWarmUp() = default;

void FontWarmUp::wait() {}
