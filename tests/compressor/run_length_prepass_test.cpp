// Run-length pre-pass: exact output bytes, run count forms and the worst case.
#include <gtest/gtest.h>

#include "compressor/run_length_prepass.h"
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

TEST(RunLengthPrepass, OtherThresholds)
{
    EXPECT_EQ(toHex(prepass(text("aab"), 1)), "61 01 62 00");
    EXPECT_EQ(toHex(prepass(text("aaab"), 2)), "61 61 01 62");
    // The cap is T + 32,895 bytes per group for any T.
    EXPECT_EQ(toHex(prepass(repeat('a', 32898), 2)), "61 61 FF FF 61");
}

} // namespace
} // namespace dls2mml::test
