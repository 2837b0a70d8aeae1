#include "shell/decode_job.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bank/dls_bank.h"
#include "platform/file_system.h"
#include "shell/document/cue_point_document.h"
#include "shell/document/output_name.h"

namespace dls2mml {
namespace {

DecodeReport failed(DecodeReport report, FaultKind kind, const std::string& detail = {})
{
    report.fault = makeFault(kind, detail);
    return report;
}

DecodeReport failed(DecodeReport report, const IoStatus& status)
{
    report.fault = faultOf(status);
    return report;
}

DecodeReport failedAtOutput(DecodeReport report, const IoStatus& status)
{
    report.fault = faultOf(status, FaultFile::output);
    return report;
}

// A document to read: an open file, a file by name (which can be opened
// again), or standard input, which is held in memory only when it must be
// read twice and no spool could be made for standard output.
class DocumentSource {
public:
    explicit DocumentSource(const DecodeRequest& request) : request_(request) {}

    // Opens the document, if it is not open.
    IoStatus open()
    {
        if (request_.input || file_ || held_)
            return {};
        if (request_.fromStandardInput) {
            file_ = standardInput();
            return {};
        }
        return openInputFile(request_.path, file_);
    }

    const InputFile& file() const { return request_.input ? *request_.input : *file_; }

    // The bank's length from the sizes line, for progress; UINT64_MAX if unknown.
    std::uint64_t expectedBankLength() const
    {
        std::optional<DocumentSizes> sizes;
        if (held_)
            sizes = parseDocumentSizes(heldText_);
        else if (!request_.input && file_ && file_->rereadable()) // a named pipe must not be opened twice
            sizes = readDocumentSizes(request_.path);
        return sizes ? sizes->bankBytes : UINT64_MAX;
    }

    // Decodes the document, handing the bank to sink.
    TextStatus decode(const DocumentReader::Sink& sink, bool& atEnd)
    {
        atEnd = false;
        if (held_) {
            DocumentReader reader(sink, request_.threads);
            TextStatus status;
            for (std::size_t at = 0; status.ok() && at < heldText_.size(); at += readChunk)
                status = reader.feed(std::string_view(heldText_).substr(at, readChunk));
            if (status.ok()) {
                atEnd = true;
                status = reader.finish();
            }
            return status;
        }
        if (request_.input)
            return decodeDocumentFile(*request_.input, sink, request_.threads, &atEnd);
        if (IoStatus status = open(); !status)
            return {FaultKind::readFailed, describeIoStatus(status), {0, 0}, std::nullopt};
        // A file is read once for each decode: the next one opens it again.
        const std::unique_ptr<InputFile> file = std::move(file_);
        return decodeDocumentFile(*file, sink, request_.threads, &atEnd);
    }

    // Keeps standard input in memory so that it can be decoded twice.
    Fault hold()
    {
        if (!request_.fromStandardInput || held_)
            return {};
        if (IoStatus status = open(); !status)
            return faultOf(status);
        std::vector<std::uint8_t> buffer(readChunk);
        for (;;) {
            std::size_t got = 0;
            if (IoStatus status = file_->read(buffer, got); !status)
                return faultOf(status);
            if (got == 0)
                break;
            if (heldText_.size() + got > maxDocumentLength)
                return {FaultKind::tooLarge, {}, "document larger than any the converter writes (2 GiB)"};
            heldText_.append(reinterpret_cast<const char*>(buffer.data()), got);
        }
        file_.reset();
        held_ = true;
        return {};
    }

private:
    const DecodeRequest& request_;
    std::unique_ptr<InputFile> file_;
    bool held_ = false;
    std::string heldText_;
};

// What a check judges of the decoded bank. The format carries no checksum, so
// a damaged character can decode to another bank; a bank that begins as a
// RIFF file is therefore walked as it comes: its chunk sizes must add up,
// within the 'DLS ' form, which ends where its header says, and the
// collection's counts must agree. Other banks are opaque bytes and pass.
class BankCheck {
public:
    void feed(std::span<const std::uint8_t> block)
    {
        for (std::size_t i = 0; i < block.size() && start_.size() < 4; ++i)
            start_ += static_cast<char>(block[i]);
        dls_.feed(block);
    }
    bool isRiff() const { return start_ == "RIFF"; }
    // Where and why the bank fails; empty when it passes.
    std::string problem()
    {
        if (!isRiff())
            return {};
        const DlsFault& fault = dls_.finish();
        return fault.ok() ? std::string() : fault.describe();
    }

private:
    std::string start_;
    DlsReader dls_;
};

// Decodes the document once: the bank to output (when there is one) and to
// the check, the first write failure kept.
class Pass {
public:
    Pass(const DecodeRequest& request, DocumentSource& source, OutputFile* output)
        : request_(request), source_(source), output_(output) {}

