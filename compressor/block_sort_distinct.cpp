// The block sort for a block whose rotations are all distinct, where the sorted
// order is unique and no pivot draw can change it (docs/format.md, section
// 7.3).
//
// First by induction: a rotation is S when it sorts below the rotation one
// byte later, L when above (all rotations differ, so every one is either).
// Only the S rotations that follow an L one (the seeds: a third of the rows
// of random bytes, nearly half of 16-bit sound) are sorted directly, as
// below; placed at the ends of their one-byte buckets, they give every L
// rotation in one left-to-right scan (an L rotation goes to the front of its
// bucket when the rotation after it is read) and then every S rotation in one
// right-to-left scan. The block is cyclic: each stretch of L rotations is
// reached from the seed after it, each stretch of S rotations from the L
// rotation after it. A large block of evenly spread byte values (random or
// compressed data) is sorted directly whole, which is quicker there.
//
// The direct sort: stable counting passes order the rows by their first
// three bytes (the seeds by five); each two-byte bucket is then sorted on the
// next eight bytes, read once per row (big-endian, from the block continued
// past its end with its first bytes again) and sorted in a small table; rows
// whose eight bytes agree are sorted again eight bytes deeper. Buckets too
// large for the table are first split by three-way partitions on those eight
// bytes. Should the seeds still agree after directDepth bytes, or need more
// than their budget of rows sorted again, the induction is dropped and every
// rotation is sorted directly: there a stretch of rotations that still agree
// after directDepth bytes (long repeats), and every stretch left once the
// rows sorted again exceed four times the block, is kept as a group and
// finished by the doubling passes of block_sort.cpp, so the work stays
// bounded.
#include <algorithm>
#include <cstring>
#include <utility>

#if defined(__wasm_simd128__)
#include <wasm_simd128.h>
#endif

#include "compressor/block_sort.h"

namespace dls2mml {
namespace {

constexpr std::int32_t bucketCountSize = 65536;
constexpr std::int32_t insertionRows = 16; // ranges this small are sorted by insertion
constexpr std::int32_t prefetchDistance = 64; // rows ahead of the sorted buckets whose keys are fetched
constexpr std::int32_t nintherRows = 128;  // ranges this large take a median of nine
// Blocks at least spreadCheckLength long whose first spreadCheckLength bytes
// are spread this evenly over the byte values (the sum of the squared counts
// of each value against length * length / 256: 1 for random bytes, 1.2 and
// more for 16-bit sound) are sorted directly.
constexpr std::int32_t spreadCheckLength = 1 << 16;
constexpr double evenSpread = 1.1;

inline std::uint64_t loadBigEndian64(const std::uint8_t* p) noexcept
{
#if defined(__wasm_simd128__)
    // WebAssembly has no byte swap (it would take some twenty steps): the
    // eight bytes go into a vector and one shuffle reverses them.
    const v128_t bytes = wasm_v128_load64_zero(p);
    const v128_t reversed = wasm_i8x16_shuffle(bytes, bytes, 7, 6, 5, 4, 3, 2, 1, 0, 8, 9, 10, 11, 12, 13, 14, 15);
    return static_cast<std::uint64_t>(wasm_i64x2_extract_lane(reversed, 0));
#elif defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return __builtin_bswap64(v);
#elif defined(__GNUC__)
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
#else
    std::uint64_t r = 0;
    for (int i = 0; i < 8; ++i)
        r = r << 8 | p[i];
    return r;
#endif
}

class DistinctSorter {
public:
    // block has room for wrappedBlockPadding bytes past its n bytes.
    DistinctSorter(std::uint8_t* block, std::int32_t n, SortArrays& arrays)
        : text_(block), n_(n), sa_(arrays.suffixArray.get()), pending_(arrays.pending.get()),
          groupsEnd_(arrays.capacity + 2), keyed_(arrays.keyedRows.get()), arrays_(arrays)
    {
        for (std::int32_t i = 0; i < wrappedBlockPadding; ++i)
            text_[n + i] = text_[i % n];
    }

