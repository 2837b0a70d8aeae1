#include "compressor/frequency_model.h"

namespace dls2mml {

void resetModel(FrequencyModel& model) noexcept
{
    const std::int32_t n = model.symbolCount;
    for (std::int32_t i = 0; i < n; ++i)
        model.freq[i] = 1;
    for (std::int32_t i = 0; i <= n; ++i)
        model.cum[i] = static_cast<std::uint16_t>(i);
    for (std::size_t i = static_cast<std::size_t>(n) + 1; i < model.cum.size(); ++i)
        model.cum[i] = 0;
    model.reciprocal = n >= 2 ? reciprocalOf(static_cast<std::uint32_t>(n)) : 0;
}

void rescaleModel(FrequencyModel& model) noexcept
{
    const std::int32_t n = model.symbolCount;
    // Halve every count, keeping it odd and so never 0: (f >> 1) | 1.
    model.cum[0] = 0;
    for (std::int32_t i = 0; i < n; ++i) {
        model.freq[i] = static_cast<std::uint16_t>((model.freq[i] | 2) >> 1);
        model.cum[i + 1] = static_cast<std::uint16_t>(model.cum[i] + model.freq[i]);
    }
}

void updateModel(FrequencyModel& model, std::int32_t s) noexcept
{
    const std::int32_t n = model.symbolCount;
    ++model.freq[s];
    const std::uint32_t threshold = model.cum[s];
    if (n <= 8)
        addOneAbove<8>(model, threshold);
    else if (n <= 16)
        addOneAbove<16>(model, threshold);
    else if (n <= 32)
        addOneAbove<32>(model, threshold);
    else if (n <= 64)
        addOneAbove<64>(model, threshold);
    else
        addOneAbove<128>(model, threshold);
    if (model.cum[n] >= rescaleTotal)
        rescaleModel(model);
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
