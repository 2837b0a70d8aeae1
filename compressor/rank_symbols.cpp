#include "compressor/rank_symbols.h"

#include <cassert>
#include <cstring>

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

constexpr std::size_t stretch = 16;

// Writes each of the ranks at[0..16) plus 1 to out[0..16) and returns how
// many of them from the first on are plain: neither 0 nor 254 or 255, and not
// equal to the rank after it (at[16] is read too). Only those count: each is
// coded as one symbol, its rank + 1.
inline std::size_t writePlainRanks(std::uint8_t* out, const std::uint8_t* at) noexcept
{
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    using Lanes = std::uint8_t __attribute__((vector_size(16)));
    Lanes here, next;
    std::memcpy(&here, at, sizeof here);
    std::memcpy(&next, at + 1, sizeof next);
    const Lanes symbols = here + 1;
    std::memcpy(out, &symbols, sizeof symbols);
    // r - 1 wraps 0 to 255, so 0, 254 and 255 are those at 253 and above.
    const auto special = (here - 1 >= 253) | (here == next);
    std::uint64_t halves[2];
    std::memcpy(halves, &special, sizeof halves);
    if (halves[0] != 0)
        return static_cast<std::size_t>(__builtin_ctzll(halves[0])) / 8;
    if (halves[1] != 0)
        return 8 + static_cast<std::size_t>(__builtin_ctzll(halves[1])) / 8;
    return stretch;
#else
    (void)out, (void)at;
    return 0;
#endif
}

} // namespace

std::int32_t codeRankSymbols(std::span<std::uint8_t> output, std::span<const std::uint8_t> input) noexcept
{
    assert(output.size() >= rankSymbolsBound(input.size()));
    const std::size_t m = input.size();
    std::uint8_t* out = output.data();
    std::size_t p = 0;
    while (p < m) {
        // Most ranks of sampled sound stand alone: up to sixteen of those at
        // once (the store may run past them, into room the bound leaves:
        // at most 2 p symbols stand before out, and p + 17 <= m).
        if (p + stretch < m) {
            const std::size_t plain = writePlainRanks(out, input.data() + p);
            out += plain;
            p += plain;
            if (plain == stretch)
                continue;
        }
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
