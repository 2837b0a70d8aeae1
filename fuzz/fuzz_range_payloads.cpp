// Arbitrary bytes as one to three range-coded payloads: decoded together they
// give exactly what each gives decoded alone, or a fault where any alone has
// one. Input: a byte whose remainder by the most payloads decoded together
// (3) is the number of payloads less one, a 16-bit little-endian length for
// each payload but the last, then the payloads one after the other (the
// last takes what is left).
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "compressor/interleaved_range_decoder.h"
#include "compressor/range_coder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace dls2mml;
    if (size == 0)
        return 0;
    const std::size_t lanes = 1 + data[0] % InterleavedRangeDecoder::maxLanes;
    std::size_t at = 1;
    std::array<InterleavedRangeDecoder::Payload, InterleavedRangeDecoder::maxLanes> payloads;
    std::array<std::size_t, InterleavedRangeDecoder::maxLanes> lengths{};
    for (std::size_t i = 0; i + 1 < lanes; ++i) {
        const std::size_t low = at < size ? data[at] : 0;
        const std::size_t high = at + 1 < size ? data[at + 1] : 0;
        lengths[i] = low | high << 8;
        at += 2;
    }
    at = std::min(at, size);
    for (std::size_t i = 0; i < lanes; ++i) {
        const std::size_t length = i + 1 < lanes ? std::min(lengths[i], size - at) : size - at;
        payloads[i] = {data + at, length};
        at += length;
    }
    // A small limit keeps long runs of symbols quick to reach.
    const std::size_t limit = 1u << 16;
    static auto models = std::make_unique<ModelSet>();
    static auto decoder = std::make_unique<InterleavedRangeDecoder>();
    std::array<ReusedBytes, InterleavedRangeDecoder::maxLanes> alone;
    bool allSound = true;
    for (std::size_t i = 0; i < lanes; ++i)
        allSound = !decodeRangeBlock(*models, payloads[i], alone[i], limit).failed() && allSound;
    std::array<ReusedBytes, InterleavedRangeDecoder::maxLanes> together;
    std::array<ReusedBytes*, InterleavedRangeDecoder::maxLanes> out{};
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = &together[i];
    const bool sound = decoder->decode(std::span(payloads).first(lanes), std::span(out).first(lanes), limit);
    // Without the vector instructions nothing is decoded together.
    if (sound != (allSound && InterleavedRangeDecoder::available()))
        std::abort();
    for (std::size_t i = 0; sound && i < lanes; ++i)
        if (together[i] != alone[i])
            std::abort();
    return 0;
}
