// The conversion job in steps that a face schedules itself, as the page does
// across its workers, each with its own memory and no shared threads:
//
//   plan      lastBlockNeedingState (sort_plan.h): blocks 0..L must be sorted
//             in order with the process-wide pivot state, the rest need none;
//   a block   BlockCoder: one slice's frame, sorted with the pivot state (in
//             input order, on the one instance that holds the state) or
//             without it (anywhere), with its slice's digest for the ledger
//             of owed draws (pivot_ledger.h);
//   assembly  DocumentAssembly: the frames, in input order, into the stream
//             and the document, exactly as runConversionJob writes it.
//
// runConversionJob codes its blocks through the same stage functions
// (compressor/block_pipeline.h) and writes through the same document stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "compressor/block_pipeline.h"
#include "shell/conversion_job.h"

namespace dls2mml {

class DocumentStream;

// Bytes of one slice: every block but the last holds this many.
std::size_t blockSliceBytes() noexcept;

class BlockCoder {
public:
    BlockCoder() noexcept;
    bool ready() const noexcept { return work_ != nullptr; }

    // Room for one slice and for its frame, for faces that fill and read
    // them in place.
    std::span<std::uint8_t> slice() noexcept;
    std::span<const std::uint8_t> frame() const noexcept;

    // Codes the first length bytes of slice() into frame(); returns the frame's
    // length, 0 on failure (failure() says which). withPivotState: this block
    // is the next in the run's order of draws; without it the block must have
    // distinct rotations (the plan said so), else inputChanged.
    std::size_t code(std::size_t length, bool withPivotState) noexcept;
    FaultKind failure() const noexcept { return failure_; }
    // The CRC-64 of the slice last coded, for the ledger of owed draws
    // (pivot_ledger.h), which checks a block read again against it.
    std::uint64_t sliceDigest() const noexcept { return sliceDigest_; }

private:
    BlockWorkPtr work_;
    std::unique_ptr<std::uint8_t[]> slice_;
    std::unique_ptr<std::uint8_t[]> frame_;
    std::size_t frameLength_ = 0;
    FaultKind failure_ = FaultKind::none;
    std::uint64_t sliceDigest_ = 0;
};

class DocumentAssembly {
public:
    DocumentAssembly();
    ~DocumentAssembly();
    DocumentAssembly(const DocumentAssembly&) = delete;
    DocumentAssembly& operator=(const DocumentAssembly&) = delete;

    // Opens the document's output for a bank of inputLength bytes: request's
    // path gives its name (the output-name rule) unless output is given.
    // A failed report names why.
    JobReport start(const JobRequest& request, std::uint64_t inputLength);
    // The next frame in input order, made from sliceLength bytes of input.
    bool addFrame(std::span<const std::uint8_t> frame, std::size_t sliceLength);
    // Writes what is left and commits the document; the report as the job's.
    JobReport finish();
    // Gives up: no document, an earlier one stays. detail follows the failure's words.
    JobReport abandon(FaultKind failure, const std::string& detail = {});

private:
    struct Open;
    std::unique_ptr<Open> open_;
    JobReport report_;
};

} // namespace dls2mml
