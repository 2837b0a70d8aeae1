// CRC-64 (the reflected ECMA-182 polynomial, initial value and final xor all
// ones) of bytes that arrive in pieces: the fingerprint with which --verify
// compares the stream read back from a document with the frames written. It
// finds every error burst of up to 64 bits and misses other changes with a
// chance of 2^-64. On x86-64 processors that multiply without carries, long
// pieces are folded sixteen bytes at a time, eight such lanes at once, at
// several bytes per cycle; elsewhere, and for short pieces, tables take
// sixteen bytes per step, at about one byte per cycle.
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

// The two ways of advancing a CRC-64 register (not yet inverted) over bytes,
// named so that tests can hold each against the other. crc64AdvanceFolding
// may be called only where crc64CanFold() is true; it takes pieces of any
// length and leaves short ones to the tables.
std::uint64_t crc64AdvanceTables(std::uint64_t state, std::span<const std::uint8_t> bytes) noexcept;
std::uint64_t crc64AdvanceFolding(std::uint64_t state, std::span<const std::uint8_t> bytes) noexcept;
bool crc64CanFold() noexcept;

} // namespace dls2mml
