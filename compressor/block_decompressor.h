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
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "compressor/stream_format.h"

namespace dls2mml {

struct DecodeStatus {
    std::string message;      // empty: no fault
    std::uint64_t offset = 0; // byte offset in the stream
    bool ok() const noexcept { return message.empty(); }
    // "stream byte N: message"
    std::string describe() const;
};

class BlockDecompressor {
public:
    // Receives each decoded block in order; returning false stops decoding
    // (the caller keeps its own reason, feed then reports "output refused").
    using Sink = std::function<bool(std::span<const std::uint8_t>)>;

    explicit BlockDecompressor(Sink sink);
    virtual ~BlockDecompressor();
    BlockDecompressor(const BlockDecompressor&) = delete;
    BlockDecompressor& operator=(const BlockDecompressor&) = delete;

    DecodeStatus feed(std::span<const std::uint8_t> bytes);
    // The stream has ended: fails unless it ended right after the last frame
    // and the blocks decoded to exactly the header's length.
    DecodeStatus finish();

    bool headerRead() const noexcept { return headerFilled_ == streamHeaderSize; }
    std::uint32_t declaredLength() const noexcept { return declaredLength_; }
    std::uint64_t streamBytes() const noexcept { return consumed_; }
    std::uint64_t decodedBytes() const noexcept { return decoded_; }

private:
    enum class State { header, frameHeader, payload, done, failed };

    DecodeStatus fail(std::string message, std::uint64_t offset);
    DecodeStatus checkHeaderByte(std::size_t index, std::uint8_t byte);
    DecodeStatus startFrame();
    DecodeStatus decodeFrame();

    struct Work;
    Sink sink_;
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
    std::unique_ptr<Work> work_;
    std::uint32_t declaredLength_ = 0;
    std::uint64_t consumed_ = 0;
    std::uint64_t decoded_ = 0;
    std::uint64_t blocks_ = 0;
};

// Whole-stream form: appends the decoded bytes to out (which grows block by
// block, never ahead of the data).
DecodeStatus decompressStream(std::span<const std::uint8_t> stream, std::vector<std::uint8_t>& out);

} // namespace dls2mml
