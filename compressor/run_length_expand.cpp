// Run-length expansion: reads the pre-pass bytes back into the block. Equal
// bytes are copied while counted; after the fourth equal byte of a group one
// byte (0 to 127) or two bytes (0x80 + high bits, then low byte, plus 128) of
// run count give the further repetitions, and counting starts afresh after it.
// Faults: a run count missing or cut short at the end, a run that goes on after
// a run count below the largest (the pre-pass would have counted it), and a
// block longer than the output allows.
#include <cstdint>
#include <string>

#include "compressor/decode_stages.h"
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
        const std::size_t start = p;
        const std::uint8_t x = prepass[p++];
        std::size_t copies = 1;
        while (p < m && copies < threshold && prepass[p] == x) {
            ++copies;
            ++p;
        }
        std::size_t total = copies;
        std::int32_t count = 0;
        if (copies == threshold) {
            if (p >= m)
                return {"run count missing after four equal bytes " + hexByte(x) + " at the end of the pre-pass data", start};
            if (!readRunCount(prepass.data(), p, m, count))
                return {"two-byte run count is cut short by the end of the pre-pass data", p};
            total += static_cast<std::size_t>(count);
        }
        if (total > capacity - out)
            return {"block decodes to more than " + std::to_string(capacity) + " bytes", start};
        output.insert(output.end(), total, x);
        out += total;
        if (copies == threshold && count < maxRunCount && p < m && prepass[p] == x)
            return {"run count " + std::to_string(count) + " stands before a further byte " + hexByte(x) +
                        " of the same run; a run count below " + std::to_string(maxRunCount) + " ends its run",
                    p};
    }
    return {};
}

} // namespace dls2mml
