// One input at a time through the ledger of owed draws (the window's and the
// page's way): the documents equal those of one command-line run over the
// same inputs in the same order, although each input's blocks after its own
// last state-dependent block are sorted on every core; the earlier inputs are
// read again only when a later one needs the state; an earlier input that
// changed or went away leaves the state unknown, so that an input needing it
// gets no document while one needing none still converts; starting afresh
// makes the state known again.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "shell/conversion_job.h"
#include "shell/pivot_ledger.h"
#include "shell/sort_plan.h"
#include "support/dls_chunks.h"
#include "support/job_support.h"
#include "support/test_support.h"

namespace dls2mml::test {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t block = blockSizeForLevel1;

Bytes noise(std::size_t n, std::uint32_t seed) { return TestRng(seed).bytes(n, 40, 'A'); }

Bytes periodicBlock(std::string_view pattern)
{
    Bytes out = repeat(pattern, block / pattern.size() + 1);
    out.resize(block);
    return out;
}

// A DLS bank whose first instrument's wave is noise of several blocks and
// whose second repeats a short pattern: cut to the first it needs no state,
// whole it does.
Bytes twoInstrumentBank()
{
    const auto instrument = [](std::uint32_t program, std::uint32_t cue) {
        return list("LIST", "ins ", {chunk("insh", words({1, 0, program})),
                                     list("LIST", "lrgn", {list("LIST", "rgn ", {chunk("rgnh", Bytes(12, 0)),
                                                                                 chunk("wlnk", words({0, 0, cue}))})})});
    };
    const auto wave = [](const Bytes& data) {
        return list("LIST", "wave", {chunk("fmt ", words({0x00010001, 22050, 44100, 0x00100002})), chunk("data", data)});
    };
    const Bytes first = wave(noise(3 * block + 4321, 77));
    return list("RIFF", "DLS ",
                {chunk("colh", words({2})), list("LIST", "lins", {instrument(0, 0), instrument(1, 1)}),
                 chunk("ptbl", words({8, 2, 0, static_cast<std::uint32_t>(first.size())})),
                 list("LIST", "wvpl", {first, wave(periodicBlock("aaabaabb"))})});
}

// The inputs, by name: large ones whose blocks all have distinct rotations,
// and ones with blocks whose primary index depends on the pivot state.
struct Input {
    const char* name;
    Bytes bytes;
};
const std::vector<Input>& inputs()
{
    static const std::vector<Input> all = {
        {"big1.dls", noise(4 * block + 1000, 1)},
        {"big2.dls", noise(3 * block, 2)},                 // ends on a block boundary
        {"late.dls", concat({noise(2 * block, 3), periodicBlock("aaabaabb"), noise(block + 77, 4)})}, // block 2
        {"short.dls", repeat("aaab", 13)},
        {"bank.dls", twoInstrumentBank()},
    };
    return all;
}
const Bytes& bytesOf(const std::string& name)
{
    for (const Input& input : inputs())
        if (name == input.name)
            return input.bytes;
    ADD_FAILURE() << "no input " << name;
    static const Bytes none;
    return none;
}

// One conversion of a run: an input and, for a bank, the instruments kept.
struct Item {
    Item(const char* input, std::string list = {}) : name(input), instruments(std::move(list)) {}
    std::string name;
    std::string instruments;
};

// Each case's inputs in a folder of their own, written once.
class PivotLedgerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const Input& input : inputs())
            writeFile(folder_.file(input.name), input.bytes);
        fs::create_directory(folder_.file("ledger"));
        startPivotStateAfresh();
    }
    void TearDown() override
    {
        pivotLedger().setReopener(nullptr);
        startPivotStateAfresh();
    }

    std::string path(const std::string& name) const { return folder_.file(name); }

    // The command line's way: one run over every input, planned beforehand.
    std::vector<std::string> commandLineRun(const std::vector<Item>& run, const std::string& tag)
    {
        startPivotStateAfresh();
        fs::create_directory(folder_.file(tag));
        std::vector<std::string> paths;
        for (const Item& item : run)
            paths.push_back(path(item.name));
        const bool cut = std::any_of(run.begin(), run.end(), [](const Item& i) { return !i.instruments.empty(); });
        const std::vector<std::uint64_t> ordered = cut ? std::vector<std::uint64_t>(run.size(), UINT64_MAX) : planSorts(paths);
        std::vector<std::string> documents;
        for (std::size_t i = 0; i < run.size(); ++i) {
            JobRequest request = requestFor(run[i], tag, i);
            request.orderedBlocks = ordered[i];
            const JobReport report = runConversionJob(request);
            EXPECT_TRUE(report.ok()) << run[i].name << ": " << report.fault.words;
            documents.push_back(readFile(request.outputPath));
        }
        startPivotStateAfresh();
        return documents;
    }

    // The window's way: one job per input, through the ledger.
    JobReport dropped(const Item& item, std::size_t position, std::string* document = nullptr)
    {
        JobRequest request = requestFor(item, "ledger", position);
        request.ledger = &pivotLedger();
        const JobReport report = runConversionJob(request);
        if (document)
            *document = report.ok() ? readFile(request.outputPath) : std::string();
        EXPECT_EQ(fs::exists(request.outputPath), report.ok()) << item.name;
        return report;
    }

    JobRequest requestFor(const Item& item, const std::string& tag, std::size_t position) const
    {
        JobRequest request;
        request.path = path(item.name);
        request.lowerPath = lowerAscii(request.path);
        request.outputPath = folder_.file(tag + "/" + std::to_string(position) + ".mml");
        request.instruments = item.instruments;
        request.threads = 2;
        return request;
    }

    TempFolder folder_;
};

