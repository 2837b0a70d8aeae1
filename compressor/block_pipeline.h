// Compresses a sequence of slices on three threads.
//
// The calling thread reads each slice, pre-passes and sorts it; a second
// thread rank-transforms the block sorted before; a third codes the block
// before that (rank symbols, range coder) and hands its frame to the sink.
// Blocks are sorted strictly one after another on one thread, so the pivot
// draws, and with them every byte, are those of a one-threaded run. Two
// slots sit between each pair of stages, so at most two blocks wait at each.
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
