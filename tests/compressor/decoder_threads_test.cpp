// The decoder on several threads: the same blocks handed on, and the same
// fault with the same place, as on one thread, however the input is cut into
// pieces, for damage in one frame, in several, in a frame and in the framing
// after it, in the text after the stream, and for a sink that refuses a block.
#include <cstring>

#include "support/decoder_test_support.h"

namespace dls2mml::test {
namespace {

constexpr std::size_t slice = blockSizeForLevel1;

struct Outcome {
    std::string message;
    std::uint64_t offset = 0;
    TextPosition at;
    std::vector<std::size_t> blocks; // lengths handed on, in order
    Bytes bytes;
};

bool operator==(const Outcome& a, const Outcome& b)
{
    return a.message == b.message && a.offset == b.offset && a.at.line == b.at.line && a.at.column == b.at.column &&
           a.blocks == b.blocks && a.bytes == b.bytes;
}

std::ostream& operator<<(std::ostream& out, const Outcome& o)
{
    return out << "'" << o.message << "' at " << o.offset << " (line " << o.at.line << ", column " << o.at.column
               << "), " << o.blocks.size() << " blocks";
}

// refuseAt: the sink refuses the block with this index (none when larger).
Outcome decodeStreamIn(const Bytes& stream, unsigned threads, std::size_t piece, std::size_t refuseAt = SIZE_MAX)
{
    Outcome out;
    BlockDecompressor decoder(
        [&](std::span<const std::uint8_t> block) {
            if (out.blocks.size() == refuseAt)
                return false;
            out.blocks.push_back(block.size());
            out.bytes.insert(out.bytes.end(), block.begin(), block.end());
            return true;
        },
        threads);
    DecodeStatus status;
    for (std::size_t at = 0; at < stream.size() && status.ok(); at += piece)
        status = decoder.feed(std::span(stream).subspan(at, std::min(piece, stream.size() - at)));
    if (status.ok())
        status = decoder.finish();
    out.message = status.message;
    out.offset = status.offset;
    return out;
}

Outcome decodeDocumentIn(const std::string& document, unsigned threads, std::size_t piece)
{
    Outcome out;
    DocumentReader reader(
        [&](std::span<const std::uint8_t> block) {
            out.blocks.push_back(block.size());
            out.bytes.insert(out.bytes.end(), block.begin(), block.end());
            return true;
        },
        threads);
    TextStatus status;
    for (std::size_t at = 0; at < document.size() && status.ok(); at += piece)
        status = reader.feed(std::string_view(document).substr(at, piece));
    if (status.ok())
        status = reader.finish();
    out.message = status.message;
    out.at = status.at;
    return out;
}

// Where each frame starts in a stream.
std::vector<std::size_t> frameStarts(const Bytes& stream)
{
    std::vector<std::size_t> starts;
    for (std::size_t at = streamHeaderSize; at + frameHeaderSize <= stream.size();) {
        starts.push_back(at);
        at += frameHeaderSize + getBigEndian24(stream.data() + at + framePayloadLengthOffset);
    }
    return starts;
}

Bytes damaged(Bytes stream, std::size_t at, std::uint8_t mask = 0x5A)
{
    stream[at] ^= mask;
    return stream;
}

class DecoderThreads : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        TestRng rng(1414);
        input_ = rng.bytes(3 * slice + 12345, 40);
        for (std::size_t i = 0; i + 64 < input_.size(); i += 997)
            std::memset(input_.data() + i, 'q', 1 + rng.below(60));
        stream_ = compressBytes(input_);
    }
    static Bytes input_;
    static Bytes stream_;
};
Bytes DecoderThreads::input_;
Bytes DecoderThreads::stream_;

