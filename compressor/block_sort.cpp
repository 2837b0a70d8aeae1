#include "compressor/block_sort.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace dls2mml {
namespace {

constexpr std::int32_t smallGroupRows = 11; // finished by insertion sort, never partitioned
constexpr std::int32_t bucketCountSize = 65536;
constexpr std::int32_t prefetchRows = 64; // how far ahead of the scan keys are fetched

// A PendingRange is one pending piece of refineGroup's work. A plain range
// (e1 < 0) is refined; otherwise the equal rows e1..e2 get their ranks first
// and then the range above them is refined. This keeps the order of the recursive form (rows
// below the pivot completely, then the equal rows, then the rows above) and
// so the order of pivot draws, without using the call stack.

class Sorter {
public:
    Sorter(std::uint8_t* block, std::int32_t n, SortArrays& arrays, PivotGenerator& generator)
        : block_(block), blockLength_(n), sa_(arrays.suffixArray.get()), rank_(arrays.rankArray.get()),
          arrays_(arrays), generator_(generator)
    {
    }

    void initialBucketSort();
    bool runPasses(std::int32_t firstH);
    void finishEqualGroups();
    std::int32_t writeLastColumn(std::uint8_t* lastColumn);

private:
    std::int32_t key(std::int32_t s, std::int32_t h) const
    {
        std::int32_t t = s + h;
        if (t >= blockLength_)
            t -= blockLength_;
        return rank_[t];
    }
    // Asks the memory system for the keys of rows from..to early (their ranks
    // lie scattered over the rank array); changes nothing. Returns to.
    std::int32_t prefetchKeys(std::int32_t from, std::int32_t to, std::int32_t h) const
    {
#if defined(__GNUC__)
        for (std::int32_t q = from; q < to; ++q)
            if (sa_[q] >= 0) {
                std::int32_t t = sa_[q] + h;
                if (t >= blockLength_)
                    t -= blockLength_;
                __builtin_prefetch(&rank_[t]);
            }
#else
        (void)from;
        (void)h;
#endif
        return to;
    }
    std::int32_t twoByteKey(std::int32_t s) const { return block_[s] << 8 | block_[s + 1]; }

    void refineGroup(std::int32_t first, std::int32_t last, std::int32_t h);
    std::int32_t choosePivot(std::int32_t first, std::int32_t last, std::int32_t h);
    void markEqualRows(std::int32_t e1, std::int32_t e2);
    void finishSmallGroup(std::int32_t first, std::int32_t last, std::int32_t h);
    // Starts at offset from (h, or 2h when the first step is already known).
    std::int32_t compareRotations(std::int32_t s, std::int32_t t, std::int32_t h, std::int32_t from) const;

