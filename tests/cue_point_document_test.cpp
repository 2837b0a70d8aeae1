// The cue-point document and the conversion job: exact documents, the
// output-name rule, and failures that leave earlier documents alone.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "compressor/block_compressor.h"
#include "shell/conversion_job.h"
#include "shell/cue_point_document.h"
#include "test_support.h"
#include "text/base64_lines.h"

namespace dls2mml::test {
namespace {

namespace fs = std::filesystem;

class TempFolder {
public:
    TempFolder()
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = fs::temp_directory_path() / (std::string("dls2mml_test_") + info->name());
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempFolder() { fs::remove_all(path_); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    fs::path path_;
};

void writeFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string readFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

JobReport convert(const std::string& path, const std::string& outputPath = {})
{
    JobRequest request;
    request.path = path;
    request.lowerPath = lowerAscii(path);
    request.outputPath = outputPath;
    return RunConversionJob(request);
}

// The document the format defines, built from the one-shot stages (or, for
// large inputs, from the block form, so the stream needs no worst-case buffer).
std::string expectedDocument(const Bytes& input)
{
    Bytes stream;
    if (input.size() < (4u << 20)) {
        stream.resize(compressBound(input.size()));
        std::uint32_t length = 0;
        BlockCompressor compressor;
        static const std::uint8_t none = 0; // an empty vector's data() may be null, which compress refuses
        EXPECT_TRUE(compressor.compress(input.empty() ? &none : input.data(), stream.data(),
                                        static_cast<std::uint32_t>(input.size()), &length));
        stream.resize(length + streamHeaderSize);
    } else {
        BlockCompressor compressor;
        EXPECT_TRUE(compressor.allocateBuffers());
        stream.resize(streamHeaderSize);
        writeStreamHeader(std::span<std::uint8_t, streamHeaderSize>(stream.data(), streamHeaderSize),
                          static_cast<std::uint32_t>(input.size()));
        Bytes frame(frameBound(blockSizeForLevel1));
        for (std::size_t at = 0; at < input.size(); at += blockSizeForLevel1) {
            const std::size_t n = std::min(blockSizeForLevel1, input.size() - at);
            const std::int64_t got = compressor.compressBlock(std::span(input).subspan(at, n), frame);
            EXPECT_GT(got, 0);
            stream.insert(stream.end(), frame.begin(), frame.begin() + got);
        }
        compressor.release();
    }
    const auto total = static_cast<std::uint32_t>(stream.size());
    std::string text(base64LinesLength(total) + 1, '\0');
    text.resize(static_cast<std::size_t>(encodeBase64Lines(stream.data(), total, text.data())));
    return std::string(documentHead) + "(" + std::to_string(input.size()) + " " + std::to_string(total) + ")\n" + text +
           std::string(documentFooter);
}

TEST(CuePointDocument, WorkedDocuments)
{
    struct Case {
        const char* name;
        Bytes input;
        std::string expected;
    } cases[] = {
        {"abc", text("abc"),
         "//========== .DLS_DATA ==========\nCuePoint={\"QelDlsData((3 26)\ndGJyMAEAAAADAAAAAAAAAAAI2yQ2C579eAA=)\"}\n"},
        {"empty", {}, "//========== .DLS_DATA ==========\nCuePoint={\"QelDlsData((0 12)\ndGJyMAEAAAAAAAAA====)\"}\n"},
    };
    TempFolder dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(std::string(c.name) + ".dls");
        writeFile(path, c.input);
        const JobReport report = convert(path);
        ASSERT_TRUE(report.ok()) << report.reason;
        EXPECT_EQ(report.outputPath, dir.file(std::string(c.name) + "_dls.mml"));
        const std::string doc = readFile(report.outputPath);
        EXPECT_EQ(doc, c.expected);
        EXPECT_EQ(report.inputBytes, c.input.size());
        EXPECT_EQ(report.documentBytes, doc.size());
        EXPECT_EQ(documentLength(c.input.size(), report.streamBytes), doc.size());
    }
}

TEST(CuePointDocument, SizesLine)
{
    EXPECT_EQ(formatSizesLine(900, 517), "(900 517)\n");
    EXPECT_EQ(formatSizesLine(0, 12), "(0 12)\n");
    EXPECT_EQ(formatSizesLine(4294967295u, 1234567), "(4294967295 1234567)\n");
    EXPECT_EQ(documentHead.size(), 56u);
    EXPECT_EQ(documentLength(3, 26), 56u + 7 + 36 + 4);
}

// Small, incompressible and multi-block inputs: the streamed job writes
// exactly the document the one-shot stages define.
TEST(CuePointDocument, JobMatchesTheOneShotForm)
{
    struct Case {
        const char* name;
        Bytes input;
    } cases[] = {
        {"one byte", hex("00")},
        {"two bytes", hex("FF 01")},
        {"incompressible", TestRng(4).bytes(3000)},
        {"three blocks", TestRng(5).bytes(2 * 524288 + 1000, 16)},
        // A stream of more than 8 MiB whose length is first guessed from an
        // incompressible start, then found much shorter (fewer digits).
        {"large, ratio changing", concat({TestRng(6).bytes(17 * 524288 + 5), repeat(0x00, 40 * 524288)})},
    };
    TempFolder dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("in.dls");
        writeFile(path, c.input);
        const JobReport report = convert(path);
        ASSERT_TRUE(report.ok()) << report.reason;
        const std::string doc = readFile(report.outputPath);
        EXPECT_EQ(doc.size(), report.documentBytes);
        EXPECT_TRUE(doc == expectedDocument(c.input)) << "documents differ";
    }
}

TEST(CuePointDocument, OutputNameRule)
{
    struct Case {
        std::string path;
        std::optional<std::string> expected;
    } cases[] = {
        {R"(C:\Sound\Piano.DLS)", R"(C:\Sound\Piano_DLS.mml)"},
        {R"(C:\a.dls)", R"(C:\a_dls.mml)"},
        {R"(C:\x.dls\y.dls)", R"(C:\x_dls\y.dls.mml)"},
        {"a.dlsx", "a_dlsx.mml"},
        {"song.dls.bak", "song_dls.bak.mml"},
        {"Bank.Dls", "Bank_Dls.mml"},
        {"/banks/strings.dls", "/banks/strings_dls.mml"},
        {"bank.sf2", std::nullopt},
        {"mydls", std::nullopt},
        {".dl", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(deriveOutputName(c.path, lowerAscii(c.path)), c.expected);
    }
    EXPECT_EQ(findDlsMark("c:\\x.dls\\y.dls"), 4u);
    EXPECT_EQ(lowerAscii("C:\\Sound\\Piano.DLS"), "c:\\sound\\piano.dls");
}

TEST(ConversionJob, FailuresNameTheStepAndKeepEarlierDocuments)
{
    TempFolder dir;
    const std::string bank = dir.file("bank.dls");
    writeFile(bank, text("abc"));
    ASSERT_TRUE(convert(bank).ok());
    const std::string earlier = readFile(dir.file("bank_dls.mml"));

    EXPECT_EQ(convert(dir.file("missing.dls")).failure, JobFailure::cannotOpen);
    EXPECT_FALSE(fs::exists(dir.file("missing_dls.mml")));

    fs::create_directory(dir.file("folder.dls"));
    EXPECT_EQ(convert(dir.file("folder.dls")).failure, JobFailure::isFolder);
    EXPECT_FALSE(fs::exists(dir.file("folder_dls.mml")));

    EXPECT_EQ(convert(dir.file("bank.sf2")).failure, JobFailure::noDlsInName);

    // The target is a folder: the document cannot replace it, and nothing is left behind.
    fs::create_directory(dir.file("other_dls.mml"));
    writeFile(dir.file("other.dls"), text("xyz"));
    const JobReport blocked = convert(dir.file("other.dls"));
    EXPECT_FALSE(blocked.ok());
    EXPECT_FALSE(blocked.reason.empty());
    EXPECT_TRUE(fs::is_directory(dir.file("other_dls.mml")));

    // An output folder that does not exist.
    EXPECT_EQ(convert(bank, dir.file("nowhere/out.mml")).failure, JobFailure::cannotCreate);

    EXPECT_EQ(readFile(dir.file("bank_dls.mml")), earlier);
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.file(""))) ++entries;
    EXPECT_EQ(entries, 5u) << "temporary files left behind"; // 2 banks, 1 document, 2 folders
}

