// Rank symbol coding: zero-run digits, shifted ranks, escapes and rank runs;
// and the symbols read back.
#include <gtest/gtest.h>

#include "compressor/rank_symbols.h"
#include "compressor/rank_transform.h"
#include "compressor/run_count.h"
#include "support/decoder_test_support.h"
#include "support/stage_decoders.h"
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

// Reading the symbols back into ranks, and its faults on symbols the coder
// cannot have written.
TEST(RankSymbols, ReaderWorkedExamples)
{
    const struct {
        Bytes ranks;
        Bytes symbols;
    } cases[] = {
        {repeat(0x00, 1), hex("00")},       {repeat(0x00, 2), hex("01")},
        {repeat(0x00, 7), hex("00 00 00")}, {repeat(0x00, 100), hex("01 00 01 00 00 01")},
        {repeat(0x00, 65535), repeat(0x00, 16)},
        {repeat(0x00, 65536), concat({hex("01"), repeat(0x00, 15)})},
        {repeat(0x00, 655360), concat({hex("01"), repeat(0x00, 16), hex("01 00")})},
        {hex("01 01 01"), hex("02 02 02 00")}, {repeat(0x01, 131), hex("02 02 02 80 00")},
        {repeat(0x07, 32898), hex("08 08 08 FF FF")}, {repeat(0x07, 32899), hex("08 08 08 FF FF 08")},
        {repeat(0x07, 32901), hex("08 08 08 FF FF 08 08 08 00")},
        {hex("FE FE"), hex("FF 00 FF 00")}, {hex("FF FF FF"), hex("FF 01 FF 01 FF 01")},
        {hex("FD FD FD"), hex("FE FE FE 00")},
        {hex("00 61 01 01 00 00 FE"), hex("00 62 02 02 01 FF 00")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(toHex(c.symbols));
        const Decoded d = readRankSymbols(c.symbols);
        ASSERT_FALSE(d.fault.failed()) << d.fault.message;
        EXPECT_TRUE(d.bytes == c.ranks);
    }
}

TEST(RankSymbols, WorstCaseFillsBothLimits)
{
    // Ranks 254/255 only: 655,360 ranks give 1,310,720 symbols, the most a
    // block can have; its payload range-decodes and reads back.
    TestRng rng(3);
    Bytes ranks(bufferSizeForLevel1);
    for (auto& r : ranks)
        r = static_cast<std::uint8_t>(254 + rng.below(2));
    Bytes symbols(rankSymbolsBound(ranks.size()));
    symbols.resize(static_cast<std::size_t>(codeRankSymbols(symbols, ranks)));
    ASSERT_EQ(symbols.size(), maxRankSymbols);
    const Bytes payload = payloadOfSymbols(symbols);
    EXPECT_LE(payload.size(), maxPayloadBytes);
    const Decoded coded = rangeDecode(payload);
    ASSERT_FALSE(coded.fault.failed()) << coded.fault.message;
    const Decoded back = readRankSymbols(coded.bytes);
    ASSERT_FALSE(back.fault.failed()) << back.fault.message;
    EXPECT_TRUE(back.bytes == ranks);
    // One rank more does not fit a block.
    EXPECT_TRUE(readRankSymbols(concat({symbols, hex("FF 00")})).fault.failed());
}

TEST(RankSymbols, ReaderFaults)
{
    const struct {
        const char* name;
        Bytes symbols;
        std::size_t capacity;
        FaultKind kind;
        std::size_t position;
    } cases[] = {
        {"escape at the end", hex("02 FF"), 100, FaultKind::corrupt, 1},
        {"escape then 2", hex("FF 02"), 100, FaultKind::corrupt, 1},
        {"escape then escape", hex("FF FF 00"), 100, FaultKind::corrupt, 1},
        {"run count missing", hex("05 02 02 02"), 100, FaultKind::corrupt, 1},
        {"two-byte run count cut", hex("02 02 02 80"), 1000, FaultKind::corrupt, 3},
        {"run count where none may stand", hex("02 02 02 05 02"), 100, FaultKind::corrupt, 4},
        {"zero run too long", hex("01 01 01"), 10, FaultKind::limitExceeded, 0},
        {"rank run too long", hex("02 02 02 07"), 9, FaultKind::limitExceeded, 0},
        {"escaped rank too many", hex("FF 00 FF 01"), 1, FaultKind::limitExceeded, 2},
        {"lone ranks past the limit", hex("02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13"), 13, FaultKind::limitExceeded, 13},
        {"pair across the limit", hex("02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0E 10 11"), 13, FaultKind::limitExceeded, 12},
        {"zero run across the limit", hex("02 03 04 05 06 07 08 09 0A 0B 0C 0D 01 10"), 13, FaultKind::limitExceeded, 12},
        {"run count missing after lone ranks", hex("02 03 04 05 06 07 08 09 0A 0B 0B 0B"), 100, FaultKind::corrupt, 9},
        // Lone ranks are read sixteen at a time where seventeen symbols follow.
        {"pair across the limit, more after", hex("02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0E 10 11 12 13 14 15"), 13,
         FaultKind::limitExceeded, 12},
        {"limit after sixteen lone ranks", hex("02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F 20 21 22 23"),
         17, FaultKind::limitExceeded, 17},
        {"escape in the last of sixteen", hex("02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 FF 02 03 04 05"), 100,
         FaultKind::corrupt, 16},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Decoded d = readRankSymbols(c.symbols, c.capacity);
        ASSERT_TRUE(d.fault.failed());
        EXPECT_EQ(faultKindName(d.fault.kind), std::string(faultKindName(c.kind))) << d.fault.message;
        EXPECT_EQ(d.fault.position, c.position);
    }
    // After the largest run count the same symbol may start a new run.
    EXPECT_FALSE(readRankSymbols(hex("08 08 08 FF FF 08 08")).fault.failed());
}

// Ranks of many kinds through the coder and back, including runs of every
// length class, escapes and long stretches of lone ranks.
// The coding written plainly, one group of equal ranks at a time (runs here
// stay below the cap of a group).
Bytes symbolsByGroups(const Bytes& ranks)
{
    Bytes out;
    for (std::size_t p = 0; p < ranks.size();) {
        const std::uint8_t r = ranks[p];
        std::size_t length = 1;
        while (p + length < ranks.size() && ranks[p + length] == r)
            ++length;
        p += length;
        if (r == 0) {
            for (std::size_t v = length + 1; v != 1; v >>= 1)
                out.push_back(static_cast<std::uint8_t>(v & 1));
        } else if (r >= 254) {
            for (std::size_t i = 0; i < length; ++i)
                out.insert(out.end(), {0xFF, static_cast<std::uint8_t>(r - 254)});
        } else {
            out.insert(out.end(), std::min<std::size_t>(length, 3), static_cast<std::uint8_t>(r + 1));
            if (length >= 3) {
                std::uint8_t count[2];
                out.insert(out.end(), count, count + writeRunCount(count, static_cast<std::int32_t>(length - 3)));
            }
        }
    }
    return out;
}

TEST(RankSymbols, PlainStretchesWithEveryKindOfGroupAtEveryPlace)
{
    // Ranks that each stand alone, with a group of another kind placed at
    // every offset around the sixteen-rank stretches, and near the end.
    const struct {
        const char* name;
        Bytes group;
    } groups[] = {
        {"one zero", hex("00")},      {"three zeros", hex("00 00 00")}, {"254", hex("FE")},
        {"255 255", hex("FF FF")},   {"a pair", hex("07 07")},         {"a run of five", hex("09 09 09 09 09")},
        {"a 1 after a 0", hex("00 01")},
    };
    for (const auto& g : groups)
        for (std::size_t length = 15; length <= 60; ++length)
            for (std::size_t at = 0; at < length; ++at) {
                Bytes ranks(length);
                for (std::size_t i = 0; i < length; ++i)
                    ranks[i] = static_cast<std::uint8_t>(2 + (i * 37) % 250);
                for (std::size_t i = 0; i < g.group.size() && at + i < length; ++i)
                    ranks[at + i] = g.group[i];
                SCOPED_TRACE(testing::Message() << g.name << " at " << at << " of " << length);
                ASSERT_EQ(toHex(symbols(ranks)), toHex(symbolsByGroups(ranks)));
            }
}

TEST(RankSymbols, ReaderUndoesTheCoder)
{
    TestRng rng(23);
    auto mixed = [&](std::size_t n) {
        Bytes out;
        while (out.size() < n) {
            const std::uint32_t kind = rng.below(10);
            const std::size_t length = kind < 6 ? 1 : kind < 8 ? 1 + rng.below(6) : 1 + rng.below(40000);
            out.insert(out.end(), length, static_cast<std::uint8_t>(kind < 3 ? 0 : rng.below(256)));
        }
        out.resize(n);
        return out;
    };
    const Bytes cases[] = {mixed(50000), mixed(3000), rng.bytes(20000), rng.bytes(5000, 2, 254), rng.bytes(8000, 3),
                           mixed(bufferSizeForLevel1)};
    for (const Bytes& ranks : cases) {
        SCOPED_TRACE(ranks.size());
        Bytes symbols(rankSymbolsBound(ranks.size()));
        symbols.resize(static_cast<std::size_t>(codeRankSymbols(symbols, ranks)));
        const Decoded d = readRankSymbols(symbols);
        ASSERT_FALSE(d.fault.failed()) << d.fault.message;
        EXPECT_TRUE(d.bytes == ranks);
    }
}

// The symbols read straight into the last column: sound exactly where the
// reader finds no fault, and then the column of the two steps one after the
// other. Valid codings, faulty ones of every kind, and damaged ones.
TEST(RankSymbols, ColumnStraightFromSymbolsAgreesWithTheTwoSteps)
{
    if (!undoRankTransformIsVectored())
        GTEST_SKIP() << "the list is not kept in vector registers on this processor";
    TestRng rng(41);
    struct Case {
        Bytes symbols;
        std::size_t limit;
    };
    std::vector<Case> cases = {
        {hex("02 FF"), 100},         {hex("FF 02"), 100},        {hex("FF FF 00"), 100},          {hex("05 02 02 02"), 100},
        {hex("02 02 02 80"), 1000},  {hex("02 02 02 05 02"), 100}, {hex("01 01 01"), 13},         {hex("01 01 01"), 14},
        {hex("02 02 02 07"), 9},     {hex("02 02 02 07"), 10},   {hex("FF 00 FF 01"), 1},         {hex("FF 00 FF 01"), 2},
        {hex("08 08 08 FF FF 08 08"), 40000}, {hex("00 01 02 00 02 01 03"), 20}, {hex("01"), 2}, {hex("03 03"), 1},
        {hex("03 03"), 2},           {Bytes{}, 10},
    };
    for (std::size_t n : {std::size_t{300}, std::size_t{5000}, std::size_t{60000}}) {
        Bytes ranks = rng.bytes(n);
        for (std::size_t i = 0; i < n; i += 1 + rng.below(20))
            ranks.insert(ranks.begin() + static_cast<std::ptrdiff_t>(i), 1 + rng.below(300), static_cast<std::uint8_t>(rng.below(3) == 0 ? 0 : rng.below(256)));
        Bytes coded(rankSymbolsBound(ranks.size()));
        coded.resize(static_cast<std::size_t>(codeRankSymbols(coded, ranks)));
        cases.push_back({coded, bufferSizeForLevel1});
        cases.push_back({coded, ranks.size()});
        cases.push_back({coded, ranks.size() - 1});
        for (int damage = 0; damage < 20; ++damage) {
            Bytes damaged = coded;
            damaged[rng.below(static_cast<std::uint32_t>(damaged.size()))] = static_cast<std::uint8_t>(rng.below(256));
            cases.push_back({damaged, bufferSizeForLevel1});
        }
    }
    for (int i = 0; i < 200; ++i)
        cases.push_back({rng.bytes(1 + rng.below(64), 8), 1 + rng.below(200)});

    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << toHex(Bytes(c.symbols.begin(), c.symbols.begin() + std::min<std::size_t>(c.symbols.size(), 24)))
                                        << " limit " << c.limit);
        const Decoded two = readRankSymbols(c.symbols, c.limit);
        Bytes expected(two.bytes.size());
        undoRankTransformPortable(expected, two.bytes);
        Bytes column(c.limit + rankColumnRoom); // exactly the room asked for: any overrun is caught
        std::size_t length = 0;
        const bool sound = undoRankSymbolsAndTransform(column, c.symbols, c.limit, length);
        ASSERT_EQ(sound, !two.fault.failed()) << two.fault.message;
        if (sound) {
            ASSERT_EQ(length, expected.size());
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), column.begin()));
        }
    }
}

// The readers keep their buffers from one block to the next: what an earlier,
// longer block left in them never shows in a later one.
TEST(RankSymbols, ReaderReusesItsBufferForTheNewBlockOnly)
{
    const Bytes shortSymbols = hex("05 01 06 06 08 08 08 00");
    ReusedBytes ranks;
    ASSERT_FALSE(decodeRankSymbols(hex("08 08 08 FF FF"), ranks).failed());
    ASSERT_FALSE(decodeRankSymbols(shortSymbols, ranks).failed());
    const Bytes read(ranks.begin(), ranks.end());
    EXPECT_EQ(toHex(read), toHex(readRankSymbols(shortSymbols).bytes));
    EXPECT_EQ(toHex(read), "04 00 00 05 05 07 07 07");
}

} // namespace
} // namespace dls2mml::test
