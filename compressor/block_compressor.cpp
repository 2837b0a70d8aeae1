#include "compressor/block_compressor.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "compressor/range_coder.h"
#include "compressor/rank_symbols.h"
#include "compressor/rank_transform.h"
#include "compressor/run_length_prepass.h"

namespace dls2mml {

void writeStreamHeader(std::span<std::uint8_t, streamHeaderSize> out, std::uint32_t inputLength) noexcept
{
    std::fill(out.begin(), out.end(), std::uint8_t{0});
    std::memcpy(out.data(), streamMagic, sizeof streamMagic);
    out[headerLevelOffset] = static_cast<std::uint8_t>(compressionLevel);
    putLittleEndian32(out.data() + headerLengthOffset, inputLength);
}

BlockCompressor::BlockCompressor() = default;
BlockCompressor::~BlockCompressor() = default;

SortedBlock sortSlice(std::span<const std::uint8_t> slice, std::span<std::uint8_t> block,
                      std::span<std::uint8_t> lastColumn, SortArrays& arrays) noexcept
{
    SortedBlock sorted;
    sorted.length = runLengthPrepass(block, slice);
    const SortResult result = sortBlock(block, sorted.length, lastColumn, arrays);
    sorted.primaryIndex = result.primaryIndex;
    sorted.ok = result.ok;
    return sorted;
}

std::size_t codeSortedBlock(std::span<const std::uint8_t> lastColumn, const SortedBlock& sorted,
                            std::span<std::uint8_t> ranks, std::span<std::uint8_t> symbols, ModelSet& models,
                            std::span<std::uint8_t> frame, std::size_t* symbolCount) noexcept
{
    const auto m = static_cast<std::size_t>(sorted.length);
    rankTransform(ranks, lastColumn.first(m));
    return codeRanks(ranks, sorted, symbols, models, frame, symbolCount);
}

std::size_t codeRanks(std::span<const std::uint8_t> ranks, const SortedBlock& sorted, std::span<std::uint8_t> symbols,
                      ModelSet& models, std::span<std::uint8_t> frame, std::size_t* symbolCount) noexcept
{
    const auto m = static_cast<std::size_t>(sorted.length);
    const auto k = static_cast<std::size_t>(codeRankSymbols(symbols, ranks.first(m)));
    if (symbolCount)
        *symbolCount = k;
    const std::int32_t c = encodeBlock(models, frame.subspan(frameHeaderSize), symbols.first(k));
    putBigEndian24(frame.data() + framePrimaryIndexOffset, static_cast<std::uint32_t>(sorted.primaryIndex));
    putBigEndian24(frame.data() + framePayloadLengthOffset, static_cast<std::uint32_t>(c));
    return frameHeaderSize + static_cast<std::size_t>(c);
}

CompressStatus BlockCompressor::allocateBuffers()
{
    blockSize = static_cast<std::size_t>(level) * blockSizeForLevel1;
    bufferSize = static_cast<std::size_t>(level) * bufferSizeForLevel1;
    try {
        // bufferA holds the pre-passed block and its spare byte, then the
        // ranks; bufferB the last column, then up to two symbols per rank.
        // The range coder writes straight into the caller's frame.
        bufferB = ByteBuffer(rankSymbolsBound(bufferSize));
        bufferA = ByteBuffer(bufferSize + 1);
        sortArrays = std::make_unique<SortArrays>(bufferSize);
        models = std::make_unique<ModelSet>();
    } catch (const std::bad_alloc&) {
        release();
        return {CompressStatus::Fault::outOfMemory};
    }
    return {};
}

void BlockCompressor::release()
{
    bufferA = ByteBuffer();
    bufferB = ByteBuffer();
    sortArrays.reset();
    models.reset();
}

CompressStatus BlockCompressor::compressBlock(std::span<const std::uint8_t> slice, std::span<std::uint8_t> frame)
{
    if (!models || slice.empty() || slice.size() > blockSize || frame.size() < frameBound(slice.size()))
        return {CompressStatus::Fault::badSlice};
    const SortedBlock sorted = sortSlice(slice, bufferA.span(), bufferB.span(), *sortArrays);
    if (!sorted.ok)
        return {CompressStatus::Fault::sortCheckFailed};
    return {CompressStatus::Fault::none,
            codeSortedBlock(bufferB.span(), sorted, bufferA.span(), bufferB.span(), *models, frame)};
}

CompressStatus BlockCompressor::compress(const std::uint8_t* input, std::uint8_t* output, std::uint32_t inputLength,
                                         std::uint32_t* framesLength)
{
    if (!input || !output || !framesLength)
        return {CompressStatus::Fault::missingArgument};
    if (CompressStatus status = allocateBuffers(); !status)
        return status;
    std::uint8_t* cursor = output + streamHeaderSize;
    std::size_t remaining = inputLength;
    while (remaining != 0) {
        const std::size_t n = std::min(blockSize, remaining);
        const CompressStatus block = compressBlock(std::span(input, n), std::span(cursor, frameBound(n)));
        if (!block) {
            release();
            return block;
        }
        input += n;
        remaining -= n;
        cursor += block.length;
    }
    writeStreamHeader(std::span<std::uint8_t, streamHeaderSize>(output, streamHeaderSize), inputLength);
    *framesLength = static_cast<std::uint32_t>(cursor - output - streamHeaderSize);
    release();
    return {};
}

} // namespace dls2mml
