// dls2mml: converts DLS banks into cue-point documents from the command line.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cli/decode_commands.h"
#include "cli/list_command.h"
#include "cli/messages.h"
#include "cli/options.h"
#include "cli/printed_name.h"
#include "cli/program.h"
#include "cli/progress.h"
#include "shell/conversion_job.h"
#include "bank/dls_bank.h"
#include "bank/instrument_selection.h"
#include "platform/file_system.h"
#include "platform/text_output.h"
#include "shell/document/output_name.h"
#include "shell/sort_plan.h"

// DLS2MML_REVISION, made at build time (cmake/version.cmake).
#include "dls2mml_revision.h"

namespace dls2mml::cli {
namespace {

// Any bytes convert; the user is told when they are not what a DLS reader
// will take, since a wrong file is the likelier mistake.
void noteIfNotDls(const std::string& path, DlsReader& dls)
{
    const DlsFault& fault = dls.finish();
    if (fault.ok())
        return;
    if (!dls.collection().riffDls)
        printText(stderr, "dls2mml: %s: not a DLS bank (converted anyway)\n", displayName(path).c_str());
    else
        printText(stderr, "dls2mml: %s: damaged DLS bank, %s (converted anyway)\n", displayName(path).c_str(),
                     fault.describe().c_str());
}

// With --instruments, -v says the reduction in words.
void noteSelection(const std::string& path, const JobReport& report)
{
    if (report.wholeBankBytes == 0)
        return;
    std::fprintf(stderr, "dls2mml: %s: kept %llu of %llu instruments and %llu of %llu waves: the bank is %.1f%% of %llu bytes\n",
                 displayName(path).c_str(), static_cast<unsigned long long>(report.instrumentsKept),
                 static_cast<unsigned long long>(report.instrumentsInBank),
                 static_cast<unsigned long long>(report.wavesKept), static_cast<unsigned long long>(report.wavesInBank),
                 100.0 * static_cast<double>(report.inputBytes) / static_cast<double>(report.wholeBankBytes),
                 static_cast<unsigned long long>(report.wholeBankBytes));
}

int runConvertCommand(const Options& options)
{
    // A list that cannot be read is said once, not for every bank.
    if (options.chooseInstruments) {
        if (std::string problem = checkInstrumentList(options.instruments); !problem.empty()) {
            std::fprintf(stderr, "dls2mml: --instruments: %s\n", problem.c_str());
            return exitStatusFor(FaultKind::selectionRefused);
        }
    }
    // Where the pivot state must stay exact across the run: every block after
    // the last that needs it takes the faster sort for distinct rotations, on
    // any thread, so even one thread gains by looking.
    // A bank cut to some instruments keeps every block in order (the scan
    // of the files would say nothing of the cut banks' blocks).
    const std::vector<std::uint64_t> ordered = options.chooseInstruments
                                                   ? std::vector<std::uint64_t>(options.files.size(), UINT64_MAX)
                                                   : planSorts(options.files, options.threads);
    return forEachFile(options, [&](std::size_t i, const std::string& path) {
        const bool fromStandardInput = isStandardStream(path);
        std::unique_ptr<InputFile> standardIn = fromStandardInput ? standardInput() : nullptr;
        JobRequest request;
        request.threads = options.threads;
        request.orderedBlocks = ordered[i];
        request.path = path;
        request.lowerPath = lowerAscii(path);
        request.input = standardIn.get();
        request.outputPath = options.outputPath;
        // Standard input has no name to derive the document's from: it goes to standard output.
        request.toStandardOutput = options.toStandardOutput || (fromStandardInput && options.outputPath.empty());
        request.verify = options.verify;
        request.instruments = options.instruments;
        DlsReader dls;
        request.inspect = [&dls](std::span<const std::uint8_t> bytes) { dls.feed(bytes); };
        ProgressLine progress(displayName(path), progressEnabled(options), progressForced(options));
        request.progress = [&progress](const JobProgress& p) { progress.update(p.done, p.total); };
        const JobReport report = runConversionJob(request);
        progress.clear();
        if (!report.ok()) {
            reportFault(path, report.outputPath, report.fault);
            return report.fault.kind;
        }
        for (const std::string& note : report.notes)
            reportFailure(path, note);
        if (!options.quiet)
            noteIfNotDls(path, dls);
        // The summary goes to standard error when the document itself goes to standard output.
        std::FILE* summary = request.toStandardOutput ? stderr : stdout;
        const bool printSummary = !options.quiet && (!request.toStandardOutput || options.verbose);
        if (printSummary)
            printText(summary, "%s\t%s\t%llu\t%llu\t%llu", printedName(path).c_str(),
                         printedName(report.outputPath).c_str(),
                         static_cast<unsigned long long>(report.inputBytes),
                         static_cast<unsigned long long>(report.streamBytes),
                         static_cast<unsigned long long>(report.documentBytes));
        // With --instruments, after the usual fields: the whole bank's bytes and
        // the instruments kept of those it holds.
        if (printSummary && options.chooseInstruments)
            printText(summary, "\t%llu\t%llu/%llu", static_cast<unsigned long long>(report.wholeBankBytes),
                         static_cast<unsigned long long>(report.instrumentsKept),
                         static_cast<unsigned long long>(report.instrumentsInBank));
        if (printSummary)
            printText(summary, "\n");
        if (options.verbose && options.chooseInstruments)
            noteSelection(path, report);
        if (options.verbose && report.inputBytes > 0)
            printText(stderr, "dls2mml: %s: stream is %.1f%% of the input%s\n", displayName(path).c_str(),
                         100.0 * static_cast<double>(report.streamBytes) / static_cast<double>(report.inputBytes),
                         options.verify ? ", verified" : "");
        return FaultKind::none;
    });
}

int runCommand(const Options& options)
{
    switch (options.mode) {
    case Mode::help:
        std::fputs(usageText().c_str(), stdout);
        return 0;
    case Mode::version:
        std::printf("dls2mml %s\n", DLS2MML_VERSION_STRING);
        if (*DLS2MML_REVISION != '\0')
            std::printf("Built from revision %s.\n", DLS2MML_REVISION);
        std::puts("Copyright (c) 2026 the dls2mml developers");
        std::puts("License MIT: the LICENSE file that comes with the program. There is NO WARRANTY.");
        return 0;
    case Mode::test: return runTestCommand(options);
    case Mode::decode: return runDecodeCommand(options);
    case Mode::list: return runListCommand(options);
    case Mode::convert: break;
    }
    return runConvertCommand(options);
}

// What was printed to standard output must have arrived: a full disk or a
// closed pipe there is a failure like any other.
int closeStandardOutput(int status)
{
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0 && !std::ferror(stdout);
    const int code = errno;
    if (flushed && std::fclose(stdout) == 0)
        return status;
    const int reason = flushed ? errno : code;
    const Fault fault = makeFault(FaultKind::writeFailed, reason ? std::strerror(reason) : "");
    printText(stderr, "dls2mml: standard output: %s\n", fault.words.c_str());
    return exitStatusFor(fault.kind);
}

} // namespace

int runProgram(const std::vector<std::string>& args)
{
    removeTemporariesOnInterrupt();
    const ParseResult parsed = parseOptions(args);
    if (parsed.failed()) {
        if (!parsed.reported)
            printText(stderr, "dls2mml: %s\n", parsed.error.c_str());
        std::fputs("Try 'dls2mml --help' for more information.\n", stderr);
        return exitStatusFor(FaultKind::badArgument);
    }
    return closeStandardOutput(runCommand(parsed.options));
}

} // namespace dls2mml::cli

// On Windows the entry is wmain (main_win32.cpp), which hands over the
// arguments as UTF-8.
#ifndef _WIN32
int main(int argc, char** argv)
{
    return dls2mml::cli::runProgram(std::vector<std::string>(argv + 1, argv + argc));
}
#endif
