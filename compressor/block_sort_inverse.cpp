// Inverse block sort: rebuilds a block from its last column and primary index
// by the walk of docs/format.md, section 5.4, and refuses a column whose walk
// closes early unless it has the shape of a repeated pattern.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>

#include "compressor/block_sort.h"

namespace dls2mml {
namespace {

// Each row's successor and its byte in one word (n < 2^24), so each step of
// the walk, a load from anywhere in the block, fetches one word only.
//
// Row i's successor is the number of bytes of the column below L[i] plus the
// number of L[i]'s before row i. The column is taken in two halves at once,
// each with its own counters (the second's starting where the first's end),
// so that a byte repeated close by, as bytes of a last column often are,
// holds up only its own half.
void buildSuccessors(std::span<const std::uint8_t> lastColumn, std::span<std::uint32_t> work) noexcept
{
    const std::size_t n = lastColumn.size();
    const std::size_t half = n / 2;
    const std::uint8_t* const first = lastColumn.data();
    const std::uint8_t* const second = first + half;
    // next[h][b]: the next entry, successor and byte, for byte b in half h.
    std::array<std::array<std::uint32_t, 256>, 2> next{};
    for (std::size_t i = 0; i < half; ++i) {
        ++next[0][first[i]];
        ++next[1][second[i]];
    }
    for (std::size_t i = 2 * half; i < n; ++i)
        ++next[1][first[i]];
    std::uint32_t below = 0;
    for (std::uint32_t b = 0; b < 256; ++b)
        for (auto& counters : next) {
            const std::uint32_t count = counters[b];
            counters[b] = below << 8 | b;
            below += count;
        }
    std::uint32_t* const firstWork = work.data();
    std::uint32_t* const secondWork = firstWork + half;
    for (std::size_t i = 0; i < half; ++i) {
        firstWork[i] = next[0][first[i]];
        next[0][first[i]] += 1 << 8;
        secondWork[i] = next[1][second[i]];
        next[1][second[i]] += 1 << 8;
    }
    for (std::size_t i = 2 * half; i < n; ++i) {
        firstWork[i] = next[1][first[i]];
        next[1][first[i]] += 1 << 8;
    }
}

// The walk from the primary index over the successors in work.
StageFault walkFromPrimary(std::span<std::uint8_t> block, std::span<const std::uint8_t> lastColumn,
                           std::uint32_t primaryIndex, std::span<const std::uint32_t> work) noexcept
{
    const std::size_t n = lastColumn.size();
    std::size_t row = primaryIndex;
    std::size_t period = n;
    for (std::size_t step = 0; step < n; ++step) {
        const std::uint32_t entry = work[row];
        block[n - 1 - step] = static_cast<std::uint8_t>(entry);
        row = entry >> 8;
        if (row == primaryIndex && step + 1 < n) {
            period = step + 1;
            break;
        }
    }
    if (period == n)
        return {};
    if (n % period != 0)
        return {FaultKind::corrupt, "last column is not that of any block: its rows form a cycle of " + std::to_string(period) +
                    " rows, which does not divide the block length " + std::to_string(n),
                primaryIndex};
    const std::size_t repeats = n / period;
    for (std::size_t i = 0; i < n; ++i) {
        if (lastColumn[i] != lastColumn[i - i % repeats])
            return {FaultKind::corrupt, "last column is not that of any block: a pattern of " + std::to_string(period) + " bytes repeated " +
                        std::to_string(repeats) + " times needs aligned runs of " + std::to_string(repeats) +
                        " equal bytes",
                    i};
    }
    // The block is the walked pattern, repeated.
    for (std::size_t i = n - period; i-- > 0;)
        block[i] = block[i + period];
    return {};
}

// Whether a block of n bytes is walked in pieces with this room.
bool walksInPieces(std::span<std::uint8_t> block, std::size_t n, std::span<std::uint32_t> work) noexcept
{
    return n >= pieceWalkMinimum && block.size() >= n && work.size() >= n + pieceWorkWords(n);
}

// The walk from the primary index cut into pieces at pieceStarts rows (the
// primary row and rows spread over the block), each piece running from its
// start to the next start it meets. Sixteen pieces are walked at once so that
// their loads overlap; a lane that meets a start takes the next piece. Where
// a piece's bytes belong is known only when all are walked, so they go to
// chunks of scratch first (each filled from its end down, so that its bytes
// stand in the block's order), then into place, a chunk at a time, in the
// order the pieces chain from the primary row. True when that chain takes
// every piece once, returns to the primary row and covers exactly n steps:
// then it is the one walk from the primary index, which comes back to it only
// after n steps.
class PieceWalk {
public:
    PieceWalk(std::span<std::uint8_t> block, std::span<std::uint32_t> work, std::uint32_t primaryIndex) noexcept
        : block_(block), work_(work.data()), n_(block.size()), primaryIndex_(primaryIndex),
          chunks_(pieceChunks(block.size())), bytes_(reinterpret_cast<std::uint8_t*>(work.data() + block.size())),
          links_(work.data() + block.size() + chunks_ * (pieceChunkBytes / 4))
    {
    }

