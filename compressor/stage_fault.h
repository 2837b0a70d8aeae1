// How a decoding stage reports data that the coder cannot have written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "fault/fault_kind.h"

namespace dls2mml {

// A byte value as it appears in fault messages: "0x4F".
inline std::string hexByte(std::uint32_t value)
{
    static const char digits[] = "0123456789ABCDEF";
    return std::string("0x") + digits[(value >> 4) & 0xF] + digits[value & 0xF];
}

// A stage's verdict: kind none when the input was sound.
struct StageFault {
    FaultKind kind = FaultKind::none;
    std::string message;
    std::size_t position = 0; // index into the stage's input
    bool failed() const noexcept { return kind != FaultKind::none; }
};

} // namespace dls2mml
