// Windows file calls for the conversion job. Paths arrive as UTF-8 and every
// call is the wide ("W") variant, so any name the file system holds can be
// opened, whatever the ANSI code page. A path of MAX_PATH characters or more
// is made absolute and given the "\\?\" form, which the wide calls take at
// any length.
//
// Outputs are written to a hidden temporary beside the target and moved over
// it on commit. The temporary's name is unpredictable (".dls2mml-" and ten
// random letters and digits, ".tmp"), made with CREATE_NEW and tried again on
// a collision. While it exists its name and handle sit in a fixed slot, so
// that Ctrl-C, Ctrl-Break or closing the console removes it before the
// process ends. Standard output is spooled the same way, to a temporary in
// the temporary folder that the system removes when its handle closes, and
// copied out only on commit.
#define _CRT_RAND_S // rand_s: the system's random numbers, from the C runtime
#include <stdlib.h>

#include "platform/cleanup_slots.h"
#include "platform/file_system.h"
#include "platform/spool_copy.h"
#include "platform/temporary_name.h"
#include "platform/utf16.h"

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
#include <iterator>
#include <new>
#include <string_view>
#include <vector>

namespace dls2mml {
namespace {

const wchar_t* wideText(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

std::string utf8Text(const wchar_t* text, std::size_t length)
{
    return utf8FromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(text), length));
}

// The system's own words for an error code, without the trailing line break,
// as UTF-8 like every other text of the messages.
std::string systemWords(DWORD code)
{
    wchar_t text[512];
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                        text, static_cast<DWORD>(std::size(text)), nullptr);
    std::string words = utf8Text(text, length);
    while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' ' || words.back() == '.'))
        words.pop_back();
    if (words.empty())
        words = "error " + std::to_string(code);
    return words;
}

IoStatus failure(IoError error, DWORD code) { return {error, code ? systemWords(code) : std::string()}; }

// The wide form of a UTF-8 path for the system's calls; false for bytes that
// are not UTF-8. Paths of MAX_PATH characters or more, which the calls refuse
// in their plain form, are made absolute and given the "\\?\" form (UNC
// paths "\\?\UNC\"); a path in that form already is left as it is.
bool widePath(const std::string& path, std::u16string& wide)
{
    if (!utf16FromUtf8(path, wide) || wide.find(u'\0') != std::u16string::npos)
        return false;
    if (wide.size() < MAX_PATH || wide.starts_with(u"\\\\?\\") || wide.starts_with(u"\\\\.\\"))
        return true;
    const DWORD needed = GetFullPathNameW(wideText(wide), 0, nullptr, nullptr);
    if (needed == 0)
        return true; // the call then fails with the system's own reason
    std::u16string full(needed, u'\0');
    const DWORD length = GetFullPathNameW(wideText(wide), needed, reinterpret_cast<wchar_t*>(full.data()), nullptr);
    if (length == 0 || length >= needed)
        return true;
    full.resize(length);
    if (full.starts_with(u"\\\\"))
        wide = u"\\\\?\\UNC\\" + full.substr(2);
    else
        wide = u"\\\\?\\" + full;
    return true;
}

// The status of a path that is not UTF-8 (nothing the system could name).
IoStatus notUtf8(IoError error) { return failure(error, ERROR_NO_UNICODE_TRANSLATION); }

bool isDiskFull(DWORD code) { return code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL; }

// Largest single ReadFile/WriteFile request (the calls count in 32 bits).
constexpr std::size_t maxTransfer = 1u << 30;

// A move over a document that another program holds open is tried this often.
constexpr int renameAttempts = 11; // the first and ten more
constexpr DWORD renamePauseMs = 50;

// --- Temporaries removed on Ctrl-C, Ctrl-Break and console close ---
//
// The system runs a console control handler on a thread of its own, while the
// conversion goes on. Every change to a slot, and every close, move or
// removal of a temporary that sits in one, happens under slotLock. The
// handler takes that lock and never gives it back: it removes what the slots
// hold and ends the process, so a temporary is never removed after it was
// moved into place, and none is made or moved once the handler has begun.

// The wide path a slot holds, at most this many units with its terminator.
constexpr std::size_t slotPathUnits = 1024;

struct SlotHandle {
    HANDLE handle = INVALID_HANDLE_VALUE; // open while written, closed before the move
};

CleanupSlots<wchar_t, slotPathUnits, SlotHandle> temporarySlots;
SRWLOCK slotLock = SRWLOCK_INIT;
std::atomic<bool> cleanupInstalled{false};