    DecodeReport run(DecodeReport report)
    {
        const std::uint64_t total = source_.expectedBankLength();
        std::uint64_t done = 0;
        bool atEnd = false;
        const TextStatus status = source_.decode([&](std::span<const std::uint8_t> block) {
            if (output_) {
                if (IoStatus written = output_->write(block); !written) {
                    writeStatus_ = written;
                    return false;
                }
            }
            check_.feed(block);
            done += block.size();
            if (request_.progress)
                request_.progress({done, total});
            return true;
        }, atEnd);
        if (!writeStatus_)
            return failedAtOutput(std::move(report), writeStatus_);
        if (!status.ok()) {
            report.fault = documentFault(status, atEnd);
            return report;
        }
        report.bankBytes = done;
        report.bankIsRiff = check_.isRiff();
        if (request_.checkOnly)
            if (std::string problem = check_.problem(); !problem.empty())
                return failed(std::move(report), FaultKind::bankDamaged, problem);
        return report;
    }

private:
    const DecodeRequest& request_;
    DocumentSource& source_;
    OutputFile* output_;
    BankCheck check_;
    IoStatus writeStatus_;
};

// Where the bank goes: standard output, the caller's output, or a file.
DecodeReport chooseTarget(const DecodeRequest& request, DecodeReport report, bool& toStandardOutput)
{
    // Standard input has no name to derive the bank's from: it goes to standard output.
    toStandardOutput = request.toStandardOutput || (request.fromStandardInput && request.outputPath.empty() &&
                                                     !request.output);
    if (toStandardOutput) {
        report.outputPath.assign(1, '-');
        if (request.refuseTerminal)
            return failed(std::move(report), FaultKind::toTerminal);
    } else if (!request.outputPath.empty()) {
        report.outputPath = request.outputPath;
    } else if (std::optional<std::string> bank = deriveBankName(request.path)) {
        report.outputPath = *bank;
    } else if (!request.output) {
        return failed(std::move(report), FaultKind::noBankName);
    }
    return report;
}

// Decodes onto standard output: nothing may reach it from a faulty document,
// so the bank is spooled and copied out once it is whole.
DecodeReport decodeToStandardOutput(const DecodeRequest& request, DocumentSource& source, DecodeReport report)
{
    std::unique_ptr<OutputFile> out = standardOutput();
    if (source.file().identity().sameAs(out->identity()))
        return failed(std::move(report), FaultKind::sameFile);
    if (!out->seekable()) {
        // No spool could be made: check the whole document first, then
        // decode it again onto the output.
        if (Fault problem = source.hold(); !problem.ok()) {
            report.fault = std::move(problem);
            return report;
        }
        report = Pass(request, source, nullptr).run(std::move(report));
        if (!report.ok())
            return report;
    }
    report = Pass(request, source, out.get()).run(std::move(report));
    if (!report.ok())
        return report;
    if (IoStatus status = out->commit(); !status)
        return failed(std::move(report), status);
    return report;
}

// Decodes into a file of its own, which replaces the target only when whole.
DecodeReport decodeToFile(const DecodeRequest& request, DocumentSource& source, DecodeReport report)
{
    if (!request.overwrite && pathExists(report.outputPath))
        return failed(std::move(report), FaultKind::outputExists);
    std::unique_ptr<OutputFile> out;
    if (IoStatus status = createOutputFile(report.outputPath, out, !request.overwrite); !status)
        return failedAtOutput(std::move(report), status);
    if (source.file().identity().sameAs(out->identity()))
        return failed(std::move(report), FaultKind::sameFile);
    if (IoStatus status = out->keepPermissions(source.file().permissions()); !status)
        return failedAtOutput(std::move(report), status);
    report = Pass(request, source, out.get()).run(std::move(report));
    if (!report.ok())
        return report; // the uncommitted output is removed with it
    if (IoStatus status = out->commit(); !status)
        return failedAtOutput(std::move(report), status);
    return report;
}

} // namespace

DecodeReport runDecodeJob(const DecodeRequest& request)
{
    DecodeReport report;
    DocumentSource source(request);
    if (IoStatus status = source.open(); !status)
        return failed(std::move(report), status);
    if (request.checkOnly)
        return Pass(request, source, nullptr).run(std::move(report));
    bool toStandardOutput = false;
    report = chooseTarget(request, std::move(report), toStandardOutput);
    if (!report.ok())
        return report;
    if (toStandardOutput)
        return decodeToStandardOutput(request, source, std::move(report));
    if (request.output)
        return Pass(request, source, request.output).run(std::move(report));
    return decodeToFile(request, source, std::move(report));
}

std::string bankNameFor(const std::string& documentName)
{
    if (std::optional<std::string> bank = deriveBankName(documentName))
        return *bank;
    const std::size_t dot = documentName.rfind('.');
    return (dot == std::string::npos ? documentName : documentName.substr(0, dot)) + ".dls";
}

} // namespace dls2mml
