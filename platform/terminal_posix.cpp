#include "platform/terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace dls2mml {

bool standardInputIsTerminal() { return isatty(0) != 0; }
bool standardOutputIsTerminal() { return isatty(1) != 0; }
bool standardErrorIsTerminal() { return isatty(2) != 0; }

std::size_t terminalColumns()
{
    winsize size{};
    return ioctl(2, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

} // namespace dls2mml
