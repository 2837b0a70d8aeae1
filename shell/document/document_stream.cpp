#include "shell/document/document_stream.h"

#include <algorithm>
#include <array>
#include <new>

#include "shell/document/cue_point_document.h"

namespace dls2mml {
namespace {

IoStatus outOfMemory() { return {IoError::writeFailed, "out of memory"}; }

std::span<const std::uint8_t> bytesOf(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::array<std::uint8_t, streamHeaderSize> headerFor(std::uint64_t inputLength)
{
    std::array<std::uint8_t, streamHeaderSize> header{};
    writeStreamHeader(header, static_cast<std::uint32_t>(inputLength));
    return header;
}

} // namespace

DocumentStream::DocumentStream(OutputFile& file, std::uint64_t expectedInput, std::size_t holdLimit)
    : file_(file), expectedInput_(expectedInput), holdLimit_(holdLimit)
{
}

char* DocumentStream::textRoom(std::size_t bytes)
{
    const std::size_t need = Base64LineEncoder::feedBound(bytes) + Base64LineEncoder::finishBound + documentFooter.size();
    if (need > textCapacity_) {
        text_.reset(new (std::nothrow) char[need]);
        textCapacity_ = text_ ? need : 0;
    }
    return text_.get();
}

IoStatus DocumentStream::addFrame(std::span<const std::uint8_t> frame)
{
    streamLength_ += frame.size();
    const std::uint64_t input = expectedInput_ == UINT64_MAX ? 0 : expectedInput_;
    if (documentLength(input, streamLength_) > maxDocumentLength) {
        tooLarge_ = true;
        return {IoError::writeFailed, "the document would exceed 2 GiB"};
    }
    if (streaming_)
        return writeText(frame);
    try {
        held_.emplace_back(frame.begin(), frame.end());
    } catch (const std::bad_alloc&) {
        return outOfMemory();
    }
    if (streamLength_ >= holdLimit_ && file_.seekable())
        return startStreaming();
    return {};
}

IoStatus DocumentStream::writeText(std::span<const std::uint8_t> bytes)
{
    char* text = textRoom(bytes.size());
    if (!text)
        return outOfMemory();
    const std::size_t count = encoder_.feed(bytes, text);
    IoStatus status = file_.writeAt(position_, std::span(reinterpret_cast<const std::uint8_t*>(text), count));
    position_ += count;
    return status;
}

// Every held frame but possibly the last is a whole block, which gives the
// input consumed so far and with it the ratio for the estimate. An input of
// unknown length (a pipe) is taken to end here; the header and the text are
// then put right at the end.
IoStatus DocumentStream::startStreaming()
{
    const double held = static_cast<double>(held_.size()) * blockSizeForLevel1;
    guessedInput_ = expectedInput_ != UINT64_MAX ? expectedInput_ : static_cast<std::uint64_t>(held);
    const double consumed = std::min(held, static_cast<double>(guessedInput_));
    const double estimate = static_cast<double>(streamLength_) * static_cast<double>(guessedInput_) / consumed;
    guessedSizesLine_ = formatSizesLine(guessedInput_, static_cast<std::uint64_t>(estimate));
    textOffset_ = documentHead.size() + guessedSizesLine_.size();
    position_ = textOffset_;
    streaming_ = true;
    IoStatus status = writeText(headerFor(guessedInput_));
    for (auto& frame : held_) {
        if (status)
            status = writeText(frame);
        frame = {};
    }
    held_ = {};
    return status;
}

// The text's last group, its padding and the footer (no bytes: out of memory).
std::span<const std::uint8_t> DocumentStream::lastText()
{
    char* text = textRoom(0);
    if (!text)
        return {};
    std::size_t count = encoder_.finish(text);
    std::copy(documentFooter.begin(), documentFooter.end(), text + count);
    count += documentFooter.size();
    return {reinterpret_cast<const std::uint8_t*>(text), count};
}

IoStatus DocumentStream::writeHeld(std::uint64_t inputLength)
{
    IoStatus status = file_.write(bytesOf(documentHead));
    if (status)
        status = file_.write(bytesOf(formatSizesLine(inputLength, streamLength_)));
    auto put = [&](std::span<const std::uint8_t> bytes) {
        char* text = textRoom(bytes.size());
        if (!text)
            return outOfMemory();
        const std::size_t count = encoder_.feed(bytes, text);
        return file_.write(std::span(reinterpret_cast<const std::uint8_t*>(text), count));
    };
    if (status)
        status = put(headerFor(inputLength));
    for (const auto& frame : held_)
        if (status)
            status = put(frame);
    if (status) {
        const std::span<const std::uint8_t> last = lastText();
        status = last.data() ? file_.write(last) : outOfMemory();
    }
    return status;
}

// Moves length bytes at from to to, in pieces, in the order that never
// overwrites bytes not yet moved.
IoStatus DocumentStream::moveText(std::uint64_t from, std::uint64_t length, std::uint64_t to)
{
    constexpr std::uint64_t piece = 1 << 20;
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[piece]);
    if (!buffer)
        return outOfMemory();
    for (std::uint64_t done = 0; done < length;) {
        const std::uint64_t n = std::min(piece, length - done);
        const std::uint64_t at = to < from ? done : length - done - n;
        std::span<std::uint8_t> bytes(buffer.get(), static_cast<std::size_t>(n));
        if (IoStatus status = file_.readAt(from + at, bytes); !status)
            return status;
        if (IoStatus status = file_.writeAt(to + at, bytes); !status)
            return status;
        done += n;
    }
    return {};
}

IoStatus DocumentStream::finish(std::uint64_t inputLength)
{
    if (documentLength(inputLength, streamLength_) > maxDocumentLength) {
        tooLarge_ = true;
        return {IoError::writeFailed, "the document would exceed 2 GiB"};
    }
    if (!streaming_) {
        return writeHeld(inputLength);
    }
    const std::span<const std::uint8_t> last = lastText();
    if (!last.data())
        return outOfMemory();
    if (IoStatus status = file_.writeAt(position_, last); !status)
        return status;
    position_ += last.size();
    char* const text = textRoom(streamHeaderSize); // holds at least as much already
    // The input changed length while it was read, or its length was not
    // known when the text began: the stream header's 16
    // characters (the header is four whole 3-byte groups) are written anew.
    if (inputLength != guessedInput_) {
        Base64LineEncoder header;
        const std::size_t n = header.feed(headerFor(inputLength), text);
        if (IoStatus status = file_.writeAt(textOffset_, std::span(reinterpret_cast<const std::uint8_t*>(text), n)); !status)
            return status;
    }
    const std::string sizesLine = formatSizesLine(inputLength, streamLength_);
    const std::uint64_t offset = documentHead.size() + sizesLine.size();
    if (offset != textOffset_) {
        const std::uint64_t length = position_ - textOffset_;
        if (IoStatus status = moveText(textOffset_, length, offset); !status)
            return status;
        if (IoStatus status = file_.truncate(offset + length); !status)
            return status;
    }
    const std::string front = std::string(documentHead) + sizesLine;
    return file_.writeAt(0, bytesOf(front));
}

} // namespace dls2mml
