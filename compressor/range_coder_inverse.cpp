// Range decoder: a block's payload back into rank symbols, up to the end
// symbol and the four flush bytes (docs/format.md, section 5.1).
//
// Decoding is one long chain of dependent steps (each index needs the code
// value and range the one before left), so its speed is the chain's length.
// A step here multiplies the range's share r by many counts at once, each
// product independent of the others, and picks the interval's bounds from
// them without a branch on the coded data.
#include <algorithm>
#include <cstdint>

#include "compressor/range_coder.h"

namespace dls2mml {
namespace {

// The products of the rising counts[0..count-1] with r bracket code: adds
// the number of products not above code to below, raises low to the largest
// of them and lowers high to the smallest product above code. Products stay
// below 2^48 (counts are 16-bit, r below 2^32), so a lane past a model
// (0xFFFF) is above any code. The choices are conditional moves: a branch
// would follow the coded data and be mispredicted about every other time,
// and the compiler does not always keep them as moves on its own.
template <std::int32_t count, bool withHigh = true>
DLS2MML_CODER_STEP void bracket(const std::uint16_t* counts, std::uint64_t r, std::uint64_t code, std::int32_t& below,
                          std::uint64_t& low, std::uint64_t& high) noexcept
{
    std::uint64_t above = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        const std::uint64_t product = r * counts[i];
#if defined(__GNUC__) && defined(__x86_64__)
        __asm__("cmpq %[product], %[code]\n\t"
                "cmovaeq %[product], %[low]\n\t"
                "adcq $0, %[above]"
                : [low] "+r"(low), [above] "+r"(above)
                : [product] "r"(product), [code] "r"(code)
                : "cc");
#else
        const bool isAbove = product > code;
        low = isAbove ? low : product;
        above += isAbove;
#endif
    }
    for (std::int32_t i = count; withHigh && i-- > 0;) {
        const std::uint64_t product = r * counts[i];
#if defined(__GNUC__) && defined(__x86_64__)
        __asm__("cmpq %[product], %[code]\n\t"
                "cmovbq %[product], %[high]"
                : [high] "+r"(high)
                : [product] "r"(product), [code] "r"(code)
                : "cc");
#else
        high = product > code ? product : high;
#endif
    }
    below += count - static_cast<std::int32_t>(above);
}

enum class Step { ok, outsideInterval, payloadEnded };

// The coder state seen from the reading side: code is the distance of the
// payload's value from the bottom of the current interval, always below range.
// Kept in the caller's locals, so that every step works in registers.
struct Reader {
    const std::uint8_t* bytes;
    std::size_t size;
    std::size_t position = 0;
    std::uint32_t code = 0;
    std::uint32_t range = initialRange;

