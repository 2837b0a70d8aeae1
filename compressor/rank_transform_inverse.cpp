// Inverse rank transform: ranks back into the last column (docs/format.md,
// section 5.3).
//
// Without 512-bit byte permutes the list is kept as 16 pieces of 16 bytes: a
// rank j reads its value with one byte load, and the pieces up to j's move
// back one place, 16 bytes at a time (about j / 16 steps).
//
// Each rank j names the list place whose value comes out; that value then
// moves to place 1 (places 1..j-1 moving one back), or to the front when j is
// 1 after a non-zero rank. The vector version keeps the whole 256-byte list in
// four 64-byte registers and does every step without a branch: the value is
// picked by a byte permute, and each register takes, by a permute masked to
// the places that move (read from a table by j and the landing place), the
// byte before each of them. The only chain from one rank to the next runs
// through the list registers, a few instructions long; the permutes, which
// all need one port of the processor, set the pace, so nothing else in a step
// (masks, the broadcast of j) is made to use that port. The decoder reads the
// rank symbols straight through the vector list, without the ranks between
// (undoRankSymbolsAndTransform): the symbol reader's branches then run in the
// shadow of the permutes.
#include <array>
#include <cstdint>
#include <cstring>

#include "compressor/rank_list_128.h"
#include "compressor/rank_list_512.h"
#include "compressor/rank_symbols.h"
#include "compressor/rank_transform.h"
#include "compressor/run_count.h"

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

#if defined(__SSE2__)
namespace {

using list128::blend;
using list128::maskAt;
using list128::movedBack;

// Byte masks over the first piece: moveBack[landing][k] the places after
// landing up to k, which take the byte before them; put[landing] the landing
// place itself.
struct LandingMasks {
    alignas(16) std::uint8_t moveBack[2][16][16];
    alignas(16) std::uint8_t put[2][16];
};

constexpr LandingMasks makeLandingMasks()
{
    LandingMasks masks{};
    for (int landing = 0; landing < 2; ++landing) {
        for (int k = 0; k < 16; ++k)
            for (int i = 0; i < 16; ++i)
                masks.moveBack[landing][k][i] = landing < i && i <= k ? 0xFF : 0x00;
        masks.put[landing][landing] = 0xFF;
    }
    return masks;
}

alignas(16) constexpr LandingMasks landingMasks = makeLandingMasks();

} // namespace

void undoRankTransformByList(std::span<std::uint8_t> lastColumn, std::span<const std::uint8_t> ranks) noexcept
{
    // The pieces are the list's storage; its bytes are read through a byte
    // pointer, which may alias anything.
    __m128i pieces[16];
    std::uint8_t* const places = reinterpret_cast<std::uint8_t*>(pieces);
    for (std::size_t i = 0; i < 256; ++i)
        places[i] = static_cast<std::uint8_t>(i);
    std::uint32_t previousRank = 1;
    for (std::size_t i = 0; i < ranks.size(); ++i) {
        const std::uint32_t j = ranks[i];
        const std::uint8_t value = places[j];
        lastColumn[i] = value;
        // The value lands at place 0 when j is 0 (where it already stands) or
        // when j is 1 after a non-zero rank; otherwise at place 1 (where it
        // stands already when j is 1 after a zero rank). Places after it, up
        // to j, take the byte before them. Masks rather than conditions for
        // the first piece: the case is not foreseeable.
        const std::uint32_t landing = std::uint32_t{j > 1} | (std::uint32_t{j == 1} & std::uint32_t{previousRank == 0});
        const std::uint32_t last = j >> 4;
        const __m128i front = pieces[0];
        const __m128i shifted = blend(maskAt(landingMasks.moveBack[landing][last == 0 ? j : 15]), _mm_slli_si128(front, 1), front);
        pieces[0] = blend(maskAt(landingMasks.put[landing]), _mm_set1_epi8(static_cast<char>(value)), shifted);
        if (last != 0) {
            // Whole pieces before j's, j's own up to j.
            __m128i before = front;
            for (std::uint32_t piece = 1; piece < last; ++piece) {
                const __m128i current = pieces[piece];
                pieces[piece] = movedBack(current, before);
                before = current;
            }
            const __m128i current = pieces[last];
            pieces[last] = blend(list128::upTo(j & 15), movedBack(current, before), current);
        }
        previousRank = j;
    }
}
#else
void undoRankTransformByList(std::span<std::uint8_t> lastColumn, std::span<const std::uint8_t> ranks) noexcept
{
    undoRankTransformPortable(lastColumn, ranks);
}
#endif

