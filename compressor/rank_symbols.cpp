#include "compressor/rank_symbols.h"

#include <cassert>

#include "compressor/run_count.h"

namespace dls2mml {
namespace {

constexpr std::size_t maxRankGroup = rankRunCopies + maxRunCount; // 32,898

// z zero ranks: the base-2 digits of z + 1 below its top bit, least significant first.
std::uint8_t* writeZeroRun(std::uint8_t* out, std::size_t z) noexcept
{
    for (std::size_t v = z + 1; v != 1; v >>= 1)
        *out++ = static_cast<std::uint8_t>(v & 1);
    return out;
}

} // namespace

std::int32_t codeRankSymbols(std::span<std::uint8_t> output, std::span<const std::uint8_t> input) noexcept
{
    assert(output.size() >= rankSymbolsBound(input.size()));
    const std::size_t m = input.size();
    std::uint8_t* out = output.data();
    std::size_t p = 0;
    while (p < m) {
        const std::uint8_t r = input[p++];
        if (r == 0) {
            std::size_t z = 1;
            while (p < m && input[p] == 0) {
                ++z;
                ++p;
            }
            out = writeZeroRun(out, z);
        } else if (r >= 254) {
            *out++ = 255;
            *out++ = static_cast<std::uint8_t>(r - 254);
        } else {
            std::size_t length = 1;
            while (p < m && length < maxRankGroup && input[p] == r) {
                ++length;
                ++p;
            }
            const auto symbol = static_cast<std::uint8_t>(r + 1);
            if (length < rankRunCopies) {
                for (std::size_t i = 0; i < length; ++i)
                    *out++ = symbol;
            } else {
                out[0] = out[1] = out[2] = symbol;
                out += rankRunCopies;
                out += writeRunCount(out, static_cast<std::int32_t>(length - rankRunCopies));
            }
        }
    }
    return static_cast<std::int32_t>(out - output.data());
}

} // namespace dls2mml
