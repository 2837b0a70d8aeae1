// The inverse block sort's quicker walks: from rows the sort knew, and in
// pieces with room to spare. Whatever rows or room they are given, they must
// come to the one walk's result, bytes and fault alike.
#include <string>
#include <vector>

#include "compressor/block_sort.h"
#include "support/decoder_test_support.h"

namespace dls2mml::test {
namespace {

struct Unsorted {
    Bytes bytes;
    StageFault fault;
};

Unsorted unsortOnce(const Bytes& column, std::uint32_t primaryIndex)
{
    Unsorted u{Bytes(column.size()), {}};
    std::vector<std::uint32_t> work(column.size());
    u.fault = undoBlockSort(u.bytes, column, primaryIndex, work);
    return u;
}

// With room for the walk in pieces.
Unsorted unsortInPieces(const Bytes& column, std::uint32_t primaryIndex)
{
    Unsorted u{Bytes(column.size()), {}};
    std::vector<std::uint32_t> work(column.size() + pieceWorkWords(column.size()));
    u.fault = undoBlockSort(u.bytes, column, primaryIndex, work);
    return u;
}

Unsorted unsortFrom(const Bytes& column, std::uint32_t primaryIndex, const SegmentRows& rows)
{
    Unsorted u{Bytes(column.size()), {}};
    std::vector<std::uint32_t> work(column.size());
    u.fault = undoBlockSortFrom(u.bytes, column, primaryIndex, work, rows);
    return u;
}

void expectSameResult(const Bytes& column, std::uint32_t primaryIndex, const SegmentRows& rows)
{
    const Unsorted once = unsortOnce(column, primaryIndex);
    const Unsorted from = unsortFrom(column, primaryIndex, rows);
    ASSERT_EQ(once.fault.failed(), from.fault.failed()) << once.fault.message << " / " << from.fault.message;
    EXPECT_EQ(once.fault.message, from.fault.message);
    EXPECT_EQ(once.fault.position, from.fault.position);
    if (!once.fault.failed()) {
        EXPECT_TRUE(once.bytes == from.bytes);
    }
}

struct SortedColumn {
    Bytes column;
    std::uint32_t primaryIndex = 0;
    SegmentRows rows{};
};

SortedColumn sortForWalk(const Bytes& block)
{
    const auto n = static_cast<std::int32_t>(block.size());
    Bytes work(block);
    work.push_back(0);
    SortedColumn sorted;
    sorted.column.resize(block.size());
    SortArrays arrays(block.size());
    const SortResult result = sortBlock(work, n, sorted.column, arrays);
    EXPECT_TRUE(result.ok);
    sorted.primaryIndex = static_cast<std::uint32_t>(result.primaryIndex);
    sorted.rows = segmentRows(std::span<const std::int32_t>(arrays.suffixArray.get(), block.size()), block.size());
    return sorted;
}

Bytes repeated(const Bytes& pattern, std::size_t n)
{
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = pattern[i % pattern.size()];
    return out;
}

TEST(SegmentedWalk, RowsFromTheSortGiveTheBlockBack)
{
    TestRng rng(23);
    std::vector<Bytes> blocks;
    for (const std::size_t n : {std::size_t{4096}, std::size_t{4097}, std::size_t{4103}, std::size_t{9000}, std::size_t{65536}})
        for (const std::uint32_t alphabet : {2u, 4u, 256u})
            blocks.push_back(rng.bytes(n, alphabet));
    blocks.push_back(repeated(text("ab"), 8192));       // equal rotations: the walk closes early
    blocks.push_back(repeated(text("abcabd"), 6000));
    blocks.push_back(repeated(rng.bytes(1000), 5000));  // a pattern that does not divide 8 segments
    blocks.push_back(Bytes(4500, 0x55));
    for (const Bytes& block : blocks) {
        SCOPED_TRACE("block of " + std::to_string(block.size()) + " bytes");
        const SortedColumn sorted = sortForWalk(block);
        const Unsorted from = unsortFrom(sorted.column, sorted.primaryIndex, sorted.rows);
        ASSERT_FALSE(from.fault.failed()) << from.fault.message;
        EXPECT_TRUE(from.bytes == block);
    }
}

TEST(SegmentedWalk, WrongRowsChangeNothing)
{
    TestRng rng(29);
    const Bytes block = rng.bytes(20000, 16);
    const SortedColumn sorted = sortForWalk(block);
    const auto n = static_cast<std::uint32_t>(block.size());
    std::vector<SegmentRows> wrong;
    for (std::size_t j = 0; j < sorted.rows.size(); ++j) {
        for (const std::uint32_t value : {sorted.rows[j] + 1, sorted.rows[j] - 1, n, n + 7, sorted.primaryIndex, 0u}) {
            SegmentRows rows = sorted.rows;
            rows[j] = value;
            wrong.push_back(rows);
        }
    }
    SegmentRows swapped = sorted.rows;
    std::swap(swapped[2], swapped[5]);
    wrong.push_back(swapped);
    wrong.push_back(SegmentRows{});
    for (const SegmentRows& rows : wrong) {
        const Unsorted from = unsortFrom(sorted.column, sorted.primaryIndex, rows);
        ASSERT_FALSE(from.fault.failed()) << from.fault.message;
        EXPECT_TRUE(from.bytes == block);
    }
}

TEST(SegmentedWalk, ColumnsOfNoBlockFailAsInOneWalk)
{
    TestRng rng(31);
    for (int i = 0; i < 40; ++i) {
        const std::size_t n = 4096 + rng.below(3000);
        const Bytes column = i % 2 ? rng.bytes(n, 3) : repeated(rng.bytes(1 + rng.below(8)), n);
        const auto primaryIndex = static_cast<std::uint32_t>(rng.below(static_cast<std::uint32_t>(n + 2)));
        SegmentRows rows{};
        for (auto& row : rows)
            row = static_cast<std::uint32_t>(rng.below(static_cast<std::uint32_t>(n)));
        SCOPED_TRACE("case " + std::to_string(i));
        expectSameResult(column, primaryIndex, rows);
    }
}

TEST(SegmentedWalk, DamagedColumnsFailAsInOneWalkEvenWithTheSortsRows)
{
    TestRng rng(37);
    const Bytes block = rng.bytes(12000, 256);
    const SortedColumn sorted = sortForWalk(block);
    for (int i = 0; i < 30; ++i) {
        Bytes column = sorted.column;
        for (int k = 0; k <= i % 3; ++k)
            column[rng.below(static_cast<std::uint32_t>(column.size()))] ^= static_cast<std::uint8_t>(1 + rng.below(255));
        SCOPED_TRACE("case " + std::to_string(i));
        expectSameResult(column, sorted.primaryIndex, sorted.rows);
    }
}

void expectSameInPieces(const Bytes& column, std::uint32_t primaryIndex)
{
    const Unsorted once = unsortOnce(column, primaryIndex);
    const Unsorted pieces = unsortInPieces(column, primaryIndex);
    ASSERT_EQ(once.fault.failed(), pieces.fault.failed()) << once.fault.message << " / " << pieces.fault.message;
    EXPECT_EQ(once.fault.message, pieces.fault.message);
    EXPECT_EQ(once.fault.position, pieces.fault.position);
    if (!once.fault.failed()) {
        EXPECT_TRUE(once.bytes == pieces.bytes);
    }
}

TEST(PieceWalk, LargeBlocksComeBack)
{
    TestRng rng(43);
    std::vector<Bytes> blocks;
    for (const std::size_t n : {pieceWalkMinimum, pieceWalkMinimum + 1, std::size_t{200003}})
        for (const std::uint32_t alphabet : {1u, 2u, 256u})
            blocks.push_back(rng.bytes(n, alphabet));
    blocks.push_back(repeated(text("abc"), 3 * 30000));       // equal rotations: the walk closes early
    blocks.push_back(repeated(rng.bytes(4096), 4096 * 20));
    blocks.push_back(concat({rng.bytes(70000, 4), Bytes(90000, 7)})); // long pieces in one run
    for (const Bytes& block : blocks) {
        SCOPED_TRACE("block of " + std::to_string(block.size()) + " bytes");
        const SortedColumn sorted = sortForWalk(block);
        const Unsorted pieces = unsortInPieces(sorted.column, sorted.primaryIndex);
        ASSERT_FALSE(pieces.fault.failed()) << pieces.fault.message;
        EXPECT_TRUE(pieces.bytes == block);
        // The pieces alone, unless the walk closes early: then only the one walk can.
        Bytes alone(block.size());
        std::vector<std::uint32_t> work(block.size() + pieceWorkWords(block.size()));
        const bool closesEarly = block == repeated(Bytes(block.begin(), block.begin() + 3), block.size()) ||
                                 block == repeated(Bytes(block.begin(), block.begin() + 4096), block.size()) ||
                                 block == Bytes(block.size(), block[0]);
        ASSERT_EQ(undoBlockSortInPieces(alone, sorted.column, sorted.primaryIndex, work), !closesEarly);
        if (!closesEarly) {
            EXPECT_TRUE(alone == block);
        }
    }
}

TEST(PieceWalk, ColumnsOfNoBlockFailAsInOneWalk)
{
    TestRng rng(47);
    const std::size_t n = pieceWalkMinimum + 999;
    const Bytes block = rng.bytes(n, 256);
    const SortedColumn sorted = sortForWalk(block);
    for (int i = 0; i < 24; ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        Bytes column = sorted.column;
        std::uint32_t primaryIndex = sorted.primaryIndex;
        switch (i % 4) {
        case 0: column[rng.below(static_cast<std::uint32_t>(n))] ^= 0x40; break;
        case 1: primaryIndex = static_cast<std::uint32_t>((1 + rng.below(pieceStarts - 1)) * n / pieceStarts); break; // on a start row
        case 2: column = rng.bytes(n, 3); break;
        default: column = repeated(rng.bytes(1 + rng.below(5)), n); break;
        }
        expectSameInPieces(column, primaryIndex);
    }
}

} // namespace
} // namespace dls2mml::test
