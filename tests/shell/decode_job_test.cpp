// The decode job: a document's bank to a file of its own (refused where it
// would replace the document, or an existing file without leave), judged
// without being written, or handed to an output the caller brings; and a
// faulty document, which leaves no bank and says what is wrong and where.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "fault/fault.h"
#include "platform/file_system.h"
#include "shell/conversion_job.h"
#include "shell/decode_job.h"
#include "support/job_support.h"
#include "support/test_support.h"

namespace dls2mml::test {
namespace {

namespace fs = std::filesystem;

std::set<std::string> namesIn(const std::string& folder)
{
    std::set<std::string> out;
    for (const auto& entry : fs::directory_iterator(folder))
        out.insert(entry.path().filename().string());
    return out;
}

std::string documentOf(const Bytes& bank)
{
    TempFolder dir;
    writeFile(dir.file("b.dls"), bank);
    const JobReport report = convert(dir.file("b.dls"));
    EXPECT_TRUE(report.ok()) << report.fault.words;
    return readFile(report.outputPath);
}

// A RIFF form that says it is longer than it is: a bank the check must refuse.
Bytes cutRiffBank()
{
    return concat({text("RIFF"), hex("64 00 00 00"), text("DLS "), text("colh"), hex("04 00 00 00 01 00 00 00")});
}

// A document with one character of its text changed.
std::string changed(std::string document, std::size_t at, char to)
{
    document.at(at) = to;
    return document;
}

// Where the output goes, relative to the document.
enum class Target {
    derived,      // the name the document's name gives back
    other,        // another file, new unless `earlier` is set
    theDocument,  // the document's own name
    hardLink,     // a hard link of the document
};

TEST(DecodeJob, FilesChecksAndFaults)
{
    const Bytes bank = TestRng(21).bytes(70000, 7);
    const std::string document = documentOf(bank);
    const std::size_t firstStreamCharacter = document.find('\n', documentHead.size()) + 1;
    const struct {
        const char* name;
        std::string document;
        Target target;
        bool earlier;   // an earlier file stands at the target
        bool overwrite;
        bool checkOnly;
        FaultKind failure;
        std::optional<FaultKind> fault; // the document's fault, where it is at fault
        std::uint64_t faultLine;
        bool bankWritten;  // the target holds the bank afterwards (else: what stood there before)
    } cases[] = {
        {"to a new file", document, Target::other, false, false, false, FaultKind::none, {}, 0, true},
        {"to the derived name", document, Target::derived, false, false, false, FaultKind::none, {}, 0, true},
        {"an existing file, not replaced", document, Target::other, true, false, false, FaultKind::outputExists, {}, 0, false},
        {"an existing file, replaced with leave", document, Target::other, true, true, false, FaultKind::none, {}, 0, true},
        {"the document itself", document, Target::theDocument, true, true, false, FaultKind::sameFile, {}, 0, false},
        {"a hard link of the document", document, Target::hardLink, true, true, false, FaultKind::sameFile, {}, 0, false},
        {"a hard link of the document, without leave", document, Target::hardLink, true, false, false,
         FaultKind::outputExists, {}, 0, false},
        {"the stream's magic damaged", changed(document, firstStreamCharacter, 'e'), Target::other, false, false, false,
         FaultKind::badMagic, FaultKind::badMagic, 3, false},
        {"the footer damaged, an earlier bank kept", changed(document, document.size() - 4, ']'), Target::other, true, true,
         false, FaultKind::badText, FaultKind::badText, 0, false},
        {"cut short", document.substr(0, document.size() - 10), Target::other, false, false, false,
         FaultKind::truncated, FaultKind::truncated, 0, false},
        {"check only, opaque bytes", document, Target::other, false, false, true, FaultKind::none, {}, 0, false},
        {"check only, a damaged RIFF bank", documentOf(cutRiffBank()), Target::other, false, false, true,
         FaultKind::bankDamaged, {}, 0, false},
        {"check only, a damaged document", changed(document, firstStreamCharacter, 'e'), Target::other, false, false, true,
         FaultKind::badMagic, FaultKind::badMagic, 3, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder dir;
        const std::string documentPath = dir.file("b_dls.mml");
        writeFile(documentPath, Bytes(c.document.begin(), c.document.end()));
        std::string target;
        switch (c.target) {
        case Target::derived: target = dir.file("b.dls"); break;
        case Target::other: target = dir.file("out.dls"); break;
        case Target::theDocument: target = documentPath; break;
        case Target::hardLink: target = dir.file("link.dls"); fs::create_hard_link(documentPath, target); break;
        }
        if (c.earlier && c.target == Target::other)
            writeFile(target, text("earlier"));
        const std::string before = readFile(target);
        const std::set<std::string> namesBefore = namesIn(dir.file(""));

        DecodeRequest request;
        request.path = documentPath;
        if (c.target != Target::derived)
            request.outputPath = target;
        request.overwrite = c.overwrite;
        request.checkOnly = c.checkOnly;
        const DecodeReport report = runDecodeJob(request);

        EXPECT_EQ(faultKindName(report.fault.kind), std::string(faultKindName(c.failure))) << report.fault.words;
        EXPECT_EQ(report.ok(), report.fault.words.empty()) << report.fault.words;
        if (c.fault) {
            EXPECT_TRUE(isReaderFault(report.fault.kind)) << report.fault.words;
            if (c.faultLine) {
                EXPECT_EQ(report.fault.place.line, c.faultLine) << report.fault.words;
            }
            const std::string place = "line " + std::to_string(report.fault.place.line) + ", column " +
                                      std::to_string(report.fault.place.column) + ": ";
            EXPECT_EQ(report.fault.words.rfind(place, 0), 0u)
                << report.fault.words;
        } else {
            EXPECT_FALSE(isReaderFault(report.fault.kind)) << report.fault.words;
        }
        EXPECT_EQ(readFile(documentPath), c.document) << "the document must stay as it was";
        if (c.bankWritten) {
            EXPECT_EQ(report.outputPath, target);
            EXPECT_EQ(report.bankBytes, bank.size());
            EXPECT_FALSE(report.bankIsRiff);
            EXPECT_TRUE(readFile(target) == std::string(bank.begin(), bank.end())) << "banks differ";
            std::set<std::string> expected = namesBefore;
            expected.insert(fs::path(target).filename().string());
            EXPECT_EQ(namesIn(dir.file("")), expected) << "temporary files left behind";
        } else {
            EXPECT_EQ(readFile(target), before);
            EXPECT_EQ(namesIn(dir.file("")), namesBefore) << "a bank or a temporary file left behind";
        }
    }
}

// An output the caller brings: written, never committed by the job.
class MemoryOutput final : public OutputFile {
public:
    IoStatus write(std::span<const std::uint8_t> bytes) noexcept override
    {
        bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
        return {};
    }
    IoStatus commit() noexcept override
    {
        committed_ = true;
        return {};
    }
    const Bytes& bytes() const { return bytes_; }
    bool committed() const { return committed_; }

private:
    Bytes bytes_;
    bool committed_ = false;
};

// The C library's and the page's way in: a document in memory, the bank to
// the caller's output, for good documents and faulty ones alike.
TEST(DecodeJob, MemoryDocumentToTheCallersOutput)
{
    const Bytes bank = TestRng(22).bytes(600000, 5); // two blocks
    const std::string document = documentOf(bank);
    const struct {
        const char* name;
        std::string document;
        unsigned threads;
        FaultKind failure; // the document's fault where it is at fault
    } cases[] = {
        {"whole, one thread", document, 1, FaultKind::none},
        {"whole, two threads", document, 2, FaultKind::none},
        {"footer damaged", changed(document, document.size() - 4, ']'), 2, FaultKind::badText},
        {"cut short", document.substr(0, document.size() / 2), 1, FaultKind::truncated},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::unique_ptr<InputFile> input = memoryInput(
            std::span(reinterpret_cast<const std::uint8_t*>(c.document.data()), c.document.size()));
        MemoryOutput output;
        DecodeRequest request;
        request.input = input.get();
        request.output = &output;
        request.threads = c.threads;
        const DecodeReport report = runDecodeJob(request);
        EXPECT_EQ(faultKindName(report.fault.kind), std::string(faultKindName(c.failure))) << report.fault.words;
        EXPECT_FALSE(output.committed()) << "the caller commits its own output";
        if (c.failure == FaultKind::none) {
            EXPECT_EQ(report.bankBytes, bank.size());
            EXPECT_TRUE(output.bytes() == bank) << "banks differ";
        }
    }
}

#ifdef DLS2MML_MAKE_SAMPLE_BANK
// A whole document whose bank begins as a RIFF file: -t walks the bank, and
// a list's size that reaches past the form fails the check, though the
// document itself decodes.
TEST(DecodeJob, CheckOnlyWalksARiffBank)
{
    TempFolder dir;
    const std::string sample = dir.file("sample.dls");
    const std::string command = std::string("\"") + DLS2MML_MAKE_SAMPLE_BANK + "\" \"" + sample + "\" --size 200000";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string sound = readFile(sample);
    std::string broken = sound;
    broken.replace(16, 4, std::string("\xFF\xFF\x00\x00", 4));
    const struct {
        const char* name;
        std::string bank;
        FaultKind failure;
    } cases[] = {
        {"a sound bank", sound, FaultKind::none},
        {"a list's size past the form", broken, FaultKind::bankDamaged},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string document = documentOf(Bytes(c.bank.begin(), c.bank.end()));
        writeFile(dir.file("b_dls.mml"), Bytes(document.begin(), document.end()));
        DecodeRequest request;
        request.path = dir.file("b_dls.mml");
        request.checkOnly = true;
        const DecodeReport report = runDecodeJob(request);
        EXPECT_EQ(report.fault.kind, c.failure) << report.fault.words;
        EXPECT_TRUE(report.bankIsRiff);
        EXPECT_FALSE(isReaderFault(report.fault.kind)) << "the document itself is whole";
        EXPECT_EQ(report.bankBytes, c.bank.size());
        EXPECT_FALSE(fs::exists(dir.file("b.dls"))) << "a check writes no bank";
    }
}
#endif

} // namespace
} // namespace dls2mml::test
