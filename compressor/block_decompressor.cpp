#include "compressor/block_decompressor.h"

#include <algorithm>
#include <cstring>

#include "compressor/block_sort.h"
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

// The per-block buffers. Each grows with what a block really holds, up to the
// format's limits, and is kept for the next block.
struct BlockDecompressor::Work {
    ModelSet models;
    std::vector<std::uint8_t> symbols;
    std::vector<std::uint8_t> ranks;
    std::vector<std::uint8_t> lastColumn;
    std::vector<std::uint8_t> prepass;
    std::vector<std::uint32_t> next;
    std::vector<std::uint8_t> block;
};

BlockDecompressor::BlockDecompressor(Sink sink) : sink_(std::move(sink)) {}

BlockDecompressor::~BlockDecompressor() = default;

DecodeStatus BlockDecompressor::fail(std::string message, std::uint64_t offset)
{
    state_ = State::failed;
    fault_ = DecodeStatus{std::move(message), offset};
    payload_.clear();
    payload_.shrink_to_fit();
    return fault_;
}

DecodeStatus BlockDecompressor::checkHeaderByte(std::size_t index, std::uint8_t byte)
{
    if (index < headerLevelOffset) {
        if (byte != static_cast<std::uint8_t>(streamMagic[index]))
            return fail("wrong magic: header byte " + num(index) + " is " + hexByte(byte) + " where \"tbr0\" has '" +
                            std::string(1, streamMagic[index]) + "'",
                        index);
    } else if (index == headerLevelOffset) {
        if (byte != static_cast<std::uint8_t>(compressionLevel))
            return fail("unsupported level " + num(byte) + " in header byte 4 (only level 1 exists)", index);
    } else if (index < headerLengthOffset) {
        if (byte != 0)
            return fail("reserved header byte " + num(index) + " is " + hexByte(byte) + "; reserved bytes must be zero", index);
    }
    return {};
}

DecodeStatus BlockDecompressor::startFrame()
{
    primaryIndex_ = getBigEndian24(frameHeader_ + framePrimaryIndexOffset);
    payloadLength_ = getBigEndian24(frameHeader_ + framePayloadLengthOffset);
    const std::string frame = "block " + num(blocks_ + 1) + " (frame at stream byte " + num(frameOffset_) + "): ";
    if (payloadLength_ < flushBytes)
        return fail(frame + "payload length " + num(payloadLength_) +
                        " is below the 4 flush bytes every coded block ends with",
                    frameOffset_ + framePayloadLengthOffset);
    if (payloadLength_ > maxPayloadBytes)
        return fail(frame + "payload length " + num(payloadLength_) + " exceeds the largest a block can have (" +
                        num(maxPayloadBytes) + ")",
                    frameOffset_ + framePayloadLengthOffset);
    if (primaryIndex_ >= bufferSizeForLevel1)
        return fail(frame + "primary index " + num(primaryIndex_) + " is not below the block length (at most " +
                        num(bufferSizeForLevel1) + ")",
                    frameOffset_);
    payload_.clear();
    state_ = State::payload;
    return {};
}

