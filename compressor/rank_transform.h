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
// rankSplit constants), so that their steps overlap; otherwise one pass where
// a rank j costs about j / 16 (or j / 32 with 256-bit vectors) steps. No allocation.
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
// The same with 256-bit vectors at most (what rankTransform runs where the
// processor has no 512-bit byte permutes)...
void rankTransformWide(std::span<std::uint8_t> output, std::span<const std::uint8_t> input) noexcept;
// ...and with 128-bit vectors only (where it has no 256-bit ones); tests check all three.
void rankTransformNarrow(std::span<std::uint8_t> output, std::span<const std::uint8_t> input) noexcept;

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