    bool run() noexcept
    {
        markStarts();
        const bool walked = walkAll();
        for (const Piece& piece : pieces_)
            work_[piece.startRow] &= ~startFlag;
        return walked && assemble();
    }

private:
    static constexpr std::uint32_t startFlag = 1u << 31;
    static constexpr std::uint32_t rowMask = (startFlag >> 8) - 1; // rows are below 2^20
    static constexpr std::size_t lanes = 16;

    struct Piece {
        std::uint32_t startRow = 0;
        std::uint32_t firstChunk = 0;
        std::uint32_t length = 0;
        std::uint32_t next = 0; // the piece whose start this one meets
    };
    struct Lane {
        std::uint32_t row = 0;
        std::uint32_t piece = 0;
        std::uint32_t chunk = 0;
        std::uint32_t length = 0;
        std::uint8_t* out = nullptr;
        std::uint8_t* end = nullptr;
        bool active = false;
    };

    void markStarts() noexcept
    {
        pieces_[0].startRow = primaryIndex_;
        for (std::size_t i = 1; i < pieceStarts; ++i) {
            auto row = static_cast<std::uint32_t>(i * n_ / pieceStarts);
            if (row == primaryIndex_)
                ++row; // rows are hundreds apart: the next is no start
            pieces_[i].startRow = row;
        }
        for (const Piece& piece : pieces_)
            work_[piece.startRow] |= startFlag;
    }

    std::uint32_t pieceStartingAt(std::uint32_t row) const noexcept
    {
        for (std::uint32_t i = 0; i < pieceStarts; ++i)
            if (pieces_[i].startRow == row)
                return i;
        return 0;
    }

    bool takeChunk(Lane& lane) noexcept
    {
        if (nextChunk_ >= chunks_)
            return false; // more steps than the block has: a cycle without a start
        const std::uint32_t chunk = nextChunk_++;
        if (lane.out)
            links_[lane.chunk] = chunk;
        else
            pieces_[lane.piece].firstChunk = chunk;
        lane.chunk = chunk;
        // Filled from its end down: the walk meets a block's bytes last first.
        lane.end = bytes_ + std::size_t{chunk} * pieceChunkBytes;
        lane.out = lane.end + pieceChunkBytes;
        return true;
    }

    // The lane's first step, off the start row (which carries the start flag).
    bool startPiece(Lane& lane) noexcept
    {
        if (nextPiece_ >= pieceStarts) {
            lane.active = false;
            return true;
        }
        lane = Lane{};
        lane.piece = nextPiece_++;
        lane.active = true;
        if (!takeChunk(lane))
            return false;
        const std::uint32_t entry = work_[pieces_[lane.piece].startRow];
        *--lane.out = static_cast<std::uint8_t>(entry);
        lane.length = 1;
        lane.row = (entry >> 8) & rowMask;
        return true;
    }

    // The lane has met a start: its piece ends there, and it takes the next.
    bool nextPiece(Lane& lane) noexcept
    {
        Piece& piece = pieces_[lane.piece];
        piece.length = lane.length;
        piece.next = pieceStartingAt(lane.row);
        return startPiece(lane);
    }

