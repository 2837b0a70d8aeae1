// What the standard streams are connected to, for a command line that must
// not write a bank to a terminal or draw progress into a file.
#pragma once

#include <cstddef>

namespace dls2mml {

bool standardInputIsTerminal();
bool standardOutputIsTerminal();
bool standardErrorIsTerminal();
// Columns of the terminal on standard error; 0 when it cannot be told.
std::size_t terminalColumns();

} // namespace dls2mml