TEST_F(PivotLedgerTest, DocumentsEqualOneCommandLineRun)
{
    const struct {
        const char* what;
        std::vector<Item> run;
    } cases[] = {
        {"a state-dependent block after big inputs sorted on every core", {{"big1.dls"}, {"big2.dls"}, {"late.dls"}}},
        {"the state carried through several dependent inputs",
         {{"late.dls"}, {"big1.dls"}, {"short.dls"}, {"big2.dls"}, {"late.dls"}, {"short.dls"}}},
        {"a dependent input first, then none", {{"short.dls"}, {"big1.dls"}, {"big2.dls"}}},
        {"no input needs the state", {{"big2.dls"}, {"big1.dls"}}},
        {"owed blocks of a bank cut to some instruments, replayed from the cut",
         {{"bank.dls", "1"}, {"big2.dls"}, {"short.dls"}, {"bank.dls", "1-2"}, {"late.dls"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<std::string> expected = commandLineRun(c.run, "reference");
        for (std::size_t i = 0; i < c.run.size(); ++i) {
            std::string document;
            const JobReport report = dropped(c.run[i], i, &document);
            ASSERT_TRUE(report.ok()) << c.run[i].name << ": " << report.fault.words;
            EXPECT_TRUE(document == expected[i]) << "document " << i << " (" << c.run[i].name << ") differs";
        }
        startPivotStateAfresh();
        fs::remove_all(path("reference"));
    }
}

// Records every reopening, by file name, before the file system's.
class CountingReopener final : public InputReopener {
public:
    bool reopen(const std::string& path, std::unique_ptr<InputFile>& input) override
    {
        opened.push_back(fs::path(path).filename().string());
        return fileReopener().reopen(path, input);
    }
    std::vector<std::string> opened;
};

// Each input is opened once more for its own scan; earlier inputs are read
// again only when one needs the state, in order, and only what they owe.
TEST_F(PivotLedgerTest, EarlierInputsAreReadAgainOnlyWhenTheStateIsNeeded)
{
    CountingReopener counting;
    pivotLedger().setReopener(&counting);
    const struct {
        Item item;
        std::vector<std::string> opened; // by this conversion
        std::size_t owedAfter;
    } steps[] = {
        {{"big1.dls"}, {"big1.dls"}, 1},
        {{"big2.dls"}, {"big2.dls"}, 2},
        {{"late.dls"}, {"late.dls", "big1.dls", "big2.dls"}, 1},  // late.dls owes its last two blocks
        {{"big1.dls"}, {"big1.dls"}, 2},
        {{"short.dls"}, {"short.dls", "late.dls", "big1.dls"}, 0}, // one block, state-dependent: nothing owed
        {{"short.dls"}, {"short.dls"}, 0},
    };
    std::size_t position = 0;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.item.name + " at " + std::to_string(position));
        counting.opened.clear();
        ASSERT_TRUE(dropped(step.item, position++).ok());
        EXPECT_EQ(counting.opened, step.opened);
        EXPECT_EQ(pivotLedger().owedInputs(), step.owedAfter);
    }
}

void flipByte(const std::string& path, std::size_t at)
{
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    file.seekg(static_cast<std::streamoff>(at));
    const char c = static_cast<char>(file.get());
    file.seekp(static_cast<std::streamoff>(at));
    file.put(static_cast<char>(c ^ 1));
}

// After an earlier input is changed or removed, whatever needs the state is
// refused with words that say why, whatever needs none still converts, and a
// fresh start converts again as a fresh run does.
TEST_F(PivotLedgerTest, AChangedEarlierInputLeavesTheStateUnknown)
{
    const std::string big1 = path("big1.dls");
    const struct {
        const char* what;
        std::function<void()> change;
    } cases[] = {
        {"one byte of an owed block changed, same size", [&] { flipByte(big1, 3 * block + 17); }},
        {"the last byte changed", [&] { flipByte(big1, 4 * block + 999); }},
        {"removed", [&] { fs::remove(big1); }},
        {"cut short", [&] { fs::resize_file(big1, 4 * block); }},
        {"grown by a byte", [&] { std::ofstream(big1, std::ios::binary | std::ios::app).put('x'); }},
        {"replaced by a folder", [&] { fs::remove(big1); fs::create_directory(big1); }},
    };
    const std::vector<std::string> fresh = commandLineRun({{"late.dls"}}, "fresh");
    const std::vector<std::string> independent = commandLineRun({{"big2.dls"}}, "independent");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(big1);
        writeFile(big1, bytesOf("big1.dls"));
        startPivotStateAfresh();
        std::size_t position = 0;
        ASSERT_TRUE(dropped({"big1.dls"}, position++).ok());
        c.change();

        std::string document;
        ASSERT_TRUE(dropped({"big2.dls"}, position++, &document).ok()) << "needs no state";
        EXPECT_TRUE(document == independent[0]);
        for (const char* needing : {"late.dls", "short.dls"}) {
            const JobReport refused = dropped({needing}, position++);
            EXPECT_EQ(refused.fault.kind, FaultKind::pivotStateUnknown) << needing;
            EXPECT_NE(refused.fault.words.find("the pivot state left by the earlier banks is unknown: " + big1), std::string::npos)
                << refused.fault.words;
        }
        EXPECT_FALSE(pivotLedger().stateKnown());
        ASSERT_TRUE(dropped({"big2.dls"}, position++, &document).ok()) << "needs no state";
        EXPECT_TRUE(document == independent[0]);

        startPivotStateAfresh();
        EXPECT_TRUE(pivotLedger().stateKnown());
        ASSERT_TRUE(dropped({"late.dls"}, position++, &document).ok());
        EXPECT_TRUE(document == fresh[0]) << "afresh, as a fresh run";
    }
    fs::remove_all(big1);
    writeFile(big1, bytesOf("big1.dls"));
}

