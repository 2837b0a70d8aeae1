// Rank transform: the last column to ranks by the move-to-front variant of
// docs/format.md, section 6.3, and back (section 5.3). Every block starts from
// the identity list; output length = input length; every rank string is valid.
#pragma once

#include <cstdint>
#include <span>

namespace dls2mml {

// output must hold input.size() bytes.
// One pass over the block; the list is kept in vector registers: with 512-bit
// byte permutes each byte costs a fixed few branch-free steps, otherwise a
// rank j costs about j / 16 (or j / 32 with 256-bit vectors) steps. No allocation.
void rankTransform(std::span<std::uint8_t> output, std::span<const std::uint8_t> input) noexcept;
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
