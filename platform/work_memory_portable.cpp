// Work memory from the ordinary heap, for platforms without large-page advice.
#include <new>

#include "compressor/work_memory.h"

namespace dls2mml {

void* obtainWorkMemory(std::size_t bytes) { return ::operator new(bytes); }

void releaseWorkMemory(void* memory, std::size_t) noexcept { ::operator delete(memory); }

} // namespace dls2mml
