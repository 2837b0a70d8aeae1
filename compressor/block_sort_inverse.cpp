// Inverse block sort: rebuilds a block from its last column and primary index
// by the walk of docs/format.md, section 5.4, and refuses a column whose walk
// closes early unless it has the shape of a repeated pattern.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

#include "compressor/block_sort.h"

namespace dls2mml {
namespace {

// Each row's successor and its byte in one word (n < 2^24), so each step of
// the walk, a load from anywhere in the block, fetches one word only.
void buildSuccessors(std::span<const std::uint8_t> lastColumn, std::span<std::uint32_t> work) noexcept
{
    const std::size_t n = lastColumn.size();
    std::array<std::uint32_t, 256> start{};
    for (std::size_t i = 0; i < n; ++i)
        ++start[lastColumn[i]];
    std::uint32_t sum = 0;
    for (auto& entry : start) {
        const std::uint32_t count = entry;
        entry = sum;
        sum += count;
    }
    for (std::size_t i = 0; i < n; ++i)
        work[i] = start[lastColumn[i]]++ << 8 | lastColumn[i];
}

// The walk from the primary index over the successors in work.
StageFault walkFromPrimary(std::span<std::uint8_t> block, std::span<const std::uint8_t> lastColumn,
                           std::uint32_t primaryIndex, std::span<const std::uint32_t> work) noexcept
{
    const std::size_t n = lastColumn.size();
    std::size_t row = primaryIndex;
    std::size_t period = n;
    for (std::size_t step = 0; step < n; ++step) {
        const std::uint32_t entry = work[row];
        block[n - 1 - step] = static_cast<std::uint8_t>(entry);
        row = entry >> 8;
        if (row == primaryIndex && step + 1 < n) {
            period = step + 1;
            break;
        }
    }
    if (period == n)
        return {};
    if (n % period != 0)
        return {FaultKind::corrupt, "last column is not that of any block: its rows form a cycle of " + std::to_string(period) +
                    " rows, which does not divide the block length " + std::to_string(n),
                primaryIndex};
    const std::size_t repeats = n / period;
    for (std::size_t i = 0; i < n; ++i) {
        if (lastColumn[i] != lastColumn[i - i % repeats])
            return {FaultKind::corrupt, "last column is not that of any block: a pattern of " + std::to_string(period) + " bytes repeated " +
                        std::to_string(repeats) + " times needs aligned runs of " + std::to_string(repeats) +
                        " equal bytes",
                    i};
    }
    // The block is the walked pattern, repeated.
    for (std::size_t i = n - period; i-- > 0;)
        block[i] = block[i + period];
    return {};
}

// steps steps of each of the first lanes walks, in lock step so that their
// loads overlap; counts the steps that land on the primary row.
template <std::size_t lanes>
std::size_t walkInterleaved(std::uint8_t* block, const std::uint32_t* work, std::array<std::uint32_t, walkSegments>& row,
                            std::array<std::size_t, walkSegments>& next, std::size_t steps, std::uint32_t primaryIndex) noexcept
{
    std::size_t primaryHits = 0;
    for (std::size_t step = 0; step < steps; ++step) {
#pragma GCC unroll 8
        for (std::size_t j = 0; j < lanes; ++j) {
            const std::uint32_t entry = work[row[j]];
            block[next[j]--] = static_cast<std::uint8_t>(entry);
            row[j] = entry >> 8;
            primaryHits += row[j] == primaryIndex;
        }
    }
    return primaryHits;
}

// The segments' walks of undoBlockSortFrom; true when together they are the
// walk from the primary index (then block holds its bytes).
bool walkSegmentsFrom(std::span<std::uint8_t> block, std::span<const std::uint32_t> work, std::uint32_t primaryIndex,
                      const SegmentRows& rows) noexcept
{
    const std::size_t n = block.size();
    const std::size_t length = walkSegmentLength(n);
    const std::size_t lastLength = n - (walkSegments - 1) * length;
    std::array<std::uint32_t, walkSegments> row{};
    std::array<std::size_t, walkSegments> next{};
    for (std::size_t j = 0; j < walkSegments; ++j) {
        row[j] = j + 1 < walkSegments ? rows[j] : primaryIndex; // rotation n is rotation 0
        if (row[j] >= n)
            return false;
        next[j] = std::min(n, (j + 1) * length) - 1;
    }
    std::size_t primaryHits = walkInterleaved<walkSegments>(block.data(), work.data(), row, next, lastLength, primaryIndex);
    primaryHits += walkInterleaved<walkSegments - 1>(block.data(), work.data(), row, next, length - lastLength, primaryIndex);
    // Only the very last step, segment 0's, may come back to the primary row.
    if (primaryHits != 1 || row[0] != primaryIndex)
        return false;
    for (std::size_t j = 1; j < walkSegments; ++j)
        if (row[j] != rows[j - 1])
            return false;
    return true;
}

} // namespace

StageFault undoBlockSort(std::span<std::uint8_t> block, std::span<const std::uint8_t> lastColumn,
                         std::uint32_t primaryIndex, std::span<std::uint32_t> work) noexcept
{
    const std::size_t n = lastColumn.size();
    if (primaryIndex >= n)
        return {FaultKind::corrupt, "primary index " + std::to_string(primaryIndex) + " is not below the block length " + std::to_string(n), 0};
    buildSuccessors(lastColumn, work);
    return walkFromPrimary(block, lastColumn, primaryIndex, work);
}

StageFault undoBlockSortFrom(std::span<std::uint8_t> block, std::span<const std::uint8_t> lastColumn,
                             std::uint32_t primaryIndex, std::span<std::uint32_t> work, const SegmentRows& rows) noexcept
{
    const std::size_t n = lastColumn.size();
    if (n < segmentedWalkMinimum || primaryIndex >= n)
        return undoBlockSort(block, lastColumn, primaryIndex, work);
    buildSuccessors(lastColumn, work);
    if (walkSegmentsFrom(block.first(n), work.first(n), primaryIndex, rows))
        return {};
    return walkFromPrimary(block, lastColumn, primaryIndex, work);
}

SegmentRows segmentRows(std::span<const std::int32_t> suffixArray, std::size_t n) noexcept
{
    // s / length by a multiplication: exact for s, length < 2^20.
    const std::uint64_t length = walkSegmentLength(n);
    const std::uint64_t inverse = ((std::uint64_t{1} << 40) + length - 1) / length;
    SegmentRows rows{};
    for (std::size_t row = 0; row < n; ++row) {
        const auto s = static_cast<std::uint64_t>(static_cast<std::uint32_t>(suffixArray[row]));
        const std::uint64_t j = (s * inverse) >> 40;
        if (j * length == s && j - 1 < rows.size())
            rows[j - 1] = static_cast<std::uint32_t>(row);
    }
    return rows;
}

} // namespace dls2mml
