// The rank transform's list of the 256 byte values as both directions keep it
// where the processor has 512-bit byte permutes: four registers of 64 places
// (places 0-63, 64-127, 128-191, 192-255), and the permute indexes that give
// each place the byte before it.
#pragma once

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>

#include <cstdint>

namespace dls2mml::list512 {

struct alignas(64) Bytes256 {
    std::uint8_t at[256];
};

constexpr Bytes256 makeStartingList()
{
    Bytes256 list{};
    for (int i = 0; i < 256; ++i)
        list.at[i] = static_cast<std::uint8_t>(i);
    return list;
}

// Every byte at its own value's place, as each block's list starts.
inline constexpr Bytes256 startingList = makeStartingList();

// Byte i of a two-register permute with indexes 63 + i is the byte before
// place i: the first register's last byte, then the second's bytes 0..62.
struct alignas(64) Bytes64 {
    std::uint8_t at[64];
};

constexpr Bytes64 makePreviousPlace()
{
    Bytes64 index{};
    for (int i = 0; i < 64; ++i)
        index.at[i] = static_cast<std::uint8_t>(63 + i);
    return index;
}

inline constexpr Bytes64 previousPlace = makePreviousPlace();

// The same with the register itself as first table and the one before it as
// second: i - 1 for place i >= 1, and 127 (the last byte of the second) for place 0.
constexpr Bytes64 makePreviousPlaceOwnFirst()
{
    Bytes64 index{};
    index.at[0] = 127;
    for (int i = 1; i < 64; ++i)
        index.at[i] = static_cast<std::uint8_t>(i - 1);
    return index;
}

inline constexpr Bytes64 previousPlaceOwnFirst = makePreviousPlaceOwnFirst();

// The starting list in four registers, and the move-back indexes a
// direction uses (previousPlace or previousPlaceOwnFirst). Read from
// constants, never from the stack (some targets misalign 64-byte stack
// objects).
__attribute__((target("avx512f,avx512bw,avx512vbmi"), always_inline)) inline void
loadStartingList(__m512i& list0, __m512i& list1, __m512i& list2, __m512i& list3, __m512i& movedBackIndex,
                 const Bytes64& indexes) noexcept
{
    list0 = _mm512_load_si512(startingList.at);
    list1 = _mm512_load_si512(startingList.at + 64);
    list2 = _mm512_load_si512(startingList.at + 128);
    list3 = _mm512_load_si512(startingList.at + 192);
    movedBackIndex = _mm512_load_si512(indexes.at);
}

} // namespace dls2mml::list512
#endif
