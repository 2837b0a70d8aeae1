#include "shell/crc64.h"

#include <array>
#include <cstddef>

namespace dls2mml {
namespace {

constexpr std::uint64_t polynomial = 0xC96C5795D7870F42ull; // ECMA-182, bits reversed

using Tables = std::array<std::array<std::uint64_t, 256>, 8>;

// tables[0] is the byte-at-a-time table; tables[k] advances a byte that
// stands k bytes further back, so that eight bytes are taken per step.
constexpr Tables makeTables()
{
    Tables tables{};
    for (std::uint64_t i = 0; i < 256; ++i) {
        std::uint64_t c = i;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1) ? (c >> 1) ^ polynomial : c >> 1;
        tables[0][i] = c;
    }
    for (std::size_t k = 1; k < tables.size(); ++k)
        for (std::size_t i = 0; i < 256; ++i)
            tables[k][i] = (tables[k - 1][i] >> 8) ^ tables[0][tables[k - 1][i] & 0xFF];
    return tables;
}

constexpr Tables tables = makeTables();

std::uint64_t littleEndian64(const std::uint8_t* p) noexcept
{
    std::uint64_t word = 0;
    for (int i = 7; i >= 0; --i)
        word = (word << 8) | p[i];
    return word;
}

} // namespace

void Crc64::add(std::span<const std::uint8_t> bytes) noexcept
{
    std::uint64_t c = state_;
    const std::uint8_t* p = bytes.data();
    std::size_t n = bytes.size();
    for (; n >= 8; p += 8, n -= 8) {
        c ^= littleEndian64(p);
        c = tables[7][c & 0xFF] ^ tables[6][(c >> 8) & 0xFF] ^ tables[5][(c >> 16) & 0xFF] ^
            tables[4][(c >> 24) & 0xFF] ^ tables[3][(c >> 32) & 0xFF] ^ tables[2][(c >> 40) & 0xFF] ^
            tables[1][(c >> 48) & 0xFF] ^ tables[0][c >> 56];
    }
    for (; n > 0; ++p, --n)
        c = tables[0][(c ^ *p) & 0xFF] ^ (c >> 8);
    state_ = c;
}

} // namespace dls2mml
