// The spool's copy to standard output: every byte once and in order whatever
// lengths the reads give, and the first failure of a read or a write ends the
// copy with that failure as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/file_system.h"
#include "platform/spool_copy.h"

namespace dls2mml {
namespace {

std::vector<std::uint8_t> numbered(std::size_t count)
{
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    return bytes;
}

TEST(SpoolCopy, CopiesEveryByteInOrderWhateverTheReadsGive)
{
    struct Case {
        const char* name;
        std::size_t length;
        std::size_t readLimit; // a read gives at most this many bytes
    };
    const Case cases[] = {
        {"empty spool", 0, readChunk},
        {"one byte", 1, readChunk},
        {"exactly one piece", readChunk, readChunk},
        {"one piece and one byte", readChunk + 1, readChunk},
        {"three pieces less one byte", 3 * readChunk - 1, readChunk},
        {"short reads of an odd length", readChunk + 12345, 4099},
        {"one byte a read", 5000, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<std::uint8_t> spool = numbered(c.length);
        std::vector<std::uint8_t> out;
        std::size_t largestPiece = 0;
        const auto readAt = [&](std::uint64_t offset, std::span<std::uint8_t> piece, std::size_t& got) {
            largestPiece = std::max(largestPiece, piece.size());
            got = std::min({piece.size(), c.readLimit, static_cast<std::size_t>(spool.size() - offset)});
            std::copy_n(spool.begin() + static_cast<std::ptrdiff_t>(offset), got, piece.begin());
            return IoStatus{};
        };
        const auto writeOut = [&](std::span<const std::uint8_t> bytes) {
            EXPECT_FALSE(bytes.empty());
            out.insert(out.end(), bytes.begin(), bytes.end());
            return IoStatus{};
        };
        EXPECT_TRUE(copySpoolOut(readAt, writeOut));
        EXPECT_EQ(out, spool);
        EXPECT_EQ(largestPiece, readChunk);
    }
}

TEST(SpoolCopy, TheFirstFailureEndsTheCopyAsItWas)
{
    struct Case {
        const char* name;
        int failingRead; // the call that fails, counted from 0; -1: none
        int failingWrite;
        IoError error;
        const char* detail;
        std::size_t written; // bytes that reached the output before the failure
    };
    const std::size_t length = 3 * readChunk;
    const Case cases[] = {
        {"first read", 0, -1, IoError::writeFailed, "Input/output error", 0},
        {"third read", 2, -1, IoError::writeFailed, "Input/output error", 2 * readChunk},
        {"first write", -1, 0, IoError::diskFull, "No space left on device", 0},
        {"second write", -1, 1, IoError::writeFailed, "Broken pipe", readChunk},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<std::uint8_t> spool = numbered(length);
        std::size_t written = 0;
        int reads = 0, writes = 0;
        const auto readAt = [&](std::uint64_t offset, std::span<std::uint8_t> piece, std::size_t& got) {
            if (reads++ == c.failingRead)
                return IoStatus{c.error, c.detail};
            got = std::min(piece.size(), static_cast<std::size_t>(spool.size() - offset));
            return IoStatus{};
        };
        const auto writeOut = [&](std::span<const std::uint8_t> bytes) {
            if (writes++ == c.failingWrite)
                return IoStatus{c.error, c.detail};
            written += bytes.size();
            return IoStatus{};
        };
        const IoStatus status = copySpoolOut(readAt, writeOut);
        EXPECT_EQ(status.error, c.error);
        EXPECT_EQ(status.detail, c.detail);
        EXPECT_EQ(written, c.written);
        EXPECT_EQ(reads + writes, c.failingRead >= 0 ? 2 * c.failingRead + 1 : 2 * c.failingWrite + 2);
    }
}

} // namespace
} // namespace dls2mml
