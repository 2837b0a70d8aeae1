#include "compressor/rank_transform.h"

#include <array>
#include <cstring>
#include <numeric>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#endif

#include "compressor/rank_list_512.h"

namespace dls2mml {

#if defined(__SSE2__)
namespace {

// Byte masks over one 16-byte piece of the list: upTo[k] covers places 0..k.
struct PieceMasks {
    alignas(16) std::uint8_t upTo[16][16];
    PieceMasks()
    {
        for (int k = 0; k < 16; ++k)
            for (int i = 0; i < 16; ++i)
                upTo[k][i] = i <= k ? 0xFF : 0x00;
    }
};
const PieceMasks pieceMasks;

inline __m128i maskUpTo(int k) noexcept { return _mm_load_si128(reinterpret_cast<const __m128i*>(pieceMasks.upTo[k])); }

inline __m128i blend(__m128i mask, __m128i ifSet, __m128i ifClear) noexcept
{
    return _mm_or_si128(_mm_and_si128(mask, ifSet), _mm_andnot_si128(mask, ifClear));
}

// One byte through the list, which is kept as 16 pieces of 16 bytes. The
// search and the shift are one pass from the front: every piece before the
// one holding x moves one place back (its last byte going to the next piece),
// and the piece holding x moves back only up to x's place. Returns x's rank.
inline unsigned rankAndUpdate(__m128i* list, std::uint8_t x, unsigned previousRank) noexcept
{
    const __m128i needle = _mm_set1_epi8(static_cast<char>(x));
    const __m128i front = list[0];
    unsigned hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(front, needle)));
    const __m128i place0 = maskUpTo(0);
    const __m128i places01 = maskUpTo(1);
    if (hits != 0) {
        const unsigned k = static_cast<unsigned>(__builtin_ctz(hits));
        if (k == 0)
            return 0;
        if (k == 1) {
            // Position 1 reaches the front only after a non-zero rank.
            if (previousRank != 0) {
                const __m128i swapped = _mm_or_si128(_mm_slli_epi16(front, 8), _mm_srli_epi16(front, 8));
                list[0] = blend(places01, swapped, front);
            }
            return 1;
        }
        // Places 2..k take the bytes before them, x goes to place 1, place 0 stays.
        const __m128i moved = blend(place0, front, blend(places01, needle, _mm_slli_si128(front, 1)));
        list[0] = blend(maskUpTo(static_cast<int>(k)), moved, front);
        return k;
    }
    list[0] = blend(place0, front, blend(places01, needle, _mm_slli_si128(front, 1)));
    __m128i before = front;
    for (unsigned piece = 1;; ++piece) {
        const __m128i current = list[piece];
        const __m128i moved = _mm_or_si128(_mm_slli_si128(current, 1), _mm_srli_si128(before, 15));
        hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(current, needle)));
        if (hits != 0) {
            const unsigned k = static_cast<unsigned>(__builtin_ctz(hits));
            list[piece] = blend(maskUpTo(static_cast<int>(k)), moved, current);
            return 16 * piece + k;
        }
        list[piece] = moved;
        before = current;
    }
}

} // namespace

void rankTransformNarrow(std::span<std::uint8_t> output, std::span<const std::uint8_t> input) noexcept
{
    __m128i list[16];
    for (int piece = 0; piece < 16; ++piece)
        list[piece] = _mm_setr_epi8(static_cast<char>(16 * piece), static_cast<char>(16 * piece + 1),
                                    static_cast<char>(16 * piece + 2), static_cast<char>(16 * piece + 3),
                                    static_cast<char>(16 * piece + 4), static_cast<char>(16 * piece + 5),
                                    static_cast<char>(16 * piece + 6), static_cast<char>(16 * piece + 7),
                                    static_cast<char>(16 * piece + 8), static_cast<char>(16 * piece + 9),
                                    static_cast<char>(16 * piece + 10), static_cast<char>(16 * piece + 11),
                                    static_cast<char>(16 * piece + 12), static_cast<char>(16 * piece + 13),
                                    static_cast<char>(16 * piece + 14), static_cast<char>(16 * piece + 15));
    unsigned previousRank = 1;
    for (std::size_t i = 0; i < input.size(); ++i) {
        previousRank = rankAndUpdate(list, input[i], previousRank);
        output[i] = static_cast<std::uint8_t>(previousRank);
    }
}

