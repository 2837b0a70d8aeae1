#include "compressor/frequency_model.h"

namespace dls2mml {

void resetModel(FrequencyModel& model) noexcept
{
    const std::int32_t n = model.symbolCount;
    for (std::int32_t i = 0; i < n; ++i)
        model.freq[i] = 1;
    for (std::int32_t i = 0; i <= n; ++i)
        model.cum[i] = static_cast<std::uint16_t>(i);
}

namespace {

// Adds 1 to cum[i] for every i from first to n (and to padding beyond n).
inline void addOneFrom(FrequencyModel& model, std::int32_t first, std::int32_t n) noexcept
{
#if defined(__GNUC__)
    using Lanes = std::uint16_t __attribute__((vector_size(16)));
    const Lanes offsets = {0, 1, 2, 3, 4, 5, 6, 7};
    const auto from = static_cast<std::uint16_t>(first);
    for (std::int32_t group = first & ~7; group <= n; group += 8) {
        Lanes cum;
        __builtin_memcpy(&cum, &model.cum[static_cast<std::size_t>(group)], sizeof cum);
        const Lanes index = offsets + static_cast<std::uint16_t>(group);
        cum -= reinterpret_cast<Lanes>(index >= from); // true lanes are all ones, i.e. -1
        __builtin_memcpy(&model.cum[static_cast<std::size_t>(group)], &cum, sizeof cum);
    }
#else
    for (std::int32_t i = first; i <= n; ++i)
        ++model.cum[i];
#endif
}

} // namespace

void updateModel(FrequencyModel& model, std::int32_t s) noexcept
{
    const std::int32_t n = model.symbolCount;
    ++model.freq[s];
    addOneFrom(model, s + 1, n);
    if (model.cum[n] < rescaleTotal)
        return;
    // Halve every count, keeping it odd and so never 0: (f >> 1) | 1.
    model.cum[0] = 0;
    for (std::int32_t i = 0; i < n; ++i) {
        model.freq[i] = static_cast<std::uint16_t>((model.freq[i] | 2) >> 1);
        model.cum[i + 1] = static_cast<std::uint16_t>(model.cum[i] + model.freq[i]);
    }
}

ModelSet::ModelSet()
{
    std::int32_t symbol = 0;
    for (std::int32_t k = 0; k < symbolClassCount; ++k)
        for (std::int32_t i = 0; i < classSize[k]; ++i)
            classOfSymbol[symbol++] = k;
    for (auto& model : contextModels)
        model.symbolCount = contextModelSymbols;
    for (std::int32_t k = 3; k < symbolClassCount; ++k)
        offsetModels[k].symbolCount = static_cast<std::uint16_t>(classSize[k]);
}

void ModelSet::resetModels() noexcept
{
    for (auto& model : contextModels)
        resetModel(model);
    for (std::int32_t k = 3; k < symbolClassCount; ++k)
        resetModel(offsetModels[k]);
}

} // namespace dls2mml
