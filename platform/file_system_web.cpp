// The browser's file calls for the conversion job, in a Web Worker.
//
// The input is the File the worker is working on, read a slice at a time
// with the worker's synchronous reader, so a bank is never held whole. The
// output can be written at any offset (the sizes line is written last): a
// file in the browser's private storage where the page has it, else 1 MiB
// pages on the JavaScript side that become a Blob on commit. The functions
// called here are defined in worker.js.
#include "platform/file_system.h"

#include <emscripten.h>

namespace dls2mml {
namespace {

// clang-format off
EM_JS(double, webInputSize, (), { return webIo.inputSize(); });
EM_JS(double, webInputRead, (std::uint8_t* buffer, std::size_t length), { return webIo.inputRead(buffer, length); });
EM_JS(int, webOutputOpen, (), { return webIo.outputOpen(); });
EM_JS(int, webOutputWriteAt, (double offset, const std::uint8_t* bytes, std::size_t length),
      { return webIo.outputWriteAt(offset, bytes, length); });
EM_JS(int, webOutputReadAt, (double offset, std::uint8_t* bytes, std::size_t length),
      { return webIo.outputReadAt(offset, bytes, length); });
EM_JS(void, webOutputTruncate, (double length), { webIo.outputTruncate(length); });
EM_JS(void, webOutputCommit, (), { webIo.outputCommit(); });
EM_JS(void, webOutputDiscard, (), { webIo.outputDiscard(); });
// clang-format on

// What webOutputWriteAt returns.
enum WebWrite : int { outOfMemory = 0, written = 1, storageRefused = 2 };

IoStatus writeFailure(int result)
{
    if (result == storageRefused)
        return {IoError::writeFailed, "the browser's storage refused the document (no room left?)"};
    return {IoError::writeFailed, "out of memory"};
}

class WebInputFile final : public InputFile {
public:
    explicit WebInputFile(std::uint64_t size) : size_(size) {}
    std::uint64_t size() const noexcept override { return size_; }
    IoStatus read(std::span<std::uint8_t> buffer, std::size_t& got) noexcept override
    {
        const double n = webInputRead(buffer.data(), buffer.size());
        if (n < 0) {
            got = 0;
            return {IoError::cannotRead, "the browser could not read the file"};
        }
        got = static_cast<std::size_t>(n);
        return {};
    }

private:
    std::uint64_t size_;
};

// Sequential writes go on where the last one ended; positioned writes leave
// that place alone, as a file's own position would.
class WebOutputFile final : public OutputFile {
public:
    ~WebOutputFile() override
    {
        if (!committed_)
            webOutputDiscard();
    }
    IoStatus write(std::span<const std::uint8_t> bytes) noexcept override
    {
        IoStatus status = writeAt(position_, bytes);
        position_ += bytes.size();
        return status;
    }
    bool seekable() const noexcept override { return true; }
    IoStatus writeAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) noexcept override
    {
        const int result = webOutputWriteAt(static_cast<double>(offset), bytes.data(), bytes.size());
        if (result != written)
            return writeFailure(result);
        return {};
    }
    IoStatus readAt(std::uint64_t offset, std::span<std::uint8_t> bytes) noexcept override
    {
        if (!webOutputReadAt(static_cast<double>(offset), bytes.data(), bytes.size()))
            return {IoError::writeFailed, "read past the document's end"};
        return {};
    }
    IoStatus truncate(std::uint64_t length) noexcept override
    {
        webOutputTruncate(static_cast<double>(length));
        return {};
    }
    IoStatus commit() noexcept override
    {
        webOutputCommit();
        committed_ = true;
        return {};
    }

private:
    std::uint64_t position_ = 0;
    bool committed_ = false;
};

// The page has no standard streams: reading finds nothing, writing fails.
class NoInput final : public InputFile {
public:
    std::uint64_t size() const noexcept override { return UINT64_MAX; }
    IoStatus read(std::span<std::uint8_t>, std::size_t& got) noexcept override
    {
        got = 0;
        return {IoError::cannotRead, "no standard input in the page"};
    }
};

class NoOutput final : public OutputFile {
public:
    IoStatus write(std::span<const std::uint8_t>) noexcept override
    {
        return {IoError::writeFailed, "no standard output in the page"};
    }
    IoStatus commit() noexcept override { return {}; }
};

} // namespace

// The path names the worker's current file; there is no other.
IoStatus openInputFile(const std::string&, std::unique_ptr<InputFile>& file)
{
    const double size = webInputSize();
    if (size < 0)
        return {IoError::cannotOpen, "the browser could not open the file"};
    file = std::make_unique<WebInputFile>(static_cast<std::uint64_t>(size));
    return {};
}

IoStatus createOutputFile(const std::string&, std::unique_ptr<OutputFile>& file, bool)
{
    if (!webOutputOpen())
        return {IoError::cannotCreate, "out of memory"};
    file = std::make_unique<WebOutputFile>();
    return {};
}

std::unique_ptr<OutputFile> standardOutput() { return std::make_unique<NoOutput>(); }

std::unique_ptr<InputFile> standardInput() { return std::make_unique<NoInput>(); }

bool pathExists(const std::string&) { return false; }

bool isRegularFile(const std::string&) { return false; }


} // namespace dls2mml
