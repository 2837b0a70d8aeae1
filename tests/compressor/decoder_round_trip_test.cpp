// Encode -> decode round trips over families of generated data, through the
// stream decoder and the document reader.
#include <functional>

#include "compressor/pivot_generator.h"
#include "support/decoder_test_support.h"

namespace dls2mml::test {
namespace {

class RoundTripCountReporter : public ::testing::EmptyTestEventListener {
    void OnTestProgramEnd(const ::testing::UnitTest&) override
    {
        if (roundTripCount() != 0)
            std::printf("decoder round trips: %zu\n", roundTripCount());
    }
};

const bool reporterInstalled = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new RoundTripCountReporter);
    return true;
}();

Bytes alternatingRuns(std::size_t n, std::size_t runLength)
{
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = (i / runLength) % 2 ? 'b' : 'a';
    return out;
}

// A run of `length` bytes x between other bytes.
Bytes runBetween(std::size_t length, std::uint8_t x = 'x')
{
    return concat({text("ab"), repeat(x, length), text("cd")});
}

TEST(DecoderRoundTrip, Families)
{
    TestRng rng(20261209);
    struct Family {
        const char* name;
        std::function<Bytes()> make;
    };
    const Family families[] = {
        {"empty", [] { return Bytes{}; }},
        {"one byte", [] { return text("a"); }},
        {"two bytes", [] { return text("ba"); }},
        {"abc", [] { return text("abc"); }},
        {"random 1000", [&] { return rng.bytes(1000); }},
        {"random 70000", [&] { return rng.bytes(70000); }},
        {"zeros 1", [] { return repeat(0x00, 1); }},
        {"zeros 4", [] { return repeat(0x00, 4); }},
        {"zeros 1000", [] { return repeat(0x00, 1000); }},
        {"ff 300000", [] { return repeat(0xFF, 300000); }},
        {"two symbols", [&] { return rng.bytes(20000, 2); }},
        {"three symbols", [&] { return rng.bytes(20000, 3, 'a'); }},
        {"four symbols, long runs", [&] {
             Bytes out;
             while (out.size() < 50000) {
                 const Bytes run = repeat(static_cast<std::uint8_t>(rng.below(4)), 1 + rng.below(40));
                 out.insert(out.end(), run.begin(), run.end());
             }
             return out;
         }},
        {"text-like", [&] { return rng.bytes(30000, 26, 'a'); }},
        {"ascending bytes", [] {
             Bytes out(256 * 40);
             for (std::size_t i = 0; i < out.size(); ++i)
                 out[i] = static_cast<std::uint8_t>(i);
             return out;
         }},
        {"descending bytes", [] {
             Bytes out(256 * 7);
             for (std::size_t i = 0; i < out.size(); ++i)
                 out[i] = static_cast<std::uint8_t>(255 - i % 256);
             return out;
         }},
        {"ab x 12", [] { return repeat("ab", 12); }},
        {"aaab x 6", [] { return repeat("aaab", 6); }},
        {"aaaab x 4", [] { return repeat("aaaab", 4); }},
        {"12 equal bytes", [] { return repeat('q', 12); }},
        {"abcabc x 50", [] { return repeat("abcabc", 50); }},
        {"alternating runs of four", [] { return alternatingRuns(40000, 4); }},
        {"alternating runs of three", [] { return alternatingRuns(40000, 3); }},
        {"alternating runs of five", [] { return alternatingRuns(40000, 5); }},
    };
    for (const Family& family : families) {
        SCOPED_TRACE(family.name);
        expectRoundTrip(family.make());
    }
}

TEST(DecoderRoundTrip, PeriodicBlocksAtManyPivotStates)
{
    // The primary index of a block repeating a pattern depends on the pivot
    // draws made before; every one of those rows must decode to the block.
    TestRng rng(7);
    for (std::uint32_t state : {1u, 2u, 3u, 12345u, 0xDEADBEEFu}) {
        pivotGenerator.setState(state);
        for (int i = 0; i < 12; ++i) {
            const std::size_t period = 1 + rng.below(40);
            const std::size_t repeats = 12 + rng.below(60);
            const Bytes pattern = rng.bytes(period, i % 2 ? 3 : 256);
            Bytes block;
            for (std::size_t r = 0; r < repeats; ++r)
                block.insert(block.end(), pattern.begin(), pattern.end());
            SCOPED_TRACE("state " + std::to_string(state) + ", period " + std::to_string(period) + " x " +
                         std::to_string(repeats));
            expectRoundTrip(block);
        }
    }
    pivotGenerator.setState(1);
}

TEST(DecoderRoundTrip, RunLengthsAroundEveryLimit)
{
    // Pre-pass limits: counts 127/128 (one or two bytes), 32,895 (largest
    // count), 32,899 (largest group); rank-run limits of 32,898.
    for (std::size_t length : {3u, 4u, 5u, 130u, 131u, 132u, 133u, 32898u, 32899u, 32900u, 32901u, 32902u, 32903u,
                               65798u, 65799u, 65800u}) {
        SCOPED_TRACE("run of " + std::to_string(length));
        expectRoundTrip(runBetween(length));
    }
    // Runs long enough that the rank symbols themselves carry long counts: the
    // last column of ab-patterns has long runs of equal non-zero ranks.
    for (std::size_t repeats : {130u, 131u, 32898u / 2, 32899u, 40000u}) {
        SCOPED_TRACE("(abc) x " + std::to_string(repeats));
        expectRoundTrip(concat({repeat("abc", repeats), text("b")}));
    }
}

TEST(DecoderRoundTrip, SizesAroundBlockBoundaries)
{
    TestRng rng(99);
    for (std::size_t n : {0u, 1u, 2u, 524287u, 524288u, 524289u, 2u * 524288u + 3u}) {
        SCOPED_TRACE("size " + std::to_string(n));
        expectRoundTrip(rng.bytes(n, 16), 65536);
    }
    expectRoundTrip(repeat(0x00, 3 * 524288 + 1), 65536);
}

TEST(DecoderRoundTrip, PrepassWorstCaseFillsItsLimit)
{
    // Alternating runs of exactly four bytes: a full block pre-passes to
    // 655,360 bytes, the largest pre-pass length.
    expectRoundTrip(alternatingRuns(524288, 4), 65536);
    expectRoundTrip(alternatingRuns(524288 + 8, 4), 65536);
}

TEST(DecoderRoundTrip, SeveralFilesInOneProcess)
{
    // The pivot state carries on from file to file; each stream decodes alone.
    TestRng rng(5);
    for (int file = 0; file < 10; ++file) {
        Bytes bank = concat({text("RIFF"), rng.bytes(100 + rng.below(5000), 8), repeat("wave", 20 + file),
                             repeat(static_cast<std::uint8_t>(file), 1000)});
        SCOPED_TRACE("file " + std::to_string(file));
        expectRoundTrip(bank, 1 + rng.below(300));
    }
}

TEST(DecoderRoundTrip, RandomSizesAndAlphabets)
{
    TestRng rng(31337);
    for (int i = 0; i < 60; ++i) {
        const std::size_t n = rng.below(3000);
        const std::uint32_t alphabet = 1 + rng.below(256);
        SCOPED_TRACE("case " + std::to_string(i));
        expectRoundTrip(rng.bytes(n, alphabet), 1 + rng.below(200));
    }
}

} // namespace
} // namespace dls2mml::test
