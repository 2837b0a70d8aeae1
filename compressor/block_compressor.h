// BlockCompressor: cuts the input into slices of 524,288 bytes and writes each
// as one frame of the tbr0 stream (docs/format.md, section 4). A block passes
// the five stages of section 6, handed back and forth between bufferA and
// bufferB, each sized for its stage's worst case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "compressor/block_sort.h"
#include "compressor/frequency_model.h"
#include "compressor/range_coder.h"
#include "compressor/rank_symbols.h"
#include "compressor/run_length_prepass.h"
#include "compressor/stream_format.h"
#include "compressor/work_memory.h"

namespace dls2mml {

// Worst case of one frame for a slice of n bytes (n <= 524,288).
constexpr std::size_t frameBound(std::size_t n)
{
    return frameHeaderSize + encodeBlockBound(rankSymbolsBound(runLengthPrepassBound(n)));
}
static_assert(runLengthPrepassBound(blockSizeForLevel1) == bufferSizeForLevel1);
static_assert(rankSymbolsBound(bufferSizeForLevel1) == maxRankSymbols);
static_assert(encodeBlockBound(maxRankSymbols) == maxPayloadBytes);

// Worst case of a whole stream for an input of n bytes.
constexpr std::size_t compressBound(std::size_t n)
{
    const std::size_t full = n / blockSizeForLevel1;
    const std::size_t rest = n % blockSizeForLevel1;
    return streamHeaderSize + full * frameBound(blockSizeForLevel1) + (rest ? frameBound(rest) : 0);
}

void writeStreamHeader(std::span<std::uint8_t, streamHeaderSize> out, std::uint32_t inputLength) noexcept;

// A work byte buffer that is not cleared when obtained.
struct ByteBuffer {
    WorkArray<std::uint8_t> bytes;
    std::size_t size = 0;
    explicit ByteBuffer(std::size_t n = 0) : bytes(makeWorkArray<std::uint8_t>(n)), size(n) {}
    std::span<std::uint8_t> span() const noexcept { return {bytes.get(), size}; }
};

// Room for a frame: sized for the worst case, of which a frame mostly writes
// a small part. Ordinary pages, not ByteBuffer's large ones, so that only the
// pages written become memory in use (a large page is taken whole at its
// first write: 2 MiB for every frame in flight).
struct FrameBuffer {
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t size = 0;
    explicit FrameBuffer(std::size_t n) : bytes(new std::uint8_t[n]), size(n) {}
    std::span<std::uint8_t> span() const noexcept { return {bytes.get(), size}; }
};

// The first half of a block: run-length pre-pass of the slice into block
// (bufferSize + 1 bytes), then the block sort, whose last column goes to
// lastColumn (bufferSize bytes). Draws from pivotGenerator.
struct SortedBlock {
    std::int32_t length = 0;       // pre-pass length m
    std::int32_t primaryIndex = 0;
    bool ok = false;
};
SortedBlock sortSlice(std::span<const std::uint8_t> slice, std::span<std::uint8_t> block,
                      std::span<std::uint8_t> lastColumn, SortArrays& arrays) noexcept;

// The second half: rank transform into ranks (m bytes), rank symbols into
// symbols (2m bytes), range coder into the frame's payload, then the frame
// fields. frame must hold frameBound(n) bytes. ranks must not overlap the
// others; symbols may reuse lastColumn's storage. Returns the frame length.
std::size_t codeSortedBlock(std::span<const std::uint8_t> lastColumn, const SortedBlock& sorted,
                            std::span<std::uint8_t> ranks, std::span<std::uint8_t> symbols, ModelSet& models,
                            std::span<std::uint8_t> frame, std::size_t* symbolCount = nullptr) noexcept;
// The same from the ranks on: rank symbols, range coder, frame fields.
// symbolCount, where given, receives how many rank symbols were coded.
std::size_t codeRanks(std::span<const std::uint8_t> ranks, const SortedBlock& sorted, std::span<std::uint8_t> symbols,
                      ModelSet& models, std::span<std::uint8_t> frame, std::size_t* symbolCount = nullptr) noexcept;

// The outcome of a compressor call: true when it succeeded; length is what
// compressBlock wrote.
struct CompressStatus {
    enum class Fault {
        none,
        missingArgument, // a null input, output or length
        outOfMemory,     // the work buffers could not be obtained
        badSlice,        // no buffers yet, an empty or oversized slice, or too small a frame
        sortCheckFailed, // the block sort's consistency check failed
    };
    Fault fault = Fault::none;
    std::size_t length = 0;
    bool ok() const noexcept { return fault == Fault::none; }
    explicit operator bool() const noexcept { return ok(); }
};

class BlockCompressor {
public:
    BlockCompressor();
    ~BlockCompressor();
    BlockCompressor(const BlockCompressor&) = delete;
    BlockCompressor& operator=(const BlockCompressor&) = delete;

    // Whole-buffer form: writes the stream to output, which must hold
    // compressBound(inputLength) bytes, and stores the bytes of its frames, the
    // bytes written after the 12-byte header, in framesLength (so the stream's
    // length, as everywhere else, is framesLength + 12).
    CompressStatus compress(const std::uint8_t* input, std::uint8_t* output, std::uint32_t inputLength,
                            std::uint32_t* framesLength);

    // Block form, for callers that stream: allocateBuffers once, then one
    // compressBlock per slice in input order, then release.
    CompressStatus allocateBuffers();
    // Codes one slice (1 .. blockSize bytes) as a frame into frame, which must
    // hold frameBound(slice.size()) bytes; the status's length is the frame's.
    CompressStatus compressBlock(std::span<const std::uint8_t> slice, std::span<std::uint8_t> frame);
    void release();

    std::int8_t level = compressionLevel;
    std::size_t bufferSize = 0;
    std::size_t blockSize = 0;

private:
    ByteBuffer bufferA; // pre-pass output (+1 spare byte), then the ranks
    ByteBuffer bufferB; // last column, then the rank symbols
    std::unique_ptr<SortArrays> sortArrays;
    std::unique_ptr<ModelSet> models;
};

} // namespace dls2mml
