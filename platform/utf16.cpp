#include "platform/utf16.h"

namespace dls2mml {
namespace {

constexpr char32_t replacement = 0xFFFD;

bool isSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void appendUtf16(std::u16string& out, char32_t c)
{
    if (c < 0x10000) {
        out += static_cast<char16_t>(c);
    } else {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (c >> 10));
        out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    }
}

// The code point that starts at text[at] and its length in bytes; length 0
// when the bytes there start no well-formed sequence (surrogates allowed).
char32_t decodeAt(std::string_view text, std::size_t at, std::size_t& length)
{
    length = 0;
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t count = 0;
    char32_t c = 0;
    char32_t least = 0;
    if (lead < 0x80) {
        length = 1;
        return lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        count = 2, c = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        count = 3, c = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        count = 4, c = lead & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - at < count)
        return 0;
    for (std::size_t i = 1; i < count; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (next & 0x3F);
    }
    if (c < least || c > 0x10FFFF)
        return 0;
    length = count;
    return c;
}

} // namespace

std::string utf8FromUtf16(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        appendUtf8(out, c);
    }
    return out;
}

bool utf16FromUtf8(std::string_view text, std::u16string& out)
{
    out.clear();
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        std::size_t length = 0;
        const char32_t c = decodeAt(text, at, length);
        if (length == 0) {
            out.clear();
            return false;
        }
        appendUtf16(out, c);
        at += length;
    }
    return true;
}

std::u16string utf16ForDisplay(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        std::size_t length = 0;
        const char32_t c = decodeAt(text, at, length);
        // Surrogates written alone stay alone: even two in a row that would
        // make a pair came from two separate faults.
        appendUtf16(out, length == 0 || isSurrogate(c) ? replacement : c);
        at += length == 0 ? 1 : length;
    }
    return out;
}

std::string utf8ForDisplay(std::string_view text)
{
    return utf8FromUtf16(utf16ForDisplay(text));
}

std::size_t utf16Length(std::string_view text)
{
    std::size_t units = 0;
    for (const char byte : text) {
        const auto b = static_cast<unsigned char>(byte);
        if ((b & 0xC0) != 0x80)
            units += b >= 0xF0 ? 2 : 1;
    }
    return units;
}

} // namespace dls2mml
