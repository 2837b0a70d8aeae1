// The Windows entry: the arguments as the system holds them (UTF-16), split
// by the C runtime by the same rules as for main, and handed on as UTF-8, so
// names without a form in the ANSI code page reach the files intact.
#include <cstddef>
#include <string>
#include <vector>

#include "cli/program.h"
#include "platform/utf16.h"

int wmain(int argc, wchar_t** argv)
{
    std::vector<std::string> args;
    args.reserve(argc > 1 ? static_cast<std::size_t>(argc - 1) : 0);
    for (int i = 1; i < argc; ++i)
        args.push_back(dls2mml::utf8FromUtf16(reinterpret_cast<const char16_t*>(argv[i])));
    return dls2mml::cli::runProgram(args);
}
