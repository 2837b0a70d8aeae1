// Block-sorting transform: sorts the n cyclic rotations of a block and yields
// the last column (for each sorted row, the byte cyclically before its
// rotation) and the primary index (the row of rotation 0).
//
// A prefix-doubling sort over group ranks: two-byte buckets first (h = 2),
// then passes with h = 2, 4, 8, ... that split every unfinished group by the
// rank h bytes ahead with a ternary partition around a pivot drawn from the
// process-wide pivotGenerator. Groups of at most 11 rows are finished by
// insertion sort with a full comparison. Every order and tie-break here is
// part of the output: equal rotations (a block repeating a shorter pattern)
// end in rows fixed by exactly these steps and draws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "compressor/pivot_generator.h"
#include "compressor/stage_fault.h"
#include "compressor/work_memory.h"

namespace dls2mml {

// The integer arrays a sort works in, sized once for the largest block.
// A range of rows waiting in refineGroup's explicit stack (see block_sort.cpp).
struct PendingRange {
    std::int32_t first;
    std::int32_t last;
    std::int32_t e1;
    std::int32_t e2;
};

// Allocation may throw std::bad_alloc; the memory is not cleared, so pages a
// small block never reaches are never touched.
struct SortArrays {
    explicit SortArrays(std::size_t capacity);
    std::size_t capacity;
    WorkArray<std::int32_t> suffixArray; // by row: rotation start, or -k finished mark
    WorkArray<std::int32_t> rankArray;   // by rotation start: row, or last row of its group
    WorkArray<std::int32_t> bucketStart; // 65,537 entries, initial bucket sort only
    WorkArray<std::int32_t> bucketCount; // 65,536 entries, initial bucket sort only
    WorkArray<PendingRange> pending;     // explicit stack of refineGroup
};

struct SortResult {
    std::int32_t primaryIndex = 0;
    bool ok = true; // false: the consistency check failed; lastColumn untouched
};

// block holds n bytes plus one spare byte (a copy of block[0] is stored there);
// lastColumn receives n bytes. arrays must have room for n entries.
SortResult sortBlock(std::span<std::uint8_t> block, std::int32_t n, std::span<std::uint8_t> lastColumn,
                     SortArrays& arrays, PivotGenerator& generator = pivotGenerator) noexcept;

// Rebuilds the block from its last column and primary index. block must hold
// lastColumn.size() bytes and work as many entries. Fails when the primary
// index is not below the block length or when the column is not the last column
// of any block's sorted rotations. position: row index.
StageFault undoBlockSort(std::span<std::uint8_t> block, std::span<const std::uint8_t> lastColumn,
                         std::uint32_t primaryIndex, std::span<std::uint32_t> work) noexcept;

} // namespace dls2mml
