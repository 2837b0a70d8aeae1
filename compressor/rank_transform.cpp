#include "compressor/rank_transform.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <numeric>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#endif

#include "compressor/rank_list_128.h"
#include "compressor/rank_list_512.h"

namespace dls2mml {

#if defined(__SSE2__)
namespace {

using list128::blend;
using list128::movedBack;
using list128::upTo;

// One byte through the list, which is kept as 16 pieces of 16 bytes. The
// search and the shift are one pass from the front: every piece before the
// one holding x moves one place back (its last byte going to the next piece),
// and the piece holding x moves back only up to x's place. Returns x's rank.
inline unsigned rankAndUpdate(__m128i* list, std::uint8_t x, unsigned previousRank) noexcept
{
    const __m128i needle = _mm_set1_epi8(static_cast<char>(x));
    const __m128i front = list[0];
    unsigned hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(front, needle)));
    const __m128i place0 = upTo(0);
    const __m128i places01 = upTo(1);
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
        list[0] = blend(upTo(k), moved, front);
        return k;
    }
    list[0] = blend(place0, front, blend(places01, needle, _mm_slli_si128(front, 1)));
    __m128i before = front;
    for (unsigned piece = 1;; ++piece) {
        const __m128i current = list[piece];
        const __m128i moved = movedBack(current, before);
        hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(current, needle)));
        if (hits != 0) {
            const unsigned k = static_cast<unsigned>(__builtin_ctz(hits));
            list[piece] = blend(upTo(k), moved, current);
            return 16 * piece + k;
        }
        list[piece] = moved;
        before = current;
    }
}

} // namespace

namespace {

// The list by place, as the search-and-shift steps keep it.
struct ListByPlace {
    __m128i pieces[16];
    ListByPlace()
    {
        alignas(16) std::uint8_t identity[256];
        std::iota(identity, identity + 256, std::uint8_t{0});
        std::memcpy(pieces, identity, sizeof pieces);
    }
    // Runs input through the list; returns the sum of the ranks' 16-byte
    // pieces beyond the first, the work this form paid for them.
    unsigned run(std::uint8_t* output, std::span<const std::uint8_t> input, unsigned& previousRank) noexcept
    {
        unsigned depth = 0;
        for (std::size_t i = 0; i < input.size(); ++i) {
            previousRank = rankAndUpdate(pieces, input[i], previousRank);
            output[i] = static_cast<std::uint8_t>(previousRank);
            depth += previousRank >> 4;
        }
        return depth;
    }
};

// The list kept the other way round: each value's place, in 16 pieces of 16
// values. A rank is then one load, and a move is the same 16 compares and
// subtractions whatever the rank: every value at a place before x's moves one
// back. No branch follows the data, which pays where ranks spread widely
// (sampled sound). Places are stored with their top bit flipped, so that a
// signed byte compare orders them as unsigned.
struct PlaceByValue {
    alignas(16) std::uint8_t places[256];
    unsigned front = 0; // the value at place 0

