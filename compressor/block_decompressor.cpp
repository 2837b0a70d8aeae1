#include "compressor/block_decompressor.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

#include "compressor/block_pipeline.h"
#include "compressor/block_sort.h"
#include "compressor/interleaved_range_decoder.h"
#include "compressor/range_coder.h"
#include "compressor/rank_symbols.h"
#include "compressor/rank_transform.h"
#include "compressor/run_length_prepass.h"
#include "compressor/stream_format.h"
#include "compressor/frequency_model.h"

namespace dls2mml {
namespace {

std::string num(std::uint64_t value) { return std::to_string(value); }

} // namespace

std::string DecodeStatus::describe() const
{
    if (ok())
        return {};
    return "stream byte " + num(offset) + ": " + message;
}

// The per-thread buffers. Each takes room for a block's most once (only the
// pages written become memory in use) and is kept for the next block.
struct BlockDecompressor::Scratch {
    ModelSet models;
    std::unique_ptr<InterleavedRangeDecoder> interleaved; // made for the first frames decoded together
    std::array<ReusedBytes, InterleavedRangeDecoder::maxLanes - 1> moreSymbols; // theirs, after the first's
    ReusedBytes symbols;
    ReusedBytes ranks;
    ReusedBytes lastColumn;
    ReusedBytes prepass;
    ReusedWords next;
};

// One frame on its way: what decoding it needs to know of the stream, its
// payload, and then its block or its fault.
struct BlockDecompressor::FrameJob {
    std::uint64_t index = 0;         // frames before it
    std::uint64_t frameOffset = 0;
    std::uint64_t endOffset = 0;     // stream bytes read once its payload is complete
    std::uint32_t primaryIndex = 0;
    std::uint32_t declaredLength = 0;
    bool alone = false;              // decoded on its own: its place in a stream is not known
    const FrameHints* hints = nullptr; // what the coder knew of it, to be confirmed
    std::vector<std::uint8_t> payload;
    ReusedBytes block;
    DecodeStatus fault;
};

namespace {

// Sets the frame's fault, named with the block and where its frame stands.
void failJob(BlockDecompressor::FrameJob& job, FaultKind kind, std::string message, std::uint64_t offset)
{
    const std::string where = job.alone ? "" : " (frame at stream byte " + num(job.frameOffset) + ")";
    job.fault = DecodeStatus{kind, "block " + num(job.index + 1) + where + ": " + std::move(message), offset};
}

// The stages after the range decoder, from the payload's symbols; the block
// stays in job.block, or job.fault is set. A block must decode to the length
// that every frame before it leaves due (each but the last holds exactly one
// slice): should one before it be wrong, its own fault comes first.
void decodeFromSymbols(BlockDecompressor::FrameJob& job, std::span<const std::uint8_t> payload,
                       std::span<const std::uint8_t> symbols, BlockDecompressor::Scratch& w)
{
    const std::uint64_t frameOffset = job.frameOffset;
    const std::uint64_t payloadStart = frameOffset + frameHeaderSize;
    auto fail = [&](FaultKind kind, std::string message, std::uint64_t offset) { failJob(job, kind, std::move(message), offset); };
    // Memory lent with the hints where it is large enough, else our own.
    const std::span<std::uint8_t> spareBytes = job.hints ? job.hints->spareBytes : std::span<std::uint8_t>{};
    const std::span<std::uint32_t> spareWords = job.hints ? job.hints->spareWords : std::span<std::uint32_t>{};
    const std::size_t columnRoom = bufferSizeForLevel1 + rankColumnRoom;
    const bool bytesLent = spareBytes.size() >= columnRoom + bufferSizeForLevel1;
    const std::span<std::uint8_t> column = bytesLent ? spareBytes.first(columnRoom) : grown(w.lastColumn, columnRoom, columnRoom);

    // The ranks go straight into the last column where the list is kept in
    // vector registers; otherwise, or on a fault, one step after the other,
    // which names the fault.
    std::size_t rankCount = 0;
    const bool columnDone = undoRankSymbolsAndTransform(column, symbols, bufferSizeForLevel1, rankCount);
    StageFault fault;
    if (!columnDone) {
        fault = decodeRankSymbols(symbols, w.ranks);
        if (fault.failed())
            return fail(fault.kind, fault.message + " (rank symbol " + num(fault.position) + ")",
                        payloadStart + payloadPositionOfSymbol(w.models, payload, fault.position));
        rankCount = w.ranks.size();
    }
    if (rankCount == 0)
        return fail(FaultKind::corrupt, "block codes no data; every block frame holds at least one byte", payloadStart);
    if (job.primaryIndex >= rankCount)
        return fail(FaultKind::corrupt, "primary index " + num(job.primaryIndex) + " is not below the block length " + num(rankCount),
                    frameOffset);

    const bool rowsKnown = job.hints && job.hints->rowsKnown;
    const std::size_t walkWords = rankCount + (rowsKnown ? 0 : pieceWorkWords(rankCount));
    const std::span<std::uint8_t> lastColumn = column.first(rankCount);
    const std::span<std::uint8_t> prepass =
        bytesLent ? spareBytes.subspan(rankCount, rankCount) : grown(w.prepass, rankCount, bufferSizeForLevel1);
    const std::span<std::uint32_t> next = spareWords.size() >= walkWords
                                              ? spareWords.first(walkWords)
                                              : grown(w.next, walkWords, bufferSizeForLevel1 + pieceWorkWords(bufferSizeForLevel1));
    if (!columnDone)
        undoRankTransform(lastColumn, std::span<const std::uint8_t>(w.ranks.data(), rankCount));
    fault = rowsKnown ? undoBlockSortFrom(prepass, lastColumn, job.primaryIndex, next, job.hints->rows)
                      : undoBlockSort(prepass, lastColumn, job.primaryIndex, next);
    if (fault.failed())
        return fail(fault.kind, fault.message + " (row " + num(fault.position) + ")", frameOffset);

    fault = expandRuns(prepass, job.block);
    if (fault.failed())
        return fail(fault.kind, fault.message + " (pre-pass byte " + num(fault.position) + ")", payloadStart);
    const std::size_t blockLength = job.block.size();

    const std::uint64_t decodedBefore = job.index * blockSizeForLevel1;
    const std::uint64_t left = job.declaredLength - std::min<std::uint64_t>(decodedBefore, job.declaredLength);
    const std::uint64_t expected = std::min<std::uint64_t>(left, blockSizeForLevel1);
    if (blockLength > left)
        return fail(FaultKind::lengthMismatch, "block decodes to " + num(blockLength) + " bytes, but the header's length " +
                        num(job.declaredLength) + " leaves only " + num(left) +
                        ": total decoded length differs from the header's",
                    frameOffset);
    if (blockLength != expected)
        return fail(FaultKind::lengthMismatch, "block decodes to " + num(blockLength) + " bytes where " + num(expected) +
                        " are due (every block but the last holds " + num(blockSizeForLevel1) +
                        "; the header's length is " + num(job.declaredLength) +
                        "): total decoded length differs from the header's",
                    frameOffset);
}

// Every stage of one frame (its payload in job.payload, or where the caller
// holds it).
void decodeJob(BlockDecompressor::FrameJob& job, std::span<const std::uint8_t> payload, BlockDecompressor::Scratch& w)
{
    // Symbols the payload is confirmed to hold need not be decoded; any doubt
    // and the payload is decoded as it stands, faults and all.
    if (job.hints && job.hints->symbolsKnown && payloadHoldsSymbols(w.models, payload, job.hints->symbols))
        return decodeFromSymbols(job, payload, job.hints->symbols, w);
    const StageFault fault = decodeRangeBlock(w.models, payload, w.symbols);
    if (fault.failed())
        return failJob(job, fault.kind, fault.message, job.frameOffset + frameHeaderSize + fault.position);
    decodeFromSymbols(job, payload, w.symbols, w);
}

// The payloads of frames taken together range-decoded at once, into
// w.symbols and w.moreSymbols: true when every one is sound.
bool decodeSymbolsTogether(std::span<BlockDecompressor::FrameJob* const> jobs, BlockDecompressor::Scratch& w)
{
    std::array<InterleavedRangeDecoder::Payload, InterleavedRangeDecoder::maxLanes> payloads;
    std::array<ReusedBytes*, InterleavedRangeDecoder::maxLanes> out{&w.symbols};
    for (std::size_t i = 1; i < out.size(); ++i)
        out[i] = &w.moreSymbols[i - 1];
    if (jobs.size() > payloads.size())
        return false;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (jobs[i]->hints)
            return false;
        payloads[i] = jobs[i]->payload;
    }
    if (!w.interleaved)
        w.interleaved = std::make_unique<InterleavedRangeDecoder>();
    return w.interleaved->decode(std::span(payloads).first(jobs.size()), std::span(out).first(jobs.size()));
}

} // namespace

