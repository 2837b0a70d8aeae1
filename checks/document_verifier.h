// The check that --verify makes while the document is written.
//
// The proof comes in two halves. Each frame, as soon as it is
// coded, is decoded back by the stream decoder's own steps on the thread that
// coded it and compared with its slice (FrameVerifier). Each frame handed to the
// document is fingerprinted (WrittenStream); when the document is complete,
// its bytes as they stand in the file (or as they went out, where the file
// cannot be read back) go through the document reader's text layer, whose
// stream bytes must give the same header and the same frames (StreamReadBack).
// The reader's own checks of the head, the sizes line, the text and the
// footer cover the rest, so every byte of the document is judged.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "compressor/frame_hints.h"
#include "compressor/stream_format.h"
#include "checks/crc64.h"
#include "shell/document/document_reader.h"

namespace dls2mml {

class InputFile;
class FrameDecoder;

// Decodes each frame back and compares it with its slice; called from every
// coding thread at once (the FrameCheck of the block pipeline).
class FrameVerifier {
public:
    FrameVerifier();
    ~FrameVerifier();
    FrameVerifier(const FrameVerifier&) = delete;
    FrameVerifier& operator=(const FrameVerifier&) = delete;

    // True when frame decodes to exactly slice, block standing at
    // block * 524,288 in the input.
    // hints: what the coder knew of the block, confirmed, never trusted.
    bool operator()(std::size_t block, std::span<const std::uint8_t> slice, std::span<const std::uint8_t> frame,
                    const FrameHints& hints = {});
    // Why the earliest failed block failed; empty while none did.
    std::string problem();

private:
    void failed(std::size_t block, std::string reason);

    std::mutex mutex_;
    std::vector<std::unique_ptr<FrameDecoder>> idle_; // one per thread that has checked
    std::size_t failedBlock_ = SIZE_MAX;
    std::string problem_;
};

// A stream as fingerprints: its header, and each frame's length and CRC-64.
struct StreamPrint {
    struct Frame {
        std::uint64_t length = 0;
        std::uint64_t crc = 0;
        bool operator==(const Frame&) const = default;
    };
    std::array<std::uint8_t, streamHeaderSize> header{};
    std::vector<Frame> frames;
};

// The frames handed to the document, in order (16 bytes for each block).
class WrittenStream {
public:
    // False when out of memory.
    bool add(std::span<const std::uint8_t> frame) noexcept;
    // With the header for the input's true length.
    StreamPrint finish(std::uint64_t inputLength) const;

private:
    std::vector<StreamPrint::Frame> frames_;
};

// Takes a document's bytes in order, reads them as far as the stream with the
// document reader, and cuts the stream into frames by their own headers.
class StreamReadBack {
public:
    StreamReadBack();
    void feed(std::span<const std::uint8_t> documentBytes);
    // Empty when the document holds exactly the stream written, else why not.
    std::string finish(const StreamPrint& written);

private:
    void take(std::span<const std::uint8_t> bytes);
    void endFrame();

    DocumentReader reader_;
    TextStatus fault_;
    StreamPrint read_;
    std::size_t headerFilled_ = 0;
    std::array<std::uint8_t, frameHeaderSize> frameHeader_{};
    std::size_t frameHeaderFilled_ = 0;
    std::uint64_t payloadLeft_ = 0;
    StreamPrint::Frame frame_;
    Crc64 crc_;
};

// Reads the document from its start through a StreamReadBack.
std::string checkWrittenDocument(InputFile& document, const StreamPrint& written);

} // namespace dls2mml
