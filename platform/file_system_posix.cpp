// POSIX file calls for the conversion job.
//
// Outputs are written to a temporary beside the file they replace and renamed
// over it on commit. The temporary's name is short and unpredictable
// (".dls2mml-" and ten random letters and digits, ".tmp"), made with O_EXCL
// and tried again on a collision. Its name sits in a fixed slot while it
// exists, so that an interrupting signal can remove it before the process
// ends by that signal.
#include "platform/cleanup_slots.h"
#include "platform/file_system.h"
#include "platform/spool_copy.h"
#include "platform/temporary_name.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <vector>

namespace dls2mml {
namespace {

IoStatus failure(IoError error, int code) { return {error, code ? std::strerror(code) : std::string()}; }

bool isDiskFull(int code) { return code == ENOSPC || code == EDQUOT; }

// --- Temporaries removed on interrupting signals ---
//
// The handler makes only async-signal-safe calls: it unlinks the names held
// in fixed slots and raises the signal again with its default action. It does
// its work on the thread that installed it, which is the one that creates and
// renames temporaries (a signal that reaches another thread is passed on), and
// that thread holds the signals back while it fills or empties a slot, so the
// handler never meets a slot half written nor a name already renamed away.

constexpr int interruptSignals[] = {SIGHUP, SIGINT, SIGTERM};

CleanupSlots<char, PATH_MAX> temporarySlots;
pthread_t cleanupThread;
std::atomic<bool> cleanupInstalled{false};

extern "C" void removeTemporariesAndDie(int signal)
{
    if (!pthread_equal(pthread_self(), cleanupThread)) {
        pthread_kill(cleanupThread, signal);
        return;
    }
    temporarySlots.forEachArmed([](const char* path, NoSlotData&) { ::unlink(path); });
    ::signal(signal, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(signal);
}

// Holds the interrupting signals back on this thread for its lifetime.
class SignalsHeld {
public:
    SignalsHeld()
    {
        sigset_t set;
        sigemptyset(&set);
        for (int signal : interruptSignals)
            sigaddset(&set, signal);
        pthread_sigmask(SIG_BLOCK, &set, &previous_);
    }
    ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t previous_;
};

// Call with the signals held. -1 when every slot is taken or the name too
// long; the temporary then merely outlives an interrupted run.
int armSlot(const std::string& path) { return temporarySlots.arm(path); }

void disarmSlot(int index) { temporarySlots.disarm(index); }

// --- Temporary names ---

std::string randomLetters()
{
    std::uint8_t bytes[temporaryLetterCount];
    if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        // No entropy to be had yet: the clock, the process and a counter.
        static std::atomic<std::uint64_t> counter{0};
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        fillFromSeed(static_cast<std::uint64_t>(now.tv_nsec) ^ (static_cast<std::uint64_t>(now.tv_sec) << 30) ^
                         (static_cast<std::uint64_t>(::getpid()) << 12) ^ counter++,
                     bytes);
    }
    return lettersFrom(bytes);
}

// "dir/" for "dir/name", "" for a bare name.
std::string folderPrefix(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string folderForMessage(const std::string& prefix)
{
    if (prefix.empty())
        return ".";
    if (prefix.size() == 1)
        return prefix;
    return prefix.substr(0, prefix.size() - 1);
}

// A temporary that exists: its descriptor, name and slot.
struct Temporary {
    int fd = -1;
    std::string path;
    int slot = -1;
};

IoStatus createTemporary(const std::string& folder, Temporary& made)
{
    constexpr int attempts = 100;
    int code = EEXIST;
    for (int attempt = 0; attempt < attempts && code == EEXIST; ++attempt) {
        std::string path = temporaryName(folder, randomLetters());
        SignalsHeld held;
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            made.fd = fd;
            made.slot = armSlot(path);
            made.path = std::move(path);
            return {};
        }
        code = errno;
    }
    return {isDiskFull(code) ? IoError::diskFull : IoError::cannotCreate,
            "cannot create a temporary file in folder " + folderForMessage(folder) + ": " + std::strerror(code)};
}

void removeTemporary(Temporary& temporary)
{
    if (temporary.path.empty())
        return;
    SignalsHeld held;
    ::unlink(temporary.path.c_str());
    disarmSlot(temporary.slot);
    temporary.path.clear();
    temporary.slot = -1;
}

// --- Links ---

// The file that a chain of symbolic links names (the path itself when it is
// none). Replacing that file leaves the links in place.
std::string resolveLinks(const std::string& target)
{
    std::string path = target;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return path;
        std::vector<char> buffer(PATH_MAX + 1);
        const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= buffer.size())
            return path;
        std::string link(buffer.data(), static_cast<std::size_t>(n));
        path = link.front() == '/' ? link : folderPrefix(path) + link;
    }
    return path;
}

