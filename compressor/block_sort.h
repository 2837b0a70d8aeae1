// Block sort: the cyclic rotations of a block sorted into its last column and
// primary index (docs/format.md, section 6.2), by the prefix-doubling sort of
// section 7.2 with pivots drawn from pivotGenerator. Where a block repeats a
// pattern, every order and tie-break of block_sort.cpp is part of the output.
// The inverse walks the column back (section 5.4).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "compressor/pivot_generator.h"
#include "compressor/stage_fault.h"
#include "compressor/work_memory.h"

namespace dls2mml {

// A range of rows waiting in refineGroup's explicit stack (see block_sort.cpp).
struct PendingRange {
    std::int32_t first;
    std::int32_t last;
    std::int32_t e1;
    std::int32_t e2;
};

// How many leading bytes sortDistinctRotations compares directly; rotations
// that agree that far are told apart by doubling passes.
inline constexpr std::int32_t directDepth = 256;
// sortDistinctRotations continues the block this far past its end with its first bytes.
inline constexpr std::int32_t wrappedBlockPadding = directDepth + 8;

// A row with its next eight bytes, read once, for sortDistinctRotations.
struct KeyedRow {
    std::uint64_t key;
    std::int32_t start;
};
inline constexpr std::int32_t keyedRowsCapacity = 4096;

// The arrays a sort works in, sized once for the largest block.
// Allocation may throw std::bad_alloc; the memory is not cleared, so pages a
// small block never reaches are never touched.
struct SortArrays {
    explicit SortArrays(std::size_t capacity);
    std::size_t capacity;
    WorkArray<std::int32_t> suffixArray; // by row: rotation start, or -k finished mark
    WorkArray<std::int32_t> rankArray;   // by rotation start: row, or last row of its group
    WorkArray<std::int32_t> bucketStart; // 65,537 entries, initial bucket sort only
    WorkArray<std::int32_t> bucketCount; // 65,536 entries, initial bucket sort only
    WorkArray<PendingRange> pending;     // explicit stack of refineGroup; groups left by sortDistinctRotations
    WorkArray<KeyedRow> keyedRows;        // keyedRowsCapacity entries, sortDistinctRotations only
};

struct SortResult {
    std::int32_t primaryIndex = 0;
    bool ok = true; // false: the consistency check failed; lastColumn untouched
};

// block holds n bytes plus one spare byte (a copy of block[0] is stored there);
// lastColumn receives n bytes. arrays must have room for n entries.
SortResult sortBlock(std::span<std::uint8_t> block, std::int32_t n, std::span<std::uint8_t> lastColumn,
                     SortArrays& arrays, PivotGenerator& generator = pivotGenerator) noexcept;

// The same result for a block whose rotations are all distinct (the caller has
// checked, as with hasEqualRotations), much faster. block must hold n +
// wrappedBlockPadding bytes; those past the block are overwritten, the first
// of them with a copy of block[0] as sortBlock does. Any correct sort gives
// that block's unique order, so this one draws no pivots. For a block with
// equal rotations the last column is still right but the primary index may
// be any row among rotation 0's equals. Worst case: one sorting of each
// two-byte bucket, at most 4 n rows sorted or partitioned again, then the
// doubling passes on what is left. Pending work lives in arrays.pending, not
// on the stack.
SortResult sortDistinctRotations(std::span<std::uint8_t> block, std::int32_t n, std::span<std::uint8_t> lastColumn,
                                 SortArrays& arrays) noexcept;

// Finishes a sort from the state between two doubling passes: rows in groups
// that share at least h leading bytes (rank of each member: the group's last
// row; groups in their final order), every other row finished (suffixArray
// entry negative, rank its row). Draws from generator as sortBlock does.
SortResult finishByDoubling(std::span<std::uint8_t> block, std::int32_t n, std::span<std::uint8_t> lastColumn,
                            SortArrays& arrays, std::int32_t h, PivotGenerator& generator) noexcept;

// Rebuilds the block from its last column and primary index. block must hold
// lastColumn.size() bytes and work as many entries. Fails when the primary
// index is not below the block length or when the column is not the last column
// of any block's sorted rotations. position: row index.
StageFault undoBlockSort(std::span<std::uint8_t> block, std::span<const std::uint8_t> lastColumn,
                         std::uint32_t primaryIndex, std::span<std::uint32_t> work) noexcept;

} // namespace dls2mml
