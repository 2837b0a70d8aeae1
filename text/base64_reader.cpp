#include "text/base64_reader.h"

#include <array>

#include "text/base64_lines.h"

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

constexpr std::size_t lineBytes = base64LineLength / 4 * 3;

// A whole line of alphabet characters into its bytes at out; false, with out
// left unspecified, when a character is not in the alphabet.
bool decodeFullLine(const char* line, std::uint8_t* out) noexcept
{
    int invalid = 0;
    for (std::size_t group = 0; group < base64LineLength / 4; ++group) {
        const unsigned char* c = reinterpret_cast<const unsigned char*>(line + 4 * group);
        const int a = alphabetValue[c[0]];
        const int b = alphabetValue[c[1]];
        const int d = alphabetValue[c[2]];
        const int e = alphabetValue[c[3]];
        invalid |= a | b | d | e; // negative where any is not in the alphabet
        const auto word = static_cast<std::uint32_t>(a << 18 | b << 12 | d << 6 | e);
        out[3 * group] = static_cast<std::uint8_t>(word >> 16);
        out[3 * group + 1] = static_cast<std::uint8_t>(word >> 8);
        out[3 * group + 2] = static_cast<std::uint8_t>(word);
    }
    return invalid >= 0;
}

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
        return "'" + std::string(1, static_cast<char>(c)) + "'";
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

TextStatus Base64Reader::feed(std::string_view text, std::vector<std::uint8_t>& out, std::size_t& consumed)
{
    consumed = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        // A whole line and its line feed at once; a line with anything else
        // in it goes character by character, which finds the fault's place.
        if (state_ == State::data && column_ == 0 && bitCount_ == 0 && text.size() - i > base64LineLength &&
            text[i + base64LineLength] == '\n') {
            const std::size_t at = out.size();
            out.resize(at + lineBytes);
            if (decodeFullLine(text.data() + i, out.data() + at)) {
                bytes_ += lineBytes;
                characters_ += base64LineLength + 1;
                ++line_;
                i += base64LineLength; // the loop steps over the line feed
                consumed = i + 1;
                continue;
            }
            out.resize(at);
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
