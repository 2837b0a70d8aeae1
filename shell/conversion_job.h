// The conversion job: one bank in, one cue-point document out.
//
// The input is read a block at a time and compressed as it arrives; the frames
// go to a DocumentStream, which holds a small stream whole and writes a larger
// one as it comes (see document_stream.h), into a temporary file beside the
// target that is renamed over it only when complete. Every failure is a value
// of the common vocabulary (fault/fault.h).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "fault/fault.h"

namespace dls2mml {

class InputFile;
class OutputFile;
class PivotLedger;

struct JobProgress {
    std::uint64_t done = 0;
    std::uint64_t total = 0;
};

struct JobRequest {
    std::string path;       // the input as given
    std::string lowerPath;  // its lower-cased copy, used only to find ".dls"
    std::string outputPath; // empty: derive from the name rule
    bool toStandardOutput = false;
    InputFile* input = nullptr;     // read the bank from here (standard input...); path only names it
    OutputFile* output = nullptr;   // write the document here (memory...); committed as the job's own file would be
    bool discardOutput = false;     // convert in memory, write nothing: the report's sizes only
    bool verify = false;    // prove, before commit, that the document decodes to the input read
    unsigned threads = 0;   // threads for encoding; 0: every core
    // Blocks from the start whose sort must draw from the process-wide pivot
    // state in order (see block_pipeline.h); the rest may be sorted on any
    // core. All, unless the caller has scanned every input of the run
    // (planSorts) and knows where the last block that needs that state lies.
    std::uint64_t orderedBlocks = UINT64_MAX;
    // One input at a time, as one run would convert them all (the window, the
    // page): with a ledger (normally &pivotLedger()) the job scans this input
    // for its own last block that needs the pivot state, brings the state up
    // to date first if there is one (pivot_ledger.h), sorts every later block
    // on any core, and records those as owed. orderedBlocks is then not read.
    PivotLedger* ledger = nullptr;
    // The instruments to keep (bank/instrument_selection.h gives the list's
    // form): the bank is read whole, cut to them and the waves they use, and
    // the smaller bank converted. Empty: the whole input, byte for byte.
    std::string instruments;
    // Input bytes finished (compressed and handed on), and the input's length
    // (UINT64_MAX when unknown). May be empty.
    std::function<void(const JobProgress&)> progress;
    // Called now and then while the job reads before converting (with a
    // ledger: its scan of the input, the earlier inputs read again), with the
    // bytes done and in all of that step. May be empty.
    std::function<void(const JobProgress&)> preparing;
    // Sees every input byte once, in order, as it is read. May be empty.
    std::function<void(std::span<const std::uint8_t>)> inspect;
    // For tests of --verify: faults put into a frame just coded (block index,
    // frame), or into the complete document before it is checked. Empty else.
    std::function<void(std::size_t, std::span<std::uint8_t>)> damageFrame;
    std::function<void(OutputFile&)> damageDocument;
};

struct JobReport {
    // For "dls2mml: PATH: words": PATH is the output's when the fault's place
    // is the output (and it has a path), else the input's.
    Fault fault;
    std::vector<std::string> notes; // said on success too ("file changed while it was read")
    std::string outputPath;
    std::uint64_t inputBytes = 0;
    std::uint64_t streamBytes = 0;   // the whole stream, its 12-byte header included
    std::uint64_t documentBytes = 0;
    // With instruments chosen: the bank before the cut (inputBytes is the
    // cut bank's), and what was kept of it.
    std::uint64_t wholeBankBytes = 0;
    std::uint64_t instrumentsKept = 0;
    std::uint64_t instrumentsInBank = 0;
    std::uint64_t wavesKept = 0;
    std::uint64_t wavesInBank = 0;
    bool ok() const noexcept { return fault.ok(); }
};

JobReport runConversionJob(const JobRequest& request);

// Puts the block sort's process-wide pivot state back where a newly started
// program has it (the page's "Start afresh"); a later document then comes out
// as from a fresh run.
void startPivotStateAfresh();

} // namespace dls2mml
