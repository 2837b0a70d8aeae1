// Run-length pre-pass: exact output bytes, run count forms and the worst case;
// and its expansion.
#include <gtest/gtest.h>

#include <algorithm>

#include "compressor/run_length_prepass.h"
#include "support/stage_decoders.h"
#include "support/test_support.h"

namespace dls2mml::test {
namespace {

Bytes prepass(const Bytes& input, std::int32_t threshold = prepassThreshold)
{
    Bytes out(2 * input.size() + 8); // room for any threshold used here
    const std::int32_t n = runLengthPrepass(out, input, threshold);
    EXPECT_GE(n, 0);
    out.resize(static_cast<std::size_t>(n));
    return out;
}

TEST(RunLengthPrepass, WorkedExamples)
{
    const Bytes a4 = hex("61 61 61 61");
    struct Case {
        const char* name;
        Bytes input;
        Bytes expected;
    } cases[] = {
        {"a", text("a"), hex("61")},
        {"abc", text("abc"), hex("61 62 63")},
        {"aaa stays plain", text("aaa"), hex("61 61 61")},
        {"aaaa", text("aaaa"), hex("61 61 61 61 00")},
        {"aaaaa", text("aaaaa"), hex("61 61 61 61 01")},
        {"131 a", repeat('a', 131), concat({a4, hex("7F")})},
        {"132 a", repeat('a', 132), concat({a4, hex("80 00")})},
        {"133 a", repeat('a', 133), concat({a4, hex("80 01")})},
        {"300 a", repeat('a', 300), concat({a4, hex("80 A8")})},
        {"32,899 a", repeat('a', 32899), concat({a4, hex("FF FF")})},
        {"32,900 a", repeat('a', 32900), concat({a4, hex("FF FF 61")})},
        {"32,902 a", repeat('a', 32902), concat({a4, hex("FF FF 61 61 61")})},
        {"32,903 a", repeat('a', 32903), concat({a4, hex("FF FF 61 61 61 61 00")})},
        {"aaaabbbb", text("aaaabbbb"), hex("61 61 61 61 00 62 62 62 62 00")},
        {"aaaab", text("aaaab"), hex("61 61 61 61 00 62")},
        {"four zero bytes", repeat(0x00, 4), hex("00 00 00 00 00")},
        {"four FF bytes", repeat(0xFF, 5), hex("FF FF FF FF 01")},
        {"runs split by other bytes", text("aaabaaaa"), hex("61 61 61 62 61 61 61 61 00")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(toHex(prepass(c.input)), toHex(c.expected));
    }
}

TEST(RunLengthPrepass, AlternatingFourByteRunsReachTheBound)
{
    const Bytes input = repeat("aaaabbbb", 524288 / 8);
    Bytes out(runLengthPrepassBound(input.size())); // exactly the bound: any overrun is caught
    EXPECT_EQ(runLengthPrepass(out, input), 655360);
    EXPECT_EQ(runLengthPrepassBound(524288), 655360u);
    EXPECT_EQ(toHex(Bytes(out.begin(), out.begin() + 10)), "61 61 61 61 00 62 62 62 62 00");
    EXPECT_EQ(toHex(Bytes(out.end() - 5, out.end())), "62 62 62 62 00");
}

// The pre-pass written group by group, the plainest way: the fast copy of
// stretches without equal neighbours must give exactly this.
Bytes prepassByGroups(const Bytes& input)
{
    Bytes out;
    for (std::size_t p = 0; p < input.size();) {
        std::size_t length = 1;
        while (p + length < input.size() && input[p + length] == input[p] && length < 4 + 32895)
            ++length;
        out.insert(out.end(), std::min<std::size_t>(length, 4), input[p]);
        if (length >= 4) {
            const std::size_t k = length - 4;
            if (k < 128) {
                out.push_back(static_cast<std::uint8_t>(k));
            } else {
                out.push_back(static_cast<std::uint8_t>(0x80 + ((k - 128) >> 8)));
                out.push_back(static_cast<std::uint8_t>((k - 128) & 0xFF));
            }
        }
        p += length;
    }
    return out;
}

TEST(RunLengthPrepass, StretchesWithoutRunsAndRunsAtEveryPlace)
{
    // Distinct neighbours with a run of 2 to 6 equal bytes placed at every
    // offset around the 16-byte stretches, and near the end of the input.
    for (std::size_t length = 15; length <= 70; ++length)
        for (std::size_t at = 0; at < length; ++at)
            for (std::size_t run = 2; run <= 6; ++run) {
                Bytes input(length);
                for (std::size_t i = 0; i < length; ++i)
                    input[i] = static_cast<std::uint8_t>(i * 7 + 1);
                for (std::size_t i = at; i < std::min(length, at + run); ++i)
                    input[i] = 0xEE;
                SCOPED_TRACE(testing::Message() << "length " << length << ", run of " << run << " at " << at);
                ASSERT_EQ(toHex(prepass(input)), toHex(prepassByGroups(input)));
            }
    // Sound-like bytes with runs of random lengths.
    std::uint32_t state = 12345;
    const auto next = [&state] { return state = state * 1664525u + 1013904223u; };
    Bytes input;
    while (input.size() < 200000) {
        const std::uint32_t r = next();
        const std::size_t run = (r >> 24) < 16 ? 1 + (r >> 8) % 300 : 1;
        input.insert(input.end(), run, static_cast<std::uint8_t>(r >> 16));
    }
    EXPECT_EQ(prepass(input), prepassByGroups(input));
}

TEST(RunLengthPrepass, OtherThresholds)
{
    EXPECT_EQ(toHex(prepass(text("aab"), 1)), "61 01 62 00");
    EXPECT_EQ(toHex(prepass(text("aaab"), 2)), "61 61 01 62");
    // The cap is T + 32,895 bytes per group for any T.
    EXPECT_EQ(toHex(prepass(repeat('a', 32898), 2)), "61 61 FF FF 61");
}

// Run-length expansion: the pre-pass undone, and its faults on data the
// pre-pass cannot have written.
TEST(RunLengthPrepass, ExpansionWorkedExamples)
{
    const struct {
        Bytes prepass;
        Bytes block;
    } cases[] = {
        {hex("61"), text("a")},
        {hex("61 61 61"), text("aaa")},
        {hex("61 61 61 61 00"), text("aaaa")},
        {hex("61 61 61 61 7F"), repeat('a', 131)},
        {hex("61 61 61 61 80 00"), repeat('a', 132)},
        {hex("61 61 61 61 80 A8"), repeat('a', 300)},
        {hex("61 61 61 61 FF FF"), repeat('a', 32899)},
        {hex("61 61 61 61 FF FF 61 61 61"), repeat('a', 32902)},
        {hex("61 61 61 61 FF FF 61 61 61 61 00"), repeat('a', 32903)},
        {hex("61 61 61 61 00 62 62 62 62 00"), text("aaaabbbb")},
        {hex("00 00 00 00 00"), repeat(0x00, 4)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(toHex(c.prepass));
        const Decoded d = expandPrepass(c.prepass);
        ASSERT_FALSE(d.fault.failed()) << d.fault.message;
        EXPECT_TRUE(d.bytes == c.block);
    }
}

TEST(RunLengthPrepass, ExpansionFaults)
{
    const struct {
        const char* name;
        Bytes prepass;
        std::size_t capacity;
        FaultKind kind;
        std::size_t position;
    } cases[] = {
        {"run count missing", hex("62 61 61 61 61"), 100, FaultKind::corrupt, 1},
        {"two-byte count cut", hex("61 61 61 61 80"), 1000, FaultKind::corrupt, 4},
        {"run count where none may stand", hex("61 61 61 61 05 61"), 100,
         FaultKind::corrupt, 5},
        {"longer than the block", hex("61 61 61 61 7F"), 130, FaultKind::limitExceeded, 0},
        {"longer than the block, plain", hex("61 62 63"), 2, FaultKind::limitExceeded, 2},
        {"lone bytes past the block", hex("01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14"), 13,
         FaultKind::limitExceeded, 13},
        {"pair across the block's end", hex("01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0D 0F 10 11 12 13 14"), 13,
         FaultKind::limitExceeded, 12},
        {"run count missing after lone bytes", hex("01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0D 0D 0D"), 100,
         FaultKind::corrupt, 12},
        {"run count where none may stand, after lone bytes", hex("01 02 03 04 05 06 07 08 09 0A 0A 0A 0A 03 0A 01 02"), 100,
         FaultKind::corrupt, 14},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Decoded d = expandPrepass(c.prepass, c.capacity);
        ASSERT_TRUE(d.fault.failed());
        EXPECT_EQ(faultKindName(d.fault.kind), std::string(faultKindName(c.kind))) << d.fault.message;
        EXPECT_EQ(d.fault.position, c.position);
    }
}

TEST(RunLengthPrepass, ExpansionUndoesThePrepass)
{
    TestRng rng(17);
    for (int i = 0; i < 300; ++i) {
        Bytes block;
        while (block.size() < 2000) {
            const Bytes run = repeat(static_cast<std::uint8_t>(rng.below(3)), 1 + rng.below(i % 3 ? 9 : 40000));
            block.insert(block.end(), run.begin(), run.end());
        }
        Bytes prepass(runLengthPrepassBound(block.size()));
        prepass.resize(static_cast<std::size_t>(runLengthPrepass(prepass, block)));
        const Decoded d = expandPrepass(prepass, block.size());
        ASSERT_FALSE(d.fault.failed()) << d.fault.message;
        EXPECT_TRUE(d.bytes == block) << "case " << i;
    }
}

// The readers keep their buffers from one block to the next: what an earlier,
// longer block left in them never shows in a later one.
TEST(RunLengthPrepass, ExpansionReusesItsBufferForTheNewBlockOnly)
{
    const Bytes shortPrepass = hex("61 62 62 63 63 63 63 02 64");
    ReusedBytes block;
    ASSERT_FALSE(expandRuns(hex("7A 7A 7A 7A FF FF"), block).failed());
    ASSERT_FALSE(expandRuns(shortPrepass, block).failed());
    EXPECT_EQ(toHex(Bytes(block.begin(), block.end())), toHex(text("abbccccccd")));
    ASSERT_TRUE(expandRuns(hex("61 61 61 61"), block).failed());
    EXPECT_TRUE(expandRuns({}, block).kind == FaultKind::none);
    EXPECT_TRUE(block.empty());
}

} // namespace
} // namespace dls2mml::test