TEST(ConversionJob, ExplicitOutputAndOverwrite)
{
    TempFolder dir;
    const std::string bank = dir.file("notabank.bin");
    writeFile(bank, text("abc"));
    const JobReport report = convert(bank, dir.file("out.mml"));
    ASSERT_TRUE(report.ok()) << report.reason;
    const std::string abcDoc = readFile(dir.file("out.mml"));
    EXPECT_EQ(abcDoc, expectedDocument(text("abc")));
    writeFile(bank, {});
    ASSERT_TRUE(convert(bank, dir.file("out.mml")).ok());
    EXPECT_EQ(readFile(dir.file("out.mml")), expectedDocument({}));
}

const char* revealed = nullptr;
std::string revealedPath;
void recordReveal(const char* path)
{
    revealed = path;
    revealedPath = path;
}

TEST(ConversionJob, ConvertDlsFileRevealsOnlyAfterSuccess)
{
    TempFolder dir;
    writeFile(dir.file("Kit.DLS"), text("abc"));
    SetRevealHook(recordReveal);
    std::string path = dir.file("Kit.DLS");
    ConvertDlsFile(path.data(), lowerAscii(path).c_str());
    EXPECT_EQ(revealedPath, dir.file("Kit_DLS.mml"));
    EXPECT_EQ(readFile(revealedPath), expectedDocument(text("abc")));
    revealed = nullptr;
    std::string missing = dir.file("gone.dls");
    ConvertDlsFile(missing.data(), lowerAscii(missing).c_str());
    EXPECT_EQ(revealed, nullptr);
    SetRevealHook(nullptr);
}

} // namespace
} // namespace dls2mml::test
