// The smaller bank read by a DLS reader we did not write (Debian's libgig,
// built in only when pkg-config finds it): every kept instrument must come
// out with the patch, name and regions of the original's, and every region's
// sample with the same format and the same sample data.
#include <gtest/gtest.h>

#include <DLS.h>
#include <RIFF.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "bank/instrument_selection.h"
#include "support/sample_bank.h"

namespace dls2mml {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::string writeTemp(const std::string& name, const Bytes& bytes)
{
    const std::string path = ::testing::TempDir() + name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return path;
}

struct Opened {
    std::unique_ptr<RIFF::File> riff;
    std::unique_ptr<DLS::File> dls;
    explicit Opened(const std::string& path) : riff(new RIFF::File(path)), dls(new DLS::File(riff.get())) {}
    ~Opened() { dls.reset(); }
    std::vector<DLS::Instrument*> instruments()
    {
        std::vector<DLS::Instrument*> out;
        for (DLS::Instrument* i = dls->GetFirstInstrument(); i; i = dls->GetNextInstrument())
            out.push_back(i);
        return out;
    }
    std::size_t samples()
    {
        std::size_t n = 0;
        for (DLS::Sample* s = dls->GetFirstSample(); s; s = dls->GetNextSample())
            ++n;
        return n;
    }
};

std::vector<DLS::Region*> regionsOf(DLS::Instrument* instrument)
{
    std::vector<DLS::Region*> out;
    for (DLS::Region* r = instrument->GetFirstRegion(); r; r = instrument->GetNextRegion())
        out.push_back(r);
    return out;
}

Bytes sampleData(DLS::Sample* sample)
{
    const auto* data = static_cast<const std::uint8_t*>(sample->LoadSampleData());
    const std::size_t bytes = static_cast<std::size_t>(sample->GetSize()) * sample->FrameSize;
    Bytes out(data, data + (data ? bytes : 0));
    sample->ReleaseSampleData();
    return out;
}

void expectSameInstrument(DLS::Instrument* was, DLS::Instrument* is)
{
    EXPECT_EQ(is->IsDrum, was->IsDrum);
    EXPECT_EQ(is->MIDIBankCoarse, was->MIDIBankCoarse);
    EXPECT_EQ(is->MIDIBankFine, was->MIDIBankFine);
    EXPECT_EQ(is->MIDIProgram, was->MIDIProgram);
    EXPECT_EQ(is->pInfo->Name, was->pInfo->Name);
    const std::vector<DLS::Region*> before = regionsOf(was);
    const std::vector<DLS::Region*> after = regionsOf(is);
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t r = 0; r < before.size(); ++r) {
        SCOPED_TRACE("region " + std::to_string(r + 1));
        EXPECT_EQ(after[r]->KeyRange.low, before[r]->KeyRange.low);
        EXPECT_EQ(after[r]->KeyRange.high, before[r]->KeyRange.high);
        EXPECT_EQ(after[r]->VelocityRange.low, before[r]->VelocityRange.low);
        EXPECT_EQ(after[r]->VelocityRange.high, before[r]->VelocityRange.high);
        DLS::Sample* a = before[r]->GetSample();
        DLS::Sample* b = after[r]->GetSample();
        ASSERT_NE(a, nullptr);
        ASSERT_NE(b, nullptr) << "the region links to no sample";
        EXPECT_EQ(b->pInfo->Name, a->pInfo->Name);
        EXPECT_EQ(b->FormatTag, a->FormatTag);
        EXPECT_EQ(b->Channels, a->Channels);
        EXPECT_EQ(b->SamplesPerSecond, a->SamplesPerSecond);
        EXPECT_EQ(b->BitDepth, a->BitDepth);
        EXPECT_EQ(b->GetSize(), a->GetSize());
        EXPECT_TRUE(sampleData(b) == sampleData(a)) << "sample data differs";
    }
}

TEST(OutsideReader, ReadsTheSmallerBankAsTheOriginalsInstruments)
{
    for (const char* options : {"--size 150k --shared", "--size 150k --shared --level2 --seed 7", "--size 300k --seed 3"}) {
        SCOPED_TRACE(options);
        const Bytes bank = test::generatedBank(options);
        const LayoutResult layout = readBankLayout(bank);
        ASSERT_TRUE(layout.ok()) << layout.error;
        const bool shared = std::string(options).find("--shared") != std::string::npos;
        for (const char* list : shared ? std::vector<const char*>{"1", "2", "3", "1,3", "p81,d0"}
                                       : std::vector<const char*>{"1", "d0"}) {
            SCOPED_TRACE(list);
            const Choice choice = chooseInstruments(layout.layout.entries, list);
            ASSERT_TRUE(choice.ok()) << choice.error;
            const BankCut cut = cutBank(bank, layout.layout, choice.instruments);
            ASSERT_TRUE(cut.ok()) << cut.error;
            Opened original(writeTemp("outside_reader_original.dls", bank));
            Opened smaller(writeTemp("outside_reader_cut.dls", cut.bytes));
            const std::vector<DLS::Instrument*> was = original.instruments();
            const std::vector<DLS::Instrument*> is = smaller.instruments();
            ASSERT_EQ(is.size(), choice.instruments.size());
            EXPECT_EQ(smaller.dls->Instruments, choice.instruments.size());
            EXPECT_EQ(smaller.samples(), cut.wavesKept);
            for (std::size_t k = 0; k < is.size(); ++k) {
                SCOPED_TRACE("instrument " + std::to_string(choice.instruments[k] + 1));
                expectSameInstrument(was[choice.instruments[k]], is[k]);
            }
        }
    }
}

} // namespace
} // namespace dls2mml
