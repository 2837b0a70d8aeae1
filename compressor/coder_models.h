// The coder's own form of the class models: the counts FrequencyModel keeps
// (the same cum, the same +1 per coded index, the same rescale at 32768), laid
// out so that a coded index is counted in two or three eight-lane steps
// whatever the model's size. The reciprocal of the total is read from its
// table at each use: keeping a copy beside the counts cost a store per index.
// The decoder has a form of its own (DecoderModelSet), so --verify checks the
// coder with code it does not share.
#pragma once

#include <array>
#include <cstdint>

#include "compressor/frequency_model.h"

namespace dls2mml {

// Adds 1 to each of the eight counts at lanes in groups that is above
// threshold, both compared as signed 16-bit numbers (every count is below
// 32768 before; one may reach 32768 as the total, rescaled straight after).
// Groups of eight lanes follow one another; the threshold is spread over a
// vector once for all of them.
template <int groups = 1>
inline void raiseLanesAbove(std::uint16_t* lanes, std::uint32_t threshold) noexcept
{
#if defined(__GNUC__)
    using Lanes = std::int16_t __attribute__((vector_size(16)));
    using CountLanes = std::uint16_t __attribute__((vector_size(16)));
    const auto t = static_cast<std::int16_t>(threshold);
    const Lanes limit = {t, t, t, t, t, t, t, t};
    for (int g = 0; g < groups; ++g) {
        Lanes counts;
        __builtin_memcpy(&counts, lanes + 8 * g, sizeof counts);
        const CountLanes raised = reinterpret_cast<CountLanes>(counts) - reinterpret_cast<CountLanes>(counts > limit);
        __builtin_memcpy(lanes + 8 * g, &raised, sizeof raised);
    }
#else
    for (int i = 0; i < 8 * groups; ++i)
        if (static_cast<std::int16_t>(lanes[i]) > static_cast<std::int16_t>(threshold))
            ++lanes[i];
#endif
}

// A context model (10 indices): cum[0..10] and zeros up to 16 lanes, so index
// s is counted by raising the lanes above cum[s] in two steps (the zeros and
// cum[0..s] never are).
struct ContextCoderModel {
    alignas(16) std::array<std::uint16_t, 16> cum{};
    std::uint32_t total = 0;
};

// An offset model (2 to 128 indices) in two levels: where each group of eight
// indices starts, and where each index starts within its group. Counting an
// index raises the later starts of its group and the later groups' starts.
struct OffsetCoderModel {
    static constexpr std::int32_t groupCount = 16;
    // groupStart[g] = cum[8g]; 0 past the model (never above a threshold).
    alignas(16) std::array<std::uint16_t, groupCount> groupStart{};
    // startWithin[g][j] = cum[8g + j] - cum[8g]; 0 past the model.
    alignas(16) std::array<std::array<std::uint16_t, 8>, groupCount> startWithin{};
    std::array<std::uint16_t, FrequencyModel::maxSymbols> freq{};
    std::uint32_t total = 0;
    std::uint32_t symbolCount = 0;
};

void resetContextCoderModel(ContextCoderModel& model) noexcept;
void resetOffsetCoderModel(OffsetCoderModel& model, std::uint32_t symbolCount) noexcept;
void rescaleContextCoderModel(ContextCoderModel& model) noexcept;
void rescaleOffsetCoderModel(OffsetCoderModel& model) noexcept;

// The interval of index s: its start and its count.
struct CodedInterval {
    std::uint32_t start;
    std::uint32_t size;
};

inline CodedInterval intervalOf(const ContextCoderModel& model, std::int32_t s) noexcept
{
    const std::uint32_t start = model.cum[static_cast<std::size_t>(s)];
    return {start, model.cum[static_cast<std::size_t>(s) + 1] - start};
}

inline CodedInterval intervalOf(const OffsetCoderModel& model, std::int32_t s) noexcept
{
    const auto g = static_cast<std::size_t>(s >> 3), j = static_cast<std::size_t>(s & 7);
    return {std::uint32_t{model.groupStart[g]} + model.startWithin[g][j], model.freq[static_cast<std::size_t>(s)]};
}

// Counts index s, whose interval starts at start (cum[s]).
inline void countIndex(ContextCoderModel& model, std::uint32_t start) noexcept
{
    raiseLanesAbove<2>(&model.cum[0], start);
    if (++model.total >= rescaleTotal)
        rescaleContextCoderModel(model);
}

inline void countIndex(OffsetCoderModel& model, std::int32_t s) noexcept
{
    const auto g = static_cast<std::size_t>(s >> 3), j = static_cast<std::size_t>(s & 7);
    // Both thresholds read before any count moves.
    const std::uint32_t startWithin = model.startWithin[g][j];
    const std::uint32_t groupStart = model.groupStart[g];
    raiseLanesAbove(model.startWithin[g].data(), startWithin);
    raiseLanesAbove<2>(&model.groupStart[0], groupStart);
    ++model.freq[static_cast<std::size_t>(s)];
    if (++model.total >= rescaleTotal)
        rescaleOffsetCoderModel(model);
}

// The coder's models of one block, reset at its start.
struct CoderModelSet {
    std::array<ContextCoderModel, contextModelCount> contextModels;
    std::array<OffsetCoderModel, symbolClassCount> offsetModels; // slots 0..2 unused
    void reset() noexcept;
};

} // namespace dls2mml
