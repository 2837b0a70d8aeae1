#include "fault/fault_kind.h"

namespace dls2mml {

const char* faultKindName(FaultKind kind) noexcept
{
    switch (kind) {
    case FaultKind::none: return "none";
    case FaultKind::badMagic: return "badMagic";
    case FaultKind::badHeader: return "badHeader";
    case FaultKind::truncated: return "truncated";
    case FaultKind::corrupt: return "corrupt";
    case FaultKind::limitExceeded: return "limitExceeded";
    case FaultKind::lengthMismatch: return "lengthMismatch";
    case FaultKind::trailingData: return "trailingData";
    case FaultKind::badText: return "badText";
    case FaultKind::outputRefused: return "outputRefused";
    case FaultKind::readFailed: return "readFailed";
    case FaultKind::outOfMemory: return "outOfMemory";
    }
    return "unknown";
}

} // namespace dls2mml
