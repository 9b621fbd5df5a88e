#include "TerminalSize.h"

#include <sys/ioctl.h>
#include <unistd.h>

bool StreamIsTerminal(std::FILE* stream)
{
    return stream && ::isatty(::fileno(stream)) == 1;
}

int TerminalColumns(std::FILE* stream)
{
    if (!stream)
        return 0;
    winsize size{};
    if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) != 0)
        return 0;
    return int(size.ws_col);
}
