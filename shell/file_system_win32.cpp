// Windows file calls for the conversion job. Every call is the ANSI ("A")
// variant, so paths in the ANSI code page (code page 932 on a Japanese system)
// pass through byte for byte.
#include "shell/file_system.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace dls2mml {
namespace {

// The system's own words for an error code, without the trailing line break.
std::string systemWords(DWORD code)
{
    char text[512];
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                        text, sizeof text, nullptr);
    std::string words(text, length);
    while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' ' || words.back() == '.'))
        words.pop_back();
    if (words.empty())
        words = "error " + std::to_string(code);
    return words;
}

IoStatus failure(IoError error, DWORD code) { return {error, code ? systemWords(code) : std::string()}; }

bool isDiskFull(DWORD code) { return code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL; }

bool isMissing(DWORD code)
{
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND || code == ERROR_INVALID_NAME ||
           code == ERROR_BAD_NETPATH || code == ERROR_INVALID_DRIVE;
}

// Largest single ReadFile/WriteFile request (the calls count in 32 bits).
constexpr std::size_t maxTransfer = 1u << 30;

// A move over a document that another program holds open is tried this often.
constexpr int renameAttempts = 11; // the first and ten more
constexpr DWORD renamePauseMs = 50;

class Win32InputFile final : public InputFile {
public:
    Win32InputFile(HANDLE handle, std::uint64_t size) : handle_(handle), size_(size) {}
    ~Win32InputFile() override { CloseHandle(handle_); }
    std::uint64_t size() const noexcept override { return size_; }
    IoStatus read(std::span<std::uint8_t> buffer, std::size_t& got) noexcept override
    {
        got = 0;
        DWORD n = 0;
        const DWORD request = static_cast<DWORD>(std::min(buffer.size(), maxTransfer));
        if (!ReadFile(handle_, buffer.data(), request, &n, nullptr)) {
            const DWORD code = GetLastError();
            if (code == ERROR_HANDLE_EOF || code == ERROR_BROKEN_PIPE)
                return {};
            return failure(IoError::cannotRead, code);
        }
        got = n;
        return {};
    }

private:
    HANDLE handle_;
    std::uint64_t size_;
};