TEST_F(DecoderThreads, StreamsGiveTheSameBlocksAndFaults)
{
    const std::vector<std::size_t> frames = frameStarts(stream_);
    ASSERT_EQ(frames.size(), 4u);
    auto payloadMiddle = [&](std::size_t k) {
        const std::size_t end = k + 1 < frames.size() ? frames[k + 1] : stream_.size();
        return (frames[k] + frameHeaderSize + end) / 2;
    };
    Bytes twoBad = damaged(damaged(stream_, payloadMiddle(1)), payloadMiddle(2));
    Bytes badThenFraming = damaged(stream_, payloadMiddle(1));
    badThenFraming[frames[3] + framePayloadLengthOffset] = 0xFF; // payload length beyond any block
    Bytes framingOnly = stream_;
    framingOnly[frames[3] + framePayloadLengthOffset] = 0xFF;
    Bytes wrongLength = stream_;
    wrongLength[headerLengthOffset] ^= 1; // the last block is one byte off
    const struct {
        const char* name;
        Bytes stream;
        bool sound;
    } cases[] = {
        {"sound", stream_, true},
        {"first frame damaged", damaged(stream_, payloadMiddle(0)), false},
        {"middle frame damaged", damaged(stream_, payloadMiddle(2)), false},
        {"last frame damaged", damaged(stream_, payloadMiddle(3)), false},
        {"two frames damaged", twoBad, false},
        {"damaged frame, then bad framing", badThenFraming, false},
        {"bad framing after sound frames", framingOnly, false},
        {"primary index of a later frame beyond its block", damaged(stream_, frames[2], 0x0F), false},
        {"header length one off", wrongLength, false},
        {"cut inside the third frame", Bytes(stream_.begin(), stream_.begin() + payloadMiddle(2)), false},
        {"trailing bytes", concat({stream_, hex("00 01")}), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome expected = decodeStreamIn(c.stream, 1, c.stream.size());
        EXPECT_EQ(expected.message.empty(), c.sound) << expected;
        if (c.sound) {
            EXPECT_TRUE(expected.bytes == input_);
        }
        for (unsigned threads : {2u, 4u})
            for (std::size_t piece : {std::size_t{65521}, c.stream.size()})
                EXPECT_EQ(decodeStreamIn(c.stream, threads, piece), expected) << threads << " threads, pieces of " << piece;
    }
}

TEST_F(DecoderThreads, ARefusedBlockStopsAtTheSamePlace)
{
    for (std::size_t refuse : {std::size_t{0}, std::size_t{2}, std::size_t{3}}) {
        const Outcome expected = decodeStreamIn(stream_, 1, stream_.size(), refuse);
        EXPECT_EQ(expected.message, "output refused");
        EXPECT_EQ(expected.blocks.size(), refuse);
        for (unsigned threads : {2u, 4u})
            EXPECT_EQ(decodeStreamIn(stream_, threads, 100000, refuse), expected) << threads << " threads";
    }
}

TEST_F(DecoderThreads, DocumentsGiveTheSameBlocksAndFaults)
{
    const std::string sound = documentFor(input_.size(), stream_);
    const std::vector<std::size_t> frames = frameStarts(stream_);
    const std::string badFrame = documentFor(input_.size(), damaged(stream_, frames[2] + 5000));
    // The text goes wrong after a frame that does not decode: the frame's fault comes first.
    std::string badFrameThenText = badFrame;
    badFrameThenText[badFrameThenText.size() / 4 * 3] = '*';
    std::string badText = sound;
    badText[sound.size() / 2] = '*';
    const struct {
        const char* name;
        std::string document;
    } cases[] = {
        {"sound", sound},
        {"damaged frame", badFrame},
        {"damaged frame, then damaged text", badFrameThenText},
        {"damaged text only", badText},
        {"damaged frame, then a damaged footer", badFrame.substr(0, badFrame.size() - 2) + "x\n"},
        {"something after the footer", sound + "x"},
        {"cut inside the text", sound.substr(0, sound.size() / 3)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome expected = decodeDocumentIn(c.document, 1, c.document.size());
        for (unsigned threads : {2u, 4u})
            for (std::size_t piece : {std::size_t{4093}, std::size_t{262144}})
                EXPECT_EQ(decodeDocumentIn(c.document, threads, piece), expected) << threads << " threads, pieces of " << piece;
    }
}

} // namespace
} // namespace dls2mml::test
