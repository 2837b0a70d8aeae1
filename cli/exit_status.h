// The command line's exit status for each kind of failure: the one place where
// kinds become statuses.
#pragma once

#include "fault/fault_kind.h"

namespace dls2mml::cli {

// 0 when every file was converted, 2 for a usage error (an option or an
// argument the program cannot take), 1 for any other failure.
constexpr int exitStatusFor(FaultKind kind) noexcept
{
    switch (kind) {
    case FaultKind::none: return 0;
    case FaultKind::badArgument: return 2;
    default: return 1;
    }
}

// The run's status: the worse of the two.
constexpr int worseStatus(int a, int b) noexcept { return a > b ? a : b; }

} // namespace dls2mml::cli
