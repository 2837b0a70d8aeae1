// The decoding modes of the command line: -t checks documents, -d writes the
// banks back out.
#include "cli/decode_commands.h"
#include "cli/list_command.h"
#include "cli/messages.h"
#include "cli/printed_name.h"
#include "cli/progress.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "shell/conversion_job.h"
#include "shell/document/cue_point_document.h"
#include "bank/dls_bank.h"
#include "shell/document/document_reader.h"
#include "platform/file_system.h"
#include "shell/document/output_name.h"

namespace dls2mml::cli {
namespace {

// A document to read: a file (which can be opened again) or standard input,
// which is held in memory only when it must be read twice and no spool could
// be made for standard output.
class DocumentSource {
public:
    DocumentSource(std::string path, unsigned threads) : path_(std::move(path)), threads_(threads) {}

    bool isStandardInput() const { return isStandardStream(path_); }

    // Opens the document, if it is not open; the reason on failure.
    std::string open()
    {
        if (file_ || held_)
            return {};
        if (isStandardInput()) {
            file_ = standardInput();
            return {};
        }
        if (IoStatus status = openInputFile(path_, file_); !status)
            return describeIoStatus(status);
        return {};
    }

    // The open document (after open).
    const InputFile& file() const { return *file_; }

    // The bank's length from the sizes line, for the progress line; UINT64_MAX if unknown.
    std::uint64_t expectedBankLength() const
    {
        std::optional<DocumentSizes> sizes;
        if (held_)
            sizes = parseDocumentSizes(heldText_);
        else if (file_ && file_->rereadable()) // a named pipe must not be opened twice
            sizes = readDocumentSizes(path_);
        return sizes ? sizes->bankBytes : UINT64_MAX;
    }

    // Decodes the document, handing the bank to sink; the reason on failure.
    std::string decode(const DocumentReader::Sink& sink)
    {
        if (held_) {
            DocumentReader reader(sink, threads_);
            TextStatus status;
            for (std::size_t at = 0; status.ok() && at < heldText_.size(); at += readChunk)
                status = reader.feed(std::string_view(heldText_).substr(at, readChunk));
            if (status.ok())
                status = reader.finish();
            return status.describe();
        }
        if (std::string problem = open(); !problem.empty())
            return problem;
        // A file is read once for each decode: the next one opens it again.
        const std::unique_ptr<InputFile> file = std::move(file_);
        return decodeDocumentFile(*file, sink, threads_).describe();
    }

    // Keeps standard input in memory so that it can be decoded twice.
    std::string hold()
    {
        if (!isStandardInput() || held_)
            return {};
        if (std::string problem = open(); !problem.empty())
            return problem;
        std::vector<std::uint8_t> buffer(readChunk);
        for (;;) {
            std::size_t got = 0;
            if (IoStatus status = file_->read(buffer, got); !status)
                return describeIoStatus(status);
            if (got == 0)
                break;
            if (heldText_.size() + got > maxDocumentLength)
                return "document larger than any the converter writes (2 GiB)";
            heldText_.append(reinterpret_cast<const char*>(buffer.data()), got);
        }
        file_.reset();
        held_ = true;
        return {};
    }

private:
    std::string path_;
    unsigned threads_;
    std::unique_ptr<InputFile> file_;
    bool held_ = false;
    std::string heldText_;
};

// The sink that writes the bank, keeping the first write failure.
struct WritingSink {
    OutputFile* file = nullptr;
    std::string failure;
    std::uint64_t written = 0;

