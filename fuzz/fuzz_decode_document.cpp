// Arbitrary bytes as a cue-point document: the reader returns an error or
// data, and feeding the same bytes in two pieces gives the same verdict. A
// decoded bank that begins as a RIFF file then goes through the chunk walker
// of -t, whole and in two pieces, with the same verdict (the seeds include
// DLS banks whose frames were damaged but still decode).
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "bank/dls_bank.h"
#include "shell/document/document_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace dls2mml;
    const std::string_view document(reinterpret_cast<const char*>(data), size);
    std::vector<std::uint8_t> whole;
    const TextStatus first = decodeDocument(document, whole);

    std::uint64_t bytes = 0;
    DocumentReader reader([&bytes](std::span<const std::uint8_t> block) {
        bytes += block.size();
        return true;
    });
    const std::size_t cut = size ? data[size - 1] % (size + 1) : 0;
    TextStatus second = reader.feed(document.substr(0, cut));
    if (second.ok())
        second = reader.feed(document.substr(cut));
    if (second.ok())
        second = reader.finish();
    if (second.kind != first.kind || second.describe() != first.describe() || (first.ok() && bytes != whole.size()))
        std::abort();
    if (first.ok() && whole.size() >= 4 && std::string_view(reinterpret_cast<const char*>(whole.data()), 4) == "RIFF") {
        const std::string verdict = checkDlsBank(whole).describe();
        DlsReader pieces;
        const std::size_t half = whole.size() / 2;
        pieces.feed(std::span<const std::uint8_t>(whole).first(half));
        pieces.feed(std::span<const std::uint8_t>(whole).subspan(half));
        if (pieces.finish().describe() != verdict)
            std::abort();
    }
    return 0;
}