    void from(const ListByPlace& list)
    {
        const auto* values = reinterpret_cast<const std::uint8_t*>(list.pieces);
        for (int place = 0; place < 256; ++place)
            places[values[place]] = static_cast<std::uint8_t>(place ^ 0x80);
        front = values[0];
    }
    void into(ListByPlace& list) const
    {
        auto* values = reinterpret_cast<std::uint8_t*>(list.pieces);
        for (int value = 0; value < 256; ++value)
            values[places[value] ^ 0x80] = static_cast<std::uint8_t>(value);
    }
    unsigned run(std::uint8_t* output, std::span<const std::uint8_t> input, unsigned& previousRank) noexcept
    {
        unsigned depth = 0;
        for (std::size_t i = 0; i < input.size(); ++i) {
            const unsigned x = input[i];
            const unsigned rank = places[x] ^ 0x80u;
            output[i] = static_cast<std::uint8_t>(rank);
            depth += rank >> 4;
            const __m128i bound = _mm_set1_epi8(static_cast<char>(places[x]));
            for (int piece = 0; piece < 16; ++piece) {
                __m128i* at = reinterpret_cast<__m128i*>(places + 16 * piece);
                const __m128i place = _mm_load_si128(at);
                _mm_store_si128(at, _mm_sub_epi8(place, _mm_cmplt_epi8(place, bound)));
            }
            // x goes to place 1 and the front stays, except for place 1 after
            // a non-zero rank, which goes to the front (a rank of 0 moves
            // nothing). Masks rather than conditions: the case is not foreseeable.
            const unsigned toFront = unsigned{rank == 0} | (unsigned{rank == 1} & unsigned{previousRank != 0});
            const unsigned keep = 0u - toFront;
            places[front] = static_cast<std::uint8_t>((places[front] & keep) | (0x80u & ~keep));
            places[x] = static_cast<std::uint8_t>(0x81u - toFront);
            front = (x & keep) | (front & ~keep);
            previousRank = rank;
        }
        return depth;
    }
};

// Bytes run in one form before the choice of form is looked at again.
constexpr std::size_t formStretch = 1024;

} // namespace

void rankTransformByList(std::span<std::uint8_t> output, std::span<const std::uint8_t> input) noexcept
{
    ListByPlace list;
    unsigned previousRank = 1;
    list.run(output.data(), input, previousRank);
}

void rankTransformByPlaces(std::span<std::uint8_t> output, std::span<const std::uint8_t> input) noexcept
{
    PlaceByValue places;
    places.from(ListByPlace{});
    unsigned previousRank = 1;
    places.run(output.data(), input, previousRank);
}

// Each stretch runs in the form the last one's ranks favour: searching the
// list costs about one step per 16 places of rank, keeping places a fixed 16,
// so ranks of 24 and more on average (sound) go by places, smaller ones (text,
// runs) through the list. A change of form is one pass over the 256 places.
void rankTransformWithoutPermutes(std::span<std::uint8_t> output, std::span<const std::uint8_t> input) noexcept
{
    ListByPlace list;
    PlaceByValue places;
    bool byPlaces = false;
    unsigned previousRank = 1;
    for (std::size_t from = 0; from < input.size(); from += formStretch) {
        const auto stretch = input.subspan(from, std::min(formStretch, input.size() - from));
        const unsigned depth = byPlaces ? places.run(output.data() + from, stretch, previousRank)
                                        : list.run(output.data() + from, stretch, previousRank);
        const bool deep = 2 * std::size_t{depth} >= 3 * stretch.size();
        if (deep && !byPlaces)
            places.from(list);
        else if (!deep && byPlaces)
            places.into(list);
        byPlaces = deep;
    }
}

