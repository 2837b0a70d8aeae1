// Arbitrary bytes as a cue-point document through the C interface: every
// result is one of the documented codes, no capacity is ever written past
// (each buffer is exactly as large as the capacity given, so AddressSanitizer
// sees any overrun), and the streaming decoder, fed in two pieces, agrees with
// the whole-document decoder on the verdict and the bytes.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "dls2mml/dls2mml.h"

namespace {

bool known(int code) { return code <= DLS2MML_OK && code >= DLS2MML_E_INTERNAL; }

int collect(void* context, const void* bytes, size_t size)
{
    auto* out = static_cast<std::vector<std::uint8_t>*>(context);
    const auto* p = static_cast<const std::uint8_t*>(bytes);
    out->insert(out->end(), p, p + size);
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const char* document = reinterpret_cast<const char*>(data);
    std::uint32_t stated = 0;
    std::uint32_t stream = 0;
    const int sizes = dls2mml_document_sizes(document, size, &stated, &stream);
    if (!known(sizes))
        std::abort();
    // Enough room for what the sizes line states (within reason), and one byte less.
    const std::size_t capacity = sizes == DLS2MML_OK ? std::min<std::size_t>(stated, 1u << 24) : 64;
    auto bank = std::make_unique<std::uint8_t[]>(capacity);
    std::size_t got = 0;
    const int whole = dls2mml_decode(document, size, bank.get(), capacity, &got);
    if (!known(whole) || (whole == DLS2MML_OK && (sizes != DLS2MML_OK || got != stated)))
        std::abort();
    if (sizes == DLS2MML_OK && stated > 0 && stated <= capacity) {
        auto tight = std::make_unique<std::uint8_t[]>(stated - 1);
        std::size_t needed = 0;
        if ((dls2mml_decode(document, size, tight.get(), stated - 1, &needed) != DLS2MML_E_CAPACITY || needed != stated))
            std::abort();
    }

    std::vector<std::uint8_t> streamed;
    dls2mml_decoder* decoder = nullptr;
    if (dls2mml_decoder_create(collect, &streamed, &decoder) != DLS2MML_OK)
        std::abort();
    const std::size_t cut = size ? data[size - 1] % (size + 1) : 0;
    int code = dls2mml_decoder_feed(decoder, document, cut);
    if (code == DLS2MML_OK)
        code = dls2mml_decoder_feed(decoder, document + cut, size - cut);
    if (code == DLS2MML_OK)
        code = dls2mml_decoder_finish(decoder);
    std::uint64_t line = 0;
    std::uint64_t column = 0;
    if (dls2mml_decoder_fault(decoder, &line, &column) != code || (code != DLS2MML_OK && code != DLS2MML_E_NO_MEMORY && line == 0))
        std::abort();
    dls2mml_decoder_free(decoder);
    if (whole != DLS2MML_E_CAPACITY && code != whole)
        std::abort();
    if (whole == DLS2MML_OK && (streamed.size() != got || !std::equal(streamed.begin(), streamed.end(), bank.get())))
        std::abort();
    return 0;
}
