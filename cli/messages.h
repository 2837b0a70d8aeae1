// What the command line prints about each file, shared by its modes.
#pragma once

#include <cstdio>
#include <string>

#include "cli/exit_status.h"
#include "cli/options.h"
#include "cli/printed_name.h"
#include "cli/progress.h"
#include "fault/fault.h"
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

// A job's fault, about its input (path) or its output (outputPath, where the
// job has one of its own).
inline void reportFault(const std::string& path, const std::string& outputPath, const Fault& fault)
{
    const bool aboutOutput = fault.place.file == FaultFile::output && !outputPath.empty();
    reportFailure(aboutOutput ? outputPath : path, fault.words);
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
// standard input unless forced. None when reading may go ahead.
inline FaultKind refuseTerminalInput(const Options& options, const std::string& path)
{
    if (isStandardStream(path) && !options.force && standardInputIsTerminal())
        return FaultKind::fromTerminal;
    return FaultKind::none;
}

// The loop of every mode: each file in turn, a terminal on standard input
// refused, the rest handed to each(index, path), which says its own failures
// and returns their kind (none for success). The run's exit status: the worst
// of the files' (exitStatusFor).
template <typename Each>
int forEachFile(const Options& options, Each&& each)
{
    int status = 0;
    for (std::size_t i = 0; i < options.files.size(); ++i) {
        const std::string& path = options.files[i];
        FaultKind kind = refuseTerminalInput(options, path);
        if (kind != FaultKind::none) {
            std::fflush(stdout); // what was listed so far stands before the message
            reportFailure(path, std::string(faultWords(kind)));
        } else {
            kind = each(i, path);
        }
        status = worseStatus(status, exitStatusFor(kind));
    }
    return status;
}

} // namespace dls2mml::cli
