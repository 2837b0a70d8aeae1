// Rank symbol reader: the range coder's symbols back into ranks
// (docs/format.md, section 5.2).
//
// The ranks are written into the vector sized once for the most a block may
// hold (plus a little room, so that short runs are stored with one wide write
// whatever their length) and cut to the ranks read at the end; no insert or
// push_back per rank. Lone symbols, most symbols of noisy data, are read
// sixteen at a time up to the first that is not lone. A fault is judged
// exactly as the groups are read, so the fast paths for lone symbols are
// taken only while no limit can be reached.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "compressor/rank_symbols.h"
#include "compressor/run_count.h"

namespace dls2mml {
namespace {

// Room after the limit for the wide writes of short runs.
constexpr std::size_t shortRun = 32;

// Writes length copies of value at out: one fixed-size write when the run is
// short (the room after the limit takes what lies beyond it).
inline void fillRun(std::uint8_t* out, std::uint8_t value, std::size_t length) noexcept
{
    if (length <= shortRun)
        std::memset(out, value, shortRun);
    else
        std::memset(out, value, length);
}

// Reads the lone symbols (2..254, each unlike the one after it) that stand
// first among the sixteen at p, as far as their ranks fit below capacity:
// most symbols of noisy data are lone. symbols[p + 16] must exist, and rank
// must have room for sixteen at out.
inline void readLoneSymbols(const std::uint8_t* symbol, std::size_t& p, std::uint8_t* rank, std::size_t& out,
                            std::size_t capacity) noexcept
{
#if defined(__GNUC__)
    using Lanes = std::uint8_t __attribute__((vector_size(16)));
    using Words = std::uint64_t __attribute__((vector_size(16)));
    Lanes here;
    Lanes next;
    __builtin_memcpy(&here, symbol + p, sizeof here);
    __builtin_memcpy(&next, symbol + p + 1, sizeof next);
    const Lanes two = here - 2; // 2..254 become 0..252
    const Words lone = reinterpret_cast<Words>((two < 253) & (here != next));
    // Lanes are all ones where lone; the first lane that is not ends the stretch.
    const std::size_t first = lone[0] != ~std::uint64_t{0} ? static_cast<std::size_t>(__builtin_ctzll(~lone[0])) / 8
                              : lone[1] != ~std::uint64_t{0} ? 8 + static_cast<std::size_t>(__builtin_ctzll(~lone[1])) / 8
                                                             : 16;
    const std::size_t n = std::min(first, capacity - out);
    const Lanes ranks = here - 1;
    __builtin_memcpy(rank + out, &ranks, sizeof ranks);
    p += n;
    out += n;
#else
    (void)symbol, (void)p, (void)rank, (void)out, (void)capacity;
#endif
}

} // namespace

StageFault decodeRankSymbols(std::span<const std::uint8_t> symbols, ReusedBytes& ranks,
                             std::size_t limit)
{
    const std::size_t k = symbols.size();
    const std::size_t capacity = limit;
    if (ranks.size() < capacity + shortRun)
        ranks.resize(capacity + shortRun);
    std::uint8_t* const rank = ranks.data();
    const std::uint8_t* const symbol = symbols.data();
    std::size_t out = 0;
    std::size_t p = 0;
    auto stop = [&](FaultKind kind, std::string message, std::size_t position) {
        ranks.resize(out);
        return StageFault{kind, std::move(message), position};
    };
    auto limitText = [&] { return std::to_string(capacity); };
    while (p < k) {
        if (p + 16 < k)
            readLoneSymbols(symbol, p, rank, out, capacity);
        const std::uint8_t s = symbol[p];
        // A lone symbol 2..254: one rank, as long as the next symbol differs.
        if (s >= 2 && s != 255 && (p + 1 == k || symbol[p + 1] != s) && out < capacity) {
            rank[out++] = static_cast<std::uint8_t>(s - 1);
            ++p;
            continue;
        }
        if (s <= 1) {
            const std::size_t start = p;
            std::uint64_t z = 0;
            if (!readZeroRun(symbol, p, k, capacity - out, z))
                return stop(FaultKind::limitExceeded, "zero run makes the pre-pass length exceed " + limitText() + ", the most a block can have",
                            start);
            fillRun(rank + out, 0, static_cast<std::size_t>(z));
            out += static_cast<std::size_t>(z);
        } else if (s == 255) {
            if (p + 1 >= k)
                return stop(FaultKind::corrupt, "escape symbol 255 is the last symbol of the block; it must be followed by 0 or 1", p);
            const std::uint8_t selector = symbol[p + 1];
            if (selector > 1)
                return stop(FaultKind::corrupt,
                            "escape symbol 255 is followed by symbol " + std::to_string(selector) + "; only 0 or 1 may follow it", p + 1);
            if (out >= capacity)
                return stop(FaultKind::limitExceeded, "escaped rank makes the pre-pass length exceed " + limitText() + ", the most a block can have",
                            p);
            rank[out++] = static_cast<std::uint8_t>(254 + selector);
            p += 2;
        } else {
            const CountedGroup group = readCountedGroup(symbol, p, k, rankRunCopies);
            if (group.fault == CountedGroup::Fault::countMissing)
                return stop(FaultKind::corrupt, "run count missing after three equal symbols " + hexByte(s) + " at the end of the block",
                            group.faultAt);
            if (group.fault == CountedGroup::Fault::countCut)
                return stop(FaultKind::corrupt, "two-byte run count is cut short by the end of the block", group.faultAt);
            if (group.length > capacity - out)
                return stop(FaultKind::limitExceeded, "rank run makes the pre-pass length exceed " + limitText() + ", the most a block can have",
                            group.start);
            fillRun(rank + out, static_cast<std::uint8_t>(s - 1), group.length);
            out += group.length;
            if (group.goesOnAfterCount)
                return stop(FaultKind::corrupt, "run count " + std::to_string(group.count) + " stands before a further symbol " + hexByte(s) +
                                " of the same run; a run count below " + std::to_string(maxRunCount) + " ends its run",
                            p);
        }
    }
    ranks.resize(out);
    return {};
}

} // namespace dls2mml
