// The Base64 line reader against the encoder's worked examples and its faults,
// and the inverse of the output-name rule.
#include "support/decoder_test_support.h"
#include "text/base64_reader.h"

namespace dls2mml::test {
namespace {

TEST(DecoderText, ReadsTheEncodersWorkedExamples)
{
    Bytes ramp(96);
    for (std::size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = static_cast<std::uint8_t>(i);
    TestRng rng(8);
    const Bytes cases[] = {
        {},
        text("a"),
        text("ab"),
        text("abc"),
        text("abcd"),
        repeat(0xFF, 7),
        repeat(0x00, 95),  // 127 characters and one '=': no line feed
        ramp,              // a full line, its line feed, "==="
        repeat(0x00, 97),  // "AA=" on the second line
        rng.bytes(192),    // two full lines, "==" alone on a third
        repeat(0x00, 384), // "====" alone
        rng.bytes(1000),
    };
    for (const Bytes& bytes : cases) {
        const std::string text = base64Text(bytes);
        SCOPED_TRACE(text);
        Bytes out;
        const TextStatus status = decodeBase64Lines(text, out);
        ASSERT_TRUE(status.ok()) << status.describe();
        EXPECT_TRUE(out == bytes);
    }
    // The encoder's own texts, as written down for them.
    for (const char* text : {"====", "YQ==", "YWI=", "YWJj====", "YWJjZA==", "/////////w=="}) {
        Bytes out;
        EXPECT_TRUE(decodeBase64Lines(text, out).ok()) << text;
    }
}

TEST(DecoderText, Faults)
{
    const std::string fullLine(128, 'A');
    const struct {
        std::string text;
        FaultKind kind;
        std::uint64_t line;
        std::uint64_t column;
    } cases[] = {
        {"", FaultKind::truncated, 1, 1},
        {"YWJj", FaultKind::truncated, 1, 5},
        {"YWJj===", FaultKind::badText, 1, 8},
        {"YWJj=====", FaultKind::badText, 1, 9},
        {"YQ=", FaultKind::badText, 1, 4},
        {"Y===", FaultKind::badText, 1, 1},
        {"YR==", FaultKind::badText, 1, 2},
        {"YQ==x", FaultKind::trailingData, 1, 5},
        {"Y.==", FaultKind::badText, 1, 2},
        {"YQ\r\n==", FaultKind::badText, 1, 3},
        {fullLine + "A", FaultKind::badText, 1, 129},
        {fullLine + "==", FaultKind::badText, 1, 129},
        {"AAAA\nAAAA==", FaultKind::badText, 1, 5},
        {fullLine + "\n\n==", FaultKind::badText, 2, 1},
        {fullLine + "\n" + fullLine + "\nAA" + std::string(1, '\0') + "=", FaultKind::badText, 3, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 20));
        Bytes out;
        const TextStatus status = decodeBase64Lines(c.text, out);
        ASSERT_FALSE(status.ok());
        EXPECT_EQ(faultKindName(status.kind), std::string(faultKindName(c.kind))) << status.describe();
        EXPECT_EQ(status.at.line, c.line) << status.describe();
        EXPECT_EQ(status.at.column, c.column) << status.describe();
    }
}

struct TextRead {
    TextStatus status;
    Bytes bytes;
    std::size_t consumed = 0;
};

TextRead readInPieces(const std::string& text, std::size_t piece)
{
    Base64Reader reader;
    TextRead read;
    for (std::size_t at = 0; at < text.size() && read.status.ok() && !reader.ended(); at += piece) {
        std::size_t consumed = 0;
        read.status = reader.feed(std::string_view(text).substr(at, piece), read.bytes, consumed);
        read.consumed += consumed;
    }
    if (read.status.ok())
        read.status = reader.finish();
    return read;
}

// Whole lines are read at once where a piece holds them; any fault inside a
// line must come out as when every character is fed on its own.
TEST(DecoderText, WholeLinesReadAsCharacterByCharacter)
{
    TestRng rng(41);
    const std::string good = base64Text(rng.bytes(2000));
    std::vector<std::string> texts = {good};
    const char replacements[] = {'.', '=', '\n', '\r', ')', '\0', 'A'};
    for (int i = 0; i < 60; ++i) {
        std::string text = good;
        const std::size_t at = rng.below(static_cast<std::uint32_t>(text.size()));
        switch (i % 3) {
        case 0: text[at] = replacements[rng.below(sizeof replacements)]; break;
        case 1: text.erase(at, 1); break;
        default: text.insert(at, 1, replacements[rng.below(sizeof replacements)]); break;
        }
        texts.push_back(text);
    }
    for (const std::string& text : texts) {
        const TextRead single = readInPieces(text, 1);
        for (const std::size_t piece : {std::size_t{129}, std::size_t{1000}, text.size()}) {
            const TextRead read = readInPieces(text, piece);
            EXPECT_EQ(read.status.describe(), single.status.describe()) << "pieces of " << piece;
            EXPECT_TRUE(read.bytes == single.bytes) << "pieces of " << piece;
            EXPECT_EQ(read.consumed, single.consumed) << "pieces of " << piece;
        }
    }
}

// Lines are taken in batches; a fault in the first line, the last line or the
// line after a batch, at the first, a middle, the last column or where the
// line feed stands, comes out as when every character is fed on its own, and
// so do the bytes before it.
TEST(DecoderText, BatchesOfLinesReadAsCharacterByCharacter)
{
    TestRng rng(43);
    const std::string good = base64Text(rng.bytes(96 * 600 + 50));
    std::vector<std::string> texts = {good};
    for (const std::size_t line : {0u, 255u, 256u, 257u, 511u, 512u, 599u})
        for (const std::size_t column : {0u, 1u, 63u, 64u, 127u, 128u}) {
            const std::size_t at = line * 129 + column;
            std::string changed = good;
            changed[at] = column == 128 ? 'A' : '.';
            texts.push_back(changed);
            texts.push_back(std::string(good).erase(at, 1));
            texts.push_back(std::string(good).insert(at, 1, '\n'));
        }
    for (const std::string& text : texts) {
        const TextRead single = readInPieces(text, 1);
        for (const std::size_t piece : {std::size_t{129 * 256}, std::size_t{129 * 300 + 7}, text.size()}) {
            const TextRead read = readInPieces(text, piece);
            ASSERT_EQ(read.status.describe(), single.status.describe()) << "pieces of " << piece;
            ASSERT_TRUE(read.bytes == single.bytes) << "pieces of " << piece;
            ASSERT_EQ(read.consumed, single.consumed) << "pieces of " << piece;
        }
    }
}

TEST(DecoderText, BankNameIsTheInverseOfTheOutputName)
{
    const struct {
        const char* document;
        const char* bank; // nullptr: no name can be derived
    } cases[] = {
        {"C:\\Sound\\Piano_DLS.mml", "C:\\Sound\\Piano.DLS"},
        {"C:\\a_dls.mml", "C:\\a.dls"},
        {"a_dlsx.mml", "a.dlsx"},
        {"song_dls.bak.mml", "song.dls.bak"},
        {"C:\\x_dls\\y.dls.mml", "C:\\x.dls\\y.dls"},
        {"dir/bank_dls.MML", "dir/bank.dls"},
        {"bank.mml", nullptr},       // no "_dls"
        {"bank_dls.txt", nullptr},   // no ".mml"
        {"a.dls_b_dls.mml", nullptr}, // the rule would mark the earlier ".dls"
        {".mml", nullptr},
        {"", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.document);
        const std::optional<std::string> bank = deriveBankName(c.document);
        if (!c.bank) {
            EXPECT_FALSE(bank.has_value()) << *bank;
            continue;
        }
        ASSERT_TRUE(bank.has_value());
        EXPECT_EQ(*bank, c.bank);
    }
}

} // namespace
} // namespace dls2mml::test
