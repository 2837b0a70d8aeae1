// The conversion job with instruments chosen: it converts the cut bank, says
// what it kept, and writes nothing when the choice is refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bank/instrument_selection.h"
#include "shell/conversion_job.h"
#include "support/dls_chunks.h"
#include "support/job_support.h"

namespace dls2mml {
namespace {

using Bytes = std::vector<std::uint8_t>;

using test::chunk;
using test::list;
using test::words;

Bytes instrument(std::uint32_t program, std::uint32_t cue)
{
    return list("LIST", "ins ", {chunk("insh", words({1, 0, program})),
                                 list("LIST", "lrgn", {list("LIST", "rgn ", {chunk("rgnh", Bytes(12, 0)),
                                                                             chunk("wlnk", words({0, 0, cue}))})})});
}

Bytes wave(const Bytes& data)
{
    return list("LIST", "wave", {chunk("fmt ", words({0x00010001, 22050, 44100, 0x00100002})), chunk("data", data)});
}

// Instrument 1 uses a wave of noise, instrument 2 one that repeats a short
// pattern for three blocks of the block sort, whose rotations are not all
// distinct: such blocks must be sorted in order.
Bytes bank()
{
    Bytes noise(300000);
    std::uint32_t x = 12345;
    for (std::uint8_t& b : noise) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        b = static_cast<std::uint8_t>(x);
    }
    Bytes pattern;
    while (pattern.size() < 3 * 524288)
        for (char c : std::string("aaabaabb"))
            pattern.push_back(static_cast<std::uint8_t>(c));
    const Bytes first = wave(noise);
    return list("RIFF", "DLS ",
                {chunk("colh", words({2})), list("LIST", "lins", {instrument(0, 0), instrument(1, 1)}),
                 chunk("ptbl", words({8, 2, 0, static_cast<std::uint32_t>(first.size())})),
                 list("LIST", "wvpl", {first, wave(pattern)})});
}

TEST(ConversionInstruments, ConvertsTheCutBankWhateverTheFilesBlockCount)
{
    // A folder of its own: suites of other builds may run this test at once.
    test::TempFolder folder;
    const Bytes whole = bank();
    std::ofstream(folder.file("bank.dls"), std::ios::binary)
        .write(reinterpret_cast<const char*>(whole.data()), static_cast<std::streamsize>(whole.size()));
    const BankCut expected = selectInstruments(whole, "p1");
    ASSERT_TRUE(expected.ok()) << expected.error;

    JobRequest request;
    request.path = folder.file("bank.dls");
    request.lowerPath = request.path;
    request.outputPath = folder.file("cut.mml");
    request.instruments = "p1";
    // A count for the file's blocks that does not fit the cut bank's: the
    // cut's blocks keep to the order all the same.
    request.orderedBlocks = 0;
    const JobReport report = runConversionJob(request);
    ASSERT_TRUE(report.ok()) << report.fault.words;
    EXPECT_EQ(report.inputBytes, expected.bytes.size());
    EXPECT_EQ(report.wholeBankBytes, whole.size());
    EXPECT_EQ(report.instrumentsKept, 1u);
    EXPECT_EQ(report.instrumentsInBank, 2u);
    EXPECT_EQ(report.wavesKept, 1u);
    EXPECT_TRUE(std::filesystem::exists(request.outputPath));

    request.outputPath = folder.file("refused.mml");
    request.instruments = std::string(1, '3'); // not a literal: GCC 12 warns falsely of overlapping copies in that assignment
    const JobReport refused = runConversionJob(request);
    EXPECT_EQ(refused.fault.kind, FaultKind::selectionRefused);
    EXPECT_EQ(refused.fault.words, "cannot choose instruments: there is no instrument 3: the bank holds 2 instruments");
    EXPECT_FALSE(std::filesystem::exists(request.outputPath));
}

} // namespace
} // namespace dls2mml
