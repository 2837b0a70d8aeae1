// Rank transform: the move-to-front variant with promotion to position 1.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "compressor/rank_transform.h"
#include "support/test_support.h"

namespace dls2mml::test {
namespace {

using Transform = void (*)(std::span<std::uint8_t>, std::span<const std::uint8_t>) noexcept;

Bytes ranks(const Bytes& input, Transform transform = rankTransform)
{
    Bytes out(input.size() + 1, 0xEE);
    transform(std::span(out).first(input.size()), input);
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

// The list of all byte values as the rules read literally: a value found at
// place 1 goes to the front only after a non-zero rank, one found deeper goes
// to place 1. Both directions keep it alike.
class LiteralList {
public:
    LiteralList()
    {
        for (int i = 0; i < 256; ++i) list_[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    }
    int placeOf(std::uint8_t x) const { return static_cast<int>(std::find(list_.begin(), list_.end(), x) - list_.begin()); }
    std::uint8_t at(int j) const { return list_[static_cast<std::size_t>(j)]; }
    // The value at place j has just been coded.
    void promote(int j)
    {
        if (j == 1 && previous_ != 0) {
            std::swap(list_[0], list_[1]);
        } else if (j >= 2) {
            const std::uint8_t x = list_[static_cast<std::size_t>(j)];
            list_.erase(list_.begin() + j);
            list_.insert(list_.begin() + 1, x);
        }
        previous_ = j;
    }

private:
    std::vector<std::uint8_t> list_ = std::vector<std::uint8_t>(256);
    int previous_ = 1;
};

// The ranks by the rules read literally: each value's place, searched from the front.
Bytes referenceRanks(const Bytes& input)
{
    LiteralList list;
    Bytes out;
    for (std::uint8_t x : input) {
        const int j = list.placeOf(x);
        out.push_back(static_cast<std::uint8_t>(j));
        list.promote(j);
    }
    return out;
}

// Inputs that reach every place of the list, every piece boundary and both
// kinds of promotion, against the literal rules.
TEST(RankTransform, MatchesTheLiteralRules)
{
    TestRng rng(14);
    Bytes cycle;
    for (int round = 0; round < 8; ++round)
        for (int i = 0; i < 256; ++i) cycle.push_back(static_cast<std::uint8_t>(round % 2 ? 255 - i : i));
    Bytes near; // values recur after 14 to 18 others: ranks around the first piece boundary
    for (int i = 0; i < 4000; ++i) near.push_back(static_cast<std::uint8_t>((i * 7) % (15 + i / 1000)));
    Bytes runs;
    while (runs.size() < 5000) runs.insert(runs.end(), 1 + rng.below(4), static_cast<std::uint8_t>(rng.below(256)));
    struct Case {
        const char* name;
        Bytes input;
    } cases[] = {
        {"random", rng.bytes(20000)},
        {"two values", rng.bytes(3000, 2, 0)},
        {"small alphabet", rng.bytes(5000, 20, 100)},
        {"all values, both orders", cycle},
        {"around the first boundary", near},
        {"short runs", runs},
        {"ones and zeros", hex("00 01 00 01 01 01 00 00 01 FF FF 00 FF")},
        // Wide and narrow ranks by turns, so that the form changes mid-block
        // after every kind of rank, at and off the 1 KiB stretches.
        {"forms by turns", concat({rng.bytes(2500), runs, rng.bytes(1024), rng.bytes(3000, 3, 7), rng.bytes(777),
                                   hex("00 00 01"), rng.bytes(4096), near})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes expected = referenceRanks(c.input);
        EXPECT_EQ(ranks(c.input), expected);
        EXPECT_EQ(ranks(c.input, rankTransformWithoutPermutes), expected) << "without 512-bit permutes";
        EXPECT_EQ(ranks(c.input, rankTransformByList), expected) << "by list";
        EXPECT_EQ(ranks(c.input, rankTransformByPlaces), expected) << "by places";
    }
}

// The ranks of rankTransformSplit, checked for writing past them.
Bytes splitRanks(const Bytes& input, std::size_t streams, std::size_t spoiled, RankSplitOutcome& outcome)
{
    Bytes out(input.size() + 1, 0xEE);
    outcome = rankTransformSplit(std::span(out).first(input.size()), input, streams, spoiled);
    EXPECT_EQ(out.back(), 0xEE) << "wrote past the ranks";
    out.pop_back();
    return out;
}

// Bytes of the small alphabet a, b alternating: no rank 1 ever swaps a value
// to the front, so the front stays whatever it was.
Bytes alternating(std::size_t n)
{
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(i % 2 ? 'b' : 'a');
    return out;
}

// A block run as 2 to 4 stretches gives the ranks of one pass, each stretch
// starting from the true list; and a stretch made to start wrong is found
// out and runs again, whole.
TEST(RankTransform, SplitBlockMatchesOnePass)
{
    TestRng rng(7);
    const struct {
        const char* name;
        Bytes input;
    } cases[] = {
        {"sound-like", rng.bytes(30000, 40, 100)},
        // Rare values only early and once at the very end: they stand in
        // ascending order at the back for later stretches.
        {"rare values early", concat({hex("FF FE FD FC FB FA"), rng.bytes(9000, 26, 'a'), hex("FF")})},
        {"rare values early, odd length", concat({hex("FF FE FD FC FB FA"), rng.bytes(9001, 26, 'a'), hex("FC")})},
        // "qq" swaps q to the front at once; alternating a, b never swaps.
        {"front set once", concat({text("qq"), alternating(6000), text("q"), alternating(5999)})},
        {"every value", rng.bytes(40000)},
        {"zeros and ones", rng.bytes(7001, 2, 0)},
        {"empty", {}},
        {"one byte", hex("41")},
        {"two bytes", hex("41 41")},
        {"three bytes", hex("00 01 01")},
        {"five bytes", hex("00 01 01 00 FF")},
    };
    RankSplitOutcome probe;
    splitRanks(hex("00 01"), 2, 0, probe);
    const bool splits = probe.split; // only where the processor has 512-bit byte permutes
    if (!splits)
        std::printf("note: this processor has no 512-bit byte permutes; blocks run as one pass\n");
    for (const auto& c : cases) {
        const Bytes expected = referenceRanks(c.input);
        for (std::size_t streams = 2; streams <= 4; ++streams) {
            for (std::size_t spoiled = 0; spoiled < streams; ++spoiled) {
                SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(streams) + " stretches, spoiled " +
                             std::to_string(spoiled));
                RankSplitOutcome outcome;
                EXPECT_EQ(splitRanks(c.input, streams, spoiled, outcome), expected);
                const std::size_t length = c.input.size() / streams;
                EXPECT_EQ(outcome.split, splits && length > 0);
                if (!outcome.split)
                    continue;
                const std::size_t spoiledLength = spoiled + 1 < streams ? length : c.input.size() - spoiled * length;
                EXPECT_EQ(outcome.rerun, spoiled == 0 ? 0 : spoiledLength);
            }
        }
    }
}

// Random blocks, alphabets, stretch counts and spoiled stretches against one pass.
TEST(RankTransform, SplitBlockMatchesOnePassOnRandomSettings)
{
    TestRng rng(77);
    for (int i = 0; i < 300; ++i) {
        const Bytes input = rng.bytes(rng.below(6000), 1 + rng.below(256), static_cast<std::uint8_t>(rng.below(256)));
        const std::size_t streams = 2 + rng.below(3);
        const std::size_t spoiled = rng.below(2) == 0 ? 0 : rng.below(static_cast<std::uint32_t>(streams));
        RankSplitOutcome outcome;
        EXPECT_EQ(splitRanks(input, streams, spoiled, outcome), ranks(input, rankTransformWithoutPermutes))
            << "case " << i << ": " << input.size() << " bytes, " << streams << " stretches, spoiled " << spoiled;
        if (spoiled == 0) {
            EXPECT_EQ(outcome.rerun, 0u) << "case " << i << ": a derived starting list was wrong";
        }
    }
}

// Blocks long enough for rankTransform to split them, of every kind of list
// at the midpoint, and one byte either side of the length where it starts to.
TEST(RankTransform, LongBlocksMatchOnePass)
{
    TestRng rng(70);
    Bytes sound; // slowly varying 16-bit samples, low byte first
    for (int i = 0; i < 100000; ++i) {
        const auto v = static_cast<std::uint16_t>(8000 + (i % 400) * 20 + rng.below(64));
        sound.push_back(static_cast<std::uint8_t>(v & 0xFF));
        sound.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    const struct {
        const char* name;
        Bytes input;
    } cases[] = {
        {"sound-like", sound},
        {"random", rng.bytes(300001)},
        {"rare values first, small alphabet", concat({hex("FF 80 01"), rng.bytes(150000, 12, 'a'), hex("80")})},
        {"front set once", concat({text("qq"), alternating(rankSplitMinimum), text("q")})},
        {"one under the split", rng.bytes(rankSplitMinimum - 1, 20)},
        {"the shortest split", rng.bytes(rankSplitMinimum, 20)},
        {"one over the shortest split", rng.bytes(rankSplitMinimum + 1, 20)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ranks(c.input), ranks(c.input, rankTransformWithoutPermutes));
    }
}

using Inverse = void (*)(std::span<std::uint8_t>, std::span<const std::uint8_t>) noexcept;

Bytes column(const Bytes& ranks, Inverse inverse)
{
    Bytes out(ranks.size() + 1, 0xEE);
    inverse(std::span(out).first(ranks.size()), ranks);
    EXPECT_EQ(out.back(), 0xEE) << "wrote past the column";
    out.pop_back();
    return out;
}

// The inverse rules read literally: the value at place j comes out, and the
// list moves on as for the ranks.
Bytes referenceColumn(const Bytes& ranks)
{
    LiteralList list;
    Bytes out;
    for (std::uint8_t j : ranks) {
        out.push_back(list.at(j));
        list.promote(j);
    }
    return out;
}

// Every rank string is valid, so random ones test the inverse as well as any:
// the vector version (where the processor has it), the list in pieces and the
// portable one against the literal rules, with ranks at every register and
// piece boundary of the list.
TEST(RankTransform, InverseMatchesTheLiteralRules)
{
    TestRng rng(41);
    Bytes boundaries;
    for (int i = 0; i < 6000; ++i) {
        const std::uint8_t edges[] = {0, 1, 2, 15, 16, 17, 31, 32, 33, 62, 63, 64, 65, 126, 127, 128, 129, 190, 191, 192, 193, 239, 240, 254, 255};
        boundaries.push_back(edges[rng.below(sizeof edges)]);
    }
    Bytes small; // mostly 0 and 1, so both promotions and their order matter
    for (int i = 0; i < 6000; ++i) small.push_back(static_cast<std::uint8_t>(rng.below(8) < 6 ? rng.below(2) : rng.below(256)));
    struct Case {
        const char* name;
        Bytes ranks;
    } cases[] = {
        {"random", rng.bytes(30000)},
        {"register boundaries", boundaries},
        {"mostly 0 and 1", small},
        {"below 64", rng.bytes(5000, 64)},
        {"all 255", repeat(0xFF, 600)},
        {"ones after zeros", hex("00 01 01 00 01 00 00 01 02 01 01 FF 01 00 01")},
        {"empty", {}},
    };
    if (!undoRankTransformIsVectored())
        std::printf("note: this processor has no 512-bit byte permutes; only the portable inverse runs\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes expected = referenceColumn(c.ranks);
        EXPECT_EQ(column(c.ranks, undoRankTransform), expected);
        EXPECT_EQ(column(c.ranks, undoRankTransformByList), expected) << "list in pieces";
        EXPECT_EQ(column(c.ranks, undoRankTransformPortable), expected) << "portable";
    }
}

// Forward then back gives the input; every call starts afresh.
TEST(RankTransform, InverseUndoesTheTransform)
{
    TestRng rng(42);
    for (int i = 0; i < 60; ++i) {
        const Bytes input = rng.bytes(1 + rng.below(4000), 1 + rng.below(256), static_cast<std::uint8_t>(rng.below(256)));
        const Bytes r = ranks(input);
        EXPECT_EQ(column(r, undoRankTransform), input) << "case " << i;
    }
}

// The inverse transform on worked examples.
TEST(RankTransform, InverseWorkedExamples)
{
    Bytes descending(256);
    for (std::size_t i = 0; i < 256; ++i)
        descending[i] = static_cast<std::uint8_t>(255 - i);
    const struct {
        Bytes ranks;
        Bytes column;
    } cases[] = {
        {hex("61"), text("a")},
        {hex("61 62 63"), text("abc")},
        {hex("61 01 00 00"), text("aaaa")},
        {hex("61 62 02 02"), text("abab")},
        {hex("61 62 63 03 03 03"), text("abcabc")},
        {hex("62 62 6E 02 02 02"), text("banana")},
        {hex("05 01 07 00"), hex("05 05 07 05")},
        {hex("01 00 00"), hex("01 01 01")},
        {hex("00 01 00 01"), hex("00 01 00 01")},
        {hex("00 01 01 00"), hex("00 01 01 01")},
        {hex("02 02 01"), hex("02 01 01")},
        {concat({repeat(0xFF, 255), hex("00")}), descending},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(toHex(c.ranks));
        Bytes column(c.ranks.size());
        undoRankTransform(column, c.ranks);
        EXPECT_TRUE(column == c.column) << toHex(column);
    }
}

} // namespace
} // namespace dls2mml::test
