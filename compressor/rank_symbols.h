// Rank symbol coding, ranks to the range coder's byte symbols, and its reader
// (docs/format.md, sections 6.4 and 5.2). At most two symbols per rank; the
// reader refuses what the coder cannot write (section 8).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "compressor/reused_buffer.h"
#include "compressor/stage_fault.h"
#include "compressor/stream_format.h"

namespace dls2mml {

// Equal symbols written before a run count.
inline constexpr std::size_t rankRunCopies = 3;

constexpr std::size_t rankSymbolsBound(std::size_t m) { return 2 * m; }

// output must hold rankSymbolsBound(input.size()) bytes; returns the symbols written.
std::int32_t codeRankSymbols(std::span<std::uint8_t> output, std::span<const std::uint8_t> input) noexcept;

// Reads the zero run whose digits (symbols 0 and 1) start at symbols[p],
// advancing p past them, into z, the number of zero ranks it stands for.
// False, with p just past the digit that took z above room, when the run
// holds more than room ranks.
inline bool readZeroRun(const std::uint8_t* symbols, std::size_t& p, std::size_t end, std::size_t room, std::uint64_t& z) noexcept
{
    z = 0;
    std::uint64_t weight = 1;
    while (p < end && symbols[p] <= 1) {
        z += (std::uint64_t{symbols[p]} + 1) * weight;
        weight <<= 1;
        ++p;
        if (z > room)
            return false;
    }
    return true;
}

// Reads rank symbols back into ranks (replacing its contents with at most
// limit ranks; it is sized for limit ranks and a little room once, and cut to
// the ranks read at the end). position: symbol index.
StageFault decodeRankSymbols(std::span<const std::uint8_t> symbols, ReusedBytes& ranks,
                             std::size_t limit = bufferSizeForLevel1);

} // namespace dls2mml
