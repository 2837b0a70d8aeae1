// Base64 lines: the text form of a tbr0 stream in the cue-point document
// (docs/format.md, section 3.1): 128 characters a line, then 1 to 4 '=' that
// bring the count of everything written, line feeds included, to a multiple of 4.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace dls2mml {

inline constexpr std::size_t base64LineLength = 128;

// Characters written for n input bytes (without the terminating NUL).
constexpr std::uint64_t base64LinesLength(std::uint64_t n)
{
    const std::uint64_t chars = (4 * n + 2) / 3;
    const std::uint64_t feeds = chars / base64LineLength;
    return chars + feeds + (4 - (chars + feeds) % 4);
}

// One-shot form: writes the text and a NUL at out (base64LinesLength(length) + 1
// bytes) and returns the count of characters without the NUL.
std::int32_t encodeBase64Lines(const std::uint8_t* data, std::uint32_t length, char* out) noexcept;

// Incremental form: the same text for input fed in pieces of any size.
class Base64LineEncoder {
public:
    // Most characters one feed of n bytes can produce (for sizing the caller's buffer).
    static constexpr std::size_t feedBound(std::size_t n) { return (n + 2) / 3 * 4 + (n + 2) / 3 * 4 / base64LineLength + 2; }
    static constexpr std::size_t finishBound = 3 + 1 + 4;

    // Encodes data and writes the characters now complete at out; returns their count.
    std::size_t feed(std::span<const std::uint8_t> data, char* out) noexcept;
    // Writes the last partial group and the padding (no NUL); returns their count.
    std::size_t finish(char* out) noexcept;
    std::uint64_t written() const noexcept { return written_; }

private:
    std::size_t putChar(char* out, std::size_t at, char c) noexcept;
    std::uint8_t pending_[3]{};
    std::size_t pendingCount_ = 0;
    std::size_t lineChars_ = 0;
    std::uint64_t written_ = 0;
};

} // namespace dls2mml