// Only a file that holds its bytes (a regular file or a block device) can be
// harmed by writing it while it is read, so only those have an identity to
// compare. A character device (/dev/null, a terminal), a pipe or a socket is
// read and written as two streams, even when one open file is standard input
// and standard output at once.
FileIdentity identityOf(const struct stat& info)
{
    if (!S_ISREG(info.st_mode) && !S_ISBLK(info.st_mode))
        return {};
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino), true};
}

mode_t currentUmask()
{
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

IoStatus writeAll(int fd, std::span<const std::uint8_t> bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int code = errno;
            return failure(isDiskFull(code) ? IoError::diskFull : IoError::writeFailed, code);
        }
        if (n == 0)
            return failure(IoError::writeFailed, EIO);
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return {};
}

IoStatus writeAllAt(int fd, std::uint64_t offset, std::span<const std::uint8_t> bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int code = n < 0 ? errno : EIO;
            return failure(isDiskFull(code) ? IoError::diskFull : IoError::writeFailed, code);
        }
        bytes = bytes.subspan(static_cast<std::size_t>(n));
        offset += static_cast<std::uint64_t>(n);
    }
    return {};
}

IoStatus readAllAt(int fd, std::uint64_t offset, std::span<std::uint8_t> bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::pread(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return failure(IoError::writeFailed, n < 0 ? errno : EIO);
        bytes = bytes.subspan(static_cast<std::size_t>(n));
        offset += static_cast<std::uint64_t>(n);
    }
    return {};
}

class PosixInputFile final : public InputFile {
public:
    // reopenable: the path names this file again (not so for standard input).
    PosixInputFile(int fd, const struct stat& info, bool owned, bool reopenable)
        : fd_(fd), info_(info), owned_(owned), regular_(S_ISREG(info.st_mode)), reopenable_(reopenable)
    {
    }
    ~PosixInputFile() override
    {
        if (owned_)
            ::close(fd_);
    }
    std::uint64_t size() const noexcept override
    {
        return regular_ ? static_cast<std::uint64_t>(info_.st_size) : UINT64_MAX;
    }
    IoStatus read(std::span<std::uint8_t> buffer, std::size_t& got) noexcept override
    {
        got = 0;
        for (;;) {
            const ssize_t n = ::read(fd_, buffer.data(), buffer.size());
            if (n >= 0) {
                got = static_cast<std::size_t>(n);
                return {};
            }
            if (errno != EINTR)
                return failure(errno == EISDIR ? IoError::isFolder : IoError::cannotRead, errno);
        }
    }
    FileIdentity identity() const noexcept override { return identityOf(info_); }
    int permissions() const noexcept override { return regular_ ? static_cast<int>(info_.st_mode & 0777) : -1; }
    bool rereadable() const noexcept override { return regular_ && reopenable_; }
    bool changedSinceOpen() const noexcept override
    {
        struct stat now {};
        if (!regular_ || ::fstat(fd_, &now) != 0)
            return false;
        return now.st_size != info_.st_size || now.st_mtim.tv_sec != info_.st_mtim.tv_sec ||
               now.st_mtim.tv_nsec != info_.st_mtim.tv_nsec;
    }

private:
    int fd_;
    struct stat info_;
    bool owned_;
    bool regular_;
    bool reopenable_;
};

// Reads a file from the start through its own offset, whatever the writer's.
class ReadBack final : public InputFile {
public:
    explicit ReadBack(int fd) : fd_(fd) {}
    ~ReadBack() override { ::close(fd_); }
    std::uint64_t size() const noexcept override
    {
        struct stat info {};
        return ::fstat(fd_, &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : UINT64_MAX;
    }
    IoStatus read(std::span<std::uint8_t> buffer, std::size_t& got) noexcept override
    {
        for (;;) {
            const ssize_t n = ::pread(fd_, buffer.data(), buffer.size(), static_cast<off_t>(offset_));
            if (n >= 0) {
                got = static_cast<std::size_t>(n);
                offset_ += got;
                return {};
            }
            if (errno != EINTR)
                return failure(IoError::cannotRead, errno);
        }
    }

private:
    int fd_;
    std::uint64_t offset_ = 0;
};

std::unique_ptr<InputFile> readBackOf(int fd)
{
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0)
        return nullptr;
    return std::make_unique<ReadBack>(copy);
}

