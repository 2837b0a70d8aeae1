// Range decoder, up to three payloads at once: the steps of decodeRangeBlock
// on the vector layout of LaneDecoderModels, the payloads' steps interleaved
// so that each runs while the others wait on their chains.
//
// A step with r the range's share of one count: the index whose interval
// holds the code is the number of cumulative counts c (past the first) with
// r * c <= code. Every such product is below 2^32, so one 32-bit lane
// product and comparison per count answers it for 16 counts at once, and a
// population count of the comparison's mask is the index. Offsets take two
// such searches: the group of eight, then the index within it.
#include "compressor/interleaved_range_decoder.h"

#include <algorithm>
#include <cstring>
#include <utility>

#if defined(__x86_64__) && defined(__GNUC__) && !defined(_WIN32)
#define DLS2MML_INTERLEAVED_DECODER 1
#include <immintrin.h>
#else
#define DLS2MML_INTERLEAVED_DECODER 0
#endif

namespace dls2mml {
namespace {

using Context = LaneDecoderModels::Context;
using Offset = LaneDecoderModels::Offset;

void resetContext(Context& model) noexcept
{
    model.cum.fill(0);
    for (std::uint16_t i = 0; i <= 10; ++i)
        model.cum[i] = i;
    model.total = 10;
}

void resetOffset(Offset& model, std::uint32_t n) noexcept
{
    model.ends.fill(0);
    for (auto& group : model.within)
        group.fill(0);
    const std::uint32_t groups = (n + 7) / 8;
    for (std::uint32_t g = 0; g < groups; ++g) {
        model.ends[g + 1] = static_cast<std::uint16_t>(std::min(8 * g + 8, n));
        for (std::uint32_t j = 0; j < 8 && 8 * g + j < n; ++j)
            model.within[g][j + 1] = static_cast<std::uint16_t>(j + 1);
    }
    model.total = n;
    model.symbolCount = n;
    // The last group's end is the total: at or below the code only outside
    // the coded interval. The last index's end within a full group is the
    // group's end, never at or below the code within it.
    model.groupCount = groups;
    model.groupMask = (1u << groups) - 1;
    model.withinMask = (1u << (std::min(n, 8u) - 1)) - 1;
}

void resetModels(LaneDecoderModels& models) noexcept
{
    for (auto& model : models.contextModels)
        resetContext(model);
    for (std::int32_t k = 3; k < symbolClassCount; ++k)
        resetOffset(models.offsetModels[static_cast<std::size_t>(k)], static_cast<std::uint32_t>(classSize[static_cast<std::size_t>(k)]));
}

// Halves every count, keeping it odd ((f >> 1) | 1), as rescaleModel does;
// the counts are the differences of neighbouring cumulative counts.
void rescaleContext(Context& model) noexcept
{
    std::uint32_t before = 0;
    std::uint32_t sum = 0;
    for (std::size_t i = 1; i <= 10; ++i) {
        const std::uint32_t count = model.cum[i] - before;
        before = model.cum[i];
        sum += (count >> 1) | 1;
        model.cum[i] = static_cast<std::uint16_t>(sum);
    }
    model.total = sum;
}

void rescaleOffset(Offset& model) noexcept
{
    std::uint32_t sum = 0;
    for (std::uint32_t g = 0; g < model.groupCount; ++g) {
        const std::uint32_t start = sum;
        std::uint32_t before = 0;
        for (std::uint32_t j = 0; j < 8 && 8 * g + j < model.symbolCount; ++j) {
            const std::uint32_t count = model.within[g][j + 1] - before;
            before = model.within[g][j + 1];
            sum += (count >> 1) | 1;
            model.within[g][j + 1] = static_cast<std::uint16_t>(sum - start);
        }
        model.ends[g + 1] = static_cast<std::uint16_t>(sum);
    }
    model.total = sum;
}

#if DLS2MML_INTERLEAVED_DECODER

#define DLS2MML_WIDE_TARGET __attribute__((target("avx512f,avx512bw,avx512vl,popcnt,lzcnt")))
#define DLS2MML_WIDE_STEP DLS2MML_WIDE_TARGET __attribute__((always_inline)) inline

// One payload's reading state, as decodeRangeBlock's Reader, its place a
// pointer: every register counts with three payloads on their way.
struct Reader {
    const std::uint8_t* at = nullptr;
    const std::uint8_t* end = nullptr;
    std::uint32_t code = 0;
    std::uint32_t range = initialRange;
};

Reader startReading(std::span<const std::uint8_t> payload) noexcept
{
    Reader d{payload.data(), payload.data() + payload.size()};
    for (int i = 0; i < 4; ++i)
        d.code = (d.code << 8) | *d.at++;
    return d;
}

// Brings the range back to 2^24 or more. A step leaves it at 2^8 or more, so
// its leading zero bytes (none, one or two) are the payload bytes to take in.
DLS2MML_WIDE_STEP bool renormalise(Reader& d) noexcept
{
    if (d.end - d.at >= 2) [[likely]] {
        const std::uint32_t shift = 8 * (static_cast<std::uint32_t>(__builtin_clz(d.range)) >> 3);
        const std::uint32_t next = std::uint32_t{d.at[0]} << 8 | d.at[1];
        d.code = static_cast<std::uint32_t>((std::uint64_t{d.code} << 16 | next) >> (16 - shift));
        d.range <<= shift;
        d.at += shift >> 3;
        return true;
    }
    while (d.range < renormaliseBelow) {
        if (d.at == d.end)
            return false;
        d.code = (d.code << 8) | *d.at++;
        d.range <<= 8;
    }
    return true;
}

// Adds 1 to each of the 16 counts from lanes on that is above threshold, as
// signed 16-bit numbers: addOneToLanesAbove over 16 lanes, in one store that
// the next search of the model reads back whole.
DLS2MML_WIDE_STEP void raise16(std::uint16_t* lanes, std::uint32_t threshold) noexcept
{
    const __m256i counts = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lanes));
    const __m256i above = _mm256_cmpgt_epi16(counts, _mm256_set1_epi16(static_cast<std::int16_t>(threshold)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes), _mm256_sub_epi16(counts, above));
}