    std::uint8_t* block_;
    std::int32_t blockLength_;
    std::int32_t* sa_;
    std::int32_t* rank_;
    SortArrays& arrays_;
    PivotGenerator& generator_;
};

// Sorts by the first two bytes (the last rotation's second byte wraps to the
// block's first, through the spare copy at index n). Within a bucket the starts
// stand in ascending order; every rank is the last row of its bucket.
void Sorter::initialBucketSort()
{
    const std::int32_t n = blockLength_;
    block_[n] = block_[0];
    std::int32_t* start = arrays_.bucketStart.get();
    std::int32_t* count = arrays_.bucketCount.get();
    std::fill_n(count, bucketCountSize, 0);
    for (std::int32_t s = 0; s < n; ++s)
        ++count[twoByteKey(s)];
    start[0] = 0;
    for (std::int32_t k = 0; k < bucketCountSize; ++k)
        start[k + 1] = start[k] + count[k];
    std::copy_n(start + 1, bucketCountSize, count); // running totals
    for (std::int32_t s = n - 1; s >= 0; --s) {
        const std::int32_t k = twoByteKey(s);
        sa_[--count[k]] = s;
        rank_[s] = start[k + 1] - 1;
    }
}

// Doubling passes with h = firstH, 2 firstH, ... while h < n (firstH is 2 after the bucket sort); a pass that meets only
// finished rows ends them early. False when a group's recorded end lies
// before its start (tables built here never do that).
bool Sorter::runPasses(std::int32_t firstH)
{
    const std::int32_t n = blockLength_;
    if (n <= 2 || firstH >= n)
        return true;
    for (std::int32_t h = firstH;; h *= 2) {
        bool idle = true;
        std::int32_t r = 0;
        std::int32_t prefetched = 0;
        while (r < n) {
            std::int32_t c = r;
            while (c < n && sa_[c] < 0)
                c -= sa_[c];
            if (c > r) {
                sa_[r] = r - c; // one mark for the whole finished stretch
                r = c;
                if (r >= n)
                    break;
            }
            const std::int32_t last = rank_[sa_[r]];
            if (last < r)
                return false;
            prefetched = prefetchKeys(std::max(prefetched, r), std::min(n, last + 1 + prefetchRows), h);
            refineGroup(r, last, h);
            idle = false;
            r = last + 1;
        }
        if (idle || 2 * h >= n)
            break;
    }
    return true;
}

void Sorter::refineGroup(std::int32_t first, std::int32_t last, std::int32_t h)
{
    // Every pending range holds at least one row of the group, so the stack
    // never holds more than rows + 1 of them.
    PendingRange* const stack = arrays_.pending.get();
    std::size_t depth = 0;
    auto push = [&](const PendingRange& range) { stack[depth++] = range; };
    push({first, last, -1, -1});
    while (depth != 0) {
        const PendingRange task = stack[--depth];
        first = task.first;
        last = task.last;
        if (task.e1 >= 0) {
            markEqualRows(task.e1, task.e2);
            if (first > last)
                continue;
        }
        for (;;) {
            if (last - first < smallGroupRows) {
                finishSmallGroup(first, last, h);
                break;
            }
            const std::int32_t v = choosePivot(first, last, h);
            // Split-end partition: equal keys gather at both ends.
            std::int32_t a = first, b = first, c = last, d = last;
            for (;;) {
                std::int32_t k;
                while (b <= c && (k = key(sa_[b], h)) <= v) {
                    if (k == v)
                        std::swap(sa_[a++], sa_[b]);
                    ++b;
                }
                while (b <= c && (k = key(sa_[c], h)) >= v) {
                    if (k == v)
                        std::swap(sa_[c], sa_[d--]);
                    --c;
                }
                if (b > c)
                    break;
                std::swap(sa_[b++], sa_[c--]);
            }
            // Equal keys to the middle, each block swap pairing rows crosswise.
            const std::int32_t p = std::min(a - first, b - a);
            for (std::int32_t i = 0; i < p; ++i)
                std::swap(sa_[first + i], sa_[c - i]);
            const std::int32_t q = std::min(last - d, d - c);
            for (std::int32_t i = 0; i < q; ++i)
                std::swap(sa_[b + i], sa_[last - i]);
            const std::int32_t below = b - a;
            const std::int32_t above = d - c;
            const std::int32_t e1 = first + below;
            const std::int32_t e2 = last - above;
            if (below > 0) {
                push({last - above + 1, last, e1, e2});
                push({first, first + below - 1, -1, -1});
                break;
            }
            markEqualRows(e1, e2);
            if (above == 0)
                break;
            first = last - above + 1;
        }
    }
}

std::int32_t Sorter::choosePivot(std::int32_t first, std::int32_t last, std::int32_t h)
{
    const std::uint32_t x = generator_.draw();
    std::int32_t row = first;
    if (x % 3 == 1)
        row = first + (last - first) / 2;
    else if (x % 3 == 2)
        row = last;
    return key(sa_[row], h);
}

// A single equal row is final; several form a new group ranked by its last row.
void Sorter::markEqualRows(std::int32_t e1, std::int32_t e2)
{
    if (e1 == e2) {
        rank_[sa_[e1]] = e1;
        sa_[e1] = -1;
        return;
    }
    for (std::int32_t r = e1; r <= e2; ++r)
        rank_[sa_[r]] = e2;
}

void Sorter::finishSmallGroup(std::int32_t first, std::int32_t last, std::int32_t h)
{
    // No rank changes until the group is sorted, so each member's first key
    // (the rank h bytes ahead, the first step of compareRotations) is read once.
    std::int32_t rotation[smallGroupRows];
    std::int32_t firstKey[smallGroupRows];
    const std::int32_t count = last - first + 1;
    for (std::int32_t i = 0; i < count; ++i) {
        rotation[i] = sa_[first + i];
        firstKey[i] = key(rotation[i], h);
    }
    // Stable insertion sort: a member moves up past those that compare greater.
    for (std::int32_t i = 1; i < count; ++i) {
        const std::int32_t t = rotation[i];
        const std::int32_t tKey = firstKey[i];
        std::int32_t j = i;
        while (j > 0) {
            const std::int32_t d = tKey - firstKey[j - 1];
            if (d > 0 || (d == 0 && compareRotations(t, rotation[j - 1], h, 2 * h) >= 0))
                break;
            rotation[j] = rotation[j - 1];
            firstKey[j] = firstKey[j - 1];
            --j;
        }
        rotation[j] = t;
        firstKey[j] = tKey;
    }
    for (std::int32_t i = 0; i < count; ++i) {
        rank_[rotation[i]] = first + i;
        sa_[first + i] = -1;
    }
}

// Compares h bytes at a time through the current ranks; 0 only for rotations
// equal as whole strings.
std::int32_t Sorter::compareRotations(std::int32_t s, std::int32_t t, std::int32_t h, std::int32_t from) const
{
    for (std::int32_t off = from; off < blockLength_; off += h) {
        const std::int32_t d = key(s, off) - key(t, off);
        if (d != 0)
            return d;
    }
    return 0;
}

// Groups still open hold equal rotations only: each member takes its row in
// the order in which the members stand.
void Sorter::finishEqualGroups()
{
    const std::int32_t n = blockLength_;
    std::int32_t r = 0;
    while (r < n) {
        if (sa_[r] < 0) {
            r -= sa_[r]; // any mark -k says k rows from here are finished
            continue;
        }
        const std::int32_t last = rank_[sa_[r]];
        for (std::int32_t q = r; q <= last; ++q)
            rank_[sa_[q]] = q;
        r = last + 1;
    }
}

// Every rank is now the rotation's final row: each rotation's start goes to
// the suffix array and the byte before it to the last column, both at its
// row; the row of rotation 0 is the primary index.
std::int32_t Sorter::writeLastColumn(std::uint8_t* lastColumn)
{
    const std::int32_t n = blockLength_;
    sa_[rank_[0]] = 0;
    lastColumn[rank_[0]] = block_[n - 1];
    for (std::int32_t s = 1; s < n; ++s) {
        const std::int32_t row = rank_[s];
        sa_[row] = s;
        lastColumn[row] = block_[s - 1];
    }
    return rank_[0];
}

} // namespace

