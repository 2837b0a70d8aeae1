#include "text/base64_whole_lines.h"

#include <array>
#include <cstring>

#if defined(__GNUC__) && defined(__x86_64__) && !defined(_WIN32)
#include <immintrin.h>
#define DLS2MML_BASE64_VECTOR 1
#endif

namespace dls2mml {
namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// A character's 6-bit value, or -1 where it is not in the alphabet.
constexpr std::array<std::int8_t, 256> makeValues()
{
    std::array<std::int8_t, 256> values{};
    for (auto& v : values)
        v = -1;
    for (int i = 0; i < 64; ++i)
        values[static_cast<unsigned char>(alphabet[i])] = static_cast<std::int8_t>(i);
    return values;
}

constexpr std::array<std::int8_t, 256> alphabetValue = makeValues();

bool decodeLinePortable(const char* line, std::uint8_t* out) noexcept
{
    int invalid = 0;
    for (std::size_t group = 0; group < base64LineLength / 4; ++group) {
        const unsigned char* c = reinterpret_cast<const unsigned char*>(line + 4 * group);
        const int a = alphabetValue[c[0]];
        const int b = alphabetValue[c[1]];
        const int d = alphabetValue[c[2]];
        const int e = alphabetValue[c[3]];
        invalid |= a | b | d | e; // negative where any is not in the alphabet
        const auto word = static_cast<std::uint32_t>(a << 18 | b << 12 | d << 6 | e);
        out[3 * group] = static_cast<std::uint8_t>(word >> 16);
        out[3 * group + 1] = static_cast<std::uint8_t>(word >> 8);
        out[3 * group + 2] = static_cast<std::uint8_t>(word);
    }
    return invalid >= 0 && line[base64LineLength] == '\n';
}

std::size_t decodePortable(const char* text, std::size_t lineCount, std::uint8_t* out) noexcept
{
    std::size_t line = 0;
    while (line < lineCount && decodeLinePortable(text + line * base64LineWithFeed, out + line * base64LineBytes))
        ++line;
    return line;
}

#if defined(DLS2MML_BASE64_VECTOR)

// The 128-bit and 256-bit forms tell alphabet characters from the rest by the
// two halves of each byte. For each high half the low halves that are NOT in
// the alphabet form one of five sets; each set has a bit, a low half's entry
// holds the bits of the sets it belongs to, a high half's entry the bit of its
// set, and a character is outside the alphabet exactly where the two entries
// share a bit.
//   high 2 ('+' 2B, '/' 2F):    all but B and F       bit 3
//   high 3 ('0'..'9'):          A..F                  bit 1
//   high 4, 6 ('A'..'O', 'a'..'o'): 0                 bit 0
//   high 5, 7 ('P'..'Z', 'p'..'z'): B..F              bit 2
//   high 0, 1, 8..F:            every low half        bit 4
constexpr std::uint8_t lowHalfSets[16] = {
    0x19, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, // 0..9
    0x1A, 0x16, 0x1E, 0x1E, 0x1E, 0x16,                         // A..F
};
constexpr std::uint8_t highHalfSet[16] = {
    0x10, 0x10, 0x08, 0x02, 0x01, 0x04, 0x01, 0x04, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10,
};
// Added to an alphabet character to give its value, by its high half; '/'
// looks one place lower (its high half less one) since it shares high half 2
// with '+'.
constexpr std::int8_t valueOffset[16] = {
    0, 63 - '/', 62 - '+', 52 - '0', 0 - 'A', 0 - 'A', 26 - 'a', 26 - 'a', 0, 0, 0, 0, 0, 0, 0, 0,
};
// Four 6-bit values, first character highest, into 24 bits: pairs of
// characters first (the first times 64), then pairs of pairs (the first times 4096).
constexpr int pairWeights = 0x01400140;
constexpr int quadWeights = 0x00011000;

#define DLS2MML_SSSE3 __attribute__((target("ssse3")))
#define DLS2MML_AVX2 __attribute__((target("avx2")))
#define DLS2MML_AVX512 __attribute__((target("avx512f,avx512bw,avx512vbmi")))

// 16 characters into 12 bytes in the low part of the result; bad gains set
// bits where a character is outside the alphabet.
DLS2MML_SSSE3 inline __m128i decode16(__m128i c, __m128i& bad) noexcept
{
    const __m128i low = _mm_and_si128(c, _mm_set1_epi8(0x0F));
    const __m128i high = _mm_and_si128(_mm_srli_epi32(c, 4), _mm_set1_epi8(0x0F));
    const __m128i lowSets = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lowHalfSets));
    const __m128i highSet = _mm_loadu_si128(reinterpret_cast<const __m128i*>(highHalfSet));
    bad = _mm_or_si128(bad, _mm_and_si128(_mm_shuffle_epi8(lowSets, low), _mm_shuffle_epi8(highSet, high)));
    const __m128i slash = _mm_cmpeq_epi8(c, _mm_set1_epi8('/'));
    const __m128i offsets = _mm_loadu_si128(reinterpret_cast<const __m128i*>(valueOffset));
    const __m128i values = _mm_add_epi8(c, _mm_shuffle_epi8(offsets, _mm_add_epi8(high, slash)));
    const __m128i pairs = _mm_maddubs_epi16(values, _mm_set1_epi32(pairWeights));
    const __m128i words = _mm_madd_epi16(pairs, _mm_set1_epi32(quadWeights));
    return _mm_shuffle_epi8(words, _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1));
}

