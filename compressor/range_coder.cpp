#include "compressor/range_coder.h"

#include <cassert>
#include <type_traits>

#include "compressor/coder_models.h"

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

// Codes the interval of one index and counts it in its model.
template <typename Model>
DLS2MML_CODER_STEP void encodeIndex(CoderState& state, Model& model, std::int32_t s) noexcept
{
    const CodedInterval interval = intervalOf(model, s);
    const std::uint32_t r = divideByReciprocal(state.range, totalReciprocals[model.total], model.total);
    // The model is counted before any byte is written: a byte store may
    // alias the counts, which would then be read again after it.
    if constexpr (std::is_same_v<Model, ContextCoderModel>)
        countIndex(model, interval.start);
    else
        countIndex(model, s);
    const std::uint32_t add = r * interval.start;
    // A carry out of low adds 1 to the bytes already written. It comes about
    // as often as not after the range is renormalised, so it is added to the
    // last byte without a branch (to a byte not yet due when none is out:
    // with nothing written the interval cannot pass 2^32, so it adds 0);
    // only when that byte wraps does the carry go further back.
    const std::uint32_t low = state.low + add;
    const std::uint8_t carry = low < add;
    const std::size_t last = state.count - (state.count != 0);
    state.out[last] = static_cast<std::uint8_t>(state.out[last] + carry);
    if (carry > state.out[last]) [[unlikely]]
        propagateCarry(state.out, last);
    state.low = low;
    state.range = r * interval.size;
    // Brings the range back to 2^24 or more, a byte out per factor 2^8. A
    // step leaves at least r >= 2^24 / 32767 > 2^8, so at most two bytes go
    // out; both are stored and the count moves by those that do, without a
    // branch on the coded data (the bound leaves room for the spare one).
    const std::uint32_t bytes = std::uint32_t{state.range < renormaliseBelow} + std::uint32_t{state.range < (renormaliseBelow >> 8)};
    const std::uint32_t shift = 8 * bytes;
    state.out[state.count] = static_cast<std::uint8_t>(state.low >> 24);
    state.out[state.count + 1] = static_cast<std::uint8_t>(state.low >> 16);
    state.count += bytes;
    state.range = static_cast<std::uint32_t>(std::uint64_t{state.range} << shift);
    state.low = static_cast<std::uint32_t>(std::uint64_t{state.low} << shift);
}

// Codes one symbol: its class with the context model of the two classes
// before (10 * c2 + c1, kept as context), then its offset within a class of
// more than one symbol. context moves on as 10 * c1 + k, which keeps the
// division by 10 that c2 would take off the chain from symbol to symbol.
DLS2MML_CODER_STEP void encodeSymbol(CoderState& state, CoderModelSet& coding, const std::int32_t* classOfSymbol,
                                     std::size_t& context, std::size_t& c1, std::int32_t symbol) noexcept
{
    const std::int32_t k = classOfSymbol[static_cast<std::size_t>(symbol)];
    encodeIndex(state, coding.contextModels[context], k);
    context = 10 * c1 + static_cast<std::size_t>(k);
    c1 = static_cast<std::size_t>(k);
    if (k >= 3)
        encodeIndex(state, coding.offsetModels[static_cast<std::size_t>(k)], symbol - classBase[static_cast<std::size_t>(k)]);
}

} // namespace

std::int32_t encodeBlock(ModelSet& models, std::span<std::uint8_t> out, std::span<const std::uint8_t> symbols) noexcept
{
    assert(out.size() >= encodeBlockBound(symbols.size()));
    // The coder's own form of the models (about 10 KiB, reset for every block).
    CoderModelSet coding;
    coding.reset();
    CoderState state{.out = out.data()};
    const std::int32_t* const classOfSymbol = models.classOfSymbol.data();
    std::size_t context = 0;
    std::size_t c1 = 0;
    for (const std::uint8_t symbol : symbols)
        encodeSymbol(state, coding, classOfSymbol, context, c1, symbol);
    encodeSymbol(state, coding, classOfSymbol, context, c1, endSymbol);
    for (int i = 0; i < 4; ++i) {
        state.out[state.count++] = static_cast<std::uint8_t>(state.low >> 24);
        state.low <<= 8;
    }
    return static_cast<std::int32_t>(state.count);
}

} // namespace dls2mml
