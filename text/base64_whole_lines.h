// Whole Base64 lines read at once: 128 alphabet characters and the line feed
// after them, 96 bytes. Every line of a text but the last is such a line, so
// nearly all of a text goes this way; anything else is left to the reader's
// character-by-character path, which finds a fault's exact place.
//
// On x86-64 (but not in the Windows build) the lines are decoded with 128-bit,
// 256-bit or 512-bit byte shuffles, whichever the processor has, chosen once
// when the program starts; elsewhere one table lookup per character.
#pragma once

#include <cstddef>
#include <cstdint>

#include "text/base64_lines.h"

namespace dls2mml {

inline constexpr std::size_t base64LineBytes = base64LineLength / 4 * 3;
inline constexpr std::size_t base64LineWithFeed = base64LineLength + 1;

enum class WholeLineDecoder {
    portable,    // a table lookup per character
    ssse3,       // 16 characters a step
    avx2,        // 32 characters a step
    avx512vbmi,  // 64 characters a step, the alphabet in two registers
};

// Decodes up to lineCount lines of base64LineWithFeed characters at text into
// base64LineBytes bytes each at out, and stops before the first line that is
// not 128 alphabet characters and a line feed. Returns the count of lines
// decoded; out holds their bytes. Writes nowhere outside
// out[0, lineCount * base64LineBytes), but the bytes after those of the lines
// decoded are unspecified. Reads nowhere outside text[0, lineCount * base64LineWithFeed).
std::size_t decodeWholeLines(const char* text, std::size_t lineCount, std::uint8_t* out) noexcept;

// The same with a chosen decoder, which must be available (for tests and benchmarks).
std::size_t decodeWholeLinesWith(WholeLineDecoder decoder, const char* text, std::size_t lineCount,
                                 std::uint8_t* out) noexcept;
bool wholeLineDecoderAvailable(WholeLineDecoder decoder) noexcept;
// The one decodeWholeLines uses.
WholeLineDecoder chosenWholeLineDecoder() noexcept;
const char* wholeLineDecoderName(WholeLineDecoder decoder) noexcept;

} // namespace dls2mml
