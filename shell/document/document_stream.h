// Writes a cue-point document while its stream is still being produced.
//
// The sizes line near the top holds the stream's length, known only at the
// end. Small streams are therefore held in memory and written in one go. Once
// the held stream passes 1 MiB (and the output can seek), the length is
// estimated from the ratio so far, the text is written from the offset that
// estimate gives the sizes line, and each further frame's text goes straight
// to the file. At the end the head and the true sizes line are written in
// front; only when the estimate had another number of digits is the text
// moved by those few bytes. An input of unknown length is streamed the same
// way, from a guess. Outputs that cannot seek hold the whole stream; standard
// output is therefore spooled to a file that can. Memory thus stays bounded
// whatever the input size.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "compressor/block_compressor.h"
#include "platform/file_system.h"
#include "text/base64_lines.h"

namespace dls2mml {

class DocumentStream {
public:
    // expectedInput: the input's length when known beforehand, else UINT64_MAX.
    DocumentStream(OutputFile& file, std::uint64_t expectedInput, std::size_t holdLimit = defaultHoldLimit);

    // Takes the next frame of the stream, in order (from any one thread).
    IoStatus addFrame(std::span<const std::uint8_t> frame);
    // Writes what is left, with the input's true length; the caller commits the file.
    IoStatus finish(std::uint64_t inputLength);

    // The stream's length so far, its 12-byte header included: the sizes
    // line's second number once finished.
    std::uint64_t streamLength() const noexcept { return streamLength_; }
    // The document would not fit the format's signed 32-bit counts.
    bool tooLarge() const noexcept { return tooLarge_; }

    static constexpr std::size_t defaultHoldLimit = 1u << 20;

private:
    IoStatus startStreaming();
    IoStatus writeText(std::span<const std::uint8_t> bytes);
    IoStatus writeHeld(std::uint64_t inputLength);
    std::span<const std::uint8_t> lastText();
    IoStatus moveText(std::uint64_t from, std::uint64_t length, std::uint64_t to);
    char* textRoom(std::size_t bytes);

    OutputFile& file_;
    std::uint64_t expectedInput_;
    std::uint64_t guessedInput_ = 0; // the input length the streamed text was begun with
    std::size_t holdLimit_;
    std::vector<std::vector<std::uint8_t>> held_;
    std::uint64_t streamLength_ = streamHeaderSize;
    bool streaming_ = false;
    bool tooLarge_ = false;
    std::string guessedSizesLine_;
    std::uint64_t textOffset_ = 0; // where the Base64 text starts in the file
    std::uint64_t position_ = 0;   // where the next text goes
    Base64LineEncoder encoder_;
    std::unique_ptr<char[]> text_;
    std::size_t textCapacity_ = 0;
};

} // namespace dls2mml
