// The document written while its stream is produced must equal the document
// written from the whole stream, whether the sizes line was estimated right,
// with too many or too few digits, or the input changed length meanwhile.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "shell/document/cue_point_document.h"
#include "shell/document/document_stream.h"
#include "support/document_support.h"
#include "support/test_support.h"

namespace dls2mml {
namespace {

using test::Bytes;
using test::wholeDocument;

// A seekable file in memory.
class MemoryFile final : public OutputFile {
public:
    IoStatus write(std::span<const std::uint8_t> bytes) noexcept override { return writeAt(end_, bytes); }
    IoStatus writeAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) noexcept override
    {
        if (bytes.empty())
            return {};
        if (data.size() < offset + bytes.size())
            data.resize(offset + bytes.size());
        std::memcpy(data.data() + offset, bytes.data(), bytes.size());
        end_ = std::max<std::uint64_t>(end_, offset + bytes.size());
        return {};
    }
    IoStatus readAt(std::uint64_t offset, std::span<std::uint8_t> bytes) noexcept override
    {
        if (offset + bytes.size() > data.size())
            return {IoError::writeFailed, "read past the end"};
        std::memcpy(bytes.data(), data.data() + offset, bytes.size());
        return {};
    }
    IoStatus truncate(std::uint64_t length) noexcept override
    {
        data.resize(length);
        end_ = length;
        return {};
    }
    bool seekable() const noexcept override { return canSeek; }
    IoStatus commit() noexcept override
    {
        committed = true;
        return {};
    }
    Bytes data;
    bool canSeek = true;
    bool committed = false;

private:
    std::uint64_t end_ = 0;
};

std::vector<Bytes> framesOfSizes(const std::vector<std::size_t>& sizes)
{
    std::mt19937 random(7);
    std::vector<Bytes> frames;
    for (std::size_t size : sizes) {
        Bytes frame(size);
        for (auto& b : frame)
            b = static_cast<std::uint8_t>(random());
        frames.push_back(frame);
    }
    return frames;
}

struct Case {
    const char* name;
    std::uint64_t expectedInput; // what the file's size said beforehand
    std::uint64_t actualInput;   // what was read
    std::vector<std::size_t> frameSizes;
    bool seekable;
};

TEST(DocumentStream, EqualsTheDocumentOfTheWholeStream)
{
    constexpr std::size_t block = blockSizeForLevel1;
    const Case cases[] = {
        {"held in memory", 3 * block, 3 * block, {900, 800, 700}, true},
        {"estimate right", 6 * block, 6 * block, {3000, 3000, 3000, 3000, 3000, 3000}, true},
        // The first frames compress badly, the later ones well: the estimate has a digit too many.
        {"estimate too long", 40 * block, 40 * block, {90000, 90000, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10,
                                                       10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10,
                                                       10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10}, true},
        // The other way round: a digit too few.
        {"estimate too short", 8 * block, 8 * block, {1000, 1000, 300000, 300000, 300000, 300000, 300000, 300000}, true},
        {"input grew while read", 4 * block, 4 * block + 5, {5000, 5000, 5000, 5000, 7}, true},
        {"input shrank while read", 4 * block, 3 * block + 1, {5000, 5000, 5000, 20}, true},
        {"output cannot seek", 6 * block, 6 * block, {3000, 3000, 3000, 3000, 3000, 3000}, false},
        {"text spanning many lines", 2 * block, 2 * block, {100000, 54321}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<Bytes> frames = framesOfSizes(c.frameSizes);
        MemoryFile file;
        file.canSeek = c.seekable;
        DocumentStream document(file, c.expectedInput, /*holdLimit=*/4000);
        for (const Bytes& frame : frames)
            ASSERT_TRUE(document.addFrame(frame));
        ASSERT_TRUE(document.finish(c.actualInput));
        EXPECT_FALSE(file.committed) << "committing is left to the caller";
        const std::string written(file.data.begin(), file.data.end());
        EXPECT_EQ(written, wholeDocument(c.actualInput, frames));
    }
}

// An input of unknown length (a pipe): an output that cannot seek holds the
// stream and writes it at the end; one that can is written from a guess and
// put right at the end, whatever the true length's digits.
TEST(DocumentStream, UnknownInputLengthIsHeldOrStreamedFromAGuess)
{
    struct UnknownCase {
        const char* name;
        bool seekable;
        std::uint64_t actualInput;
    };
    const UnknownCase cases[] = {
        {"cannot seek: held", false, 1234567},
        {"can seek, as long as the guess", true, 2 * blockSizeForLevel1},
        {"can seek, one digit longer", true, 12345678},
        {"can seek, shorter than the guess", true, 700},
    };
    const std::vector<Bytes> frames = framesOfSizes({6000, 6000, 100});
    for (const UnknownCase& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryFile file;
        file.canSeek = c.seekable;
        DocumentStream document(file, UINT64_MAX, 4000);
        for (const Bytes& frame : frames)
            ASSERT_TRUE(document.addFrame(frame));
        if (!c.seekable)
            EXPECT_TRUE(file.data.empty()) << "nothing may be written before the length is known";
        else
            EXPECT_FALSE(file.data.empty()) << "the text goes to the file as it comes";
        ASSERT_TRUE(document.finish(c.actualInput));
        EXPECT_EQ(std::string(file.data.begin(), file.data.end()), wholeDocument(c.actualInput, frames));
    }
}

} // namespace
} // namespace dls2mml
