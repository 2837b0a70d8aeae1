// The tbr0 stream: header, block framing and whole streams of worked inputs.
#include <gtest/gtest.h>

#include "compressor/block_compressor.h"
#include "support/test_support.h"

namespace dls2mml::test {
namespace {

// Compresses with a fresh pivot state into a buffer of exactly compressBound bytes.
Bytes compressFresh(const Bytes& input)
{
    const std::uint32_t saved = pivotGenerator.state();
    pivotGenerator.setState(PivotGenerator::initialState);
    Bytes out(compressBound(input.size()));
    std::uint32_t framesLength = 0xDEADBEEF;
    BlockCompressor compressor;
    static const std::uint8_t none = 0; // an empty vector's data() may be null, which compress refuses
    const bool ok = compressor.compress(input.empty() ? &none : input.data(), out.data(), static_cast<std::uint32_t>(input.size()), &framesLength).ok();
    pivotGenerator.setState(saved);
    EXPECT_TRUE(ok);
    if (!ok) return {};
    EXPECT_LE(framesLength + streamHeaderSize, out.size());
    out.resize(framesLength + streamHeaderSize);
    return out;
}

struct Frame {
    std::uint32_t primaryIndex;
    Bytes payload;
};

std::uint32_t be24(const Bytes& b, std::size_t at) { return std::uint32_t{b[at]} << 16 | std::uint32_t{b[at + 1]} << 8 | b[at + 2]; }

// Splits a stream into its frames; fails the test if they do not end exactly at the end.
std::vector<Frame> frames(const Bytes& stream)
{
    std::vector<Frame> out;
    std::size_t at = streamHeaderSize;
    while (at + frameHeaderSize <= stream.size()) {
        const std::uint32_t c = be24(stream, at + 3);
        if (at + frameHeaderSize + c > stream.size()) break;
        out.push_back({be24(stream, at), Bytes(stream.begin() + static_cast<std::ptrdiff_t>(at + 6),
                                               stream.begin() + static_cast<std::ptrdiff_t>(at + 6 + c))});
        at += frameHeaderSize + c;
    }
    EXPECT_EQ(at, stream.size()) << "frames do not end at the end of the stream";
    return out;
}

TEST(Stream, WorkedStreams)
{
    struct Case {
        const char* name;
        Bytes input;
        Bytes expected;
    } cases[] = {
        {"empty: header alone", {}, hex("74 62 72 30 01 00 00 00 00 00 00 00")},
        {"abc", text("abc"), hex("74 62 72 30 01 00 00 00 03 00 00 00  00 00 00 00 00 08  DB 24 36 0B 9E FD 78 00")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(toHex(compressFresh(c.input)), toHex(c.expected));
    }
}

TEST(Stream, EightLettersA)
{
    const Bytes stream = compressFresh(repeat('a', 8));
    ASSERT_EQ(stream.size(), 25u);
    EXPECT_EQ(toHex(Bytes(stream.begin(), stream.begin() + 12)), "74 62 72 30 01 00 00 00 08 00 00 00");
    EXPECT_EQ(toHex(Bytes(stream.begin() + 12, stream.begin() + 18)), "00 00 04 00 00 07");
}

TEST(Stream, HeaderLengthIsLittleEndianFrameFieldsBigEndian)
{
    const Bytes thousand = compressFresh(TestRng(1).bytes(1000));
    EXPECT_EQ(toHex(Bytes(thousand.begin() + 8, thousand.begin() + 12)), "E8 03 00 00");

    // "b" then "ac" x 1000: the 1,000 rotations that begin with a precede rotation 0.
    const Bytes block = concat({text("b"), repeat("ac", 1000)});
    const Bytes stream = compressFresh(block);
    EXPECT_EQ(toHex(Bytes(stream.begin() + 8, stream.begin() + 12)), "D1 07 00 00");
    EXPECT_EQ(toHex(Bytes(stream.begin() + 12, stream.begin() + 15)), "00 03 E8");
    const std::vector<Frame> f = frames(stream);
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].primaryIndex, 1000u);
}

TEST(Stream, HeaderCarriesTheInputLengthNotThePrepassLength)
{
    const Bytes stream = compressFresh(repeat(0x00, 100000));
    EXPECT_EQ(toHex(Bytes(stream.begin() + 8, stream.begin() + 12)), "A0 86 01 00");
    EXPECT_EQ(frames(stream).size(), 1u);
}

// 524,288 bytes are one frame; one byte more makes a second frame that codes
// that byte alone, exactly as a one-byte input would.
TEST(Stream, BlockBoundary)
{
    const Bytes full = TestRng(524288).bytes(524288);
    const Bytes plusOne = concat({full, hex("5A")});
    const std::vector<Frame> one = frames(compressFresh(full));
    const std::vector<Frame> two = frames(compressFresh(plusOne));
    const std::vector<Frame> single = frames(compressFresh(hex("5A")));
    ASSERT_EQ(one.size(), 1u);
    ASSERT_EQ(two.size(), 2u);
    ASSERT_EQ(single.size(), 1u);
    EXPECT_EQ(two[0].primaryIndex, one[0].primaryIndex);
    EXPECT_TRUE(two[0].payload == one[0].payload);
    EXPECT_EQ(two[1].primaryIndex, 0u);
    EXPECT_EQ(toHex(two[1].payload), toHex(single[0].payload));
}

// Inputs that push each stage to its worst case still fit compressBound
// (the buffer is exactly that long, so an overrun shows under the sanitizers).
TEST(Stream, WorstCaseInputsFitTheBound)
{
    struct Case {
        const char* name;
        Bytes input;
    } cases[] = {
        {"one byte", hex("00")},
        {"random, two blocks", TestRng(77).bytes(524288 + 4000)},
        {"alternating four-byte runs: pre-pass maximum", repeat("aaaabbbb", 65536)},
        {"runs of three", repeat("aaabbbccc", 60000)},
        {"long runs", repeat(0x11, 2 * 524288 + 1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes stream = compressFresh(c.input);
        ASSERT_GE(stream.size(), streamHeaderSize + frameHeaderSize + 4);
        EXPECT_EQ(frames(stream).size(), (c.input.size() + 524287) / 524288);
    }
}

TEST(Stream, MissingArgumentsFail)
{
    BlockCompressor compressor;
    Bytes in = text("abc"), out(64, 0xEE);
    std::uint32_t length = 7;
    EXPECT_FALSE(compressor.compress(nullptr, out.data(), 3, &length));
    EXPECT_FALSE(compressor.compress(in.data(), nullptr, 3, &length));
    EXPECT_FALSE(compressor.compress(in.data(), out.data(), 3, nullptr));
    EXPECT_EQ(compressor.compress(in.data(), out.data(), 3, nullptr).fault, CompressStatus::Fault::missingArgument);
    EXPECT_EQ(length, 7u);
    EXPECT_EQ(out, Bytes(64, 0xEE));
}

// The block form refuses what it cannot code, with the reason, and writes nothing.
TEST(Stream, BlockFormRefusesBadSlices)
{
    BlockCompressor compressor;
    const Bytes slice = text("abc");
    Bytes frame(frameBound(blockSizeForLevel1), 0xEE);
    EXPECT_EQ(compressor.compressBlock(slice, frame).fault, CompressStatus::Fault::badSlice); // no buffers yet
    ASSERT_TRUE(compressor.allocateBuffers());
    EXPECT_EQ(compressor.compressBlock({}, frame).fault, CompressStatus::Fault::badSlice);
    EXPECT_EQ(compressor.compressBlock(Bytes(blockSizeForLevel1 + 1), frame).fault, CompressStatus::Fault::badSlice);
    EXPECT_EQ(compressor.compressBlock(slice, std::span(frame).first(frameBound(3) - 1)).fault,
              CompressStatus::Fault::badSlice);
    EXPECT_EQ(frame, Bytes(frameBound(blockSizeForLevel1), 0xEE));
    const CompressStatus coded = compressor.compressBlock(slice, frame);
    ASSERT_TRUE(coded);
    EXPECT_EQ(coded.length, 14u); // the abc frame: 6 header bytes and 8 payload bytes
    compressor.release();
}

// The pivot state carries across compress calls: a periodic block compressed
// twice in one process can land on another row the second time.
TEST(Stream, PivotStateCarriesAcrossStreams)
{
    const std::uint32_t saved = pivotGenerator.state();
    const Bytes input = repeat("aaab", 6);
    pivotGenerator.setState(1);
    Bytes out(compressBound(input.size()));
    std::uint32_t length = 0;
    BlockCompressor compressor;
    ASSERT_TRUE(compressor.compress(input.data(), out.data(), 24, &length));
    EXPECT_EQ(be24(out, 12), 4u);
    EXPECT_EQ(pivotGenerator.state(), 2745024u); // one draw
    pivotGenerator.setState(saved);
}

} // namespace
} // namespace dls2mml::test
