// Run-length pre-pass, the first stage of a block, and its expansion
// (docs/format.md, sections 6.1 and 5.5). With threshold 4 the output is at
// most n + floor(n / 4) bytes; the expansion refuses what the pre-pass cannot
// write (section 8).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "compressor/reused_buffer.h"
#include "compressor/stage_fault.h"
#include "compressor/stream_format.h"

namespace dls2mml {

inline constexpr std::int32_t prepassThreshold = 4;

// Worst-case output length for n input bytes at threshold 4.
constexpr std::size_t runLengthPrepassBound(std::size_t n) { return n + n / 4; }

// Codes input into output (which must hold runLengthPrepassBound(input.size())
// bytes for threshold 4) and returns the number of bytes written.
std::int32_t runLengthPrepass(std::span<std::uint8_t> output, std::span<const std::uint8_t> input,
                              std::int32_t threshold = prepassThreshold) noexcept;

// Undoes the run-length pre-pass (threshold 4) into output (replacing its
// contents with at most limit bytes; it is sized for limit bytes and a little
// room once, and cut to the block's length at the end). position: pre-pass byte index.
StageFault expandRuns(std::span<const std::uint8_t> prepass, ReusedBytes& output,
                      std::size_t limit = blockSizeForLevel1);

} // namespace dls2mml
