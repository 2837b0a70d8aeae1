// Run-length expansion: the pre-pass bytes back into the block
// (docs/format.md, section 5.5).
//
// The block is written into the vector sized once for the most a block may
// hold (plus a little room for fixed-size writes) and cut to its length at the
// end. Stretches with no two equal neighbours are copied eight bytes at a
// time: each such byte is a group of its own. Every other group is read and
// judged exactly as the rules say, so faults keep their kind and place.
#include <cstdint>
#include <cstring>
#include <string>

#include "compressor/run_count.h"
#include "compressor/run_length_prepass.h"

namespace dls2mml {
namespace {

// Room after the limit for the fixed-size writes.
constexpr std::size_t shortRun = 32;

inline std::uint64_t load64(const std::uint8_t* p) noexcept
{
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

constexpr std::uint64_t lowBits = 0x0101010101010101u;
constexpr std::uint64_t highBits = 0x8080808080808080u;

// Whether any of the eight bytes of x is zero.
inline bool hasZeroByte(std::uint64_t x) noexcept { return ((x - lowBits) & ~x & highBits) != 0; }

} // namespace

StageFault expandRuns(std::span<const std::uint8_t> prepass, ReusedBytes& output, std::size_t limit)
{
    constexpr std::size_t threshold = static_cast<std::size_t>(prepassThreshold);
    const std::size_t m = prepass.size();
    const std::size_t capacity = limit;
    if (output.size() < capacity + shortRun)
        output.resize(capacity + shortRun);
    std::uint8_t* const block = output.data();
    const std::uint8_t* const data = prepass.data();
    std::size_t out = 0;
    std::size_t p = 0;
    auto stop = [&](FaultKind kind, std::string message, std::size_t position) {
        output.resize(out);
        return StageFault{kind, std::move(message), position};
    };
    while (p < m) {
        // Bytes p..p+7 each differ from the byte after them: eight lone groups.
        if (p + 9 <= m && capacity - out >= 8) {
            const std::uint64_t here = load64(data + p);
            if (!hasZeroByte(here ^ load64(data + p + 1))) {
                std::memcpy(block + out, &here, 8);
                out += 8;
                p += 8;
                continue;
            }
        }
        const CountedGroup group = readCountedGroup(data, p, m, threshold);
        if (group.fault == CountedGroup::Fault::countMissing)
            return stop(FaultKind::corrupt, "run count missing after four equal bytes " + hexByte(group.value) + " at the end of the pre-pass data",
                        group.faultAt);
        if (group.fault == CountedGroup::Fault::countCut)
            return stop(FaultKind::corrupt, "two-byte run count is cut short by the end of the pre-pass data", group.faultAt);
        if (group.length > capacity - out)
            return stop(FaultKind::limitExceeded, "block decodes to more than " + std::to_string(capacity) + " bytes", group.start);
        if (group.length <= shortRun)
            std::memset(block + out, group.value, shortRun);
        else
            std::memset(block + out, group.value, group.length);
        out += group.length;
        if (group.goesOnAfterCount)
            return stop(FaultKind::corrupt, "run count " + std::to_string(group.count) + " stands before a further byte " + hexByte(group.value) +
                            " of the same run; a run count below " + std::to_string(maxRunCount) + " ends its run",
                        p);
    }
    output.resize(out);
    return {};
}

} // namespace dls2mml
