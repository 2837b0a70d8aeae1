#include "compressor/frequency_model.h"

namespace dls2mml {
namespace {

// Filled when the program starts rather than held in the binary (256 KiB).
std::array<std::uint64_t, rescaleTotal + 1> makeTotalReciprocals()
{
    std::array<std::uint64_t, rescaleTotal + 1> of{};
    for (std::uint32_t d = 2; d <= rescaleTotal; ++d)
        of[d] = ~std::uint64_t{0} / d + 1;
    return of;
}

} // namespace

const std::array<std::uint64_t, rescaleTotal + 1> totalReciprocals = makeTotalReciprocals();

void resetModel(FrequencyModel& model) noexcept
{
    const std::int32_t n = model.symbolCount;
    for (std::int32_t i = 0; i < n; ++i)
        model.freq[i] = 1;
    for (std::int32_t i = 0; i <= n; ++i)
        model.cum[i] = static_cast<std::uint16_t>(i);
    for (std::size_t i = static_cast<std::size_t>(n) + 1; i < model.cum.size(); ++i)
        model.cum[i] = 0;
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

namespace dls2mml {
namespace {

// Rebuilds an offset model's group ends and counts within groups from freq.
void sumOffsetGroups(OffsetDecoderModel& model) noexcept
{
    const std::uint32_t n = model.symbolCount;
    model.ends.fill(OffsetDecoderModel::pastModel);
    for (auto& group : model.within)
        group.fill(OffsetDecoderModel::pastModel);
    std::uint32_t cum = 0;
    for (std::uint32_t g = 0; 8 * g < n; ++g) {
        std::uint32_t inGroup = 0;
        for (std::uint32_t j = 0; j < 8 && 8 * g + j < n; ++j) {
            inGroup += model.freq[8 * g + j];
            model.within[g][j] = static_cast<std::uint16_t>(inGroup);
        }
        cum += inGroup;
        model.ends[g] = static_cast<std::uint16_t>(cum);
    }
    model.total = cum;
    model.reciprocal = totalReciprocals[cum];
}

} // namespace

void resetContextDecoderModel(ContextDecoderModel& model) noexcept
{
    model.cums = {};
    for (std::int32_t i = 0; i <= contextModelSymbols; ++i)
        model.cums[static_cast<std::size_t>(7 + i)] = static_cast<std::uint16_t>(i);
    model.total = contextModelSymbols;
    model.reciprocal = totalReciprocals[model.total];
}

void rescaleContextDecoderModel(ContextDecoderModel& model) noexcept
{
    std::uint32_t cum = 0;
    for (std::size_t i = 0; i < contextModelSymbols; ++i) {
        const auto freq = static_cast<std::uint32_t>(model.cums[8 + i] - model.cums[7 + i]);
        model.cums[7 + i] = static_cast<std::uint16_t>(cum);
        cum += (freq | 2) >> 1;
    }
    model.cums[7 + contextModelSymbols] = static_cast<std::uint16_t>(cum);
    model.total = cum;
    model.reciprocal = totalReciprocals[cum];
}

void resetOffsetDecoderModel(OffsetDecoderModel& model, std::uint32_t symbolCount) noexcept
{
    model.symbolCount = symbolCount;
    model.freq = {};
    for (std::uint32_t i = 0; i < symbolCount; ++i)
        model.freq[i] = 1;
    sumOffsetGroups(model);
}

void rescaleOffsetDecoderModel(OffsetDecoderModel& model) noexcept
{
    for (std::uint32_t i = 0; i < model.symbolCount; ++i)
        model.freq[i] = static_cast<std::uint16_t>((model.freq[i] | 2) >> 1);
    sumOffsetGroups(model);
}

void DecoderModelSet::reset() noexcept
{
    for (auto& model : contextModels)
        resetContextDecoderModel(model);
    for (std::int32_t k = 3; k < symbolClassCount; ++k)
        resetOffsetDecoderModel(offsetModels[static_cast<std::size_t>(k)], static_cast<std::uint32_t>(classSize[static_cast<std::size_t>(k)]));
}

} // namespace dls2mml
