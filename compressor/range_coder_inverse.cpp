// Range decoder: a block's payload back into rank symbols, up to the end
// symbol and the four flush bytes (docs/format.md, section 5.1).
#include <cstdint>

#include "compressor/range_coder.h"

namespace dls2mml {
namespace {

enum class Step { ok, outsideInterval, payloadEnded };

// The coder state seen from the reading side: code is the distance of the
// payload's value from the bottom of the current interval, always below range.
class RangeDecoder {
public:
    explicit RangeDecoder(std::span<const std::uint8_t> payload) noexcept : payload_(payload)
    {
        for (int i = 0; i < 4; ++i)
            code_ = (code_ << 8) | payload_[position_++];
    }

    // Decodes one index of a model of n symbols (its symbolCount) and counts it.
    template <std::int32_t n>
    Step decodeIndex(FrequencyModel& model, std::int32_t& s) noexcept
    {
        const std::uint32_t total = model.cum[n];
        const std::uint32_t r = divideByModelTotal(range_, model);
        const std::uint32_t value = code_ / r;
        // The coder never uses the part of the range above r * total.
        if (value >= total)
            return Step::outsideInterval;
        // The index whose interval holds value: every cum above value belongs
        // to a later index, and those are the counts the update raises.
        const std::int32_t index = n - addOneAbove<n>(model, value);
        code_ -= r * model.cum[static_cast<std::size_t>(index)];
        range_ = r * model.freq[static_cast<std::size_t>(index)];
        finishDecodedUpdate<n>(model, index);
        s = index;
        return renormalise();
    }

    // Brings the range back to 2^24 or more, a payload byte per factor 2^8.
    // A step leaves at least r >= 2^24 / 32767 > 2^8, so at most two bytes
    // move in; while two remain they are taken without a branch on how many.
    Step renormalise() noexcept
    {
        if (position_ + 2 <= payload_.size()) {
            const std::uint32_t bytes = std::uint32_t{range_ < renormaliseBelow} + std::uint32_t{range_ < (renormaliseBelow >> 8)};
            const std::uint32_t shift = 8 * bytes;
            const std::uint64_t next = std::uint64_t{payload_[position_]} << 8 | payload_[position_ + 1];
            code_ = static_cast<std::uint32_t>(std::uint64_t{code_} << shift | next >> (16 - shift));
            range_ = static_cast<std::uint32_t>(std::uint64_t{range_} << shift);
            position_ += bytes;
            return Step::ok;
        }
        while (range_ < renormaliseBelow) {
            if (position_ >= payload_.size())
                return Step::payloadEnded;
            code_ = (code_ << 8) | payload_[position_++];
            range_ <<= 8;
        }
        return Step::ok;
    }

    std::size_t position() const noexcept { return position_; }
    std::uint32_t code() const noexcept { return code_; }

private:
    std::span<const std::uint8_t> payload_;
    std::size_t position_ = 0;
    std::uint32_t code_ = 0;
    std::uint32_t range_ = initialRange;
};

enum class SymbolStep { ok, outsideInterval, payloadEnded };

// Decodes one symbol (0..256) and moves the class context on.
SymbolStep decodeSymbol(RangeDecoder& decoder, ModelSet& models, std::int32_t& c1, std::int32_t& c2,
                        std::int32_t& symbol) noexcept
{
    std::int32_t k = 0;
    Step step = decoder.decodeIndex<contextModelSymbols>(models.contextModels[static_cast<std::size_t>(10 * c2 + c1)], k);
    if (step == Step::ok && k >= 3) {
        std::int32_t offset = 0;
        FrequencyModel& model = models.offsetModels[static_cast<std::size_t>(k)];
        switch (k) { // the class fixes the offset model's size
        case 3: step = decoder.decodeIndex<classSize[3]>(model, offset); break;
        case 4: step = decoder.decodeIndex<classSize[4]>(model, offset); break;
        case 5: step = decoder.decodeIndex<classSize[5]>(model, offset); break;
        case 6: step = decoder.decodeIndex<classSize[6]>(model, offset); break;
        case 7: step = decoder.decodeIndex<classSize[7]>(model, offset); break;
        case 8: step = decoder.decodeIndex<classSize[8]>(model, offset); break;
        default: step = decoder.decodeIndex<classSize[9]>(model, offset); break;
        }
        symbol = classBase[static_cast<std::size_t>(k)] + offset;
    } else {
        symbol = k;
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

std::string number(std::size_t value) { return std::to_string(value); }

} // namespace

StageFault decodeRangeBlock(ModelSet& models, std::span<const std::uint8_t> payload, std::vector<std::uint8_t>& symbols,
                            std::size_t limit)
{
    symbols.clear();
    if (payload.size() < 4)
        return {FaultKind::corrupt, "payload of " + number(payload.size()) + " bytes is shorter than the 4 flush bytes every coded block ends with", 0};
    models.resetModels();
    RangeDecoder decoder(payload);
    std::int32_t c1 = 0;
    std::int32_t c2 = 0;
    for (;;) {
        std::int32_t symbol = 0;
        const std::size_t before = decoder.position();
        const SymbolStep step = decodeSymbol(decoder, models, c1, c2, symbol);
        if (step == SymbolStep::outsideInterval)
            return {FaultKind::corrupt, "payload is not range-coded data: the code value lies outside the coded interval", before - 1};
        if (step == SymbolStep::payloadEnded)
            return {FaultKind::corrupt, "payload ends before the end symbol (end symbol missing or payload cut short) after " +
                        number(symbols.size()) + " symbols",
                    payload.size() - 1};
        if (symbol == endSymbol)
            break;
        if (symbols.size() >= limit)
            return {FaultKind::limitExceeded, "block holds more than " + number(limit) + " rank symbols (no end symbol within the limit)",
                    before - 1};
        symbols.push_back(static_cast<std::uint8_t>(symbol));
    }
    if (decoder.position() < payload.size())
        return {FaultKind::corrupt, number(payload.size() - decoder.position()) + " payload bytes follow the end symbol and its flush bytes",
                decoder.position()};
    if (decoder.code() != 0)
        return {FaultKind::corrupt, "flush bytes after the end symbol do not close the coded interval", payload.size() - 4};
    return {};
}

std::size_t payloadPositionOfSymbol(ModelSet& models, std::span<const std::uint8_t> payload,
                                    std::size_t symbolIndex) noexcept
{
    if (payload.size() < 4)
        return 0;
    models.resetModels();
    RangeDecoder decoder(payload);
    std::int32_t c1 = 0;
    std::int32_t c2 = 0;
    for (std::size_t i = 0;; ++i) {
        const std::size_t before = decoder.position();
        std::int32_t symbol = 0;
        if (decodeSymbol(decoder, models, c1, c2, symbol) != SymbolStep::ok || symbol == endSymbol || i == symbolIndex)
            return before - 1;
    }
}

} // namespace dls2mml