class SlotsLocked {
public:
    SlotsLocked() { AcquireSRWLockExclusive(&slotLock); }
    ~SlotsLocked() { ReleaseSRWLockExclusive(&slotLock); }
    SlotsLocked(const SlotsLocked&) = delete;
    SlotsLocked& operator=(const SlotsLocked&) = delete;
};

// Call with the lock held. -1 when every slot is taken; the temporary then
// merely outlives an interrupted run.
int armSlot(const std::u16string& path, HANDLE handle)
{
    return temporarySlots.arm(std::wstring_view(wideText(path), path.size()), SlotHandle{handle});
}

// The exit status of a console program ended by Ctrl-C or Ctrl-Break, as the
// system's own handler gives it (cmd shows it as -1073741510).
constexpr UINT interruptedStatus = 0xC000013A; // STATUS_CONTROL_C_EXIT

BOOL WINAPI removeTemporariesAndEnd(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        break;
    default:
        return FALSE;
    }
    AcquireSRWLockExclusive(&slotLock); // kept until the process ends
    temporarySlots.forEachArmed([](const wchar_t* path, const SlotHandle& slot) {
        // A temporary still open is shared with nobody for deletion, so it is
        // marked through our own handle; it goes when the handle closes, which
        // ending the process does.
        FILE_DISPOSITION_INFO disposition{};
        disposition.DeleteFile = TRUE;
        if (slot.handle == INVALID_HANDLE_VALUE ||
            !SetFileInformationByHandle(slot.handle, FileDispositionInfo, &disposition, sizeof disposition))
            DeleteFileW(path);
    });
    // Ended at once: the other threads are mid-work, and neither the C
    // runtime's exit handlers nor any destructor may run now.
    TerminateProcess(GetCurrentProcess(), interruptedStatus);
    return TRUE;
}

// --- Temporary names ---

// count letters and digits from the system's random numbers.
std::string randomLetters(std::size_t count)
{
    std::string bytes(count, '\0');
    for (std::size_t i = 0; i < count; i += sizeof(unsigned int)) {
        unsigned int value = 0;
        if (rand_s(&value) != 0) {
            // No random numbers from the system: the clock, the process and a counter.
            static std::atomic<std::uint64_t> counter{0};
            LARGE_INTEGER now{};
            QueryPerformanceCounter(&now);
            fillFromSeed(static_cast<std::uint64_t>(now.QuadPart) ^
                             (static_cast<std::uint64_t>(GetCurrentProcessId()) << 40) ^ (counter++ << 20),
                         std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(bytes.data()), count));
            break;
        }
        for (std::size_t k = 0; k < sizeof value && i + k < count; ++k)
            bytes[i + k] = static_cast<char>(value >> (8 * k));
    }
    return lettersFrom(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()), count));
}