BlockDecompressor::BlockDecompressor(Sink sink, unsigned threads)
    : sink_(std::move(sink)), threads_(threadsToRun(threads)),
      together_(InterleavedRangeDecoder::available() ? InterleavedRangeDecoder::maxLanes : 1)
{
    // One thread with frames decoded together still goes through the pool,
    // which then starts no thread and runs each batch on the feeding thread.
    if (together_ > 1)
        pool_ = std::make_unique<Pool>(threads_, &runJob, &runJobs, together_);
    else if (threads_ > 1)
        pool_ = std::make_unique<Pool>(threads_, &runJob);
}

BlockDecompressor::~BlockDecompressor() = default;

DecodeStatus BlockDecompressor::record(FaultKind kind, std::string message, std::uint64_t offset)
{
    state_ = State::failed;
    fault_ = DecodeStatus{kind, std::move(message), offset};
    payload_.clear();
    payload_.shrink_to_fit();
    return fault_;
}

// A fault met while reading the stream stands after every frame already
// complete: any fault of theirs comes first, and their blocks go out before.
DecodeStatus BlockDecompressor::fail(FaultKind kind, std::string message, std::uint64_t offset)
{
    if (DecodeStatus earlier = settle(); !earlier.ok())
        return earlier;
    return record(kind, std::move(message), offset);
}

