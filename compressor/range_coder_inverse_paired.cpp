// Range decoder, two payloads at once: the steps of decodeRangeBlock on the
// vector layout of LaneDecoderModels, the two payloads' steps interleaved so
// that each runs while the other waits on its chain.
//
// A step with r the range's share of one count: the index whose interval
// holds the code is the number of cumulative counts c (past the first) with
// r * c <= code. Every such product is below 2^32, so one 32-bit lane
// product and comparison per count answers it for 16 counts at once, and a
// population count of the comparison's mask is the index. Offsets take two
// such searches: the group of eight, then the index within it.
#include "compressor/paired_range_decoder.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__) && defined(__SIZEOF_INT128__) && !defined(_WIN32)
#define DLS2MML_PAIRED_DECODER 1
#include <immintrin.h>
#else
#define DLS2MML_PAIRED_DECODER 0
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
    // The last group's end, and the last index's within a full group, is the
    // total or the group's end: never at or below the code.
    model.groupMask = (1u << (groups - 1)) - 1;
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
    const std::uint32_t groups = (model.symbolCount + 7) / 8;
    for (std::uint32_t g = 0; g < groups; ++g) {
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

#if DLS2MML_PAIRED_DECODER

#define DLS2MML_WIDE_TARGET __attribute__((target("avx512f,avx512bw,avx512vl,popcnt,lzcnt")))
#define DLS2MML_WIDE_STEP DLS2MML_WIDE_TARGET __attribute__((always_inline)) inline

// One payload's reading state, as decodeRangeBlock's Reader.
struct Reader {
    const std::uint8_t* bytes = nullptr;
    std::size_t size = 0;
    std::size_t position = 0;
    std::uint32_t code = 0;
    std::uint32_t range = initialRange;
};

Reader startReading(std::span<const std::uint8_t> payload) noexcept
{
    Reader d{payload.data(), payload.size()};
    for (int i = 0; i < 4; ++i)
        d.code = (d.code << 8) | d.bytes[d.position++];
    return d;
}

// Brings the range back to 2^24 or more. A step leaves it at 2^8 or more, so
// its leading zero bytes (none, one or two) are the payload bytes to take in.
DLS2MML_WIDE_STEP bool renormalise(Reader& d) noexcept
{
    if (d.position + 2 <= d.size) [[likely]] {
        const std::uint32_t shift = 8 * (static_cast<std::uint32_t>(__builtin_clz(d.range)) >> 3);
        const std::uint32_t next = std::uint32_t{d.bytes[d.position]} << 8 | d.bytes[d.position + 1];
        d.code = static_cast<std::uint32_t>((std::uint64_t{d.code} << 16 | next) >> (16 - shift));
        d.range <<= shift;
        d.position += shift >> 3;
        return true;
    }
    while (d.range < renormaliseBelow) {
        if (d.position >= d.size)
            return false;
        d.code = (d.code << 8) | d.bytes[d.position++];
        d.range <<= 8;
    }
    return true;
}

DLS2MML_WIDE_STEP std::uint32_t shareOfOneCount(std::uint32_t range, std::uint32_t total) noexcept
{
    __extension__ using Wide = unsigned __int128;
    return static_cast<std::uint32_t>((static_cast<Wide>(range) * totalReciprocals[total]) >> 64);
}

// Adds 1 to each of the 16 (or 8) counts from lanes on that is above
// threshold; as signed 16-bit numbers, as addOneToLanesAbove.
DLS2MML_WIDE_STEP void raise16(std::uint16_t* lanes, std::uint32_t threshold) noexcept
{
    const __m256i counts = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lanes));
    const __m256i above = _mm256_cmpgt_epi16(counts, _mm256_set1_epi16(static_cast<std::int16_t>(threshold)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes), _mm256_sub_epi16(counts, above));
}

DLS2MML_WIDE_STEP void raise8(std::uint16_t* lanes, std::uint32_t threshold) noexcept
{
    const __m128i counts = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lanes));
    const __m128i above = _mm_cmpgt_epi16(counts, _mm_set1_epi16(static_cast<std::int16_t>(threshold)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), _mm_sub_epi16(counts, above));
}

// The number of the 16 (or 8) counts from lanes on, among those in mask,
// whose product with r is not above code.
DLS2MML_WIDE_STEP std::uint32_t countNotAbove16(const std::uint16_t* lanes, std::uint32_t r, std::uint32_t code,
                                                std::uint32_t mask) noexcept
{
    const __m512i counts = _mm512_cvtepu16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(lanes)));
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
    const std::uint32_t r = shareOfOneCount(d.range, model.total);
    // The coder never uses the part of the range at r * total and above.
    if (std::uint64_t{d.code} >= std::uint64_t{r} * model.total)
        return false;
    // cum[10] = total is above the code; lanes past it are masked off.
    const std::uint32_t index = countNotAbove16(&model.cum[1], r, d.code, 0x1FF);
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
    const std::uint32_t r = shareOfOneCount(d.range, model.total);
    if (std::uint64_t{d.code} >= std::uint64_t{r} * model.total)
        return false;
    const std::uint32_t g = countNotAbove16(&model.ends[1], r, d.code, model.groupMask);
    const std::uint32_t groupStart = model.ends[g];
    const std::uint32_t inGroup = d.code - r * groupStart;
    std::uint16_t* const within = model.within[g].data();
    const std::uint32_t j = countNotAbove8(within + 1, r, inGroup, model.withinMask);
    const std::uint32_t start = within[j];
    const std::uint32_t end = within[j + 1];
    d.code = inGroup - r * start;
    d.range = r * (end - start);
    raise8(within + 1, start);
    raise16(&model.ends[1], groupStart);
    if (++model.total >= rescaleTotal)
        rescaleOffset(model);
    offset = static_cast<std::int32_t>(8 * g + j);
    return renormalise(d);
}

