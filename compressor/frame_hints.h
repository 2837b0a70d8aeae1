// What the coder knows of a block beyond its frame, handed to a check of the
// frame so that it can decode faster. A check confirms hints, never trusts
// them: with wrong hints it takes longer but comes to the same verdict.
#pragma once

#include <cstdint>
#include <span>

#include "compressor/block_sort.h"

namespace dls2mml {

struct FrameHints {
    // The rank symbols the payload codes, the end symbol not included.
    std::span<const std::uint8_t> symbols;
    bool symbolsKnown = false;
    // The rows of segmentRows for the block's sorted rotations.
    SegmentRows rows{};
    bool rowsKnown = false;
};

} // namespace dls2mml
