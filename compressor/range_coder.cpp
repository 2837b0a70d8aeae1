#include "compressor/range_coder.h"

#include <cassert>

namespace dls2mml {

std::uint32_t divideByTotal(std::uint32_t n, std::uint32_t total) noexcept
{
    return divideByReciprocal(n, totalReciprocals[total], total);
}

namespace {

struct CoderState {
    std::uint32_t low = 0;
    std::uint32_t range = initialRange;
    std::uint8_t* out;
    std::size_t count = 0;
};

// Adds 1 to the big-endian number formed by the bytes written so far.
void propagateCarry(std::uint8_t* out, std::size_t count) noexcept
{
    for (std::size_t i = count; i-- > 0;) {
        if (++out[i] != 0)
            return;
    }
}

void encodeIndex(CoderState& state, FrequencyModel& model, std::int32_t s) noexcept
{
    const std::uint32_t r = divideByTotal(state.range, model.total());
    const std::uint32_t add = r * model.cum[s];
    if (add > 0xFFFFFFFFu - state.low)
        propagateCarry(state.out, state.count);
    state.low += add;
    state.range = r * model.freq[s];
    updateModel(model, s);
    while (state.range < renormaliseBelow) {
        state.out[state.count++] = static_cast<std::uint8_t>(state.low >> 24);
        state.range <<= 8;
        state.low <<= 8;
    }
}

} // namespace

std::int32_t encodeBlock(ModelSet& models, std::span<std::uint8_t> out, std::span<const std::uint8_t> symbols) noexcept
{
    assert(out.size() >= encodeBlockBound(symbols.size()));
    models.resetModels();
    CoderState state{.out = out.data()};
    std::int32_t c1 = 0;
    std::int32_t c2 = 0;
    for (std::size_t position = 0;; ++position) {
        FrequencyModel& context = models.contextModels[static_cast<std::size_t>(10 * c2 + c1)];
        const std::int32_t symbol = position < symbols.size() ? symbols[position] : endSymbol;
        const std::int32_t k = models.classOfSymbol[static_cast<std::size_t>(symbol)];
        encodeIndex(state, context, k);
        c2 = c1;
        c1 = k;
        if (k >= 3)
            encodeIndex(state, models.offsetModels[static_cast<std::size_t>(k)], symbol - classBase[k]);
        if (symbol == endSymbol)
            break;
    }
    for (int i = 0; i < 4; ++i) {
        state.out[state.count++] = static_cast<std::uint8_t>(state.low >> 24);
        state.low <<= 8;
    }
    return static_cast<std::int32_t>(state.count);
}

} // namespace dls2mml
