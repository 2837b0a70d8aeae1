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

#include "shell/conversion_job.h"
#include "shell/decode_job.h"
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
    dls2mml::DecodeRequest request;
    request.path = name;
    request.outputPath = dls2mml::bankNameFor(name);
    request.overwrite = true; // the page's files are its own: a later bank of the same name replaces it
    const dls2mml::DecodeReport report = dls2mml::runDecodeJob(request);
    webDecoded(report.ok(), report.reason.c_str(), request.outputPath.c_str(), static_cast<double>(report.bankBytes));
    return report.ok();
}

// Starts the pivot state afresh, as a newly started program has it.
EMSCRIPTEN_KEEPALIVE void dls2mmlFreshState() { dls2mml::startPivotStateAfresh(); }

} // extern "C"
