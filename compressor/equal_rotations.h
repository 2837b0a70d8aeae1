// Which blocks can have equal rotations, found cheaply before sorting.
//
// The rows that equal rotations take after the block sort, and so a block's
// primary index, depend on the pivot draws made before it; a block whose
// rotations are all distinct sorts to the same output whatever the pivot
// state. Two rotations of a block are equal exactly when the block is a power
// of a shorter string, that is when it repeats itself with some period p that
// divides its length m. Any such p is a divisor of m / q for some prime q of
// m, so checking the periods m / q for the (at most seven) primes q of m
// settles it; each check is one comparison of the block with itself shifted,
// which stops at the first differing byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace dls2mml {

// True when two of the block's cyclic rotations are equal (m >= 2 and the
// block is a shorter string repeated).
bool hasEqualRotations(std::span<const std::uint8_t> block) noexcept;

// The same question for the block that a slice of input becomes after the
// run-length pre-pass; prepassed receives the pre-pass output and must hold
// runLengthPrepassBound(slice.size()) bytes.
bool sliceHasEqualRotations(std::span<const std::uint8_t> slice, std::span<std::uint8_t> prepassed) noexcept;

} // namespace dls2mml
