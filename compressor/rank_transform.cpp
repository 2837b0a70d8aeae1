#include "compressor/rank_transform.h"

#include <array>
#include <cstring>
#include <numeric>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace dls2mml {
namespace {

// Position of x in the list; every value occurs exactly once.
inline std::size_t findRank(const std::uint8_t* table, std::uint8_t x) noexcept
{
#if defined(__SSE2__)
    const __m128i needle = _mm_set1_epi8(static_cast<char>(x));
    for (std::size_t at = 0;; at += 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(table + at));
        const int hits = _mm_movemask_epi8(_mm_cmpeq_epi8(chunk, needle));
        if (hits != 0)
            return at + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(hits)));
    }
#else
    std::size_t j = 0;
    while (table[j] != x)
        ++j;
    return j;
#endif
}

} // namespace

void rankTransform(std::span<std::uint8_t> output, std::span<const std::uint8_t> input) noexcept
{
    alignas(16) std::array<std::uint8_t, 256> rankTable;
    std::iota(rankTable.begin(), rankTable.end(), std::uint8_t{0});
    std::int32_t previousRank = 1;
    for (std::size_t i = 0; i < input.size(); ++i) {
        const std::uint8_t x = input[i];
        const std::size_t j = findRank(rankTable.data(), x);
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
