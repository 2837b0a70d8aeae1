// The coder divides the range by a model's total with a multiplication; it
// must give the quotient of a true division for every total a model can have.
#include <gtest/gtest.h>

#include <random>

#include "compressor/range_coder.h"

namespace dls2mml {
namespace {

TEST(RangeCoderDivision, EqualsIntegerDivisionForEveryTotal)
{
    std::mt19937 random(5);
    for (std::uint32_t d = 2; d <= 32768; ++d) {
        // Around the largest multiples of d, where rounding errors would show first.
        const std::uint32_t top = 0xFFFFFFFFu / d * d;
        const std::uint32_t cases[] = {0, 1, d - 1, d, d + 1, top - 1, top, 0xFFFFFFFFu, 0x01000000u, 0x00FFFFFFu,
                                       static_cast<std::uint32_t>(random())};
        for (std::uint32_t n : cases)
            ASSERT_EQ(divideByTotal(n, d), n / d) << n << " / " << d;
    }
}

} // namespace
} // namespace dls2mml
