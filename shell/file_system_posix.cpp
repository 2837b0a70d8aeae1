// POSIX file calls for the conversion job.
#include "shell/file_system.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

namespace dls2mml {
namespace {

IoStatus failure(IoError error, int code) { return {error, code ? std::strerror(code) : std::string()}; }

IoStatus writeAll(int fd, std::span<const std::uint8_t> bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int code = errno;
            return failure(code == ENOSPC || code == EDQUOT ? IoError::diskFull : IoError::writeFailed, code);
        }
        if (n == 0)
            return failure(IoError::writeFailed, EIO);
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return {};
}

class PosixInputFile final : public InputFile {
public:
    PosixInputFile(int fd, std::uint64_t size, bool owned) : fd_(fd), size_(size), owned_(owned) {}
    ~PosixInputFile() override
    {
        if (owned_)
            ::close(fd_);
    }
    std::uint64_t size() const noexcept override { return size_; }
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

private:
    int fd_;
    std::uint64_t size_;
    bool owned_;
};

// Writes to a temporary beside the target and renames it over the target on
// commit, so a failed write never leaves a partial document nor harms an
// earlier one. Targets that are not regular files (devices, pipes) are written
// directly: renaming over them would replace the device node itself.
class PosixOutputFile final : public OutputFile {
public:
    PosixOutputFile(int fd, std::string target, std::string temporary, bool exclusive)
        : fd_(fd), target_(std::move(target)), temporary_(std::move(temporary)), exclusive_(exclusive)
    {
    }
    ~PosixOutputFile() override
    {
        if (fd_ >= 0)
            ::close(fd_);
        if (!committed_ && !temporary_.empty())
            ::unlink(temporary_.c_str());
    }
    IoStatus write(std::span<const std::uint8_t> bytes) noexcept override { return writeAll(fd_, bytes); }
    bool seekable() const noexcept override { return !temporary_.empty(); }
    std::string pendingPath() const override { return temporary_; }
    IoStatus writeAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) noexcept override
    {
        while (!bytes.empty()) {
            const ssize_t n = ::pwrite(fd_, bytes.data(), bytes.size(), static_cast<off_t>(offset));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                const int code = n < 0 ? errno : EIO;
                return failure(code == ENOSPC || code == EDQUOT ? IoError::diskFull : IoError::writeFailed, code);
            }
            bytes = bytes.subspan(static_cast<std::size_t>(n));
            offset += static_cast<std::uint64_t>(n);
        }
        return {};
    }
    IoStatus readAt(std::uint64_t offset, std::span<std::uint8_t> bytes) noexcept override
    {
        while (!bytes.empty()) {
            const ssize_t n = ::pread(fd_, bytes.data(), bytes.size(), static_cast<off_t>(offset));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return failure(IoError::writeFailed, n < 0 ? errno : EIO);
            bytes = bytes.subspan(static_cast<std::size_t>(n));
            offset += static_cast<std::uint64_t>(n);
        }
        return {};
    }
    IoStatus truncate(std::uint64_t length) noexcept override
    {
        if (::ftruncate(fd_, static_cast<off_t>(length)) != 0)
            return failure(IoError::writeFailed, errno);
        return {};
    }
    IoStatus commit() noexcept override
    {
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0)
            return failure(errno == ENOSPC || errno == EDQUOT ? IoError::diskFull : IoError::writeFailed, errno);
        if (temporary_.empty()) {
            committed_ = true;
            return {};
        }
        if (exclusive_) {
            // link fails if the target appeared meanwhile: never overwrite then.
            if (::link(temporary_.c_str(), target_.c_str()) != 0)
                return failure(IoError::cannotCreate, errno);
            ::unlink(temporary_.c_str());
        } else if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
            return failure(IoError::cannotCreate, errno);
        }
        committed_ = true;
        return {};
    }

private:
    int fd_;
    std::string target_;
    std::string temporary_;
    bool exclusive_;
    bool committed_ = false;
};

class StandardOutput final : public OutputFile {
public:
    IoStatus write(std::span<const std::uint8_t> bytes) noexcept override { return writeAll(STDOUT_FILENO, bytes); }
    IoStatus commit() noexcept override { return {}; }
};

std::string temporaryNameFor(const std::string& target)
{
    static std::atomic<unsigned> counter{0};
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    return folder + "." + name + "." + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp";
}

} // namespace

IoStatus openInputFile(const std::string& path, std::unique_ptr<InputFile>& file)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return failure(errno == ENOENT || errno == ENOTDIR ? IoError::notFound : IoError::cannotOpen, errno);
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
    const std::uint64_t size = S_ISREG(info.st_mode) ? static_cast<std::uint64_t>(info.st_size) : UINT64_MAX;
    file = std::make_unique<PosixInputFile>(fd, size, true);
    return {};
}

IoStatus createOutputFile(const std::string& target, std::unique_ptr<OutputFile>& file, bool exclusive)
{
    struct stat info {};
    if (::stat(target.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode))
            return {IoError::cannotCreate, "is a folder"};
        if (exclusive)
            return {IoError::cannotCreate, "file exists"};
        if (!S_ISREG(info.st_mode)) {
            const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
            if (fd < 0)
                return failure(IoError::cannotCreate, errno);
            file = std::make_unique<PosixOutputFile>(fd, target, std::string(), false);
            return {};
        }
    }
    std::string temporary = temporaryNameFor(target);
    const int fd = ::open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return failure(errno == ENOSPC || errno == EDQUOT ? IoError::diskFull : IoError::cannotCreate, errno);
    file = std::make_unique<PosixOutputFile>(fd, target, std::move(temporary), exclusive);
    return {};
}

std::unique_ptr<OutputFile> standardOutput() { return std::make_unique<StandardOutput>(); }

std::unique_ptr<InputFile> standardInput() { return std::make_unique<PosixInputFile>(STDIN_FILENO, UINT64_MAX, false); }

bool pathExists(const std::string& path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

bool removeFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

} // namespace dls2mml
