// Progress of a long conversion on a terminal: bytes done, rate, time left.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace dls2mml::cli {

class ProgressLine {
public:
    // Shows nothing unless enabled (standard error is a terminal, not quiet)
    // and the input is large enough for the wait to be noticed.
    ProgressLine(std::string name, bool enabled) : name_(std::move(name)), enabled_(enabled) {}
    ~ProgressLine() { clear(); }

    void update(std::uint64_t done, std::uint64_t total);
    void clear();

private:
    static constexpr std::uint64_t minimumInput = 4u << 20;
    std::string name_;
    bool enabled_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastDrawn_{};
};

bool standardErrorIsTerminal();

} // namespace dls2mml::cli
