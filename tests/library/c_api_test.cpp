// The C interface: the exact documents, capacities never passed, the result
// codes for each kind of damage, and the streaming decoder's agreement with
// the whole-document one.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "compressor/pivot_generator.h"
#include "bank/dls_bank.h"
#include "dls2mml/dls2mml.h"
#include "shell/conversion_job.h"
#include "shell/document/cue_point_document.h"
#include "shell/document/output_name.h"
#include "support/test_support.h"
#include "support/sample_bank.h"

namespace dls2mml {
namespace {

using test::Bytes;

const std::string abcDocument =
    "//========== .DLS_DATA ==========\nCuePoint={\"QelDlsData((3 26)\ndGJyMAEAAAADAAAAAAAAAAAI2yQ2C579eAA=)\"}\n";

std::string encodeOrFail(const Bytes& bank)
{
    std::string document(dls2mml_document_bound(bank.size()), '\0');
    std::size_t size = 0;
    EXPECT_EQ(dls2mml_encode(bank.data(), bank.size(), document.data(), document.size(), &size), DLS2MML_OK);
    document.resize(size);
    return document;
}

int collect(void* context, const void* bytes, size_t size)
{
    auto* out = static_cast<Bytes*>(context);
    out->insert(out->end(), static_cast<const std::uint8_t*>(bytes), static_cast<const std::uint8_t*>(bytes) + size);
    return 0;
}

TEST(CApi, EncodesAbcToTheKnownDocumentAndBack)
{
    EXPECT_EQ(encodeOrFail(test::text("abc")), abcDocument);
    char bank[3] = {};
    std::size_t size = 0;
    ASSERT_EQ(dls2mml_decode(abcDocument.data(), abcDocument.size(), bank, sizeof bank, &size), DLS2MML_OK);
    EXPECT_EQ(std::string(bank, size), "abc");
}

TEST(CApi, RoundTripsAndStaysWithinTheBound)
{
    test::TestRng rng(7);
    const std::vector<Bytes> banks = {
        {},
        test::text("a"),
        test::repeat("aaab", 6),
        rng.bytes(1000, 4),
        rng.bytes(524288 + 17), // incompressible, a second block
    };
    for (const Bytes& bank : banks) {
        const std::string document = encodeOrFail(bank);
        EXPECT_LE(document.size(), dls2mml_document_bound(bank.size()));
        Bytes back(bank.size());
        std::size_t size = 1;
        ASSERT_EQ(dls2mml_decode(document.data(), document.size(), back.data(), back.size(), &size), DLS2MML_OK)
            << bank.size();
        EXPECT_EQ(size, bank.size());
        EXPECT_EQ(back, bank);
    }
    if constexpr (sizeof(std::size_t) > 4) {
        EXPECT_EQ(dls2mml_document_bound(std::size_t{1} << 32), 0u);
    }
    EXPECT_LE(dls2mml_document_bound(0xFFFFFFFFu), 0x7FFFFFFFu);
}

// The library's documents are those of one conversion run given the same banks
// in the same order, blocks whose primary index depends on the pivot draws
// included.
TEST(CApi, DrawsFromThePivotStateAsAConversionRunDoes)
{
    const std::vector<Bytes> banks = {test::repeat("aaab", 6), test::repeat("aaaab", 4), test::repeat("ab", 4000)};
    const std::uint32_t start = pivotGenerator.state();
    std::vector<std::string> encoded;
    for (const Bytes& bank : banks)
        encoded.push_back(encodeOrFail(bank));
    const std::uint32_t after = pivotGenerator.state();
    ASSERT_NE(after, start);

    // Unique per process: other builds of the suite may run at the same time.
    const auto folder = std::filesystem::temp_directory_path() /
                        ("dls2mml_c_api_" + std::to_string(reinterpret_cast<std::uintptr_t>(&start)) + "_" +
                         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(folder);
    pivotGenerator.setState(start);
    for (std::size_t i = 0; i < banks.size(); ++i) {
        const std::string bankPath = (folder / std::string(1, 'b').append(std::to_string(i)).append(".dls")).string();
        std::ofstream(bankPath, std::ios::binary).write(reinterpret_cast<const char*>(banks[i].data()),
                                                         static_cast<std::streamsize>(banks[i].size()));
        JobRequest request;
        request.path = bankPath;
        request.lowerPath = lowerAscii(bankPath);
        const JobReport report = runConversionJob(request);
        ASSERT_TRUE(report.ok()) << report.fault.words;
        std::ifstream in(report.outputPath, std::ios::binary);
        const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(written, encoded[i]) << "bank " << i;
    }
    EXPECT_EQ(pivotGenerator.state(), after);
    std::filesystem::remove_all(folder);
}

TEST(CApi, NeverWritesPastTheCapacity)
{
    const Bytes bank = test::text("abc");
    std::string buffer(abcDocument.size() + 8, '#');
    std::size_t size = 0;
    EXPECT_EQ(dls2mml_encode(bank.data(), bank.size(), buffer.data(), abcDocument.size() - 1, &size), DLS2MML_E_CAPACITY);
    EXPECT_EQ(size, abcDocument.size());
    EXPECT_EQ(buffer.substr(abcDocument.size() - 1), std::string(9, '#'));
    size = 0;
    EXPECT_EQ(dls2mml_encode(bank.data(), bank.size(), nullptr, 0, &size), DLS2MML_E_CAPACITY);
    EXPECT_EQ(size, abcDocument.size());

    char out[4] = {'#', '#', '#', '#'};
    size = 0;
    EXPECT_EQ(dls2mml_decode(abcDocument.data(), abcDocument.size(), out, 2, &size), DLS2MML_E_CAPACITY);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(std::string(out + 2, 2), "##");
    EXPECT_EQ(dls2mml_decode(abcDocument.data(), abcDocument.size(), nullptr, 0, &size), DLS2MML_E_CAPACITY);
}

TEST(CApi, RefusesMissingPointers)
{
    char buffer[8];
    std::size_t size = 0;
    EXPECT_EQ(dls2mml_encode(nullptr, 3, buffer, sizeof buffer, &size), DLS2MML_E_ARGUMENT);
    EXPECT_EQ(dls2mml_encode("abc", 3, nullptr, 100, &size), DLS2MML_E_ARGUMENT);
    EXPECT_EQ(dls2mml_decode(nullptr, 10, buffer, sizeof buffer, &size), DLS2MML_E_ARGUMENT);
    EXPECT_EQ(dls2mml_decode(abcDocument.data(), abcDocument.size(), nullptr, 3, &size), DLS2MML_E_ARGUMENT);
    EXPECT_EQ(dls2mml_document_sizes(nullptr, 1, nullptr, nullptr), DLS2MML_E_ARGUMENT);
    EXPECT_EQ(dls2mml_decoder_create(collect, nullptr, nullptr), DLS2MML_E_ARGUMENT);
    dls2mml_decoder* decoder = reinterpret_cast<dls2mml_decoder*>(&size);
    EXPECT_EQ(dls2mml_decoder_create(nullptr, nullptr, &decoder), DLS2MML_E_ARGUMENT);
    EXPECT_EQ(decoder, nullptr);
    EXPECT_EQ(dls2mml_decoder_feed(nullptr, "x", 1), DLS2MML_E_ARGUMENT);
    EXPECT_EQ(dls2mml_decoder_finish(nullptr), DLS2MML_E_ARGUMENT);
    dls2mml_decoder_free(nullptr);
}

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return text.replace(at, from.size(), to);
}

struct DamageCase {
    const char* name;
    std::string document;
    int code;
    std::uint64_t line; // where the fault stands
    std::uint64_t column;
    bool beforeText = false; // found by reading the head and sizes line alone
};

std::vector<DamageCase> damageCases()
{
    return {
        {"empty", "", DLS2MML_E_TRUNCATED, 1, 1, true},
        {"banner", replaced(abcDocument, "DLS_DATA", "DLS_DATX"), DLS2MML_E_DOCUMENT, 1, 22, true},
        {"leading zero", replaced(abcDocument, "(3 26)", "(03 26)"), DLS2MML_E_DOCUMENT, 2, 25, true},
        {"ends in sizes line", abcDocument.substr(0, 60), DLS2MML_E_TRUNCATED, 2, 27, true},
        {"sizes disagree with the stream", replaced(abcDocument, "(3 26)", "(4 26)"), DLS2MML_E_STREAM, 2, 24},
        {"stream byte", replaced(abcDocument, "C579", "C57A"), DLS2MML_E_STREAM, 3, 34},
        {"not Base64", replaced(abcDocument, "dGJy", "dG*y"), DLS2MML_E_DOCUMENT, 3, 3},
        {"not Base64: a letter of UTF-8", replaced(abcDocument, "dGJy", "dG\xC3\xA9y"), DLS2MML_E_DOCUMENT, 3, 3},
        {"no footer", abcDocument.substr(0, abcDocument.size() - 4), DLS2MML_E_TRUNCATED, 3, 37},
        {"after the footer", abcDocument + "x", DLS2MML_E_DOCUMENT, 4, 1},
    };
}

bool isAscii(const char* text)
{
    for (; *text != '\0'; ++text) {
        if (static_cast<unsigned char>(*text) >= 0x80)
            return false;
    }
    return true;
}

TEST(CApi, DamagedDocumentsGiveTheirCodeAndPlace)
{
    for (const DamageCase& c : damageCases()) {
        SCOPED_TRACE(c.name);
        char bank[16];
        std::size_t size = 0;
        EXPECT_EQ(dls2mml_decode(c.document.data(), c.document.size(), bank, sizeof bank, &size), c.code);

        dls2mml_decoder* decoder = nullptr;
        Bytes out;
        ASSERT_EQ(dls2mml_decoder_create(collect, &out, &decoder), DLS2MML_OK);
        int code = DLS2MML_OK;
        for (std::size_t i = 0; i < c.document.size() && code == DLS2MML_OK; ++i)
            code = dls2mml_decoder_feed(decoder, c.document.data() + i, 1);
        if (code == DLS2MML_OK)
            code = dls2mml_decoder_finish(decoder);
        EXPECT_EQ(code, c.code);
        std::uint64_t line = 0;
        std::uint64_t column = 0;
        EXPECT_EQ(dls2mml_decoder_fault(decoder, &line, &column), c.code);
        EXPECT_EQ(line, c.line);
        EXPECT_EQ(column, c.column);
        EXPECT_STRNE(dls2mml_decoder_message(decoder), "");
        // The header promises ASCII, which reads the same as UTF-8 and in
        // every ANSI code page: no byte of the document is echoed raw.
        EXPECT_TRUE(isAscii(dls2mml_decoder_message(decoder))) << dls2mml_decoder_message(decoder);
        // A fault stays.
        EXPECT_EQ(dls2mml_decoder_feed(decoder, "x", 1), c.code);
        EXPECT_EQ(dls2mml_decoder_finish(decoder), c.code);
        dls2mml_decoder_free(decoder);
    }
}

TEST(CApi, SizesComeFromTheSizesLineOnly)
{
    std::uint32_t bank = 0;
    std::uint32_t stream = 0;
    EXPECT_EQ(dls2mml_document_sizes(abcDocument.data(), abcDocument.size(), &bank, &stream), DLS2MML_OK);
    EXPECT_EQ(bank, 3u);
    EXPECT_EQ(stream, 26u);
    const std::string headOnly = abcDocument.substr(0, abcDocument.find('\n', 40) + 1) + "not even Base64";
    EXPECT_EQ(dls2mml_document_sizes(headOnly.data(), headOnly.size(), &bank, nullptr), DLS2MML_OK);
    for (const DamageCase& c : damageCases()) {
        const int code = dls2mml_document_sizes(c.document.data(), c.document.size(), nullptr, nullptr);
        EXPECT_EQ(code, c.beforeText ? c.code : DLS2MML_OK) << c.name;
    }
}

TEST(CApi, StreamingDecoderStatesItsProgress)
{
    dls2mml_decoder* decoder = nullptr;
    Bytes out;
    ASSERT_EQ(dls2mml_decoder_create(collect, &out, &decoder), DLS2MML_OK);
    std::uint32_t bank = 0;
    EXPECT_EQ(dls2mml_decoder_sizes(decoder, &bank, nullptr), DLS2MML_E_TRUNCATED);
    ASSERT_EQ(dls2mml_decoder_feed(decoder, abcDocument.data(), 70), DLS2MML_OK);
    EXPECT_EQ(dls2mml_decoder_sizes(decoder, &bank, nullptr), DLS2MML_OK);
    EXPECT_EQ(bank, 3u);
    ASSERT_EQ(dls2mml_decoder_feed(decoder, nullptr, 0), DLS2MML_OK);
    ASSERT_EQ(dls2mml_decoder_feed(decoder, abcDocument.data() + 70, abcDocument.size() - 70), DLS2MML_OK);
    ASSERT_EQ(dls2mml_decoder_finish(decoder), DLS2MML_OK);
    EXPECT_EQ(out, test::text("abc"));
    EXPECT_EQ(dls2mml_decoder_fault(decoder, nullptr, nullptr), DLS2MML_OK);
    EXPECT_STREQ(dls2mml_decoder_message(decoder), "");
    EXPECT_EQ(dls2mml_decoder_feed(decoder, "x", 1), DLS2MML_E_ARGUMENT);
    EXPECT_EQ(dls2mml_decoder_finish(decoder), DLS2MML_E_ARGUMENT);
    dls2mml_decoder_free(decoder);

    // The callback stops the decoder.
    ASSERT_EQ(dls2mml_decoder_create([](void*, const void*, size_t) { return 1; }, nullptr, &decoder), DLS2MML_OK);
    EXPECT_EQ(dls2mml_decoder_feed(decoder, abcDocument.data(), abcDocument.size()), DLS2MML_E_STOPPED);
    EXPECT_EQ(dls2mml_decoder_fault(decoder, nullptr, nullptr), DLS2MML_E_STOPPED);
    dls2mml_decoder_free(decoder);
}

#ifdef DLS2MML_MAKE_SAMPLE_BANK
TEST(CApi, SelectsInstrumentsIntoACallersBuffer)
{
    const Bytes bank = test::generatedBank("--size 100k --shared --level2");
    Bytes cut(bank.size(), 0xEE);
    std::size_t size = 0;
    ASSERT_EQ(dls2mml_select_instruments(bank.data(), bank.size(), "p81", cut.data(), cut.size(), &size), DLS2MML_OK);
    ASSERT_LT(size, bank.size());
    cut.resize(size);
    DlsCollection collection;
    const DlsFault fault = checkDlsBank(cut, &collection);
    ASSERT_TRUE(fault.ok()) << fault.describe();
    ASSERT_EQ(collection.instrumentCount, 1u);
    EXPECT_EQ(collection.instruments[0].name, "Shared Pad");
    EXPECT_EQ(collection.waveCount, 2u);
    // One byte short: the length needed, nothing written.
    Bytes small(size - 1, 0xEE);
    std::size_t needed = 0;
    EXPECT_EQ(dls2mml_select_instruments(bank.data(), bank.size(), "p81", small.data(), small.size(), &needed),
              DLS2MML_E_CAPACITY);
    EXPECT_EQ(needed, size);
    EXPECT_EQ(small, Bytes(size - 1, 0xEE));

    // Every instrument: the bank as it was.
    Bytes all(bank.size());
    ASSERT_EQ(dls2mml_select_instruments(bank.data(), bank.size(), "3,1-2", all.data(), all.size(), &size), DLS2MML_OK);
    EXPECT_EQ(size, bank.size());
    EXPECT_EQ(all, bank);
}

TEST(CApi, SelectionRefusalsHaveTheirCodes)
{
    const Bytes bank = test::generatedBank("");
    Bytes out(bank.size());
    const struct {
        const void* bank;
        std::size_t size;
        const char* list;
        int code;
    } cases[] = {
        {bank.data(), bank.size(), "", DLS2MML_E_SELECTION},
        {bank.data(), bank.size(), "1,,2", DLS2MML_E_SELECTION},
        {bank.data(), bank.size(), "3", DLS2MML_E_SELECTION},
        {bank.data(), bank.size(), "2-1", DLS2MML_E_SELECTION},
        {bank.data(), bank.size(), "p81", DLS2MML_E_SELECTION},
        {bank.data(), bank.size() - 2, "1", DLS2MML_E_BANK},
        {"abc", 3, "1", DLS2MML_E_BANK},
        {bank.data(), bank.size(), nullptr, DLS2MML_E_ARGUMENT},
        {nullptr, 10, "1", DLS2MML_E_ARGUMENT},
    };
    for (const auto& c : cases) {
        std::size_t size = 12345;
        EXPECT_EQ(dls2mml_select_instruments(c.bank, c.size, c.list, out.data(), out.size(), &size), c.code)
            << (c.list ? c.list : "(null)");
        EXPECT_EQ(size, 12345u);
    }
    EXPECT_EQ(dls2mml_select_instruments(bank.data(), bank.size(), "1", nullptr, 10, nullptr), DLS2MML_E_ARGUMENT);
}
#endif

TEST(CApi, EveryCodeHasItsOwnWords)
{
    std::vector<std::string> seen;
    for (int code = DLS2MML_OK; code >= DLS2MML_E_BANK; --code) {
        const std::string words = dls2mml_strerror(code);
        EXPECT_FALSE(words.empty());
        EXPECT_TRUE(isAscii(words.c_str())) << words;
        EXPECT_EQ(std::find(seen.begin(), seen.end(), words), seen.end()) << words;
        seen.push_back(words);
    }
    EXPECT_STREQ(dls2mml_strerror(-1000), "unknown result code");
    EXPECT_STREQ(dls2mml_strerror(5), "unknown result code");
    EXPECT_NE(std::string(dls2mml_version()).find('.'), std::string::npos);
}

} // namespace
} // namespace dls2mml
