// Whole Base64 lines decoded at once: every decoder the processor has gives
// the bytes the alphabet gives, and stops at exactly the line where a
// character is out of place, whatever the character and its column.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"
#include "text/base64_lines.h"
#include "text/base64_whole_lines.h"

namespace dls2mml::test {
namespace {

constexpr WholeLineDecoder allDecoders[] = {WholeLineDecoder::portable, WholeLineDecoder::ssse3, WholeLineDecoder::avx2,
                                            WholeLineDecoder::avx512vbmi};

std::vector<WholeLineDecoder> availableDecoders()
{
    std::vector<WholeLineDecoder> out;
    for (WholeLineDecoder d : allDecoders)
        if (wholeLineDecoderAvailable(d))
            out.push_back(d);
    return out;
}

// The lines' bytes straight from the alphabet's order, one character at a time.
Bytes referenceBytes(const std::string& lines)
{
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    Bytes out;
    std::uint32_t bits = 0;
    int count = 0;
    for (char c : lines) {
        if (c == '\n')
            continue;
        bits = bits << 6 | static_cast<std::uint32_t>(alphabet.find(c));
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<std::uint8_t>(bits >> count));
        }
    }
    return out;
}

// The text's whole lines for 96 bytes a line.
std::string wholeLinesOf(const Bytes& bytes)
{
    std::string text(base64LinesLength(bytes.size()) + 1, '\0');
    text.resize(static_cast<std::size_t>(encodeBase64Lines(bytes.data(), static_cast<std::uint32_t>(bytes.size()), text.data())));
    return text.substr(0, bytes.size() / base64LineBytes * base64LineWithFeed);
}

struct Decoded {
    std::size_t lines = 0;
    Bytes bytes;        // the bytes of the lines decoded
    bool wroteOutside = false;
};

// Decodes from a copy of exactly the lines' size (so that a read past it is
// caught by the sanitizers) into room followed by guard bytes.
Decoded decode(WholeLineDecoder decoder, const std::string& text)
{
    const std::size_t lineCount = text.size() / base64LineWithFeed;
    const std::vector<char> in(text.begin(), text.end());
    constexpr std::uint8_t guard = 0xA5;
    Bytes out(lineCount * base64LineBytes + 64, guard);
    Decoded d;
    d.lines = decodeWholeLinesWith(decoder, in.data(), lineCount, out.data());
    for (std::size_t i = lineCount * base64LineBytes; i < out.size(); ++i)
        d.wroteOutside |= out[i] != guard;
    out.resize(std::min(d.lines, lineCount) * base64LineBytes);
    d.bytes = out;
    return d;
}

TEST(Base64WholeLines, EveryDecoderGivesTheAlphabetsBytes)
{
    TestRng rng(77);
    // Every value at every place of a group, and in both halves of a register.
    std::string everyValue;
    for (int i = 0; i < 128; ++i)
        everyValue += "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"[(i * 5 + i / 64) % 64];
    everyValue += '\n';
    const std::string texts[] = {
        everyValue,
        everyValue + everyValue,
        wholeLinesOf(repeat(0x00, base64LineBytes)),
        wholeLinesOf(repeat(0xFF, 2 * base64LineBytes)),
        wholeLinesOf(rng.bytes(base64LineBytes)),
        wholeLinesOf(rng.bytes(7 * base64LineBytes)),
        wholeLinesOf(rng.bytes(300 * base64LineBytes)),
    };
    for (WholeLineDecoder decoder : availableDecoders()) {
        SCOPED_TRACE(wholeLineDecoderName(decoder));
        for (const std::string& text : texts) {
            const Decoded d = decode(decoder, text);
            EXPECT_EQ(d.lines, text.size() / base64LineWithFeed);
            EXPECT_TRUE(d.bytes == referenceBytes(text));
            EXPECT_FALSE(d.wroteOutside);
        }
    }
    EXPECT_TRUE(wholeLineDecoderAvailable(chosenWholeLineDecoder()));
}

// A character just outside each range of the alphabet ('/' and '0' are
// neighbours, so "/0123456789" is one range), every character between '+'
// and '/', alphabet characters with the top bit set, and those that end or
// pad a text.
const unsigned char badCharacters[] = {
    '+' - 1, '+' + 1, '+' + 2, '/' - 1, '9' + 1, 'A' - 1, 'Z' + 1, 'a' - 1, 'z' + 1, 0x00, 0x7F, 0x80, 0xFF,
    '+' | 0x80, '/' | 0x80, '0' | 0x80, 'A' | 0x80, 'Z' | 0x80, 'z' | 0x80, '=', '\r', '\n', ' ', ')',
};

TEST(Base64WholeLines, StopsAtTheLineOfAnyBadCharacterInAnyColumn)
{
    TestRng rng(5);
    const std::string good = wholeLinesOf(rng.bytes(3 * base64LineBytes));
    const Bytes expected = referenceBytes(good);
    for (WholeLineDecoder decoder : availableDecoders()) {
        SCOPED_TRACE(wholeLineDecoderName(decoder));
        for (std::size_t line = 0; line < 3; ++line)
            for (std::size_t column = 0; column < base64LineWithFeed; ++column)
                for (unsigned char bad : badCharacters) {
                    std::string text = good;
                    char& c = text[line * base64LineWithFeed + column];
                    // An alphabet character where the line feed stands: the feed is missing.
                    c = column == base64LineLength && bad == '\n' ? 'A' : static_cast<char>(bad);
                    const Decoded d = decode(decoder, text);
                    ASSERT_EQ(d.lines, line) << "line " << line << " column " << column << " character " << int(bad);
                    ASSERT_TRUE(std::equal(d.bytes.begin(), d.bytes.end(), expected.begin()));
                    ASSERT_FALSE(d.wroteOutside);
                }
    }
}

// Every byte value in every column of a line: taken, with the value the
// alphabet gives it, exactly where it is an alphabet character.
TEST(Base64WholeLines, EveryByteValueInEveryColumn)
{
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    TestRng rng(11);
    const std::string good = wholeLinesOf(rng.bytes(base64LineBytes));
    for (WholeLineDecoder decoder : availableDecoders()) {
        SCOPED_TRACE(wholeLineDecoderName(decoder));
        for (std::size_t column = 0; column < base64LineLength; ++column)
            for (int c = 0; c < 256; ++c) {
                std::string text = good;
                text[column] = static_cast<char>(c);
                const bool inAlphabet = c != 0 && alphabet.find(static_cast<char>(c)) != std::string::npos;
                const Decoded d = decode(decoder, text);
                ASSERT_EQ(d.lines, inAlphabet ? 1u : 0u) << "column " << column << " byte " << c;
                if (inAlphabet) {
                    ASSERT_TRUE(d.bytes == referenceBytes(text)) << "column " << column << " byte " << c;
                }
            }
    }
}

TEST(Base64WholeLines, NoLinesNoWork)
{
    for (WholeLineDecoder decoder : availableDecoders()) {
        std::uint8_t out = 0x5A;
        EXPECT_EQ(decodeWholeLinesWith(decoder, "", 0, &out), 0u);
        EXPECT_EQ(out, 0x5A);
    }
}

} // namespace
} // namespace dls2mml::test
