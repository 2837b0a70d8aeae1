// The command line's body, behind whichever entry the system starts.
#pragma once

#include <string>
#include <vector>

namespace dls2mml::cli {

// Runs dls2mml with the arguments after the program's name (as UTF-8 on
// Windows, like every path the program holds); returns the exit status.
int runProgram(const std::vector<std::string>& args);

} // namespace dls2mml::cli