    explicit Reader(std::span<const std::uint8_t> payload) noexcept : bytes(payload.data()), size(payload.size())
    {
        for (int i = 0; i < 4; ++i)
            code = (code << 8) | bytes[position++];
    }
};

// Brings the range back to 2^24 or more, a payload byte per factor 2^8. A
// step leaves at least r >= 2^24 / 32767 > 2^8, so at most two bytes move in;
// while two remain they are taken without a branch on how many.
DLS2MML_CODER_STEP Step renormalise(Reader& d) noexcept
{
    if (d.position + 2 <= d.size) {
        const std::uint32_t bytes = std::uint32_t{d.range < renormaliseBelow} + std::uint32_t{d.range < (renormaliseBelow >> 8)};
        const std::uint32_t shift = 8 * bytes;
        const std::uint64_t next = std::uint64_t{d.bytes[d.position]} << 8 | d.bytes[d.position + 1];
        d.code = static_cast<std::uint32_t>(std::uint64_t{d.code} << shift | next >> (16 - shift));
        d.range = static_cast<std::uint32_t>(std::uint64_t{d.range} << shift);
        d.position += bytes;
        return Step::ok;
    }
    while (d.range < renormaliseBelow) {
        if (d.position >= d.size)
            return Step::payloadEnded;
        d.code = (d.code << 8) | d.bytes[d.position++];
        d.range <<= 8;
    }
    return Step::ok;
}

// Narrows the interval to [low, high) (products of r, relative to the
// current bottom) and renormalises.
DLS2MML_CODER_STEP Step narrow(Reader& d, std::uint64_t low, std::uint64_t high) noexcept
{
    d.code -= static_cast<std::uint32_t>(low);
    d.range = static_cast<std::uint32_t>(high - low);
    return renormalise(d);
}

// Decodes one class with a context model and counts it.
DLS2MML_CODER_STEP Step decodeClass(Reader& d, ContextDecoderModel& model, std::int32_t& k) noexcept
{
    const std::uint64_t r = divideByReciprocal(d.range, model.reciprocal, model.total);
    const std::uint16_t* const cum = &model.cums[7];
    std::uint64_t high = r * cum[contextModelSymbols];
    // The coder never uses the part of the range at r * total and above.
    if (d.code >= high)
        return Step::outsideInterval;
    std::int32_t index = 0;
    std::uint64_t low = 0;
    bracket<contextModelSymbols - 1>(cum + 1, r, d.code, index, low, high);
    countContextIndex(model, cum[index]);
    k = index;
    return narrow(d, low, high);
}

// Decodes one offset with an offset model and counts it: the group of eight
// indices whose end is the first above code, then the index within it.
DLS2MML_CODER_STEP Step decodeOffset(Reader& d, OffsetDecoderModel& model, std::int32_t& offset) noexcept
{
    const std::uint64_t r = divideByReciprocal(d.range, model.reciprocal, model.total);
    if (d.code >= r * model.total)
        return Step::outsideInterval;
    // The last group's end is the total, above code. The end of the group
    // found is read with the group's counts rather than chosen on the way.
    std::int32_t g = 0;
    std::uint64_t groupLow = 0;
    std::uint64_t unused = 0;
    bracket<OffsetDecoderModel::groupCount - 1, false>(model.ends.data(), r, d.code, g, groupLow, unused);
    const std::uint64_t groupHigh = r * model.ends[static_cast<std::size_t>(g)];
    const auto& within = model.within[static_cast<std::size_t>(g)];
    const std::uint64_t inGroup = d.code - groupLow;
    // Likewise the last index of the group ends at its end.
    std::int32_t j = 0;
    std::uint64_t low = 0;
    std::uint64_t high = groupHigh - groupLow;
    bracket<7>(within.data(), r, inGroup, j, low, high);
    countOffsetIndex(model, g, j, within[static_cast<std::size_t>(j)]);
    offset = 8 * g + j;
    return narrow(d, groupLow + low, groupLow + high);
}

enum class SymbolStep { ok, outsideInterval, payloadEnded };

// Decodes one symbol (0..256) and moves the class context on.
DLS2MML_CODER_STEP SymbolStep decodeSymbol(Reader& d, DecoderModelSet& models, std::int32_t& c1, std::int32_t& c2,
                                     std::int32_t& symbol) noexcept
{
    std::int32_t k = 0;
    Step step = decodeClass(d, models.contextModels[static_cast<std::size_t>(10 * c2 + c1)], k);
    symbol = k;
    if (step == Step::ok && k >= 3) {
        std::int32_t offset = 0;
        step = decodeOffset(d, models.offsetModels[static_cast<std::size_t>(k)], offset);
        symbol = classBase[static_cast<std::size_t>(k)] + offset;
    }
    c2 = c1;
    c1 = k;
    if (step == Step::outsideInterval)
        return SymbolStep::outsideInterval;
    // Running out of payload while renormalising after the end symbol is as
    // fatal as before it: the flush bytes are missing.
    if (step == Step::payloadEnded)
        return SymbolStep::payloadEnded;
    return SymbolStep::ok;
}

// Whether code lies in the interval [r * cumS, r * cumNext) of a known index,
// exactly when the search would pick that index; narrows to it if so. As
// unsigned 32-bit numbers code - low wraps above any width when code < low
// (the interval's top is below 2^32), so one comparison checks both ends.
DLS2MML_CODER_STEP bool holdsIndex(Reader& d, std::uint64_t r, std::uint32_t cumS, std::uint32_t cumNext) noexcept
{
    const auto low = static_cast<std::uint32_t>(r * cumS);
    const auto width = static_cast<std::uint32_t>(r * (cumNext - cumS));
    if (d.code - low >= width)
        return false;
    d.code -= low;
    d.range = width;
    return true;
}

DLS2MML_CODER_STEP bool holdsClass(Reader& d, ContextDecoderModel& model, std::int32_t k) noexcept
{
    const std::uint64_t r = divideByReciprocal(d.range, model.reciprocal, model.total);
    const std::uint32_t cumS = model.cums[static_cast<std::size_t>(7 + k)];
    if (!holdsIndex(d, r, cumS, model.cums[static_cast<std::size_t>(8 + k)]))
        return false;
    countContextIndex(model, cumS);
    return renormalise(d) == Step::ok;
}

DLS2MML_CODER_STEP bool holdsOffset(Reader& d, OffsetDecoderModel& model, std::int32_t offset) noexcept
{
    const std::uint64_t r = divideByReciprocal(d.range, model.reciprocal, model.total);
    const std::int32_t g = offset >> 3;
    const std::int32_t j = offset & 7;
    // The count before group g; read in bounds for g = 0 too, then dropped.
    const std::uint32_t endBefore = model.ends[static_cast<std::size_t>((g + 15) & 15)];
    const std::uint32_t base = g == 0 ? 0 : endBefore;
    const std::uint32_t withinJ = model.within[static_cast<std::size_t>(g)][static_cast<std::size_t>(j)];
    const std::uint32_t cumNext = base + withinJ;
    if (!holdsIndex(d, r, cumNext - model.freq[static_cast<std::size_t>(offset)], cumNext))
        return false;
    countOffsetIndex(model, g, j, withinJ);
    return renormalise(d) == Step::ok;
}

std::string number(std::size_t value) { return std::to_string(value); }

} // namespace

