// The decoding modes of the command line: -t (test documents) and -d (extract banks).
#pragma once

#include "cli/options.h"

namespace dls2mml::cli {

// Each returns the exit status: 0 when every file was good, 1 otherwise.
int runTestCommand(const Options& options);
int runDecodeCommand(const Options& options);

} // namespace dls2mml::cli
