// Arbitrary bytes as a tbr0 stream: the decoder returns an error or data, and
// feeding the same bytes in two pieces gives the same verdict.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "compressor/block_decompressor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace dls2mml;
    const std::span<const std::uint8_t> stream(data, size);
    std::vector<std::uint8_t> whole;
    const DecodeStatus first = decompressStream(stream, whole);
    if (first.ok() && whole.size() > maxLength32)
        std::abort();

    std::uint64_t pieces = 0;
    BlockDecompressor decoder([&pieces](std::span<const std::uint8_t> block) {
        pieces += block.size();
        return true;
    });
    const std::size_t cut = size ? data[0] % (size + 1) : 0;
    DecodeStatus second = decoder.feed(stream.first(cut));
    if (second.ok())
        second = decoder.feed(stream.subspan(cut));
    if (second.ok())
        second = decoder.finish();
    if (second.kind != first.kind || second.message != first.message || second.offset != first.offset || (first.ok() && pieces != whole.size()))
        std::abort();
    return 0;
}
