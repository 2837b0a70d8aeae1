// The platform's file calls, behind a small interface so the conversion job
// stays portable. Paths are 8-bit strings in the platform's own encoding
// (the ANSI code page on Windows), passed through unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace dls2mml {

enum class IoError {
    none,
    notFound,     // "cannot open"
    cannotOpen,   // other open failures (permissions, ...)
    isFolder,
    cannotRead,
    cannotCreate, // the output (or its temporary) cannot be created
    writeFailed,
    diskFull,
};

struct IoStatus {
    IoError error = IoError::none;
    std::string detail; // the system's own words, may be empty
    explicit operator bool() const noexcept { return error == IoError::none; }
};

class InputFile {
public:
    virtual ~InputFile() = default;
    virtual std::uint64_t size() const noexcept = 0;
    // Reads up to buffer.size() bytes; got is 0 only at the end of the file.
    virtual IoStatus read(std::span<std::uint8_t> buffer, std::size_t& got) noexcept = 0;
};

// A document being written: bytes go to a temporary file in the target's
// folder, which replaces the target only on commit. Destroying an uncommitted
// file removes the temporary and leaves any earlier target untouched.
class OutputFile {
public:
    virtual ~OutputFile() = default;
    virtual IoStatus write(std::span<const std::uint8_t> bytes) noexcept = 0;
    virtual IoStatus commit() noexcept = 0;

    // Positioned access, for writing a document whose first line is known only
    // at the end. Files that cannot seek (pipes, devices) say so and are
    // written front to back with write() only.
    virtual bool seekable() const noexcept { return false; }
    // Where the written bytes can be read back before commit; empty if nowhere.
    virtual std::string pendingPath() const { return {}; }
    virtual IoStatus writeAt(std::uint64_t, std::span<const std::uint8_t>) noexcept { return {IoError::writeFailed, "cannot seek"}; }
    virtual IoStatus readAt(std::uint64_t, std::span<std::uint8_t>) noexcept { return {IoError::writeFailed, "cannot seek"}; }
    virtual IoStatus truncate(std::uint64_t) noexcept { return {IoError::writeFailed, "cannot seek"}; }
};

IoStatus openInputFile(const std::string& path, std::unique_ptr<InputFile>& file);
// exclusive: fail with cannotCreate if the target exists (commit never overwrites then).
IoStatus createOutputFile(const std::string& target, std::unique_ptr<OutputFile>& file, bool exclusive = false);
// Standard output in binary mode, as an OutputFile whose commit flushes.
std::unique_ptr<OutputFile> standardOutput();
// Standard input in binary mode (size() is unknown: returns UINT64_MAX).
std::unique_ptr<InputFile> standardInput();
bool pathExists(const std::string& path);
bool removeFile(const std::string& path);

} // namespace dls2mml
