// Inverse rank transform: ranks back into the last column (docs/format.md,
// section 5.3).
#include <array>
#include <cstdint>
#include <cstring>

#include "compressor/rank_transform.h"

namespace dls2mml {

void undoRankTransform(std::span<std::uint8_t> lastColumn, std::span<const std::uint8_t> ranks) noexcept
{
    std::array<std::uint8_t, 256> table{};
    for (std::size_t i = 0; i < table.size(); ++i)
        table[i] = static_cast<std::uint8_t>(i);
    std::uint32_t previousRank = 1;
    for (std::size_t i = 0; i < ranks.size(); ++i) {
        const std::uint32_t j = ranks[i];
        const std::uint8_t value = table[j];
        lastColumn[i] = value;
        if (j == 1) {
            if (previousRank != 0) {
                table[1] = table[0];
                table[0] = value;
            }
        } else if (j >= 2) {
            std::memmove(&table[2], &table[1], j - 1);
            table[1] = value;
        }
        previousRank = j;
    }
}

} // namespace dls2mml