    DocumentReader::Sink sink()
    {
        return [this](std::span<const std::uint8_t> block) {
            if (IoStatus status = file->write(block); !status) {
                failure = describeIoStatus(status);
                return false;
            }
            written += block.size();
            return true;
        };
    }
};

// What -t checks of the decoded bank. The format carries no checksum, so a
// damaged character can decode to another bank; a bank that begins as a RIFF
// file is therefore walked as it comes: its chunk sizes must add up, within
// the 'DLS ' form, which ends where its header says, and the collection's
// counts must agree. Other banks are opaque bytes and pass as they are.
class BankCheck {
public:
    void feed(std::span<const std::uint8_t> block)
    {
        for (std::size_t i = 0; i < block.size() && start_.size() < 4; ++i)
            start_ += static_cast<char>(block[i]);
        bytes_ += block.size();
        dls_.feed(block);
    }
    bool isRiff() const { return start_ == "RIFF"; }
    std::uint64_t bytes() const { return bytes_; }
    // Empty when the bank passes.
    std::string problem()
    {
        if (!isRiff())
            return {};
        const DlsFault& fault = dls_.finish();
        if (fault.ok())
            return {};
        return "the document is whole, but the bank in it is a damaged RIFF file: " + fault.describe();
    }

private:
    std::string start_;
    std::uint64_t bytes_ = 0;
    DlsReader dls_;
};

// Hands each block on and counts it for the progress line.
DocumentReader::Sink withProgress(DocumentReader::Sink sink, ProgressLine& progress, std::uint64_t total)
{
    auto done = std::make_shared<std::uint64_t>(0);
    return [sink = std::move(sink), &progress, total, done](std::span<const std::uint8_t> block) {
        if (sink && !sink(block))
            return false;
        *done += block.size();
        progress.update(*done, total);
        return true;
    };
}

// Decodes source with a progress line of its own.
std::string decodeShowing(const Options& options, const std::string& path, DocumentSource& source,
                          DocumentReader::Sink sink)
{
    ProgressLine progress(displayName(path), progressEnabled(options), progressForced(options));
    std::string problem = source.decode(withProgress(std::move(sink), progress, source.expectedBankLength()));
    progress.clear();
    return problem;
}

// Decodes the document onto standard output: nothing may reach it from a
// faulty document, so the bank is spooled and copied out once it is whole.
std::string decodeToStandardOutput(const Options& options, const std::string& path, DocumentSource& source,
                                   std::uint64_t& bytes)
{
    std::unique_ptr<OutputFile> out = standardOutput();
    if (source.file().identity().sameAs(out->identity()))
        return "input and output are the same file";
    if (!out->seekable()) {
        // No spool could be made: check the whole document first, then
        // decode it again onto the output.
        if (std::string problem = source.hold(); !problem.empty())
            return problem;
        if (std::string problem = decodeShowing(options, path, source, nullptr); !problem.empty())
            return problem;
    }
    WritingSink writer;
    writer.file = out.get();
    std::string problem = decodeShowing(options, path, source, writer.sink());
    if (!writer.failure.empty())
        return writer.failure;
    if (!problem.empty())
        return problem;
    if (IoStatus status = out->commit(); !status)
        return describeIoStatus(status);
    bytes = writer.written;
    return {};
}

// Decodes one document to its bank; the reason on failure, nothing written
// then. faultPath is set where the output, not the document, is at fault.
std::string decodeOne(const Options& options, const std::string& path, std::string& target, std::uint64_t& bytes,
                      std::string& faultPath)
{
    DocumentSource source(path, options.threads);
    if (std::string problem = source.open(); !problem.empty())
        return problem;
    // Standard input has no name to derive the bank's from: it goes to standard output.
    if (options.toStandardOutput || (source.isStandardInput() && options.outputPath.empty())) {
        target = std::string(1, standardStreamName[0]);
        if (!options.force && standardOutputIsTerminal())
            return "not writing a bank to a terminal (redirect the output, give -o, or -f)";
        return decodeToStandardOutput(options, path, source, bytes);
    }
    if (!options.outputPath.empty()) {
        target = options.outputPath;
    } else if (std::optional<std::string> bank = deriveBankName(path)) {
        target = *bank;
    } else {
        return "cannot derive the bank's name (it needs a name ending in \"_dls...mml\" that the output-name rule "
               "gives back); give the output with -o";
    }
    if (!options.force && pathExists(target))
        return printedName(target) + " exists (use -f to overwrite)";
    std::unique_ptr<OutputFile> out;
    if (IoStatus status = createOutputFile(target, out, !options.force); !status) {
        faultPath = target;
        return describeIoStatus(status);
    }
    if (source.file().identity().sameAs(out->identity()))
        return "input and output are the same file";
    if (IoStatus status = out->keepPermissions(source.file().permissions()); !status) {
        faultPath = target;
        return describeIoStatus(status);
    }
    WritingSink writer;
    writer.file = out.get();
    const std::string problem = decodeShowing(options, path, source, writer.sink());
    if (!writer.failure.empty()) {
        faultPath = target;
        return writer.failure;
    }
    if (!problem.empty())
        return problem; // the uncommitted output is removed with it
    if (IoStatus status = out->commit(); !status) {
        faultPath = target;
        return describeIoStatus(status);
    }
    bytes = writer.written;
    return {};
}

} // namespace

int runTestCommand(const Options& options)
{
    int result = 0;
    for (const std::string& path : options.files) {
        if (std::string refusal = refuseTerminalInput(options, path); !refusal.empty()) {
            reportFailure(path, refusal);
            result = 1;
            continue;
        }
        DocumentSource source(path, options.threads);
        if (std::string problem = source.open(); !problem.empty()) {
            reportFailure(path, problem);
            result = 1;
            continue;
        }
        BankCheck bank;
        std::string problem = decodeShowing(options, path, source, [&bank](std::span<const std::uint8_t> block) {
            bank.feed(block);
            return true;
        });
        if (problem.empty())
            problem = bank.problem();
        if (!problem.empty()) {
            reportFailure(path, problem);
            result = 1;
            continue;
        }
        // A damaged frame header can turn a DLS bank into other bytes that
        // still decode: say that such a bank could not be checked.
        if (!options.quiet && !bank.isRiff() && bank.bytes() > 0)
            reportFailure(path, "note: the bank in it is not a RIFF file, so only the document was checked");
        if (!options.quiet) {
            if (options.verbose)
                printText(stdout, "%s: OK (%llu bytes, %s)\n", displayName(path).c_str(),
                            static_cast<unsigned long long>(bank.bytes()),
                            bank.isRiff() ? "the bank's RIFF structure checked" : "not a RIFF file: bytes unchecked");
            else
                printText(stdout, "%s: OK\n", displayName(path).c_str());
        }
    }
    return result;
}

int runDecodeCommand(const Options& options)
{
    int result = 0;
    for (const std::string& path : options.files) {
        if (std::string refusal = refuseTerminalInput(options, path); !refusal.empty()) {
            reportFailure(path, refusal);
            result = 1;
            continue;
        }
        std::string target;
        std::uint64_t bytes = 0;
        std::string faultPath;
        const std::string problem = decodeOne(options, path, target, bytes, faultPath);
        if (!problem.empty()) {
            reportFailure(faultPath.empty() ? path : faultPath, problem);
            result = 1;
            continue;
        }
        // The summary goes to standard error when the bank itself goes to standard output.
        const bool toStandardOutput = isStandardStream(target);
        std::FILE* summary = toStandardOutput ? stderr : stdout;
        if (!options.quiet && (!toStandardOutput || options.verbose))
            printText(summary, "%s\t%s\t%llu\n", printedName(path).c_str(), printedName(target).c_str(),
                         static_cast<unsigned long long>(bytes));
    }
    return result;
}

} // namespace dls2mml::cli
