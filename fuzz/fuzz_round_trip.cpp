// Arbitrary bytes -> tbr0 stream -> decoded bytes, and the same through the
// cue-point document: both must give the input back. The first byte also
// moves the pivot state, so equal rotations land on varying rows.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "compressor/block_compressor.h"
#include "compressor/block_decompressor.h"
#include "compressor/pivot_generator.h"
#include "shell/document/cue_point_document.h"
#include "shell/document/document_reader.h"
#include "text/base64_lines.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace dls2mml;
    if (size > 4 * blockSizeForLevel1)
        return 0;
    if (size > 0)
        pivotGenerator.setState(pivotGenerator.state() + data[0]);
    // One compressor for the whole run, its buffers taken once: blocks are
    // coded independently, so this is the stream compress() writes.
    static BlockCompressor compressor;
    static const bool ready = compressor.allocateBuffers().ok();
    if (!ready)
        std::abort();
    std::vector<std::uint8_t> stream(compressBound(size));
    std::size_t at = streamHeaderSize;
    for (std::size_t done = 0; done < size;) {
        const std::size_t n = std::min(size - done, blockSizeForLevel1);
        const CompressStatus written =
            compressor.compressBlock(std::span(data + done, n), std::span(stream).subspan(at, frameBound(n)));
        if (!written)
            std::abort();
        at += written.length;
        done += n;
    }
    writeStreamHeader(std::span<std::uint8_t, streamHeaderSize>(stream.data(), streamHeaderSize),
                      static_cast<std::uint32_t>(size));
    stream.resize(at);

    std::vector<std::uint8_t> decoded;
    if (!decompressStream(stream, decoded).ok() || decoded.size() != size ||
        (size && !std::equal(decoded.begin(), decoded.end(), data)))
        std::abort();

    std::string document(documentHead);
    document += formatSizesLine(size, stream.size());
    std::string text(base64LinesLength(stream.size()) + 1, '\0');
    text.resize(static_cast<std::size_t>(
        encodeBase64Lines(stream.data(), static_cast<std::uint32_t>(stream.size()), text.data())));
    document += text;
    document += documentFooter;
    std::vector<std::uint8_t> bank;
    if (!decodeDocument(document, bank).ok() || bank != decoded)
        std::abort();
    return 0;
}
