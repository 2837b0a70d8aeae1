// The range coder's adaptive frequency models and its ten symbol classes
// (docs/format.md, section 5.1). Counts are 16-bit and start at 1; an update
// adds 1, and a total of 32768 halves every count, keeping it odd.
#pragma once

#include <array>
#include <cstdint>

namespace dls2mml {

enum SymbolClass : std::int32_t { symbolClassCount = 10 };

inline constexpr std::int32_t endSymbol = 256;
inline constexpr std::int32_t coderSymbolCount = 257; // bytes 0..255 and the end symbol
inline constexpr std::array<std::int32_t, symbolClassCount> classBase = {0, 1, 2, 3, 5, 9, 17, 33, 65, 129};
inline constexpr std::array<std::int32_t, symbolClassCount> classSize = {1, 1, 1, 2, 4, 8, 16, 32, 64, 128};
inline constexpr std::int32_t contextModelCount = 100;
inline constexpr std::int32_t contextModelSymbols = 10;
inline constexpr std::uint32_t rescaleTotal = 32768;

struct FrequencyModel {
    static constexpr std::int32_t maxSymbols = 128;
    std::uint16_t symbolCount = 0;
    std::array<std::uint16_t, maxSymbols> freq{};
    // cum[i] = freq[0] + ... + freq[i-1]. Past cum[n] the array holds zeros up
    // to a whole group of eight counts from cum[1], so an update can treat
    // cum[1..] in groups of eight: a zero is never above a threshold.
    alignas(16) std::array<std::uint16_t, maxSymbols + 8> cum{};
    std::uint16_t total() const noexcept { return cum[symbolCount]; }
};

// Uniform counts: freq[i] = 1, cum[i] = i, zeros past n.
void resetModel(FrequencyModel& model) noexcept;
// Counts one occurrence of index s and rescales when the total reaches 32768.
void updateModel(FrequencyModel& model, std::int32_t s) noexcept;
// Halves every count (keeping it odd) once the total has reached 32768.
void rescaleModel(FrequencyModel& model) noexcept;

// Adds 1 to every cum[i], 1 <= i <= n, that is above threshold, and returns how
// many those were. For a threshold in [cum[s], cum[s+1]) they are exactly
// cum[s+1..n], so n minus the result is s: the search for a coded value and
// the update after it are one pass. symbols: the model's n (any n up to it
// works, as the zeros past cum[n] are never above); every count must be below
// 32768 (the total is rescaled as soon as it reaches that).
template <std::int32_t symbols>
inline std::int32_t addOneAbove(FrequencyModel& model, std::uint32_t threshold) noexcept
{
    constexpr std::int32_t groups = (symbols + 7) / 8;
    static_assert(groups >= 1 && groups * 8 + 1 <= FrequencyModel::maxSymbols + 8);
#if defined(__GNUC__)
    // Signed lanes for the comparison, as every count compared is below 32768;
    // unsigned lanes for the addition, as the total may step from 32767 to
    // 32768 (rescaled straight after).
    using Lanes = std::int16_t __attribute__((vector_size(16)));
    using CountLanes = std::uint16_t __attribute__((vector_size(16)));
    using Halves = std::uint64_t __attribute__((vector_size(16)));
    const auto t = static_cast<std::int16_t>(threshold);
    const Lanes limit = {t, t, t, t, t, t, t, t};
    Lanes counted = {};
    std::uint16_t* const first = &model.cum[1];
    for (std::int32_t g = 0; g < groups; ++g) {
        Lanes cum;
        __builtin_memcpy(&cum, first + 8 * g, sizeof cum);
        const Lanes above = cum > limit; // all ones (-1) where true
        const CountLanes raised = reinterpret_cast<CountLanes>(cum) - reinterpret_cast<CountLanes>(above);
        counted -= above;
        __builtin_memcpy(first + 8 * g, &raised, sizeof raised);
    }
    // Each lane counts at most 16, so the four lanes of a half sum without carry.
    const Halves halves = reinterpret_cast<Halves>(counted);
    const std::uint64_t four = halves[0] + halves[1];
    return static_cast<std::int32_t>((four * 0x0001000100010001ull) >> 48);
#else
    std::int32_t count = 0;
    for (std::int32_t i = 1; i <= groups * 8; ++i)
        if (model.cum[i] > threshold) {
            ++model.cum[i];
            ++count;
        }
    return count;
#endif
}

// With M = floor(2^64 / d) + 1, the high half of n * M is floor(n / d) for every
// 32-bit n and 2 <= d <= 32768 (the error n * (M - 2^64 / d) / 2^64 stays below
// 1 / d). A model's total is always in that range. Entries 0 and 1 are 0.
extern const std::array<std::uint64_t, rescaleTotal + 1> totalReciprocals;

// floor(n / total) with total's entry of totalReciprocals.
inline std::uint32_t divideByReciprocal(std::uint32_t n, std::uint64_t reciprocal, std::uint32_t total) noexcept
{
#if defined(__wasm__)
    // WebAssembly has no 128-bit multiply (it would be a library call): the
    // same high word from two 64-bit products, which cannot overflow.
    (void)total;
    const std::uint64_t low = static_cast<std::uint64_t>(n) * static_cast<std::uint32_t>(reciprocal);
    const std::uint64_t high = static_cast<std::uint64_t>(n) * (reciprocal >> 32);
    return static_cast<std::uint32_t>((high + (low >> 32)) >> 32);
#elif defined(__SIZEOF_INT128__)
    (void)total;
    __extension__ using Wide = unsigned __int128;
    return static_cast<std::uint32_t>((static_cast<Wide>(n) * reciprocal) >> 64);
#else
    (void)reciprocal;
    return n / total;
#endif
}

// The reading side keeps its models in a form made for finding the index
// whose interval holds the code value without a division: with r the range
// divided by the total, index s holds code exactly when
// r * cum[s] <= code < r * cum[s+1], and every r * cum[i] is below 2^32. So
// the search multiplies counts by r and compares with the code, up to 15
// counts at a time, and the index is the number of counts not above it. The
// counts follow updateModel exactly: +1 for the coded index, a rescale at 32768.

// A context model (10 indices), all of its cumulative counts in two groups.
struct ContextDecoderModel {
    // cums[7 + i] = cum[i] for i = 0..10 (cums[7] = cum[0] = 0), zeros after,
    // so cums[8..15] and cums[16..23] are the two groups cum[1..16] and
    // cums[7 + s], cums[8 + s] bound the interval of index s.
    alignas(16) std::array<std::uint16_t, 24> cums{};
    std::uint32_t total = 0;
    std::uint64_t reciprocal = 0;
};

// An offset model (2 to 128 indices) in two levels: groups of eight indices,
// the cumulative count at the end of each group, and counts within a group.
// An update then changes one group and the group ends, whatever the size.
struct OffsetDecoderModel {
    static constexpr std::int32_t groupCount = 16;
    // A lane past the model: above every count, never raised by an update
    // (as a signed 16-bit lane it is -1), and its product with r is above any
    // code value.
    static constexpr std::uint16_t pastModel = 0xFFFF;
    // ends[g] = cum[min(8g + 8, n)], the cumulative count at the end of
    // group g; pastModel for groups past the model.
    alignas(16) std::array<std::uint16_t, groupCount> ends{};
    // within[g][j] = cum[8g + j + 1] - cum[8g] for each index 8g + j of the
    // model; pastModel past n.
    alignas(16) std::array<std::array<std::uint16_t, 8>, groupCount> within{};
    std::array<std::uint16_t, FrequencyModel::maxSymbols> freq{};
    std::uint32_t total = 0;
    std::uint32_t symbolCount = 0;
    std::uint64_t reciprocal = 0;
};

void resetContextDecoderModel(ContextDecoderModel& model) noexcept;
void resetOffsetDecoderModel(OffsetDecoderModel& model, std::uint32_t symbolCount) noexcept;
// Halve every count (keeping it odd), as rescaleModel does.
void rescaleContextDecoderModel(ContextDecoderModel& model) noexcept;
void rescaleOffsetDecoderModel(OffsetDecoderModel& model) noexcept;

// Adds 1 to each of the eight counts at lanes that is above threshold, both
// compared as signed 16-bit numbers. Counts are below 32768 before (one may
// reach 32768 as the total, rescaled after).
inline void addOneToLanesAbove(std::uint16_t* lanes, std::uint32_t threshold) noexcept
{
#if defined(__GNUC__)
    using Lanes = std::int16_t __attribute__((vector_size(16)));
    using CountLanes = std::uint16_t __attribute__((vector_size(16)));
    const auto t = static_cast<std::int16_t>(threshold);
    const Lanes limit = {t, t, t, t, t, t, t, t};
    Lanes counts;
    __builtin_memcpy(&counts, lanes, sizeof counts);
    const CountLanes raised = reinterpret_cast<CountLanes>(counts) - reinterpret_cast<CountLanes>(counts > limit);
    __builtin_memcpy(lanes, &raised, sizeof raised);
#else
    for (int i = 0; i < 8; ++i)
        lanes[i] = static_cast<std::uint16_t>(lanes[i] + (static_cast<std::int16_t>(lanes[i]) > static_cast<std::int16_t>(threshold)));
#endif
}

// Counts index s of a context model, whose interval starts at cumS = cum[s].
inline void countContextIndex(ContextDecoderModel& model, std::uint32_t cumS) noexcept
{
    // The counts above cum[s] are exactly cum[s+1..10]; the zeros never are.
    addOneToLanesAbove(&model.cums[8], cumS);
    addOneToLanesAbove(&model.cums[16], cumS);
    if (++model.total >= rescaleTotal)
        rescaleContextDecoderModel(model);
    model.reciprocal = totalReciprocals[model.total];
}

// Counts index 8g + j of an offset model; withinJ = within[g][j] before.
inline void countOffsetIndex(OffsetDecoderModel& model, std::int32_t g, std::int32_t j, std::uint32_t withinJ) noexcept
{
    // Within the group, the counts from lane j on are those at least
    // within[g][j] (lower lanes are smaller, lanes past n are never raised);
    // likewise the group ends from group g on.
    addOneToLanesAbove(model.within[static_cast<std::size_t>(g)].data(), withinJ - 1);
    const std::uint32_t endG = model.ends[static_cast<std::size_t>(g)];
    addOneToLanesAbove(&model.ends[0], endG - 1);
    addOneToLanesAbove(&model.ends[8], endG - 1);
    ++model.freq[static_cast<std::size_t>(8 * g + j)];
    if (++model.total >= rescaleTotal)
        rescaleOffsetDecoderModel(model);
    model.reciprocal = totalReciprocals[model.total];
}

// The decoder's models of one block, reset at its start.
struct DecoderModelSet {
    std::array<ContextDecoderModel, contextModelCount> contextModels;
    std::array<OffsetDecoderModel, symbolClassCount> offsetModels; // slots 0..2 unused
    void reset() noexcept;
};

// The full model set of one stream: 100 context models of 10 symbols, indexed
// by 10 * c2 + c1, and one offset model per class 3..9.
struct ModelSet {
    std::array<FrequencyModel, contextModelCount> contextModels;
    std::array<FrequencyModel, symbolClassCount> offsetModels; // slots 0..2 unused
    std::array<std::int32_t, coderSymbolCount> classOfSymbol{};
    DecoderModelSet decoding; // the same models in the decoder's form

    ModelSet();           // fills the class table and sets each model's size
    void resetModels() noexcept;
};

} // namespace dls2mml
