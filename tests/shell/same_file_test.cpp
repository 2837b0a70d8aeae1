// An output that is the input under another name must be refused by both
// jobs, before a byte is written: the same name, a hard link (a name of its
// own, the same file), a symbolic link, and standard output opened for
// appending on the input or on a hard link of it (dls2mml -c bank.dls >>link).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <set>
#include <string>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include "shell/conversion_job.h"
#include "shell/decode_job.h"
#include "shell/document/output_name.h"
#include "support/job_support.h"
#include "support/test_support.h"

namespace dls2mml::test {
namespace {

namespace fs = std::filesystem;

enum class Job { convert, decode };

enum class Output {
    sameName,          // -o INPUT
    hardLink,          // -o LINK, LINK a hard link of the input
    symbolicLink,      // -o LINK, LINK a symbolic link to the input
    appendToInput,     // -c >>INPUT
    appendToHardLink,  // -c >>LINK, LINK a hard link of the input
};

#ifndef _WIN32
// Standard output pointed at a file opened for appending, for as long as it
// lives; the test's own output goes back where it was.
class AppendingStandardOutput {
public:
    explicit AppendingStandardOutput(const std::string& path)
    {
        std::fflush(stdout);
        saved_ = ::dup(STDOUT_FILENO);
        const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
        ok_ = saved_ >= 0 && fd >= 0 && ::dup2(fd, STDOUT_FILENO) == STDOUT_FILENO;
        if (fd >= 0)
            ::close(fd);
    }
    ~AppendingStandardOutput()
    {
        std::fflush(stdout);
        if (saved_ >= 0) {
            ::dup2(saved_, STDOUT_FILENO);
            ::close(saved_);
        }
    }
    bool ok() const { return ok_; }

private:
    int saved_ = -1;
    bool ok_ = false;
};
#endif

TEST(SameFile, AnInputUnderAnotherNameIsRefusedAsTheOutput)
{
    const struct {
        const char* name;
        Job job;
        Output output;
    } cases[] = {
        {"-o the input", Job::convert, Output::sameName},
        {"-o a hard link of the input", Job::convert, Output::hardLink},
        {"-o a symbolic link to the input", Job::convert, Output::symbolicLink},
        {"-c >> the input", Job::convert, Output::appendToInput},
        {"-c >> a hard link of the input", Job::convert, Output::appendToHardLink},
        {"-d -f -o the document", Job::decode, Output::sameName},
        {"-d -f -o a hard link of the document", Job::decode, Output::hardLink},
        {"-d -f -o a symbolic link to the document", Job::decode, Output::symbolicLink},
        {"-d -c >> the document", Job::decode, Output::appendToInput},
        {"-d -c >> a hard link of the document", Job::decode, Output::appendToHardLink},
    };
    TempFolder dir;
    const std::string bank = dir.file("bank.dls");
    writeFile(bank, TestRng(9).bytes(5000, 3));
    const JobReport made = convert(bank);
    ASSERT_TRUE(made.ok()) << made.fault.words;
    const std::string document = made.outputPath;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string input = c.job == Job::convert ? bank : document;
        const std::string before = readFile(input);
        const std::string link = dir.file("link");
        fs::remove(link);
#ifdef _WIN32
        // Links and appending to standard output are POSIX rows; Windows (and
        // Wine, whose links are not the system's) checks the same name here.
        if (c.output != Output::sameName)
            continue;
#endif
        if (c.output == Output::hardLink || c.output == Output::appendToHardLink)
            fs::create_hard_link(input, link);
        if (c.output == Output::symbolicLink)
            fs::create_symlink(input, link);
        const std::string target = c.output == Output::sameName || c.output == Output::appendToInput ? input : link;
        const bool toStandardOutput = c.output == Output::appendToInput || c.output == Output::appendToHardLink;
        FaultKind failure = FaultKind::none;
        std::string reason;
        {
#ifndef _WIN32
            std::optional<AppendingStandardOutput> appending;
            if (toStandardOutput) {
                appending.emplace(target);
                ASSERT_TRUE(appending->ok());
            }
#endif
            if (c.job == Job::convert) {
                JobRequest request;
                request.path = input;
                request.lowerPath = lowerAscii(input);
                request.toStandardOutput = toStandardOutput;
                if (!toStandardOutput)
                    request.outputPath = target;
                const JobReport report = runConversionJob(request);
                failure = report.fault.kind;
                reason = report.fault.words;
            } else {
                DecodeRequest request;
                request.path = input;
                request.toStandardOutput = toStandardOutput;
                request.overwrite = true;
                if (!toStandardOutput)
                    request.outputPath = target;
                const DecodeReport report = runDecodeJob(request);
                failure = report.fault.kind;
                reason = report.fault.words;
            }
        }
        EXPECT_EQ(failure, FaultKind::sameFile) << reason;
        EXPECT_EQ(reason, "input and output are the same file");
        EXPECT_EQ(readFile(input), before) << "the input must stay as it was";
        EXPECT_TRUE(fs::exists(link) || target == input);
        EXPECT_EQ(fs::hard_link_count(input), c.output == Output::hardLink || c.output == Output::appendToHardLink ? 2u : 1u);
    }
    // Nothing left beside the files made here.
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.file("")))
        names.insert(entry.path().filename().string());
#ifdef _WIN32
    EXPECT_EQ(names, (std::set<std::string>{"bank.dls", "bank_dls.mml"})); // no link was made
#else
    EXPECT_EQ(names, (std::set<std::string>{"bank.dls", "bank_dls.mml", "link"}));
#endif
}

} // namespace
} // namespace dls2mml::test
