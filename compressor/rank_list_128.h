// The rank transform's list of the 256 byte values as both directions keep it
// with 16-byte vectors: 16 pieces of 16 places, each moved one place back a
// piece at a time, and byte masks that choose places within a piece.
#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>

#include <cstdint>

namespace dls2mml::list128 {

// upTo[k]: the bytes of places 0..k of a piece.
struct PieceMasks {
    alignas(16) std::uint8_t upTo[16][16];
};

constexpr PieceMasks makePieceMasks()
{
    PieceMasks masks{};
    for (int k = 0; k < 16; ++k)
        for (int i = 0; i < 16; ++i)
            masks.upTo[k][i] = i <= k ? 0xFF : 0x00;
    return masks;
}

alignas(16) inline constexpr PieceMasks pieceMasks = makePieceMasks();

inline __m128i maskAt(const std::uint8_t (&bytes)[16]) noexcept { return _mm_load_si128(reinterpret_cast<const __m128i*>(bytes)); }

inline __m128i upTo(std::uint32_t k) noexcept { return maskAt(pieceMasks.upTo[k]); }

inline __m128i blend(__m128i mask, __m128i ifSet, __m128i ifClear) noexcept
{
    return _mm_or_si128(_mm_and_si128(mask, ifSet), _mm_andnot_si128(mask, ifClear));
}

// The piece current with every place taking the byte before it: its first
// place the last byte of the piece before.
inline __m128i movedBack(__m128i current, __m128i before) noexcept
{
    return _mm_or_si128(_mm_slli_si128(current, 1), _mm_srli_si128(before, 15));
}

} // namespace dls2mml::list128
#endif
