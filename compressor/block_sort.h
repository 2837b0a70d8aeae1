// Block sort: the cyclic rotations of a block sorted into its last column and
// primary index (docs/format.md, section 6.2), by the prefix-doubling sort of
// section 7.2 with pivots drawn from pivotGenerator. Where a block repeats a
// pattern, every order and tie-break of block_sort.cpp is part of the output.
// The inverse walks the column back (section 5.4).
#pragma once

#include <array>
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
// be any row among rotation 0's equals. Worst case: the seeds of the
// induction (at most n / 2 rows) sorted with at most 4 n / 2 rows sorted
// again, dropped; then one sorting of each two-byte bucket, at most 4 n rows
// sorted or partitioned again, and the doubling passes on what is left. No
// memory beyond arrays; pending work lives in arrays.pending, not on the
// stack.
SortResult sortDistinctRotations(std::span<std::uint8_t> block, std::int32_t n, std::span<std::uint8_t> lastColumn,
                                 SortArrays& arrays) noexcept;

// Finishes a sort from the state between two doubling passes: rows in groups
// that share at least h leading bytes (rank of each member: the group's last
// row; groups in their final order), every other row finished (suffixArray
// entry negative, rank its row). Draws from generator as sortBlock does.
SortResult finishByDoubling(std::span<std::uint8_t> block, std::int32_t n, std::span<std::uint8_t> lastColumn,
                            SortArrays& arrays, std::int32_t h, PivotGenerator& generator) noexcept;

// Words of work past the n successors that let undoBlockSort walk a large
// block in pieces, several at once (without them it walks in one piece).
inline constexpr std::size_t pieceStarts = 128;
inline constexpr std::size_t pieceChunkBytes = 1024;
inline constexpr std::size_t pieceWalkMinimum = 1 << 16;
constexpr std::size_t pieceChunks(std::size_t n) { return n / pieceChunkBytes + pieceStarts + 1; }
constexpr std::size_t pieceWorkWords(std::size_t n)
{
    return n < pieceWalkMinimum ? 0 : pieceChunks(n) * (pieceChunkBytes / 4 + 1);
}

// Rebuilds the block from its last column and primary index. block must hold
// lastColumn.size() bytes and work as many entries, or n + pieceWorkWords(n)
// to go faster. Fails when the primary
// index is not below the block length or when the column is not the last column
// of any block's sorted rotations. position: row index.
StageFault undoBlockSort(std::span<std::uint8_t> block, std::span<const std::uint8_t> lastColumn,
                         std::uint32_t primaryIndex, std::span<std::uint32_t> work) noexcept;
// The walk in pieces alone, for tests: true when it rebuilt the block (a
// block of at least pieceWalkMinimum bytes, work of n + pieceWorkWords(n)
// entries, the primary index below n), exactly as undoBlockSort would; false
// where undoBlockSort walks in one piece instead (the column of no block, or
// one whose walk closes early).
bool undoBlockSortInPieces(std::span<std::uint8_t> block, std::span<const std::uint8_t> lastColumn,
                           std::uint32_t primaryIndex, std::span<std::uint32_t> work) noexcept;

// Where the rows of a few rotations are known (the sort that made the column
// knows them all), the walk back can run as walkSegments walks at once, one
// per stretch of walkSegmentLength(n) bytes, whose loads from the column
// overlap. Segment j covers bytes [j L, (j + 1) L) of the block (the last one
// ends at n) and starts on the row of rotation (j + 1) L.
inline constexpr std::size_t walkSegments = 16;
inline constexpr std::size_t segmentedWalkMinimum = 1 << 12; // below it, one walk is as quick
constexpr std::size_t walkSegmentLength(std::size_t n) { return (n + walkSegments - 1) / walkSegments; }
// rotationRows[j - 1] is the row of the rotation that starts at j L, j = 1 .. walkSegments - 1.
using SegmentRows = std::array<std::uint32_t, walkSegments - 1>;

// Reads those rows off a finished sort's suffixArray (rotation start by row)
// of a block of n >= segmentedWalkMinimum bytes.
SegmentRows segmentRows(std::span<const std::int32_t> suffixArray, std::size_t n) noexcept;

// The result of undoBlockSort, the same in every case, faster where rows are
// those of segmentRows: the segments' walks are trusted only when each ends on
// the row the one before it started from, the first on the primary index, and
// none meets the primary index earlier, which makes them together the one walk
// from the primary index. Anything else is left to undoBlockSort, so rows that
// are wrong cost time, never a different result.
StageFault undoBlockSortFrom(std::span<std::uint8_t> block, std::span<const std::uint8_t> lastColumn,
                             std::uint32_t primaryIndex, std::span<std::uint32_t> work, const SegmentRows& rows) noexcept;

} // namespace dls2mml
