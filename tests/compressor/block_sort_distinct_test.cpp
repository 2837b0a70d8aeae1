// The sort for blocks whose rotations are all distinct agrees with the
// prefix-doubling sort on every kind of such block, including those whose
// rotations agree for longer than it compares directly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

#include "compressor/block_sort.h"
#include "compressor/equal_rotations.h"
#include "support/test_support.h"

namespace dls2mml::test {
namespace {

struct Outcome {
    Bytes lastColumn;
    std::int32_t primaryIndex = -1;
    bool ok = false;
};

Outcome sortWith(bool distinct, const Bytes& block, SortArrays& arrays)
{
    const auto n = static_cast<std::int32_t>(block.size());
    Bytes work(block);
    work.resize(block.size() + wrappedBlockPadding, 0xEE); // the spare byte, and room for the wrap
    Bytes last(block.size() + 1, 0xEE);
    const std::span<std::uint8_t> column = std::span(last).first(block.size());
    PivotGenerator fresh;
    const SortResult r = distinct ? sortDistinctRotations(work, n, column, arrays)
                                  : sortBlock(work, n, column, arrays, fresh);
    EXPECT_EQ(last[block.size()], 0xEE) << "wrote past the last column";
    if (n > 0) {
        EXPECT_EQ(work[block.size()], block[0]) << "spare byte holds a copy of the first";
    }
    return {Bytes(last.begin(), last.begin() + n), r.primaryIndex, r.ok};
}

// Blocks of one kind; every one has only distinct rotations (checked below).
Bytes makeBlock(int kind, std::size_t n, TestRng& rng)
{
    switch (kind) {
    case 0: return rng.bytes(n);               // random
    case 1: return rng.bytes(n, 2, 'a');       // two letters
    case 2: return rng.bytes(n, 4, 'a');       // small alphabet
    case 3: {                                  // a pattern repeated, one byte changed
        const Bytes unit = rng.bytes(1 + rng.below(40), 1 + rng.below(3), 'a');
        Bytes b;
        while (b.size() < n) b.insert(b.end(), unit.begin(), unit.end());
        b.resize(n);
        b[rng.below(static_cast<std::uint32_t>(n))] ^= 0x40;
        return b;
    }
    case 4: {                                  // one long stretch repeated with a differing byte
        const Bytes half = rng.bytes(n / 2, 256);
        Bytes b = concat({half, half});
        b.push_back('z');
        b.resize(n);
        return b;
    }
    default: {                                 // low entropy: long runs of few values
        Bytes b;
        while (b.size() < n)
            b.insert(b.end(), 1 + rng.below(30), static_cast<std::uint8_t>('a' + rng.below(3)));
        b.resize(n);
        return b;
    }
    }
}

const char* const kindNames[] = {"random", "two letters", "four letters", "pattern with one change",
                                 "repeated half", "runs"};

TEST(DistinctRotationSort, AgreesWithTheDoublingSort)
{
    TestRng rng(20261209);
    SortArrays arrays(8192);
    const std::size_t lengths[] = {1, 2, 3, 5, 8, 9, 17, 100, 257, 1000, 4097, 8192};
    int checked = 0;
    for (int kind = 0; kind < 6; ++kind)
        for (std::size_t n : lengths)
            for (int round = 0; round < 3; ++round) {
                const Bytes block = makeBlock(kind, n, rng);
                if (hasEqualRotations(block))
                    continue;
                SCOPED_TRACE(std::string(kindNames[kind]) + " n=" + std::to_string(n) + " #" + std::to_string(round));
                const Outcome expected = sortWith(false, block, arrays);
                const Outcome got = sortWith(true, block, arrays);
                ASSERT_TRUE(expected.ok);
                ASSERT_TRUE(got.ok);
                EXPECT_EQ(got.primaryIndex, expected.primaryIndex);
                ASSERT_EQ(got.lastColumn, expected.lastColumn);
                ++checked;
            }
    EXPECT_GT(checked, 180);
}

// Full-size blocks: deep buckets, and rotations that agree far past the
// direct comparison or so often that the doubling passes must finish them.
TEST(DistinctRotationSort, AgreesOnFullSizeBlocks)
{
    constexpr std::size_t full = 655360;
    TestRng rng(99);
    struct Case {
        const char* name;
        Bytes block;
    } cases[] = {
        {"random", rng.bytes(full)},
        {"two letters", rng.bytes(full, 2, 'a')},
        {"period 10 with one change", [] {
             Bytes b = repeat("aaaa\x01" "bbbb\x01", full / 10);
             b[full / 3] = 'c';
             return b;
         }()},
        {"period 1000 with one change", [] {
             Bytes b(full);
             for (std::size_t i = 0; i < full; ++i) b[i] = static_cast<std::uint8_t>((i % 1000) * 7919 >> 3);
             b[full / 3] ^= 0x40;
             return b;
         }()},
        {"ascending ramp", [] {
             Bytes b(full);
             for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(i / 2570);
             return b;
         }()},
        {"one byte differs", [] {
             Bytes b(full, 'a');
             b[full - 1] = 'b';
             return b;
         }()},
    };
    SortArrays arrays(full);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(hasEqualRotations(c.block));
        const Outcome expected = sortWith(false, c.block, arrays);
        const Outcome got = sortWith(true, c.block, arrays);
        ASSERT_TRUE(got.ok);
        EXPECT_EQ(got.primaryIndex, expected.primaryIndex);
        EXPECT_TRUE(got.lastColumn == expected.lastColumn);
    }
}

// Reference for the tests below: every rotation sorted by a plain cyclic
// comparison (the order is unique when the rotations are distinct).
Outcome naiveSort(const Bytes& block)
{
    const std::size_t n = block.size();
    std::vector<std::int32_t> rows(n);
    std::iota(rows.begin(), rows.end(), 0);
    std::sort(rows.begin(), rows.end(), [&](std::int32_t s, std::int32_t t) {
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint8_t x = block[(static_cast<std::size_t>(s) + i) % n];
            const std::uint8_t y = block[(static_cast<std::size_t>(t) + i) % n];
            if (x != y) return x < y;
        }
        return false;
    });
    Outcome r;
    r.ok = true;
    for (std::size_t row = 0; row < n; ++row) {
        const auto s = static_cast<std::size_t>(rows[row]);
        r.lastColumn.push_back(block[(s + n - 1) % n]);
        if (s == 0) r.primaryIndex = static_cast<std::int32_t>(row);
    }
    return r;
}

