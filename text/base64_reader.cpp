#include "text/base64_reader.h"

#include <algorithm>
#include <array>

#include "text/base64_lines.h"
#include "text/base64_whole_lines.h"

namespace dls2mml {
namespace {

constexpr std::array<std::int8_t, 256> makeValues()
{
    std::array<std::int8_t, 256> values{};
    for (auto& v : values)
        v = -1;
    const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int i = 0; i < 64; ++i)
        values[static_cast<unsigned char>(alphabet[i])] = static_cast<std::int8_t>(i);
    return values;
}

constexpr std::array<std::int8_t, 256> alphabetValue = makeValues();

std::string num(std::uint64_t value) { return std::to_string(value); }

// Whole lines are decoded in batches of at most this many, so that the room
// made for their bytes is still in the cache when they are written.
constexpr std::size_t linesPerBatch = 256;

} // namespace

std::string describeCharacter(unsigned char c)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string code = std::string("0x") + digits[c >> 4] + digits[c & 0xF];
    if (c == '\n')
        return "a line feed";
    if (c == '\r')
        return "a carriage return (0x0D)";
    if (c >= 0x20 && c < 0x7F)
        return std::string{'\'', static_cast<char>(c), '\''};
    return "the byte " + code;
}

std::string TextStatus::describe() const
{
    if (ok())
        return {};
    if (at.line == 0) // a fault with no place in the text (a read error)
        return message;
    return "line " + num(at.line) + ", column " + num(at.column) + ": " + message;
}

TextStatus Base64Reader::fail(FaultKind kind, std::string message, TextPosition at)
{
    state_ = State::failed;
    fault_ = TextStatus{kind, std::move(message), at, std::nullopt};
    return fault_;
}

TextPosition Base64Reader::positionOfByte(std::uint64_t offset) const noexcept
{
    const std::uint64_t character = offset * 4 / 3;
    return {firstLine_ + character / base64LineLength, character % base64LineLength + 1};
}

// The first '=' has arrived: the alphabet characters are complete.
TextStatus Base64Reader::startPadding()
{
    const TextPosition here = position();
    if (column_ == base64LineLength)
        return fail(FaultKind::badText, "line " + num(line_) + " holds 128 characters but no line feed ends it before the '='", here);
    if (bitCount_ == 6)
        return fail(FaultKind::badText, "the text's last group holds a single character, which carries no whole byte", {line_, column_});
    if (bits_ != 0)
        return fail(FaultKind::badText, "the unused low bits of the last character are not zero", {line_, column_});
    paddingDue_ = static_cast<std::uint32_t>(4 - characters_ % 4);
    padding_ = 0;
    state_ = State::padding;
    return {};
}

// Decodes the whole lines that start at text[i] and returns where the first
// character not taken stands.
std::size_t Base64Reader::takeWholeLines(std::string_view text, std::size_t i, std::vector<std::uint8_t>& out)
{
    for (;;) {
        const std::size_t lines = std::min((text.size() - i) / base64LineWithFeed, linesPerBatch);
        if (lines == 0)
            return i;
        const std::size_t at = out.size();
        out.resize(at + lines * base64LineBytes);
        const std::size_t done = decodeWholeLines(text.data() + i, lines, out.data() + at);
        out.resize(at + done * base64LineBytes);
        bytes_ += done * base64LineBytes;
        characters_ += done * base64LineWithFeed;
        line_ += done;
        i += done * base64LineWithFeed;
        if (done < lines)
            return i;
    }
}

TextStatus Base64Reader::feed(std::string_view text, std::vector<std::uint8_t>& out, std::size_t& consumed)
{
    consumed = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        // Whole lines and their line feeds at once; a line with anything else
        // in it goes character by character, which finds the fault's place.
        if (state_ == State::data && column_ == 0 && bitCount_ == 0) {
            i = takeWholeLines(text, i, out);
            consumed = i;
            if (i == text.size())
                break;
        }
        const unsigned char c = static_cast<unsigned char>(text[i]);
        switch (state_) {
        case State::failed:
            return fault_;
        case State::ended:
            return {};
        case State::data: {
            const std::int8_t value = alphabetValue[c];
            if (value >= 0) {
                if (column_ == base64LineLength)
                    return fail(FaultKind::badText, "line " + num(line_) + " is longer than 128 characters", position());
                bits_ = (bits_ << 6) | static_cast<std::uint32_t>(value);
                bitCount_ += 6;
                if (bitCount_ >= 8) {
                    bitCount_ -= 8;
                    out.push_back(static_cast<std::uint8_t>(bits_ >> bitCount_));
                    bits_ &= (1u << bitCount_) - 1;
                    ++bytes_;
                }
                ++column_;
                ++characters_;
            } else if (c == '\n') {
                if (column_ != base64LineLength)
                    return fail(FaultKind::badText, "line " + num(line_) + " ends after " + num(column_) +
                                    " characters; every line but the last holds 128",
                                position());
                ++characters_;
                ++line_;
                column_ = 0;
            } else if (c == '=') {
                if (TextStatus status = startPadding(); !status.ok())
                    return status;
                ++padding_;
                ++column_;
            } else if (c == ')') {
                return fail(FaultKind::badText, "wrong number of '=': none before the ')' that follows the text", position());
            } else {
                return fail(FaultKind::badText, describeCharacter(c) + " is not a character of the Base64 alphabet", position());
            }
            break;
        }
        case State::padding:
            if (c == '=') {
                if (padding_ == paddingDue_)
                    return fail(FaultKind::badText, "wrong number of '=': more than the " + num(paddingDue_) +
                                    " that the text's length calls for",
                                position());
                ++padding_;
                ++column_;
                break;
            }
            return endPadding();
        }
        consumed = i + 1;
    }
    return state_ == State::failed ? fault_ : TextStatus{};
}

// The run of '=' is over: it must be exactly as long as the text's length calls for.
TextStatus Base64Reader::endPadding()
{
    if (padding_ != paddingDue_)
        return fail(FaultKind::badText, "wrong number of '=': " + num(padding_) + " where the text's length calls for " + num(paddingDue_),
                    position());
    state_ = State::ended;
    return {};
}

TextStatus Base64Reader::finish()
{
    switch (state_) {
    case State::failed:
        return fault_;
    case State::ended:
        return {};
    case State::data:
        return fail(FaultKind::truncated, "the Base64 text ends without its closing '=' characters", position());
    case State::padding:
        return endPadding();
    }
    return fault_;
}

TextStatus decodeBase64Lines(std::string_view text, std::vector<std::uint8_t>& out)
{
    Base64Reader reader;
    std::size_t consumed = 0;
    if (TextStatus status = reader.feed(text, out, consumed); !status.ok())
        return status;
    if (TextStatus status = reader.finish(); !status.ok())
        return status;
    if (consumed != text.size())
        return {FaultKind::trailingData, describeCharacter(static_cast<unsigned char>(text[consumed])) + " follows the closing '='",
                reader.position(), std::nullopt};
    return {};
}

} // namespace dls2mml