#if defined(DLS2MML_RANK_INVERSE_VECTOR)
namespace {

// The masks of a step, read from memory straight into mask registers (moving
// them from general registers would take the port every permute needs):
// moveBack[landing][j][k] has bit i set where place 64k + i takes the byte
// before it: places after landing up to j. put[landing] is the landing place.
// upper[j] picks the value from the upper half of the list (j >= 128).
struct StepMasks {
    unsigned long long moveBack[2][256][4]; // the mask registers' own type
    unsigned long long put[2];
    unsigned long long upper[256];
    std::uint32_t rankLanes[256]; // j in each byte, for a broadcast from memory
};

// Bits 0..last of a register's places (none when last < 0).
constexpr unsigned long long placesUpTo(int last)
{
    return last < 0 ? 0 : last >= 63 ? ~0ull : (2ull << last) - 1;
}

constexpr StepMasks makeStepMasks()
{
    StepMasks masks{};
    for (int landing = 0; landing < 2; ++landing) {
        masks.put[landing] = 1ull << landing;
        for (int j = 0; j < 256; ++j)
            for (int k = 0; k < 4; ++k)
                masks.moveBack[landing][j][k] = placesUpTo(j - 64 * k) & ~placesUpTo(landing - 64 * k);
    }
    for (int j = 0; j < 256; ++j) {
        masks.upper[j] = j >= 128 ? ~0ull : 0;
        masks.rankLanes[j] = 0x01010101u * static_cast<std::uint32_t>(j);
    }
    return masks;
}

constexpr StepMasks stepMasks = makeStepMasks();

#define DLS2MML_VECTOR_TARGET __attribute__((target("avx512f,avx512bw,avx512vbmi")))

DLS2MML_VECTOR_TARGET inline __mmask64 loadMask(const unsigned long long& bits) noexcept
{
    return _load_mask64(const_cast<__mmask64*>(&bits));
}

// The list in four registers, a rank at a time.
class VectorList {
public:
    DLS2MML_VECTOR_TARGET __attribute__((always_inline)) VectorList() noexcept
    {
        // With the register itself as first table and the one before it as
        // second, these indexes give each place the byte before it; a masked
        // permute then keeps every other place as it is.
        list512::loadStartingList(list0_, list1_, list2_, list3_, fromBefore_, list512::previousPlaceOwnFirst);
    }

    // The value at place j, which moves to its landing place.
    DLS2MML_VECTOR_TARGET __attribute__((always_inline)) std::uint8_t take(std::uint32_t j) noexcept
    {
        // The value lands at place 0 when j is 0 (where it already stands) or
        // when j is 1 after a non-zero rank; otherwise at place 1 (where it
        // stands already when j is 1 after a zero rank). Places after it, up
        // to j, take the byte before them.
        const std::uint32_t landing = std::uint32_t{j > 1} | (std::uint32_t{j == 1} & std::uint32_t{previousRank_ == 0});
        const __m512i index = _mm512_set1_epi32(static_cast<int>(stepMasks.rankLanes[j]));
        const __m512i value = _mm512_mask_blend_epi8(loadMask(stepMasks.upper[j]), _mm512_permutex2var_epi8(list0_, index, list1_),
                                                     _mm512_permutex2var_epi8(list2_, index, list3_));
        const unsigned long long* moveBack = stepMasks.moveBack[landing][j];
        list3_ = _mm512_mask_permutex2var_epi8(list3_, loadMask(moveBack[3]), fromBefore_, list2_);
        list2_ = _mm512_mask_permutex2var_epi8(list2_, loadMask(moveBack[2]), fromBefore_, list1_);
        list1_ = _mm512_mask_permutex2var_epi8(list1_, loadMask(moveBack[1]), fromBefore_, list0_);
        list0_ = _mm512_mask_permutex2var_epi8(list0_, loadMask(moveBack[0]), fromBefore_, list0_);
        list0_ = _mm512_mask_blend_epi8(loadMask(stepMasks.put[landing]), list0_, value);
        previousRank_ = j;
        return static_cast<std::uint8_t>(_mm512_cvtsi512_si32(value));
    }

