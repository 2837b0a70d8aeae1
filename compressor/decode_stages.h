// The stages that read a coded block back, last written first:
//   range decoder      payload bytes  -> rank symbols (up to the end symbol)
//   rank symbols       rank symbols   -> ranks (zero runs, escapes, run counts)
//   rank transform     ranks          -> last column of the sorted rotations
//   block sort         last column + primary index -> pre-pass bytes
//   run-length expand  pre-pass bytes -> the block's input bytes
//
// Each is a plain function over spans. Output capacities are the format's own
// limits (never a length taken from the input), and every stage checks its
// input strictly: data that the coder cannot have written is a fault, reported
// with the index in the stage's input where it stands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "compressor/frequency_model.h"

namespace dls2mml {

// A byte value as it appears in fault messages: "0x4F".
inline std::string hexByte(std::uint32_t value)
{
    static const char digits[] = "0123456789ABCDEF";
    return std::string("0x") + digits[(value >> 4) & 0xF] + digits[value & 0xF];
}

// Limits of one block at level 1.
inline constexpr std::size_t maxBlockBytes = 524288;       // raw bytes of one slice
inline constexpr std::size_t maxPrepassBytes = 655360;     // pre-pass output = ranks
inline constexpr std::size_t maxRankSymbols = 2 * maxPrepassBytes; // 1,310,720
// Payload of a block of maxRankSymbols symbols: two steps of at most two bytes
// per symbol, the end symbol, and the four flush bytes.
inline constexpr std::size_t maxPayloadBytes = 4 * (maxRankSymbols + 1) + 4; // 5,242,888

// A stage's verdict: empty message when the input was sound.
struct StageFault {
    std::string message;
    std::size_t position = 0; // index into the stage's input
    bool failed() const noexcept { return !message.empty(); }
};

// Range-decodes payload into symbols (replacing its contents; at most limit
// symbols, and it grows only as they are decoded) with the class models (reset
// first), up to and including the end symbol. The payload must end exactly
// where the coder's four flush bytes end. position: payload byte index.
StageFault decodeRangeBlock(ModelSet& models, std::span<const std::uint8_t> payload, std::vector<std::uint8_t>& symbols,
                            std::size_t limit = maxRankSymbols);
// The payload byte index at which the decoder stands once it has produced
// symbol number symbolIndex (for placing a later stage's fault in the stream).
std::size_t payloadPositionOfSymbol(ModelSet& models, std::span<const std::uint8_t> payload,
                                    std::size_t symbolIndex) noexcept;

// Reads rank symbols back into ranks (replacing its contents; at most limit
// ranks, growing only as they are read). position: symbol index.
StageFault decodeRankSymbols(std::span<const std::uint8_t> symbols, std::vector<std::uint8_t>& ranks,
                             std::size_t limit = maxPrepassBytes);

// Undoes the rank transform; lastColumn must hold ranks.size() bytes. Every
// rank string is valid.
void undoRankTransform(std::span<std::uint8_t> lastColumn, std::span<const std::uint8_t> ranks) noexcept;

// Rebuilds the block from its last column and primary index. block must hold
// lastColumn.size() bytes and work as many entries. Fails when the primary
// index is not below the block length or when the column is not the last column
// of any block's sorted rotations. position: row index.
StageFault undoBlockSort(std::span<std::uint8_t> block, std::span<const std::uint8_t> lastColumn,
                         std::uint32_t primaryIndex, std::span<std::uint32_t> work) noexcept;

// Undoes the run-length pre-pass (threshold 4) into output (replacing its
// contents; at most limit bytes, growing only as they are written).
// position: pre-pass byte index.
StageFault expandRuns(std::span<const std::uint8_t> prepass, std::vector<std::uint8_t>& output,
                      std::size_t limit = maxBlockBytes);

} // namespace dls2mml
