// The page's converter: the entry points the Web Worker calls, over the same
// conversion job and document reader as the command line.
//
// The worker sets the File it is working on, then calls dls2mmlConvert or
// dls2mmlDecode with the file's name; each reports back through one call into
// worker.js. The module stays loaded for as long as the page is open, so the
// block sort's pivot state carries across files and drops exactly as in one
// run of the window or of the command line, until dls2mmlFreshState.
#include <emscripten.h>

#include <string>

#include "compressor/pivot_generator.h"
#include "shell/conversion_job.h"
#include "shell/document/cue_point_document.h"
#include "shell/document/document_reader.h"
#include "platform/file_system.h"
#include "shell/document/output_name.h"

namespace {

// clang-format off
EM_JS(void, webConverted, (int ok, const char* reason, const char* outputName, double inputBytes,
                           double streamBytes, double documentBytes), {
    webIo.converted(ok, UTF8ToString(reason), UTF8ToString(outputName), inputBytes, streamBytes, documentBytes);
});
EM_JS(void, webDecoded, (int ok, const char* fault, const char* bankName, double bankBytes), {
    webIo.decoded(ok, UTF8ToString(fault), UTF8ToString(bankName), bankBytes);
});
// clang-format on

// A document whose name the output-name rule cannot give back still yields
// its bank, under the document's name with ".dls" for ".mml".
std::string bankNameFor(const std::string& documentName)
{
    if (std::optional<std::string> bank = dls2mml::deriveBankName(documentName))
        return *bank;
    const std::size_t dot = documentName.rfind('.');
    return (dot == std::string::npos ? documentName : documentName.substr(0, dot)) + ".dls";
}

} // namespace

extern "C" {

// Converts the current file; name is its name in UTF-8, which the output-name
// rule turns into the document's name. Returns 1 on success.
EMSCRIPTEN_KEEPALIVE int dls2mmlConvert(const char* name)
{
    dls2mml::JobRequest request;
    request.path = name;
    request.lowerPath = dls2mml::lowerAscii(request.path);
    request.threads = 1; // a worker without shared memory: every stage on this thread
    const dls2mml::JobReport report = dls2mml::runConversionJob(request);
    webConverted(report.ok(), report.reason.c_str(), report.outputPath.c_str(),
                 static_cast<double>(report.inputBytes), static_cast<double>(report.streamBytes),
                 static_cast<double>(report.documentBytes));
    return report.ok();
}

// Checks the current file as a cue-point document and writes its bank. On a
// fault nothing is offered and the fault reads as the command line's check
// reports it: "line L, column C: what". Returns 1 on success.
EMSCRIPTEN_KEEPALIVE int dls2mmlDecode(const char* name)
{
    const std::string bankName = bankNameFor(name);
    std::unique_ptr<dls2mml::InputFile> document;
    std::unique_ptr<dls2mml::OutputFile> bank;
    std::string fault;
    std::uint64_t bankBytes = 0;
    if (dls2mml::IoStatus status = dls2mml::openInputFile(name, document); !status) {
        fault = "cannot open";
    } else if (status = dls2mml::createOutputFile(bankName, bank); !status) {
        fault = "cannot create output";
    } else {
        const dls2mml::TextStatus text = dls2mml::decodeDocumentFile(*document, [&](std::span<const std::uint8_t> block) {
            bankBytes += block.size();
            return static_cast<bool>(bank->write(block));
        });
        fault = text.describe();
        if (fault.empty())
            bank->commit();
    }
    webDecoded(fault.empty(), fault.c_str(), bankName.c_str(), static_cast<double>(bankBytes));
    return fault.empty();
}

// Starts the pivot state afresh, as a newly started program has it.
EMSCRIPTEN_KEEPALIVE void dls2mmlFreshState() { dls2mml::pivotGenerator.setState(dls2mml::PivotGenerator::initialState); }

} // extern "C"
