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
    // to a whole group of eight counts from cum[1], so a search or an update
    // can treat cum[1..] in groups of eight: a zero is never above a code value.
    alignas(16) std::array<std::uint16_t, maxSymbols + 8> cum{};
    // floor(2^64 / total) + 1, so that the decoder divides its range by the
    // total with one multiplication (see divideByModelTotal). Set by a reset and
    // kept by finishDecodedUpdate; the encoder's updateModel leaves it stale.
    std::uint64_t reciprocal = 0;

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
// 1 / d). A model's total is always in that range.
inline std::uint64_t reciprocalOf(std::uint32_t total) noexcept { return ~std::uint64_t{0} / total + 1; }

// floor(n / total) for the model's current total.
inline std::uint32_t divideByModelTotal(std::uint32_t n, const FrequencyModel& model) noexcept
{
#if defined(__SIZEOF_INT128__)
    __extension__ using Wide = unsigned __int128;
    return static_cast<std::uint32_t>((static_cast<Wide>(n) * model.reciprocal) >> 64);
#else
    return n / model.cum[model.symbolCount];
#endif
}

// The rest of the decoder's update once addOneAbove found index s: the same
// counts as updateModel(model, s) gives, and the reciprocal kept.
// symbols: the model's n.
template <std::int32_t symbols>
inline void finishDecodedUpdate(FrequencyModel& model, std::int32_t s) noexcept
{
    ++model.freq[static_cast<std::size_t>(s)];
    if (model.cum[symbols] >= rescaleTotal)
        rescaleModel(model);
    model.reciprocal = reciprocalOf(model.cum[symbols]);
}

// The full model set of one stream: 100 context models of 10 symbols, indexed
// by 10 * c2 + c1, and one offset model per class 3..9.
struct ModelSet {
    std::array<FrequencyModel, contextModelCount> contextModels;
    std::array<FrequencyModel, symbolClassCount> offsetModels; // slots 0..2 unused
    std::array<std::int32_t, coderSymbolCount> classOfSymbol{};

    ModelSet();           // fills the class table and sets each model's size
    void resetModels() noexcept;
};

} // namespace dls2mml
