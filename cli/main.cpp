// dls2mml: converts DLS banks into cue-point documents from the command line.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/decode_commands.h"
#include "cli/options.h"
#include "cli/progress.h"
#include "shell/conversion_job.h"
#include "shell/cue_point_document.h"

namespace dls2mml::cli {
namespace {

void reportFailure(const std::string& path, const std::string& reason)
{
    std::fprintf(stderr, "dls2mml: %s: %s\n", path.c_str(), reason.c_str());
}

int runConvertCommand(const Options& options)
{
    if (options.verify)
        installDocumentVerifier();
    // The summary goes to standard error when the document itself goes to standard output.
    std::FILE* summary = options.toStandardOutput ? stderr : stdout;
    const bool progressWanted = !options.quiet && standardErrorIsTerminal();
    int status = 0;
    for (const std::string& path : options.files) {
        JobRequest request;
        request.path = path;
        request.lowerPath = lowerAscii(path);
        request.outputPath = options.outputPath;
        request.toStandardOutput = options.toStandardOutput;
        request.verify = options.verify;
        ProgressLine progress(path, progressWanted);
        request.progress = [&progress](const JobProgress& p) { progress.update(p.done, p.total); };
        const JobReport report = RunConversionJob(request);
        progress.clear();
        if (!report.ok()) {
            reportFailure(path, report.reason);
            status = 1;
            continue;
        }
        if (!options.quiet && (!options.toStandardOutput || options.verbose))
            std::fprintf(summary, "%s\t%s\t%llu\t%llu\t%llu\n", path.c_str(), report.outputPath.c_str(),
                         static_cast<unsigned long long>(report.inputBytes),
                         static_cast<unsigned long long>(report.streamBytes),
                         static_cast<unsigned long long>(report.documentBytes));
        if (options.verbose && report.inputBytes > 0)
            std::fprintf(stderr, "dls2mml: %s: stream is %.1f%% of the input%s\n", path.c_str(),
                         100.0 * static_cast<double>(report.streamBytes) / static_cast<double>(report.inputBytes),
                         options.verify ? ", verified" : "");
    }
    std::fflush(summary);
    return status;
}

} // namespace
} // namespace dls2mml::cli

int main(int argc, char** argv)
{
    using namespace dls2mml::cli;
    const std::vector<std::string> args(argv + 1, argv + argc);
    const ParseResult parsed = parseOptions(args);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "dls2mml: %s\nTry 'dls2mml --help' for more information.\n", parsed.error.c_str());
        return 2;
    }
    const Options& options = parsed.options;
    switch (options.mode) {
    case Mode::help:
        std::fputs(usageText().c_str(), stdout);
        return 0;
    case Mode::version:
        std::puts("dls2mml 1.0.0");
        return 0;
    case Mode::test:
        return runTestCommand(options);
    case Mode::decode:
        return runDecodeCommand(options);
    case Mode::convert:
        break;
    }
    return runConvertCommand(options);
}
