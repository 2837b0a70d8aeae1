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

std::string describeIoStatus(const IoStatus& status) { return makeFault(status.kind(), status.detail).words; }

Fault faultOf(const IoStatus& status, FaultFile file)
{
    FaultPlace place;
    place.file = file;
    return makeFault(status.kind(), status.detail, place);
}

} // namespace dls2mml
