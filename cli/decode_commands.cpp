// Placeholder until the decoder lands: the decoding modes report that they are unavailable.
#include "cli/decode_commands.h"

#include <cstdio>

namespace dls2mml::cli {

int runTestCommand(const Options&)
{
    std::fputs("dls2mml: -t is not available in this build\n", stderr);
    return 1;
}

int runDecodeCommand(const Options&)
{
    std::fputs("dls2mml: -d is not available in this build\n", stderr);
    return 1;
}

void installDocumentVerifier() {}

} // namespace dls2mml::cli