#if defined(__GNUC__) && defined(__x86_64__)
#define DLS2MML_RANK_TRANSFORM_WIDE 1
namespace {

// The same on eight pieces of 32 bytes, for processors with 256-bit vectors.
struct WidePieceMasks {
    alignas(32) std::uint8_t upTo[32][32];
    WidePieceMasks()
    {
        for (int k = 0; k < 32; ++k)
            for (int i = 0; i < 32; ++i)
                upTo[k][i] = i <= k ? 0xFF : 0x00;
    }
};
const WidePieceMasks widePieceMasks;

__attribute__((target("avx2"))) inline __m256i wideMaskUpTo(unsigned k) noexcept
{
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(widePieceMasks.upTo[k]));
}

// current moved one place back, its first byte taken from the last of before.
__attribute__((target("avx2"))) inline __m256i movedBack(__m256i current, __m256i before) noexcept
{
    return _mm256_alignr_epi8(current, _mm256_permute2x128_si256(current, before, 0x03), 15);
}

__attribute__((target("avx2"))) inline unsigned wideRankAndUpdate(__m256i* list, std::uint8_t x,
                                                                   unsigned previousRank) noexcept
{
    const __m256i needle = _mm256_set1_epi8(static_cast<char>(x));
    const __m256i front = list[0];
    unsigned hits = static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(front, needle)));
    const __m256i place0 = wideMaskUpTo(0);
    const __m256i places01 = wideMaskUpTo(1);
    // Places 2.. take the bytes before them, x goes to place 1, place 0 stays.
    const __m256i frontMoved = _mm256_blendv_epi8(
        _mm256_blendv_epi8(movedBack(front, _mm256_setzero_si256()), needle, places01), front, place0);
    if (hits != 0) {
        const unsigned k = static_cast<unsigned>(__builtin_ctz(hits));
        if (k == 0)
            return 0;
        if (k == 1) {
            // Position 1 reaches the front only after a non-zero rank.
            if (previousRank != 0) {
                const __m256i swapped = _mm256_or_si256(_mm256_slli_epi16(front, 8), _mm256_srli_epi16(front, 8));
                list[0] = _mm256_blendv_epi8(front, swapped, places01);
            }
            return 1;
        }
        list[0] = _mm256_blendv_epi8(front, frontMoved, wideMaskUpTo(k));
        return k;
    }
    list[0] = frontMoved;
    __m256i before = front;
    for (unsigned piece = 1;; ++piece) {
        const __m256i current = list[piece];
        const __m256i moved = movedBack(current, before);
        hits = static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(current, needle)));
        if (hits != 0) {
            const unsigned k = static_cast<unsigned>(__builtin_ctz(hits));
            list[piece] = _mm256_blendv_epi8(current, moved, wideMaskUpTo(k));
            return 32 * piece + k;
        }
        list[piece] = moved;
        before = current;
    }
}

__attribute__((target("avx2"))) void rankTransformWide256(std::span<std::uint8_t> output,
                                                          std::span<const std::uint8_t> input) noexcept
{
    alignas(32) std::uint8_t identity[256];
    std::iota(identity, identity + 256, std::uint8_t{0});
    __m256i list[8];
    for (int piece = 0; piece < 8; ++piece)
        list[piece] = _mm256_load_si256(reinterpret_cast<const __m256i*>(identity + 32 * piece));
    unsigned previousRank = 1;
    for (std::size_t i = 0; i < input.size(); ++i) {
        previousRank = wideRankAndUpdate(list, input[i], previousRank);
        output[i] = static_cast<std::uint8_t>(previousRank);
    }
}

const bool haveWideVectors = __builtin_cpu_supports("avx2");

