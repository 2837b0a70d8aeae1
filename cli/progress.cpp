#include "cli/progress.h"

#include <cstdio>
#include <cstdlib>

#include "platform/terminal.h"
#include "platform/text_output.h"

namespace dls2mml::cli {
namespace {

std::string mebibytes(std::uint64_t bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(bytes) / 1048576.0);
    return text;
}

std::string clockTime(double seconds)
{
    const auto whole = static_cast<unsigned long long>(seconds + 0.5);
    char text[32];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", whole / 3600, whole / 60 % 60, whole % 60);
    else
        std::snprintf(text, sizeof text, "%llu:%02llu", whole / 60, whole % 60);
    return text;
}

} // namespace

std::size_t terminalWidth()
{
    if (const std::size_t columns = terminalColumns(); columns > 0)
        return columns;
    if (const char* columns = std::getenv("COLUMNS")) {
        const long value = std::strtol(columns, nullptr, 10);
        if (value > 0 && value < 10000)
            return static_cast<std::size_t>(value);
    }
    return 80;
}

ProgressLine::ProgressLine(std::string name, bool enabled, bool forced)
    : name_(std::move(name)), enabled_(enabled), forced_(forced)
{
}

std::string ProgressLine::format(const std::string& name, std::uint64_t done, std::uint64_t total, double seconds,
                                 std::size_t width)
{
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
    std::string figures;
    if (total == UINT64_MAX) {
        figures = mebibytes(done) + " MiB";
    } else {
        const unsigned percent = total == 0 ? 100 : static_cast<unsigned>(done * 100 / total);
        figures = mebibytes(done) + " of " + mebibytes(total) + " MiB (" + std::to_string(percent) + "%)";
    }
    figures += ", " + mebibytes(static_cast<std::uint64_t>(rate)) + " MiB/s";
    // Time left from the bytes finished so far: none to go on before the first.
    if (total != UINT64_MAX && done > 0 && done < total && rate > 0)
        figures += ", " + clockTime(static_cast<double>(total - done) / rate) + " left";
    const std::size_t room = width > 1 ? width - 1 : 0;
    std::string shown = name;
    if (shown.size() + 2 + figures.size() > room) {
        // The name gives way first, keeping its end (the file's own name).
        const std::size_t keep = room > figures.size() + 5 ? room - figures.size() - 5 : 0;
        shown = keep > 0 ? "..." + name.substr(name.size() - std::min(keep, name.size())) : std::string();
    }
    std::string line = shown.empty() ? figures : shown + ": " + figures;
    if (line.size() > room)
        line.resize(room);
    return line;
}

void ProgressLine::update(std::uint64_t done, std::uint64_t total)
{
    if (!enabled_ || (total != UINT64_MAX && done >= total))
        return;
    // Unasked, a short wait shows nothing: a known total too small, or (from a
    // pipe) too few bytes so far.
    if (!forced_ && (total == UINT64_MAX ? done : total) < minimumInput)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (shownLength_ > 0 && now - lastDrawn_ < std::chrono::milliseconds(200))
        return;
    lastDrawn_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    std::string line = format(name_, done, total, seconds, terminalWidth());
    const std::size_t length = line.size();
    if (length < shownLength_)
        line.append(shownLength_ - length, ' '); // wipe the rest of the longer line before
    printText(stderr, "\r%s", line.c_str());
    std::fflush(stderr);
    shownLength_ = length > 0 ? length : 1;
}

void ProgressLine::clear()
{
    if (shownLength_ == 0)
        return;
    std::fprintf(stderr, "\r%s\r", std::string(shownLength_, ' ').c_str());
    std::fflush(stderr);
    shownLength_ = 0;
}

} // namespace dls2mml::cli
