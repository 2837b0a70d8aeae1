#include "shell/sort_plan.h"

#include <algorithm>
#include <map>
#include <memory>
#include <new>

#include "compressor/block_compressor.h"
#include "compressor/block_pipeline.h"
#include "compressor/equal_rotations.h"
#include "compressor/ordered_pool.h"
#include "platform/file_system.h"

namespace dls2mml {
namespace {

IoStatus readFullSlice(InputFile& input, std::span<std::uint8_t> buffer, std::size_t& got)
{
    got = 0;
    while (got < buffer.size()) {
        std::size_t n = 0;
        if (IoStatus status = input.read(buffer.subspan(got), n); !status)
            return status;
        if (n == 0)
            break;
        got += n;
    }
    return {};
}

// One slice of the scan, and what was found in it.
struct ScannedSlice {
    ByteBuffer bytes{blockSizeForLevel1};
    std::size_t got = 0;
    std::int64_t index = 0;
    bool equalRotations = false;
};
struct ScanScratch {
    ByteBuffer prepassed{bufferSizeForLevel1};
};

} // namespace

std::int64_t lastBlockNeedingState(const std::string& path, unsigned threads)
{
    if (path == "-")
        return cannotScan;
    // Only a regular file can be read twice. Anything else is not even
    // opened: opening a named pipe here and closing it again would let its
    // writer fail or end before the conversion opens it.
    if (!isRegularFile(path))
        return cannotScan;
    std::unique_ptr<InputFile> input;
    if (!openInputFile(path, input) || input->size() == UINT64_MAX)
        return cannotScan;
    return lastBlockNeedingState(*input, {}, threads);
}

std::int64_t lastBlockNeedingState(InputFile& input, const std::function<void()>& perBlock, unsigned threads)
{
    threads = threadsToRun(threads);
    try {
        // The slices are read here, in order, and looked at on any thread;
        // their verdicts come back in order, as many in flight as a
        // conversion keeps.
        OrderedPool<ScannedSlice, ScanScratch> pool(threads, [](ScannedSlice& slice, ScanScratch& scratch) {
            slice.equalRotations = sliceHasEqualRotations(slice.bytes.span().first(slice.got), scratch.prepassed.span());
        });
        const std::size_t window = slicesInFlight(threads);
        std::int64_t last = noBlockNeedsState;
        const auto record = [&](ScannedSlice& slice) {
            if (slice.equalRotations)
                last = slice.index;
            if (perBlock)
                perBlock();
            return true;
        };
        for (std::int64_t index = 0;; ++index) {
            std::unique_ptr<ScannedSlice> slice = pool.spare();
            slice->index = index;
            if (!readFullSlice(input, slice->bytes.span(), slice->got))
                return cannotScan; // the pool, as it goes, waits for the slices in flight
            if (slice->got == 0)
                break;
            const bool lastSlice = slice->got < slice->bytes.size;
            pool.submit(std::move(slice));
            pool.handOn(window, record);
            if (lastSlice)
                break;
        }
        pool.handOn(0, record);
        return last;
    } catch (const std::bad_alloc&) {
        return cannotScan;
    }
}

std::int64_t lastBlockNeedingState(std::span<const std::uint8_t> bytes)
{
    try {
        ByteBuffer prepassed(bufferSizeForLevel1);
        std::int64_t last = noBlockNeedsState;
        std::int64_t index = 0;
        for (std::size_t at = 0; at < bytes.size(); at += blockSizeForLevel1, ++index) {
            const std::span<const std::uint8_t> slice = bytes.subspan(at, std::min(blockSizeForLevel1, bytes.size() - at));
            if (sliceHasEqualRotations(slice, prepassed.span()))
                last = index;
        }
        return last;
    } catch (const std::bad_alloc&) {
        return cannotScan;
    }
}

std::vector<std::uint64_t> planSorts(const std::vector<std::string>& paths, unsigned threads)
{
    std::vector<std::uint64_t> ordered(paths.size(), 0);
    std::map<std::string, std::int64_t> scanned; // a file named twice is read once
    for (std::size_t i = paths.size(); i-- > 0;) {
        auto found = scanned.find(paths[i]);
        if (found == scanned.end())
            found = scanned.emplace(paths[i], lastBlockNeedingState(paths[i], threads)).first;
        const std::int64_t last = found->second;
        if (last == noBlockNeedsState)
            continue;
        // Everything before this block keeps the exact state.
        ordered[i] = last == cannotScan ? UINT64_MAX : static_cast<std::uint64_t>(last) + 1;
        for (std::size_t j = 0; j < i; ++j)
            ordered[j] = UINT64_MAX;
        break;
    }
    return ordered;
}

} // namespace dls2mml
