#include "compressor/equal_rotations.h"

#include <cstring>

#include "compressor/run_length_prepass.h"

namespace dls2mml {

bool hasEqualRotations(std::span<const std::uint8_t> block) noexcept
{
    const std::size_t m = block.size();
    const std::uint8_t* bytes = block.data();
    std::size_t rest = m;
    for (std::size_t q = 2; rest > 1; ++q) {
        if (q * q > rest)
            q = rest; // what is left is prime
        if (rest % q != 0)
            continue;
        while (rest % q == 0)
            rest /= q;
        const std::size_t period = m / q;
        if (std::memcmp(bytes, bytes + period, m - period) == 0)
            return true;
    }
    return false;
}

bool sliceHasEqualRotations(std::span<const std::uint8_t> slice, std::span<std::uint8_t> prepassed) noexcept
{
    const std::int32_t m = runLengthPrepass(prepassed, slice);
    return hasEqualRotations(prepassed.first(static_cast<std::size_t>(m)));
}

} // namespace dls2mml