IoStatus writeAllAt(HANDLE handle, std::uint64_t offset, std::span<const std::uint8_t> bytes)
{
    while (!bytes.empty()) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD written = 0;
        const DWORD request = static_cast<DWORD>(std::min(bytes.size(), maxTransfer));
        if (!WriteFile(handle, bytes.data(), request, &written, &at)) {
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

IoStatus readAllAt(HANDLE handle, std::uint64_t offset, std::span<std::uint8_t> bytes)
{
    while (!bytes.empty()) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        const DWORD request = static_cast<DWORD>(std::min(bytes.size(), maxTransfer));
        if (!ReadFile(handle, bytes.data(), request, &got, &at))
            return failure(IoError::writeFailed, GetLastError());
        if (got == 0)
            return failure(IoError::writeFailed, ERROR_HANDLE_EOF);
        bytes = bytes.subspan(got);
        offset += got;
    }
    return {};
}

IoStatus truncateAt(HANDLE handle, std::uint64_t length)
{
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(length);
    if (!SetFilePointerEx(handle, position, nullptr, FILE_BEGIN) || !SetEndOfFile(handle))
        return failure(IoError::writeFailed, GetLastError());
    return {};
}

// The volume and the file's number on it: the same for every name and link
// that leads to the file.
FileIdentity identityOf(HANDLE handle)
{
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(handle, &information))
        return {};
    FileIdentity identity;
    identity.device = information.dwVolumeSerialNumber;
    identity.inode = (static_cast<std::uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    identity.known = true;
    return identity;
}

class Win32InputFile final : public InputFile {
public:
    Win32InputFile(HANDLE handle, std::uint64_t size) : handle_(handle), size_(size) {}
    ~Win32InputFile() override { CloseHandle(handle_); }
    std::uint64_t size() const noexcept override { return size_; }
    FileIdentity identity() const noexcept override
    {
        return GetFileType(handle_) == FILE_TYPE_DISK ? identityOf(handle_) : FileIdentity{};
    }
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
    Win32OutputFile(HANDLE handle, std::u16string target, std::string temporary, std::u16string wideTemporary,
                    int slot, bool exclusive)
        : handle_(handle), target_(std::move(target)), temporary_(std::move(temporary)),
          wideTemporary_(std::move(wideTemporary)), slot_(slot), exclusive_(exclusive)
    {
    }
    ~Win32OutputFile() override
    {
        SlotsLocked locked;
        closeHandle();
        if (!committed_)
            DeleteFileW(wideText(wideTemporary_));
        disarmSlot();
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
    // The document it replaces, where there is one: opened for no access at
    // all, so that no sharing mode held by others stands in the way.
    FileIdentity identity() const noexcept override
    {
        const HANDLE target = CreateFileW(wideText(target_), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (target == INVALID_HANDLE_VALUE)
            return {};
        const FileIdentity identity = identityOf(target);
        CloseHandle(target);
        return identity;
    }
    IoStatus writeAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) noexcept override
    {
        return writeAllAt(handle_, offset, bytes);
    }
    IoStatus readAt(std::uint64_t offset, std::span<std::uint8_t> bytes) noexcept override
    {
        return readAllAt(handle_, offset, bytes);
    }
    IoStatus truncate(std::uint64_t length) noexcept override { return truncateAt(handle_, length); }
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
        bool closed = false;
        {
            SlotsLocked locked;
            closed = closeHandle();
        }
        if (!closed) {
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
            {
                SlotsLocked locked;
                if (MoveFileExW(wideText(wideTemporary_), wideText(target_), flags)) {
                    committed_ = true;
                    disarmSlot();
                    return {};
                }
                code = GetLastError();
            }
            if (code != ERROR_SHARING_VIOLATION && code != ERROR_LOCK_VIOLATION && code != ERROR_ACCESS_DENIED)
                break;
        }
        return failure(IoError::cannotCreate, code);
    }

private:
    // Both with the slots locked.
    bool closeHandle()
    {
        if (handle_ == INVALID_HANDLE_VALUE)
            return true;
        const HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        if (slot_ >= 0)
            temporarySlots.extra(slot_).handle = INVALID_HANDLE_VALUE;
        return CloseHandle(handle) != 0;
    }
    void disarmSlot()
    {
        if (slot_ >= 0)
            temporarySlots.disarm(slot_);
        slot_ = -1;
    }

    HANDLE handle_;
    std::u16string target_;
    std::string temporary_; // UTF-8, for pendingPath
    std::u16string wideTemporary_;
    int slot_; // negative: in no slot
    bool exclusive_;
    bool committed_ = false;
    std::uint64_t end_ = 0; // where the next write() goes
};

// The C runtime's standard streams, switched to binary mode so line feeds
// stay single bytes and no byte is translated.
IoStatus streamFailure()
{
    const int code = errno;
    return {code == ENOSPC ? IoError::diskFull : IoError::writeFailed, code ? std::strerror(code) : std::string()};
}

// Standard output written front to back, for when no spool can be made.
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
};

// Reads a file from the start through positioned reads on a handle of its
// own, whatever the writer does meanwhile.
class ReadBack final : public InputFile {
public:
    explicit ReadBack(HANDLE handle) : handle_(handle) {}
    ~ReadBack() override { CloseHandle(handle_); }
    std::uint64_t size() const noexcept override
    {
        LARGE_INTEGER length{};
        return GetFileSizeEx(handle_, &length) ? static_cast<std::uint64_t>(length.QuadPart) : UINT64_MAX;
    }
    IoStatus read(std::span<std::uint8_t> buffer, std::size_t& got) noexcept override
    {
        got = 0;
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset_);
        at.OffsetHigh = static_cast<DWORD>(offset_ >> 32);
        DWORD n = 0;
        const DWORD request = static_cast<DWORD>(std::min(buffer.size(), maxTransfer));
        if (!ReadFile(handle_, buffer.data(), request, &n, &at)) {
            const DWORD code = GetLastError();
            return code == ERROR_HANDLE_EOF ? IoStatus{} : failure(IoError::cannotRead, code);
        }
        got = n;
        offset_ += n;
        return {};
    }

