// A whole document built at once from a stream header and its frames: the
// reference that documents written piece by piece are compared with.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "compressor/block_compressor.h"
#include "shell/document/cue_point_document.h"
#include "support/test_support.h"
#include "text/base64_lines.h"

namespace dls2mml::test {

inline std::string wholeDocument(std::uint64_t inputLength, const std::vector<Bytes>& frames)
{
    Bytes stream(streamHeaderSize);
    writeStreamHeader(std::span<std::uint8_t, streamHeaderSize>(stream.data(), streamHeaderSize),
                      static_cast<std::uint32_t>(inputLength));
    for (const Bytes& frame : frames)
        stream.insert(stream.end(), frame.begin(), frame.end());
    std::string text(base64LinesLength(stream.size()) + 1, '\0');
    text.resize(static_cast<std::size_t>(
        encodeBase64Lines(stream.data(), static_cast<std::uint32_t>(stream.size()), text.data())));
    return std::string(documentHead) + formatSizesLine(inputLength, stream.size()) + text + std::string(documentFooter);
}

} // namespace dls2mml::test
