#include "shell/sort_plan.h"

#include <algorithm>
#include <map>
#include <memory>
#include <new>

#include "compressor/block_compressor.h"
#include "compressor/equal_rotations.h"
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

} // namespace

std::int64_t lastBlockNeedingState(const std::string& path)
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
    return lastBlockNeedingState(*input);
}

std::int64_t lastBlockNeedingState(InputFile& input, const std::function<void()>& perBlock)
{
    try {
        ByteBuffer slice(blockSizeForLevel1);
        ByteBuffer prepassed(bufferSizeForLevel1);
        std::int64_t last = noBlockNeedsState;
        for (std::int64_t index = 0;; ++index) {
            std::size_t got = 0;
            if (!readFullSlice(input, slice.span(), got))
                return cannotScan;
            if (got == 0)
                return last;
            if (sliceHasEqualRotations(slice.span().first(got), prepassed.span()))
                last = index;
            if (perBlock)
                perBlock();
            if (got < slice.size)
                return last;
        }
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

std::vector<std::uint64_t> planSorts(const std::vector<std::string>& paths)
{
    std::vector<std::uint64_t> ordered(paths.size(), 0);
    std::map<std::string, std::int64_t> scanned; // a file named twice is read once
    for (std::size_t i = paths.size(); i-- > 0;) {
        auto found = scanned.find(paths[i]);
        if (found == scanned.end())
            found = scanned.emplace(paths[i], lastBlockNeedingState(paths[i])).first;
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
