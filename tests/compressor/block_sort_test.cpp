// Block sort: worked rotations, pivot draws and their carry-over, and the sort
// against a naive sort of all rotations on generated blocks; and the inverse.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <string>

#include "compressor/block_sort.h"
#include "support/stage_decoders.h"
#include "support/test_support.h"

namespace dls2mml::test {
namespace {

struct Sorted {
    std::string lastColumn;
    std::int32_t primaryIndex = -1;
    std::vector<std::int32_t> rows; // rotation start of every row
    bool ok = false;
};

Sorted sort(const Bytes& block, PivotGenerator& generator)
{
    const auto n = static_cast<std::int32_t>(block.size());
    Bytes work(block);
    work.push_back(0xEE); // the spare byte
    Bytes last(block.size() + 1, 0xEE);
    SortArrays arrays(block.size());
    const SortResult r = sortBlock(work, n, std::span(last).first(block.size()), arrays, generator);
    Sorted s;
    s.ok = r.ok;
    s.primaryIndex = r.primaryIndex;
    s.lastColumn.assign(last.begin(), last.begin() + n);
    for (std::int32_t row = 0; row < n; ++row) s.rows.push_back(arrays.suffixArray[static_cast<std::size_t>(row)]);
    EXPECT_EQ(last[block.size()], 0xEE) << "wrote past the last column";
    if (n > 0) {
        EXPECT_EQ(work[block.size()], block[0]) << "spare byte holds a copy of the first";
    }
    return s;
}

Sorted sort(const Bytes& block)
{
    PivotGenerator fresh;
    return sort(block, fresh);
}

std::uint32_t stateAfterDraws(int draws)
{
    PivotGenerator g;
    for (int i = 0; i < draws; ++i) g.draw();
    return g.state();
}

TEST(PivotGenerator, DrawsFromStateOne)
{
    PivotGenerator g;
    EXPECT_EQ(g.state(), 1u);
    EXPECT_EQ(g.draw(), 41u);
    EXPECT_EQ(g.state(), 2745024u);
    for (std::uint32_t expected : {18467u, 6334u, 26500u, 19169u}) EXPECT_EQ(g.draw(), expected);
}

TEST(BlockSort, WorkedExamples)
{
    struct Case {
        const char* name;
        Bytes block;
        std::string lastColumn;
        std::int32_t primaryIndex;
        std::vector<std::int32_t> rows; // empty: not given
    } cases[] = {
        {"banana", text("banana"), "nnbaaa", 3, {5, 3, 1, 0, 4, 2}},
        {"abracadabra", text("abracadabra"), "rdarcaaaabb", 2, {}},
        {"mississippi", text("mississippi"), "pssmipissii", 4, {10, 7, 4, 1, 0, 9, 8, 6, 3, 5, 2}},
        {"aaba", text("aaba"), "baaa", 1, {3, 0, 1, 2}},
        {"abc", text("abc"), "cab", 0, {0, 1, 2}},
        {"n = 1", text("x"), "x", 0, {0}},
        {"n = 2 equal", text("qq"), "qq", 0, {}},
        {"ba", text("ba"), "ba", 1, {1, 0}},
        {"abab", text("abab"), "bbaa", 0, {0, 2, 1, 3}},
        {"abcabc", text("abcabc"), "ccaabb", 0, {0, 3, 4, 1, 2, 5}},
        {"12 equal bytes", repeat('z', 12), std::string(12, 'z'), 0, {}},
        {"ab x 12", repeat("ab", 12), "bbbbbbbbbbbbaaaaaaaaaaaa", 0, {}},
        {"bytes above 7F sort as unsigned", hex("80 01 FF"), "\x80\xFF\x01", 1, {1, 0, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Sorted s = sort(c.block);
        ASSERT_TRUE(s.ok);
        EXPECT_EQ(s.lastColumn, c.lastColumn);
        EXPECT_EQ(s.primaryIndex, c.primaryIndex);
        if (!c.rows.empty()) {
            EXPECT_EQ(s.rows, c.rows);
        }
    }
}

TEST(BlockSort, EmptyBlockWritesNothing)
{
    Bytes work = {0x42};
    Bytes last = {0xEE};
    SortArrays arrays(1);
    PivotGenerator g;
    const SortResult r = sortBlock(work, 0, std::span(last).first(0), arrays, g);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.primaryIndex, 0);
    EXPECT_EQ(last[0], 0xEE);
    EXPECT_EQ(g.state(), 1u);
}

TEST(BlockSort, DrawCounts)
{
    struct Case {
        const char* name;
        Bytes block;
        int draws;
    } cases[] = {
        {"11 equal bytes: finished without a draw", repeat('z', 11), 0},
        {"12 equal bytes: one draw per pass (h = 2, 4, 8)", repeat('z', 12), 3},
        {"distinct rotations in small groups", text("mississippi"), 0},
        {"n = 2: no pass", text("aa"), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PivotGenerator g;
        sort(c.block, g);
        EXPECT_EQ(g.state(), stateAfterDraws(c.draws));
    }
}

// Two blocks sorted one after the other from a fresh state: the second block
// sees the state the first left behind.
TEST(BlockSort, PivotStateCarriesFromBlockToBlock)
{
    PivotGenerator g;
    const Sorted first = sort(repeat("aaab", 6), g);
    EXPECT_EQ(first.lastColumn, "bbbbbbaaaaaaaaaaaaaaaaaa");
    EXPECT_EQ(first.primaryIndex, 4);
    EXPECT_EQ(g.state(), stateAfterDraws(1));
    const Sorted second = sort(repeat("aaaab", 4), g);
    EXPECT_EQ(second.lastColumn, "bbbbaaaaaaaaaaaaaaaa");
    EXPECT_EQ(second.primaryIndex, 2);
    EXPECT_EQ(g.state(), stateAfterDraws(2));

    // From another state the same block keeps its last column but not its row.
    bool sawOtherRow = false;
    for (std::uint32_t state = 2; state < 40 && !sawOtherRow; ++state) {
        PivotGenerator other;
        other.setState(state);
        const Sorted s = sort(repeat("aaab", 6), other);
        EXPECT_EQ(s.lastColumn, first.lastColumn);
        EXPECT_GE(s.primaryIndex, 0);
        EXPECT_LE(s.primaryIndex, 5); // rows 0 to 5 hold rotations equal to the block
        sawOtherRow = s.primaryIndex != first.primaryIndex;
    }
    EXPECT_TRUE(sawOtherRow);
}

// Periodic blocks at several generator states: the row of rotation 0 follows
// from which of the three rows each draw picks (first, middle, last by x mod 3),
// and every partitioned range of 12 or more rows draws exactly once.
TEST(BlockSort, PrimaryIndexFollowsThePivotDraws)
{
    struct Case {
        const char* pattern;
        std::size_t repeats;
        int drawsBefore;
        std::int32_t primaryIndex;
        int drawsMade;
    } cases[] = {
        {"aaaab", 12, 0, 4, 25}, {"aaaab", 12, 1, 7, 25}, {"aaaab", 12, 2, 7, 25},
        {"aaaab", 12, 3, 4, 25}, {"aaaab", 12, 4, 7, 25}, {"aaaab", 12, 5, 7, 25},
        {"aab", 13, 0, 0, 15},   {"abaab", 16, 0, 16, 30}, {"aabb", 20, 3, 0, 24},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pattern) + " x " + std::to_string(c.repeats) + " after " +
                     std::to_string(c.drawsBefore) + " draws");
        PivotGenerator g;
        g.setState(stateAfterDraws(c.drawsBefore));
        const Sorted s = sort(repeat(c.pattern, c.repeats), g);
        EXPECT_EQ(s.primaryIndex, c.primaryIndex);
        EXPECT_EQ(g.state(), stateAfterDraws(c.drawsBefore + c.drawsMade));
    }
}

// The process-wide generator is the default and is shared by every sort.
TEST(BlockSort, DefaultGeneratorIsTheProcessWideOne)
{
    const std::uint32_t saved = pivotGenerator.state();
    pivotGenerator.setState(1);
    Bytes work = repeat("aaab", 6);
    work.push_back(0);
    Bytes last(24);
    SortArrays arrays(24);
    EXPECT_EQ(sortBlock(work, 24, last, arrays).primaryIndex, 4);
    EXPECT_EQ(pivotGenerator.state(), stateAfterDraws(1));
    pivotGenerator.setState(saved);
}

// Reference: every rotation, sorted stably by a plain comparison.
struct Naive {
    std::vector<std::int32_t> rows;
    std::string lastColumn;
};

Naive naiveSort(const Bytes& b)
{
    const std::size_t n = b.size();
    Naive r;
    r.rows.resize(n);
    std::iota(r.rows.begin(), r.rows.end(), 0);
    auto less = [&](std::int32_t s, std::int32_t t) {
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint8_t x = b[(static_cast<std::size_t>(s) + i) % n];
            const std::uint8_t y = b[(static_cast<std::size_t>(t) + i) % n];
            if (x != y) return x < y;
        }
        return false;
    };
    std::stable_sort(r.rows.begin(), r.rows.end(), less);
    for (std::int32_t s : r.rows) r.lastColumn.push_back(static_cast<char>(b[(static_cast<std::size_t>(s) + n - 1) % n]));
    return r;
}

bool rotationEqualsBlock(const Bytes& b, std::int32_t s)
{
    const std::size_t n = b.size();
    for (std::size_t i = 0; i < n; ++i)
        if (b[(static_cast<std::size_t>(s) + i) % n] != b[i]) return false;
    return true;
}

bool allRotationsDistinct(const Bytes& b)
{
    for (std::int32_t s = 1; s < static_cast<std::int32_t>(b.size()); ++s)
        if (rotationEqualsBlock(b, s)) return false;
    return true;
}

void checkAgainstNaive(const Bytes& block, PivotGenerator& g)
{
    const Sorted s = sort(block, g);
    const Naive expected = naiveSort(block);
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(s.lastColumn, expected.lastColumn);
    ASSERT_GE(s.primaryIndex, 0);
    ASSERT_LT(s.primaryIndex, static_cast<std::int32_t>(block.size()));
    if (allRotationsDistinct(block)) {
        EXPECT_EQ(s.rows, expected.rows);
        EXPECT_EQ(s.primaryIndex, std::find(expected.rows.begin(), expected.rows.end(), 0) - expected.rows.begin());
    } else {
        // Rows are a permutation, each row holding a rotation equal to the
        // reference's; the primary row holds a rotation equal to the block.
        std::vector<std::int32_t> seen(s.rows);
        std::sort(seen.begin(), seen.end());
        for (std::size_t i = 0; i < seen.size(); ++i) ASSERT_EQ(seen[i], static_cast<std::int32_t>(i));
        EXPECT_EQ(s.rows[static_cast<std::size_t>(s.primaryIndex)], 0);
        EXPECT_TRUE(rotationEqualsBlock(block, expected.rows[static_cast<std::size_t>(s.primaryIndex)]));
    }
}

TEST(BlockSortProperty, MatchesNaiveSortOnGeneratedBlocks)
{
    TestRng rng(20261209);
    PivotGenerator g; // carried through all blocks, as in a real process
    for (int round = 0; round < 300; ++round) {
        const std::size_t n = 1 + rng.below(400);
        Bytes block;
        std::string kind;
        switch (round % 6) {
        case 0: kind = "random"; block = rng.bytes(n); break;
        case 1: kind = "two letters"; block = rng.bytes(n, 2, 'a'); break;
        case 2: kind = "three letters"; block = rng.bytes(n, 3, 'a'); break;
        case 3: { // periodic with fewer than 12 repeats
            kind = "periodic < 12";
            const Bytes unit = rng.bytes(1 + rng.below(20), 1 + rng.below(3), 'a');
            for (std::uint32_t k = 2 + rng.below(10); k > 0; --k) block.insert(block.end(), unit.begin(), unit.end());
            break;
        }
        case 4: { // periodic with 12 or more repeats: groups partitioning cannot split
            kind = "periodic >= 12";
            const Bytes unit = rng.bytes(1 + rng.below(6), 1 + rng.below(3), 'a');
            for (std::uint32_t k = 12 + rng.below(30); k > 0; --k) block.insert(block.end(), unit.begin(), unit.end());
            break;
        }
        default: { // long runs and near-periodic blocks
            kind = "runs";
            while (block.size() < n) block.insert(block.end(), 1 + rng.below(40), static_cast<std::uint8_t>('a' + rng.below(3)));
            break;
        }
        }
        SCOPED_TRACE(kind + " #" + std::to_string(round) + " n=" + std::to_string(block.size()));
        checkAgainstNaive(block, g);
        if (HasFatalFailure()) return;
    }
}

// Distinct rotations: the result does not depend on the generator's state.
TEST(BlockSortProperty, DistinctRotationsIgnoreThePivotState)
{
    TestRng rng(7);
    for (int round = 0; round < 40; ++round) {
        const Bytes block = rng.bytes(50 + rng.below(2000), 2, 'a');
        if (!allRotationsDistinct(block)) continue;
        PivotGenerator a, b;
        b.setState(rng.next());
        const Sorted x = sort(block, a), y = sort(block, b);
        EXPECT_EQ(x.lastColumn, y.lastColumn);
        EXPECT_EQ(x.primaryIndex, y.primaryIndex);
    }
}

// Large blocks of bufferSize bytes that make deep partitioning and many passes.
TEST(BlockSortProperty, LargeBlocksFinish)
{
    struct Case {
        const char* name;
        Bytes block;
    } cases[] = {
        {"all equal", repeat('a', 655360)},
        {"period 10", repeat("aaaa\x01" "bbbb\x01", 65536)},
        {"ascending ramp", [] {
             Bytes b(655360);
             for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(i / 2570);
             return b;
         }()},
        {"two letters", TestRng(3).bytes(655360, 2)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PivotGenerator g;
        const Sorted s = sort(c.block, g);
        ASSERT_TRUE(s.ok);
        Bytes sortedLast(s.lastColumn.begin(), s.lastColumn.end());
        Bytes original(c.block);
        std::sort(sortedLast.begin(), sortedLast.end());
        std::sort(original.begin(), original.end());
        EXPECT_TRUE(sortedLast == original) << "last column is not a permutation of the block";
        EXPECT_EQ(s.rows[static_cast<std::size_t>(s.primaryIndex)], 0);
    }
}

// The inverse block sort: columns read back into their blocks (any row of
// an equal rotation will do), and columns that no block has, refused.
TEST(BlockSort, InverseWorkedExamples)
{
    const struct {
        Bytes column;
        std::uint32_t primaryIndex;
        Bytes block;
    } cases[] = {
        {text("nnbaaa"), 3, text("banana")},
        {text("rdarcaaaabb"), 2, text("abracadabra")},
        {text("pssmipissii"), 4, text("mississippi")},
        {text("baaa"), 1, text("aaba")},
        {text("cab"), 0, text("abc")},
        {text("z"), 0, text("z")},
        {text("qq"), 0, text("qq")},
        {text("ba"), 1, text("ba")},
        {text("bbaa"), 0, text("abab")},
        {text("ccaabb"), 0, text("abcabc")},
        {repeat('q', 12), 0, repeat('q', 12)},
        {repeat('q', 12), 7, repeat('q', 12)},
        {concat({repeat('b', 12), repeat('a', 12)}), 0, repeat("ab", 12)},
        {concat({repeat('b', 6), repeat('a', 18)}), 4, repeat("aaab", 6)}, // any row of an equal rotation
        {concat({repeat('b', 6), repeat('a', 18)}), 0, repeat("aaab", 6)},
        {concat({repeat('b', 4), repeat('a', 16)}), 2, repeat("aaaab", 4)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.block.begin(), c.block.end()));
        const Decoded d = unsortColumn(c.column, c.primaryIndex);
        ASSERT_FALSE(d.fault.failed()) << d.fault.message;
        EXPECT_TRUE(d.bytes == c.block);
    }
}

TEST(BlockSort, InverseRefusesColumnsOfNoBlock)
{
    const struct {
        Bytes column;
        std::uint32_t primaryIndex;
        FaultKind kind;
    } cases[] = {
        {text("abc"), 3, FaultKind::corrupt},
        {text("ab"), 0, FaultKind::corrupt},                   // two one-row cycles
        {text("abc"), 1, FaultKind::corrupt},                  // three one-row cycles
        {text("bbaab"), 0, FaultKind::corrupt}, // a 2-row cycle in 5 rows
        {text("abab"), 1, FaultKind::corrupt},                 // two cycles of 2, unaligned
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.column.begin(), c.column.end()));
        const Decoded d = unsortColumn(c.column, c.primaryIndex);
        ASSERT_TRUE(d.fault.failed());
        EXPECT_EQ(faultKindName(d.fault.kind), std::string(faultKindName(c.kind))) << d.fault.message;
    }
}

TEST(BlockSort, InverseUndoesTheSortOfRandomBlocks)
{
    TestRng rng(11);
    for (int i = 0; i < 200; ++i) {
        const Bytes block = rng.bytes(1 + rng.below(300), 1 + rng.below(4));
        Bytes work(block);
        work.push_back(0);
        Bytes column(block.size());
        SortArrays arrays(block.size());
        const SortResult sorted = sortBlock(work, static_cast<std::int32_t>(block.size()), column, arrays);
        ASSERT_TRUE(sorted.ok);
        const Decoded d = unsortColumn(column, static_cast<std::uint32_t>(sorted.primaryIndex));
        ASSERT_FALSE(d.fault.failed()) << d.fault.message;
        EXPECT_TRUE(d.bytes == block) << "case " << i;
    }
}

} // namespace
} // namespace dls2mml::test
