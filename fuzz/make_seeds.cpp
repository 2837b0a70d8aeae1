// Writes the seed corpus of the fuzz targets with our own compressor and
// document writer: raw inputs for round_trip, their tbr0 streams for
// decode_stream and their cue-point documents for decode_document; and
// groups of one to three range-coded payloads for range_payloads; and small
// hand-made DLS banks, each behind its control bytes and list, for read_bank.
//   make_seeds CORPUS_DIR   (creates CORPUS_DIR/<target>/seed_NN)
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "compressor/block_compressor.h"
#include "compressor/range_coder.h"
#include "shell/document/cue_point_document.h"
#include "tests/support/dls_chunks.h"
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

// Each input as dir/seed_NN, numbered from 00 in order.
bool writeSeeds(const std::filesystem::path& dir, const std::vector<Bytes>& inputs)
{
    for (std::size_t n = 0; n < inputs.size(); ++n) {
        char name[16];
        std::snprintf(name, sizeof name, "seed_%02zu", n);
        if (!writeFile(dir / name, inputs[n].data(), inputs[n].size()))
            return false;
    }
    return true;
}

// One block's payload: the range coder's bytes for these symbols.
Bytes payloadOf(const Bytes& symbols)
{
    auto models = std::make_unique<dls2mml::ModelSet>();
    Bytes out(dls2mml::encodeBlockBound(symbols.size()));
    out.resize(static_cast<std::size_t>(dls2mml::encodeBlock(*models, out, symbols)));
    return out;
}

// Groups of payloads in the input form of range_payloads: the number of
// payloads less one, a 16-bit little-endian length for each but the last,
// then the payloads.
std::vector<Bytes> payloadGroups()
{
    Bytes noisy(2000);
    std::uint32_t state = 777;
    for (auto& b : noisy) {
        state = state * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>((state >> 24) % 40);
    }
    Bytes ramp(512);
    for (std::size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = static_cast<std::uint8_t>(i * 7);
    const std::vector<std::vector<Bytes>> groups = {
        {repeated("abc", 1), ramp, Bytes(300, 0)},
        {noisy, {}},
        {Bytes(5000, 0x80)},
        {noisy, noisy, noisy},
        {repeated("aaab", 60), Bytes(40, 0xFE), repeated("xyz", 30)},
    };
    std::vector<Bytes> out;
    for (const auto& group : groups) {
        Bytes input{static_cast<std::uint8_t>(group.size() - 1)};
        std::vector<Bytes> payloads;
        for (const Bytes& symbols : group)
            payloads.push_back(payloadOf(symbols));
        for (std::size_t i = 0; i + 1 < payloads.size(); ++i) {
            input.push_back(static_cast<std::uint8_t>(payloads[i].size()));
            input.push_back(static_cast<std::uint8_t>(payloads[i].size() >> 8));
        }
        for (const Bytes& payload : payloads)
            input.insert(input.end(), payload.begin(), payload.end());
        out.push_back(input);
    }
    return out;
}

using dls2mml::test::chunk;
using dls2mml::test::list;
using dls2mml::test::words;
using dls2mml::test::zstring;

// An instrument whose regions link to the given cues (rgn2 lists, each
// starting with an odd-sized cdl chunk, when level2).
Bytes instrument(std::uint32_t bank, std::uint32_t program, std::initializer_list<std::uint32_t> cues,
                 const std::string& name, bool level2)
{
    std::vector<Bytes> regions;
    for (std::uint32_t cue : cues) {
        std::vector<Bytes> parts;
        if (level2)
            parts.push_back(chunk("cdl ", Bytes{0x10, 0x00, 0x01}));
        parts.push_back(chunk("rgnh", Bytes(12, 0)));
        parts.push_back(chunk("wlnk", words({0, 0, cue})));
        regions.push_back(list("LIST", level2 ? "rgn2" : "rgn ", parts));
    }
    return list("LIST", "ins ",
                {chunk("insh", words({static_cast<std::uint32_t>(cues.size()), bank, program})),
                 list("LIST", "lrgn", regions), list("LIST", "lart", {chunk("art1", words({8, 0}))}),
                 list("LIST", "INFO", {chunk("INAM", zstring(name))})});
}

// Three instruments over four waves (the last used by none); cues[i] is the
// wave cue i points at (past the pool: a cue that leads nowhere). extra goes
// into the pool beside the waves.
Bytes bank(bool level2, std::vector<std::uint32_t> cues, bool extra)
{
    std::vector<Bytes> pool;
    for (std::uint8_t i = 0; i < 4; ++i)
        pool.push_back(list("LIST", "wave", {chunk("fmt ", words({0x00010001, 22050, 44100, 0x00100002})),
                                            chunk("data", Bytes(9u + 6u * i, static_cast<std::uint8_t>(i + 1)))}));
    if (extra)
        pool.insert(pool.begin() + 1, chunk("JUNK", Bytes(3, 0)));
    std::vector<std::uint32_t> starts;
    std::uint32_t at = 0;
    for (const Bytes& child : pool) {
        if (child.size() > 12 && child[8] == 'w')
            starts.push_back(at);
        at += static_cast<std::uint32_t>(child.size());
    }
    Bytes ptbl = words({8, static_cast<std::uint32_t>(cues.size())});
    for (std::uint32_t wave : cues)
        dls2mml::test::put32(ptbl, wave < starts.size() ? starts[wave] : 5);
    return list("RIFF", "DLS ",
                {chunk("colh", words({3})), chunk("vers", words({0x00010000, 1})), chunk("dlid", Bytes(16, 0xAB)),
                 list("LIST", "lins",
                      {instrument(0, 0, {0, 1}, "A", level2), instrument(0x0102, 5, {1, 2}, "Bb", level2),
                       instrument(0x80000000u, 0, {3}, "C", level2)}),
                 chunk("ptbl", ptbl), list("LIST", "wvpl", pool), list("LIST", "INFO", {chunk("INAM", zstring("Seed"))})});
}

// Inputs of read_bank: the piece size, the mask of instruments to keep and
// the list's length, then the list and the bank.
std::vector<Bytes> bankInputs()
{
    struct Seed {
        std::uint8_t piece, mask;
        std::string list;
        Bytes bank;
    };
    Bytes cut = bank(false, {2, 0, 3, 1}, false);
    cut.resize(cut.size() - 7);
    const std::vector<Seed> seeds = {
        {6, 0x05, "1,p5:1/2", bank(false, {2, 0, 3, 1}, false)},
        {0, 0x02, "d0", bank(true, {2, 0, 3, 1}, false)},
        {13, 0x01, "2-3", bank(false, {1, 1, 0, 3}, true)},
        {63, 0x04, "p0", bank(false, {2, 0, 7, 1}, false)},
        {1, 0xFF, "1-3", bank(true, {0, 1, 2, 3}, true)},
        {2, 0x03, "p0:", cut},
    };
    std::vector<Bytes> out;
    for (const Seed& seed : seeds) {
        Bytes input{seed.piece, seed.mask, static_cast<std::uint8_t>(seed.list.size())};
        input.insert(input.end(), seed.list.begin(), seed.list.end());
        input.insert(input.end(), seed.bank.begin(), seed.bank.end());
        out.push_back(input);
    }
    return out;
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
    for (const char* target : {"round_trip", "decode_stream", "decode_document", "range_payloads", "read_bank"})
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
    return writeSeeds(root / "range_payloads", payloadGroups()) && writeSeeds(root / "read_bank", bankInputs()) ? 0 : 1;
}
