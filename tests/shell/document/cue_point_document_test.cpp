// The cue-point document: exact documents, the sizes line and the
// output-name rule.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "shell/conversion_job.h"
#include "shell/document/cue_point_document.h"
#include "shell/document/output_name.h"
#include "support/job_support.h"
#include "support/test_support.h"

namespace dls2mml::test {
namespace {

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
        ASSERT_TRUE(report.ok()) << report.fault.words;
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

} // namespace
} // namespace dls2mml::test