StageFault decodeRangeBlock(ModelSet& models, std::span<const std::uint8_t> payload, ReusedBytes& symbols,
                            std::size_t limit)
{
    if (payload.size() < 4) {
        symbols.clear();
        return {FaultKind::corrupt, "payload of " + number(payload.size()) + " bytes is shorter than the 4 flush bytes every coded block ends with", 0};
    }
    models.decoding.reset();
    Reader decoder(payload);
    std::int32_t c1 = 0;
    std::int32_t c2 = 0;
    // Symbols go through a plain pointer into room for the limit: a store
    // through the vector would have its bounds read back from memory after
    // every symbol.
    std::uint8_t* const out = grown(symbols, limit, limit).data();
    std::size_t count = 0;
    auto fail = [&](FaultKind kind, std::string message, std::size_t position) {
        symbols.resize(count);
        return StageFault{kind, std::move(message), position};
    };
    for (;;) {
        std::int32_t symbol = 0;
        const std::size_t before = decoder.position;
        const SymbolStep step = decodeSymbol(decoder, models.decoding, c1, c2, symbol);
        if (step == SymbolStep::outsideInterval)
            return fail(FaultKind::corrupt, "payload is not range-coded data: the code value lies outside the coded interval", before - 1);
        if (step == SymbolStep::payloadEnded)
            return fail(FaultKind::corrupt, "payload ends before the end symbol (end symbol missing or payload cut short) after " +
                            number(count) + " symbols",
                        payload.size() - 1);
        if (symbol == endSymbol)
            break;
        if (count == limit)
            return fail(FaultKind::limitExceeded, "block holds more than " + number(limit) + " rank symbols (no end symbol within the limit)",
                        before - 1);
        out[count++] = static_cast<std::uint8_t>(symbol);
    }
    symbols.resize(count);
    if (decoder.position < payload.size())
        return {FaultKind::corrupt, number(payload.size() - decoder.position) + " payload bytes follow the end symbol and its flush bytes",
                decoder.position};
    if (decoder.code != 0)
        return {FaultKind::corrupt, "flush bytes after the end symbol do not close the coded interval", payload.size() - 4};
    return {};
}

std::size_t payloadPositionOfSymbol(ModelSet& models, std::span<const std::uint8_t> payload,
                                    std::size_t symbolIndex) noexcept
{
    if (payload.size() < 4)
        return 0;
    models.decoding.reset();
    Reader decoder(payload);
    std::int32_t c1 = 0;
    std::int32_t c2 = 0;
    for (std::size_t i = 0;; ++i) {
        const std::size_t before = decoder.position;
        std::int32_t symbol = 0;
        if (decodeSymbol(decoder, models.decoding, c1, c2, symbol) != SymbolStep::ok || symbol == endSymbol || i == symbolIndex)
            return before - 1;
    }
}

bool payloadHoldsSymbols(ModelSet& models, std::span<const std::uint8_t> payload,
                         std::span<const std::uint8_t> symbols) noexcept
{
    // decodeRangeBlock's own checks, in the same terms: its default limit,
    // its shortest payload, then each symbol in the interval the decoder
    // would find it in, with the decoder's own models.
    if (symbols.size() > maxRankSymbols || payload.size() < 4)
        return false;
    DecoderModelSet& decoding = models.decoding;
    decoding.reset();
    Reader decoder(payload);
    std::int32_t c1 = 0;
    std::int32_t c2 = 0;
    for (std::size_t i = 0; i <= symbols.size(); ++i) {
        const std::int32_t symbol = i < symbols.size() ? symbols[i] : endSymbol;
        const std::int32_t k = models.classOfSymbol[static_cast<std::size_t>(symbol)];
        if (!holdsClass(decoder, decoding.contextModels[static_cast<std::size_t>(10 * c2 + c1)], k))
            return false;
        c2 = c1;
        c1 = k;
        if (k >= 3 && !holdsOffset(decoder, decoding.offsetModels[static_cast<std::size_t>(k)], symbol - classBase[static_cast<std::size_t>(k)]))
            return false;
    }
    // The end symbol's flush bytes end the payload and close the interval.
    return decoder.position == payload.size() && decoder.code == 0;
}

} // namespace dls2mml
