// Rank symbol coding: ranks become the range coder's byte symbols.
//   a run of z zero ranks  -> the base-2 digits of z + 1 below its top bit,
//                             least significant first, as symbols 0 and 1;
//   rank r in 1 .. 253     -> symbol r + 1; a run of three or more equal ranks
//                             keeps three symbols and then a run count
//                             (at most 32,898 ranks per group);
//   rank 254 / 255         -> 255 then 0 / 1, never counted in runs.
// At most 2 symbols per rank. The reading side refuses what the coder cannot
// write: an escape followed by another symbol or by nothing, a missing or cut
// run count, a run that goes on after a run count below the largest, and more
// ranks than a block can hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "compressor/stage_fault.h"
#include "compressor/stream_format.h"

namespace dls2mml {

// Equal symbols written before a run count.
inline constexpr std::size_t rankRunCopies = 3;

constexpr std::size_t rankSymbolsBound(std::size_t m) { return 2 * m; }

// output must hold rankSymbolsBound(input.size()) bytes; returns the symbols written.
std::int32_t codeRankSymbols(std::span<std::uint8_t> output, std::span<const std::uint8_t> input) noexcept;

// Reads rank symbols back into ranks (replacing its contents; at most limit
// ranks, growing only as they are read). position: symbol index.
StageFault decodeRankSymbols(std::span<const std::uint8_t> symbols, std::vector<std::uint8_t>& ranks,
                             std::size_t limit = bufferSizeForLevel1);

} // namespace dls2mml