DLS2MML_SSSE3 std::size_t decodeSsse3(const char* text, std::size_t lineCount, std::uint8_t* out) noexcept
{
    for (std::size_t line = 0; line < lineCount; ++line) {
        const char* in = text + line * base64LineWithFeed;
        std::uint8_t* to = out + line * base64LineBytes;
        __m128i bad = _mm_setzero_si128();
        for (std::size_t k = 0; k < 7; ++k) { // 16-byte stores, each overlapping the next
            const __m128i bytes = decode16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16 * k)), bad);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 12 * k), bytes);
        }
        const __m128i last = decode16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 112)), bad);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(to + 84), last); // the line's last 12 bytes, none past it
        const std::uint32_t tail = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(last, 8)));
        std::memcpy(to + 92, &tail, 4);
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(bad, _mm_setzero_si128())) != 0xFFFF || in[base64LineLength] != '\n')
            return line;
    }
    return lineCount;
}

// 32 characters into 24 bytes in the low part of the result.
DLS2MML_AVX2 inline __m256i decode32(__m256i c, __m256i& bad) noexcept
{
    const __m256i low = _mm256_and_si256(c, _mm256_set1_epi8(0x0F));
    const __m256i high = _mm256_and_si256(_mm256_srli_epi32(c, 4), _mm256_set1_epi8(0x0F));
    const __m256i lowSets = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lowHalfSets)));
    const __m256i highSet = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(highHalfSet)));
    bad = _mm256_or_si256(bad, _mm256_and_si256(_mm256_shuffle_epi8(lowSets, low), _mm256_shuffle_epi8(highSet, high)));
    const __m256i slash = _mm256_cmpeq_epi8(c, _mm256_set1_epi8('/'));
    const __m256i offsets = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(valueOffset)));
    const __m256i values = _mm256_add_epi8(c, _mm256_shuffle_epi8(offsets, _mm256_add_epi8(high, slash)));
    const __m256i pairs = _mm256_maddubs_epi16(values, _mm256_set1_epi32(pairWeights));
    const __m256i words = _mm256_madd_epi16(pairs, _mm256_set1_epi32(quadWeights));
    // 12 bytes in each 128-bit half, then the two halves' bytes side by side.
    const __m256i packed = _mm256_shuffle_epi8(
        words, _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, 2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1,
                                -1, -1, -1));
    return _mm256_permutevar8x32_epi32(packed, _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7));
}

DLS2MML_AVX2 std::size_t decodeAvx2(const char* text, std::size_t lineCount, std::uint8_t* out) noexcept
{
    for (std::size_t line = 0; line < lineCount; ++line) {
        const char* in = text + line * base64LineWithFeed;
        std::uint8_t* to = out + line * base64LineBytes;
        __m256i bad = _mm256_setzero_si256();
        for (std::size_t k = 0; k < 3; ++k) { // 32-byte stores, each overlapping the next
            const __m256i bytes = decode32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 32 * k)), bad);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + 24 * k), bytes);
        }
        const __m256i last = decode32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 96)), bad);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 72), _mm256_castsi256_si128(last)); // none past the line's 96 bytes
        _mm_storel_epi64(reinterpret_cast<__m128i*>(to + 88), _mm256_extracti128_si256(last, 1));
        if (!_mm256_testz_si256(bad, bad) || in[base64LineLength] != '\n')
            return line;
    }
    return lineCount;
}

// The 512-bit form looks every character up in a 128-entry table held in two
// registers: its value, or 0x80 where it is not in the alphabet. A character
// is outside the alphabet where the character or its entry has the top bit.
struct Alphabet128 {
    alignas(64) std::uint8_t entry[128];
};

constexpr Alphabet128 makeAlphabet128()
{
    Alphabet128 table{};
    for (int c = 0; c < 128; ++c)
        table.entry[c] = alphabetValue[static_cast<std::size_t>(c)] < 0 ? 0x80 : static_cast<std::uint8_t>(alphabetValue[static_cast<std::size_t>(c)]);
    return table;
}

constexpr Alphabet128 alphabet128 = makeAlphabet128();

// From 16 words of 24 bits each (little-endian, a zero top byte) the 48
// bytes, first byte of each group first.
struct PackOrder {
    alignas(64) std::uint8_t index[64];
};

constexpr PackOrder makePackOrder()
{
    PackOrder order{};
    for (int j = 0; j < 64; ++j)
        order.index[j] = static_cast<std::uint8_t>(j < 48 ? 4 * (j / 3) + 2 - j % 3 : 0);
    return order;
}

constexpr PackOrder packOrder = makePackOrder();

