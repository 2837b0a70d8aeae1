// The constants of the tbr0 stream, shared by the compressor and the decoder:
// the header, the frame and the limits of one block (docs/format.md, section 4).
#pragma once

#include <cstddef>
#include <cstdint>

namespace dls2mml {

inline constexpr char streamMagic[4] = {'t', 'b', 'r', '0'};
inline constexpr std::int8_t compressionLevel = 1; // header byte 4; the only level

// Stream header: magic at 0, level at 4, reserved zero bytes 5..7, input length at 8.
inline constexpr std::size_t streamHeaderSize = 12;
inline constexpr std::size_t headerLevelOffset = 4;
inline constexpr std::size_t headerLengthOffset = 8;

// Frame header: primary index at 0, payload length at 3, payload from 6.
inline constexpr std::size_t frameHeaderSize = 6;
inline constexpr std::size_t framePrimaryIndexOffset = 0;
inline constexpr std::size_t framePayloadLengthOffset = 3;

// Limits of one block at level 1.
inline constexpr std::size_t blockSizeForLevel1 = 524288;  // input bytes of one slice
inline constexpr std::size_t bufferSizeForLevel1 = 655360; // pre-pass worst case: the most ranks of a block
inline constexpr std::size_t maxRankSymbols = 2 * bufferSizeForLevel1; // 1,310,720
// Payload of a block of maxRankSymbols symbols: two coding steps of at most two
// bytes per symbol, the end symbol, and the four flush bytes.
inline constexpr std::size_t maxPayloadBytes = 4 * (maxRankSymbols + 1) + 4; // 5,242,888
// A payload ends with the four bytes of the coder's low value.
inline constexpr std::size_t flushBytes = 4;

// Range coder: the interval starts as the full 32-bit range, and a byte moves
// out whenever the range falls below 2^24.
inline constexpr std::uint32_t initialRange = 0xFFFFFFFFu;
inline constexpr std::uint32_t renormaliseBelow = 0x01000000u;

// Every length the stream and the document record is unsigned 32-bit.
inline constexpr std::uint64_t maxLength32 = 0xFFFFFFFFull;

inline void putBigEndian24(std::uint8_t* out, std::uint32_t value) noexcept
{
    out[0] = static_cast<std::uint8_t>(value >> 16);
    out[1] = static_cast<std::uint8_t>(value >> 8);
    out[2] = static_cast<std::uint8_t>(value);
}

inline std::uint32_t getBigEndian24(const std::uint8_t* in) noexcept
{
    return (std::uint32_t{in[0]} << 16) | (std::uint32_t{in[1]} << 8) | std::uint32_t{in[2]};
}

inline void putLittleEndian32(std::uint8_t* out, std::uint32_t value) noexcept
{
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

inline std::uint32_t getLittleEndian32(const std::uint8_t* in) noexcept
{
    return std::uint32_t{in[0]} | (std::uint32_t{in[1]} << 8) | (std::uint32_t{in[2]} << 16) |
           (std::uint32_t{in[3]} << 24);
}

} // namespace dls2mml
