#include "platform/file_system.h"

#include <algorithm>
#include <cstring>

namespace dls2mml {
namespace {

class MemoryInput final : public InputFile {
public:
    explicit MemoryInput(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint64_t size() const noexcept override { return bytes_.size(); }
    IoStatus read(std::span<std::uint8_t> buffer, std::size_t& got) noexcept override
    {
        got = std::min(buffer.size(), bytes_.size() - at_);
        if (got)
            std::memcpy(buffer.data(), bytes_.data() + at_, got);
        at_ += got;
        return {};
    }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t at_ = 0;
};

} // namespace

std::unique_ptr<InputFile> memoryInput(std::span<const std::uint8_t> bytes)
{
    return std::make_unique<MemoryInput>(bytes);
}

std::string describeIoStatus(const IoStatus& status)
{
    std::string words;
    switch (status.error) {
    case IoError::none: return "ok";
    case IoError::cannotOpen: words = "cannot open"; break;
    case IoError::isFolder: return "is a folder"; // says it all
    case IoError::cannotRead: words = "cannot read"; break;
    case IoError::cannotCreate: words = "cannot create output"; break;
    case IoError::writeFailed: words = "write failed"; break;
    case IoError::diskFull: words = "disk full"; break;
    }
    if (!status.detail.empty())
        words += ": " + status.detail;
    return words;
}

} // namespace dls2mml