    // A run of zero ranks: each the value at the front, which stays there.
    DLS2MML_VECTOR_TARGET __attribute__((always_inline)) std::uint8_t takeFrontAgain() noexcept
    {
        previousRank_ = 0;
        return static_cast<std::uint8_t>(_mm512_cvtsi512_si32(list0_));
    }

private:
    __m512i list0_, list1_, list2_, list3_, fromBefore_;
    std::uint32_t previousRank_ = 1;
};

DLS2MML_VECTOR_TARGET void undoRankTransformVector(std::span<std::uint8_t> lastColumn,
                                                   std::span<const std::uint8_t> ranks) noexcept
{
    VectorList list;
    for (std::size_t i = 0; i < ranks.size(); ++i)
        lastColumn[i] = list.take(ranks[i]);
}

// Rank symbols to the last column (docs/format.md, sections 5.2 and 5.3, in
// one pass): the reader's steps of decodeRankSymbols, each rank going through
// the list as it is read. A run of zero ranks leaves the list as it is, so it
// is one fill of the front value. Judged as decodeRankSymbols judges: any
// fault gives false.
DLS2MML_VECTOR_TARGET bool undoRankSymbolsVector(std::span<std::uint8_t> lastColumn, std::span<const std::uint8_t> symbols,
                                                 std::size_t limit, std::size_t& length) noexcept
{
    VectorList list;
    std::uint8_t* const column = lastColumn.data();
    const std::uint8_t* const symbol = symbols.data();
    const std::size_t k = symbols.size();
    std::size_t out = 0;
    std::size_t p = 0;
    while (p < k) {
        const std::uint8_t s = symbol[p];
        // A lone symbol 2..254: one rank, as long as the next symbol differs.
        if (s >= 2 && s != 255 && (p + 1 == k || symbol[p + 1] != s)) {
            if (out == limit)
                return false;
            column[out++] = list.take(s - 1u);
            ++p;
        } else if (s <= 1) {
            std::uint64_t z = 0;
            if (!readZeroRun(symbol, p, k, limit - out, z))
                return false;
            const std::uint8_t front = list.takeFrontAgain();
            std::memset(column + out, front, z <= rankColumnRoom ? rankColumnRoom : static_cast<std::size_t>(z));
            out += static_cast<std::size_t>(z);
        } else if (s == 255) {
            if (p + 1 >= k || symbol[p + 1] > 1 || out == limit)
                return false;
            column[out++] = list.take(254u + symbol[p + 1]);
            p += 2;
        } else {
            const CountedGroup group = readCountedGroup(symbol, p, k, rankRunCopies);
            if (group.fault != CountedGroup::Fault::none || group.goesOnAfterCount || group.length > limit - out)
                return false;
            for (std::size_t i = 0; i < group.length; ++i)
                column[out++] = list.take(s - 1u);
        }
    }
    length = out;
    return true;
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

bool undoRankSymbolsAndTransform(std::span<std::uint8_t> lastColumn, std::span<const std::uint8_t> symbols, std::size_t limit,
                                 std::size_t& length) noexcept
{
#if defined(DLS2MML_RANK_INVERSE_VECTOR)
    if (haveVectorPermutes && lastColumn.size() >= limit + rankColumnRoom)
        return undoRankSymbolsVector(lastColumn, symbols, limit, length);
#endif
    (void)lastColumn, (void)symbols, (void)limit, (void)length;
    return false;
}

void undoRankTransform(std::span<std::uint8_t> lastColumn, std::span<const std::uint8_t> ranks) noexcept
{
#if defined(DLS2MML_RANK_INVERSE_VECTOR)
    if (haveVectorPermutes) {
        undoRankTransformVector(lastColumn, ranks);
        return;
    }
#endif
    undoRankTransformByList(lastColumn, ranks);
}

} // namespace dls2mml
