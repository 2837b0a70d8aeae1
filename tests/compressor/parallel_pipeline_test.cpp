// The block pipeline on several threads: the same frames, in the same order,
// as one thread sorting every block in turn with the process-wide pivot state;
// the state after the ordered blocks is exact; equal rotations are found where
// they are and only there; a block with them among the freely sorted blocks
// stops the run before its frame is written.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>

#include "compressor/block_compressor.h"
#include "compressor/block_pipeline.h"
#include "compressor/equal_rotations.h"
#include "shell/sort_plan.h"
#include "support/test_support.h"

namespace dls2mml {
namespace {

using test::Bytes;
using test::repeat;
using test::text;
using test::TestRng;

constexpr std::size_t block = blockSizeForLevel1;

// Any two rotations equal, by brute force.
bool naiveEqualRotations(const Bytes& b)
{
    const std::size_t m = b.size();
    for (std::size_t s = 1; s < m; ++s) {
        bool equal = true;
        for (std::size_t i = 0; i < m && equal; ++i)
            equal = b[i] == b[(i + s) % m];
        if (equal)
            return true;
    }
    return false;
}

TEST(EqualRotations, Examples)
{
    const struct {
        Bytes block;
        bool equal;
    } cases[] = {
        {{}, false},
        {text("a"), false},
        {text("aa"), true},
        {text("ab"), false},
        {text("abab"), true},
        {text("abcabc"), true},
        {text("abcab"), false},
        {text("banana"), false},
        {repeat("aaab", 6), true},
        {repeat("abcde", 49), true},  // 245 = 5 * 7^2: period m / 7 found
        {repeat("ab", 16), true},     // only the prime 2
        {test::concat({repeat("ab", 16), text("a")}), false},
        {repeat('x', 655360), true},
        {test::concat({repeat("aaabaabb", 81920 - 1), text("aaabaaba")}), false}, // differs in the last byte
    };
    for (const auto& c : cases)
        EXPECT_EQ(hasEqualRotations(c.block), c.equal) << test::toHex(Bytes(c.block.begin(),
                                                                          c.block.begin() + std::min<std::size_t>(c.block.size(), 16)));
}

TEST(EqualRotations, AgreesWithBruteForce)
{
    TestRng rng(14);
    for (int round = 0; round < 3000; ++round) {
        const std::size_t period = 1 + rng.below(6);
        const std::size_t times = 1 + rng.below(8);
        const Bytes unit = rng.bytes(period, 1 + rng.below(3), 'a');
        Bytes b = repeat(std::string_view(reinterpret_cast<const char*>(unit.data()), unit.size()), times);
        if (rng.below(3) == 0 && !b.empty())
            b[rng.below(static_cast<std::uint32_t>(b.size()))] ^= 1; // usually breaks the repetition
        ASSERT_EQ(hasEqualRotations(b), naiveEqualRotations(b)) << test::toHex(b);
    }
}

// Inputs of several blocks, some of them with equal rotations after the pre-pass.
Bytes noise(std::size_t n, std::uint32_t seed)
{
    TestRng rng(seed);
    Bytes out = rng.bytes(n, 24, 'a');
    for (std::size_t i = 0; i + 8 < n; i += 1 + rng.below(40))
        std::memset(out.data() + i, out[i], rng.below(6)); // some runs for the pre-pass
    return out;
}

Bytes periodicBlock(std::string_view pattern, std::size_t n = block)
{
    Bytes out = repeat(pattern, n / pattern.size() + 1);
    out.resize(n);
    return out;
}

struct Frames {
    std::vector<Bytes> frames;
    PipelineFault fault = PipelineFault::none;
    std::uint32_t stateAfter = 0;
};

Frames runPipeline(const Bytes& input, unsigned threads, std::uint64_t ordered, std::uint32_t state = 1)
{
    Frames out;
    pivotGenerator.setState(state);
    std::size_t at = 0;
    const SliceReader reader = [&](std::span<std::uint8_t> buffer, std::size_t& got) {
        got = std::min(buffer.size(), input.size() - at);
        std::memcpy(buffer.data(), input.data() + at, got);
        at += got;
        return true;
    };
    const FrameSink sink = [&](std::span<const std::uint8_t> frame) {
        out.frames.emplace_back(frame.begin(), frame.end());
        return true;
    };
    PipelineOptions options;
    options.threads = threads;
    options.orderedBlocks = ordered;
    out.fault = compressSlices(reader, sink, options).fault;
    out.stateAfter = pivotGenerator.state();
    return out;
}

// The reference: the block form of BlockCompressor, one block after another.
Frames reference(const Bytes& input, std::uint32_t state = 1)
{
    Frames out;
    pivotGenerator.setState(state);
    BlockCompressor compressor;
    EXPECT_TRUE(compressor.allocateBuffers());
    Bytes frame(frameBound(block));
    for (std::size_t at = 0; at < input.size(); at += block) {
        const std::size_t n = std::min(block, input.size() - at);
        const CompressStatus coded = compressor.compressBlock(std::span(input.data() + at, n), frame);
        EXPECT_TRUE(coded);
        out.frames.emplace_back(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(coded.length));
    }
    compressor.release();
    out.stateAfter = pivotGenerator.state();
    return out;
}

class ParallelPipeline : public ::testing::Test {
protected:
    void SetUp() override { saved_ = pivotGenerator.state(); }
    void TearDown() override { pivotGenerator.setState(saved_); }
    std::uint32_t saved_ = 0;
};

TEST_F(ParallelPipeline, SameFramesForEveryThreadCount)
{
    // Equal rotations late, twice, and in the last, short block.
    const Bytes input = test::concat({noise(3 * block, 1), periodicBlock("aaabaabb"), noise(2 * block, 2),
                                      periodicBlock("aaabaabbaabaabab"), noise(block, 3), periodicBlock("aaab", 5000)});
    const std::uint32_t state = 0x1234567;
    const Frames expected = reference(input, state);
    ASSERT_EQ(expected.frames.size(), 9u);
    for (unsigned threads : {1u, 2u, 3u, 4u, 8u}) {
        const Frames got = runPipeline(input, threads, allBlocksOrdered, state);
        EXPECT_EQ(got.fault, PipelineFault::none);
        EXPECT_EQ(got.frames, expected.frames) << threads << " threads";
        EXPECT_EQ(got.stateAfter, expected.stateAfter) << threads << " threads";
    }
}

TEST_F(ParallelPipeline, BlocksAfterTheOrderedOnesMaySortAnywhere)
{
    // The last block with equal rotations is block 4 (index), so 5 are ordered.
    const Bytes input = test::concat({noise(2 * block, 4), periodicBlock("ab"), noise(block, 5),
                                      periodicBlock("aaabaabb"), noise(4 * block + 777, 6)});
    const std::uint32_t state = 99;
    const Frames expected = reference(input, state);
    // The state after the run counts only the ordered blocks' draws; measure it.
    const Frames prefix = reference(Bytes(input.begin(), input.begin() + 5 * block), state);
    for (unsigned threads : {1u, 2u, 4u}) {
        const Frames got = runPipeline(input, threads, 5, state);
        EXPECT_EQ(got.fault, PipelineFault::none);
        EXPECT_EQ(got.frames, expected.frames) << threads << " threads";
        EXPECT_EQ(got.stateAfter, prefix.stateAfter) << threads << " threads";
    }
}

TEST_F(ParallelPipeline, EqualRotationsAmongFreeBlocksStopBeforeTheirFrame)
{
    const Bytes input = test::concat({noise(3 * block, 7), periodicBlock("aaabaabb"), noise(2 * block, 8)});
    const Frames expected = reference(input);
    for (unsigned threads : {1u, 2u, 4u}) {
        const Frames got = runPipeline(input, threads, 2);
        EXPECT_EQ(got.fault, PipelineFault::inputChanged) << threads << " threads";
        ASSERT_LE(got.frames.size(), 3u) << threads << " threads";
        for (std::size_t i = 0; i < got.frames.size(); ++i)
            EXPECT_EQ(got.frames[i], expected.frames[i]);
    }
}

TEST_F(ParallelPipeline, SinkRefusalAndReadFailureStopInOrder)
{
    const Bytes input = noise(6 * block, 9);
    for (unsigned threads : {1u, 2u, 4u}) {
        std::size_t taken = 0;
        std::size_t at = 0;
        const SliceReader reader = [&](std::span<std::uint8_t> buffer, std::size_t& got) {
            got = std::min(buffer.size(), input.size() - at);
            std::memcpy(buffer.data(), input.data() + at, got);
            at += got;
            return true;
        };
        const FrameSink refuseThird = [&](std::span<const std::uint8_t>) { return ++taken < 3; };
        PipelineOptions options;
        options.threads = threads;
        EXPECT_EQ(compressSlices(reader, refuseThird, options).fault, PipelineFault::sinkFailed);
        EXPECT_EQ(taken, 3u);

        std::size_t reads = 0;
        std::size_t frames = 0;
        const SliceReader failFourth = [&](std::span<std::uint8_t> buffer, std::size_t& got) {
            got = buffer.size();
            std::memcpy(buffer.data(), input.data() + reads * block, got);
            return ++reads < 4;
        };
        const FrameSink count = [&](std::span<const std::uint8_t>) { return ++frames, true; };
        options.orderedBlocks = 0;
        EXPECT_EQ(compressSlices(failFourth, count, options).fault, PipelineFault::readFailed);
        EXPECT_LE(frames, 3u);
    }
}

// planSorts over files: everything up to the last block with equal rotations
// of the whole run is ordered; standard input counts as having one at its end.
class SortPlan : public ::testing::Test {
protected:
    std::string file(const std::string& name, const Bytes& bytes)
    {
        const std::string path = ::testing::TempDir() + "sort_plan_" + std::to_string(::getpid()) + "_" + name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                     static_cast<std::streamsize>(bytes.size()));
        made_.push_back(path);
        return path;
    }
    void TearDown() override
    {
        for (const std::string& path : made_)
            std::remove(path.c_str());
    }
    std::vector<std::string> made_;
};

TEST_F(SortPlan, OrderedUpToTheLastBlockThatNeedsTheState)
{
    const std::string plain = file("plain", noise(2 * block + 5, 10));
    const std::string late = file("late", test::concat({noise(3 * block, 11), periodicBlock("ab"), noise(block, 12)}));
    const std::string tiny = file("tiny", text("abab"));
    const std::string empty = file("empty", {});
    // Blocks looked at on several threads come back in order: the last
    // such block is the last in the file, not the last to finish.
    const std::string twice = file("twice", test::concat({periodicBlock("ab"), noise(4 * block, 13), periodicBlock("wxyz"), noise(3 * block, 14)}));
    for (const unsigned threads : {1u, 2u, 3u}) {
        SCOPED_TRACE(threads);
        EXPECT_EQ(lastBlockNeedingState(plain, threads), noBlockNeedsState);
        EXPECT_EQ(lastBlockNeedingState(late, threads), 3);
        EXPECT_EQ(lastBlockNeedingState(twice, threads), 5);
        EXPECT_EQ(lastBlockNeedingState(tiny, threads), 0);
        EXPECT_EQ(lastBlockNeedingState(empty, threads), noBlockNeedsState);
        EXPECT_EQ(lastBlockNeedingState("-", threads), cannotScan);
        EXPECT_EQ(lastBlockNeedingState(::testing::TempDir() + "no_such_file_here", threads), cannotScan);
    }

    const std::uint64_t all = UINT64_MAX;
    const struct {
        std::vector<std::string> run;
        std::vector<std::uint64_t> ordered;
    } cases[] = {
        {{plain}, {0}},
        {{plain, plain}, {0, 0}},
        {{late}, {4}},
        {{plain, late, plain}, {all, 4, 0}},
        {{late, plain, tiny, plain}, {all, all, 1, 0}},
        {{plain, "-", plain}, {all, all, 0}},
        {{empty, late, empty}, {all, 4, 0}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(planSorts(c.run), c.ordered);
        EXPECT_EQ(planSorts(c.run, 2), c.ordered);
    }
}

} // namespace
} // namespace dls2mml