// The number of the 16 (or 8) counts from lanes on, among those in mask,
// whose product with r is not above code.
DLS2MML_WIDE_STEP std::uint32_t countNotAbove16(const std::uint16_t* lanes, std::uint32_t r, std::uint32_t code,
                                                std::uint32_t mask) noexcept
{
    // The zero-masked form widens the same: the plain one starts from an
    // undefined vector, which GCC 12 warns of inside its own header.
    const __m512i counts = _mm512_maskz_cvtepu16_epi32(0xFFFF, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lanes)));
    const __m512i products = _mm512_mullo_epi32(counts, _mm512_set1_epi32(static_cast<int>(r)));
    const __mmask16 notAbove =
        _mm512_mask_cmple_epu32_mask(static_cast<__mmask16>(mask), products, _mm512_set1_epi32(static_cast<int>(code)));
    return static_cast<std::uint32_t>(__builtin_popcount(static_cast<unsigned>(notAbove)));
}

DLS2MML_WIDE_STEP std::uint32_t countNotAbove8(const std::uint16_t* lanes, std::uint32_t r, std::uint32_t code,
                                               std::uint32_t mask) noexcept
{
    const __m256i counts = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lanes)));
    const __m256i products = _mm256_mullo_epi32(counts, _mm256_set1_epi32(static_cast<int>(r)));
    const __mmask8 notAbove =
        _mm256_mask_cmple_epu32_mask(static_cast<__mmask8>(mask), products, _mm256_set1_epi32(static_cast<int>(code)));
    return static_cast<std::uint32_t>(__builtin_popcount(static_cast<unsigned>(notAbove)));
}

