// The conversion job: the document the one-shot stages define, failures that
// name the step and leave earlier documents alone, the pivot state's order,
// and the window's entry.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "compressor/block_compressor.h"
#include "compressor/block_sort.h"
#include "platform/file_system.h"
#include "shell/conversion_job.h"
#include "shell/document/cue_point_document.h"
#include "shell/document/output_name.h"
#include "shell/window/window_job.h"
#include "support/job_support.h"
#include "support/test_support.h"

namespace dls2mml::test {
namespace {

namespace fs = std::filesystem;

// Small, incompressible and multi-block inputs: the streamed job writes
// exactly the document the one-shot stages define.
TEST(ConversionJob, MatchesTheOneShotForm)
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
        ASSERT_TRUE(report.ok()) << report.fault.words;
        const std::string doc = readFile(report.outputPath);
        EXPECT_EQ(doc.size(), report.documentBytes);
        EXPECT_TRUE(doc == expectedDocument(c.input)) << "documents differ";
    }

}

TEST(ConversionJob, FailuresNameTheStepAndKeepEarlierDocuments)
{
    TempFolder dir;
    const std::string bank = dir.file("bank.dls");
    writeFile(bank, text("abc"));
    ASSERT_TRUE(convert(bank).ok());
    const std::string earlier = readFile(dir.file("bank_dls.mml"));

    EXPECT_EQ(convert(dir.file("missing.dls")).fault.kind, FaultKind::cannotOpen);
    EXPECT_FALSE(fs::exists(dir.file("missing_dls.mml")));

    fs::create_directory(dir.file("folder.dls"));
    EXPECT_EQ(convert(dir.file("folder.dls")).fault.kind, FaultKind::isFolder);
    EXPECT_FALSE(fs::exists(dir.file("folder_dls.mml")));

    EXPECT_EQ(convert(dir.file("bank.sf2")).fault.kind, FaultKind::noDlsInName);

    // The target is a folder: the document cannot replace it, and nothing is left behind.
    fs::create_directory(dir.file("other_dls.mml"));
    writeFile(dir.file("other.dls"), text("xyz"));
    const JobReport blocked = convert(dir.file("other.dls"));
    EXPECT_FALSE(blocked.ok());
    EXPECT_FALSE(blocked.fault.words.empty());
    EXPECT_TRUE(fs::is_directory(dir.file("other_dls.mml")));

    // An output folder that does not exist.
    EXPECT_EQ(convert(bank, dir.file("nowhere/out.mml")).fault.kind, FaultKind::cannotCreate);

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
    ASSERT_TRUE(report.ok()) << report.fault.words;
    const std::string abcDoc = readFile(dir.file("out.mml"));
    EXPECT_EQ(abcDoc, expectedDocument(text("abc")));
    writeFile(bank, {});
    ASSERT_TRUE(convert(bank, dir.file("out.mml")).ok());
    EXPECT_EQ(readFile(dir.file("out.mml")), expectedDocument({}));
}

// The stream bytes carried by a document (plain Base64 with line feeds and '=' skipped).
Bytes streamOf(const std::string& document)
{
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const std::size_t from = document.find('\n', documentHead.size()) + 1;
    Bytes out;
    std::uint32_t bits = 0;
    int count = 0;
    for (std::size_t i = from; i < document.size(); ++i) {
        const std::size_t v = alphabet.find(document[i]);
        if (v == std::string::npos) continue;
        bits = bits << 6 | static_cast<std::uint32_t>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<std::uint8_t>(bits >> count));
        }
    }
    return out;
}

