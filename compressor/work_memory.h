// Memory for the large work arrays of the block pipeline: obtained uncleared.
// Where the platform allows it, large arrays are backed by 2 MiB pages, so
// first use costs a few page faults instead of one per 4 KiB: for a small
// bank those faults otherwise weigh as much as the coding itself.
#pragma once

#include <cstddef>
#include <memory>

namespace dls2mml {

// Throws std::bad_alloc when the memory cannot be obtained.
void* obtainWorkMemory(std::size_t bytes);
void releaseWorkMemory(void* memory, std::size_t bytes) noexcept;

struct WorkMemoryRelease {
    std::size_t bytes = 0;
    void operator()(void* memory) const noexcept { releaseWorkMemory(memory, bytes); }
};

template <class T>
using WorkArray = std::unique_ptr<T[], WorkMemoryRelease>;

// For plain element types only (integers, bytes, plain structures).
template <class T>
WorkArray<T> makeWorkArray(std::size_t count)
{
    if (count == 0)
        return WorkArray<T>(nullptr, WorkMemoryRelease{0});
    const std::size_t bytes = count * sizeof(T);
    return WorkArray<T>(static_cast<T*>(obtainWorkMemory(bytes)), WorkMemoryRelease{bytes});
}

} // namespace dls2mml
