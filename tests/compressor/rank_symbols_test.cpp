// Rank symbol coding: zero-run digits, shifted ranks, escapes and rank runs.
#include <gtest/gtest.h>

#include "compressor/rank_symbols.h"
#include "support/test_support.h"

namespace dls2mml::test {
namespace {

Bytes symbols(const Bytes& ranks)
{
    Bytes out(rankSymbolsBound(ranks.size())); // exactly the bound: any overrun is caught
    const std::int32_t k = codeRankSymbols(out, ranks);
    EXPECT_GE(k, 0);
    EXPECT_LE(static_cast<std::size_t>(k), out.size());
    out.resize(static_cast<std::size_t>(k));
    return out;
}

TEST(RankSymbols, ZeroRuns)
{
    struct Case {
        std::size_t zeros;
        Bytes expected;
    } cases[] = {
        {1, hex("00")},
        {2, hex("01")},
        {3, hex("00 00")},
        {4, hex("01 00")},
        {5, hex("00 01")},
        {6, hex("01 01")},
        {7, hex("00 00 00")},
        {8, hex("01 00 00")},
        {100, hex("01 00 01 00 00 01")},
        {65535, repeat(0x00, 16)},
        {65536, concat({hex("01"), repeat(0x00, 15)})},
        {655360, concat({hex("01"), repeat(0x00, 16), hex("01 00")})}, // 655,361 = 0xA0001: 19 digits
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.zeros) + " zero ranks");
        EXPECT_EQ(toHex(symbols(repeat(0x00, c.zeros))), toHex(c.expected));
    }
}

TEST(RankSymbols, RanksRunsAndEscapes)
{
    struct Case {
        const char* name;
        Bytes ranks;
        Bytes expected;
    } cases[] = {
        {"01", hex("01"), hex("02")},
        {"01 01", hex("01 01"), hex("02 02")},
        {"01 x3", repeat(0x01, 3), hex("02 02 02 00")},
        {"01 x4", repeat(0x01, 4), hex("02 02 02 01")},
        {"01 x130", repeat(0x01, 130), hex("02 02 02 7F")},
        {"01 x131", repeat(0x01, 131), hex("02 02 02 80 00")},
        {"01 x132", repeat(0x01, 132), hex("02 02 02 80 01")},
        {"07 x32,898", repeat(0x07, 32898), hex("08 08 08 FF FF")},
        {"07 x32,899", repeat(0x07, 32899), hex("08 08 08 FF FF 08")},
        {"07 x32,900", repeat(0x07, 32900), hex("08 08 08 FF FF 08 08")},
        {"07 x32,901", repeat(0x07, 32901), hex("08 08 08 FF FF 08 08 08 00")},
        {"FE", hex("FE"), hex("FF 00")},
        {"FF", hex("FF"), hex("FF 01")},
        {"FE FE", hex("FE FE"), hex("FF 00 FF 00")},
        {"FF x3", repeat(0xFF, 3), hex("FF 01 FF 01 FF 01")},
        {"FD x3", repeat(0xFD, 3), hex("FE FE FE 00")},
        {"61 62 63", hex("61 62 63"), hex("62 63 64")},
        {"mixed", hex("00 61 01 01 00 00 FE"), hex("00 62 02 02 01 FF 00")},
        {"empty", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(toHex(symbols(c.ranks)), toHex(c.expected));
    }
}

TEST(RankSymbols, EscapedRanksDoubleTheLength)
{
    TestRng rng(11);
    const Bytes ranks = rng.bytes(655360, 2, 0xFE); // a whole buffer of FE and FF
    const Bytes out = symbols(ranks);
    ASSERT_EQ(out.size(), 2 * ranks.size());
    for (std::size_t i = 0; i < ranks.size(); ++i) {
        ASSERT_EQ(out[2 * i], 0xFF);
        ASSERT_EQ(out[2 * i + 1], ranks[i] - 0xFE);
    }
}

} // namespace
} // namespace dls2mml::test