// Blocks whose primary index depends on the pivot state: the job must sort
// them one after another, in input order, from the process-wide state, and
// leave that state where the last block left it.
TEST(ConversionJob, PivotDrawsFollowTheBlockOrder)
{
    const Bytes block = repeat("aaabaabb", 65536); // one whole block, unchanged by the pre-pass
    const Bytes input = concat({block, block, block, block, repeat("aaab", 13)});
    TempFolder dir;
    writeFile(dir.file("periodic.dls"), input);
    const std::uint32_t saved = pivotGenerator.state();
    std::set<std::uint32_t> seen;
    for (std::uint32_t start : {7919u, 2u * 7919u, 3u * 7919u, 1u}) {
        SCOPED_TRACE("state " + std::to_string(start));
        PivotGenerator sequential;
        sequential.setState(start);
        std::vector<std::uint32_t> expected;
        SortArrays arrays(block.size());
        for (std::size_t at = 0; at < input.size(); at += blockSizeForLevel1) {
            const std::size_t n = std::min(blockSizeForLevel1, input.size() - at);
            Bytes work(input.begin() + static_cast<std::ptrdiff_t>(at), input.begin() + static_cast<std::ptrdiff_t>(at + n));
            work.push_back(0);
            Bytes last(n);
            expected.push_back(static_cast<std::uint32_t>(
                sortBlock(work, static_cast<std::int32_t>(n), last, arrays, sequential).primaryIndex));
        }
        pivotGenerator.setState(start);
        const JobReport report = convert(dir.file("periodic.dls"));
        ASSERT_TRUE(report.ok()) << report.fault.words;
        EXPECT_EQ(pivotGenerator.state(), sequential.state());
        const Bytes stream = streamOf(readFile(report.outputPath));
        std::vector<std::uint32_t> got;
        for (std::size_t at = streamHeaderSize; at + frameHeaderSize <= stream.size();) {
            got.push_back(std::uint32_t{stream[at]} << 16 | std::uint32_t{stream[at + 1]} << 8 | stream[at + 2]);
            at += frameHeaderSize + (std::uint32_t{stream[at + 3]} << 16 | std::uint32_t{stream[at + 4]} << 8 | stream[at + 5]);
        }
        EXPECT_EQ(got, expected);
        seen.insert(expected.begin(), expected.end() - 1);
    }
    pivotGenerator.setState(saved);
    EXPECT_GE(seen.size(), 2u) << "the blocks should land on different rows at different states";
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
    setRevealHook(recordReveal);
    std::string path = dir.file("Kit.DLS");
    ConvertDlsFile(path.data(), lowerAscii(path).c_str());
    EXPECT_EQ(revealedPath, dir.file("Kit_DLS.mml"));
    EXPECT_EQ(readFile(revealedPath), expectedDocument(text("abc")));
    revealed = nullptr;
    std::string missing = dir.file("gone.dls");
    ConvertDlsFile(missing.data(), lowerAscii(missing).c_str());
    EXPECT_EQ(revealed, nullptr);
    setRevealHook(nullptr);
}

#if !defined(_WIN32)
// The window's hooks, counted with the threads they ran on.
std::atomic<int> aliveCalls{0};
std::atomic<bool> aliveElsewhere{false};
std::thread::id callerThread;
std::thread::id revealThread;
void countAlive()
{
    if (std::this_thread::get_id() != callerThread)
        aliveElsewhere = true;
    ++aliveCalls;
}
void recordRevealAndThread(const char* path)
{
    recordReveal(path);
    revealThread = std::this_thread::get_id();
}

