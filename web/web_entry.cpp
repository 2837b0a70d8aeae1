// The page's converter: the entry points the Web Worker calls, over the same
// conversion job and document reader as the command line.
//
// The worker sets the File it is working on, then calls dls2mmlConvert or
// dls2mmlDecode with the file's name; each reports back through one call into
// worker.js. The module stays loaded for as long as the page is open, so the
// block sort's pivot state carries across files and drops exactly as in one
// run of the window or of the command line, until dls2mmlFreshState.
#include <emscripten.h>

#include <new>
#include <string>
#include <vector>

#include "bank/instrument_selection.h"
#include "platform/file_system.h"
#include "shell/conversion_job.h"
#include "shell/conversion_steps.h"
#include "shell/decode_job.h"
#include "shell/document/output_name.h"
#include "shell/pivot_ledger.h"

namespace {

// clang-format off
EM_JS(void, webConverted, (int ok, const char* reason, const char* outputName, double inputBytes,
                           double streamBytes, double documentBytes, int stateUnknown), {
    webIo.converted(ok, UTF8ToString(reason), UTF8ToString(outputName), inputBytes, streamBytes, documentBytes,
                    stateUnknown);
});
EM_JS(double, webReplayOpen, (const char* key), { return webIo.replayOpen(UTF8ToString(key)); });
EM_JS(double, webReplayRead, (std::uint8_t* buffer, std::size_t length), { return webIo.replayRead(buffer, length); });
EM_JS(void, webChosen, (double wholeBankBytes, double instrumentsKept, double instrumentsInBank), {
    webIo.chosen(wholeBankBytes, instrumentsKept, instrumentsInBank);
});
EM_JS(void, webListed, (const char* json), { webIo.listed(UTF8ToString(json)); });
EM_JS(void, webDecoded, (int ok, const char* fault, const char* bankName, double bankBytes), {
    webIo.decoded(ok, UTF8ToString(fault), UTF8ToString(bankName), bankBytes);
});
// clang-format on

// A string as JSON: quotes, backslashes and control characters escaped.
std::string jsonText(const std::string& text)
{
    static const char hex[] = "0123456789abcdef";
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            out += "\\u00";
            out += hex[byte >> 4];
            out += hex[byte & 15];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// The instruments of a bank for the page's chooser, as JSON.
std::string instrumentsJson(const dls2mml::BankLayout& layout)
{
    std::string json = "{\"waveBytes\":" + std::to_string(dls2mml::distinctWaveBytes(layout)) + ",\"instruments\":[";
    for (std::size_t i = 0; i < layout.entries.size(); ++i) {
        const dls2mml::InstrumentEntry& e = layout.entries[i];
        json += (i ? ",{" : "{") + std::string("\"number\":") + std::to_string(i + 1) + ",\"name\":" + jsonText(e.name) +
                ",\"drums\":" + (e.drums ? "true" : "false") + ",\"bankMsb\":" + std::to_string(e.bankMsb) +
                ",\"bankLsb\":" + std::to_string(e.bankLsb) + ",\"program\":" + std::to_string(e.program) +
                ",\"regions\":" + std::to_string(e.regions) + ",\"waveBytes\":" + std::to_string(e.waveBytes) + "}";
    }
    return json + "]}";
}

void reportConverted(const dls2mml::JobReport& report)
{
    webConverted(report.ok(), report.fault.words.c_str(), report.outputPath.c_str(),
                 static_cast<double>(report.inputBytes), static_cast<double>(report.streamBytes),
                 static_cast<double>(report.documentBytes), report.fault.kind == dls2mml::FaultKind::pivotStateUnknown);
}

// An earlier file of the page, read again for the ledger of owed draws: the
// worker keeps every File it converted under a key of its own.
class ReplayInput final : public dls2mml::InputFile {
public:
    explicit ReplayInput(std::uint64_t size) : size_(size) {}
    std::uint64_t size() const noexcept override { return size_; }
    dls2mml::IoStatus read(std::span<std::uint8_t> buffer, std::size_t& got) noexcept override
    {
        const double n = webReplayRead(buffer.data(), buffer.size());
        if (n < 0) {
            got = 0;
            return {dls2mml::IoError::cannotRead, "the browser could not read the file again"};
        }
        got = static_cast<std::size_t>(n);
        return {};
    }
    bool rereadable() const noexcept override { return true; }

private:
    std::uint64_t size_;
};

class PageReopener final : public dls2mml::InputReopener {
public:
    bool reopen(const std::string& key, std::unique_ptr<dls2mml::InputFile>& input) override
    {
        const double size = webReplayOpen(key.c_str());
        if (size < 0)
            return false;
        input = std::make_unique<ReplayInput>(static_cast<std::uint64_t>(size));
        return true;
    }
};

dls2mml::PivotLedger& ledger()
{
    static PageReopener reopener;
    dls2mml::PivotLedger& ledger = dls2mml::pivotLedger();
    ledger.setReopener(&reopener);
    return ledger;
}

// The steps of a conversion spread over the page's workers: this instance's
// block coder, and (on the worker that keeps the pivot state) the document
// being assembled from the frames in input order.
dls2mml::BlockCoder& coder()
{
    static dls2mml::BlockCoder instance;
    return instance;
}
dls2mml::DocumentAssembly assembly;
std::vector<std::uint8_t> frameRoom;

// key: the file's key for the ledger (a replay opens it again by the key).
int convert(const char* name, const char* key, const char* instruments)
{
    dls2mml::JobRequest request;
    request.path = key;
    request.lowerPath = dls2mml::lowerAscii(name);
    if (auto derived = dls2mml::deriveOutputName(name, request.lowerPath))
        request.outputPath = *derived;
    request.threads = 1; // a worker without shared memory: every stage on this thread
    request.instruments = instruments;
    request.ledger = &ledger();
    const dls2mml::JobReport report = dls2mml::runConversionJob(request);
    reportConverted(report);
    if (report.ok() && *instruments != '\0')
        webChosen(static_cast<double>(report.wholeBankBytes), static_cast<double>(report.instrumentsKept),
                  static_cast<double>(report.instrumentsInBank));
    return report.ok();
}

} // namespace

extern "C" {

// What the page does with a file of this name: 1 converts it as a bank (the
// name rule's ".dls", in any case, anywhere in the name), 2 reads it as a
// document (a name ending in ".mml", in any case), 0 skips it.
EMSCRIPTEN_KEEPALIVE int dls2mmlKindOfName(const char* name)
{
    const std::string lower = dls2mml::lowerAscii(name);
    if (dls2mml::findDlsMark(lower))
        return 1;
    return lower.ends_with(".mml") ? 2 : 0;
}

// Converts the current file; name is its name in UTF-8, which the output-name
// rule turns into the document's name. Returns 1 on success.
EMSCRIPTEN_KEEPALIVE int dls2mmlConvert(const char* name, const char* key) { return convert(name, key, ""); }

// Converts the current file cut to the instruments of list (the form that
// --instruments takes): the document of the smaller bank. Returns 1 on success.
EMSCRIPTEN_KEEPALIVE int dls2mmlConvertInstruments(const char* name, const char* key, const char* list)
{
    return convert(name, key, list);
}

// Lists the instruments of the current file for the page's chooser, when it
// is a sound DLS bank: it is read whole (from the start) for that. Returns 1
// when it listed them.
EMSCRIPTEN_KEEPALIVE int dls2mmlListInstruments(const char* name)
{
    std::unique_ptr<dls2mml::InputFile> input;
    if (!dls2mml::openInputFile(name, input))
        return 0;
    std::vector<std::uint8_t> bank;
    try {
        if (input->size() != UINT64_MAX)
            bank.reserve(static_cast<std::size_t>(input->size()));
        std::vector<std::uint8_t> piece(dls2mml::readChunk);
        for (std::size_t got = 1; got > 0;) {
            if (!input->read(piece, got))
                return 0;
            // Only a RIFF 'DLS ' form can have instruments: anything else is not read on.
            if (bank.empty() && got >= 12 &&
                (std::string(piece.begin(), piece.begin() + 4) != "RIFF" ||
                 std::string(piece.begin() + 8, piece.begin() + 12) != "DLS "))
                return 0;
            bank.insert(bank.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(got));
        }
        const dls2mml::LayoutResult layout = dls2mml::readBankLayout(bank);
        if (!layout.ok() || layout.layout.entries.empty())
            return 0;
        webListed(instrumentsJson(layout.layout).c_str());
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return 1;
}

// Checks the current file as a cue-point document and writes its bank. On a
// fault nothing is offered and the fault reads as the command line's check
// reports it: "line L, column C: what". Returns 1 on success.
EMSCRIPTEN_KEEPALIVE int dls2mmlDecode(const char* name)
{
    dls2mml::DecodeRequest request;
    request.path = name;
    request.outputPath = dls2mml::bankNameFor(name);
    request.overwrite = true; // the page's files are its own: a later bank of the same name replaces it
    const dls2mml::DecodeReport report = dls2mml::runDecodeJob(request);
    webDecoded(report.ok(), report.fault.words.c_str(), request.outputPath.c_str(), static_cast<double>(report.bankBytes));
    return report.ok();
}

// --- a conversion in steps, across workers ---

// Bytes of one block's slice (the last may be shorter).
EMSCRIPTEN_KEEPALIVE double dls2mmlSliceBytes() { return static_cast<double>(dls2mml::blockSliceBytes()); }

// Where the worker puts a slice for the block coder; 0 without memory.
EMSCRIPTEN_KEEPALIVE std::uint8_t* dls2mmlSliceRoom() { return coder().slice().data(); }

// Codes the slice put there; withState: the block is the next of the run's
// order of draws. Returns the frame's length (the frame at dls2mmlFrame), or
// 0 with the failure's code: 1 the block needs the state after all (the file
// changed since its plan), 2 out of memory, 3 any other fault.
EMSCRIPTEN_KEEPALIVE int dls2mmlCodeBlock(int length, int withState)
{
    return static_cast<int>(coder().code(static_cast<std::size_t>(length), withState != 0));
}
EMSCRIPTEN_KEEPALIVE const std::uint8_t* dls2mmlFrame() { return coder().frame().data(); }
EMSCRIPTEN_KEEPALIVE int dls2mmlBlockFailure()
{
    switch (coder().failure()) {
    case dls2mml::FaultKind::none: return 0;
    case dls2mml::FaultKind::inputChanged: return 1;
    case dls2mml::FaultKind::outOfMemory: return 2;
    default: return 3;
    }
}

// Opens the document of the current file (name: its name, for the output
// name rule), for inputBytes of bank. Returns 1; on a failure reports it and
// returns 0.
EMSCRIPTEN_KEEPALIVE int dls2mmlAssemblyStart(const char* name, double inputBytes)
{
    dls2mml::JobRequest request;
    request.path = name;
    request.lowerPath = dls2mml::lowerAscii(request.path);
    const dls2mml::JobReport report = assembly.start(request, static_cast<std::uint64_t>(inputBytes));
    if (!report.ok())
        reportConverted(report);
    return report.ok();
}

// Room for a frame of length bytes that the worker copies in; 0 without memory.
EMSCRIPTEN_KEEPALIVE std::uint8_t* dls2mmlFrameRoom(int length)
{
    try {
        frameRoom.resize(static_cast<std::size_t>(length));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return frameRoom.data();
}

// The next frame in input order (copied to the frame room), made from
// sliceLength bytes of the bank. Returns 1 while the document takes it.
EMSCRIPTEN_KEEPALIVE int dls2mmlAssemblyAdd(int frameLength, int sliceLength)
{
    return assembly.addFrame(std::span<const std::uint8_t>(frameRoom.data(), static_cast<std::size_t>(frameLength)),
                             static_cast<std::size_t>(sliceLength));
}

// Finishes the document and reports it. Returns 1 on success.
EMSCRIPTEN_KEEPALIVE int dls2mmlAssemblyFinish()
{
    const dls2mml::JobReport report = assembly.finish();
    reportConverted(report);
    return report.ok();
}

// The CRC-64 of the slice last coded, as two 32-bit halves (low first) at
// the pointer returned.
EMSCRIPTEN_KEEPALIVE const std::uint32_t* dls2mmlSliceDigest()
{
    static std::uint32_t halves[2];
    const std::uint64_t digest = coder().sliceDigest();
    halves[0] = static_cast<std::uint32_t>(digest);
    halves[1] = static_cast<std::uint32_t>(digest >> 32);
    return halves;
}

// Room for count digests (two 32-bit halves each) that the worker copies in.
std::vector<std::uint32_t> digestRoom;
EMSCRIPTEN_KEEPALIVE std::uint32_t* dls2mmlDigestRoom(int count)
{
    try {
        digestRoom.resize(2 * static_cast<std::size_t>(count));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return digestRoom.data();
}

// Records in the ledger that the file under key (length bytes) owes the draws
// of count blocks from firstBlock on, whose digests are in the digest room.
EMSCRIPTEN_KEEPALIVE void dls2mmlLedgerOwe(const char* key, double length, double firstBlock, int count)
{
    dls2mml::OwedInput owed;
    owed.path = key;
    owed.length = static_cast<std::uint64_t>(length);
    owed.firstOwedBlock = static_cast<std::uint64_t>(firstBlock);
    try {
        for (int i = 0; i < count; ++i)
            owed.digests.push_back(digestRoom[2 * i] | std::uint64_t{digestRoom[2 * i + 1]} << 32);
        ledger().record(std::move(owed));
    } catch (const std::bad_alloc&) {
        ledger().markUnknown("no memory to keep the draws owed by " + std::string(key));
    }
}

// Draws everything owed, in order. Returns 1 when the state is known.
EMSCRIPTEN_KEEPALIVE int dls2mmlLedgerSettle() { return ledger().settle(); }

// Draws were made that no replay can reproduce: the state is unknown.
EMSCRIPTEN_KEEPALIVE void dls2mmlLedgerUnknown(const char* why) { ledger().markUnknown(why); }

// Gives the document up for a state that cannot be known, reporting why.
EMSCRIPTEN_KEEPALIVE void dls2mmlAssemblyStateUnknown()
{
    reportConverted(assembly.abandon(dls2mml::FaultKind::pivotStateUnknown, ledger().whyUnknown()));
}

// Gives the document up, reporting why: the failure's code as
// dls2mmlBlockFailure gives it, 4 when the bank could not be read.
EMSCRIPTEN_KEEPALIVE void dls2mmlAssemblyAbandon(int failure)
{
    static const dls2mml::FaultKind failures[] = {dls2mml::FaultKind::compressFailed,
        dls2mml::FaultKind::inputChanged, dls2mml::FaultKind::outOfMemory, dls2mml::FaultKind::compressFailed,
        dls2mml::FaultKind::cannotRead};
    reportConverted(assembly.abandon(failures[failure >= 0 && failure <= 4 ? failure : 0]));
}

// Starts the pivot state afresh, as a newly started program has it.
EMSCRIPTEN_KEEPALIVE void dls2mmlFreshState() { dls2mml::startPivotStateAfresh(); }

} // extern "C"
