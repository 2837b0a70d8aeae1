// File names as the command line prints them: one name never spans two
// fields of a tab-separated summary nor two lines of messages.
#pragma once

#include <string>
#include <string_view>

namespace dls2mml::cli {

// Tab, line feed and carriage return become \t, \n and \r, the other control
// characters (0x01 to 0x1F and 0x7F) \xHH, and a backslash \\ (on Windows,
// where the backslash separates folders and control characters cannot occur
// in names, the backslash stays as it is). Every other byte is unchanged.
std::string printedName(std::string_view name);

} // namespace dls2mml::cli
