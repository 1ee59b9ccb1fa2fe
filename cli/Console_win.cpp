#include "Console.h"

#include <io.h>

namespace Console {

bool isTerminal(std::FILE *stream)
{
    return ::_isatty(::_fileno(stream)) != 0;
}

} // namespace Console