    bool sortByInduction();
    void sortBuckets();
    bool hasGroups() const { return groups_ != 0; }
    void prepareDoubling();
    std::int32_t groupDepth() const { return std::min(minGroupDepth_, n_); }
    std::int32_t writeLastColumn(const std::uint8_t* block, std::uint8_t* lastColumn) const;

private:
    std::uint64_t word(std::int32_t s, std::int32_t depth) const { return loadBigEndian64(text_ + s + depth); }
    std::uint64_t rowWord(std::int32_t row, std::int32_t depth) const { return word(sa_[row], depth); }
    void prefetchRows(std::int32_t from, std::int32_t to, std::int32_t depth) const
    {
#if defined(__GNUC__)
        for (std::int32_t row = from; row < to; ++row)
            __builtin_prefetch(text_ + sa_[row] + depth);
#else
        (void)from;
        (void)to;
        (void)depth;
#endif
    }

    void push(std::int32_t lo, std::int32_t hi, std::int32_t depth)
    {
        if (hi - lo > 1)
            pending_[stackTop_++] = {lo, hi, depth, 0};
    }
    void sortEachBucket(std::int32_t rows, std::int32_t orderedBytes);
    void sortPending();
    void partition(std::int32_t lo, std::int32_t hi, std::int32_t depth);
    void sortByKeys(std::int32_t lo, std::int32_t hi, std::int32_t depth, std::int32_t orderedBytes);
    void sortKeyed(std::int32_t from, std::int32_t to);
    std::uint64_t choosePivot(std::int32_t lo, std::int32_t hi, std::int32_t depth) const;
    std::int32_t medianRow(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t depth) const;
    void keepGroup(std::int32_t lo, std::int32_t hi, std::int32_t depth);

