// SHA-256 of bytes that arrive in pieces: the running digest with which the
// tests' oracle knows a bank it cannot read twice (document_oracle.h).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace dls2mml {

class Sha256 {
public:
    using Digest = std::array<std::uint8_t, 32>;

    Sha256() noexcept;
    void add(std::span<const std::uint8_t> bytes) noexcept;
    // The digest of everything added; the object is spent afterwards.
    Digest finish() noexcept;

private:
    void compress(const std::uint8_t* block) noexcept;

    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> block_{};
    std::size_t filled_ = 0;
    std::uint64_t length_ = 0; // bytes added
};

} // namespace dls2mml
