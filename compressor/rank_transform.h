// Rank transform: the last column to ranks by the move-to-front variant of
// docs/format.md, section 6.3, and back (section 5.3). Every block starts from
// the identity list; output length = input length; every rank string is valid.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace dls2mml {

// output must hold input.size() bytes.
// The list is kept in vector registers: with 512-bit byte permutes each byte
// costs a fixed few branch-free steps, and a block of rankSplitMinimum bytes
// or more runs as rankSplitStreams stretches in one loop (rankTransformSplit),
// so that their steps overlap; otherwise
// rankTransformWithoutPermutes. No allocation.
void rankTransform(std::span<std::uint8_t> output, std::span<const std::uint8_t> input) noexcept;

// How one block went through rankTransformSplit.
struct RankSplitOutcome {
    bool split = false;    // false: one pass (too short, or no 512-bit byte permutes)
    std::size_t rerun = 0; // bytes run again because a stretch's starting list was not the true one
};

// The ranks of rankTransform, the block run as `streams` (2 to 4) equal
// stretches in one loop, each from the list its first byte follows, derived
// by a scalar pass over the bytes before it; each stretch's last list is
// checked against the next one's start, and a stretch that started wrong runs
// again. spoiled (1 to streams - 1; 0: none) makes that stretch's start
// wrong, for tests of that check. Exact whatever the arguments; no allocation.
RankSplitOutcome rankTransformSplit(std::span<std::uint8_t> output, std::span<const std::uint8_t> input,
                                    std::size_t streams, std::size_t spoiled = 0) noexcept;
inline constexpr std::size_t rankSplitMinimum = 64 * 1024;
inline constexpr std::size_t rankSplitStreams = 3;

// What rankTransform runs where the processor has no 512-bit byte permutes
// (and in the page's build): each stretch of 1 KiB by rankTransformByList or
// rankTransformByPlaces, as the stretch before favours.
void rankTransformWithoutPermutes(std::span<std::uint8_t> output, std::span<const std::uint8_t> input) noexcept;
// The list searched and shifted 16 bytes at a time: a rank j costs about
// j / 16 steps, cheap where ranks are small (text, runs)...
void rankTransformByList(std::span<std::uint8_t> output, std::span<const std::uint8_t> input) noexcept;
// ...and each value's place kept instead: a fixed 16 vector steps per byte
// whatever its rank, cheaper where ranks spread widely (sampled sound).
void rankTransformByPlaces(std::span<std::uint8_t> output, std::span<const std::uint8_t> input) noexcept;

// Undoes the rank transform; lastColumn must hold ranks.size() bytes. Where
// the processor has 512-bit byte permutes the list is kept in vector
// registers and each rank costs a fixed few steps whatever its size; no allocation.
void undoRankTransform(std::span<std::uint8_t> lastColumn, std::span<const std::uint8_t> ranks) noexcept;
// The same one rank at a time on a list in memory, the rules as written (tests
// check every form against it).
void undoRankTransformPortable(std::span<std::uint8_t> lastColumn, std::span<const std::uint8_t> ranks) noexcept;
// The same with the list in 16 pieces of 16 bytes, shifted a piece at a time
// where there are 16-byte vectors (what undoRankTransform runs elsewhere; in
// WebAssembly a third of the time the portable one takes).
void undoRankTransformByList(std::span<std::uint8_t> lastColumn, std::span<const std::uint8_t> ranks) noexcept;
// Whether undoRankTransform keeps the list in vector registers on this processor.
bool undoRankTransformIsVectored() noexcept;

// Bytes past limit that undoRankSymbolsAndTransform may write in (a short
// run of zero ranks is one fixed-size fill).
inline constexpr std::size_t rankColumnRoom = 32;
// Reads rank symbols (see rank_symbols.h) straight into the last column,
// each rank undone as it is read, without the ranks in between; where the
// list is kept in vector registers only. lastColumn must hold limit +
// rankColumnRoom bytes. True, with length the ranks read, exactly when
// decodeRankSymbols(symbols, ranks, limit) finds no fault, the column then
// being undoRankTransform's of those ranks. False on any fault, and always
// where the list is not in vector registers: the caller then takes the two
// steps one after the other, which name the fault.
bool undoRankSymbolsAndTransform(std::span<std::uint8_t> lastColumn, std::span<const std::uint8_t> symbols, std::size_t limit,
                                 std::size_t& length) noexcept;

} // namespace dls2mml
