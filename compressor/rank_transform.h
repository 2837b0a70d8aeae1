// Rank transform: each byte of the last column becomes its position in a list
// of the 256 byte values, which then changes by a move-to-front variant: a value
// found at position j >= 2 moves to position 1; one found at position 1 moves to
// the front only when the rank written just before was not 0. Every block starts
// from the identity list and a previous rank of 1. Output length = input length.
// The inverse reads rank j as the value at position j and changes the list the
// same way; every rank string is valid.
#pragma once

#include <cstdint>
#include <span>

namespace dls2mml {

// output must hold input.size() bytes.
void rankTransform(std::span<std::uint8_t> output, std::span<const std::uint8_t> input) noexcept;

// Undoes the rank transform; lastColumn must hold ranks.size() bytes.
void undoRankTransform(std::span<std::uint8_t> lastColumn, std::span<const std::uint8_t> ranks) noexcept;

} // namespace dls2mml