DecodeStatus BlockDecompressor::checkHeaderByte(std::size_t index, std::uint8_t byte)
{
    if (index < headerLevelOffset) {
        if (byte != static_cast<std::uint8_t>(streamMagic[index]))
            return fail(FaultKind::badMagic, "wrong magic: header byte " + num(index) + " is " + hexByte(byte) + " where \"tbr0\" has '" +
                            std::string(1, streamMagic[index]) + "'",
                        index);
    } else if (index == headerLevelOffset) {
        if (byte != static_cast<std::uint8_t>(compressionLevel))
            return fail(FaultKind::badHeader, "unsupported level " + num(byte) + " in header byte 4 (only level 1 exists)", index);
    } else if (index < headerLengthOffset) {
        if (byte != 0)
            return fail(FaultKind::badHeader, "reserved header byte " + num(index) + " is " + hexByte(byte) + "; reserved bytes must be zero", index);
    }
    return {};
}

namespace {

// The fields of a frame header that can be judged before the payload: the
// fault (offset counted from the frame's start) or none.
DecodeStatus checkFrameHeader(std::uint32_t primaryIndex, std::uint32_t payloadLength, const std::string& frame)
{
    if (payloadLength < flushBytes)
        return {FaultKind::corrupt, frame + "payload length " + num(payloadLength) + " is below the 4 flush bytes every coded block ends with",
                framePayloadLengthOffset};
    if (payloadLength > maxPayloadBytes)
        return {FaultKind::limitExceeded, frame + "payload length " + num(payloadLength) + " exceeds the largest a block can have (" +
                    num(maxPayloadBytes) + ")",
                framePayloadLengthOffset};
    if (primaryIndex >= bufferSizeForLevel1)
        return {FaultKind::limitExceeded, frame + "primary index " + num(primaryIndex) + " is not below the block length (at most " +
                    num(bufferSizeForLevel1) + ")",
                0};
    return {};
}

} // namespace

DecodeStatus BlockDecompressor::startFrame()
{
    primaryIndex_ = getBigEndian24(frameHeader_ + framePrimaryIndexOffset);
    payloadLength_ = getBigEndian24(frameHeader_ + framePayloadLengthOffset);
    const std::string frame = "block " + num(framesRead_ + 1) + " (frame at stream byte " + num(frameOffset_) + "): ";
    if (DecodeStatus fault = checkFrameHeader(primaryIndex_, payloadLength_, frame); !fault.ok())
        return fail(fault.kind, std::move(fault.message), frameOffset_ + fault.offset);
    payload_.clear();
    state_ = State::payload;
    return {};
}

// The payload is complete: the frame goes to a thread (or is decoded here at
// once with one thread), and reading goes on as if it were sound.
DecodeStatus BlockDecompressor::frameComplete()
{
    // A job handed on before is used again, buffers and all: the payload
    // read next goes into the buffer a frame before it had grown.
    std::unique_ptr<FrameJob> job = pool_ ? pool_->spare() : soloJob_ ? std::move(soloJob_) : std::make_unique<FrameJob>();
    job->fault = {};
    job->index = framesRead_;
    job->frameOffset = frameOffset_;
    job->endOffset = consumed_;
    job->primaryIndex = primaryIndex_;
    job->declaredLength = declaredLength_;
    std::swap(job->payload, payload_);
    payload_.clear();
    ++framesRead_;
    const bool last = framesRead_ * blockSizeForLevel1 >= declaredLength_;
    state_ = last ? State::done : State::frameHeader;
    frameHeaderFilled_ = 0;
    frameOffset_ = consumed_;

    if (!pool_) {
        if (!scratch_)
            scratch_ = std::make_unique<Scratch>();
        decodeJob(*job, job->payload, *scratch_);
        const DecodeStatus status = deliver(*job);
        soloJob_ = std::move(job);
        return status;
    }
    pool_->submit(std::move(job));
    // Hand on what is ready; wait (helping) only while too many are in flight:
    // two frames a thread, or twice as many as a thread takes together, so
    // that a thread that finishes finds as many queued. On one thread, the
    // frames of a batch are decoded as soon as they are all read.
    return handOn(threads_ == 1 ? together_ : 2 * together_ * static_cast<std::size_t>(threads_));
}

