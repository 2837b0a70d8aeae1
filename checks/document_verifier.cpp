#include "checks/document_verifier.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "compressor/block_compressor.h"
#include "compressor/block_decompressor.h"
#include "shell/document/document_reader.h"
#include "platform/file_system.h"

namespace dls2mml {
namespace {

} // namespace

FrameVerifier::FrameVerifier() = default;

FrameVerifier::~FrameVerifier() = default;

bool FrameVerifier::operator()(std::size_t block, std::span<const std::uint8_t> slice, std::span<const std::uint8_t> frame,
                               const FrameHints& hints)
{
    try {
        std::unique_ptr<FrameDecoder> decoder;
        {
            std::lock_guard lock(mutex_);
            if (!idle_.empty()) {
                decoder = std::move(idle_.back());
                idle_.pop_back();
            }
        }
        if (!decoder)
            decoder = std::make_unique<FrameDecoder>();
        const DecodeStatus status = decoder->decode(frame, block, slice.size(), &hints);
        const std::span<const std::uint8_t> decoded = decoder->block();
        std::string reason;
        if (!status.ok()) {
            reason = "the document does not decode: " + status.message;
        } else if (decoded.size() != slice.size() || std::memcmp(decoded.data(), slice.data(), slice.size()) != 0) {
            const auto at = std::mismatch(decoded.begin(), decoded.end(), slice.begin(), slice.end());
            const std::uint64_t first = std::uint64_t{block} * blockSizeForLevel1 + static_cast<std::uint64_t>(at.first - decoded.begin());
            reason = "the document decodes to other bytes than the input, first at byte " + std::to_string(first);
        }
        {
            std::lock_guard lock(mutex_);
            idle_.push_back(std::move(decoder));
        }
        if (reason.empty())
            return true;
        failed(block, std::move(reason));
    } catch (const std::bad_alloc&) {
        failed(block, "out of memory");
    }
    return false;
}

void FrameVerifier::failed(std::size_t block, std::string reason)
{
    std::lock_guard lock(mutex_);
    if (block < failedBlock_) {
        failedBlock_ = block;
        problem_ = std::move(reason);
    }
}

std::string FrameVerifier::problem()
{
    std::lock_guard lock(mutex_);
    return problem_;
}

bool WrittenStream::add(std::span<const std::uint8_t> frame) noexcept
{
    Crc64 crc;
    crc.add(frame);
    try {
        frames_.push_back({frame.size(), crc.value()});
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

StreamPrint WrittenStream::finish(std::uint64_t inputLength) const
{
    StreamPrint print;
    writeStreamHeader(print.header, static_cast<std::uint32_t>(inputLength));
    print.frames = frames_;
    return print;
}

StreamReadBack::StreamReadBack()
    : reader_([this](std::span<const std::uint8_t> bytes) {
          take(bytes);
          return true;
      },
              1, DocumentReader::Depth::stream)
{
}

void StreamReadBack::feed(std::span<const std::uint8_t> documentBytes)
{
    if (fault_.ok())
        fault_ = reader_.feed(std::string_view(reinterpret_cast<const char*>(documentBytes.data()), documentBytes.size()));
}

// The stream header, then frame after frame: six header bytes, whose last
// three give the payload's length, then the payload.
void StreamReadBack::take(std::span<const std::uint8_t> bytes)
{
    while (!bytes.empty()) {
        std::size_t n = 0;
        if (headerFilled_ < streamHeaderSize) {
            n = std::min(bytes.size(), streamHeaderSize - headerFilled_);
            std::copy_n(bytes.begin(), n, read_.header.begin() + static_cast<std::ptrdiff_t>(headerFilled_));
            headerFilled_ += n;
        } else if (frameHeaderFilled_ < frameHeaderSize) {
            n = std::min(bytes.size(), frameHeaderSize - frameHeaderFilled_);
            std::copy_n(bytes.begin(), n, frameHeader_.begin() + static_cast<std::ptrdiff_t>(frameHeaderFilled_));
            frameHeaderFilled_ += n;
            crc_.add(bytes.first(n));
            frame_.length += n;
            if (frameHeaderFilled_ == frameHeaderSize) {
                payloadLeft_ = getBigEndian24(frameHeader_.data() + framePayloadLengthOffset);
                if (payloadLeft_ == 0)
                    endFrame();
            }
        } else {
            n = static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), payloadLeft_));
            crc_.add(bytes.first(n));
            frame_.length += n;
            payloadLeft_ -= n;
            if (payloadLeft_ == 0)
                endFrame();
        }
        bytes = bytes.subspan(n);
    }
}

void StreamReadBack::endFrame()
{
    frame_.crc = crc_.value();
    read_.frames.push_back(frame_);
    frame_ = {};
    crc_ = {};
    frameHeaderFilled_ = 0;
}

std::string StreamReadBack::finish(const StreamPrint& written)
{
    if (fault_.ok())
        fault_ = reader_.finish();
    if (!fault_.ok())
        return "the document does not decode: " + fault_.describe();
    if (frame_.length > 0)
        endFrame(); // a frame cut short
    if (read_.header != written.header)
        return "the document's stream header is not the one written";
    const std::vector<StreamPrint::Frame>& read = read_.frames;
    const auto [mine, theirs] = std::mismatch(read.begin(), read.end(), written.frames.begin(), written.frames.end());
    if (mine != read.end() || theirs != written.frames.end())
        return "the document's text does not hold the stream written: block " +
               std::to_string(static_cast<std::size_t>(mine - read.begin()) + 1) + " differs";
    return {};
}

std::string checkWrittenDocument(InputFile& document, const StreamPrint& written)
{
    StreamReadBack readBack;
    std::vector<std::uint8_t> buffer(readChunk);
    for (;;) {
        std::size_t got = 0;
        if (IoStatus status = document.read(buffer, got); !status)
            return "cannot read the document back: " + describeIoStatus(status);
        if (got == 0)
            break;
        readBack.feed(std::span<const std::uint8_t>(buffer.data(), got));
    }
    return readBack.finish(written);
}

} // namespace dls2mml
