// Run-length expansion: the pre-pass bytes back into the block
// (docs/format.md, section 5.5).
#include <cstdint>
#include <string>

#include "compressor/run_count.h"
#include "compressor/run_length_prepass.h"

namespace dls2mml {

StageFault expandRuns(std::span<const std::uint8_t> prepass, std::vector<std::uint8_t>& output, std::size_t limit)
{
    constexpr std::size_t threshold = static_cast<std::size_t>(prepassThreshold);
    const std::size_t m = prepass.size();
    const std::size_t capacity = limit;
    std::size_t out = 0;
    std::size_t p = 0;
    output.clear();
    while (p < m) {
        const CountedGroup group = readCountedGroup(prepass.data(), p, m, threshold);
        if (group.fault == CountedGroup::Fault::countMissing)
            return {FaultKind::corrupt, "run count missing after four equal bytes " + hexByte(group.value) + " at the end of the pre-pass data",
                    group.faultAt};
        if (group.fault == CountedGroup::Fault::countCut)
            return {FaultKind::corrupt, "two-byte run count is cut short by the end of the pre-pass data", group.faultAt};
        if (group.length > capacity - out)
            return {FaultKind::limitExceeded, "block decodes to more than " + std::to_string(capacity) + " bytes", group.start};
        output.insert(output.end(), group.length, group.value);
        out += group.length;
        if (group.goesOnAfterCount)
            return {FaultKind::corrupt, "run count " + std::to_string(group.count) + " stands before a further byte " + hexByte(group.value) +
                        " of the same run; a run count below " + std::to_string(maxRunCount) + " ends its run",
                    p};
    }
    return {};
}

} // namespace dls2mml