DecodeStatus BlockDecompressor::decodeFrame()
{
    if (!work_)
        work_ = std::make_unique<Work>();
    Work& w = *work_;
    const std::uint64_t payloadStart = frameOffset_ + frameHeaderSize;
    const std::string frame = "block " + num(blocks_ + 1) + " (frame at stream byte " + num(frameOffset_) + "): ";
    const std::span<const std::uint8_t> payload(payload_);

    StageFault fault = decodeRangeBlock(w.models, payload, w.symbols);
    if (fault.failed())
        return fail(frame + fault.message, payloadStart + fault.position);

    fault = decodeRankSymbols(w.symbols, w.ranks);
    if (fault.failed())
        return fail(frame + fault.message + " (rank symbol " + num(fault.position) + ")",
                    payloadStart + payloadPositionOfSymbol(w.models, payload, fault.position));
    const std::size_t rankCount = w.ranks.size();
    if (rankCount == 0)
        return fail(frame + "block codes no data; every block frame holds at least one byte", payloadStart);
    if (primaryIndex_ >= rankCount)
        return fail(frame + "primary index " + num(primaryIndex_) + " is not below the block length " + num(rankCount),
                    frameOffset_);

    w.lastColumn.resize(rankCount);
    w.prepass.resize(rankCount);
    w.next.resize(rankCount);
    undoRankTransform(std::span<std::uint8_t>(w.lastColumn.data(), rankCount),
                      std::span<const std::uint8_t>(w.ranks.data(), rankCount));
    fault = undoBlockSort(std::span<std::uint8_t>(w.prepass.data(), rankCount),
                          std::span<const std::uint8_t>(w.lastColumn.data(), rankCount), primaryIndex_,
                          std::span<std::uint32_t>(w.next.data(), rankCount));
    if (fault.failed())
        return fail(frame + fault.message + " (row " + num(fault.position) + ")", frameOffset_);

    fault = expandRuns(w.prepass, w.block);
    if (fault.failed())
        return fail(frame + fault.message + " (pre-pass byte " + num(fault.position) + ")", payloadStart);
    const std::size_t blockLength = w.block.size();

    const std::uint64_t left = declaredLength_ - decoded_;
    const std::uint64_t expected = std::min<std::uint64_t>(left, blockSizeForLevel1);
    if (blockLength > left)
        return fail(frame + "block decodes to " + num(blockLength) + " bytes, but the header's length " +
                        num(declaredLength_) + " leaves only " + num(left) +
                        ": total decoded length differs from the header's",
                    frameOffset_);
    if (blockLength != expected)
        return fail(frame + "block decodes to " + num(blockLength) + " bytes where " + num(expected) +
                        " are due (every block but the last holds " + num(blockSizeForLevel1) +
                        "; the header's length is " + num(declaredLength_) +
                        "): total decoded length differs from the header's",
                    frameOffset_);
    ++blocks_;
    decoded_ += blockLength;
    if (sink_ && !sink_(std::span<const std::uint8_t>(w.block.data(), blockLength)))
        return fail("output refused", consumed_);
    state_ = decoded_ == declaredLength_ ? State::done : State::frameHeader;
    frameHeaderFilled_ = 0;
    frameOffset_ = consumed_;
    payload_.clear();
    return {};
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
                if (DecodeStatus status = decodeFrame(); !status.ok())
                    return status;
            break;
        }
        case State::done:
            return fail("trailing bytes after the last frame: the header's length " + num(declaredLength_) +
                            " is already decoded",
                        consumed_);
        }
    }
    return state_ == State::failed ? fault_ : DecodeStatus{};
}

DecodeStatus BlockDecompressor::finish()
{
    switch (state_) {
    case State::failed:
        return fault_;
    case State::done:
        return {};
    case State::header:
        if (headerFilled_ == 0)
            return fail("stream is empty: the 12-byte header is missing", 0);
        return fail("truncated header: the stream ends after " + num(headerFilled_) + " of its 12 header bytes", consumed_);
    case State::frameHeader:
        if (frameHeaderFilled_ == 0)
            return fail("stream ends after " + num(blocks_) + " blocks with " + num(decoded_) + " of the " +
                            num(declaredLength_) +
                            " bytes the header declares: total decoded length differs from the header's (a block frame is missing)",
                        consumed_);
        return fail("truncated frame header: block " + num(blocks_ + 1) + " has only " + num(frameHeaderFilled_) +
                        " of its 6 frame bytes",
                    frameOffset_);
    case State::payload:
        return fail("payload of block " + num(blocks_ + 1) + " runs past the end of the stream: its frame (at stream byte " +
                        num(frameOffset_) + ") declares " + num(payloadLength_) + " bytes, only " +
                        num(payload_.size()) + " follow",
                    frameOffset_ + framePayloadLengthOffset);
    }
    return fault_;
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
