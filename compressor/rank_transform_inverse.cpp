// Inverse rank transform: ranks back into the last column (docs/format.md,
// section 5.3).
//
// Each rank j names the list place whose value comes out; that value then
// moves to place 1 (places 1..j-1 moving one back), or to the front when j is
// 1 after a non-zero rank. The vector version keeps the whole 256-byte list in
// four 64-byte registers and does every step without a branch: the value is
// picked by a byte permute, every place moves back by one into a copy, and a
// mask made from j alone chooses, place by place, between the list, the copy
// and the value. The only chain from one rank to the next runs through the
// list registers, a few instructions long.
#include <array>
#include <cstdint>
#include <cstring>

#include "compressor/rank_list_512.h"
#include "compressor/rank_transform.h"

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define DLS2MML_RANK_INVERSE_VECTOR 1
#endif

namespace dls2mml {

void undoRankTransformPortable(std::span<std::uint8_t> lastColumn, std::span<const std::uint8_t> ranks) noexcept
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

#if defined(DLS2MML_RANK_INVERSE_VECTOR)
namespace {

// placesUpTo[j][k]: bit i set where place 64k + i of the list is at most j.
struct PlaceMasks {
    std::uint64_t placesUpTo[256][4];
};

constexpr PlaceMasks makePlaceMasks()
{
    PlaceMasks masks{};
    for (int j = 0; j < 256; ++j)
        for (int k = 0; k < 4; ++k) {
            const int last = j - 64 * k; // the highest place of this register that is at most j
            masks.placesUpTo[j][k] = last < 0 ? 0 : last >= 63 ? ~std::uint64_t{0} : (std::uint64_t{2} << last) - 1;
        }
    return masks;
}

constexpr PlaceMasks placeMasks = makePlaceMasks();

#define DLS2MML_VECTOR_TARGET __attribute__((target("avx512f,avx512bw,avx512vbmi")))

DLS2MML_VECTOR_TARGET void undoRankTransformVector(std::span<std::uint8_t> lastColumn,
                                                   std::span<const std::uint8_t> ranks) noexcept
{
    __m512i list0, list1, list2, list3, movedBackIndex;
    list512::loadStartingList(list0, list1, list2, list3, movedBackIndex);

    std::uint32_t previousRank = 1;
    for (std::size_t i = 0; i < ranks.size(); ++i) {
        const std::uint32_t j = ranks[i];
        // The value lands at place 0 when j is 0 (where it already stands) or
        // when j is 1 after a non-zero rank; otherwise at place 1 (where it
        // stands already when j is 1 after a zero rank). Places after it, up
        // to j, take the byte before them.
        const std::uint32_t landing = (j == 0 || (j == 1 && previousRank != 0)) ? 0 : 1;
        const __m512i index = _mm512_set1_epi8(static_cast<char>(j));
        const __mmask64 upperHalf = static_cast<__mmask64>(0 - static_cast<std::uint64_t>(j >> 7));
        const __m512i value = _mm512_mask_blend_epi8(upperHalf, _mm512_permutex2var_epi8(list0, index, list1),
                                                     _mm512_permutex2var_epi8(list2, index, list3));
        lastColumn[i] = static_cast<std::uint8_t>(_mm512_cvtsi512_si32(value));

        const __m512i moved0 = _mm512_permutex2var_epi8(list0, movedBackIndex, list0);
        const __m512i moved1 = _mm512_permutex2var_epi8(list0, movedBackIndex, list1);
        const __m512i moved2 = _mm512_permutex2var_epi8(list1, movedBackIndex, list2);
        const __m512i moved3 = _mm512_permutex2var_epi8(list2, movedBackIndex, list3);
        const std::uint64_t* upToJ = placeMasks.placesUpTo[j];
        const std::uint64_t upToLanding = (std::uint64_t{2} << landing) - 1;
        list0 = _mm512_mask_blend_epi8(upToJ[0] & ~upToLanding, list0, moved0);
        list0 = _mm512_mask_blend_epi8(std::uint64_t{1} << landing, list0, value);
        list1 = _mm512_mask_blend_epi8(upToJ[1], list1, moved1);
        list2 = _mm512_mask_blend_epi8(upToJ[2], list2, moved2);
        list3 = _mm512_mask_blend_epi8(upToJ[3], list3, moved3);
        previousRank = j;
    }
}

const bool haveVectorPermutes = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                                __builtin_cpu_supports("avx512vbmi");

} // namespace
#endif

bool undoRankTransformIsVectored() noexcept
{
#if defined(DLS2MML_RANK_INVERSE_VECTOR)
    return haveVectorPermutes;
#else
    return false;
#endif
}

void undoRankTransform(std::span<std::uint8_t> lastColumn, std::span<const std::uint8_t> ranks) noexcept
{
#if defined(DLS2MML_RANK_INVERSE_VECTOR)
    if (haveVectorPermutes) {
        undoRankTransformVector(lastColumn, ranks);
        return;
    }
#endif
    undoRankTransformPortable(lastColumn, ranks);
}

} // namespace dls2mml
