// Rank transform: the last column to ranks by the move-to-front variant of
// docs/format.md, section 6.3, and back (section 5.3). Every block starts from
// the identity list; output length = input length; every rank string is valid.
#pragma once

#include <cstdint>
#include <span>

namespace dls2mml {

// output must hold input.size() bytes.
// One pass over the block; the list is kept in vector registers, so a rank j
// costs about j / 16 (or j / 32 with 256-bit vectors) steps. No allocation.
void rankTransform(std::span<std::uint8_t> output, std::span<const std::uint8_t> input) noexcept;
// The same without 256-bit vectors (what rankTransform runs where the
// processor has none; tests check both).
void rankTransformNarrow(std::span<std::uint8_t> output, std::span<const std::uint8_t> input) noexcept;

// Undoes the rank transform; lastColumn must hold ranks.size() bytes.
void undoRankTransform(std::span<std::uint8_t> lastColumn, std::span<const std::uint8_t> ranks) noexcept;

} // namespace dls2mml
