// The C interface (include/dls2mml/dls2mml.h) over the conversion and decode
// jobs, as every other face (the streaming decoder over the document reader
// the decode job reads with). Every entry catches whatever the C++ below may
// throw, so nothing unwinds into a C caller.
#include "dls2mml/dls2mml.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <string_view>

#include "bank/instrument_selection.h"
#include "library/result_codes.h"
#include "platform/file_system.h"
#include "shell/conversion_job.h"
#include "shell/decode_job.h"
#include "shell/document/cue_point_document.h"
#include "shell/document/document_reader.h"

#ifndef DLS2MML_VERSION_STRING
#define DLS2MML_VERSION_STRING "unknown"
#endif

namespace dls2mml {
namespace {

constexpr std::uint64_t maxBankLength = 0xFFFFFFFFull;

// The caller's buffer as an output file that never writes past its
// capacity. What goes beyond is counted, not kept (or, with stopAtCapacity,
// refused), so that the caller can be told the size a buffer needs.
class BufferOutput final : public OutputFile {
public:
    BufferOutput(void* buffer, std::size_t capacity, bool stopAtCapacity)
        : buffer_(static_cast<std::uint8_t*>(buffer)), capacity_(capacity), stop_(stopAtCapacity) {}

    IoStatus write(std::span<const std::uint8_t> bytes) noexcept override
    {
        if (bytes.size() > capacity_ - std::min(size_, capacity_)) {
            overflow_ = true;
            if (stop_)
                return {IoError::writeFailed, "output buffer too small"};
        }
        if (!overflow_ && !bytes.empty())
            std::memcpy(buffer_ + size_, bytes.data(), bytes.size());
        size_ += bytes.size();
        return {};
    }
    IoStatus commit() noexcept override { return {}; }

    std::uint64_t size() const noexcept { return size_; }
    bool overflow() const noexcept { return overflow_; }

private:
    std::uint8_t* buffer_;
    std::size_t capacity_;
    std::uint64_t size_ = 0;
    bool overflow_ = false;
    bool stop_;
};

int encode(const void* bank, std::size_t bankSize, char* document, std::size_t capacity, std::size_t* documentSize)
{
    if ((!bank && bankSize) || (!document && capacity))
        return DLS2MML_E_ARGUMENT;
    if (bankSize > maxBankLength)
        return DLS2MML_E_TOO_LARGE;
    const std::unique_ptr<InputFile> input =
        memoryInput(std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(bank), bankSize));
    BufferOutput output(document, capacity, false);
    JobRequest request;
    request.input = input.get();
    request.output = &output;
    request.threads = 1; // a library call starts no threads of its own
    const JobReport report = runConversionJob(request);
    // The buffer takes every byte, so a write fails only where the document
    // writer's own memory ran out.
    if (report.fault.kind == FaultKind::writeFailed)
        return resultCodeFor(FaultKind::outOfMemory);
    if (!report.ok())
        return resultCodeFor(report.fault); // nothing else can happen to a buffer sorted in order, unchecked
    if (output.overflow()) {
        if (documentSize)
            *documentSize = static_cast<std::size_t>(output.size());
        return DLS2MML_E_CAPACITY;
    }
    if (documentSize)
        *documentSize = static_cast<std::size_t>(output.size());
    return DLS2MML_OK;
}

// The head and the sizes line only, as the document reader judges them.
int readSizes(std::string_view document, std::uint32_t* bankSize, std::uint32_t* streamSize)
{
    DocumentSizes sizes;
    bool atEnd = false;
    if (const TextStatus status = readDocumentSizes(document, sizes, atEnd); !status.ok())
        return resultCodeFor(documentFault(status, atEnd));
    if (bankSize)
        *bankSize = static_cast<std::uint32_t>(sizes.bankBytes);
    if (streamSize)
        *streamSize = static_cast<std::uint32_t>(sizes.streamBytes);
    return DLS2MML_OK;
}

int decode(const char* document, std::size_t documentSize, void* bank, std::size_t capacity, std::size_t* bankSize)
{
    if ((!document && documentSize) || (!bank && capacity))
        return DLS2MML_E_ARGUMENT;
    const std::string_view text(document ? document : "", documentSize);
    std::uint32_t stated = 0;
    if (const int code = readSizes(text, &stated, nullptr); code != DLS2MML_OK)
        return code;
    if (stated > capacity) {
        if (bankSize)
            *bankSize = stated;
        return DLS2MML_E_CAPACITY;
    }
    // The reader checks every block against the sizes line; the capacity is
    // checked again by the output so that no damage can make it write past the end.
    const std::unique_ptr<InputFile> input =
        memoryInput(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    BufferOutput output(bank, capacity, true);
    DecodeRequest request;
    request.input = input.get();
    request.output = &output;
    const DecodeReport report = runDecodeJob(request);
    // A bank that runs past the length its sizes line gave is the stream's fault.
    if (!report.ok() && output.overflow())
        return resultCodeFor(FaultKind::lengthMismatch);
    if (!report.ok())
        return resultCodeFor(report.fault);
    if (bankSize)
        *bankSize = static_cast<std::size_t>(report.bankBytes);
    return DLS2MML_OK;
}

} // namespace
} // namespace dls2mml

