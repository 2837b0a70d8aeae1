#include "compressor/rank_transform.h"

#include <array>
#include <cstring>
#include <numeric>

namespace dls2mml {

void rankTransform(std::span<std::uint8_t> output, std::span<const std::uint8_t> input) noexcept
{
    std::array<std::uint8_t, 256> rankTable;
    std::iota(rankTable.begin(), rankTable.end(), std::uint8_t{0});
    std::int32_t previousRank = 1;
    for (std::size_t i = 0; i < input.size(); ++i) {
        const std::uint8_t x = input[i];
        std::size_t j = 0;
        while (rankTable[j] != x)
            ++j;
        output[i] = static_cast<std::uint8_t>(j);
        if (j == 1) {
            // Position 1 reaches the front only after a non-zero rank.
            if (previousRank != 0) {
                rankTable[1] = rankTable[0];
                rankTable[0] = x;
            }
        } else if (j >= 2) {
            // Deeper values move to position 1; the front stays.
            std::memmove(&rankTable[2], &rankTable[1], j - 1);
            rankTable[1] = x;
        }
        previousRank = static_cast<std::int32_t>(j);
    }
}

} // namespace dls2mml
