// The decoding modes of the command line: -t checks documents, -d writes the
// banks back out, each document through the decode job.
#include "cli/decode_commands.h"
#include "cli/messages.h"
#include "cli/printed_name.h"
#include "cli/progress.h"

#include <cstdio>
#include <string>

#include "shell/decode_job.h"

namespace dls2mml::cli {
namespace {

DecodeRequest requestFor(const Options& options, const std::string& path)
{
    DecodeRequest request;
    request.path = path;
    request.fromStandardInput = isStandardStream(path);
    request.threads = options.threads;
    return request;
}

// Runs the job with a progress line of its own.
DecodeReport runShowing(const Options& options, const std::string& path, DecodeRequest request)
{
    ProgressLine progress(displayName(path), progressEnabled(options), progressForced(options));
    request.progress = [&progress](const JobProgress& p) { progress.update(p.done, p.total); };
    DecodeReport report = runDecodeJob(request);
    progress.clear();
    return report;
}

void reportDecodeFailure(const std::string& path, const DecodeReport& report)
{
    if (report.fault.kind == FaultKind::outputExists)
        reportFailure(path, printedName(report.outputPath) + " " + report.fault.words);
    else
        reportFault(path, report.outputPath, report.fault);
}

} // namespace

int runTestCommand(const Options& options)
{
    return forEachFile(options, [&](std::size_t, const std::string& path) {
        DecodeRequest request = requestFor(options, path);
        request.checkOnly = true;
        const DecodeReport report = runShowing(options, path, std::move(request));
        if (!report.ok()) {
            reportDecodeFailure(path, report);
            return report.fault.kind;
        }
        // A damaged frame header can turn a DLS bank into other bytes that
        // still decode: say that such a bank could not be checked.
        if (!options.quiet && !report.bankIsRiff && report.bankBytes > 0)
            reportFailure(path, "note: the bank in it is not a RIFF file, so only the document was checked");
        if (!options.quiet) {
            if (options.verbose)
                printText(stdout, "%s: OK (%llu bytes, %s)\n", displayName(path).c_str(),
                            static_cast<unsigned long long>(report.bankBytes),
                            report.bankIsRiff ? "the bank's RIFF structure checked" : "not a RIFF file: bytes unchecked");
            else
                printText(stdout, "%s: OK\n", displayName(path).c_str());
        }
        return FaultKind::none;
    });
}

int runDecodeCommand(const Options& options)
{
    return forEachFile(options, [&](std::size_t, const std::string& path) {
        DecodeRequest request = requestFor(options, path);
        request.outputPath = options.outputPath;
        request.toStandardOutput = options.toStandardOutput;
        request.overwrite = options.force;
        request.refuseTerminal = !options.force && standardOutputIsTerminal();
        const DecodeReport report = runShowing(options, path, std::move(request));
        if (!report.ok()) {
            reportDecodeFailure(path, report);
            return report.fault.kind;
        }
        // The summary goes to standard error when the bank itself goes to standard output.
        const bool toStandardOutput = isStandardStream(report.outputPath);
        std::FILE* summary = toStandardOutput ? stderr : stdout;
        if (!options.quiet && (!toStandardOutput || options.verbose))
            printText(summary, "%s\t%s\t%llu\n", printedName(path).c_str(), printedName(report.outputPath).c_str(),
                         static_cast<unsigned long long>(report.bankBytes));
        return FaultKind::none;
    });
}

} // namespace dls2mml::cli
