// Work memory on POSIX systems: arrays of 2 MiB and more are mapped on a 2 MiB
// boundary and advised to use large pages (a no-op where the kernel has none).
#include <sys/mman.h>

#include <cstdint>
#include <new>

#include "compressor/work_memory.h"

namespace dls2mml {
namespace {

constexpr std::size_t largePage = std::size_t{2} << 20;

std::size_t mappedLength(std::size_t bytes) { return (bytes + largePage - 1) / largePage * largePage; }

} // namespace

void* obtainWorkMemory(std::size_t bytes)
{
    if (bytes < largePage)
        return ::operator new(bytes);
    const std::size_t length = mappedLength(bytes);
    void* mapped = ::mmap(nullptr, length + largePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        throw std::bad_alloc();
    // Keep the aligned part only.
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (start + largePage - 1) / largePage * largePage;
    if (aligned > start)
        ::munmap(mapped, aligned - start);
    const std::uintptr_t end = start + length + largePage;
    if (end > aligned + length)
        ::munmap(reinterpret_cast<void*>(aligned + length), end - (aligned + length));
#ifdef MADV_HUGEPAGE
    ::madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);
#endif
    return reinterpret_cast<void*>(aligned);
}

void releaseWorkMemory(void* memory, std::size_t bytes) noexcept
{
    if (!memory)
        return;
    if (bytes < largePage)
        ::operator delete(memory);
    else
        ::munmap(memory, mappedLength(bytes));
}

} // namespace dls2mml
