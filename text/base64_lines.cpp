#include "text/base64_lines.h"

#include <algorithm>

namespace dls2mml {
namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

} // namespace

std::size_t Base64LineEncoder::putChar(char* out, std::size_t at, char c) noexcept
{
    out[at++] = c;
    ++written_;
    if (++lineChars_ == base64LineLength) {
        out[at++] = '\n';
        ++written_;
        lineChars_ = 0;
    }
    return at;
}

// Writes the four characters of one whole group.
inline char* putGroup(char* out, std::uint32_t group) noexcept
{
    out[0] = alphabet[group >> 18];
    out[1] = alphabet[(group >> 12) & 63];
    out[2] = alphabet[(group >> 6) & 63];
    out[3] = alphabet[group & 63];
    return out + 4;
}

// Whole 3-byte groups give the same four characters as taking the bits one by
// one; only the last, partial group is special (see finish). Lines start at a
// group boundary and hold 32 groups, so a line feed always falls between groups.
std::size_t Base64LineEncoder::feed(std::span<const std::uint8_t> data, char* out) noexcept
{
    char* const start = out;
    std::size_t i = 0;
    while (pendingCount_ != 0 && i < data.size()) {
        pending_[pendingCount_++] = data[i++];
        if (pendingCount_ == 3) {
            const std::uint32_t group = static_cast<std::uint32_t>(pending_[0]) << 16 |
                                        static_cast<std::uint32_t>(pending_[1]) << 8 | pending_[2];
            pendingCount_ = 0;
            out = putGroup(out, group);
            lineChars_ += 4;
            if (lineChars_ == base64LineLength) {
                *out++ = '\n';
                lineChars_ = 0;
            }
        }
    }
    std::size_t groups = (data.size() - i) / 3;
    while (groups != 0) {
        const std::size_t run = std::min(groups, (base64LineLength - lineChars_) / 4);
        for (std::size_t g = 0; g < run; ++g, i += 3)
            out = putGroup(out, static_cast<std::uint32_t>(data[i]) << 16 | static_cast<std::uint32_t>(data[i + 1]) << 8 |
                                    data[i + 2]);
        groups -= run;
        lineChars_ += 4 * run;
        if (lineChars_ == base64LineLength) {
            *out++ = '\n';
            lineChars_ = 0;
        }
    }
    for (; i < data.size(); ++i)
        pending_[pendingCount_++] = data[i];
    const auto count = static_cast<std::size_t>(out - start);
    written_ += count;
    return count;
}

// The last one or two bytes give two or three characters, filled with zero
// bits; then '=' until the count of everything written (line feeds included)
// is a multiple of four, always at least one.
std::size_t Base64LineEncoder::finish(char* out) noexcept
{
    std::size_t at = 0;
    if (pendingCount_ == 1) {
        at = putChar(out, at, alphabet[pending_[0] >> 2]);
        at = putChar(out, at, alphabet[(pending_[0] & 3) << 4]);
    } else if (pendingCount_ == 2) {
        at = putChar(out, at, alphabet[pending_[0] >> 2]);
        at = putChar(out, at, alphabet[((pending_[0] & 3) << 4) | (pending_[1] >> 4)]);
        at = putChar(out, at, alphabet[(pending_[1] & 15) << 2]);
    }
    pendingCount_ = 0;
    const std::uint64_t padding = 4 - written_ % 4;
    for (std::uint64_t p = 0; p < padding; ++p)
        out[at++] = '=';
    written_ += padding;
    return at;
}

std::int32_t encodeBase64Lines(const std::uint8_t* data, std::uint32_t length, char* out) noexcept
{
    Base64LineEncoder encoder;
    std::size_t count = length ? encoder.feed(std::span(data, length), out) : 0;
    count += encoder.finish(out + count);
    out[count] = '\0';
    return static_cast<std::int32_t>(count);
}

} // namespace dls2mml