// Writes to a temporary beside the target and moves it over the target on
// commit, so a failed write never leaves a partial document nor harms an
// earlier one.
class Win32OutputFile final : public OutputFile {
public:
    Win32OutputFile(HANDLE handle, std::string target, std::string temporary, bool exclusive)
        : handle_(handle), target_(std::move(target)), temporary_(std::move(temporary)), exclusive_(exclusive)
    {
    }
    ~Win32OutputFile() override
    {
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
        if (!committed_)
            DeleteFileA(temporary_.c_str());
    }
    // Front-to-back writes keep their own position: a positioned WriteFile
    // moves the file pointer on Windows, so write() after writeAt() must not
    // rely on it (positioned calls leave write()'s position alone, as
    // pwrite does).
    IoStatus write(std::span<const std::uint8_t> bytes) noexcept override
    {
        IoStatus status = writeAt(end_, bytes);
        if (status)
            end_ += bytes.size();
        return status;
    }
    bool seekable() const noexcept override { return true; }
    std::string pendingPath() const override { return temporary_; }
    IoStatus writeAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) noexcept override
    {
        while (!bytes.empty()) {
            OVERLAPPED at{};
            at.Offset = static_cast<DWORD>(offset);
            at.OffsetHigh = static_cast<DWORD>(offset >> 32);
            DWORD written = 0;
            const DWORD request = static_cast<DWORD>(std::min(bytes.size(), maxTransfer));
            if (!WriteFile(handle_, bytes.data(), request, &written, &at)) {
                const DWORD code = GetLastError();
                return failure(isDiskFull(code) ? IoError::diskFull : IoError::writeFailed, code);
            }
            if (written == 0)
                return failure(IoError::writeFailed, ERROR_WRITE_FAULT);
            bytes = bytes.subspan(written);
            offset += written;
        }
        return {};
    }
    IoStatus readAt(std::uint64_t offset, std::span<std::uint8_t> bytes) noexcept override
    {
        while (!bytes.empty()) {
            OVERLAPPED at{};
            at.Offset = static_cast<DWORD>(offset);
            at.OffsetHigh = static_cast<DWORD>(offset >> 32);
            DWORD got = 0;
            const DWORD request = static_cast<DWORD>(std::min(bytes.size(), maxTransfer));
            if (!ReadFile(handle_, bytes.data(), request, &got, &at))
                return failure(IoError::writeFailed, GetLastError());
            if (got == 0)
                return failure(IoError::writeFailed, ERROR_HANDLE_EOF);
            bytes = bytes.subspan(got);
            offset += got;
        }
        return {};
    }
    IoStatus truncate(std::uint64_t length) noexcept override
    {
        LARGE_INTEGER position;
        position.QuadPart = static_cast<LONGLONG>(length);
        if (!SetFilePointerEx(handle_, position, nullptr, FILE_BEGIN) || !SetEndOfFile(handle_))
            return failure(IoError::writeFailed, GetLastError());
        return {};
    }
    IoStatus commit() noexcept override
    {
        // The temporary is hidden while it is written; the document is not.
        // Only that attribute is dropped: the others (the archive mark that
        // backups look for) stay as the system set them. Zero times in the
        // record leave the file's times alone.
        FILE_BASIC_INFO basic{};
        if (!GetFileInformationByHandleEx(handle_, FileBasicInfo, &basic, sizeof basic))
            return failure(IoError::writeFailed, GetLastError());
        const DWORD shown = basic.FileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN);
        basic = FILE_BASIC_INFO{};
        basic.FileAttributes = shown != 0 ? shown : FILE_ATTRIBUTE_NORMAL;
        if (!SetFileInformationByHandle(handle_, FileBasicInfo, &basic, sizeof basic))
            return failure(IoError::writeFailed, GetLastError());
        const HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        if (!CloseHandle(handle)) {
            const DWORD code = GetLastError();
            return failure(isDiskFull(code) ? IoError::diskFull : IoError::writeFailed, code);
        }
        // Without MOVEFILE_REPLACE_EXISTING the move fails if the target
        // appeared meanwhile: an exclusive document never overwrites.
        const DWORD flags = exclusive_ ? 0 : MOVEFILE_REPLACE_EXISTING;
        // A virus scanner, a sync client or the indexer may hold the earlier
        // document or the fresh temporary for a moment: such a move is tried
        // again for about half a second. A held source gives a sharing
        // violation, a held target "access denied" (as does a read-only one,
        // which then merely fails half a second later). If it still fails,
        // the destructor removes the temporary.
        DWORD code = ERROR_SUCCESS;
        for (int attempt = 0; attempt < renameAttempts; ++attempt) {
            if (attempt > 0)
                Sleep(renamePauseMs);
            if (MoveFileExA(temporary_.c_str(), target_.c_str(), flags)) {
                committed_ = true;
                return {};
            }
            code = GetLastError();
            if (code != ERROR_SHARING_VIOLATION && code != ERROR_LOCK_VIOLATION && code != ERROR_ACCESS_DENIED)
                break;
        }
        return failure(IoError::cannotCreate, code);
    }

private:
    HANDLE handle_;
    std::string target_;
    std::string temporary_;
    bool exclusive_;
    bool committed_ = false;
    std::uint64_t end_ = 0; // where the next write() goes
};

// The C runtime's standard streams, switched to binary mode so line feeds
// stay single bytes and no byte is translated.
class StandardOutput final : public OutputFile {
public:
    StandardOutput() { _setmode(_fileno(stdout), _O_BINARY); }
    IoStatus write(std::span<const std::uint8_t> bytes) noexcept override
    {
        if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size())
            return streamFailure();
        return {};
    }
    IoStatus commit() noexcept override
    {
        if (std::fflush(stdout) != 0)
            return streamFailure();
        return {};
    }

private:
    static IoStatus streamFailure()
    {
        const int code = errno;
        return {code == ENOSPC ? IoError::diskFull : IoError::writeFailed, code ? std::strerror(code) : std::string()};
    }
};

