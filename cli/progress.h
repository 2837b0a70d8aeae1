// Progress of a long run on a terminal: bytes done, rate, time left.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/terminal.h"

namespace dls2mml::cli {

class ProgressLine {
public:
    // Shows nothing unless enabled. Unless forced, an input too small for the
    // wait to be noticed shows nothing either.
    ProgressLine(std::string name, bool enabled, bool forced = false);
    ~ProgressLine() { clear(); }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // done: bytes finished; total: UINT64_MAX when unknown.
    void update(std::uint64_t done, std::uint64_t total);
    void clear();

    // The line for these figures, cut to width - 1 columns (the last column
    // is left free so that no terminal wraps). Public for the tests' sake.
    static std::string format(const std::string& name, std::uint64_t done, std::uint64_t total, double seconds,
                              std::size_t width);

private:
    static constexpr std::uint64_t minimumInput = 4u << 20;
    std::string name_;
    bool enabled_;
    bool forced_;
    std::size_t shownLength_ = 0; // 0: nothing on the line
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastDrawn_{};
};

using dls2mml::standardErrorIsTerminal;
using dls2mml::standardInputIsTerminal;
using dls2mml::standardOutputIsTerminal;
// Columns of the terminal on standard error; 80 when it cannot be told.
std::size_t terminalWidth();

} // namespace dls2mml::cli
