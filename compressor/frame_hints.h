// What the coder knows of a block beyond its frame, handed to a check of the
// frame so that it can decode faster. A check confirms hints, never trusts
// them: with wrong hints it takes longer but comes to the same verdict.
// With them comes memory the coder has finished with, lent to the check so
// that it works in pages already in use and warm rather than in its own.
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
    // Lent memory, each used only where it holds what the check needs
    // (words: a word per byte of the pre-pass block, and more for the
    // piece walk without rows; bytes: the pre-pass block twice).
    std::span<std::uint32_t> spareWords;
    std::span<std::uint8_t> spareBytes;
};

} // namespace dls2mml
