// -l: what a document or a bank holds, without writing anything.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cli/options.h"

namespace dls2mml::cli {

// Returns the exit status: 0 when every file could be listed, 1 otherwise.
int runListCommand(const Options& options);

} // namespace dls2mml::cli
