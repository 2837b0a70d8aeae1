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
// or more runs as two halves in one loop (rankTransformSplit with the
// rankSplit constants), so that their steps overlap; otherwise
// rankTransformWithoutPermutes. No allocation.
void rankTransform(std::span<std::uint8_t> output, std::span<const std::uint8_t> input) noexcept;

// How one block went through rankTransformSplit.
struct RankSplitOutcome {
    bool split = false;     // false: one pass (under two bytes, or no 512-bit byte permutes)
    bool guessHeld = false; // the second half's guessed starting list was the true one
    std::size_t rerun = 0;  // bytes of the second half run again from the true list
};

// The ranks of rankTransform, the block run as two halves in one loop. The
// second half starts from a guess: the list that the values at places 0 and
// 1 over the lookBack bytes before the window imply (exact when lookBack
// reaches the block's start), then the window bytes before the midpoint run
// through it. It saves its list every spacing bytes (wider when the half
// would need more than 64 checkpoints). Where the guess was wrong the second
// half runs again from the true list until it reaches a saved one. Exact
// whatever lookBack, window and spacing; no allocation.
RankSplitOutcome rankTransformSplit(std::span<std::uint8_t> output, std::span<const std::uint8_t> input,
                                    std::size_t lookBack, std::size_t window, std::size_t spacing) noexcept;
inline constexpr std::size_t rankSplitMinimum = 64 * 1024;
// rankTransform derives the second half's list from the whole first half,
// so its guess holds and the checkpoints are a safety net only.
inline constexpr std::size_t rankSplitLookBack = ~std::size_t{0};
inline constexpr std::size_t rankSplitWindow = 0;
inline constexpr std::size_t rankSplitSpacing = 4096;
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
// The same one rank at a time on a list in memory (what undoRankTransform runs
// elsewhere; tests check both).
void undoRankTransformPortable(std::span<std::uint8_t> lastColumn, std::span<const std::uint8_t> ranks) noexcept;
// Whether undoRankTransform keeps the list in vector registers on this processor.
bool undoRankTransformIsVectored() noexcept;

} // namespace dls2mml
