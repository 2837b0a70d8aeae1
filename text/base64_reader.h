// Base64 lines read back (docs/format.md, section 3.2), strict about all that
// the encoder fixes (section 8). Faults carry the line and column (both from
// 1) of the character where they stand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fault/fault_kind.h"

namespace dls2mml {

struct TextPosition {
    std::uint64_t line = 1;
    std::uint64_t column = 1;
};

struct TextStatus {
    FaultKind kind = FaultKind::none;
    std::string message;
    TextPosition at;
    // For a fault inside the tbr0 stream the text carries: the stream byte
    // where it stands (at is then the character holding that byte's first bits).
    std::optional<std::uint64_t> streamOffset;
    bool ok() const noexcept { return kind == FaultKind::none; }
    // "line L, column C: message"
    std::string describe() const;
};

class Base64Reader {
public:
    // The text's first character stands at column 1 of firstLine.
    explicit Base64Reader(std::uint64_t firstLine = 1) noexcept : firstLine_(firstLine), line_(firstLine) {}

    // Reads text, appending the completed bytes to out. Stops at the first
    // character after the '=' run, which does not belong to the text (ended()
    // is then true); consumed tells how many characters were taken.
    TextStatus feed(std::string_view text, std::vector<std::uint8_t>& out, std::size_t& consumed);
    // The input has ended: fails unless the '=' run was complete.
    TextStatus finish();

    bool ended() const noexcept { return state_ == State::ended; }
    std::uint64_t bytesDecoded() const noexcept { return bytes_; }
    // Where the next character would stand.
    TextPosition position() const noexcept { return {line_, column_ + 1}; }
    // Where the character holding the first bits of stream byte offset stands.
    TextPosition positionOfByte(std::uint64_t offset) const noexcept;

private:
    enum class State { data, padding, ended, failed };
    TextStatus fail(FaultKind kind, std::string message, TextPosition at);
    TextStatus endPadding();
    TextStatus startPadding();
    std::size_t takeWholeLines(std::string_view text, std::size_t i, std::vector<std::uint8_t>& out);

    std::uint64_t firstLine_;
    State state_ = State::data;
    TextStatus fault_;
    std::uint64_t line_;
    std::uint64_t column_ = 0;    // alphabet characters on the current line
    std::uint64_t characters_ = 0; // b: alphabet characters and line feeds so far
    std::uint32_t bits_ = 0;
    std::uint32_t bitCount_ = 0;
    std::uint64_t bytes_ = 0;
    std::uint32_t padding_ = 0;
    std::uint32_t paddingDue_ = 0;
};

// Whole-text form: the text must be exactly one Base64 text and nothing else.
TextStatus decodeBase64Lines(std::string_view text, std::vector<std::uint8_t>& out);

// A character as a reader sees it: 'x' for printable ASCII, else its code.
std::string describeCharacter(unsigned char c);

} // namespace dls2mml