// Hands on the decoded frames at the front, in stream order, until fewer
// than limit are in flight (0: none).
DecodeStatus BlockDecompressor::handOn(std::size_t limit)
{
    DecodeStatus status;
    pool_->handOn(limit, [&](FrameJob& job) {
        status = deliver(job);
        return status.ok();
    });
    return status;
}

void BlockDecompressor::runJob(FrameJob& job, Scratch& scratch)
{
    try {
        decodeJob(job, job.payload, scratch);
    } catch (const std::bad_alloc&) {
        job.fault = DecodeStatus{FaultKind::outOfMemory, "out of memory", job.frameOffset};
    }
}

// Should any payload have a fault in the range decoder, each frame is
// decoded on its own, so that its fault is named exactly as alone.
void BlockDecompressor::runJobs(std::span<FrameJob* const> jobs, Scratch& scratch)
{
    bool together = false;
    try {
        together = decodeSymbolsTogether(jobs, scratch);
    } catch (const std::bad_alloc&) {
        together = false;
    }
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        FrameJob& job = *jobs[i];
        if (!together) {
            runJob(job, scratch);
            continue;
        }
        try {
            decodeFromSymbols(job, job.payload, i == 0 ? scratch.symbols : scratch.moreSymbols[i - 1], scratch);
        } catch (const std::bad_alloc&) {
            job.fault = DecodeStatus{FaultKind::outOfMemory, "out of memory", job.frameOffset};
        }
    }
}

DecodeStatus BlockDecompressor::deliver(FrameJob& job)
{
    if (!job.fault.ok()) {
        abandonFrames();
        return record(job.fault.kind, job.fault.message, job.fault.offset);
    }
    ++blocks_;
    decoded_ += job.block.size();
    if (sink_ && !sink_(std::span<const std::uint8_t>(job.block.data(), job.block.size()))) {
        abandonFrames();
        return record(FaultKind::outputRefused, "output refused", job.endOffset);
    }
    return {};
}

// Decodes and hands on every frame in flight; the first fault among them.
DecodeStatus BlockDecompressor::settle()
{
    if (state_ == State::failed)
        return fault_;
    if (!pool_)
        return {};
    return handOn(0);
}

// Drops the frames after a fault: none is started any more, and those a
// thread is decoding are waited for, since they use their own buffers.
void BlockDecompressor::abandonFrames()
{
    if (pool_)
        pool_->abandon();
}

DecodeStatus BlockDecompressor::feed(std::span<const std::uint8_t> bytes)
{
    std::size_t i = 0;
    while (i < bytes.size()) {
        switch (state_) {
        case State::failed:
            return fault_;
        case State::header: {
            const std::uint8_t byte = bytes[i];
            if (DecodeStatus status = checkHeaderByte(headerFilled_, byte); !status.ok())
                return status;
            header_[headerFilled_++] = byte;
            ++i;
            ++consumed_;
            if (headerFilled_ == streamHeaderSize) {
                declaredLength_ = getLittleEndian32(header_ + headerLengthOffset);
                state_ = declaredLength_ == 0 ? State::done : State::frameHeader;
                frameOffset_ = consumed_;
            }
            break;
        }
        case State::frameHeader: {
            const std::size_t take = std::min(bytes.size() - i, frameHeaderSize - frameHeaderFilled_);
            std::memcpy(frameHeader_ + frameHeaderFilled_, bytes.data() + i, take);
            frameHeaderFilled_ += take;
            i += take;
            consumed_ += take;
            if (frameHeaderFilled_ == frameHeaderSize)
                if (DecodeStatus status = startFrame(); !status.ok())
                    return status;
            break;
        }
        case State::payload: {
            const std::size_t take = std::min<std::size_t>(bytes.size() - i, payloadLength_ - payload_.size());
            payload_.insert(payload_.end(), bytes.begin() + static_cast<std::ptrdiff_t>(i),
                            bytes.begin() + static_cast<std::ptrdiff_t>(i + take));
            i += take;
            consumed_ += take;
            if (payload_.size() == payloadLength_)
                if (DecodeStatus status = frameComplete(); !status.ok())
                    return status;
            break;
        }
        case State::done:
            return fail(FaultKind::trailingData, "trailing bytes after the last frame: the header's length " + num(declaredLength_) +
                            " is already decoded",
                        consumed_);
        }
    }
    return state_ == State::failed ? fault_ : DecodeStatus{};
}

