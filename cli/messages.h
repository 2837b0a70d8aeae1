// What the command line prints about each file, shared by its modes.
#pragma once

#include <cstdio>
#include <string>

#include "cli/options.h"
#include "cli/printed_name.h"
#include "cli/progress.h"
#include "platform/text_output.h"

namespace dls2mml::cli {

inline bool isStandardStream(const std::string& path) { return path == standardStreamName; }

// The file's name in messages: standard input has none of its own; control
// characters are escaped (printedName).
inline std::string displayName(const std::string& path)
{
    return isStandardStream(path) ? std::string("(standard input)") : printedName(path);
}

inline void reportFailure(const std::string& path, const std::string& reason)
{
    printText(stderr, "dls2mml: %s: %s\n", displayName(path).c_str(), reason.c_str());
}

// Whether to draw a progress line, and whether it was asked for outright.
inline bool progressEnabled(const Options& options)
{
    switch (options.progress) {
    case ProgressChoice::on: return true;
    case ProgressChoice::off: return false;
    case ProgressChoice::automatic: break;
    }
    return !options.quiet && standardErrorIsTerminal();
}

inline bool progressForced(const Options& options) { return options.progress == ProgressChoice::on; }

// Typing a bank or a document in is never meant: refuse a terminal on
// standard input unless forced. Empty when reading may go ahead.
inline std::string refuseTerminalInput(const Options& options, const std::string& path)
{
    if (isStandardStream(path) && !options.force && standardInputIsTerminal())
        return "standard input is a terminal: give a FILE or redirect the input (-f reads it anyway)";
    return {};
}

// The loop of every mode: each file in turn, a terminal on standard input
// refused, the rest handed to each(index, path), which says its own failures
// and returns false for them. The run's exit status: 1 when any file failed.
template <typename Each>
int forEachFile(const Options& options, Each&& each)
{
    int status = 0;
    for (std::size_t i = 0; i < options.files.size(); ++i) {
        const std::string& path = options.files[i];
        if (std::string refusal = refuseTerminalInput(options, path); !refusal.empty()) {
            std::fflush(stdout); // what was listed so far stands before the message
            reportFailure(path, refusal);
            status = 1;
        } else if (!each(i, path)) {
            status = 1;
        }
    }
    return status;
}

} // namespace dls2mml::cli