#if defined(__GNUC__) && defined(__x86_64__)
#define DLS2MML_RANK_TRANSFORM_PERMUTES 1
namespace {

// With 512-bit byte permutes the whole list is four registers and a byte
// takes the same branch-free steps wherever it stands: four compares find it,
// the masks of the places up to it (all of a register before the one holding
// it, up to its place in that one, none after) follow from the compare masks
// by a few integer steps, and the places up to it take the byte before them.
// The list and whether the last rank was non-zero are all the ranks to come
// depend on.
struct PermutedList {
    __m512i places0, places1, places2, places3;
    std::uint64_t previousNonZero;
};

#define DLS2MML_PERMUTES "avx512f,avx512bw,avx512vbmi,bmi,popcnt"

__attribute__((target(DLS2MML_PERMUTES), always_inline)) inline void startingPermutedList(PermutedList& list,
                                                                                         __m512i& movedBackIndex) noexcept
{
    list512::loadStartingList(list.places0, list.places1, list.places2, list.places3, movedBackIndex,
                              list512::previousPlace);
    list.previousNonZero = 1;
}

// One byte through the list; returns its rank.
__attribute__((target(DLS2MML_PERMUTES), always_inline)) inline std::uint8_t
permutedRank(PermutedList& list, __m512i movedBackIndex, std::uint8_t x) noexcept
{
    const __m512i needle = _mm512_set1_epi8(static_cast<char>(x));
    const std::uint64_t at0 = _mm512_cmpeq_epi8_mask(list.places0, needle);
    const std::uint64_t at1 = _mm512_cmpeq_epi8_mask(list.places1, needle);
    const std::uint64_t at2 = _mm512_cmpeq_epi8_mask(list.places2, needle);
    const std::uint64_t at3 = _mm512_cmpeq_epi8_mask(list.places3, needle);
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
    // x lands at place 0 when it stands there, or at place 1 after a
    // non-zero rank; otherwise at place 1 (where it stands already when
    // its rank is 1 after a zero rank).
    const std::uint64_t landing = 1 ^ ((at0 & 1) | ((at0 >> 1) & list.previousNonZero));
    const __m512i moved0 = _mm512_permutex2var_epi8(list.places0, movedBackIndex, list.places0);
    const __m512i moved1 = _mm512_permutex2var_epi8(list.places0, movedBackIndex, list.places1);
    const __m512i moved2 = _mm512_permutex2var_epi8(list.places1, movedBackIndex, list.places2);
    const __m512i moved3 = _mm512_permutex2var_epi8(list.places2, movedBackIndex, list.places3);
    list.places0 = _mm512_mask_blend_epi8(upTo0 & ~((std::uint64_t{2} << landing) - 1), list.places0, moved0);
    list.places0 = _mm512_mask_blend_epi8(std::uint64_t{1} << landing, list.places0, needle);
    list.places1 = _mm512_mask_blend_epi8(upTo1, list.places1, moved1);
    list.places2 = _mm512_mask_blend_epi8(upTo2, list.places2, moved2);
    list.places3 = _mm512_mask_blend_epi8(upTo3, list.places3, moved3);
    list.previousNonZero = rank != 0;
    return static_cast<std::uint8_t>(rank);
}

__attribute__((target(DLS2MML_PERMUTES))) void rankTransformPermuted(std::span<std::uint8_t> output,
                                                                    std::span<const std::uint8_t> input) noexcept
{
    PermutedList list;
    __m512i movedBackIndex;
    startingPermutedList(list, movedBackIndex);
    for (std::size_t i = 0; i < input.size(); ++i)
        output[i] = permutedRank(list, movedBackIndex, input[i]);
}

// A list kept in memory (unaligned: some targets misalign 64-byte stack
// objects).
struct SavedList {
    std::uint8_t places[256];
    std::uint64_t previousNonZero;
};

__attribute__((target(DLS2MML_PERMUTES), always_inline)) inline void save(SavedList& saved,
                                                                         const PermutedList& list) noexcept
{
    _mm512_storeu_si512(saved.places, list.places0);
    _mm512_storeu_si512(saved.places + 64, list.places1);
    _mm512_storeu_si512(saved.places + 128, list.places2);
    _mm512_storeu_si512(saved.places + 192, list.places3);
    saved.previousNonZero = list.previousNonZero;
}

__attribute__((target(DLS2MML_PERMUTES), always_inline)) inline void load(PermutedList& list,
                                                                         const SavedList& saved) noexcept
{
    list.places0 = _mm512_loadu_si512(saved.places);
    list.places1 = _mm512_loadu_si512(saved.places + 64);
    list.places2 = _mm512_loadu_si512(saved.places + 128);
    list.places3 = _mm512_loadu_si512(saved.places + 192);
    list.previousNonZero = saved.previousNonZero;
}

__attribute__((target(DLS2MML_PERMUTES), always_inline)) inline bool same(const PermutedList& list,
                                                                         const SavedList& saved) noexcept
{
    const std::uint64_t differ = _mm512_cmpneq_epi8_mask(list.places0, _mm512_loadu_si512(saved.places)) |
                                 _mm512_cmpneq_epi8_mask(list.places1, _mm512_loadu_si512(saved.places + 64)) |
                                 _mm512_cmpneq_epi8_mask(list.places2, _mm512_loadu_si512(saved.places + 128)) |
                                 _mm512_cmpneq_epi8_mask(list.places3, _mm512_loadu_si512(saved.places + 192));
    return differ == 0 && list.previousNonZero == saved.previousNonZero;
}

// The lists before the bytes at starts[0] < starts[1] < ..., derived from the
// bytes before each by one scalar pass. Places 0 and 1 alone follow from the
// bytes: a byte at neither goes to place 1, one at place 1 swaps to the front
// after a non-zero rank. Every value from place 1 on stands there by the last
// time it was at place 1, latest first, those never there in ascending order.
template <std::size_t count>
void derivedLists(std::span<const std::uint8_t> input, const std::size_t (&starts)[count],
                  SavedList (&lists)[count]) noexcept
{
    // second: the value at place 1, or the front itself after a zero rank. A
    // byte equal to it swaps to the front: after a non-zero rank that is the
    // rule, after a zero rank it is the front, which stays. A byte at place 1
    // after a zero rank is then not equal to it and stays at place 1, as the
    // rule wants.
    std::uint32_t front = 0, second = 1;
    // lastAtPlace1[v]: one past the last byte after which v stood at place 1,
    // 0 if never. Entries made for the front (second equal to it) never
    // count: a value leaves the front only for place 1, which enters it
    // anew, and the front is put first anyway.
    std::uint32_t lastAtPlace1[256] = {};
    std::size_t i = 0;
    for (std::size_t s = 0; s < count; ++s) {
        for (; i < starts[s]; ++i) {
            const std::uint32_t x = input[i];
            std::uint32_t newFront = front, newSecond = x;
            // Conditional moves, not branches: this chain is what the pass
            // costs, and on real blocks branches here mispredict often.
            asm("cmpl %[x], %[second]\n\t"
                "cmove %[x], %[newFront]\n\t" // x swaps to the front...
                "cmove %[front], %[newSecond]" // ...and the front to place 1
                : [newFront] "+&r"(newFront), [newSecond] "+&r"(newSecond)
                : [x] "r"(x), [front] "r"(front), [second] "r"(second)
                : "cc");
            front = newFront;
            second = newSecond;
            lastAtPlace1[second] = static_cast<std::uint32_t>(i + 1);
        }
        // Sort keys: latest first, then ascending values; the front first of all.
        std::uint64_t keys[256];
        for (unsigned v = 0; v < 256; ++v)
            keys[v] = (std::uint64_t{lastAtPlace1[v]} << 8 | (255 - v));
        keys[front] = ~std::uint64_t{0} << 8 | (255 - front);
        std::sort(keys, keys + 256, [](std::uint64_t p, std::uint64_t q) { return p > q; });
        for (unsigned k = 0; k < 256; ++k)
            lists[s].places[k] = static_cast<std::uint8_t>(255 - (keys[k] & 0xFF));
        lists[s].previousNonZero = second != front;
    }
}

// Each byte's rank waits on the list the byte before left, so one pass is
// one long chain of dependent steps. The block runs instead as `streams`
// stretches in one loop, their chains overlapping, each stretch from the list
// derivedLists gives for its first byte. When all have run, each stretch's
// last list is compared with the start of the next; should one ever differ,
// that stretch runs again from the true list, so the ranks are exact
// whatever the derivation gives. spoiled (tests only) makes that stretch's
// start wrong.
template <std::size_t streams>
__attribute__((target(DLS2MML_PERMUTES))) RankSplitOutcome rankTransformStreams(std::span<std::uint8_t> output,
                                                                               std::span<const std::uint8_t> input,
                                                                               std::size_t spoiled) noexcept
{
    const std::size_t n = input.size();
    const std::size_t length = n / streams; // the last stretch also takes the remainder
    if (length == 0) {
        rankTransformPermuted(output, input);
        return {};
    }
    std::size_t starts[streams - 1];
    for (std::size_t s = 1; s < streams; ++s)
        starts[s - 1] = s * length;
    SavedList derived[streams - 1];
    derivedLists(input, starts, derived);
    if (spoiled >= 1 && spoiled < streams)
        std::reverse(derived[spoiled - 1].places, derived[spoiled - 1].places + 256);
    PermutedList lists[streams];
    __m512i movedBackIndex;
    startingPermutedList(lists[0], movedBackIndex);
    for (std::size_t s = 1; s < streams; ++s)
        load(lists[s], derived[s - 1]);
    for (std::size_t i = 0; i < length; ++i) {
#pragma GCC unroll 4
        for (std::size_t s = 0; s < streams; ++s)
            output[s * length + i] = permutedRank(lists[s], movedBackIndex, input[s * length + i]);
    }
    for (std::size_t i = streams * length; i < n; ++i)
        output[i] = permutedRank(lists[streams - 1], movedBackIndex, input[i]);
    RankSplitOutcome outcome{.split = true, .rerun = 0};
    for (std::size_t s = 1; s < streams; ++s) {
        if (same(lists[s - 1], derived[s - 1]))
            continue;
        const std::size_t end = s + 1 < streams ? (s + 1) * length : n;
        PermutedList truth = lists[s - 1];
        for (std::size_t i = s * length; i < end; ++i)
            output[i] = permutedRank(truth, movedBackIndex, input[i]);
        lists[s] = truth;
        outcome.rerun += end - s * length;
    }
    return outcome;
}

const bool havePermutes = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                          __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("bmi") &&
                          __builtin_cpu_supports("popcnt");

} // namespace
#endif