// With 512-bit byte permutes the whole list is four registers and a byte
// takes the same branch-free steps wherever it stands: four compares find it,
// the masks of the places up to it (all of a register before the one holding
// it, up to its place in that one, none after) follow from the compare masks
// by a few integer steps, and the places up to it take the byte before them.
__attribute__((target("avx512f,avx512bw,avx512vbmi,bmi,popcnt"))) void rankTransformPermuted(
    std::span<std::uint8_t> output, std::span<const std::uint8_t> input) noexcept
{
    __m512i list0, list1, list2, list3, movedBackIndex;
    list512::loadStartingList(list0, list1, list2, list3, movedBackIndex, list512::previousPlace);
    std::uint64_t previousNonZero = 1;
    for (std::size_t i = 0; i < input.size(); ++i) {
        const __m512i needle = _mm512_set1_epi8(static_cast<char>(input[i]));
        const std::uint64_t at0 = _mm512_cmpeq_epi8_mask(list0, needle);
        const std::uint64_t at1 = _mm512_cmpeq_epi8_mask(list1, needle);
        const std::uint64_t at2 = _mm512_cmpeq_epi8_mask(list2, needle);
        const std::uint64_t at3 = _mm512_cmpeq_epi8_mask(list3, needle);
        // blsmsk(0) is all ones: a register before the one holding x is wholly
        // at or before x's place.
        const std::uint64_t notIn0 = 0 - static_cast<std::uint64_t>(at0 == 0);
        const std::uint64_t notIn01 = 0 - static_cast<std::uint64_t>((at0 | at1) == 0);
        const std::uint64_t notIn012 = 0 - static_cast<std::uint64_t>((at0 | at1 | at2) == 0);
        const std::uint64_t upTo0 = _blsmsk_u64(at0);
        const std::uint64_t upTo1 = notIn0 & _blsmsk_u64(at1);
        const std::uint64_t upTo2 = notIn01 & _blsmsk_u64(at2);
        const std::uint64_t upTo3 = notIn012 & _blsmsk_u64(at3);
        const std::uint64_t rank = static_cast<std::uint64_t>(_mm_popcnt_u64(upTo0) + _mm_popcnt_u64(upTo1) +
                                                              _mm_popcnt_u64(upTo2) + _mm_popcnt_u64(upTo3)) - 1;
        output[i] = static_cast<std::uint8_t>(rank);
        // x lands at place 0 when it stands there, or at place 1 after a
        // non-zero rank; otherwise at place 1 (where it stands already when
        // its rank is 1 after a zero rank).
        const std::uint64_t landing = 1 ^ ((at0 & 1) | ((at0 >> 1) & previousNonZero));
        const __m512i moved0 = _mm512_permutex2var_epi8(list0, movedBackIndex, list0);
        const __m512i moved1 = _mm512_permutex2var_epi8(list0, movedBackIndex, list1);
        const __m512i moved2 = _mm512_permutex2var_epi8(list1, movedBackIndex, list2);
        const __m512i moved3 = _mm512_permutex2var_epi8(list2, movedBackIndex, list3);
        list0 = _mm512_mask_blend_epi8(upTo0 & ~((std::uint64_t{2} << landing) - 1), list0, moved0);
        list0 = _mm512_mask_blend_epi8(std::uint64_t{1} << landing, list0, needle);
        list1 = _mm512_mask_blend_epi8(upTo1, list1, moved1);
        list2 = _mm512_mask_blend_epi8(upTo2, list2, moved2);
        list3 = _mm512_mask_blend_epi8(upTo3, list3, moved3);
        previousNonZero = rank != 0;
    }
}

const bool havePermutes = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                          __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("bmi") &&
                          __builtin_cpu_supports("popcnt");

} // namespace
#endif

void rankTransformWide(std::span<std::uint8_t> output, std::span<const std::uint8_t> input) noexcept
{
#if defined(DLS2MML_RANK_TRANSFORM_WIDE)
    if (haveWideVectors) {
        rankTransformWide256(output, input);
        return;
    }
#endif
    rankTransformNarrow(output, input);
}

void rankTransform(std::span<std::uint8_t> output, std::span<const std::uint8_t> input) noexcept
{
#if defined(DLS2MML_RANK_TRANSFORM_WIDE)
    if (havePermutes) {
        rankTransformPermuted(output, input);
        return;
    }
#endif
    rankTransformWide(output, input);
}

#else

void rankTransformNarrow(std::span<std::uint8_t> output, std::span<const std::uint8_t> input) noexcept
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

void rankTransformWide(std::span<std::uint8_t> output, std::span<const std::uint8_t> input) noexcept
{
    rankTransformNarrow(output, input);
}

void rankTransform(std::span<std::uint8_t> output, std::span<const std::uint8_t> input) noexcept
{
    rankTransformNarrow(output, input);
}

#endif

} // namespace dls2mml