// One symbol (0..256), the class context moved on.
DLS2MML_WIDE_STEP bool decodeSymbol(Reader& d, LaneDecoderModels& models, std::int32_t& c1, std::int32_t& c2,
                                    std::int32_t& symbol) noexcept
{
    std::int32_t k = 0;
    bool sound = decodeClass(d, models.contextModels[static_cast<std::size_t>(10 * c2 + c1)], k);
    symbol = k;
    if (sound && k >= 3) {
        std::int32_t offset = 0;
        sound = decodeOffset(d, models.offsetModels[static_cast<std::size_t>(k)], offset);
        symbol = classBase[static_cast<std::size_t>(k)] + offset;
    }
    c2 = c1;
    c1 = k;
    return sound;
}

// A payload on its way: its reader, models, context and symbols so far.
struct Lane {
    Reader d;
    LaneDecoderModels* models = nullptr;
    std::int32_t c1 = 0;
    std::int32_t c2 = 0;
    std::uint8_t* out = nullptr;
    std::size_t count = 0;
};

// The rest of one payload, up to its end symbol.
DLS2MML_WIDE_TARGET bool finishLane(Lane& lane, std::size_t limit) noexcept
{
    Reader d = lane.d;
    for (;;) {
        std::int32_t symbol = 0;
        if (!decodeSymbol(d, *lane.models, lane.c1, lane.c2, symbol))
            return false;
        if (symbol == endSymbol)
            break;
        if (lane.count == limit)
            return false;
        lane.out[lane.count++] = static_cast<std::uint8_t>(symbol);
    }
    lane.d = d;
    return true;
}

// Both payloads, a symbol of each in turn, until one ends; then the other
// on its own. The states are locals so that they stay in registers.
DLS2MML_WIDE_TARGET bool decodeLanes(Lane& laneA, Lane& laneB, std::size_t limit) noexcept
{
    Reader a = laneA.d;
    Reader b = laneB.d;
    LaneDecoderModels& modelsA = *laneA.models;
    LaneDecoderModels& modelsB = *laneB.models;
    std::int32_t a1 = 0, a2 = 0, b1 = 0, b2 = 0;
    std::uint8_t* const outA = laneA.out;
    std::uint8_t* const outB = laneB.out;
    std::size_t countA = 0, countB = 0;
    std::int32_t symbolA = 0, symbolB = 0;
    for (;;) {
        const bool soundA = decodeSymbol(a, modelsA, a1, a2, symbolA);
        const bool soundB = decodeSymbol(b, modelsB, b1, b2, symbolB);
        if (!(soundA && soundB))
            return false;
        if (symbolA == endSymbol || symbolB == endSymbol)
            break;
        if (countA == limit || countB == limit)
            return false;
        outA[countA++] = static_cast<std::uint8_t>(symbolA);
        outB[countB++] = static_cast<std::uint8_t>(symbolB);
    }
    laneA.d = a;
    laneB.d = b;
    laneA.c1 = a1, laneA.c2 = a2, laneB.c1 = b1, laneB.c2 = b2;
    laneA.count = countA;
    laneB.count = countB;
    // The one that has not ended keeps the symbol just read and goes on.
    Lane* const going = symbolA != endSymbol ? &laneA : symbolB != endSymbol ? &laneB : nullptr;
    if (!going)
        return true;
    if (going->count == limit)
        return false;
    going->out[going->count++] = static_cast<std::uint8_t>(going == &laneA ? symbolA : symbolB);
    return finishLane(*going, limit);
}

#endif // DLS2MML_PAIRED_DECODER

} // namespace

bool PairedRangeDecoder::available() noexcept
{
#if DLS2MML_PAIRED_DECODER
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

bool PairedRangeDecoder::decode(std::span<const std::uint8_t> payloadA, std::span<const std::uint8_t> payloadB, ReusedBytes& a,
                                ReusedBytes& b, std::size_t limit) noexcept
{
#if DLS2MML_PAIRED_DECODER
    if (!available() || payloadA.size() < flushBytes || payloadB.size() < flushBytes)
        return false;
    resetModels(lanes_[0]);
    resetModels(lanes_[1]);
    Lane laneA{startReading(payloadA), &lanes_[0], 0, 0, grown(a, limit, limit).data(), 0};
    Lane laneB{startReading(payloadB), &lanes_[1], 0, 0, grown(b, limit, limit).data(), 0};
    const bool sound = decodeLanes(laneA, laneB, limit);
    a.resize(laneA.count);
    b.resize(laneB.count);
    // Each payload ends with the end symbol's flush bytes, which close the interval.
    return sound && laneA.d.position == laneA.d.size && laneA.d.code == 0 && laneB.d.position == laneB.d.size &&
           laneB.d.code == 0;
#else
    (void)payloadA, (void)payloadB, (void)a, (void)b, (void)limit;
    (void)resetModels, (void)rescaleContext, (void)rescaleOffset;
    return false;
#endif
}

} // namespace dls2mml
