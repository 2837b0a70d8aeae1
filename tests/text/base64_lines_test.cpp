// Base64 lines: line feeds after 128 characters, padding counted with them.
#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"
#include "text/base64_lines.h"

namespace dls2mml::test {
namespace {

std::string encode(const Bytes& data)
{
    std::string out(base64LinesLength(data.size()) + 2, '#');
    const std::int32_t count = encodeBase64Lines(data.data(), static_cast<std::uint32_t>(data.size()), out.data());
    EXPECT_EQ(static_cast<std::uint64_t>(count), base64LinesLength(data.size()));
    EXPECT_EQ(out[static_cast<std::size_t>(count)], '\0') << "terminating NUL";
    EXPECT_EQ(out[static_cast<std::size_t>(count) + 1], '#') << "wrote past the NUL";
    out.resize(static_cast<std::size_t>(count));
    return out;
}

std::string encodeInPieces(const Bytes& data, std::size_t piece)
{
    Base64LineEncoder encoder;
    std::string out;
    for (std::size_t at = 0; at < data.size(); at += piece) {
        const std::size_t n = std::min(piece, data.size() - at);
        std::string chunk(Base64LineEncoder::feedBound(n), '#');
        chunk.resize(encoder.feed(std::span(data).subspan(at, n), chunk.data()));
        out += chunk;
    }
    std::string tail(Base64LineEncoder::finishBound, '#');
    tail.resize(encoder.finish(tail.data()));
    out += tail;
    EXPECT_EQ(encoder.written(), out.size());
    return out;
}

Bytes ascending(std::size_t n)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i);
    return b;
}

TEST(Base64Lines, WorkedExamples)
{
    const std::string line(128, 'A');
    struct Case {
        const char* name;
        Bytes input;
        std::string expected;
    } cases[] = {
        {"empty", {}, "===="},
        {"a", text("a"), "YQ=="},
        {"ab", text("ab"), "YWI="},
        {"abc: four '='", text("abc"), "YWJj===="},
        {"abcd", text("abcd"), "YWJjZA=="},
        {"seven FF", repeat(0xFF, 7), "/////////w=="},
        {"95 zero bytes", repeat(0x00, 95), std::string(127, 'A') + "="},
        {"96 bytes 00..5F", ascending(96),
         "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4OTo7PD0+P0BBQkNERUZH"
         "SElKS0xNTk9QUVJTVFVWV1hZWltcXV5f\n==="},
        {"97 zero bytes", repeat(0x00, 97), line + "\nAA="},
        {"384 zero bytes", repeat(0x00, 384), line + "\n" + line + "\n" + line + "\n" + line + "\n===="},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(encode(c.input), c.expected);
    }
}

TEST(Base64Lines, TwoFullLinesOfAnyValue)
{
    TestRng rng(192);
    const std::string text = encode(rng.bytes(192));
    ASSERT_EQ(text.size(), 260u);
    EXPECT_EQ(text[128], '\n');
    EXPECT_EQ(text[257], '\n');
    EXPECT_EQ(text.substr(258), "==");
    EXPECT_EQ(text.find_first_of("\n="), 128u);
}

TEST(Base64Lines, LengthFormulaAndLineLayout)
{
    TestRng rng(3);
    for (std::size_t n = 0; n <= 1000; ++n) {
        SCOPED_TRACE(n);
        const std::string text = encode(rng.bytes(n));
        const std::size_t chars = (4 * n + 2) / 3;
        const std::size_t feeds = chars / 128;
        EXPECT_EQ(text.size(), chars + feeds + (4 - (chars + feeds) % 4));
        // Line feeds stand exactly after every 128 alphabet characters.
        for (std::size_t i = 0; i < chars + feeds; ++i) ASSERT_EQ(text[i] == '\n', i % 129 == 128) << "at " << i;
        ASSERT_EQ(text.back(), '=');
    }
}

TEST(Base64Lines, IncrementalEncoderGivesTheSameText)
{
    TestRng rng(9);
    for (std::size_t n : {0u, 1u, 2u, 3u, 95u, 96u, 97u, 191u, 192u, 193u, 384u, 1000u, 4099u}) {
        const Bytes data = rng.bytes(n);
        const std::string whole = encode(data);
        for (std::size_t piece = 1; piece <= 7; ++piece) {
            SCOPED_TRACE("n=" + std::to_string(n) + " piece=" + std::to_string(piece));
            EXPECT_EQ(encodeInPieces(data, piece), whole);
        }
        SCOPED_TRACE("one piece");
        EXPECT_EQ(encodeInPieces(data, n ? n : 1), whole);
    }
}

} // namespace
} // namespace dls2mml::test
