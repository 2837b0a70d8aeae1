// Inverse block sort: rebuilds a block from its last column and primary index
// by the walk of docs/format.md, section 5.4, and refuses a column whose walk
// closes early unless it has the shape of a repeated pattern.
#include <array>
#include <cstdint>
#include <string>

#include "compressor/block_sort.h"

namespace dls2mml {

StageFault undoBlockSort(std::span<std::uint8_t> block, std::span<const std::uint8_t> lastColumn,
                         std::uint32_t primaryIndex, std::span<std::uint32_t> work) noexcept
{
    const std::size_t n = lastColumn.size();
    if (primaryIndex >= n)
        return {FaultKind::corrupt, "primary index " + std::to_string(primaryIndex) + " is not below the block length " + std::to_string(n), 0};
    std::array<std::uint32_t, 256> start{};
    for (std::size_t i = 0; i < n; ++i)
        ++start[lastColumn[i]];
    std::uint32_t sum = 0;
    for (auto& entry : start) {
        const std::uint32_t count = entry;
        entry = sum;
        sum += count;
    }
    // Each row's successor and its byte in one word (n < 2^24), so each step
    // of the walk, a load from anywhere in the block, fetches one word only.
    for (std::size_t i = 0; i < n; ++i)
        work[i] = start[lastColumn[i]]++ << 8 | lastColumn[i];

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

} // namespace dls2mml