// A change in a block that was drawn for when the input was converted is not
// read by the replay: the state stays known and exact.
TEST_F(PivotLedgerTest, ChangesOutsideTheOwedBlocksDoNotMatter)
{
    const std::vector<Item> run = {{"late.dls"}, {"big2.dls"}, {"short.dls"}};
    const std::vector<std::string> expected = commandLineRun(run, "reference");
    std::string document;
    ASSERT_TRUE(dropped(run[0], 0, &document).ok());
    EXPECT_TRUE(document == expected[0]);
    flipByte(path("late.dls"), 100); // block 0 of three drawn at conversion; blocks 3 and 4 are owed
    for (std::size_t i = 1; i < run.size(); ++i) {
        ASSERT_TRUE(dropped(run[i], i, &document).ok());
        EXPECT_TRUE(document == expected[i]) << run[i].name;
    }
    writeFile(path("late.dls"), bytesOf("late.dls"));
}

// Shows the next scan another file's bytes than the conversion then reads,
// as if the input changed between the two.
class SwappingReopener final : public InputReopener {
public:
    bool reopen(const std::string& path, std::unique_ptr<InputFile>& input) override
    {
        const bool swap = swapNext;
        swapNext = false;
        return fileReopener().reopen(swap ? swapTo : path, input);
    }
    bool swapNext = false;
    std::string swapTo;
};