DLS2MML_AVX512 std::size_t decodeAvx512(const char* text, std::size_t lineCount, std::uint8_t* out) noexcept
{
    const __m512i table0 = _mm512_load_si512(alphabet128.entry);
    const __m512i table1 = _mm512_load_si512(alphabet128.entry + 64);
    const __m512i order = _mm512_load_si512(packOrder.index);
    const __m512i pairW = _mm512_set1_epi32(pairWeights);
    const __m512i quadW = _mm512_set1_epi32(quadWeights);
    constexpr __mmask64 lineHalf = (std::uint64_t{1} << 48) - 1;
    for (std::size_t line = 0; line < lineCount; ++line) {
        const char* in = text + line * base64LineWithFeed;
        std::uint8_t* to = out + line * base64LineBytes;
        const __m512i c0 = _mm512_loadu_si512(in);
        const __m512i c1 = _mm512_loadu_si512(in + 64);
        const __m512i v0 = _mm512_permutex2var_epi8(table0, c0, table1);
        const __m512i v1 = _mm512_permutex2var_epi8(table0, c1, table1);
        const __m512i any = _mm512_or_si512(_mm512_or_si512(c0, c1), _mm512_or_si512(v0, v1));
        const __m512i b0 = _mm512_maskz_permutexvar_epi8(lineHalf, order, _mm512_madd_epi16(_mm512_maddubs_epi16(v0, pairW), quadW));
        const __m512i b1 = _mm512_maskz_permutexvar_epi8(lineHalf, order, _mm512_madd_epi16(_mm512_maddubs_epi16(v1, pairW), quadW));
        _mm512_mask_storeu_epi8(to, lineHalf, b0);
        _mm512_mask_storeu_epi8(to + 48, lineHalf, b1);
        if (_mm512_movepi8_mask(any) != 0 || in[base64LineLength] != '\n')
            return line;
    }
    return lineCount;
}

struct VectorSupport {
    bool ssse3 = false;
    bool avx2 = false;
    bool avx512 = false;
};

// Asked once, on first use, so that no order of starting the program's
// objects can find it unset.
const VectorSupport& vectorSupport() noexcept
{
    static const VectorSupport support = [] {
        __builtin_cpu_init();
        VectorSupport s;
        s.ssse3 = __builtin_cpu_supports("ssse3");
        s.avx2 = __builtin_cpu_supports("avx2");
        s.avx512 = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                   __builtin_cpu_supports("avx512vbmi");
        return s;
    }();
    return support;
}

#endif

using LinesFunction = std::size_t (*)(const char*, std::size_t, std::uint8_t*) noexcept;

LinesFunction functionOf(WholeLineDecoder decoder) noexcept
{
    switch (decoder) {
    case WholeLineDecoder::portable:
        return decodePortable;
#if defined(DLS2MML_BASE64_VECTOR)
    case WholeLineDecoder::ssse3:
        return decodeSsse3;
    case WholeLineDecoder::avx2:
        return decodeAvx2;
    case WholeLineDecoder::avx512vbmi:
        return decodeAvx512;
#else
    default:
        break;
#endif
    }
    return decodePortable;
}

WholeLineDecoder chooseDecoder() noexcept
{
    for (WholeLineDecoder d : {WholeLineDecoder::avx512vbmi, WholeLineDecoder::avx2, WholeLineDecoder::ssse3})
        if (wholeLineDecoderAvailable(d))
            return d;
    return WholeLineDecoder::portable;
}

struct Choice {
    WholeLineDecoder decoder;
    LinesFunction function;
};

const Choice& choice() noexcept
{
    static const Choice chosen{chooseDecoder(), functionOf(chooseDecoder())};
    return chosen;
}

} // namespace

bool wholeLineDecoderAvailable(WholeLineDecoder decoder) noexcept
{
    switch (decoder) {
    case WholeLineDecoder::portable:
        return true;
#if defined(DLS2MML_BASE64_VECTOR)
    case WholeLineDecoder::ssse3:
        return vectorSupport().ssse3;
    case WholeLineDecoder::avx2:
        return vectorSupport().avx2;
    case WholeLineDecoder::avx512vbmi:
        return vectorSupport().avx512;
#else
    default:
        return false;
#endif
    }
    return false;
}

WholeLineDecoder chosenWholeLineDecoder() noexcept { return choice().decoder; }

const char* wholeLineDecoderName(WholeLineDecoder decoder) noexcept
{
    switch (decoder) {
    case WholeLineDecoder::portable:
        return "portable";
    case WholeLineDecoder::ssse3:
        return "ssse3";
    case WholeLineDecoder::avx2:
        return "avx2";
    case WholeLineDecoder::avx512vbmi:
        return "avx512vbmi";
    }
    return "?";
}

std::size_t decodeWholeLines(const char* text, std::size_t lineCount, std::uint8_t* out) noexcept
{
    return choice().function(text, lineCount, out);
}

std::size_t decodeWholeLinesWith(WholeLineDecoder decoder, const char* text, std::size_t lineCount,
                                 std::uint8_t* out) noexcept
{
    return functionOf(decoder)(text, lineCount, out);
}

} // namespace dls2mml