void expectSameAs(const Outcome& got, const Outcome& expected)
{
    ASSERT_TRUE(got.ok);
    EXPECT_EQ(got.primaryIndex, expected.primaryIndex);
    EXPECT_TRUE(got.lastColumn == expected.lastColumn);
}

// One block against the naive sort, skipped if its rotations are not all
// distinct; counts the blocks checked. False at the first failure, so that a
// fault shows once rather than in thousands of blocks.
bool agreesWithNaiveSort(const Bytes& block, SortArrays& arrays, const std::string& label, int& checked)
{
    if (hasEqualRotations(block)) return true;
    SCOPED_TRACE(label);
    expectSameAs(sortWith(true, block, arrays), naiveSort(block));
    ++checked;
    return !::testing::Test::HasFailure();
}

// Every block of up to 13 letters a and b, and of up to 8 letters a, b and c:
// every way the kinds of rotations (below or above the next one) can fall,
// across the end of the block too.
TEST(DistinctRotationSort, MatchesNaiveSortOnEveryShortBlock)
{
    SortArrays arrays(16);
    int checked = 0;
    for (const auto& [alphabet, longest] : {std::pair{2u, 13u}, std::pair{3u, 8u}})
        for (std::uint32_t n = 1; n <= longest; ++n) {
            std::uint32_t blocks = 1;
            for (std::uint32_t i = 0; i < n; ++i) blocks *= alphabet;
            for (std::uint32_t code = 0; code < blocks; ++code) {
                Bytes block(n);
                for (std::uint32_t i = 0, rest = code; i < n; ++i, rest /= alphabet)
                    block[i] = static_cast<std::uint8_t>('a' + rest % alphabet);
                if (!agreesWithNaiveSort(block, arrays, std::string(block.begin(), block.end()), checked)) return;
            }
        }
    EXPECT_GT(checked, 20000);
}

// Generated blocks of many shapes and lengths against the naive sort.
TEST(DistinctRotationSort, MatchesNaiveSortOnGeneratedBlocks)
{
    TestRng rng(20261210);
    auto periodic = [&](std::size_t n, std::uint32_t unitMax, std::uint32_t alphabet) {
        const Bytes unit = rng.bytes(1 + rng.below(unitMax), alphabet, 'a');
        Bytes b;
        while (b.size() < n) b.insert(b.end(), unit.begin(), unit.end());
        b.resize(n); // a part of the unit at the end, so not fully periodic
        return b;
    };
    const struct {
        const char* name;
        std::function<Bytes(std::size_t)> make;
    } kinds[] = {
        {"random", [&](std::size_t n) { return rng.bytes(n); }},
        {"two letters", [&](std::size_t n) { return rng.bytes(n, 2, 'a'); }},
        {"three letters", [&](std::size_t n) { return rng.bytes(n, 3, 'a'); }},
        {"runs", [&](std::size_t n) {
             Bytes b;
             while (b.size() < n) b.insert(b.end(), 1 + rng.below(12), static_cast<std::uint8_t>('a' + rng.below(3)));
             b.resize(n);
             return b;
         }},
        {"periodic with a part unit", [&](std::size_t n) { return periodic(n, 9, 3); }},
        {"periodic with one change", [&](std::size_t n) {
             Bytes b = periodic(n, 30, 2);
             b[rng.below(static_cast<std::uint32_t>(n))] ^= 0x20;
             return b;
         }},
        {"long repeat", [&](std::size_t n) { // a stretch twice, then a byte that differs
             const Bytes half = rng.bytes(n / 2, 4, 'a');
             Bytes b = concat({half, half, text("z")});
             b.resize(n);
             return b;
         }},
        {"descending then ascending", [&](std::size_t n) {
             Bytes b(n);
             for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i < n / 2 ? 200 - i % 150 : i % 150);
             b[rng.below(static_cast<std::uint32_t>(n))] = 'x';
             return b;
         }},
    };
    SortArrays arrays(5000);
    int checked = 0;
    for (const auto& kind : kinds)
        for (std::size_t n = 1; n <= 2400; n += n < 20 ? 1 : 1 + n / 2)
            for (int round = 0; round < 4; ++round) {
                const std::string label = std::string(kind.name) + " n=" + std::to_string(n) + " #" + std::to_string(round);
                if (!agreesWithNaiveSort(kind.make(n), arrays, label, checked)) return;
            }
    EXPECT_GT(checked, 700);
}

