#include "compressor/run_length_prepass.h"

#include <cassert>
#include <cstring>

#include "compressor/run_count.h"

namespace dls2mml {
namespace {

constexpr std::size_t fastStretch = 16;

// True when none of the bytes at[0..16) equals the byte after it (at[16] is
// read too): each of the sixteen then stands alone, as most sampled sound
// does.
inline bool noEqualNeighbours(const std::uint8_t* at) noexcept
{
#if defined(__GNUC__)
    using Lanes = std::uint8_t __attribute__((vector_size(16)));
    Lanes here, next;
    std::memcpy(&here, at, sizeof here);
    std::memcpy(&next, at + 1, sizeof next);
    const auto equal = here == next;
    std::uint64_t halves[2];
    std::memcpy(halves, &equal, sizeof halves);
    return (halves[0] | halves[1]) == 0;
#else
    (void)at;
    return false;
#endif
}

} // namespace

std::int32_t runLengthPrepass(std::span<std::uint8_t> output, std::span<const std::uint8_t> input,
                              std::int32_t threshold) noexcept
{
    assert(threshold != prepassThreshold || output.size() >= runLengthPrepassBound(input.size()));
    const std::size_t n = input.size();
    const std::size_t maxGroup = static_cast<std::size_t>(threshold) + maxRunCount;
    const std::size_t copies = static_cast<std::size_t>(threshold);
    std::uint8_t* out = output.data();
    std::size_t p = 0;
    while (p < n) {
        if (copies > 1 && p + fastStretch < n && noEqualNeighbours(input.data() + p)) {
            // Sixteen groups of one byte each: a plain copy.
            std::memcpy(out, input.data() + p, fastStretch);
            out += fastStretch;
            p += fastStretch;
            continue;
        }
        const std::uint8_t x = input[p];
        // A group of one byte, by far the most common, is a plain copy
        // (unless the threshold is 1, where it takes a count too).
        const bool single = p + 1 == n || input[p + 1] != x;
        if (single && copies > 1) {
            *out++ = x;
            ++p;
            continue;
        }
        std::size_t length = 1;
        ++p;
        while (p < n && length < maxGroup && input[p] == x) {
            ++length;
            ++p;
        }
        if (length < copies) {
            for (std::size_t i = 0; i < length; ++i)
                *out++ = x;
        } else {
            for (std::size_t i = 0; i < copies; ++i)
                *out++ = x;
            out += writeRunCount(out, static_cast<std::int32_t>(length - copies));
        }
    }
    return static_cast<std::int32_t>(out - output.data());
}

} // namespace dls2mml