RankSplitOutcome rankTransformSplit(std::span<std::uint8_t> output, std::span<const std::uint8_t> input,
                                    std::size_t streams, std::size_t spoiled) noexcept
{
#if defined(DLS2MML_RANK_TRANSFORM_PERMUTES)
    if (havePermutes) {
        switch (streams) {
        case 2: return rankTransformStreams<2>(output, input, spoiled);
        case 3: return rankTransformStreams<3>(output, input, spoiled);
        case 4: return rankTransformStreams<4>(output, input, spoiled);
        default: break;
        }
    }
#else
    (void)streams, (void)spoiled;
#endif
    rankTransformWithoutPermutes(output, input);
    return {};
}

void rankTransform(std::span<std::uint8_t> output, std::span<const std::uint8_t> input) noexcept
{
#if defined(DLS2MML_RANK_TRANSFORM_PERMUTES)
    if (havePermutes) {
        if (input.size() >= rankSplitMinimum)
            rankTransformStreams<rankSplitStreams>(output, input, 0);
        else
            rankTransformPermuted(output, input);
        return;
    }
#endif
    rankTransformWithoutPermutes(output, input);
}

#else

void rankTransformByList(std::span<std::uint8_t> output, std::span<const std::uint8_t> input) noexcept
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

void rankTransformByPlaces(std::span<std::uint8_t> output, std::span<const std::uint8_t> input) noexcept
{
    rankTransformByList(output, input);
}

void rankTransformWithoutPermutes(std::span<std::uint8_t> output, std::span<const std::uint8_t> input) noexcept
{
    rankTransformByList(output, input);
}

void rankTransform(std::span<std::uint8_t> output, std::span<const std::uint8_t> input) noexcept
{
    rankTransformByList(output, input);
}

RankSplitOutcome rankTransformSplit(std::span<std::uint8_t> output, std::span<const std::uint8_t> input,
                                    std::size_t, std::size_t) noexcept
{
    rankTransformByList(output, input);
    return {};
}

#endif

} // namespace dls2mml
