// CRC-64 by tables and by carry-less folding.
//
// The register holds the remainder bit-reflected: bit i is the coefficient of
// x^(63-i), so the first byte of the data stands in the lowest bits. After
// bytes D (the register xored into their first eight) the register is
// D(x) * x^64 mod P(x), P = x^64 + 0x42F0E1EBA9EA3693 in the usual order.
#include "checks/crc64.h"

#include <array>
#include <cstddef>

#if defined(__GNUC__) && defined(__x86_64__)
#define DLS2MML_CRC64_FOLDING 1
#include <immintrin.h>
#endif

namespace dls2mml {
namespace {

constexpr std::uint64_t polynomial = 0xC96C5795D7870F42ull; // P - x^64, bits reversed

// One more power of x on a reflected remainder: the coefficient of x^63
// (bit 0) becomes x^64, which is P - x^64 modulo P.
constexpr std::uint64_t timesX(std::uint64_t v)
{
    return (v & 1) ? (v >> 1) ^ polynomial : v >> 1;
}

using Tables = std::array<std::array<std::uint64_t, 256>, 16>;

// tables[0] is the byte-at-a-time table; tables[k] advances a byte that
// stands k bytes further back, so that sixteen bytes are taken per step.
constexpr Tables makeTables()
{
    Tables tables{};
    for (std::size_t i = 0; i < 256; ++i) {
        std::uint64_t c = i;
        for (int bit = 0; bit < 8; ++bit)
            c = timesX(c);
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

// The eight bytes of a word, the first in the low bits, each through the
// table for its distance from the end of the step.
template <std::size_t Farthest>
std::uint64_t byTables(std::uint64_t w) noexcept
{
    return tables[Farthest][w & 0xFF] ^ tables[Farthest - 1][(w >> 8) & 0xFF] ^
           tables[Farthest - 2][(w >> 16) & 0xFF] ^ tables[Farthest - 3][(w >> 24) & 0xFF] ^
           tables[Farthest - 4][(w >> 32) & 0xFF] ^ tables[Farthest - 5][(w >> 40) & 0xFF] ^
           tables[Farthest - 6][(w >> 48) & 0xFF] ^ tables[Farthest - 7][w >> 56];
}

} // namespace

std::uint64_t crc64AdvanceTables(std::uint64_t c, std::span<const std::uint8_t> bytes) noexcept
{
    const std::uint8_t* p = bytes.data();
    std::size_t n = bytes.size();
    for (; n >= 16; p += 16, n -= 16)
        c = byTables<15>(c ^ littleEndian64(p)) ^ byTables<7>(littleEndian64(p + 8));
    if (n >= 8) {
        c = byTables<7>(c ^ littleEndian64(p));
        p += 8;
        n -= 8;
    }
    for (; n > 0; ++p, --n)
        c = tables[0][(c ^ *p) & 0xFF] ^ (c >> 8);
    return c;
}

#if defined(DLS2MML_CRC64_FOLDING)
namespace {

// x^n mod P, reflected.
constexpr std::uint64_t xPowerModP(unsigned n)
{
    std::uint64_t v = std::uint64_t{1} << 63; // x^0
    for (unsigned i = 0; i < n; ++i)
        v = timesX(v);
    return v;
}

constexpr std::uint64_t reflect64(std::uint64_t v)
{
    std::uint64_t r = 0;
    for (int i = 0; i < 64; ++i)
        r |= ((v >> i) & 1) << (63 - i);
    return r;
}

// floor(x^128 / P) less its leading x^64, reflected: the Barrett multiplier
// that finds the quotient of a 128-bit product by P. Long division with a
// 64-coefficient window that slides down from x^128.
constexpr std::uint64_t barrettQuotient()
{
    const std::uint64_t lowTerms = reflect64(polynomial); // P - x^64, usual order
    std::uint64_t window = std::uint64_t{1} << 63;          // x^128 at the top
    std::uint64_t quotient = 0;
    for (int j = 64; j >= 0; --j) {
        const bool top = (window >> 63) != 0;
        if (top && j < 64)
            quotient |= std::uint64_t{1} << j;
        window = (window << 1) ^ (top ? lowTerms : 0);
    }
    return reflect64(quotient);
}

// A carry-less product of two reflected 64-bit values is their product times
// x in 128-bit reflected form (bit k holds x^(127-k)); hence every power
// below is one less than the shift it stands for.
//
// Moving a 128-bit piece H*x^64 + L forward by d bits (past d bits of later
// data) takes H * (x^(d+63) mod P) and L * (x^(d-1) mod P): two products
// below 128 bits whose sum is congruent to the piece times x^d. H is the low
// half of the register (the earlier bytes), L the high half.
struct FoldBy {
    std::uint64_t high; // for H, the low half
    std::uint64_t low;  // for L, the high half
};

constexpr FoldBy foldBy(unsigned bits) { return {xPowerModP(bits + 63), xPowerModP(bits - 1)}; }

constexpr unsigned lanes = 8;
constexpr std::size_t laneBytes = 16;
constexpr std::size_t stepBytes = lanes * laneBytes;

constexpr FoldBy foldOneStep = foldBy(8 * stepBytes); // each lane past all eight
constexpr std::array<FoldBy, lanes> foldToLast = [] {
    std::array<FoldBy, lanes> f{};
    for (unsigned i = 0; i + 1 < lanes; ++i)
        f[i] = foldBy(8 * laneBytes * (lanes - 1 - i)); // lane i past the lanes after it
    return f;
}();
constexpr FoldBy foldOneLane = foldBy(8 * laneBytes);
constexpr std::uint64_t x127 = xPowerModP(127); // the high half times x^128
constexpr std::uint64_t mu = barrettQuotient();

// Fewer bytes than this go through the tables: the folding's start and its
// reduction cost about as much.
constexpr std::size_t foldingThreshold = 2 * stepBytes;

#define DLS2MML_CARRYLESS_TARGET __attribute__((target("pclmul")))

DLS2MML_CARRYLESS_TARGET inline __m128i constants(FoldBy f) noexcept
{
    return _mm_set_epi64x(static_cast<long long>(f.low), static_cast<long long>(f.high));
}

DLS2MML_CARRYLESS_TARGET inline __m128i fold(__m128i piece, __m128i k) noexcept
{
    return _mm_xor_si128(_mm_clmulepi64_si128(piece, k, 0x00), _mm_clmulepi64_si128(piece, k, 0x11));
}

DLS2MML_CARRYLESS_TARGET inline __m128i load(const std::uint8_t* p) noexcept
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

DLS2MML_CARRYLESS_TARGET inline std::uint64_t lowHalf(__m128i v) noexcept
{
    return static_cast<std::uint64_t>(_mm_cvtsi128_si64(v));
}

DLS2MML_CARRYLESS_TARGET inline std::uint64_t highHalf(__m128i v) noexcept
{
    return static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(v, v)));
}

DLS2MML_CARRYLESS_TARGET inline __m128i product(std::uint64_t a, std::uint64_t b) noexcept
{
    return _mm_clmulepi64_si128(_mm_cvtsi64_si128(static_cast<long long>(a)),
                                _mm_cvtsi64_si128(static_cast<long long>(b)), 0x00);
}

// The register after a 128-bit remainder X = H*x^64 + L: X*x^64 mod P.
// H*x^128 is folded to a 128-bit Y (with L*x^64 added), Y = A*x^64 + B, and
// A*x^64 mod P is found by Barrett: quotient Q = A + floor(A*mu / x^64),
// remainder the low 64 coefficients of Q*(P - x^64).
DLS2MML_CARRYLESS_TARGET std::uint64_t reduce(__m128i x) noexcept
{
    const __m128i y = _mm_xor_si128(_mm_clmulepi64_si128(x, _mm_cvtsi64_si128(static_cast<long long>(x127)), 0x00),
                                    _mm_srli_si128(x, 8));
    const std::uint64_t a = lowHalf(y);
    const std::uint64_t quotient = a ^ (lowHalf(product(a, mu)) << 1);
    const __m128i r = product(quotient, polynomial);
    return ((highHalf(r) << 1) | (lowHalf(r) >> 63)) ^ highHalf(y);
}

DLS2MML_CARRYLESS_TARGET std::uint64_t advanceFolding(std::uint64_t c, const std::uint8_t* p, std::size_t n) noexcept
{
    __m128i lane[lanes];
    for (unsigned i = 0; i < lanes; ++i)
        lane[i] = load(p + laneBytes * i);
    lane[0] = _mm_xor_si128(lane[0], _mm_cvtsi64_si128(static_cast<long long>(c)));
    p += stepBytes;
    n -= stepBytes;

    const __m128i step = constants(foldOneStep);
    for (; n >= stepBytes; p += stepBytes, n -= stepBytes)
        for (unsigned i = 0; i < lanes; ++i)
            lane[i] = _mm_xor_si128(fold(lane[i], step), load(p + laneBytes * i));

    __m128i x = lane[lanes - 1];
    for (unsigned i = 0; i + 1 < lanes; ++i)
        x = _mm_xor_si128(x, fold(lane[i], constants(foldToLast[i])));
    const __m128i one = constants(foldOneLane);
    for (; n >= laneBytes; p += laneBytes, n -= laneBytes)
        x = _mm_xor_si128(fold(x, one), load(p));

    return crc64AdvanceTables(reduce(x), {p, n});
}

bool processorCanFold() noexcept
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse2");
}

const bool canFold = processorCanFold();

} // namespace

bool crc64CanFold() noexcept { return canFold; }

std::uint64_t crc64AdvanceFolding(std::uint64_t c, std::span<const std::uint8_t> bytes) noexcept
{
    if (bytes.size() < foldingThreshold)
        return crc64AdvanceTables(c, bytes);
    return advanceFolding(c, bytes.data(), bytes.size());
}

#else

bool crc64CanFold() noexcept { return false; }

std::uint64_t crc64AdvanceFolding(std::uint64_t c, std::span<const std::uint8_t> bytes) noexcept
{
    return crc64AdvanceTables(c, bytes);
}

#endif

void Crc64::add(std::span<const std::uint8_t> bytes) noexcept
{
    state_ = crc64CanFold() ? crc64AdvanceFolding(state_, bytes) : crc64AdvanceTables(state_, bytes);
}

} // namespace dls2mml