// Every rotation of a block has the same rotations to sort: the same last
// column, with the primary index on the row of the rotation the block now
// starts with (a fault in where the block wraps shows up as a difference).
TEST(DistinctRotationSort, EveryRotationOfABlockGivesTheSameColumn)
{
    TestRng rng(7);
    Bytes block;
    while (block.size() < 300) block.insert(block.end(), 1 + rng.below(5), static_cast<std::uint8_t>('a' + rng.below(3)));
    block.resize(300);
    ASSERT_FALSE(hasEqualRotations(block));
    SortArrays arrays(block.size());
    const Outcome first = sortWith(true, block, arrays);
    ASSERT_TRUE(first.ok);
    const Outcome reference = naiveSort(block);
    expectSameAs(first, reference);
    for (std::size_t by = 1; by < block.size(); ++by) {
        Bytes rotated(block.begin() + static_cast<std::ptrdiff_t>(by), block.end());
        rotated.insert(rotated.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(by));
        SCOPED_TRACE("rotated by " + std::to_string(by));
        const Outcome got = sortWith(true, rotated, arrays);
        ASSERT_TRUE(got.ok);
        ASSERT_TRUE(got.lastColumn == first.lastColumn);
        // The row whose rotation starts where the rotated block does.
        ASSERT_EQ(got.primaryIndex, naiveSort(rotated).primaryIndex);
    }
}

// Blocks of the largest size shaped like 16-bit sound: a tone with noise, a
// quiet stretch, and a loop played twice (rotations that agree for far
// longer than the direct comparison reaches).
TEST(DistinctRotationSort, AgreesOnFullBlocksOfSampledSound)
{
    constexpr std::size_t full = 512 * 1024;
    TestRng rng(2026);
    auto sound = [&](double hertz, int noise, std::size_t loopAt, std::size_t loopLength) {
        Bytes b;
        for (std::size_t i = 0; b.size() < full; ++i) {
            const double tone = 9000.0 * std::sin(static_cast<double>(i) * hertz * 2.0 * 3.141592653589793 / 22050.0);
            const int quiet = (i / 8000) % 5 == 3 ? 0 : 1; // every fifth stretch near silence
            const auto v = static_cast<std::int16_t>(quiet * tone + static_cast<int>(rng.below(2 * noise + 1)) - noise);
            b.push_back(static_cast<std::uint8_t>(v & 0xFF));
            b.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
        }
        if (loopLength != 0)
            std::copy_n(b.begin() + static_cast<std::ptrdiff_t>(loopAt), loopLength,
                        b.begin() + static_cast<std::ptrdiff_t>(loopAt + loopLength));
        b.resize(full);
        return b;
    };
    const struct {
        const char* name;
        Bytes block;
    } cases[] = {
        {"tone with noise", sound(440.0, 40, 0, 0)},
        {"tone with little noise", sound(261.6, 1, 0, 0)},
        {"a loop played twice", sound(330.0, 20, 100000, 30000)},
    };
    SortArrays arrays(full);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(hasEqualRotations(c.block));
        expectSameAs(sortWith(true, c.block, arrays), sortWith(false, c.block, arrays));
    }
}

TEST(DistinctRotationSort, RefusesTooSmallBuffers)
{
    SortArrays arrays(4);
    Bytes block = text("banana");
    block.push_back(0);
    Bytes last(6);
    EXPECT_FALSE(sortDistinctRotations(block, 6, last, arrays).ok);
    EXPECT_TRUE(sortDistinctRotations(block, 0, last, arrays).ok);
}

} // namespace
} // namespace dls2mml::test
