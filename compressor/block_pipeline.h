// Compresses a sequence of slices on two threads.
//
// The calling thread reads each slice, pre-passes and sorts it; a worker
// thread rank-transforms, symbol-codes and range-codes the block sorted before
// and hands its frame to the sink. Blocks are sorted strictly one after
// another on one thread, so the pivot draws, and with them every byte, are
// those of a one-threaded run. Two slots of last columns sit between the
// threads, so at most two sorted blocks wait for coding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace dls2mml {

enum class PipelineFault { none, readFailed, sinkFailed, sortFailed, outOfMemory };

struct PipelineResult {
    PipelineFault fault = PipelineFault::none;
    std::uint64_t inputLength = 0;
};

// Fills buffer with the next slice; got < buffer.size() only at the end of the
// input. False on a read error (the reader keeps its own reason).
using SliceReader = std::function<bool(std::span<std::uint8_t> buffer, std::size_t& got)>;
// Takes one frame, in input order; false stops the pipeline.
using FrameSink = std::function<bool(std::span<const std::uint8_t> frame)>;

// Runs every slice through the block pipeline; stops after the first fault.
// With threads = false (or when no thread can be started) everything runs on
// the calling thread, with the same output.
PipelineResult compressSlices(const SliceReader& reader, const FrameSink& sink, bool threads = true);

} // namespace dls2mml