// A file whose descriptor can seek: positioned writes, reads and truncation.
class SeekableOutput : public OutputFile {
public:
    bool seekable() const noexcept override { return fd_ >= 0; }
    IoStatus write(std::span<const std::uint8_t> bytes) noexcept override { return writeAll(fd_, bytes); }
    IoStatus writeAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) noexcept override
    {
        return writeAllAt(fd_, offset, bytes);
    }
    IoStatus readAt(std::uint64_t offset, std::span<std::uint8_t> bytes) noexcept override
    {
        return readAllAt(fd_, offset, bytes);
    }
    IoStatus truncate(std::uint64_t length) noexcept override
    {
        if (::ftruncate(fd_, static_cast<off_t>(length)) != 0)
            return failure(IoError::writeFailed, errno);
        return {};
    }
    std::unique_ptr<InputFile> readBack() override { return fd_ >= 0 ? readBackOf(fd_) : nullptr; }

protected:
    int fd_ = -1;
};

bool linksUnsupported(int code) { return code == EPERM || code == ENOTSUP || code == EOPNOTSUPP || code == ENOSYS; }

// Renames without replacing: at once where the file system can, else by a
// hard link, else (FAT, exFAT: no hard links) after checking that the name
// is still free.
int renameExclusive(const char* from, const char* to)
{
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP && errno != EOPNOTSUPP)
        return errno;
#endif
    if (::link(from, to) == 0) {
        ::unlink(from);
        return 0;
    }
    if (!linksUnsupported(errno))
        return errno;
    struct stat info {};
    if (::lstat(to, &info) == 0)
        return EEXIST;
    return ::rename(from, to) == 0 ? 0 : errno;
}

// Writes to a temporary beside the file it replaces and renames it over that
// file on commit, so a failed write never leaves a partial document nor harms
// an earlier one.
class ReplacingOutput final : public SeekableOutput {
public:
    ReplacingOutput(Temporary temporary, std::string file, FileIdentity replaced, int replacedBits, bool exclusive)
        : temporary_(std::move(temporary)), file_(std::move(file)), replaced_(replaced), replacedBits_(replacedBits),
          exclusive_(exclusive)
    {
        fd_ = temporary_.fd;
    }
    ~ReplacingOutput() override
    {
        if (fd_ >= 0)
            ::close(fd_);
        removeTemporary(temporary_);
    }
    std::string pendingPath() const override { return temporary_.path; }
    FileIdentity identity() const noexcept override { return replaced_; }
    IoStatus keepPermissions(int bits) noexcept override
    {
        mode_t mode = bits >= 0 ? static_cast<mode_t>(bits & 0777) : (0666 & ~currentUmask());
        if (replacedBits_ >= 0)
            mode &= static_cast<mode_t>(replacedBits_);
        if (::fchmod(fd_, mode) != 0)
            return failure(IoError::cannotCreate, errno);
        return {};
    }
    IoStatus commit() noexcept override
    {
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0)
            return failure(isDiskFull(errno) ? IoError::diskFull : IoError::writeFailed, errno);
        SignalsHeld held;
        const int code = exclusive_ ? renameExclusive(temporary_.path.c_str(), file_.c_str())
                                    : (::rename(temporary_.path.c_str(), file_.c_str()) == 0 ? 0 : errno);
        if (code != 0)
            return failure(IoError::cannotCreate, code); // the destructor removes the temporary
        disarmSlot(temporary_.slot);
        temporary_ = {};
        return {};
    }

private:
    Temporary temporary_;
    std::string file_; // the target, its links followed
    FileIdentity replaced_;
    int replacedBits_; // negative: nothing is replaced
    bool exclusive_;
};

// A device, a pipe or a terminal named as the output: written directly, since
// renaming over it would replace the node itself.
class DirectOutput final : public OutputFile {
public:
    DirectOutput(int fd, FileIdentity identity) : fd_(fd), identity_(identity) {}
    ~DirectOutput() override
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    IoStatus write(std::span<const std::uint8_t> bytes) noexcept override { return writeAll(fd_, bytes); }
    FileIdentity identity() const noexcept override { return identity_; }
    IoStatus commit() noexcept override
    {
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0)
            return failure(IoError::writeFailed, errno);
        return {};
    }

private:
    int fd_;
    FileIdentity identity_;
};

FileIdentity standardOutputIdentity()
{
    struct stat info {};
    return ::fstat(STDOUT_FILENO, &info) == 0 ? identityOf(info) : FileIdentity{};
}

// Standard output written front to back, for when no spool can be made.
class StandardOutput final : public OutputFile {
public:
    IoStatus write(std::span<const std::uint8_t> bytes) noexcept override { return writeAll(STDOUT_FILENO, bytes); }
    IoStatus commit() noexcept override { return {}; }
    FileIdentity identity() const noexcept override { return standardOutputIdentity(); }
};