// A step's outcome: true when sound. Any fault (the code outside the coded
// interval, the payload ending) is false, and decodeRangeBlock names it.
DLS2MML_WIDE_STEP bool decodeClass(Reader& d, Context& model, std::int32_t& k) noexcept
{
    const std::uint32_t r = divideByReciprocal(d.range, totalReciprocals[model.total], model.total);
    // Lanes past cum[10] are masked off. The coder never uses the part of
    // the range at r * total and above: cum[10] = total is above the code.
    const std::uint32_t index = countNotAbove16(&model.cum[1], r, d.code, 0x3FF);
    if (index == 10)
        return false;
    const std::uint32_t start = model.cum[index];
    const std::uint32_t end = model.cum[index + 1];
    d.code -= r * start;
    d.range = r * (end - start);
    raise16(&model.cum[1], start);
    if (++model.total >= rescaleTotal)
        rescaleContext(model);
    k = static_cast<std::int32_t>(index);
    return renormalise(d);
}

DLS2MML_WIDE_STEP bool decodeOffset(Reader& d, Offset& model, std::int32_t& offset) noexcept
{
    const std::uint32_t r = divideByReciprocal(d.range, totalReciprocals[model.total], model.total);
    const std::uint32_t g = countNotAbove16(&model.ends[1], r, d.code, model.groupMask);
    if (g == model.groupCount)
        return false;
    const std::uint32_t groupStart = model.ends[g];
    const std::uint32_t inGroup = d.code - r * groupStart;
    std::uint16_t* const within = model.within[g].data();
    const std::uint32_t j = countNotAbove8(within + 1, r, inGroup, model.withinMask);
    const std::uint32_t start = within[j];
    const std::uint32_t end = within[j + 1];
    d.code = inGroup - r * start;
    d.range = r * (end - start);
    addOneToLanesAbove(within + 1, start);
    raise16(&model.ends[1], groupStart);
    if (++model.total >= rescaleTotal)
        rescaleOffset(model);
    offset = static_cast<std::int32_t>(8 * g + j);
    return renormalise(d);
}

// A payload on its way: its reader, models, class context, the symbol
// just read and the symbols before it.
struct Lane {
    Reader d;
    LaneDecoderModels* models = nullptr;
    std::int32_t c1 = 0;
    std::int32_t c2 = 0;
    std::int32_t symbol = 0;
    std::uint8_t* out = nullptr;       // where the next symbol goes
    std::uint8_t* outLimit = nullptr;  // the end of room for limit symbols
};

// A symbol's class, which moves the class context on.
DLS2MML_WIDE_STEP bool classStep(Lane& lane) noexcept
{
    std::int32_t k = 0;
    const bool sound = decodeClass(lane.d, lane.models->contextModels[static_cast<std::size_t>(10 * lane.c2 + lane.c1)], k);
    lane.c2 = lane.c1;
    lane.c1 = k;
    lane.symbol = k;
    return sound;
}

// Its offset, for classes 3 to 9.
DLS2MML_WIDE_STEP bool offsetStep(Lane& lane) noexcept
{
    const std::int32_t k = lane.c1;
    if (k < 3)
        return true;
    std::int32_t offset = 0;
    const bool sound = decodeOffset(lane.d, lane.models->offsetModels[static_cast<std::size_t>(k)], offset);
    lane.symbol = classBase[static_cast<std::size_t>(k)] + offset;
    return sound;
}

DLS2MML_WIDE_STEP bool ended(const Lane& lane) noexcept
{
    return lane.symbol == endSymbol;
}

// Keeps the symbol just read, within the limit.
DLS2MML_WIDE_STEP bool keep(Lane& lane) noexcept
{
    if (lane.out == lane.outLimit)
        return false;
    *lane.out++ = static_cast<std::uint8_t>(lane.symbol);
    return true;
}

