// Copying a spool (the temporary file that holds standard output until the
// whole document or bank is there) out to standard output, in pieces of
// readChunk bytes so memory stays bounded whatever the length. The loop is
// the same on every system; each back end gives its own two calls: one that
// reads at an offset, one that writes a piece to standard output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <span>
#include <vector>

#include "platform/file_system.h"

namespace dls2mml {

// readAt(offset, piece, got): fills up to piece.size() bytes read at offset;
// got is 0 only at the spool's end. writeOut(bytes): writes all of them.
// The first failure of either is returned as it is; running out of memory
// for the piece is a write failure.
template <class ReadAt, class WriteOut>
IoStatus copySpoolOut(ReadAt&& readAt, WriteOut&& writeOut) noexcept
{
    std::vector<std::uint8_t> buffer;
    try {
        buffer.resize(readChunk);
    } catch (const std::bad_alloc&) {
        return {IoError::writeFailed, "out of memory"};
    }
    for (std::uint64_t offset = 0;;) {
        std::size_t got = 0;
        if (IoStatus status = readAt(offset, std::span(buffer), got); !status)
            return status;
        if (got == 0)
            return {};
        if (IoStatus status = writeOut(std::span<const std::uint8_t>(buffer).first(got)); !status)
            return status;
        offset += got;
    }
}

} // namespace dls2mml
