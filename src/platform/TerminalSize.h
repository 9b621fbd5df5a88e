// The terminal behind a standard stream: whether there is one, and how
// many columns it has at this moment (the terminal's own window size, which
// follows every resize), for a progress line that is rewritten in place.
#pragma once

#include <cstdio>

// Whether `stream` writes to a terminal.
bool StreamIsTerminal(std::FILE* stream);

// The columns of the terminal behind `stream` now; 0 when the stream is no
// terminal or the terminal does not say (a serial line, a pseudo-terminal
// whose size was never set).  One system call: cheap enough to ask before
// every redraw.
int TerminalColumns(std::FILE* stream);