// A conversion stopped after some of its blocks were sorted: how far its
// draws got is not something a run repeats, so the state is unknown.
TEST_F(PivotLedgerTest, AConversionThatStopsPartWayLeavesTheStateUnknown)
{
    SwappingReopener swapping;
    swapping.swapTo = path("big2.dls");
    pivotLedger().setReopener(&swapping);
    ASSERT_TRUE(dropped({"big1.dls"}, 0).ok());
    swapping.swapNext = true; // late.dls scanned as big2.dls: no block ordered, its block 2 stops the pipeline
    EXPECT_EQ(dropped({"late.dls"}, 1).fault.kind, FaultKind::inputChanged);
    EXPECT_FALSE(pivotLedger().stateKnown());
    const JobReport refused = dropped({"short.dls"}, 2);
    EXPECT_EQ(refused.fault.kind, FaultKind::pivotStateUnknown);
    EXPECT_NE(refused.fault.words.find(path("late.dls") + " stopped part-way"), std::string::npos) << refused.fault.words;
    EXPECT_TRUE(dropped({"big2.dls"}, 3).ok()) << "needs no state";
}

// An input that cannot be scanned (read once, as from a pipe): with the state
// known it is converted in order after the owed draws are made; with it
// unknown it converts as long as none of its blocks needs the state.
TEST_F(PivotLedgerTest, InputsThatCannotBeScanned)
{
    const std::vector<std::string> expected = commandLineRun({{"big1.dls"}, {"late.dls"}}, "reference");
    const std::vector<std::string> alone = commandLineRun({{"big2.dls"}}, "alone");
    const auto fromMemory = [&](const char* name, std::size_t position, std::string* document) {
        std::unique_ptr<InputFile> once = memoryInput(bytesOf(name));
        JobRequest request = requestFor({name}, "ledger", position);
        request.input = once.get();
        request.ledger = &pivotLedger();
        const JobReport report = runConversionJob(request);
        *document = report.ok() ? readFile(request.outputPath) : std::string();
        return report;
    };
    std::string document;
    ASSERT_TRUE(dropped({"big1.dls"}, 0).ok());
    ASSERT_TRUE(fromMemory("late.dls", 1, &document).ok());
    EXPECT_TRUE(document == expected[1]);
    EXPECT_EQ(pivotLedger().owedInputs(), 0u) << "every block was sorted in order";

    ASSERT_TRUE(dropped({"big1.dls"}, 2).ok());
    fs::remove(path("big1.dls"));
    ASSERT_TRUE(dropped({"late.dls"}, 3).fault.kind == FaultKind::pivotStateUnknown);
    EXPECT_TRUE(fromMemory("big2.dls", 4, &document).ok());
    EXPECT_TRUE(document == alone[0]);
    EXPECT_EQ(fromMemory("late.dls", 5, &document).fault.kind, FaultKind::pivotStateUnknown);
    writeFile(path("big1.dls"), bytesOf("big1.dls"));
}

} // namespace
} // namespace dls2mml::test