    bool walkAll() noexcept
    {
        std::array<Lane, lanes> lane{};
        for (Lane& l : lane)
            if (!startPiece(l))
                return false;
        // While every lane is walking, the rows and places of the lanes stay
        // in locals; a lane that meets a start or fills its chunk leaves the
        // loop for the steps after it.
        std::array<std::uint32_t, lanes> row;
        std::array<std::uint8_t*, lanes> out;
        std::array<std::uint8_t*, lanes> end;
        for (;;) {
            for (std::size_t j = 0; j < lanes; ++j) {
                if (!lane[j].active)
                    return walkRest(lane);
                row[j] = lane[j].row;
                out[j] = lane[j].out;
                end[j] = lane[j].end;
            }
            std::size_t stopped = lanes;
            for (;;) {
#pragma GCC unroll 16
                for (std::size_t j = 0; j < lanes; ++j) {
                    const std::uint32_t entry = work_[row[j]];
                    if ((entry & startFlag) != 0 || out[j] == end[j]) {
                        stopped = j;
                        break;
                    }
                    *--out[j] = static_cast<std::uint8_t>(entry);
                    row[j] = (entry >> 8) & rowMask;
                }
                if (stopped != lanes)
                    break;
            }
            for (std::size_t j = 0; j < lanes; ++j) {
                lane[j].length += static_cast<std::uint32_t>(lane[j].out - out[j]);
                lane[j].row = row[j];
                lane[j].out = out[j];
            }
            Lane& l = lane[stopped];
            if (!((work_[l.row] & startFlag) ? nextPiece(l) : takeChunk(l)))
                return false;
        }
    }

    // Once the pieces run out and lanes stop: each lane still walking takes a
    // step in turn.
    bool walkRest(std::array<Lane, lanes>& lane) noexcept
    {
        for (std::size_t active = lanes; active > 0;) {
            active = 0;
            for (Lane& l : lane) {
                if (!l.active)
                    continue;
                ++active;
                const std::uint32_t entry = work_[l.row];
                if (entry & startFlag) {
                    if (!nextPiece(l))
                        return false;
                    continue;
                }
                if (l.out == l.end && !takeChunk(l))
                    return false;
                *--l.out = static_cast<std::uint8_t>(entry);
                ++l.length;
                l.row = (entry >> 8) & rowMask;
            }
        }
        return true;
    }

    bool assemble() noexcept
    {
        std::array<bool, pieceStarts> taken{};
        std::uint64_t steps = 0;
        std::uint32_t i = 0;
        for (std::size_t k = 0; k < pieceStarts; ++k) {
            if (taken[i])
                return false;
            taken[i] = true;
            steps += pieces_[i].length;
            i = pieces_[i].next;
        }
        if (i != 0 || steps != n_)
            return false;
        std::size_t at = n_;
        for (std::size_t k = 0; k < pieceStarts; ++k) {
            const Piece& piece = pieces_[i];
            std::uint32_t chunk = piece.firstChunk;
            for (std::size_t left = piece.length; left > 0;) {
                const std::size_t take = std::min(left, pieceChunkBytes);
                // The chunk's last take bytes, in the block's order.
                const std::uint8_t* from = bytes_ + (std::size_t{chunk} + 1) * pieceChunkBytes - take;
                at -= take;
                std::memcpy(block_.data() + at, from, take);
                left -= take;
                chunk = links_[chunk];
            }
            i = piece.next;
        }
        return true;
    }

