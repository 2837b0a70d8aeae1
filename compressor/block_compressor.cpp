#include "compressor/block_compressor.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "compressor/range_coder.h"
#include "compressor/rank_symbols.h"
#include "compressor/rank_transform.h"
#include "compressor/run_length_prepass.h"

namespace dls2mml {
namespace {

void putBigEndian24(std::uint8_t* out, std::uint32_t value)
{
    out[0] = static_cast<std::uint8_t>(value >> 16);
    out[1] = static_cast<std::uint8_t>(value >> 8);
    out[2] = static_cast<std::uint8_t>(value);
}

} // namespace

void writeStreamHeader(std::span<std::uint8_t, streamHeaderSize> out, std::uint32_t inputLength) noexcept
{
    std::fill(out.begin(), out.end(), std::uint8_t{0});
    std::memcpy(out.data(), "tbr0", 4);
    out[4] = static_cast<std::uint8_t>(compressionLevel);
    for (int i = 0; i < 4; ++i)
        out[8 + i] = static_cast<std::uint8_t>(inputLength >> (8 * i));
}

BlockCompressor::BlockCompressor() = default;
BlockCompressor::~BlockCompressor() = default;

bool BlockCompressor::allocateBuffers()
{
    blockSize = static_cast<std::size_t>(level) * blockSizeForLevel1;
    bufferSize = static_cast<std::size_t>(level) * bufferSizeForLevel1;
    try {
        // Each buffer holds the largest thing any stage writes into it: bufferA
        // the sorted block plus its spare byte and then the range-coded payload
        // of up to 2 x bufferSize symbols; bufferB the raw slice, the last
        // column and then up to 2 x bufferSize rank symbols.
        bufferB.resize(rankSymbolsBound(bufferSize));
        bufferA.resize(std::max(bufferSize + 1, encodeBlockBound(rankSymbolsBound(bufferSize))));
        sortArrays = std::make_unique<SortArrays>(bufferSize);
        models = std::make_unique<ModelSet>();
    } catch (const std::bad_alloc&) {
        errorFlag = 1;
    }
    if (errorFlag) {
        release();
        return false;
    }
    return true;
}

void BlockCompressor::release()
{
    bufferA = {};
    bufferB = {};
    sortArrays.reset();
    models.reset();
    errorFlag = 0;
}

std::int64_t BlockCompressor::compressBlock(std::span<const std::uint8_t> slice, std::span<std::uint8_t> frame)
{
    if (!models || slice.empty() || slice.size() > blockSize || frame.size() < frameBound(slice.size())) {
        errorFlag = 1;
        return -1;
    }
    std::copy(slice.begin(), slice.end(), bufferB.begin());
    const std::int32_t m = runLengthPrepass(bufferA, std::span(bufferB).first(slice.size()));
    const SortResult sorted = sortBlock(bufferA, m, bufferB, *sortArrays);
    if (!sorted.ok) {
        errorFlag = 1;
        return -1;
    }
    const auto mu = static_cast<std::size_t>(m);
    rankTransform(bufferA, std::span<const std::uint8_t>(bufferB).first(mu));
    const std::int32_t k = codeRankSymbols(bufferB, std::span<const std::uint8_t>(bufferA).first(mu));
    std::uint8_t* payload = frame.data() + frameHeaderSize;
    const std::int32_t c = encodeBlock(*models, std::span(payload, frame.size() - frameHeaderSize),
                                       std::span<const std::uint8_t>(bufferB).first(static_cast<std::size_t>(k)));
    putBigEndian24(frame.data(), static_cast<std::uint32_t>(sorted.primaryIndex));
    putBigEndian24(frame.data() + 3, static_cast<std::uint32_t>(c));
    return static_cast<std::int64_t>(frameHeaderSize) + c;
}

bool BlockCompressor::compress(const std::uint8_t* input, std::uint8_t* output, std::uint32_t inputLength,
                               std::uint32_t* streamLength)
{
    if (!input || !output || !streamLength)
        return false;
    if (!allocateBuffers())
        return false;
    std::uint8_t* cursor = output + streamHeaderSize;
    std::size_t remaining = inputLength;
    while (remaining != 0) {
        const std::size_t n = std::min(blockSize, remaining);
        const std::int64_t written = compressBlock(std::span(input, n), std::span(cursor, frameBound(n)));
        if (written < 0) {
            release();
            return false;
        }
        input += n;
        remaining -= n;
        cursor += written;
    }
    writeStreamHeader(std::span<std::uint8_t, streamHeaderSize>(output, streamHeaderSize), inputLength);
    *streamLength = static_cast<std::uint32_t>(cursor - output - streamHeaderSize);
    release();
    return true;
}

} // namespace dls2mml
