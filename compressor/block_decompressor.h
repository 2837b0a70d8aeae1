// BlockDecompressor: reads a tbr0 stream back into the bytes it was made from,
// a block at a time (docs/format.md, sections 4 and 5).
//
// The stream is fed in pieces of any size; each frame is decoded once its
// payload is complete and its bytes are handed to the sink. Memory is bounded
// by the format's limits (section 4.3), never by a length read from the
// stream: a payload buffer grows only as its bytes arrive.
//
// Validation is strict (section 8): a fault is reported once, with the stream
// byte where it stands; after a fault every further call returns it.
//
// With more than one thread, complete frames are decoded on helper threads
// (and on the feeding thread while it would wait), a few frames ahead, and
// the sink still gets the blocks in order on the feeding thread. The fault
// reported, its offset, and the blocks handed on before it are those of one
// thread: a frame's fault comes first when it stands before one found later
// while reading, so feed may report the fault of a frame fed in an earlier call
// (so may one thread that decodes frames together).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "compressor/ordered_pool.h"
#include "fault/fault_kind.h"
#include "compressor/frame_hints.h"
#include "compressor/stream_format.h"

namespace dls2mml {

struct DecodeStatus {
    FaultKind kind = FaultKind::none;
    std::string message;
    std::uint64_t offset = 0; // byte offset in the stream
    bool ok() const noexcept { return kind == FaultKind::none; }
    // "stream byte N: message"
    std::string describe() const;
};

class BlockDecompressor {
public:
    // Receives each decoded block in order; returning false stops decoding
    // (the caller keeps its own reason, feed then reports "output refused").
    using Sink = std::function<bool(std::span<const std::uint8_t>)>;

    // threads: 1 decodes each frame on the feeding thread as it completes
    // (or, where the processor decodes payloads together, three frames once
    // the third completes); 0 uses one thread per core.
    explicit BlockDecompressor(Sink sink, unsigned threads = 1);
    ~BlockDecompressor();
    BlockDecompressor(const BlockDecompressor&) = delete;
    BlockDecompressor& operator=(const BlockDecompressor&) = delete;

    DecodeStatus feed(std::span<const std::uint8_t> bytes);
    // The stream has ended: fails unless it ended right after the last frame
    // and the blocks decoded to exactly the header's length.
    DecodeStatus finish();
    // Decodes every frame fed so far and hands it on; the first fault, if any.
    DecodeStatus settle();

    bool headerRead() const noexcept { return headerFilled_ == streamHeaderSize; }
    std::uint32_t declaredLength() const noexcept { return declaredLength_; }
    // Stream bytes fed so far, the header included.
    std::uint64_t streamBytes() const noexcept { return consumed_; }
    std::uint64_t decodedBytes() const noexcept { return decoded_; }

    struct Scratch;
    struct FrameJob;

private:
    enum class State { header, frameHeader, payload, done, failed };

    using Pool = OrderedPool<FrameJob, Scratch>;
    DecodeStatus record(FaultKind kind, std::string message, std::uint64_t offset);
    DecodeStatus fail(FaultKind kind, std::string message, std::uint64_t offset);
    DecodeStatus checkHeaderByte(std::size_t index, std::uint8_t byte);
    DecodeStatus startFrame();
    DecodeStatus frameComplete();
    static void runJob(FrameJob& job, Scratch& scratch);
    static void runJobs(std::span<FrameJob* const> jobs, Scratch& scratch);
    DecodeStatus handOn(std::size_t limit);
    DecodeStatus deliver(FrameJob& job);
    void abandonFrames();

    Sink sink_;
    const unsigned threads_; // set once by threadsToRun
    const std::size_t together_; // frames a thread takes at once (their payloads range-decoded together)
    State state_ = State::header;
    DecodeStatus fault_;
    std::uint8_t header_[streamHeaderSize]{};
    std::size_t headerFilled_ = 0;
    std::uint8_t frameHeader_[frameHeaderSize]{};
    std::size_t frameHeaderFilled_ = 0;
    std::uint64_t frameOffset_ = 0;
    std::uint32_t primaryIndex_ = 0;
    std::uint32_t payloadLength_ = 0;
    std::vector<std::uint8_t> payload_;
    std::unique_ptr<Scratch> scratch_; // the feeding thread's
    std::unique_ptr<FrameJob> soloJob_; // with one thread: the job of the frame before, used again
    std::unique_ptr<Pool> pool_;       // only with more than one thread: frames in flight, oldest first
    std::uint64_t framesRead_ = 0;     // frames whose payload is complete
    std::uint32_t declaredLength_ = 0;
    std::uint64_t consumed_ = 0;
    std::uint64_t decoded_ = 0;
    std::uint64_t blocks_ = 0;
};

// Decodes single frames, each on its own, by the stream decoder's own steps:
// for checking a frame just coded against the slice it was made from, on the
// thread that coded it. Keeps its buffers from one frame to the next.
class FrameDecoder {
public:
    FrameDecoder();
    ~FrameDecoder();
    FrameDecoder(const FrameDecoder&) = delete;
    FrameDecoder& operator=(const FrameDecoder&) = delete;

    // frame: a frame header and its payload, nothing more, standing as block
    // index of a stream whose earlier blocks are full; length: the bytes it
    // must decode to. Fault offsets count from the frame's start. The block
    // is then in block(). hints, where given, speed decoding up; the result
    // is the same with any hints.
    DecodeStatus decode(std::span<const std::uint8_t> frame, std::uint64_t index, std::size_t length,
                        const FrameHints* hints = nullptr);
    std::span<const std::uint8_t> block() const noexcept;

private:
    std::unique_ptr<BlockDecompressor::Scratch> scratch_;
    std::unique_ptr<BlockDecompressor::FrameJob> job_;
};

// Whole-stream form: appends the decoded bytes to out (which grows block by
// block, never ahead of the data).
DecodeStatus decompressStream(std::span<const std::uint8_t> stream, std::vector<std::uint8_t>& out);

} // namespace dls2mml
