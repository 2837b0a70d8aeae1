// Buffers the decoding stages write a block into, block after block. Each is
// sized for the most a block may hold and cut to what the block holds; a
// std::vector would clear every element it grows by, so a buffer cut short
// by one block would be cleared again for the next (a megabyte of stores per
// block, and more than the stage's own work for some). These leave the new
// elements as they are: every stage writes each element it hands on before
// anything reads it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <utility>
#include <vector>

namespace dls2mml {

// std::allocator, but elements made without arguments are left uninitialised.
template <class T>
struct UninitialisedAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = UninitialisedAllocator<U>;
    };
    UninitialisedAllocator() noexcept = default;
    template <class U>
    UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept
    {
    }
    template <class U>
    void construct(U* place) noexcept
    {
        ::new (static_cast<void*>(place)) U;
    }
    template <class U, class... Arguments>
    void construct(U* place, Arguments&&... arguments)
    {
        ::new (static_cast<void*>(place)) U(std::forward<Arguments>(arguments)...);
    }
};

using ReusedBytes = std::vector<std::uint8_t, UninitialisedAllocator<std::uint8_t>>;
using ReusedWords = std::vector<std::uint32_t, UninitialisedAllocator<std::uint32_t>>;

// The first n elements of buffer, grown to n if shorter. Room for the most
// (up to most elements) is taken the first time: only the pages written
// become memory in use, and the buffer never moves again. What it held
// before is not kept.
template <typename Buffer>
std::span<typename Buffer::value_type> grown(Buffer& buffer, std::size_t n, std::size_t most)
{
    if (buffer.size() < n) {
        if (buffer.capacity() < n) {
            buffer.clear();
            buffer.reserve(std::max(n, most));
        }
        buffer.resize(n);
    }
    return {buffer.data(), n};
}

} // namespace dls2mml
