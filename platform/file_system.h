// The platform's file calls, behind a small interface so the conversion job
// stays portable. Paths are 8-bit strings: on POSIX systems the bytes the
// system holds, passed through unchanged; on Windows UTF-8, which the back end
// turns into UTF-16 for the system's wide calls (see utf16.h), so that every
// name works whatever the ANSI code page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "fault/fault.h"

namespace dls2mml {

// The kinds a file call reports (a subset of FaultKind, with the same values).
enum class IoError : std::uint8_t {
    none = kindValue(FaultKind::none),
    cannotOpen = kindValue(FaultKind::cannotOpen), // other open failures (permissions, ...)
    isFolder = kindValue(FaultKind::isFolder),
    cannotRead = kindValue(FaultKind::cannotRead),
    cannotCreate = kindValue(FaultKind::cannotCreate), // the output (or its temporary) cannot be created
    writeFailed = kindValue(FaultKind::writeFailed),
    diskFull = kindValue(FaultKind::diskFull),
};

struct IoStatus {
    IoError error = IoError::none;
    std::string detail; // the system's own words, may be empty
    explicit operator bool() const noexcept { return error == IoError::none; }
    FaultKind kind() const noexcept { return asFaultKind(error); }
};

// Which file a path or an open file is (device and inode on POSIX), so that an
// output can be told apart from the inputs whatever links lead to it.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool known = false;
    bool sameAs(const FileIdentity& other) const noexcept
    {
        return known && other.known && device == other.device && inode == other.inode;
    }
};

// The status in words, as the messages show it: "cannot open: <detail>",
// "is a folder", "disk full", ...; "ok" for success.
std::string describeIoStatus(const IoStatus& status);
// The status as a fault about the job's input or output file.
Fault faultOf(const IoStatus& status, FaultFile file = FaultFile::input);

class InputFile {
public:
    virtual ~InputFile() = default;
    virtual std::uint64_t size() const noexcept = 0;
    // Reads up to buffer.size() bytes; got is 0 only at the end of the file.
    virtual IoStatus read(std::span<std::uint8_t> buffer, std::size_t& got) noexcept = 0;

    virtual FileIdentity identity() const noexcept { return {}; }
    // The permission bits (0777 at most) of a regular file; negative when it has none.
    virtual int permissions() const noexcept { return -1; }
    // Opening the path again gives the same bytes (a regular file, not a pipe).
    virtual bool rereadable() const noexcept { return false; }
    // A regular file whose length or modification time moved since it was opened.
    virtual bool changedSinceOpen() const noexcept { return false; }
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

    // The file that commit writes or replaces, where it exists already.
    virtual FileIdentity identity() const noexcept { return {}; }
    // The written bytes, read from the start, before commit; null if they cannot be.
    virtual std::unique_ptr<InputFile> readBack() { return nullptr; }
    // Gives the result the input's permission bits (negative: the default for
    // a new file), never more than a file it replaces had.
    virtual IoStatus keepPermissions(int) noexcept { return {}; }
};

// The piece in which files are read where nothing else sets the size: large
// enough that a call costs little beside its bytes, small enough to stay in cache.
constexpr std::size_t readChunk = 1 << 18;

IoStatus openInputFile(const std::string& path, std::unique_ptr<InputFile>& file);
// exclusive: fail with cannotCreate if the target exists (commit never overwrites then).
IoStatus createOutputFile(const std::string& target, std::unique_ptr<OutputFile>& file, bool exclusive = false);
// Standard output in binary mode. Where the platform can, the bytes are held
// in an unnamed temporary file (which can seek) and copied out on commit, so
// nothing from a failed run reaches standard output and memory stays bounded.
std::unique_ptr<OutputFile> standardOutput();
// Standard input in binary mode (size() is unknown: returns UINT64_MAX).
std::unique_ptr<InputFile> standardInput();
// Bytes already in memory read as a file (the C library's and the page's
// buffers); the bytes must outlive the file.
std::unique_ptr<InputFile> memoryInput(std::span<const std::uint8_t> bytes);
bool pathExists(const std::string& path);
// The path names a file that can be opened and read again for the same bytes
// (a regular file, links followed), not a pipe, device or folder.
bool isRegularFile(const std::string& path);

// From now on, an interrupting signal (or Ctrl-C and console close) removes
// the temporaries that outputs still hold, then ends the process as it would
// have. Outputs are to be created on the thread that called this.
void removeTemporariesOnInterrupt();

} // namespace dls2mml
