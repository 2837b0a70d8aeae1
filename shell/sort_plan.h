// Where in a run of several inputs the pivot state must stay exact.
//
// The block sort draws its pivots from one process-wide state, and only a
// block with equal rotations (one that repeats a shorter string after the
// run-length pre-pass) has an output that depends on it; that state is the
// result of every draw made before, in every file of the run. So every block
// up to the last such block of the whole run must be sorted in order with that
// state; every block after it may be sorted on any core.
//
// planSorts reads each input once beforehand, pre-passes each slice and looks
// for equal rotations (no sorting, so it runs far faster than converting).
// An input that cannot be read twice (standard input, a pipe, a device) or
// that cannot be scanned counts as if its last block had equal rotations.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace dls2mml {

// For each path, in run order: how many of its blocks from the start must be
// sorted in order (UINT64_MAX: all of them), for JobRequest::orderedBlocks.
// "-" stands for standard input. threads: as for a conversion (0: one per core).
std::vector<std::uint64_t> planSorts(const std::vector<std::string>& paths, unsigned threads = 1);

// The last block of one input whose output depends on the pivot state: its
// index, -1 when there is none, -2 when the input cannot be scanned.
inline constexpr std::int64_t noBlockNeedsState = -1;
inline constexpr std::int64_t cannotScan = -2;
std::int64_t lastBlockNeedingState(const std::string& path, unsigned threads = 1);

class InputFile;
// The same for an input already open, read from where it stands to its end
// (cannotScan when a read fails); perBlock, if given, is called after each
// block, on the calling thread (the window shows the system it is alive).
// With more than one thread the slices read are pre-passed and looked at on
// every thread, the calling one included; 0: one thread per core.
std::int64_t lastBlockNeedingState(InputFile& input, const std::function<void()>& perBlock = {}, unsigned threads = 1);
// The same for an input held in memory (a bank cut to some instruments).
std::int64_t lastBlockNeedingState(std::span<const std::uint8_t> bytes);

} // namespace dls2mml
