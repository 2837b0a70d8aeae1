// The run count shared by the run-length pre-pass and the rank symbol coding:
// the number of repetitions beyond the copies already written, 0 to 32,895.
//   0 .. 127       one byte, the value itself;
//   128 .. 32,895  two bytes, 0x80 + ((k - 128) >> 8) then (k - 128) & 0xFF,
//                  i.e. k - 128 as a big-endian 16-bit number with its top bit set.
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

} // namespace dls2mml