private:
    HANDLE handle_;
    std::uint64_t offset_ = 0;
};

// Standard output held in a temporary file that the system removes when its
// one handle closes (also when the process is ended), copied out on commit:
// nothing from a failed run reaches standard output, and memory stays bounded.
class SpooledStandardOutput final : public OutputFile {
public:
    SpooledStandardOutput(HANDLE handle, int slot) : handle_(handle), slot_(slot) {}
    ~SpooledStandardOutput() override { close(); }
    IoStatus write(std::span<const std::uint8_t> bytes) noexcept override
    {
        IoStatus status = writeAllAt(handle_, end_, bytes);
        if (status)
            end_ += bytes.size();
        return status;
    }
    bool seekable() const noexcept override { return true; }
    IoStatus writeAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) noexcept override
    {
        return writeAllAt(handle_, offset, bytes);
    }
    IoStatus readAt(std::uint64_t offset, std::span<std::uint8_t> bytes) noexcept override
    {
        return readAllAt(handle_, offset, bytes);
    }
    IoStatus truncate(std::uint64_t length) noexcept override { return truncateAt(handle_, length); }
    std::unique_ptr<InputFile> readBack() override
    {
        HANDLE copy = INVALID_HANDLE_VALUE;
        if (!DuplicateHandle(GetCurrentProcess(), handle_, GetCurrentProcess(), &copy, 0, FALSE,
                             DUPLICATE_SAME_ACCESS))
            return nullptr;
        return std::make_unique<ReadBack>(copy);
    }
    IoStatus commit() noexcept override
    {
        LARGE_INTEGER length{};
        if (!GetFileSizeEx(handle_, &length))
            return failure(IoError::writeFailed, GetLastError());
        const auto total = static_cast<std::uint64_t>(length.QuadPart);
        const auto readAt = [this, total](std::uint64_t offset, std::span<std::uint8_t> piece, std::size_t& got) {
            got = static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), total - offset));
            return readAllAt(handle_, offset, piece.first(got));
        };
        const auto writeOut = [](std::span<const std::uint8_t> bytes) {
            return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() ? IoStatus{} : streamFailure();
        };
        _setmode(_fileno(stdout), _O_BINARY);
        if (IoStatus status = copySpoolOut(readAt, writeOut); !status)
            return status;
        if (std::fflush(stdout) != 0)
            return streamFailure();
        close();
        return {};
    }

private:
    void close() noexcept
    {
        SlotsLocked locked;
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        if (slot_ >= 0)
            temporarySlots.disarm(slot_);
        slot_ = -1;
    }

    HANDLE handle_;
    int slot_; // negative: in no slot
    std::uint64_t end_ = 0; // where the next write() goes
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

// The length of the folder part of path, separator included. In UTF-8 the
// bytes of '\\', '/' and ':' stand for nothing else.
std::size_t folderLength(const std::string& path)
{
    const std::size_t last = path.find_last_of("\\/:");
    return last == std::string::npos ? 0 : last + 1;
}

// A fresh name in the target's folder (a move within one volume never
// copies). Where the usual form would reach the plain path limit (counted in
// UTF-16 units, as the system counts), a short one ("~" and seven letters and
// digits) is used: no longer than any name the document rule derives
// ("_dls.mml" alone is eight characters), so every target of a plain path
// gets a temporary of a plain path too.
std::string temporaryNameFor(const std::string& target)
{
    const std::string folder = target.substr(0, folderLength(target));
    std::string name = temporaryName(folder, randomLetters(temporaryLetterCount));
    if (utf16Length(name) < MAX_PATH || utf16Length(target) >= MAX_PATH)
        return name;
    return folder + "~" + randomLetters(7);
}

// The folder as a message names it: without its last separator, unless that
// is all of it ("\\", "C:\\"); "." for the current one.
std::string folderForMessage(const std::string& folder)
{
    if (folder.empty())
        return ".";
    if (folder.size() == 1 || folder.back() == ':' || folder[folder.size() - 2] == ':')
        return folder;
    return folder.substr(0, folder.size() - 1);
}

// A temporary just made: its handle, name and slot.
struct Temporary {
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::string path; // UTF-8
    std::u16string widePath;
    int slot = -1;
};