// Standard output held in an unnamed temporary file and copied out on commit.
class SpooledStandardOutput final : public SeekableOutput {
public:
    explicit SpooledStandardOutput(int fd) { fd_ = fd; }
    ~SpooledStandardOutput() override
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileIdentity identity() const noexcept override { return standardOutputIdentity(); }
    IoStatus commit() noexcept override
    {
        const auto readAt = [this](std::uint64_t offset, std::span<std::uint8_t> piece, std::size_t& got) {
            for (;;) {
                const ssize_t n = ::pread(fd_, piece.data(), piece.size(), static_cast<off_t>(offset));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0)
                    return failure(IoError::writeFailed, errno);
                got = static_cast<std::size_t>(n);
                return IoStatus{};
            }
        };
        const auto writeOut = [](std::span<const std::uint8_t> bytes) { return writeAll(STDOUT_FILENO, bytes); };
        if (IoStatus status = copySpoolOut(readAt, writeOut); !status)
            return status;
        ::close(fd_);
        fd_ = -1;
        return {};
    }
};

// An unnamed file in the temporary folder; -1 if none can be made.
int openSpool()
{
    const char* folder = std::getenv("TMPDIR");
    if (!folder || !*folder)
        folder = "/tmp";
#ifdef O_TMPFILE
    const int fd = ::open(folder, O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0)
        return fd;
#endif
    // Without unnamed files: a named one, removed at once.
    std::string prefix = folder;
    if (prefix.back() != '/')
        prefix += '/';
    Temporary temporary;
    if (!createTemporary(prefix, temporary))
        return -1;
    const int fd2 = temporary.fd;
    removeTemporary(temporary);
    return fd2;
}

} // namespace

IoStatus openInputFile(const std::string& path, std::unique_ptr<InputFile>& file)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return failure(IoError::cannotOpen, errno);
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int code = errno;
        ::close(fd);
        return failure(IoError::cannotOpen, code);
    }
    if (S_ISDIR(info.st_mode)) {
        ::close(fd);
        return {IoError::isFolder, {}};
    }
    file = std::make_unique<PosixInputFile>(fd, info, true, true);
    return {};
}

// A target that is a symbolic link (or a chain of them) is followed: the file
// it names is replaced, with the temporary beside that file, and the links
// stay as they were. A target that is a device, a pipe or a terminal is
// written directly.
IoStatus createOutputFile(const std::string& target, std::unique_ptr<OutputFile>& file, bool exclusive)
{
    struct stat info {};
    const bool exists = ::stat(target.c_str(), &info) == 0;
    if (exists) {
        if (S_ISDIR(info.st_mode))
            return {IoError::cannotCreate, "is a folder"};
        if (exclusive)
            return {IoError::cannotCreate, "file exists"};
        if (!S_ISREG(info.st_mode)) {
            const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
            if (fd < 0)
                return failure(IoError::cannotCreate, errno);
            file = std::make_unique<DirectOutput>(fd, identityOf(info));
            return {};
        }
    }
    std::string resolved = resolveLinks(target);
    Temporary temporary;
    if (IoStatus status = createTemporary(folderPrefix(resolved), temporary); !status)
        return status;
    file = std::make_unique<ReplacingOutput>(std::move(temporary), std::move(resolved),
                                             exists ? identityOf(info) : FileIdentity{},
                                             exists ? static_cast<int>(info.st_mode & 0777) : -1, exclusive);
    return {};
}

std::unique_ptr<OutputFile> standardOutput()
{
    const int fd = openSpool();
    if (fd < 0)
        return std::make_unique<StandardOutput>();
    return std::make_unique<SpooledStandardOutput>(fd);
}

std::unique_ptr<InputFile> standardInput()
{
    struct stat info {};
    if (::fstat(STDIN_FILENO, &info) != 0)
        info.st_mode = S_IFIFO;
    return std::make_unique<PosixInputFile>(STDIN_FILENO, info, false, false);
}

bool isRegularFile(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool pathExists(const std::string& path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}


void removeTemporariesOnInterrupt()
{
    if (cleanupInstalled.exchange(true))
        return;
    cleanupThread = pthread_self();
    struct sigaction action {};
    action.sa_handler = removeTemporariesAndDie;
    sigemptyset(&action.sa_mask);
    for (int signal : interruptSignals) {
        struct sigaction previous {};
        // A signal ignored by whoever started us (nohup) stays ignored.
        if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
            continue;
        ::sigaction(signal, &action, nullptr);
    }
}

} // namespace dls2mml
