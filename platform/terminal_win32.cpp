#include "platform/terminal.h"

#include <io.h>
#include <windows.h>

namespace dls2mml {

bool standardInputIsTerminal() { return _isatty(0) != 0; }
bool standardOutputIsTerminal() { return _isatty(1) != 0; }
bool standardErrorIsTerminal() { return _isatty(2) != 0; }

std::size_t terminalColumns()
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info) && info.dwSize.X > 0)
        return static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1);
    return 0;
}

} // namespace dls2mml
