// Text for people (messages, summary lines, the progress line) on standard
// output or standard error. The text is UTF-8, as every name the program
// holds is.
//
// On Windows a console gets the text through WriteConsoleW, so every name
// shows as it is whatever the console's code page; a redirected stream (a
// file, a pipe) gets well-formed UTF-8, the one encoding in which every
// name survives, so a script that reads the summary can open each document
// it names. Elsewhere the bytes go out unchanged.
#pragma once

#include <cstdio>
#include <string_view>

namespace dls2mml {

void writeText(std::FILE* stream, std::string_view text);

#if defined(__GNUC__) && !defined(_WIN32)
__attribute__((format(printf, 2, 3)))
#endif
void printText(std::FILE* stream, const char* format, ...);

} // namespace dls2mml