template <std::size_t n, std::size_t... i>
DLS2MML_WIDE_TARGET bool decodeLanes(const std::array<Lane*, n>& lanes, std::index_sequence<i...>) noexcept;

// The first count of going (count at most m), decoded together.
template <std::size_t m, std::size_t n>
DLS2MML_WIDE_TARGET bool decodeFirst(const std::array<Lane*, n>& going, std::size_t count) noexcept
{
    if constexpr (m == 0) {
        return true;
    } else {
        if (count < m)
            return decodeFirst<m - 1>(going, count);
        std::array<Lane*, m> first{};
        std::copy_n(going.begin(), m, first.begin());
        return decodeLanes(first, std::make_index_sequence<m>{});
    }
}

// After the loop over lanes stops at an end symbol: those still going keep
// the symbol just read and go on together.
template <std::size_t n>
DLS2MML_WIDE_STEP bool goOn(const std::array<Lane*, n>& lanes) noexcept
{
    std::array<Lane*, n> going{};
    std::size_t count = 0;
    for (Lane* lane : lanes) {
        if (ended(*lane))
            continue;
        if (!keep(*lane))
            return false;
        going[count++] = lane;
    }
    return decodeFirst<n - 1>(going, count);
}

// n payloads, a symbol of each in turn until one ends, then the others.
// Every class is read before any offset: a mispredicted branch on one
// payload's class then throws away no step of another's. The states are
// locals, indexed by constants only, so that they stay in registers.
template <std::size_t n, std::size_t... i>
DLS2MML_WIDE_TARGET bool decodeLanes(const std::array<Lane*, n>& lanes, std::index_sequence<i...>) noexcept
{
    std::array<Lane, n> lane{*lanes[i]...};
    for (;;) {
        std::array<bool, n> sound{classStep(lane[i])...};
        ((sound[i] = sound[i] && offsetStep(lane[i])), ...);
        if (!(sound[i] && ...))
            return false;
        if ((ended(lane[i]) || ...))
            break;
        if (!(keep(lane[i]) && ...))
            return false;
    }
    ((*lanes[i] = lane[i]), ...);
    return goOn<n>(lanes);
}

#endif // DLS2MML_INTERLEAVED_DECODER

} // namespace

bool InterleavedRangeDecoder::available() noexcept
{
#if DLS2MML_INTERLEAVED_DECODER
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl") &&
               __builtin_cpu_supports("popcnt");
    }();
    return has;
#else
    return false;
#endif
}

bool InterleavedRangeDecoder::decode(std::span<const Payload> payloads, std::span<ReusedBytes* const> out, std::size_t limit) noexcept
{
#if DLS2MML_INTERLEAVED_DECODER
    const std::size_t n = payloads.size();
    if (!available() || n == 0 || n > maxLanes || out.size() != n)
        return false;
    std::array<Lane, maxLanes> lanes;
    std::array<Lane*, maxLanes> all{};
    for (std::size_t i = 0; i < n; ++i) {
        if (payloads[i].size() < flushBytes)
            return false;
        resetModels(models_[i]);
        lanes[i].d = startReading(payloads[i]);
        lanes[i].models = &models_[i];
        lanes[i].out = grown(*out[i], limit, limit).data();
        lanes[i].outLimit = lanes[i].out + limit;
        all[i] = &lanes[i];
    }
    bool sound = decodeFirst<maxLanes>(all, n);
    for (std::size_t i = 0; i < n; ++i) {
        out[i]->resize(static_cast<std::size_t>(lanes[i].out - out[i]->data()));
        // Each payload ends with the end symbol's flush bytes, which close the interval.
        sound = sound && lanes[i].d.at == lanes[i].d.end && lanes[i].d.code == 0;
    }
    return sound;
#else
    (void)payloads, (void)out, (void)limit;
    (void)resetModels, (void)rescaleContext, (void)rescaleOffset;
    return false;
#endif
}

} // namespace dls2mml