DecodeStatus BlockDecompressor::finish()
{
    if (DecodeStatus earlier = settle(); !earlier.ok())
        return earlier;
    switch (state_) {
    case State::failed:
        return fault_;
    case State::done:
        return {};
    case State::header:
        if (headerFilled_ == 0)
            return fail(FaultKind::truncated, "stream is empty: the 12-byte header is missing", 0);
        return fail(FaultKind::truncated, "truncated header: the stream ends after " + num(headerFilled_) + " of its 12 header bytes", consumed_);
    case State::frameHeader:
        if (frameHeaderFilled_ == 0)
            return fail(FaultKind::truncated, "stream ends after " + num(blocks_) + " blocks with " + num(decoded_) + " of the " +
                            num(declaredLength_) +
                            " bytes the header declares: total decoded length differs from the header's (a block frame is missing)",
                        consumed_);
        return fail(FaultKind::truncated, "truncated frame header: block " + num(blocks_ + 1) + " has only " + num(frameHeaderFilled_) +
                        " of its 6 frame bytes",
                    frameOffset_);
    case State::payload:
        return fail(FaultKind::truncated, "payload of block " + num(blocks_ + 1) + " runs past the end of the stream: its frame (at stream byte " +
                        num(frameOffset_) + ") declares " + num(payloadLength_) + " bytes, only " +
                        num(payload_.size()) + " follow",
                    frameOffset_ + framePayloadLengthOffset);
    }
    return fault_;
}

FrameDecoder::FrameDecoder() = default;

FrameDecoder::~FrameDecoder() = default;

DecodeStatus FrameDecoder::decode(std::span<const std::uint8_t> frame, std::uint64_t index, std::size_t length,
                                  const FrameHints* hints)
{
    const std::string label = "block " + num(index + 1) + ": ";
    if (frame.size() < frameHeaderSize)
        return {FaultKind::truncated, label + "the frame has only " + num(frame.size()) + " of its 6 header bytes", 0};
    const std::uint32_t primaryIndex = getBigEndian24(frame.data() + framePrimaryIndexOffset);
    const std::uint32_t payloadLength = getBigEndian24(frame.data() + framePayloadLengthOffset);
    if (DecodeStatus fault = checkFrameHeader(primaryIndex, payloadLength, label); !fault.ok())
        return fault;
    if (payloadLength != frame.size() - frameHeaderSize)
        return {FaultKind::corrupt, label + "payload length " + num(payloadLength) + " where the frame holds " +
                    num(frame.size() - frameHeaderSize),
                framePayloadLengthOffset};
    if (!scratch_) {
        scratch_ = std::make_unique<BlockDecompressor::Scratch>();
        job_ = std::make_unique<BlockDecompressor::FrameJob>();
    }
    BlockDecompressor::FrameJob& job = *job_;
    job.fault = {};
    job.alone = true;
    job.hints = hints;
    job.index = index;
    job.frameOffset = 0;
    job.primaryIndex = primaryIndex;
    // Every block before this one held a full slice, as in the stream.
    job.declaredLength = static_cast<std::uint32_t>(std::min<std::uint64_t>(index * blockSizeForLevel1 + length, maxLength32));
    // The payload is read where the caller holds it, not copied.
    decodeJob(job, frame.subspan(frameHeaderSize), *scratch_);
    job.hints = nullptr;
    return job.fault;
}

std::span<const std::uint8_t> FrameDecoder::block() const noexcept
{
    return job_ ? std::span<const std::uint8_t>(job_->block) : std::span<const std::uint8_t>{};
}

DecodeStatus decompressStream(std::span<const std::uint8_t> stream, std::vector<std::uint8_t>& out)
{
    BlockDecompressor decoder([&out](std::span<const std::uint8_t> block) {
        out.insert(out.end(), block.begin(), block.end());
        return true;
    });
    if (DecodeStatus status = decoder.feed(stream); !status.ok())
        return status;
    return decoder.finish();
}

} // namespace dls2mml
