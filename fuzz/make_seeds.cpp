// Writes the seed corpus of the fuzz targets with our own compressor and
// document writer: raw inputs for round_trip, their tbr0 streams for
// decode_stream and their cue-point documents for decode_document.
//   make_seeds CORPUS_DIR   (creates CORPUS_DIR/<target>/seed_NN)
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "compressor/block_compressor.h"
#include "shell/document/cue_point_document.h"
#include "text/base64_lines.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes repeated(const std::string& pattern, std::size_t times)
{
    Bytes out;
    for (std::size_t i = 0; i < times; ++i)
        out.insert(out.end(), pattern.begin(), pattern.end());
    return out;
}

std::vector<Bytes> inputs()
{
    std::vector<Bytes> out;
    out.push_back({});
    out.push_back(repeated("abc", 1));
    out.push_back(repeated("a", 8));
    out.push_back(repeated("aaab", 6));
    out.push_back(repeated("ab", 40));
    out.push_back(repeated("x", 131));
    out.push_back(repeated("aaaabbbb", 200));
    Bytes ramp(512);
    for (std::size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = static_cast<std::uint8_t>(i * 7);
    out.push_back(ramp);
    // A small bank-like file: a RIFF header, a chunk table and noisy samples.
    Bytes bank = repeated("RIFF\x10\x20\x00\x00" "DLS colh\x04\x00\x00\x00", 1);
    std::uint32_t state = 12345;
    for (int i = 0; i < 3000; ++i) {
        state = state * 1103515245u + 12345u;
        bank.push_back(static_cast<std::uint8_t>((i % 64 < 32 ? 128 : 0) + ((state >> 24) & 15)));
    }
    out.push_back(bank);
    return out;
}

bool writeFile(const std::filesystem::path& path, const void* data, std::size_t size)
{
    std::FILE* f = std::fopen(path.string().c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace dls2mml;
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds CORPUS_DIR\n");
        return 2;
    }
    const std::filesystem::path root(argv[1]);
    for (const char* target : {"round_trip", "decode_stream", "decode_document"})
        std::filesystem::create_directories(root / target);
    int n = 0;
    for (const Bytes& input : inputs()) {
        Bytes stream(compressBound(input.size()));
        std::uint32_t length = 0;
        BlockCompressor compressor;
        const std::uint8_t none = 0;
        if (!compressor.compress(input.empty() ? &none : input.data(), stream.data(),
                                 static_cast<std::uint32_t>(input.size()), &length))
            return 1;
        stream.resize(streamHeaderSize + length);
        std::string text(base64LinesLength(stream.size()) + 1, '\0');
        text.resize(static_cast<std::size_t>(
            encodeBase64Lines(stream.data(), static_cast<std::uint32_t>(stream.size()), text.data())));
        const std::string document = std::string(documentHead) + formatSizesLine(input.size(), stream.size()) + text +
                                     std::string(documentFooter);
        char name[16];
        std::snprintf(name, sizeof name, "seed_%02d", n++);
        if (!writeFile(root / "round_trip" / name, input.data(), input.size()) ||
            !writeFile(root / "decode_stream" / name, stream.data(), stream.size()) ||
            !writeFile(root / "decode_document" / name, document.data(), document.size()))
            return 1;
    }
    return 0;
}
