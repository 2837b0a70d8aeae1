// Rank symbol reader: the range coder's symbols back into ranks
// (docs/format.md, section 5.2).
#include <cstdint>
#include <string>

#include "compressor/rank_symbols.h"
#include "compressor/run_count.h"

namespace dls2mml {

StageFault decodeRankSymbols(std::span<const std::uint8_t> symbols, std::vector<std::uint8_t>& ranks,
                             std::size_t limit)
{
    const std::size_t k = symbols.size();
    const std::size_t capacity = limit;
    const std::string limitText = std::to_string(capacity);
    std::size_t out = 0;
    std::size_t p = 0;
    ranks.clear();
    while (p < k) {
        const std::uint8_t s = symbols[p];
        if (s <= 1) {
            const std::size_t start = p;
            std::uint64_t z = 0;
            std::uint64_t weight = 1;
            while (p < k && symbols[p] <= 1) {
                z += (static_cast<std::uint64_t>(symbols[p]) + 1) * weight;
                weight <<= 1;
                ++p;
                if (z > capacity - out)
                    return {FaultKind::limitExceeded, "zero run makes the pre-pass length exceed " + limitText + ", the most a block can have", start};
            }
            ranks.insert(ranks.end(), static_cast<std::size_t>(z), 0);
            out += static_cast<std::size_t>(z);
        } else if (s == 255) {
            if (p + 1 >= k)
                return {FaultKind::corrupt, "escape symbol 255 is the last symbol of the block; it must be followed by 0 or 1", p};
            const std::uint8_t selector = symbols[p + 1];
            if (selector > 1)
                return {FaultKind::corrupt, "escape symbol 255 is followed by symbol " + std::to_string(selector) + "; only 0 or 1 may follow it",
                        p + 1};
            if (out >= capacity)
                return {FaultKind::limitExceeded, "escaped rank makes the pre-pass length exceed " + limitText + ", the most a block can have", p};
            ranks.push_back(static_cast<std::uint8_t>(254 + selector));
            ++out;
            p += 2;
        } else {
            const CountedGroup group = readCountedGroup(symbols.data(), p, k, rankRunCopies);
            if (group.fault == CountedGroup::Fault::countMissing)
                return {FaultKind::corrupt, "run count missing after three equal symbols " + hexByte(s) + " at the end of the block",
                        group.faultAt};
            if (group.fault == CountedGroup::Fault::countCut)
                return {FaultKind::corrupt, "two-byte run count is cut short by the end of the block", group.faultAt};
            if (group.length > capacity - out)
                return {FaultKind::limitExceeded, "rank run makes the pre-pass length exceed " + limitText + ", the most a block can have",
                        group.start};
            ranks.insert(ranks.end(), group.length, static_cast<std::uint8_t>(s - 1));
            out += group.length;
            if (group.goesOnAfterCount)
                return {FaultKind::corrupt, "run count " + std::to_string(group.count) + " stands before a further symbol " + hexByte(s) +
                            " of the same run; a run count below " + std::to_string(maxRunCount) + " ends its run",
                        p};
        }
    }
    return {};
}

} // namespace dls2mml
