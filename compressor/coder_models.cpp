#include "compressor/coder_models.h"

namespace dls2mml {
namespace {

// Rebuilds an offset model's starts from its counts.
void sumOffsetStarts(OffsetCoderModel& model) noexcept
{
    const std::uint32_t n = model.symbolCount;
    model.groupStart.fill(0);
    for (auto& group : model.startWithin)
        group.fill(0);
    std::uint32_t cum = 0;
    for (std::uint32_t g = 0; 8 * g < n; ++g) {
        model.groupStart[g] = static_cast<std::uint16_t>(cum);
        std::uint32_t within = 0;
        for (std::uint32_t j = 0; j < 8 && 8 * g + j < n; ++j) {
            model.startWithin[g][j] = static_cast<std::uint16_t>(within);
            within += model.freq[8 * g + j];
        }
        cum += within;
    }
    model.total = cum;
}

} // namespace

void resetContextCoderModel(ContextCoderModel& model) noexcept
{
    model.cum = {};
    for (std::int32_t i = 0; i <= contextModelSymbols; ++i)
        model.cum[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(i);
    model.total = contextModelSymbols;
}

void rescaleContextCoderModel(ContextCoderModel& model) noexcept
{
    // Halve every count, keeping it odd and so never 0: (f | 2) >> 1.
    std::uint32_t cum = 0;
    for (std::size_t i = 0; i < contextModelSymbols; ++i) {
        const std::uint32_t freq = model.cum[i + 1] - model.cum[i];
        model.cum[i] = static_cast<std::uint16_t>(cum);
        cum += (freq | 2) >> 1;
    }
    model.cum[contextModelSymbols] = static_cast<std::uint16_t>(cum);
    model.total = cum;
}

void resetOffsetCoderModel(OffsetCoderModel& model, std::uint32_t symbolCount) noexcept
{
    model.symbolCount = symbolCount;
    model.freq = {};
    for (std::uint32_t i = 0; i < symbolCount; ++i)
        model.freq[i] = 1;
    sumOffsetStarts(model);
}

void rescaleOffsetCoderModel(OffsetCoderModel& model) noexcept
{
    for (std::uint32_t i = 0; i < model.symbolCount; ++i)
        model.freq[i] = static_cast<std::uint16_t>((model.freq[i] | 2) >> 1);
    sumOffsetStarts(model);
}

void CoderModelSet::reset() noexcept
{
    for (auto& model : contextModels)
        resetContextCoderModel(model);
    for (std::int32_t k = 3; k < symbolClassCount; ++k)
        resetOffsetCoderModel(offsetModels[static_cast<std::size_t>(k)],
                              static_cast<std::uint32_t>(classSize[static_cast<std::size_t>(k)]));
}

} // namespace dls2mml
