// Compresses a sequence of slices on one or more threads, frames in input order.
//
// Every thread takes the next slice in input order and carries it through
// every stage: pre-pass, block sort, rank transform, rank symbols, range
// coder. Frames leave in input order, so a frame finished early waits (at
// most a few blocks ahead of the one the sink takes next).
//
// The pivot draws: the first orderedBlocks blocks are sorted one after
// another, strictly in input order, with the process-wide pivotGenerator, so
// their draws, and the generator's state after them, are exactly those of a
// one-threaded run. Every later block is sorted on whichever thread has it by
// sortDistinctRotations, which draws nothing: a block whose rotations are all
// distinct has one sorted order whatever the draws, and such a block is
// checked for equal rotations first; one that has them stops the pipeline
// with inputChanged, as the caller had promised that none would come.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "compressor/frame_hints.h"
#include "fault/fault_kind.h"

namespace dls2mml {

// Why the pipeline stopped: a few of the common kinds, with their values.
enum class PipelineFault : std::uint8_t {
    none = kindValue(FaultKind::none),
    readFailed = kindValue(FaultKind::readFailed),     // the slice reader said no
    sinkFailed = kindValue(FaultKind::writeFailed),    // the frame sink said no
    sortFailed = kindValue(FaultKind::compressFailed), // the block sort's check failed
    outOfMemory = kindValue(FaultKind::outOfMemory),
    inputChanged = kindValue(FaultKind::inputChanged),
    checkFailed = kindValue(FaultKind::verifyFailed),  // the frame check said no
};

struct PipelineResult {
    PipelineFault fault = PipelineFault::none;
    std::uint64_t inputLength = 0;
};

// Fills buffer with the next slice; got < buffer.size() only at the end of the
// input. False on a read error (the reader keeps its own reason). Called from
// one thread at a time, in input order.
using SliceReader = std::function<bool(std::span<std::uint8_t> buffer, std::size_t& got)>;
// Takes one frame, in input order, from one thread at a time; false stops the pipeline.
using FrameSink = std::function<bool(std::span<const std::uint8_t> frame)>;

// Judges a block's frame against the slice it was made from, on the thread
// that coded it, before the frame goes on, with what the coder knew of the
// block to confirm; false stops the pipeline with checkFailed (the check keeps
// its own reason). Called from several threads at once.
using FrameCheck = std::function<bool(std::size_t block, std::span<const std::uint8_t> slice, std::span<const std::uint8_t> frame,
                                      const FrameHints& hints)>;
// Changes a frame just coded, before it is checked: a faulty stage, for tests.
using FrameDamage = std::function<void(std::size_t block, std::span<std::uint8_t> frame)>;

inline constexpr std::uint64_t allBlocksOrdered = UINT64_MAX;

struct PipelineOptions {
    // Threads in all, the calling thread included; 0: one per core. With 1 no
    // thread is started and every stage runs on the calling thread. A thread
    // that cannot be started leaves the work to the others, with the same output.
    unsigned threads = 1;
    // Blocks from the start whose sort draws from the process-wide generator in order.
    std::uint64_t orderedBlocks = allBlocksOrdered;
    FrameCheck check;   // may be empty
    FrameDamage damage; // empty but in tests
};

// One block through every stage, for callers that schedule blocks themselves
// (the page's workers): the same steps each thread of the pipeline takes.
struct BlockWork;
struct BlockWorkDeleter {
    void operator()(BlockWork* work) const noexcept;
};
using BlockWorkPtr = std::unique_ptr<BlockWork, BlockWorkDeleter>;
// The buffers one block needs, made once and reused; null without memory.
BlockWorkPtr makeBlockWork() noexcept;

enum class BlockSortKind {
    drawsPivots,       // the sort that draws from the process-wide generator: blocks in input order only
    distinctRotations, // draws nothing; a block with equal rotations is refused (inputChanged)
};

// Pre-passes slice (1 .. 524,288 bytes) and sorts it; then codes it into
// frame (frameBound(slice.size()) bytes). frameLength: the frame's bytes.
PipelineFault codeOneBlock(std::span<const std::uint8_t> slice, BlockSortKind sort, BlockWork& work,
                           std::span<std::uint8_t> frame, std::size_t& frameLength) noexcept;

// Runs every slice through the block pipeline; stops after the first fault.
PipelineResult compressSlices(const SliceReader& reader, const FrameSink& sink, const PipelineOptions& options = {});

// The thread count that 0 stands for: the machine's cores (at least 1).
unsigned threadsForCores() noexcept;
// The threads to run for a requested count (0: one per core); 1 in a browser
// build without shared memory, which has no threads to start.
unsigned threadsToRun(unsigned requested) noexcept;
// Slices in flight at most, from reading to their verdict or frame handed on,
// with threads threads: two more than the threads. With one more only, a
// helper that finished an older slice while the owner ran the one queued
// found nothing to take (the newer ones wait behind its own until the owner
// comes back to hand them on): converting a 40 MB bank with two threads it
// stood idle 25 to 150 ms.
constexpr std::size_t slicesInFlight(unsigned threads) noexcept
{
    return threads > 1 ? std::size_t{threads} + 2 : 1;
}

} // namespace dls2mml