// Makes a file under a fresh name from nameFor(), in the slots at once. A name
// can be taken already (by a leftover, or by chance): others are tried.
template <typename NameFor>
IoStatus createTemporary(const std::string& folder, NameFor nameFor, DWORD share, DWORD flags, Temporary& made)
{
    constexpr unsigned attempts = 100;
    DWORD code = ERROR_FILE_EXISTS;
    for (unsigned attempt = 0; attempt < attempts; ++attempt) {
        std::string path = nameFor();
        std::u16string wide;
        if (!widePath(path, wide)) {
            code = ERROR_NO_UNICODE_TRANSLATION;
            break;
        }
        SlotsLocked locked;
        const HANDLE handle =
            CreateFileW(wideText(wide), GENERIC_READ | GENERIC_WRITE | DELETE, share, nullptr, CREATE_NEW, flags, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            made.slot = armSlot(wide, handle);
            made.handle = handle;
            made.path = std::move(path);
            made.widePath = std::move(wide);
            return {};
        }
        code = GetLastError();
        if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS)
            break;
    }
    return {isDiskFull(code) ? IoError::diskFull : IoError::cannotCreate,
            "cannot create a temporary file in folder " + folderForMessage(folder) + ": " + systemWords(code)};
}

// A file in the temporary folder that goes when its handle closes, shared with
// nobody; null if none can be made.
std::unique_ptr<OutputFile> openSpool()
{
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = GetTempPathW(static_cast<DWORD>(std::size(folder)), folder);
    if (length == 0 || length >= std::size(folder))
        return nullptr;
    const std::string prefix = utf8Text(folder, length);
    Temporary spool;
    const auto name = [&prefix] { return temporaryName(prefix, randomLetters(temporaryLetterCount)); };
    if (!createTemporary(prefix, name, 0,
                         FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, spool))
        return nullptr;
    return std::make_unique<SpooledStandardOutput>(spool.handle, spool.slot);
}

} // namespace

IoStatus openInputFile(const std::string& path, std::unique_ptr<InputFile>& file)
{
    std::u16string wide;
    if (!widePath(path, wide))
        return notUtf8(IoError::cannotOpen);
    const DWORD attributes = GetFileAttributesW(wideText(wide));
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return {IoError::isFolder, {}};
    // Deletion is shared too: a temporary read back for checking is open
    // with deletion access.
    const HANDLE handle = CreateFileW(wideText(wide), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        return failure(IoError::cannotOpen, code);
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
    std::u16string wideTarget;
    if (!widePath(target, wideTarget))
        return notUtf8(IoError::cannotCreate);
    const DWORD attributes = GetFileAttributesW(wideText(wideTarget));
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            return {IoError::cannotCreate, "is a folder"};
        if (exclusive)
            return {IoError::cannotCreate, "file exists"};
    }
    // Reading is shared so the finished document can be checked before it is
    // moved. Hidden, so that a run killed mid-write leaves nothing a user sees
    // among their banks. Deletion is asked for so that the console control
    // handler can mark it for removal while it is open.
    const std::string folder = target.substr(0, folderLength(target));
    Temporary temporary;
    if (IoStatus status = createTemporary(folder, [&target] { return temporaryNameFor(target); }, FILE_SHARE_READ,
                                          FILE_ATTRIBUTE_HIDDEN, temporary);
        !status)
        return status;
    file = std::make_unique<Win32OutputFile>(temporary.handle, std::move(wideTarget), std::move(temporary.path),
                                             std::move(temporary.widePath), temporary.slot, exclusive);
    return {};
}

std::unique_ptr<OutputFile> standardOutput()
{
    if (std::unique_ptr<OutputFile> spool = openSpool())
        return spool;
    return std::make_unique<StandardOutput>();
}

std::unique_ptr<InputFile> standardInput() { return std::make_unique<StandardInput>(); }

bool pathExists(const std::string& path)
{
    std::u16string wide;
    return widePath(path, wide) && GetFileAttributesW(wideText(wide)) != INVALID_FILE_ATTRIBUTES;
}

bool isRegularFile(const std::string& path)
{
    std::u16string wide;
    if (!widePath(path, wide))
        return false;
    const DWORD attributes = GetFileAttributesW(wideText(wide));
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
}

// A parent that had Ctrl-C ignored (start /b, or SetConsoleCtrlHandler(NULL,
// TRUE)) passes that on: the system then gives the handler no Ctrl-C, as
// before, but still Ctrl-Break and console close.
void removeTemporariesOnInterrupt()
{
    if (cleanupInstalled.exchange(true))
        return;
    SetConsoleCtrlHandler(removeTemporariesAndEnd, TRUE);
}

} // namespace dls2mml
