#include "Console.h"

#include <unistd.h>

namespace Console {

bool isTerminal(std::FILE *stream)
{
    return ::isatty(::fileno(stream)) == 1;
}

} // namespace Console
