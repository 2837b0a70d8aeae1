// The run count of the run-length pre-pass and of the rank symbols, 0 to
// 32,895 in one or two bytes (docs/format.md, section 5.2): writer and reader.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dls2mml {

inline constexpr std::int32_t maxRunCount = 32895;

// Writes k (0 ..= maxRunCount) at out and returns the number of bytes written (1 or 2).
inline std::int32_t writeRunCount(std::uint8_t* out, std::int32_t k) noexcept
{
    if (k < 128) {
        out[0] = static_cast<std::uint8_t>(k);
        return 1;
    }
    const std::int32_t v = k - 128;
    out[0] = static_cast<std::uint8_t>(0x80 + (v >> 8));
    out[1] = static_cast<std::uint8_t>(v & 0xFF);
    return 2;
}

// Reads a run count starting at data[p] (p < end), advancing p past it.
// False when the two-byte form is cut short by end (p then points at its first byte).
inline bool readRunCount(const std::uint8_t* data, std::size_t& p, std::size_t end, std::int32_t& count) noexcept
{
    const std::uint8_t first = data[p++];
    if (first < 0x80) {
        count = first;
        return true;
    }
    if (p >= end) {
        --p;
        return false;
    }
    count = 128 + ((first - 0x80) << 8) + data[p++];
    return true;
}

// One group of equal values as the counted-run codings write it: up to
// `copies` equal values and, after the last of them, a run count.
struct CountedGroup {
    enum class Fault { none, countMissing, countCut };
    std::uint8_t value = 0;
    std::size_t length = 0;  // values the group stands for
    bool counted = false;    // the copies were all there, so a run count followed
    std::int32_t count = 0;  // the run count, when counted
    Fault fault = Fault::none;
    std::size_t start = 0;   // index of the group's first value
    std::size_t faultAt = 0; // countMissing: start; countCut: the count's first byte
    // A further equal value follows a run count below the largest: the coder
    // would have counted it, so the data is not its output.
    bool goesOnAfterCount = false;
};

// Reads the group starting at data[p] (p < end), advancing p past it.
inline CountedGroup readCountedGroup(const std::uint8_t* data, std::size_t& p, std::size_t end,
                                     std::size_t copies) noexcept
{
    CountedGroup group;
    group.start = p;
    group.value = data[p++];
    std::size_t seen = 1;
    while (p < end && seen < copies && data[p] == group.value) {
        ++seen;
        ++p;
    }
    group.length = seen;
    if (seen < copies)
        return group;
    group.counted = true;
    if (p >= end) {
        group.fault = CountedGroup::Fault::countMissing;
        group.faultAt = group.start;
        return group;
    }
    if (!readRunCount(data, p, end, group.count)) {
        group.fault = CountedGroup::Fault::countCut;
        group.faultAt = p;
        return group;
    }
    group.length += static_cast<std::size_t>(group.count);
    group.goesOnAfterCount = group.count < maxRunCount && p < end && data[p] == group.value;
    return group;
}

} // namespace dls2mml