SortArrays::SortArrays(std::size_t rows)
    : capacity(rows), suffixArray(makeWorkArray<std::int32_t>(rows)), rankArray(makeWorkArray<std::int32_t>(rows)),
      bucketStart(makeWorkArray<std::int32_t>(bucketCountSize + 1)),
      bucketCount(makeWorkArray<std::int32_t>(bucketCountSize)), pending(makeWorkArray<PendingRange>(rows + 2)),
      keyedRows(makeWorkArray<KeyedRow>(keyedRowsCapacity))
{
}

SortResult sortBlock(std::span<std::uint8_t> block, std::int32_t n, std::span<std::uint8_t> lastColumn,
                     SortArrays& arrays, PivotGenerator& generator) noexcept
{
    if (n <= 0)
        return {};
    if (block.size() < static_cast<std::size_t>(n) + 1 || lastColumn.size() < static_cast<std::size_t>(n) ||
        arrays.capacity < static_cast<std::size_t>(n))
        return {0, false};
    Sorter sorter(block.data(), n, arrays, generator);
    sorter.initialBucketSort();
    if (!sorter.runPasses(2))
        return {0, false};
    sorter.finishEqualGroups();
    return {sorter.writeLastColumn(lastColumn.data()), true};
}

SortResult finishByDoubling(std::span<std::uint8_t> block, std::int32_t n, std::span<std::uint8_t> lastColumn,
                            SortArrays& arrays, std::int32_t h, PivotGenerator& generator) noexcept
{
    if (n <= 0)
        return {};
    if (block.size() < static_cast<std::size_t>(n) + 1 || lastColumn.size() < static_cast<std::size_t>(n) ||
        arrays.capacity < static_cast<std::size_t>(n) || h < 1)
        return {0, false};
    Sorter sorter(block.data(), n, arrays, generator);
    if (!sorter.runPasses(h))
        return {0, false};
    sorter.finishEqualGroups();
    return {sorter.writeLastColumn(lastColumn.data()), true};
}

} // namespace dls2mml