class StandardInput final : public InputFile {
public:
    StandardInput() { _setmode(_fileno(stdin), _O_BINARY); }
    std::uint64_t size() const noexcept override { return UINT64_MAX; }
    IoStatus read(std::span<std::uint8_t> buffer, std::size_t& got) noexcept override
    {
        got = std::fread(buffer.data(), 1, buffer.size(), stdin);
        if (got == 0 && std::ferror(stdin))
            return {IoError::cannotRead, errno ? std::strerror(errno) : std::string()};
        return {};
    }
};

// The length of the folder part of path, separator included. The scan steps
// over double-byte characters whole: in code page 932 a second byte can be
// 0x5C (the backslash), as in the katakana "so" (83 5C).
std::size_t folderLength(const std::string& path)
{
    std::size_t folder = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const char c = path[i];
        if (c == '\\' || c == '/' || c == ':') {
            folder = i + 1;
        } else if (IsDBCSLeadByte(static_cast<BYTE>(c)) && i + 1 < path.size()) {
            ++i;
        }
    }
    return folder;
}

// A fresh name in the target's folder (a move within one volume never copies).
// The long form keeps the target's name for a reader who finds a leftover.
// Where it would pass the ANSI path limit, the short form "~d" and six hex
// digits is used: no longer than any name the document rule derives
// ("_dls.mml" alone is eight characters), so every such target that fits the
// limit gets a temporary.
std::string temporaryNameFor(const std::string& target, unsigned attempt)
{
    static std::atomic<unsigned> counter{0};
    const unsigned serial = counter++;
    const std::size_t split = folderLength(target);
    const std::string folder = target.substr(0, split);
    std::string name = folder + "." + target.substr(split) + "." + std::to_string(GetCurrentProcessId()) + "-" +
                       std::to_string(serial) + ".tmp";
    if (name.size() < MAX_PATH && attempt == 0)
        return name;
    char tag[16];
    std::snprintf(tag, sizeof tag, "~d%06x", (static_cast<unsigned>(GetCurrentProcessId()) * 2654435761u + serial * 40503u + attempt) & 0xFFFFFFu);
    return folder + tag;
}

} // namespace

IoStatus openInputFile(const std::string& path, std::unique_ptr<InputFile>& file)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return {IoError::isFolder, {}};
    const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        return failure(isMissing(code) ? IoError::notFound : IoError::cannotOpen, code);
    }
    std::uint64_t size = UINT64_MAX;
    if (GetFileType(handle) == FILE_TYPE_DISK) {
        LARGE_INTEGER length{};
        if (!GetFileSizeEx(handle, &length)) {
            const DWORD code = GetLastError();
            CloseHandle(handle);
            return failure(IoError::cannotOpen, code);
        }
        size = static_cast<std::uint64_t>(length.QuadPart);
    }
    file = std::make_unique<Win32InputFile>(handle, size);
    return {};
}

IoStatus createOutputFile(const std::string& target, std::unique_ptr<OutputFile>& file, bool exclusive)
{
    const DWORD attributes = GetFileAttributesA(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            return {IoError::cannotCreate, "is a folder"};
        if (exclusive)
            return {IoError::cannotCreate, "file exists"};
    }
    // A short name can be taken already: try a few others.
    std::string temporary;
    HANDLE handle = INVALID_HANDLE_VALUE;
    for (unsigned attempt = 0; attempt < 16 && handle == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = temporaryNameFor(target, attempt);
        // Reading is shared so the finished document can be checked before it
        // is moved. Hidden, so that a run killed mid-write leaves nothing a
        // user sees among their banks.
        handle = CreateFileA(temporary.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_HIDDEN, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            const DWORD code = GetLastError();
            if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS)
                return failure(isDiskFull(code) ? IoError::diskFull : IoError::cannotCreate, code);
        }
    }
    if (handle == INVALID_HANDLE_VALUE)
        return failure(IoError::cannotCreate, ERROR_FILE_EXISTS);
    file = std::make_unique<Win32OutputFile>(handle, target, temporary, exclusive);
    return {};
}

std::unique_ptr<OutputFile> standardOutput() { return std::make_unique<StandardOutput>(); }

std::unique_ptr<InputFile> standardInput() { return std::make_unique<StandardInput>(); }

bool pathExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool removeFile(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

void removeTemporariesOnInterrupt() {}

} // namespace dls2mml
