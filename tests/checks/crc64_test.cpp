// CRC-64: the table code and the folding code against a register shifted one
// bit at a time, on every length up to a few hundred bytes past the folding's
// start, at every alignment, from many starting registers, and in pieces.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "checks/crc64.h"
#include "support/sample_input.h"
#include "support/test_support.h"

namespace dls2mml::test {
namespace {

// The register one bit at a time, straight from the polynomial.
std::uint64_t bitByBit(std::uint64_t state, std::span<const std::uint8_t> bytes)
{
    for (std::uint8_t byte : bytes) {
        state ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            state = (state & 1) ? (state >> 1) ^ 0xC96C5795D7870F42ull : state >> 1;
    }
    return state;
}

Bytes randomBytes(std::size_t n, unsigned seed)
{
    std::mt19937_64 random(seed);
    Bytes out(n);
    for (auto& b : out)
        b = static_cast<std::uint8_t>(random());
    return out;
}

using Advance = std::uint64_t (*)(std::uint64_t, std::span<const std::uint8_t>);

struct Way {
    const char* name;
    Advance advance;
};

// The ways this processor can run; the folding only where it can fold.
std::vector<Way> ways()
{
    std::vector<Way> w{{"tables", crc64AdvanceTables}};
    if (crc64CanFold())
        w.push_back({"folding", crc64AdvanceFolding});
    return w;
}

TEST(Crc64Values, KnownTextsAndRunsOfOneByte)
{
    const struct {
        Bytes bytes;
        std::uint64_t crc;
    } known[] = {
        {text(""), 0},
        {text("a"), 0x330284772E652B05ull},
        {text("123456789"), 0x995DC9BBDF1939FAull},
        {text("The quick brown fox jumps over the lazy dog"), 0x5B5EB8C2E54AA1C4ull},
    };
    for (const auto& k : known) {
        Crc64 crc;
        crc.add(k.bytes);
        EXPECT_EQ(crc.value(), k.crc) << std::string(k.bytes.begin(), k.bytes.end());
        EXPECT_EQ(~bitByBit(~0ull, k.bytes), k.crc);
    }
    // Long runs take the folding path where there is one; all-zero and
    // all-one bytes test the register's start and end against the plain form.
    for (int value : {0x00, 0xFF, 0x5A})
        for (std::size_t n : {255u, 256u, 4096u, 100000u}) {
            const Bytes run = repeat(static_cast<std::uint8_t>(value), n);
            Crc64 crc;
            crc.add(run);
            EXPECT_EQ(crc.value(), ~bitByBit(~0ull, run)) << value << " x " << n;
        }
}

// Every length 0..700 at every offset 0..15 from an aligned buffer, from the
// all-ones register and from registers with random bits, through each way.
TEST(Crc64Ways, EveryLengthAndAlignmentAgreeWithTheBitByBitRegister)
{
    const Bytes data = randomBytes(700 + 16, 1);
    std::mt19937_64 random(2);
    for (const Way& way : ways())
        for (std::size_t offset = 0; offset < 16; ++offset)
            for (std::size_t n = 0; n <= 700; ++n) {
                const auto bytes = std::span(data).subspan(offset, n);
                const std::uint64_t start = n % 3 == 0 ? ~0ull : random();
                ASSERT_EQ(way.advance(start, bytes), bitByBit(start, bytes))
                    << way.name << ": length " << n << " at offset " << offset << " from " << std::hex << start;
            }
}

TEST(Crc64Ways, LargeLengthsAtEveryAlignment)
{
    const Bytes data = randomBytes((1u << 20) + 300, 3);
    for (std::size_t n : {1023u, 4096u, 65536u + 13u, 131072u + 127u, 1u << 20}) {
        for (std::size_t offset = 0; offset < 16; ++offset) {
            const auto bytes = std::span(data).subspan(offset, n);
            const std::uint64_t expected = bitByBit(~0ull, bytes);
            for (const Way& way : ways())
                ASSERT_EQ(way.advance(~0ull, bytes), expected) << way.name << ": length " << n << " at offset " << offset;
            if (n > 70000)
                break; // one offset for the longest; the shorter ones took all sixteen
        }
    }
}

// A buffer cut into random pieces, some empty, some a byte, some long enough
// to fold, added in order: the value is that of the whole, whichever ways
// the pieces took.
TEST(Crc64Pieces, RandomPiecesGiveTheValueOfTheWhole)
{
    const Bytes data = randomBytes(200000, 4);
    const std::uint64_t whole = ~bitByBit(~0ull, data);
    std::mt19937 random(5);
    for (int round = 0; round < 40; ++round) {
        const std::size_t longest = std::size_t{1} << (round % 12); // 1 .. 2048
        Crc64 crc;
        std::uint64_t byTables = ~0ull;
        for (std::size_t at = 0; at < data.size();) {
            const std::size_t n = std::min<std::size_t>(data.size() - at, random() % (longest + 1) + (round % 5 == 0 ? 3000 : 0));
            const auto piece = std::span(data).subspan(at, n);
            crc.add(piece);
            byTables = crc64AdvanceTables(byTables, piece);
            at += n;
        }
        ASSERT_EQ(crc.value(), whole) << "round " << round;
        ASSERT_EQ(~byTables, whole) << "round " << round;
    }
}

// One bit changed anywhere in a long buffer changes the value, as it must
// for a burst of one bit; the folding path sees each change in another lane.
TEST(Crc64Values, EveryChangedBitOfALongBufferIsSeen)
{
    const Bytes data = randomBytes(3000, 6);
    Crc64 reference;
    reference.add(data);
    for (std::size_t bit = 0; bit < data.size() * 8; bit += 37) {
        Bytes changed = data;
        changed[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
        Crc64 crc;
        crc.add(changed);
        EXPECT_EQ(crc.value(), ~bitByBit(~0ull, changed)) << "bit " << bit;
        EXPECT_NE(crc.value(), reference.value()) << "bit " << bit;
    }
}

// Known values, any cut into pieces, and every 61st bit of text-like bytes.
TEST(Crc64, KnownValuesAnyPiecesAndEveryBit)
{
    const struct {
        std::string_view text;
        std::uint64_t crc;
    } known[] = {{"", 0}, {"123456789", 0x995DC9BBDF1939FAull}};
    for (const auto& k : known) {
        Crc64 crc;
        crc.add(std::span(reinterpret_cast<const std::uint8_t*>(k.text.data()), k.text.size()));
        EXPECT_EQ(crc.value(), k.crc) << k.text;
    }
    const Bytes bytes = sampleInput(1000, 3);
    Crc64 whole;
    whole.add(bytes);
    for (std::size_t piece : {1u, 3u, 7u, 8u, 9u, 64u, 999u}) {
        Crc64 pieces;
        for (std::size_t at = 0; at < bytes.size(); at += piece)
            pieces.add(std::span(bytes).subspan(at, std::min(piece, bytes.size() - at)));
        EXPECT_EQ(pieces.value(), whole.value()) << "pieces of " << piece;
    }
    for (std::size_t bit = 0; bit < bytes.size() * 8; bit += 61) {
        Bytes changed = bytes;
        changed[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
        Crc64 crc;
        crc.add(changed);
        EXPECT_NE(crc.value(), whole.value()) << "bit " << bit;
    }
}

} // namespace
} // namespace dls2mml::test
