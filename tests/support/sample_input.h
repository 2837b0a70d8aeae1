// Text-like test input: runs, repeats and noise, so that every stage of the
// compressor has work to do. The same bytes for the same length and seed.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>

#include "support/test_support.h"

namespace dls2mml::test {

inline Bytes sampleInput(std::size_t length, unsigned seed)
{
    std::mt19937 random(seed);
    Bytes out;
    out.reserve(length);
    while (out.size() < length) {
        const unsigned kind = random() % 4;
        const std::size_t n = std::min<std::size_t>(length - out.size(), 1 + random() % 40);
        for (std::size_t i = 0; i < n; ++i)
            out.push_back(static_cast<std::uint8_t>(kind == 0 ? 'a' : kind == 1 ? random() : 'a' + (i + random() % 3) % 26));
    }
    return out;
}

} // namespace dls2mml::test
