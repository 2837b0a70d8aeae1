// The ledger of owed draws: converting one input at a time (a drop on the
// window, a file on the page) as the command line converts a whole run.
//
// The block sort draws its pivots from one process-wide state, and only a
// block with equal rotations has an output that depends on it (sort_plan.h).
// The command line scans its whole run first; a program that is handed one
// input at a time cannot know whether a later one will bring such a block.
// So each input's blocks after its own last state-dependent block are sorted
// on every core by the sort that draws nothing, and the draws the prescribed
// sort would have made for them are owed: the ledger keeps, per input, how to
// read it again and a CRC-64 of each owed block. Only when a later input needs
// the state are the owed blocks read again, checked against their digests and
// sorted in order with the prescribed sort (output discarded), which brings
// the state to where one run over the same inputs would have it. Settling is
// lazy because such blocks are rare in real banks: until one comes nothing is
// read again, no core is spent, and the program stays idle between inputs.
//
// An input that is gone, cannot be read or no longer holds the bytes that were
// converted leaves the state unknown: from then on every input that needs the
// state is refused (never a document that may be wrong), inputs that need none
// still convert, and clear() (startPivotStateAfresh) makes it known again.
//
// Every call but setReopener is made under the conversion job's pivot-state
// lock, so the ledger needs no lock of its own.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace dls2mml {

class InputFile;
struct ReplayWork;

// Opens an earlier input again, from its start, for a replay. The file
// system's opener takes regular files only; the page supplies its own, which
// finds the File it kept under the name.
class InputReopener {
public:
    virtual ~InputReopener() = default;
    // False when the path cannot be read again for the same bytes (gone, a
    // pipe, unreadable).
    virtual bool reopen(const std::string& path, std::unique_ptr<InputFile>& input) = 0;
};

// Regular files through openInputFile.
InputReopener& fileReopener();

// What one converted input owes: its blocks from firstOwedBlock on were
// sorted without drawing.
struct OwedInput {
    std::string path;
    std::string instruments;             // the list the bank was cut to (empty: the whole input)
    std::uint64_t length = 0;            // bytes converted: the cut bank's with instruments
    std::uint64_t firstOwedBlock = 0;
    std::vector<std::uint64_t> digests;  // CRC-64 of each owed block's input bytes, in order
};

// Bytes replayed so far and in all, for a progress display.
using SettleProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;

class PivotLedger {
public:
    // The opener for replays; null puts back the file system's. Set before
    // any conversion uses the ledger.
    void setReopener(InputReopener* reopener) noexcept { reopener_ = reopener; }
    InputReopener& reopener() const noexcept { return reopener_ ? *reopener_ : fileReopener(); }

    bool stateKnown() const noexcept { return whyUnknown_.empty(); }
    // Why the state is unknown, in words that follow "the pivot state ... is unknown: ".
    const std::string& whyUnknown() const noexcept { return whyUnknown_; }
    std::size_t owedInputs() const noexcept { return owed_.size(); }

    // An input converted with its blocks after the state-dependent ones
    // sorted without drawing. Ignored once the state is unknown.
    void record(OwedInput owed);
    // Draws were made that no replay can reproduce (a conversion that
    // stopped part-way): the state stays unknown until clear().
    void markUnknown(std::string why);
    // Replays every owed block in order with the process-wide generator;
    // afterwards nothing is owed. False when the state is or became unknown.
    bool settle(const SettleProgress& progress = {});
    // Nothing owed, the state known again (with the generator put back by the caller).
    void clear() noexcept;

private:
    bool replay(const OwedInput& owed, ReplayWork& work, std::uint64_t& done, std::uint64_t total,
                const SettleProgress& progress);

    InputReopener* reopener_ = nullptr;
    std::vector<OwedInput> owed_;
    std::string whyUnknown_;
};

// The process's ledger, beside the process-wide generator; startPivotStateAfresh
// clears it.
PivotLedger& pivotLedger();

} // namespace dls2mml
