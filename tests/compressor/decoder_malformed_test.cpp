// Malformed streams and documents: one case per class of fault, each checking
// that the message names the fault and the place where it stands.
#include "compressor/block_sort.h"
#include "compressor/range_coder.h"
#include "compressor/rank_symbols.h"
#include "compressor/rank_transform.h"
#include "compressor/run_length_prepass.h"
#include "support/decoder_test_support.h"

namespace dls2mml::test {
namespace {

Bytes patched(Bytes bytes, std::size_t at, std::initializer_list<std::uint8_t> values)
{
    for (std::uint8_t v : values)
        bytes[at++] = v;
    return bytes;
}

Bytes without(Bytes bytes, std::size_t count)
{
    bytes.resize(bytes.size() - count);
    return bytes;
}

struct StreamCase {
    const char* name;
    Bytes stream;
    FaultKind kind;
    std::uint64_t offset;
};

void expectStreamFault(const StreamCase& c)
{
    SCOPED_TRACE(c.name);
    Bytes out;
    const DecodeStatus whole = decompressStream(c.stream, out);
    ASSERT_FALSE(whole.ok()) << "accepted";
    EXPECT_EQ(faultKindName(whole.kind), std::string(faultKindName(c.kind))) << whole.message;
    EXPECT_EQ(whole.offset, c.offset) << whole.message;
    // Fed a byte at a time, the same fault is found at the same place.
    BlockDecompressor decoder(nullptr);
    DecodeStatus status;
    for (std::size_t i = 0; i < c.stream.size() && status.ok(); ++i)
        status = decoder.feed(std::span(c.stream).subspan(i, 1));
    if (status.ok())
        status = decoder.finish();
    EXPECT_EQ(status.kind, whole.kind);
    EXPECT_EQ(status.message, whole.message);
    EXPECT_EQ(status.offset, whole.offset);
}

TEST(DecoderMalformed, Streams)
{
    const Bytes abc = compressBytes(text("abc")); // header, frame at 12, payload at 18 (8 bytes)
    ASSERT_EQ(abc.size(), 26u);
    const Bytes abcFrame(abc.begin() + 12, abc.end());
    const Bytes big = compressBytes(repeat(0x00, 524288 + 1)); // two frames
    const std::uint64_t firstFrameEnd = 12 + 6 + ((big[15] << 16) | (big[16] << 8) | big[17]);
    const StreamCase cases[] = {
        {"empty", {}, FaultKind::truncated, 0},
        {"wrong magic", patched(abc, 3, {'1'}), FaultKind::badMagic, 3},
        {"wrong magic, first byte", patched(abc, 0, {'T'}), FaultKind::badMagic, 0},
        {"wrong level", patched(abc, 4, {2}), FaultKind::badHeader, 4},
        {"reserved byte", patched(abc, 6, {1}), FaultKind::badHeader, 6},
        {"truncated header", Bytes(abc.begin(), abc.begin() + 9), FaultKind::truncated, 9},
        {"truncated frame header", Bytes(abc.begin(), abc.begin() + 15), FaultKind::truncated, 12},
        {"payload past the stream", without(abc, 3), FaultKind::truncated, 15},
        {"payload length too large", patched(abc, 15, {0xFF, 0xFF, 0xFF}), FaultKind::limitExceeded, 15},
        {"payload length below the flush", patched(abc, 15, {0, 0, 3}), FaultKind::corrupt, 15},
        {"primary index not below the block length", patched(abc, 12, {0, 0, 3}),
         FaultKind::corrupt, 12},
        {"primary index beyond any block", patched(abc, 12, {0x0A, 0, 0}), FaultKind::limitExceeded, 12},
        {"symbols after the end symbol",
         streamOf(3, {frameOf(0, concat({Bytes(abc.begin() + 18, abc.end()), hex("00")}))}),
         FaultKind::corrupt, 26},
        {"end symbol missing", streamOf(3, {frameOf(0, Bytes(abc.begin() + 18, abc.end() - 1))}),
         FaultKind::corrupt, 24},
        {"header length too small", patched(abc, 8, {2}), FaultKind::lengthMismatch, 12},
        {"header length too large", patched(abc, 8, {4}), FaultKind::lengthMismatch, 12},
        {"a block before the last too short", patched(abc, 10, {0x10}), FaultKind::lengthMismatch, 12},
        {"trailing bytes", concat({abc, hex("00")}), FaultKind::trailingData, 26},
        {"trailing frame", concat({abc, abcFrame}), FaultKind::trailingData, 26},
        {"empty input with a frame", concat({streamOf(0, {}), abcFrame}), FaultKind::trailingData, 12},
        {"second frame missing", Bytes(big.begin(), big.begin() + static_cast<std::ptrdiff_t>(firstFrameEnd)),
         FaultKind::truncated, firstFrameEnd},
        // Pre-pass data the pre-pass never writes, coded correctly by the later stages.
        {"run count where none may stand", streamOf(10, {frameOfPrepass(hex("61 61 61 61 05 61"))}),
         FaultKind::corrupt, 18},
        {"pre-pass run count missing", streamOf(4, {frameOfPrepass(hex("62 61 61 61 61"))}), FaultKind::corrupt, 18},
        {"block decodes to more than 524,288 bytes",
         streamOf(0xFFFFFFFF, {frameOfPrepass(repeat(std::string_view("aaaa\xFF\xFF" "bbbb\xFF\xFF"), 8))}),
         FaultKind::limitExceeded, 18},
        // Rank symbols the coding never writes, range-coded correctly.
        {"escape followed by 2", streamOf(1, {frameOf(0, payloadOfSymbols(hex("FF 02")))}),
         FaultKind::corrupt, 22},
        {"rank run count where none may stand", streamOf(9, {frameOf(0, payloadOfSymbols(hex("03 02 02 02 05 02")))}),
         FaultKind::corrupt, 23},
        {"pre-pass length above 655,360",
         streamOf(524288, {frameOf(0, payloadOfSymbols(concat({hex("00 01"), repeat(0x00, 15), hex("01 00")})))}),
         FaultKind::limitExceeded, 21},
        {"no data in a block", streamOf(1, {frameOf(0, payloadOfSymbols({}))}), FaultKind::corrupt, 18},
        {"column of no block", streamOf(2, {frameOf(0, payloadOfSymbols(hex("62 63")))}),
         FaultKind::corrupt, 12},
    };
    for (const StreamCase& c : cases)
        expectStreamFault(c);
}

struct DocumentCase {
    const char* name;
    std::string document;
    FaultKind kind;
    std::uint64_t line;
    std::uint64_t column;
};

std::string replaced(std::string text, std::string_view what, std::string_view with)
{
    const std::size_t at = text.find(what);
    EXPECT_NE(at, std::string::npos) << what;
    return text.replace(at, what.size(), with);
}

TEST(DecoderMalformed, Documents)
{
    const std::string abc = documentFor(3, compressBytes(text("abc")));
    ASSERT_EQ(abc, "//========== .DLS_DATA ==========\nCuePoint={\"QelDlsData((3 26)\n"
                   "dGJyMAEAAAADAAAAAAAAAAAI2yQ2C579eAA=)\"}\n");
    TestRng rng(1);
    const Bytes bank = rng.bytes(400); // a stream of several lines
    const std::string lines = documentFor(bank.size(), compressBytes(bank));
    const std::size_t firstFeed = lines.find('\n', lines.find('\n', lines.find('\n') + 1) + 1);
    std::string longLine = lines;
    longLine.erase(firstFeed, 1);
    std::string shortLine = lines;
    shortLine.erase(firstFeed - 1, 1);
    const std::string empty = documentFor(0, compressBytes({}));

    const DocumentCase cases[] = {
        {"empty", "", FaultKind::truncated, 1, 1},
        {"missing head", abc.substr(34), FaultKind::badMagic, 1, 1},
        {"damaged head", replaced(abc, "DLS_DATA", "DLS-DATA"), FaultKind::badMagic, 1, 18},
        {"damaged directive", replaced(abc, "QelDls", "QelDLS"), FaultKind::badMagic, 2, 16},
        {"head only", std::string(documentHead), FaultKind::truncated, 2, 23},
        {"sizes line, wrong input length", replaced(abc, "(3 26)", "(4 26)"),
         FaultKind::lengthMismatch, 2, 24},
        {"sizes line, wrong stream length", replaced(abc, "(3 26)", "(3 27)"),
         FaultKind::lengthMismatch, 3, 37},
        {"sizes line, short stream length", replaced(abc, "(3 26)", "(3 25)"),
         FaultKind::lengthMismatch, 3, 34},
        {"sizes line, leading zero", replaced(abc, "(3 26)", "(03 26)"), FaultKind::badText, 2, 25},
        {"sizes line, sign", replaced(abc, "(3 26)", "(+3 26)"), FaultKind::badText, 2, 24},
        {"sizes line, too large", replaced(abc, "(3 26)", "(3 4294967296)"), FaultKind::limitExceeded, 2, 26},
        {"sizes line, below the header", replaced(empty, "(0 12)", "(0 11)"), FaultKind::corrupt, 2, 26},
        {"sizes line, carriage return", replaced(abc, "26)\n", "26)\r\n"), FaultKind::badText, 2, 29},
        {"line longer than 128", longLine, FaultKind::badText, 3, 129},
        {"line shorter than 128", shortLine, FaultKind::badText, 3, 128},
        {"character outside the alphabet", replaced(abc, "dGJy", "dG*y"), FaultKind::badText, 3, 3},
        {"carriage return in the text", replaced(lines, "\n", "\r\n").substr(0, 0) + replaced(abc, "dGJy", "dG\r"),
         FaultKind::badText, 3, 3},
        {"too few '='", replaced(abc, "eAA=)", "eAA)"), FaultKind::badText, 3, 36},
        {"too many '='", replaced(abc, "eAA=)", "eAA==)"), FaultKind::badText, 3, 37},
        {"no '=' at all", replaced(abc, "=)\"}\n", ""), FaultKind::truncated, 3, 36},
        {"unused bits set", replaced(abc, "eAA=", "eAB="), FaultKind::badText, 3, 35},
        {"missing footer", abc.substr(0, abc.size() - 4), FaultKind::truncated, 3, 37},
        {"damaged footer", replaced(abc, ")\"}\n", ")'}\n"), FaultKind::badText, 3, 38},
        {"footer without its line feed", abc.substr(0, abc.size() - 1), FaultKind::truncated, 3, 40},
        {"bytes after the footer", abc + "x", FaultKind::trailingData, 4, 1},
        {"stream fault inside the text", documentFor(3, patched(compressBytes(text("abc")), 4, {2})),
         FaultKind::badHeader, 3, 6},
    };
    for (const DocumentCase& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes out;
        const TextStatus status = decodeDocument(c.document, out);
        ASSERT_FALSE(status.ok()) << "accepted";
        EXPECT_EQ(faultKindName(status.kind), std::string(faultKindName(c.kind))) << status.describe();
        EXPECT_EQ(status.at.line, c.line) << status.describe();
        EXPECT_EQ(status.at.column, c.column) << status.describe();
        // Fed a byte at a time, the same fault.
        DocumentReader reader(nullptr);
        TextStatus fed;
        for (std::size_t i = 0; i < c.document.size() && fed.ok(); ++i)
            fed = reader.feed(std::string_view(c.document).substr(i, 1));
        if (fed.ok())
            fed = reader.finish();
        EXPECT_EQ(fed.kind, status.kind);
        EXPECT_EQ(fed.describe(), status.describe());
    }
}

TEST(DecoderMalformed, RandomDamageGivesAnErrorOrData)
{
    // Every damaged document yields an error or (rarely) data; none crashes,
    // and a damaged one never yields the original bank silently changed in length.
    TestRng rng(4242);
    const Bytes bank = concat({rng.bytes(3000, 8), repeat("abcd", 300), repeat(0x00, 5000)});
    const std::string document = documentFor(bank.size(), compressBytes(bank));
    std::size_t refused = 0;
    for (int i = 0; i < 1500; ++i) {
        std::string damaged = document;
        const int edits = 1 + static_cast<int>(rng.below(3));
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = rng.below(static_cast<std::uint32_t>(damaged.size()));
            switch (rng.below(3)) {
            case 0: damaged[at] = static_cast<char>(rng.below(256)); break;
            case 1: damaged.erase(at, 1 + rng.below(3)); break;
            default: damaged.insert(at, 1, "A/=\n"[rng.below(4)]); break;
            }
        }
        Bytes out;
        const TextStatus status = decodeDocument(damaged, out);
        if (!status.ok())
            ++refused;
        else
            EXPECT_EQ(out.size(), bank.size());
    }
    EXPECT_GT(refused, 1400u);
}

} // namespace
} // namespace dls2mml::test
