// CRC-64 (the reflected ECMA-182 polynomial, initial value and final xor all
// ones) of bytes that arrive in pieces: the fingerprint with which --verify
// compares the stream read back from a document with the frames written. It
// finds every error burst of up to 64 bits and misses other changes with a
// chance of 2^-64, at several bytes per cycle.
#pragma once

#include <cstdint>
#include <span>

namespace dls2mml {

class Crc64 {
public:
    void add(std::span<const std::uint8_t> bytes) noexcept;
    std::uint64_t value() const noexcept { return ~state_; }

private:
    std::uint64_t state_ = ~std::uint64_t{0};
};

} // namespace dls2mml
