// The sort for blocks whose rotations are all distinct agrees with the
// prefix-doubling sort on every kind of such block, including those whose
// rotations agree for longer than it compares directly.
#include <gtest/gtest.h>

#include <string>

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
