#include "FontWarmUp.h"

#include <fontconfig/fontconfig.h>

// Qt reads the configuration with FcInit() when it first needs a font;
// fontconfig keeps one configuration for the process, and FcInit() returns
// at once once it is loaded.
FontWarmUp::FontWarmUp() : reader_([] { FcInit(); }) {}

FontWarmUp::~FontWarmUp()
{
    wait();
}

void FontWarmUp::wait()
{
    if (reader_.joinable())
        reader_.join();
}
