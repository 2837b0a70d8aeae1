#include "shell/pivot_ledger.h"

#include <algorithm>
#include <new>

#include "bank/instrument_selection.h"
#include "checks/crc64.h"
#include "compressor/block_compressor.h"
#include "compressor/block_sort.h"
#include "compressor/pivot_generator.h"
#include "compressor/run_length_prepass.h"
#include "platform/file_system.h"

namespace dls2mml {

// What one replay sorts in: a slice, its pre-pass (with the sort's spare
// byte), the discarded last column and the sort's arrays; made once per
// settling.
struct ReplayWork {
    ByteBuffer slice{blockSizeForLevel1};
    ByteBuffer block{bufferSizeForLevel1 + 1};
    ByteBuffer lastColumn{bufferSizeForLevel1};
    SortArrays arrays{bufferSizeForLevel1};
};

namespace {

class FileReopener final : public InputReopener {
public:
    bool reopen(const std::string& path, std::unique_ptr<InputFile>& input) override
    {
        // A pipe or device would give other bytes, or none, the second time.
        if (!isRegularFile(path) || !openInputFile(path, input))
            return false;
        return input->size() != UINT64_MAX;
    }
};

// Up to buffer.size() bytes, fewer only at the end of the input.
bool readFull(InputFile& input, std::span<std::uint8_t> buffer, std::size_t& got)
{
    got = 0;
    while (got < buffer.size()) {
        std::size_t n = 0;
        if (!input.read(buffer.subspan(got), n))
            return false;
        if (n == 0)
            break;
        got += n;
    }
    return true;
}

// The whole input, cut to the instruments of list as the conversion cut it;
// false when it cannot be read or cut.
bool cutAgain(InputFile& input, const std::string& list, std::vector<std::uint8_t>& bank)
{
    for (;;) {
        const std::size_t have = bank.size();
        bank.resize(have + readChunk);
        std::size_t got = 0;
        if (!readFull(input, std::span(bank).subspan(have), got))
            return false;
        bank.resize(have + got);
        if (bank.size() > maxLength32)
            return false;
        if (got < readChunk)
            break;
    }
    BankCut cut = selectInstruments(bank, list);
    if (!cut.ok())
        return false;
    if (!cut.unchanged)
        bank = std::move(cut.bytes);
    return true;
}

std::string changedWords(const std::string& path) { return path + " changed since it was converted"; }

} // namespace

InputReopener& fileReopener()
{
    static FileReopener opener;
    return opener;
}

PivotLedger& pivotLedger()
{
    static PivotLedger ledger;
    return ledger;
}

void PivotLedger::record(OwedInput owed)
{
    if (stateKnown() && !owed.digests.empty())
        owed_.push_back(std::move(owed));
}

void PivotLedger::markUnknown(std::string why)
{
    if (stateKnown())
        whyUnknown_ = std::move(why);
    owed_.clear();
}

void PivotLedger::clear() noexcept
{
    owed_.clear();
    whyUnknown_.clear();
}

bool PivotLedger::settle(const SettleProgress& progress)
{
    if (!stateKnown())
        return false;
    if (owed_.empty())
        return true;
    std::uint64_t total = 0;
    for (const OwedInput& owed : owed_)
        total += owed.length - std::min(owed.length, owed.firstOwedBlock * blockSizeForLevel1);
    std::uint64_t done = 0;
    try {
        auto work = std::make_unique<ReplayWork>();
        for (const OwedInput& owed : owed_) {
            if (!replay(owed, *work, done, total, progress))
                return false;
        }
    } catch (const std::bad_alloc&) {
        // Draws may have been made already: where they stopped is not a state to go on from.
        markUnknown("out of memory while the earlier banks were read again");
        return false;
    }
    owed_.clear();
    return true;
}

bool PivotLedger::replay(const OwedInput& owed, ReplayWork& work, std::uint64_t& done, std::uint64_t total,
                         const SettleProgress& progress)
{
    std::unique_ptr<InputFile> file;
    if (!reopener().reopen(owed.path, file)) {
        markUnknown(owed.path + " cannot be read again");
        return false;
    }
    std::vector<std::uint8_t> cutBank;
    std::unique_ptr<InputFile> cut;
    if (!owed.instruments.empty()) {
        if (!cutAgain(*file, owed.instruments, cutBank)) {
            markUnknown(changedWords(owed.path));
            return false;
        }
        cut = memoryInput(cutBank);
    }
    InputFile& input = cut ? *cut : *file;
    // A length the opener cannot tell is checked block by block below.
    if (input.size() != UINT64_MAX && input.size() != owed.length) {
        markUnknown(changedWords(owed.path));
        return false;
    }
    const std::span<std::uint8_t> slice = work.slice.span();
    const std::uint64_t blocks = owed.firstOwedBlock + owed.digests.size();
    for (std::uint64_t index = 0; index < blocks; ++index) {
        const std::uint64_t at = index * blockSizeForLevel1;
        const std::size_t expected = static_cast<std::size_t>(std::min<std::uint64_t>(blockSizeForLevel1, owed.length - std::min(owed.length, at)));
        std::size_t got = 0;
        if (!readFull(input, slice, got)) {
            markUnknown(owed.path + " cannot be read again");
            return false;
        }
        if (got != expected || got == 0) {
            markUnknown(changedWords(owed.path));
            return false;
        }
        if (index < owed.firstOwedBlock)
            continue; // drawn for when it was converted
        // Never sort bytes other than those converted: the draws would differ.
        const std::span<const std::uint8_t> bytes = slice.first(got);
        Crc64 digest;
        digest.add(bytes);
        if (digest.value() != owed.digests[static_cast<std::size_t>(index - owed.firstOwedBlock)]) {
            markUnknown(changedWords(owed.path));
            return false;
        }
        const std::int32_t m = runLengthPrepass(work.block.span(), bytes);
        if (!sortBlock(work.block.span(), m, work.lastColumn.span(), work.arrays, pivotGenerator).ok) {
            markUnknown("the block sort failed while " + owed.path + " was read again");
            return false;
        }
        done += got;
        if (progress)
            progress(done, total);
    }
    return true;
}

} // namespace dls2mml
