// Rank transform: the move-to-front variant with promotion to position 1.
#include <gtest/gtest.h>

#include "compressor/rank_transform.h"
#include "test_support.h"

namespace dls2mml::test {
namespace {

Bytes ranks(const Bytes& input)
{
    Bytes out(input.size() + 1, 0xEE);
    rankTransform(std::span(out).first(input.size()), input);
    EXPECT_EQ(out.back(), 0xEE) << "wrote past the ranks";
    out.pop_back();
    return out;
}

TEST(RankTransform, WorkedExamples)
{
    Bytes descending(256);
    for (int i = 0; i < 256; ++i) descending[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(255 - i);
    struct Case {
        const char* name;
        Bytes input;
        Bytes expected;
    } cases[] = {
        {"a", text("a"), hex("61")},
        {"abc", text("abc"), hex("61 62 63")},
        {"aaaa", text("aaaa"), hex("61 01 00 00")},
        {"abab", text("abab"), hex("61 62 02 02")},
        {"abcabc", text("abcabc"), hex("61 62 63 03 03 03")},
        {"banana", text("banana"), hex("62 62 6E 02 02 02")},
        {"05 05 07 05", hex("05 05 07 05"), hex("05 01 07 00")},
        {"01 01 01", hex("01 01 01"), hex("01 00 00")},
        {"00 01 00 01", hex("00 01 00 01"), hex("00 01 00 01")},
        {"00 01 01 01", hex("00 01 01 01"), hex("00 01 01 00")},
        {"02 01 01", hex("02 01 01"), hex("02 02 01")},
        {"descending 256", descending, concat({repeat(0xFF, 255), hex("00")})},
        {"empty", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(toHex(ranks(c.input)), toHex(c.expected));
    }
}

// Every call starts from the identity list and a previous rank of 1.
TEST(RankTransform, KeepsNoStateBetweenCalls)
{
    ranks(text("zyxwvutsrq"));
    EXPECT_EQ(toHex(ranks(text("aaaa"))), "61 01 00 00");
    EXPECT_EQ(toHex(ranks(hex("01 01 01"))), "01 00 00");
}

} // namespace
} // namespace dls2mml::test
