// --verify while the document is written: each frame decoded back against its
// slice, the stream read back from the document's text against the frames
// written, and the conversion job with faults put into a frame or into the
// finished document, which must fail the run and leave no document.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "compressor/block_compressor.h"
#include "compressor/block_pipeline.h"
#include "compressor/block_sort.h"
#include "compressor/frame_hints.h"
#include "compressor/rank_symbols.h"
#include "compressor/rank_transform.h"
#include "compressor/run_length_prepass.h"
#include "shell/conversion_job.h"
#include "shell/document/cue_point_document.h"
#include "checks/document_verifier.h"
#include "platform/file_system.h"
#include "shell/document/output_name.h"
#include "support/decoder_test_support.h"
#include "support/document_support.h"
#include "support/sample_input.h"
#include "support/test_support.h"
#include "text/base64_lines.h"

namespace dls2mml::test {
namespace {

namespace fs = std::filesystem;
constexpr std::size_t block = blockSizeForLevel1;

bool contains(const std::string& text, std::string_view part) { return text.find(part) != std::string::npos; }

std::vector<Bytes> framesOf(const Bytes& input)
{
    std::size_t at = 0;
    const SliceReader reader = [&](std::span<std::uint8_t> buffer, std::size_t& got) {
        got = std::min(buffer.size(), input.size() - at);
        std::copy_n(input.begin() + static_cast<std::ptrdiff_t>(at), got, buffer.begin());
        at += got;
        return true;
    };
    std::vector<Bytes> frames;
    const FrameSink sink = [&](std::span<const std::uint8_t> frame) {
        frames.emplace_back(frame.begin(), frame.end());
        return true;
    };
    EXPECT_EQ(compressSlices(reader, sink).fault, PipelineFault::none);
    return frames;
}

// Where the Base64 character that carries the top bits of stream byte p stands.
std::size_t textOffsetOfStreamByte(const std::string& document, std::size_t p)
{
    const std::size_t text = document.find('\n', documentHead.size()) + 1;
    const std::size_t c = p / 3 * 4;
    return text + c + c / 128;
}

StreamPrint printOf(std::uint64_t inputLength, const std::vector<Bytes>& frames)
{
    WrittenStream written;
    for (const Bytes& frame : frames)
        EXPECT_TRUE(written.add(frame));
    return written.finish(inputLength);
}

std::string readBack(const std::string& document, const StreamPrint& written, std::size_t piece)
{
    StreamReadBack check;
    for (std::size_t at = 0; at < document.size(); at += piece) {
        const std::string_view part = std::string_view(document).substr(at, piece);
        check.feed(std::span(reinterpret_cast<const std::uint8_t*>(part.data()), part.size()));
    }
    return check.finish(written);
}

// Block 3 of an input (its earlier blocks full), 20,000 bytes long, and what
// the check says of its frame after each fault a faulty stage could make.
TEST(FrameVerifier, EveryFaultInAFrameIsFoundAndPlaced)
{
    const Bytes slice = sampleInput(20000, 5);
    const Bytes frame = framesOf(slice).at(0);
    const std::string decodesOther = "the document decodes to other bytes than the input, first at byte ";
    const std::string doesNotDecode = "the document does not decode: block 4: ";
    const struct {
        const char* name;
        std::function<void(Bytes& frame, Bytes& input)> fault;
        std::vector<std::string> words; // one of them
    } cases[] = {
        {"intact", [](Bytes&, Bytes&) {}, {""}},
        {"payload byte", [](Bytes& f, Bytes&) { f[f.size() / 2] ^= 0x10; }, {decodesOther, doesNotDecode}},
        {"last flush byte", [](Bytes& f, Bytes&) { f.back() ^= 0x01; }, {decodesOther, doesNotDecode}},
        // The rows come out rotated: the first difference lies in block 4 (from byte 1,572,864).
        {"primary index", [](Bytes& f, Bytes&) { f[2] ^= 0x01; }, {decodesOther + "157", doesNotDecode}},
        {"payload length", [](Bytes& f, Bytes&) { f[5] ^= 0x01; }, {doesNotDecode + "payload length"}},
        {"frame cut short", [](Bytes& f, Bytes&) { f.pop_back(); }, {doesNotDecode + "payload length"}},
        {"frame header cut", [](Bytes& f, Bytes&) { f.resize(3); }, {doesNotDecode + "the frame has only 3"}},
        {"input differs at its byte 12345", [](Bytes&, Bytes& in) { in[12345] ^= 0x40; },
         {decodesOther + std::to_string(3 * block + 12345)}},
        {"input one byte longer", [](Bytes&, Bytes& in) { in.push_back('x'); }, {doesNotDecode + "block decodes to 20000 bytes"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes damaged = frame;
        Bytes input = slice;
        c.fault(damaged, input);
        // Memory lent by the coder, left as it was (here: stale bytes), or
        // too small to be used: the same verdict every way.
        std::vector<std::uint32_t> words(2 * input.size(), 0xA5A5A5A5u);
        Bytes bytes(2 * input.size() + 1, 0x5A);
        FrameHints lent;
        lent.spareWords = words;
        lent.spareBytes = bytes;
        FrameHints tooSmall;
        tooSmall.spareWords = std::span(words).first(input.size() / 2);
        tooSmall.spareBytes = std::span(bytes).first(input.size());
        for (const FrameHints* hints : std::initializer_list<const FrameHints*>{nullptr, &lent, &tooSmall}) {
            FrameVerifier check;
            const bool passed = hints ? check(3, input, damaged, *hints) : check(3, input, damaged);
            const std::string problem = check.problem();
            EXPECT_EQ(passed, problem.empty());
            bool matched = false;
            for (const std::string& expected : c.words)
                matched = matched || (expected.empty() ? problem.empty() : problem.rfind(expected, 0) == 0);
            EXPECT_TRUE(matched) << problem << (hints ? " (with lent memory)" : "");
        }
    }
}

// A slice coded as the coder codes it, with what the coder knows beside the
// frame: the rank symbols, and the rows of a few rotations where the pre-pass
// block is long enough for the check to use them.
struct CodedSlice {
    Bytes frame;
    Bytes symbols;
    SegmentRows rows{};
    bool rowsKnown = false;
};

CodedSlice codeSlice(const Bytes& slice)
{
    Bytes prepass(runLengthPrepassBound(slice.size()));
    prepass.resize(static_cast<std::size_t>(runLengthPrepass(prepass, slice)));
    const std::size_t m = prepass.size();
    Bytes work(prepass);
    work.push_back(0);
    Bytes column(m);
    SortArrays arrays(m);
    PivotGenerator generator; // the process-wide state stays where it is
    const SortResult sorted = sortBlock(work, static_cast<std::int32_t>(m), column, arrays, generator);
    EXPECT_TRUE(sorted.ok);
    Bytes ranks(m);
    rankTransform(ranks, column);
    CodedSlice coded;
    coded.symbols.resize(rankSymbolsBound(m));
    coded.symbols.resize(static_cast<std::size_t>(codeRankSymbols(coded.symbols, ranks)));
    coded.frame = frameOf(static_cast<std::uint32_t>(sorted.primaryIndex), payloadOfSymbols(coded.symbols));
    if (m >= segmentedWalkMinimum) {
        coded.rows = segmentRows(std::span<const std::int32_t>(arrays.suffixArray.get(), m), m);
        coded.rowsKnown = true;
    }
    return coded;
}

// A frame that decodes without fault, with the coder's own hints confirmed,
// to bytes other than its slice's: what a faulty stage before the coder would
// hand on. Only the comparison of the bytes can see it, whatever the block's
// length, whichever hints the check was given.
TEST(FrameVerifier, AFrameThatDecodesCleanlyToOtherBytesFails)
{
    enum class Hints { none, symbols, symbolsAndRows };
    const struct {
        const char* name;
        std::size_t length;
        std::size_t changedAt;
    } slices[] = {
        {"100 bytes", 100, 57},
        {"1,000 bytes", 1000, 999},
        {"4,000 bytes: the coder passes symbols but no rows", 4000, 0},
        {"20,000 bytes", 20000, 12345},
        {"a full block", block, block / 2 + 3},
    };
    for (const auto& s : slices) {
        const Bytes slice = sampleInput(s.length, 31);
        Bytes other = slice;
        other[s.changedAt] ^= 0x01;
        const CodedSlice coded = codeSlice(other);
        for (Hints kind : {Hints::none, Hints::symbols, Hints::symbolsAndRows}) {
            if (kind == Hints::symbolsAndRows && !coded.rowsKnown)
                continue;
            SCOPED_TRACE(std::string(s.name) + (kind == Hints::none ? ", no hints" : kind == Hints::symbols ? ", symbols" : ", symbols and rows"));
            FrameHints hints;
            hints.symbols = coded.symbols;
            hints.symbolsKnown = kind != Hints::none;
            hints.rows = coded.rows;
            hints.rowsKnown = kind == Hints::symbolsAndRows;
            FrameVerifier check;
            EXPECT_FALSE(check(5, slice, coded.frame, hints));
            EXPECT_EQ(check.problem(), "the document decodes to other bytes than the input, first at byte " +
                                           std::to_string(5 * block + s.changedAt));
            // The frame of the slice itself, with the same kind of hints, passes.
            const CodedSlice own = codeSlice(slice);
            FrameHints ownHints = hints;
            ownHints.symbols = own.symbols;
            ownHints.rows = own.rows;
            FrameVerifier fresh;
            EXPECT_TRUE(fresh(5, slice, own.frame, ownHints)) << fresh.problem();
        }
    }
}

// Blocks are checked on several threads in any order: the earliest fault is
// the one reported, as a one-threaded run would meet it first.
TEST(FrameVerifier, TheEarliestFailedBlockIsReported)
{
    const Bytes slice = sampleInput(5000, 9);
    const Bytes frame = framesOf(slice).at(0);
    Bytes other = slice;
    other[7] ^= 1;
    FrameVerifier check;
    EXPECT_TRUE(check(0, slice, frame));
    EXPECT_FALSE(check(6, other, frame));
    EXPECT_FALSE(check(2, other, frame));
    EXPECT_FALSE(check(4, other, frame));
    EXPECT_TRUE(check(1, slice, frame));
    EXPECT_EQ(check.problem(), "the document decodes to other bytes than the input, first at byte " + std::to_string(2 * block + 7));
}

// A document of three frames read back against the frames written, after
// each fault its text could take on the way to the file.
TEST(StreamReadBack, TheTextMustGiveTheStreamWritten)
{
    const Bytes input = sampleInput(2 * block + 3000, 11);
    const std::vector<Bytes> frames = framesOf(input);
    ASSERT_EQ(frames.size(), 3u);
    const std::string document = wholeDocument(input.size(), frames);
    const StreamPrint written = printOf(input.size(), frames);
    const std::size_t inSecondFrame = textOffsetOfStreamByte(document, streamHeaderSize + frames[0].size() + 40);
    auto flip = [](std::string& d, std::size_t at) { d[at] = d[at] == 'A' ? 'B' : 'A'; };
    const std::string doesNotDecode = "the document does not decode: ";
    const struct {
        const char* name;
        std::string document;
        std::string words; // a prefix of the problem; empty: none
    } cases[] = {
        {"intact", document, ""},
        {"a character in frame 2", [&] { std::string d = document; flip(d, inSecondFrame); return d; }(),
         "the document's text does not hold the stream written: block 2 differs"},
        {"a character of the header's length",
         [&] { std::string d = document; flip(d, textOffsetOfStreamByte(d, 9)); return d; }(), doesNotDecode},
        {"the last frame left out", wholeDocument(input.size(), {frames[0], frames[1]}),
         "the document's text does not hold the stream written: block 3 differs"},
        {"two frames swapped", wholeDocument(input.size(), {frames[1], frames[0], frames[2]}),
         "the document's text does not hold the stream written: block 1 differs"},
        {"another input length", wholeDocument(input.size() - 1, frames), "the document's stream header is not the one written"},
        {"a digit of the sizes line", [&] { std::string d = document; d[documentHead.size() + 1] ^= 1; return d; }(), doesNotDecode},
        {"damaged footer", [&] { std::string d = document; d[d.size() - 2] = ']'; return d; }(), doesNotDecode},
        {"a byte after the footer", document + "\n", doesNotDecode},
        {"cut short", document.substr(0, document.size() / 2), doesNotDecode},
        {"a line feed lost", [&] { std::string d = document; d.erase(d.find('\n', documentHead.size() + 10) + 129, 1); return d; }(),
         doesNotDecode},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (std::size_t piece : {std::size_t{1} << 20, std::size_t{1000}, std::size_t{7}}) {
            const std::string problem = readBack(c.document, written, piece);
            if (c.words.empty())
                EXPECT_EQ(problem, "") << "pieces of " << piece;
            else
                EXPECT_EQ(problem.rfind(c.words, 0), 0u) << "pieces of " << piece << ": " << problem;
        }
    }
}

class Folder {
public:
    Folder()
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = fs::temp_directory_path() / (std::string("dls2mml_verify_") + info->name() + "_" +
                                             std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(path_);
    }
    ~Folder() { fs::remove_all(path_); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    std::set<std::string> names() const
    {
        std::set<std::string> out;
        for (const auto& entry : fs::directory_iterator(path_))
            out.insert(entry.path().filename().string());
        return out;
    }

private:
    fs::path path_;
};

void writeBytes(const std::string& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

JobRequest requestFor(const std::string& bank, unsigned threads)
{
    JobRequest request;
    request.path = bank;
    request.lowerPath = lowerAscii(bank);
    request.threads = threads;
    request.verify = true;
    return request;
}

// Verified or not, the document is the same, on one thread or more.
TEST(VerifyWhileWriting, AnIntactRunWritesTheSameDocument)
{
    Folder folder;
    const std::string bank = folder.file("b.dls");
    const Bytes input = sampleInput(3 * block + 777, 13);
    writeBytes(bank, input);
    const std::string expected = wholeDocument(input.size(), framesOf(input));
    for (unsigned threads : {1u, 2u, 3u}) {
        SCOPED_TRACE(threads);
        const JobReport report = runConversionJob(requestFor(bank, threads));
        ASSERT_TRUE(report.ok()) << report.fault.words;
        EXPECT_EQ(readText(folder.file("b_dls.mml")), expected);
    }
}

// A frame that a faulty stage spoiled is caught before it is written: the run
// fails with the old words, and no document (nor temporary) is left, while
// an earlier document stays as it was.
TEST(VerifyWhileWriting, ADamagedFrameFailsTheRunAndLeavesNoDocument)
{
    Folder folder;
    const std::string bank = folder.file("b.dls");
    const std::string document = folder.file("b_dls.mml");
    writeBytes(bank, sampleInput(3 * block + 100, 17));
    const struct {
        const char* name;
        std::size_t damagedBlock;
        std::function<void(std::span<std::uint8_t>)> fault;
    } cases[] = {
        {"payload byte of block 2", 1, [](std::span<std::uint8_t> f) { f[f.size() / 3] ^= 0x20; }},
        {"primary index of block 3", 2, [](std::span<std::uint8_t> f) { f[2] ^= 0x01; }},
        {"payload length of block 4", 3, [](std::span<std::uint8_t> f) { f[4] ^= 0x01; }},
    };
    for (bool earlier : {false, true}) {
        for (const auto& c : cases) {
            for (unsigned threads : {1u, 2u}) {
                SCOPED_TRACE(std::string(c.name) + (earlier ? ", earlier document" : "") + ", threads " + std::to_string(threads));
                if (earlier)
                    writeBytes(document, text("earlier"));
                JobRequest request = requestFor(bank, threads);
                request.damageFrame = [&](std::size_t index, std::span<std::uint8_t> frame) {
                    if (index == c.damagedBlock)
                        c.fault(frame);
                };
                const JobReport report = runConversionJob(request);
                EXPECT_EQ(report.fault.kind, FaultKind::verifyFailed);
                const std::string place = "block " + std::to_string(c.damagedBlock + 1) + ": ";
                const bool placed = contains(report.fault.words, "verification failed: the document does not decode: " + place) ||
                                    contains(report.fault.words, "verification failed: the document decodes to other bytes than the input");
                EXPECT_TRUE(placed) << report.fault.words;
                if (earlier) {
                    EXPECT_EQ(readText(document), "earlier");
                    EXPECT_EQ(folder.names(), (std::set<std::string>{"b.dls", "b_dls.mml"}));
                    fs::remove(document);
                } else {
                    EXPECT_EQ(folder.names(), (std::set<std::string>{"b.dls"}));
                }
            }
        }
    }
}

// Bytes of which no two in a row are equal: the pre-pass leaves them, and
// leaves any rotation of them, as they are.
Bytes withoutRuns(std::size_t length, std::uint32_t seed)
{
    TestRng rng(seed);
    Bytes out(length);
    for (std::size_t i = 1; i < length; ++i)
        out[i] = static_cast<std::uint8_t>(out[i - 1] + 1 + rng.below(255));
    return out;
}

// A frame whose primary index names another row decodes without fault to a
// rotation of the slice: the check must compare the bytes, for the last
// block of an input shorter than the coder's rows need (symbols alone), for
// an input of one such block, and for a full block (symbols and rows), on
// one thread and on two.
TEST(VerifyWhileWriting, AFrameDecodingToOtherBytesFailsTheRun)
{
    const struct {
        const char* name;
        std::size_t length;
        std::size_t damagedBlock;
    } cases[] = {
        {"the last block, 1,000 bytes", 3 * block + 1000, 3},
        {"the last block, 4,000 bytes", 2 * block + 4000, 2},
        {"the only block, 3,000 bytes", 3000, 0},
        {"a full block", 2 * block + 1000, 1},
    };
    for (const auto& c : cases) {
        for (unsigned threads : {1u, 2u}) {
            SCOPED_TRACE(std::string(c.name) + ", threads " + std::to_string(threads));
            Folder folder;
            const std::string bank = folder.file("b.dls");
            writeBytes(bank, withoutRuns(c.length, 23));
            JobRequest request = requestFor(bank, threads);
            bool damaged = false;
            request.damageFrame = [&](std::size_t index, std::span<std::uint8_t> frame) {
                if (index != c.damagedBlock)
                    return;
                std::uint32_t row = std::uint32_t{frame[0]} << 16 | std::uint32_t{frame[1]} << 8 | frame[2];
                row = row == 0 ? 1 : row - 1; // another row, still within the block
                frame[0] = static_cast<std::uint8_t>(row >> 16);
                frame[1] = static_cast<std::uint8_t>(row >> 8);
                frame[2] = static_cast<std::uint8_t>(row);
                damaged = true;
            };
            const JobReport report = runConversionJob(request);
            EXPECT_TRUE(damaged);
            EXPECT_EQ(report.fault.kind, FaultKind::verifyFailed) << report.fault.words;
            const std::string words = "verification failed: the document decodes to other bytes than the input, first at byte ";
            const std::size_t at = report.fault.words.find(words);
            if (at == std::string::npos) {
                ADD_FAILURE() << "not the words of other bytes: " << report.fault.words;
                continue;
            }
            const std::uint64_t first = std::stoull(report.fault.words.substr(at + words.size()));
            EXPECT_GE(first, c.damagedBlock * block) << report.fault.words;
            EXPECT_LT(first, (c.damagedBlock + 1) * block) << report.fault.words;
            EXPECT_EQ(folder.names(), (std::set<std::string>{"b.dls"}));
        }
    }
}

// The document spoiled after it was written, in the file itself: the check
// reads the file, so the run fails and the temporary goes.
TEST(VerifyWhileWriting, ADocumentDamagedInTheFileFailsTheRun)
{
    Folder folder;
    const std::string bank = folder.file("b.dls");
    writeBytes(bank, sampleInput(2 * block + 5, 19)); // large enough to be streamed, not held
    const struct {
        const char* name;
        std::uint64_t at; // from the end when negative
        bool fromEnd;
        std::string words;
    } cases[] = {
        {"the banner", 3, false, "the document does not decode: line 1, column 4"},
        {"a character deep in the text", 300000, false, "the document's text does not hold the stream written"},
        {"the footer", 3, true, "the document does not decode"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        JobRequest request = requestFor(bank, 2);
        request.damageDocument = [&](OutputFile& file) {
            std::uint64_t at = c.at;
            if (c.fromEnd)
                at = fs::file_size(file.pendingPath()) - c.at;
            std::uint8_t byte = 0;
            ASSERT_TRUE(file.readAt(at, std::span(&byte, 1)));
            byte = byte == 'A' ? 'B' : byte == '=' ? 'x' : 'A';
            ASSERT_TRUE(file.writeAt(at, std::span(&byte, 1)));
        };
        const JobReport report = runConversionJob(request);
        EXPECT_EQ(report.fault.kind, FaultKind::verifyFailed);
        EXPECT_TRUE(contains(report.fault.words, "verification failed: " + c.words)) << report.fault.words;
        EXPECT_EQ(folder.names(), (std::set<std::string>{"b.dls"}));
    }
}

} // namespace
} // namespace dls2mml::test