    std::span<std::uint8_t> block_;
    std::uint32_t* work_;
    std::size_t n_;
    std::uint32_t primaryIndex_;
    std::size_t chunks_;
    std::uint8_t* bytes_;
    std::uint32_t* links_;
    std::array<Piece, pieceStarts> pieces_{};
    std::uint32_t nextPiece_ = 0;
    std::uint32_t nextChunk_ = 0;
};

// steps steps of each of the first lanes walks, in lock step so that their
// loads overlap; counts the steps that land on the primary row.
template <std::size_t lanes>
std::size_t walkInterleaved(std::uint8_t* block, const std::uint32_t* work, std::array<std::uint32_t, walkSegments>& row,
                            std::array<std::size_t, walkSegments>& next, std::size_t steps, std::uint32_t primaryIndex) noexcept
{
    std::size_t primaryHits = 0;
    for (std::size_t step = 0; step < steps; ++step) {
#pragma GCC unroll 16
        for (std::size_t j = 0; j < lanes; ++j) {
            const std::uint32_t entry = work[row[j]];
            block[next[j]--] = static_cast<std::uint8_t>(entry);
            row[j] = entry >> 8;
            primaryHits += row[j] == primaryIndex;
        }
    }
    return primaryHits;
}

// The segments' walks of undoBlockSortFrom; true when together they are the
// walk from the primary index (then block holds its bytes).
bool walkSegmentsFrom(std::span<std::uint8_t> block, std::span<const std::uint32_t> work, std::uint32_t primaryIndex,
                      const SegmentRows& rows) noexcept
{
    const std::size_t n = block.size();
    const std::size_t length = walkSegmentLength(n);
    const std::size_t lastLength = n - (walkSegments - 1) * length;
    std::array<std::uint32_t, walkSegments> row{};
    std::array<std::size_t, walkSegments> next{};
    for (std::size_t j = 0; j < walkSegments; ++j) {
        row[j] = j + 1 < walkSegments ? rows[j] : primaryIndex; // rotation n is rotation 0
        if (row[j] >= n)
            return false;
        next[j] = std::min(n, (j + 1) * length) - 1;
    }
    std::size_t primaryHits = walkInterleaved<walkSegments>(block.data(), work.data(), row, next, lastLength, primaryIndex);
    primaryHits += walkInterleaved<walkSegments - 1>(block.data(), work.data(), row, next, length - lastLength, primaryIndex);
    // Only the very last step, segment 0's, may come back to the primary row.
    if (primaryHits != 1 || row[0] != primaryIndex)
        return false;
    for (std::size_t j = 1; j < walkSegments; ++j)
        if (row[j] != rows[j - 1])
            return false;
    return true;
}

} // namespace

StageFault undoBlockSort(std::span<std::uint8_t> block, std::span<const std::uint8_t> lastColumn,
                         std::uint32_t primaryIndex, std::span<std::uint32_t> work) noexcept
{
    const std::size_t n = lastColumn.size();
    if (primaryIndex >= n)
        return {FaultKind::corrupt, "primary index " + std::to_string(primaryIndex) + " is not below the block length " + std::to_string(n), 0};
    buildSuccessors(lastColumn, work);
    if (walksInPieces(block, n, work) && PieceWalk(block.first(n), work, primaryIndex).run())
        return {};
    return walkFromPrimary(block, lastColumn, primaryIndex, work);
}

bool undoBlockSortInPieces(std::span<std::uint8_t> block, std::span<const std::uint8_t> lastColumn,
                           std::uint32_t primaryIndex, std::span<std::uint32_t> work) noexcept
{
    const std::size_t n = lastColumn.size();
    if (primaryIndex >= n || !walksInPieces(block, n, work))
        return false;
    buildSuccessors(lastColumn, work);
    return PieceWalk(block.first(n), work, primaryIndex).run();
}

StageFault undoBlockSortFrom(std::span<std::uint8_t> block, std::span<const std::uint8_t> lastColumn,
                             std::uint32_t primaryIndex, std::span<std::uint32_t> work, const SegmentRows& rows) noexcept
{
    const std::size_t n = lastColumn.size();
    if (n < segmentedWalkMinimum || primaryIndex >= n)
        return undoBlockSort(block, lastColumn, primaryIndex, work);
    buildSuccessors(lastColumn, work);
    if (walkSegmentsFrom(block.first(n), work.first(n), primaryIndex, rows))
        return {};
    return walkFromPrimary(block, lastColumn, primaryIndex, work);
}

SegmentRows segmentRows(std::span<const std::int32_t> suffixArray, std::size_t n) noexcept
{
    // s / length by a multiplication: exact for s, length < 2^20.
    const std::uint64_t length = walkSegmentLength(n);
    const std::uint64_t inverse = ((std::uint64_t{1} << 40) + length - 1) / length;
    SegmentRows rows{};
    for (std::size_t row = 0; row < n; ++row) {
        const auto s = static_cast<std::uint64_t>(static_cast<std::uint32_t>(suffixArray[row]));
        const std::uint64_t j = (s * inverse) >> 40;
        if (j * length == s && j - 1 < rows.size())
            rows[static_cast<std::size_t>(j - 1)] = static_cast<std::uint32_t>(row);
    }
    return rows;
}

} // namespace dls2mml
