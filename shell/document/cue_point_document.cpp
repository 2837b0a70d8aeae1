#include "shell/document/cue_point_document.h"

#include <cstdio>

#include "compressor/block_compressor.h"
#include "text/base64_lines.h"

namespace dls2mml {

std::string formatSizesLine(std::uint64_t inputLength, std::uint64_t streamLength)
{
    char line[48];
    const int length = std::snprintf(line, sizeof line, "(%llu %llu)\n", static_cast<unsigned long long>(inputLength),
                                     static_cast<unsigned long long>(streamLength));
    return std::string(line, static_cast<std::size_t>(length));
}

std::uint64_t documentLength(std::uint64_t inputLength, std::uint64_t streamLength)
{
    return documentHead.size() + formatSizesLine(inputLength, streamLength).size() +
           base64LinesLength(streamLength) + documentFooter.size();
}

std::uint64_t documentBound(std::uint64_t inputLength)
{
    return documentLength(inputLength, compressBound(static_cast<std::size_t>(inputLength)));
}

} // namespace dls2mml
