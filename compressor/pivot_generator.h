// The process-wide pseudo-random state from which the block sort draws its
// pivots (docs/format.md, section 7). It starts at 1 and is never reseeded, so
// the draws carry on across blocks, streams and files; the primary index of a
// block that repeats a pattern depends on every draw made before.
#pragma once

#include <cstdint>

namespace dls2mml {

class PivotGenerator {
public:
    static constexpr std::uint32_t initialState = 1;

    // One draw: state = state * 214013 + 2531011 (mod 2^32), yielding bits 30..16.
    std::uint32_t draw() noexcept
    {
        state_ = state_ * 214013u + 2531011u;
        return (state_ >> 16) & 0x7FFFu;
    }

    std::uint32_t state() const noexcept { return state_; }
    // Only for tests and for tools that replay a fresh process.
    void setState(std::uint32_t state) noexcept { state_ = state; }

private:
    std::uint32_t state_ = initialState;
};

// The single process-wide generator. Only the block sort draws from it, and
// blocks are sorted one after another, never concurrently.
extern PivotGenerator pivotGenerator;

} // namespace dls2mml