    std::uint8_t* text_; // the block, then wrappedBlockPadding bytes of its start again
    std::int32_t n_;
    std::int32_t* sa_;
    // Ranges still to sort grow from the front, kept groups from the back.
    // Both are disjoint stretches of at least two rows, so together they
    // never exceed n / 2 entries.
    PendingRange* pending_;
    std::size_t groupsEnd_;
    std::size_t stackTop_ = 0;
    KeyedRow* keyed_;
    SortArrays& arrays_;
    std::size_t groups_ = 0;
    std::int32_t minGroupDepth_ = directDepth;
    // Rows handled beyond each bucket's first sorting; past the budget (long
    // repeats) every range left is kept for the doubling passes, so a block
    // costs at most about that much more than the doubling sort alone.
    std::int64_t spentRows_ = 0;
    std::int64_t rowBudget_ = 4 * static_cast<std::int64_t>(n_);
};

// Sorts the rotations by their first three bytes in two stable counting
// passes (third byte, then the first two), so each two-byte bucket comes out
// ordered by its third byte; then finishes each bucket.
void DistinctSorter::sortBuckets()
{
    const std::int32_t n = n_;
    std::int32_t* start = arrays_.bucketStart.get();
    std::int32_t* count = arrays_.bucketCount.get();
    std::int32_t* byThirdByte = arrays_.rankArray.get(); // free until the doubling passes
    std::int32_t third[257] = {};
    std::fill_n(count, bucketCountSize, 0);
    for (std::int32_t s = 0; s < n; ++s) {
        ++count[text_[s] << 8 | text_[s + 1]];
        ++third[text_[s + 2] + 1];
    }
    for (std::int32_t k = 0; k < 256; ++k)
        third[k + 1] += third[k];
    for (std::int32_t s = 0; s < n; ++s)
        byThirdByte[third[text_[s + 2]]++] = s;
    start[0] = 0;
    for (std::int32_t k = 0; k < bucketCountSize; ++k)
        start[k + 1] = start[k] + count[k];
    std::copy_n(start, bucketCountSize, count); // next free row of each bucket
    for (std::int32_t i = 0; i < n; ++i) {
        const std::int32_t s = byThirdByte[i];
        sa_[count[text_[s] << 8 | text_[s + 1]]++] = s;
    }
    sortEachBucket(n, 1);
}

// Rows 0..rows-1 stand in order of their first 2 + orderedBytes bytes, and
// bucketStart holds where each two-byte bucket begins; sorts each bucket to
// the end.
void DistinctSorter::sortEachBucket(std::int32_t rows, std::int32_t orderedBytes)
{
    const std::int32_t* start = arrays_.bucketStart.get();
    std::int32_t prefetched = 0;
    for (std::int32_t k = 0; k < bucketCountSize; ++k) {
        const std::int32_t lo = start[k], hi = start[k + 1];
        if (hi - lo < 2)
            continue;
        // The next rows' keys are fetched while this bucket is sorted.
        const std::int32_t ahead = std::min(rows, hi + prefetchDistance);
        prefetchRows(std::max(prefetched, hi), ahead, 2);
        prefetched = ahead;
        if (hi - lo <= keyedRowsCapacity)
            sortByKeys(lo, hi, 2, orderedBytes);
        else
            push(lo, hi, 2);
        sortPending();
    }
}

// The rotation that starts one byte before rotation s, cyclically.
inline std::int32_t rotationBefore(std::int32_t s, std::int32_t n) noexcept
{
    return (s == 0 ? n : s) - 1;
}

// The whole order by induction from the seeds (see the head of this file).
// Returns false when the seeds hold long repeats: the caller then sorts
// every rotation directly, with a sorter of its own.
bool DistinctSorter::sortByInduction()
{
    const std::int32_t n = n_;
    const std::uint8_t* t = text_;
    // The last byte that differs from the one after it fixes the kind of
    // every rotation from there back to 0; the rotations after it repeat
    // the byte at 0 up to the end, so they are of rotation 0's kind.
    std::int32_t last = n - 1;
    while (last >= 0 && t[last] == t[last + 1])
        --last;
    if (last < 0)
        return false; // one byte: nothing to induce
    if (n >= spreadCheckLength) {
        // Byte values spread evenly (random or compressed data) leave the
        // direct sort of every row little to do past its first eight bytes:
        // there it is quicker than the induction. The block's first
        // spreadCheckLength bytes decide.
        std::int32_t seen[256] = {};
        for (std::int32_t i = 0; i < spreadCheckLength; ++i)
            ++seen[t[i]];
        double samePairs = 0; // pairs of bytes with the same value
        for (std::int32_t c = 0; c < 256; ++c)
            samePairs += static_cast<double>(seen[c]) * seen[c];
        if (samePairs * 256 < evenSpread * static_cast<double>(spreadCheckLength) * spreadCheckLength)
            return false;
    }
    // By first byte: the rotations (low half) and the S rotations among them (high half).
    std::uint64_t rotations[256] = {};
    const std::uint32_t lastIsS = t[last] < t[last + 1];
    std::uint32_t nextIsS = lastIsS;
    rotations[t[last]] += 1 + (std::uint64_t{lastIsS} << 32);
    std::int32_t seeds = 0; // listed from the front of sa_, never past the rotation being classified
    for (std::int32_t i = last - 1; i >= 0; --i) {
        const std::uint32_t x = t[i], y = t[i + 1];
        const std::uint32_t isS = static_cast<std::uint32_t>(x < y) | (static_cast<std::uint32_t>(x == y) & nextIsS);
        sa_[seeds] = i + 1;
        seeds += static_cast<std::int32_t>(nextIsS & (isS ^ 1));
        rotations[x] += 1 + (std::uint64_t{isS} << 32);
        nextIsS = isS;
    }
    const std::uint32_t zeroIsS = nextIsS;
    if (last + 1 < n) // bytes last+1 .. n-1 all equal byte 0
        rotations[t[0]] += static_cast<std::uint64_t>(n - 1 - last) * (1 + (std::uint64_t{zeroIsS} << 32));
    if (zeroIsS && !lastIsS)
        sa_[seeds++] = last + 1 == n ? 0 : last + 1;

    // The seeds by their first five bytes, in three stable counting passes
    // (bytes 3 and 4, byte 2, bytes 0 and 1), so that few seeds are left to
    // sort within each two-byte bucket. The passes go from sa_ to rankArray,
    // back to sa_ past the seeds (no two seeds are neighbours, so there are
    // at most n / 2 of them), and to the front of sa_.
    std::int32_t* start = arrays_.bucketStart.get();
    std::int32_t* count = arrays_.bucketCount.get();
    std::int32_t* byLastBytes = arrays_.rankArray.get();
    std::int32_t* byMiddleByte = sa_ + seeds;
    // bucketStart counts by bytes 3 and 4 first.
    std::int32_t third[257] = {};
    std::fill_n(count, bucketCountSize, 0);
    std::fill_n(start, bucketCountSize + 1, 0);
    for (std::int32_t i = 0; i < seeds; ++i) {
        const std::int32_t s = sa_[i];
        ++count[t[s] << 8 | t[s + 1]];
        ++third[t[s + 2] + 1];
        ++start[(t[s + 3] << 8 | t[s + 4]) + 1];
    }
    for (std::int32_t k = 0; k < bucketCountSize; ++k)
        start[k + 1] += start[k];
    for (std::int32_t i = 0; i < seeds; ++i) {
        const std::int32_t s = sa_[i];
        byLastBytes[start[t[s + 3] << 8 | t[s + 4]]++] = s;
    }
    for (std::int32_t k = 0; k < 256; ++k)
        third[k + 1] += third[k];
    for (std::int32_t i = 0; i < seeds; ++i) {
        const std::int32_t s = byLastBytes[i];
        byMiddleByte[third[t[s + 2]]++] = s;
    }
    start[0] = 0;
    for (std::int32_t k = 0; k < bucketCountSize; ++k)
        start[k + 1] = start[k] + count[k];
    std::copy_n(start, bucketCountSize, count);
    for (std::int32_t i = 0; i < seeds; ++i) {
        const std::int32_t s = byMiddleByte[i];
        sa_[count[t[s] << 8 | t[s + 1]]++] = s;
    }
    rowBudget_ = 4 * static_cast<std::int64_t>(seeds);
    sortEachBucket(seeds, 3);
    if (groups_ != 0)
        return false;

    // Each one-byte bucket c: its L rotations in rows first[c] .. sFirst[c]-1,
    // then its S rotations up to end[c]-1.
    std::int32_t first[256], sFirst[256], end[256], next[256], seedFirst[256];
    for (std::int32_t c = 0, row = 0; c < 256; ++c) {
        first[c] = row;
        row += static_cast<std::int32_t>(rotations[c] & 0xFFFFFFFF);
        end[c] = row;
        sFirst[c] = row - static_cast<std::int32_t>(rotations[c] >> 32);
        next[c] = row;
    }
    // The sorted seeds go to the ends of their buckets, in order; a seed's
    // new row is never before its row in the sorted list. Rows left as they
    // were are written before they are read.
    for (std::int32_t i = seeds - 1; i >= 0; --i) {
        const std::int32_t s = sa_[i];
        sa_[--next[t[s]]] = s;
    }
    std::copy_n(next, 256, seedFirst);
    // Left to right, bucket by bucket: its L rotations (each induced from a
    // smaller rotation, so written before it is read), then its seeds (now
    // at next[c] .. end[c]-1). The rotation before an L rotation is L when
    // its byte is not below; the one before a seed always is.
    std::int32_t unused = 0;
    for (std::int32_t c = 0; c < 256; ++c)
        next[c] = first[c];
    for (std::int32_t c = 0; c < 256; ++c) {
        for (std::int32_t row = first[c]; row < next[c]; ++row) {
            const std::int32_t s = sa_[row];
            const std::int32_t before = rotationBefore(s, n);
            const std::uint32_t b = t[before];
            const bool take = b >= static_cast<std::uint32_t>(c);
            std::int32_t* to = take ? sa_ + next[b] : &unused;
            *to = before;
            next[b] += take;
        }
        for (std::int32_t row = seedFirst[c]; row < end[c]; ++row) {
            const std::int32_t s = sa_[row];
            const std::int32_t before = rotationBefore(s, n);
            sa_[next[t[before]]++] = before;
        }
    }
    // Right to left, bucket by bucket: its S rotations (each induced from a
    // larger rotation, so written before it is read, the seeds among them
    // written over), then its L rotations. The rotation before an S
    // rotation is S when its byte is not above; before an L one, when below.
    for (std::int32_t c = 0; c < 256; ++c)
        next[c] = end[c];
    for (std::int32_t c = 255; c >= 0; --c) {
        for (std::int32_t row = end[c] - 1; row >= sFirst[c]; --row) {
            const std::int32_t s = sa_[row];
            const std::int32_t before = rotationBefore(s, n);
            const std::uint32_t b = t[before];
            const bool take = b <= static_cast<std::uint32_t>(c);
            next[b] -= take;
            std::int32_t* to = take ? sa_ + next[b] : &unused;
            *to = before;
        }
        for (std::int32_t row = sFirst[c] - 1; row >= first[c]; --row) {
            const std::int32_t s = sa_[row];
            const std::int32_t before = rotationBefore(s, n);
            const std::uint32_t b = t[before];
            const bool take = b < static_cast<std::uint32_t>(c);
            next[b] -= take;
            std::int32_t* to = take ? sa_ + next[b] : &unused;
            *to = before;
        }
    }
    return true;
}

// Every range on the stack shares its first depth bytes.
void DistinctSorter::sortPending()
{
    while (stackTop_ != 0) {
        const PendingRange range = pending_[--stackTop_];
        const std::int32_t lo = range.first, hi = range.last, depth = range.e1;
        if (depth >= directDepth || depth >= n_ || spentRows_ > rowBudget_) {
            keepGroup(lo, hi, depth);
            continue;
        }
        spentRows_ += hi - lo;
        if (hi - lo > keyedRowsCapacity)
            partition(lo, hi, depth);
        else
            sortByKeys(lo, hi, depth, 0);
    }
}

// Sorts rows lo..hi-1 by their next eight bytes, each read once into
// keyed_; rows whose eight bytes agree go back on the stack eight bytes
// deeper. The rows already stand in order of the first orderedBytes (0 to 3)
// of those bytes.
void DistinctSorter::sortByKeys(std::int32_t lo, std::int32_t hi, std::int32_t depth, std::int32_t orderedBytes)
{
    const std::int32_t rows = hi - lo;
    for (std::int32_t i = 0; i < rows; ++i)
        keyed_[i] = {word(sa_[lo + i], depth), sa_[lo + i]};
    if (orderedBytes != 0) {
        const int unordered = 64 - 8 * orderedBytes;
        std::int32_t first = 0;
        for (std::int32_t i = 1; i <= rows; ++i)
            if (i == rows || (keyed_[i].key ^ keyed_[first].key) >> unordered != 0) {
                sortKeyed(first, i);
                first = i;
            }
    } else {
        sortKeyed(0, rows);
    }
    std::int32_t first = 0;
    for (std::int32_t i = 0; i < rows; ++i) {
        sa_[lo + i] = keyed_[i].start;
        if (keyed_[i].key != keyed_[first].key) {
            push(lo + first, lo + i, depth + 8);
            first = i;
        }
    }
    push(lo + first, hi, depth + 8);
}

void DistinctSorter::sortKeyed(std::int32_t from, std::int32_t to)
{
    if (to - from > insertionRows) {
        std::sort(keyed_ + from, keyed_ + to, [](const KeyedRow& x, const KeyedRow& y) { return x.key < y.key; });
        return;
    }
    for (std::int32_t i = from + 1; i < to; ++i) {
        const KeyedRow t = keyed_[i];
        std::int32_t j = i;
        for (; j > from && keyed_[j - 1].key > t.key; --j)
            keyed_[j] = keyed_[j - 1];
        keyed_[j] = t;
    }
}

// A range too large for sortByKeys: one three-way partition on the next
// eight bytes, read in place.
void DistinctSorter::partition(std::int32_t lo, std::int32_t hi, std::int32_t depth)
{
    const std::uint64_t v = choosePivot(lo, hi, depth);
    // Split-end partition: keys equal to v gather at both ends first.
    std::int32_t a = lo, b = lo, c = hi - 1, d = hi - 1;
    for (;;) {
        std::uint64_t k;
        while (b <= c && (k = rowWord(b, depth)) <= v) {
            if (k == v)
                std::swap(sa_[a++], sa_[b]);
            ++b;
        }
        while (b <= c && (k = rowWord(c, depth)) >= v) {
            if (k == v)
                std::swap(sa_[c], sa_[d--]);
            --c;
        }
        if (b > c)
            break;
        std::swap(sa_[b++], sa_[c--]);
    }
    const std::int32_t p = std::min(a - lo, b - a);
    for (std::int32_t i = 0; i < p; ++i)
        std::swap(sa_[lo + i], sa_[b - p + i]);
    const std::int32_t q = std::min(d - c, hi - 1 - d);
    for (std::int32_t i = 0; i < q; ++i)
        std::swap(sa_[b + i], sa_[hi - q + i]);
    const std::int32_t e1 = lo + (b - a);
    const std::int32_t e2 = hi - (d - c); // equal rows are e1..e2-1
    push(lo, e1, depth);
    push(e1, e2, depth + 8);
    push(e2, hi, depth);
}

std::int32_t DistinctSorter::medianRow(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t depth) const
{
    const std::uint64_t x = rowWord(a, depth), y = rowWord(b, depth), z = rowWord(c, depth);
    if (x < y)
        return y < z ? b : (x < z ? c : a);
    return x < z ? a : (y < z ? c : b);
}

std::uint64_t DistinctSorter::choosePivot(std::int32_t lo, std::int32_t hi, std::int32_t depth) const
{
    const std::int32_t last = hi - 1;
    const std::int32_t mid = lo + (hi - lo) / 2;
    std::int32_t row;
    if (hi - lo >= nintherRows) {
        const std::int32_t step = (hi - lo) / 8;
        row = medianRow(medianRow(lo, lo + step, lo + 2 * step, depth), medianRow(mid - step, mid, mid + step, depth),
                        medianRow(last - 2 * step, last - step, last, depth), depth);
    } else {
        row = medianRow(lo, mid, last, depth);
    }
    return rowWord(row, depth);
}

// Rows lo..hi-1 agree for at least depth bytes; the doubling passes split them.
void DistinctSorter::keepGroup(std::int32_t lo, std::int32_t hi, std::int32_t depth)
{
    pending_[groupsEnd_ - ++groups_] = {lo, hi - 1, depth, 0};
    minGroupDepth_ = std::min(minGroupDepth_, depth);
}

// The state between two doubling passes: every rotation's rank is its row,
// or the last row of its group; rows outside the groups are marked finished.
void DistinctSorter::prepareDoubling()
{
    std::int32_t* rank = arrays_.rankArray.get();
    PendingRange* const group = pending_ + (groupsEnd_ - groups_);
    std::int32_t row = 0;
    std::sort(group, group + groups_, [](const PendingRange& x, const PendingRange& y) { return x.first < y.first; });
    for (std::size_t g = 0; g <= groups_; ++g) {
        const std::int32_t end = g < groups_ ? group[g].first : n_;
        for (; row < end; ++row) {
            rank[sa_[row]] = row;
            sa_[row] = -1;
        }
        if (g == groups_)
            break;
        for (; row <= group[g].last; ++row)
            rank[sa_[row]] = group[g].last;
    }
}

std::int32_t DistinctSorter::writeLastColumn(const std::uint8_t* block, std::uint8_t* lastColumn) const
{
    std::int32_t primaryIndex = 0;
    for (std::int32_t row = 0; row < n_; ++row) {
        const std::int32_t s = sa_[row];
        if (s == 0) {
            primaryIndex = row;
            lastColumn[row] = block[n_ - 1];
        } else {
            lastColumn[row] = block[s - 1];
        }
    }
    return primaryIndex;
}

} // namespace

SortResult sortDistinctRotations(std::span<std::uint8_t> block, std::int32_t n, std::span<std::uint8_t> lastColumn,
                                 SortArrays& arrays) noexcept
{
    if (n <= 0)
        return {};
    if (block.size() < static_cast<std::size_t>(n) + wrappedBlockPadding || lastColumn.size() < static_cast<std::size_t>(n) ||
        arrays.capacity < static_cast<std::size_t>(n))
        return {0, false};
    if (DistinctSorter induced(block.data(), n, arrays); induced.sortByInduction())
        return {induced.writeLastColumn(block.data(), lastColumn.data()), true};
    DistinctSorter sorter(block.data(), n, arrays);
    sorter.sortBuckets();
    if (!sorter.hasGroups())
        return {sorter.writeLastColumn(block.data(), lastColumn.data()), true};
    sorter.prepareDoubling();
    PivotGenerator scratch; // the order is unique; the draws change nothing
    return finishByDoubling(block, n, lastColumn, arrays, sorter.groupDepth(), scratch);
}

} // namespace dls2mml