struct dls2mml_decoder {
    explicit dls2mml_decoder(dls2mml_output_fn output, void* context)
        : reader([this, output, context](std::span<const std::uint8_t> block) {
              if (output(context, block.data(), block.size()) == 0)
                  return true;
              stopped = true;
              return false;
          })
    {
    }

    int failWith(const dls2mml::TextStatus& status, bool atEnd)
    {
        fault = status;
        code = dls2mml::resultCodeFor(stopped ? dls2mml::makeFault(dls2mml::FaultKind::outputRefused)
                                              : dls2mml::documentFault(status, atEnd));
        return code;
    }

    dls2mml::DocumentReader reader;
    dls2mml::TextStatus fault;
    int code = DLS2MML_OK;
    bool stopped = false;
    bool finished = false;
};

extern "C" {

const char* dls2mml_strerror(int code)
{
    switch (code) {
    case DLS2MML_OK: return "ok";
    case DLS2MML_E_ARGUMENT: return "invalid argument";
    case DLS2MML_E_CAPACITY: return "output buffer too small";
    case DLS2MML_E_TOO_LARGE: return "too large for the format's 32-bit fields";
    case DLS2MML_E_NO_MEMORY: return "out of memory";
    case DLS2MML_E_DOCUMENT: return "not a sound cue-point document";
    case DLS2MML_E_STREAM: return "the document's compressed stream is damaged";
    case DLS2MML_E_TRUNCATED: return "the document ends early";
    case DLS2MML_E_STOPPED: return "stopped by the output callback";
    case DLS2MML_E_INTERNAL: return "internal failure";
    case DLS2MML_E_SELECTION: return "the instruments asked for cannot be chosen";
    case DLS2MML_E_BANK: return "not a sound DLS bank";
    }
    return "unknown result code";
}

const char* dls2mml_version(void) { return DLS2MML_VERSION_STRING; }

size_t dls2mml_document_bound(size_t bank_size)
{
    if (bank_size > dls2mml::maxBankLength)
        return 0;
    const std::uint64_t n = bank_size;
    const std::uint64_t bound = dls2mml::documentBound(n);
    return static_cast<size_t>(std::min(bound, dls2mml::maxDocumentLength));
}

int dls2mml_encode(const void* bank, size_t bank_size, char* document, size_t capacity, size_t* document_size)
{
    try {
        return dls2mml::encode(bank, bank_size, document, capacity, document_size);
    } catch (const std::bad_alloc&) {
        return DLS2MML_E_NO_MEMORY;
    } catch (...) {
        return DLS2MML_E_INTERNAL;
    }
}

int dls2mml_select_instruments(const void* bank, size_t bank_size, const char* list, void* selected, size_t capacity,
                               size_t* selected_size)
{
    if ((!bank && bank_size) || !list || (!selected && capacity))
        return DLS2MML_E_ARGUMENT;
    try {
        using namespace dls2mml;
        const std::span<const std::uint8_t> input(static_cast<const std::uint8_t*>(bank), bank_size);
        const std::string_view items(list);
        if (!checkInstrumentList(items).empty())
            return resultCodeFor(FaultKind::selectionRefused);
        const LayoutResult layout = readBankLayout(input);
        if (!layout.ok())
            return resultCodeFor(FaultKind::notDlsBank);
        const Choice choice = chooseInstruments(layout.layout.entries, items);
        if (!choice.ok())
            return resultCodeFor(FaultKind::selectionRefused);
        const BankCut cut = cutBank(input, layout.layout, choice.instruments);
        if (!cut.ok())
            return resultCodeFor(FaultKind::notDlsBank); // a kept region links to no wave
        const std::span<const std::uint8_t> result = cut.unchanged ? input : std::span<const std::uint8_t>(cut.bytes);
        if (selected_size)
            *selected_size = result.size();
        if (result.size() > capacity)
            return DLS2MML_E_CAPACITY;
        if (!result.empty())
            std::memcpy(selected, result.data(), result.size());
        return DLS2MML_OK;
    } catch (const std::bad_alloc&) {
        return DLS2MML_E_NO_MEMORY;
    } catch (...) {
        return DLS2MML_E_INTERNAL;
    }
}

int dls2mml_document_sizes(const char* document, size_t document_size, uint32_t* bank_size, uint32_t* stream_size)
{
    if (!document && document_size)
        return DLS2MML_E_ARGUMENT;
    try {
        return dls2mml::readSizes(std::string_view(document ? document : "", document_size), bank_size, stream_size);
    } catch (const std::bad_alloc&) {
        return DLS2MML_E_NO_MEMORY;
    } catch (...) {
        return DLS2MML_E_INTERNAL;
    }
}

int dls2mml_decode(const char* document, size_t document_size, void* bank, size_t capacity, size_t* bank_size)
{
    try {
        return dls2mml::decode(document, document_size, bank, capacity, bank_size);
    } catch (const std::bad_alloc&) {
        return DLS2MML_E_NO_MEMORY;
    } catch (...) {
        return DLS2MML_E_INTERNAL;
    }
}

int dls2mml_decoder_create(dls2mml_output_fn output, void* context, dls2mml_decoder** decoder)
{
    if (!decoder)
        return DLS2MML_E_ARGUMENT;
    *decoder = nullptr;
    if (!output)
        return DLS2MML_E_ARGUMENT;
    try {
        *decoder = new dls2mml_decoder(output, context);
        return DLS2MML_OK;
    } catch (const std::bad_alloc&) {
        return DLS2MML_E_NO_MEMORY;
    } catch (...) {
        return DLS2MML_E_INTERNAL;
    }
}

int dls2mml_decoder_feed(dls2mml_decoder* decoder, const char* text, size_t size)
{
    if (!decoder || (!text && size) || decoder->finished)
        return DLS2MML_E_ARGUMENT;
    if (decoder->code != DLS2MML_OK)
        return decoder->code;
    try {
        const dls2mml::TextStatus status = decoder->reader.feed(std::string_view(text ? text : "", size));
        return status.ok() ? DLS2MML_OK : decoder->failWith(status, false);
    } catch (const std::bad_alloc&) {
        return decoder->code = DLS2MML_E_NO_MEMORY;
    } catch (...) {
        return decoder->code = DLS2MML_E_INTERNAL;
    }
}

int dls2mml_decoder_finish(dls2mml_decoder* decoder)
{
    if (!decoder || decoder->finished)
        return DLS2MML_E_ARGUMENT;
    if (decoder->code != DLS2MML_OK)
        return decoder->code;
    try {
        const dls2mml::TextStatus status = decoder->reader.finish();
        if (!status.ok())
            return decoder->failWith(status, true);
        decoder->finished = true;
        return DLS2MML_OK;
    } catch (const std::bad_alloc&) {
        return decoder->code = DLS2MML_E_NO_MEMORY;
    } catch (...) {
        return decoder->code = DLS2MML_E_INTERNAL;
    }
}

int dls2mml_decoder_fault(const dls2mml_decoder* decoder, uint64_t* line, uint64_t* column)
{
    if (!decoder)
        return DLS2MML_E_ARGUMENT;
    const bool located = decoder->code != DLS2MML_OK && !decoder->fault.ok();
    if (line)
        *line = located ? decoder->fault.at.line : 0;
    if (column)
        *column = located ? decoder->fault.at.column : 0;
    return decoder->code;
}

const char* dls2mml_decoder_message(const dls2mml_decoder* decoder)
{
    if (!decoder)
        return "";
    if (!decoder->fault.ok())
        return decoder->fault.message.c_str();
    return decoder->code == DLS2MML_OK ? "" : dls2mml_strerror(decoder->code);
}

int dls2mml_decoder_sizes(const dls2mml_decoder* decoder, uint32_t* bank_size, uint32_t* stream_size)
{
    if (!decoder)
        return DLS2MML_E_ARGUMENT;
    if (decoder->code != DLS2MML_OK)
        return decoder->code;
    // The stream's length is at least its 12-byte header once the line is read.
    if (decoder->reader.streamLength() == 0)
        return DLS2MML_E_TRUNCATED;
    if (bank_size)
        *bank_size = static_cast<uint32_t>(decoder->reader.inputLength());
    if (stream_size)
        *stream_size = static_cast<uint32_t>(decoder->reader.streamLength());
    return DLS2MML_OK;
}

void dls2mml_decoder_free(dls2mml_decoder* decoder) { delete decoder; }

} // extern "C"