bool writeAll(int fd, const std::uint8_t* bytes, std::size_t length)
{
    while (length > 0) {
        const ssize_t n = ::write(fd, bytes, length);
        if (n <= 0)
            return false;
        bytes += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

// A bank from a pipe that stalls part-way through its first block, as a slow
// source may: the window's thread must keep showing the system it is alive
// (the system takes a window that leaves its queue alone for 5 s for hung),
// so the hook keeps coming on the caller's thread while the conversion waits,
// and the document and its reveal come as from a file. Converted where the
// window converts, the caller held in the read would never call the hook: the
// writer then gives up waiting after 20 s and the test fails.
TEST(ConversionJob, ConvertDlsFileStaysAliveWhileItsInputStalls)
{
    startPivotStateAfresh();
    TempFolder dir;
    const std::string path = dir.file("slow.dls");
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    const Bytes bank = TestRng(31).bytes(blockSizeForLevel1 + 1000); // two blocks
    const std::size_t first = 1000;
    aliveCalls = 0;
    aliveElsewhere = false;
    callerThread = std::this_thread::get_id();
    revealThread = {};
    revealedPath.clear();
    bool stalledUntilAlive = false;
    bool fed = false;
    std::thread writer([&] {
        // Opened without waiting, so that a job that never opens the pipe
        // leaves no thread behind.
        int fd = -1;
        const auto opening = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while ((fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0 && std::chrono::steady_clock::now() < opening)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (fd < 0 || ::fcntl(fd, F_SETFL, 0) != 0)
            return;
        if (writeAll(fd, bank.data(), first)) {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (aliveCalls < 5 && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            stalledUntilAlive = aliveCalls >= 5;
            fed = writeAll(fd, bank.data() + first, bank.size() - first);
        }
        ::close(fd);
    });
    setProgressHook(countAlive);
    setRevealHook(recordRevealAndThread);
    std::string slow = path;
    ConvertDlsFile(slow.data(), lowerAscii(slow).c_str());
    writer.join();
    setProgressHook(nullptr);
    setRevealHook(nullptr);
    EXPECT_TRUE(fed);
    EXPECT_TRUE(stalledUntilAlive) << "the caller's thread did not call the hook while the input stalled";
    EXPECT_FALSE(aliveElsewhere) << "the hook must run on the caller's thread (the window's)";
    EXPECT_EQ(revealedPath, dir.file("slow_dls.mml"));
    EXPECT_EQ(revealThread, callerThread) << "the reveal must run on the caller's thread";
    EXPECT_TRUE(readFile(dir.file("slow_dls.mml")) == expectedDocument(bank)) << "documents differ";
    startPivotStateAfresh();
}
#endif

// A check that fails must not cost the earlier document: it runs on the
// finished temporary, before anything is replaced.
TEST(ConversionJob, FailedVerificationKeepsTheEarlierDocument)
{
    TempFolder folder;
    const std::string bank = folder.file("v.dls");
    const std::string document = folder.file("v_dls.mml");
    writeFile(bank, text("abc"));
    writeFile(document, text("earlier"));
    std::string checked(33, '\0');
    JobRequest request;
    request.path = bank;
    request.lowerPath = lowerAscii(bank);
    request.verify = true;
    // One Base64 character of the frame changed in the finished temporary.
    request.damageDocument = [&](OutputFile& file) {
        ASSERT_TRUE(file.readAt(0, std::span(reinterpret_cast<std::uint8_t*>(checked.data()), checked.size())));
        std::uint8_t c = 0;
        const std::uint64_t at = 56 + 7 + 24; // head, "(3 26)\n", well inside the frame's text
        ASSERT_TRUE(file.readAt(at, std::span(&c, 1)));
        c = c == 'A' ? 'B' : 'A';
        ASSERT_TRUE(file.writeAt(at, std::span(&c, 1)));
    };
    const JobReport report = runConversionJob(request);
    EXPECT_EQ(report.fault.kind, FaultKind::verifyFailed);
    EXPECT_NE(report.fault.words.find("block 1 differs"), std::string::npos) << report.fault.words;
    EXPECT_EQ(checked, "//========== .DLS_DATA ==========") << "the check must read the new document, not the target";
    EXPECT_EQ(readFile(document), "earlier");
    std::set<std::string> left;
    for (const auto& entry : fs::directory_iterator(fs::path(bank).parent_path()))
        left.insert(entry.path().filename().string());
    EXPECT_EQ(left, (std::set<std::string>{"v.dls", "v_dls.mml"}));
}

} // namespace
} // namespace dls2mml::test
