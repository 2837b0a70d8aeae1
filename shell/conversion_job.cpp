#include "shell/conversion_job.h"

#include <algorithm>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "compressor/block_compressor.h"
#include "compressor/block_pipeline.h"
#include "bank/instrument_selection.h"
#include "compressor/pivot_generator.h"
#include "shell/conversion_steps.h"
#include "shell/document/cue_point_document.h"
#include "shell/document/document_stream.h"
#include "checks/crc64.h"
#include "checks/document_verifier.h"
#include "platform/file_system.h"
#include "shell/document/output_name.h"
#include "shell/pivot_ledger.h"
#include "shell/sort_plan.h"
#include "text/base64_lines.h"

namespace dls2mml {
namespace {

JobReport failed(JobReport report, FaultKind kind, const std::string& detail = {})
{
    report.fault = makeFault(kind, detail);
    return report;
}

JobReport failed(JobReport report, const IoStatus& status)
{
    report.fault = faultOf(status);
    return report;
}

// Reads up to buffer.size() bytes, fewer only at the end of the input.
IoStatus readSlice(InputFile& input, std::span<std::uint8_t> buffer, std::size_t& got)
{
    got = 0;
    while (got < buffer.size()) {
        std::size_t n = 0;
        IoStatus status = input.read(buffer.subspan(got), n);
        if (!status)
            return status;
        if (n == 0)
            break;
        got += n;
    }
    return {};
}

const char* const inputTooLarge = "4 GiB or more does not fit the stream's length field";

// Input bytes whose frames have been handed on: each frame is one slice, in
// order, so the lengths of the slices read are taken off as their frames come.
// The reader and the sink may run on different threads.
class FinishedBytes {
public:
    void read(std::size_t length)
    {
        std::lock_guard lock(mutex_);
        pending_.push_back(length);
    }
    std::uint64_t frameDone()
    {
        std::lock_guard lock(mutex_);
        if (!pending_.empty()) {
            finished_ += pending_.front();
            pending_.pop_front();
        }
        return finished_;
    }

private:
    std::mutex mutex_;
    std::deque<std::size_t> pending_;
    std::uint64_t finished_ = 0;
};

// An output that keeps nothing: converting "in memory" for the sizes alone.
// It claims to seek so that the document writer never holds the stream.
class DiscardedOutput final : public OutputFile {
public:
    IoStatus write(std::span<const std::uint8_t>) noexcept override { return {}; }
    IoStatus commit() noexcept override { return {}; }
    bool seekable() const noexcept override { return true; }
    IoStatus writeAt(std::uint64_t, std::span<const std::uint8_t>) noexcept override { return {}; }
    IoStatus readAt(std::uint64_t, std::span<std::uint8_t>) noexcept override { return {}; }
    IoStatus truncate(std::uint64_t) noexcept override { return {}; }
};

// The output, not the input, is what the message is about.
JobReport failedAtOutput(JobReport report, const IoStatus& status)
{
    report.fault = faultOf(status, FaultFile::output);
    return report;
}

// What --verify keeps while the document is written.
struct Verification {
    FrameVerifier frames;
    WrittenStream written;
};

// With a ledger: the blocks from ordered on are sorted without drawing, and
// the digest of each is kept for the ledger as its slice is read.
struct OwedBlocks {
    std::uint64_t ordered = allBlocksOrdered;
    std::vector<std::uint64_t> digests;
    bool sorted = false; // every block went through the pipeline
};

// Compresses the input into the document as the blocks come; with
// verification, each frame is decoded back before it goes on. The first
// ordered blocks are sorted in order with the process-wide pivot state.
JobReport convert(InputFile& input, OutputFile& output, const JobRequest& request, JobReport report,
                  Verification* verification, std::uint64_t ordered, OwedBlocks* owed)
{
    const std::uint64_t total = input.size();
    DocumentStream document(output, total);
    std::uint64_t done = 0;
    FinishedBytes finished;
    IoStatus readStatus;
    IoStatus writeStatus;
    bool tooLarge = false;
    std::uint64_t slices = 0;
    const SliceReader reader = [&](std::span<std::uint8_t> buffer, std::size_t& got) {
        readStatus = readSlice(input, buffer, got);
        if (!readStatus)
            return false;
        done += got;
        if (done > maxLength32) {
            tooLarge = true;
            return false;
        }
        if (got > 0) {
            if (owed && slices++ >= ordered) {
                Crc64 digest;
                digest.add(buffer.first(got));
                owed->digests.push_back(digest.value());
            }
            finished.read(got);
            if (request.inspect)
                request.inspect(std::span<const std::uint8_t>(buffer.first(got)));
        }
        return true;
    };
    const FrameSink sink = [&](std::span<const std::uint8_t> frame) {
        if (verification && !verification->written.add(frame)) {
            writeStatus = {IoError::writeFailed, "out of memory"};
            return false;
        }
        writeStatus = document.addFrame(frame);
        const std::uint64_t finishedBytes = finished.frameDone();
        if (request.progress)
            request.progress({finishedBytes, total});
        return static_cast<bool>(writeStatus);
    };
    PipelineOptions options;
    options.threads = request.threads;
    options.orderedBlocks = ordered;
    options.damage = request.damageFrame;
    if (verification)
        options.check = [&frames = verification->frames](std::size_t block, std::span<const std::uint8_t> slice,
                                                          std::span<const std::uint8_t> frame, const FrameHints& hints) {
            return frames(block, slice, frame, hints);
        };
    const PipelineResult result = compressSlices(reader, sink, options);
    switch (result.fault) {
    case PipelineFault::none: break;
    case PipelineFault::readFailed:
        if (tooLarge)
            return failed(std::move(report), FaultKind::tooLarge, inputTooLarge);
        return failed(std::move(report), readStatus);
    case PipelineFault::sinkFailed:
        if (document.tooLarge())
            return failed(std::move(report), FaultKind::tooLarge, writeStatus.detail);
        return failedAtOutput(std::move(report), writeStatus);
    case PipelineFault::outOfMemory:
    case PipelineFault::sortFailed:
    case PipelineFault::inputChanged: return failed(std::move(report), asFaultKind(result.fault));
    case PipelineFault::checkFailed:
        return failed(std::move(report), FaultKind::verifyFailed, verification->frames.problem());
    }
    if (owed)
        owed->sorted = true;
    report.inputBytes = result.inputLength;
    report.streamBytes = document.streamLength();
    report.documentBytes = documentLength(report.inputBytes, report.streamBytes);
    if (IoStatus status = document.finish(result.inputLength); !status) {
        if (document.tooLarge())
            return failed(std::move(report), FaultKind::tooLarge, status.detail);
        return failedAtOutput(std::move(report), status);
    }
    return report;
}

// An output that cannot be read back (a pipe, a device, standard output
// without a spool), checked on the way out instead: every byte it writes goes
// through a StreamReadBack as well. It writes front to back only.
class CheckedOutput final : public OutputFile {
public:
    explicit CheckedOutput(std::unique_ptr<OutputFile> file) : file_(std::move(file)) {}
    IoStatus write(std::span<const std::uint8_t> bytes) noexcept override
    {
        try {
            readBack_.feed(bytes);
        } catch (const std::bad_alloc&) {
            return {IoError::writeFailed, "out of memory"};
        }
        return file_->write(bytes);
    }
    IoStatus commit() noexcept override { return file_->commit(); }
    FileIdentity identity() const noexcept override { return file_->identity(); }
    IoStatus keepPermissions(int bits) noexcept override { return file_->keepPermissions(bits); }

    StreamReadBack& written() noexcept { return readBack_; }

private:
    std::unique_ptr<OutputFile> file_;
    StreamReadBack readBack_;
};

// Reads the complete document back from the output, before commit, and
// compares its stream with the frames written; checked is the output when it
// was checked on the way out instead.
std::string checkOutput(OutputFile& output, CheckedOutput* checked, const StreamPrint& written)
{
    if (checked)
        return checked->written().finish(written);
    std::unique_ptr<InputFile> document = output.readBack();
    if (!document) {
        const std::string pending = output.pendingPath();
        if (pending.empty() || !openInputFile(pending, document))
            return "this output cannot be read back";
    }
    return checkWrittenDocument(*document, written);
}

// The caller's output, which the job uses as its own but does not own.
class BorrowedOutput final : public OutputFile {
public:
    explicit BorrowedOutput(OutputFile& file) : file_(file) {}
    IoStatus write(std::span<const std::uint8_t> bytes) noexcept override { return file_.write(bytes); }
    IoStatus commit() noexcept override { return file_.commit(); }
    bool seekable() const noexcept override { return file_.seekable(); }
    std::string pendingPath() const override { return file_.pendingPath(); }
    IoStatus writeAt(std::uint64_t at, std::span<const std::uint8_t> bytes) noexcept override { return file_.writeAt(at, bytes); }
    IoStatus readAt(std::uint64_t at, std::span<std::uint8_t> bytes) noexcept override { return file_.readAt(at, bytes); }
    IoStatus truncate(std::uint64_t length) noexcept override { return file_.truncate(length); }
    FileIdentity identity() const noexcept override { return file_.identity(); }
    std::unique_ptr<InputFile> readBack() override { return file_.readBack(); }
    IoStatus keepPermissions(int bits) noexcept override { return file_.keepPermissions(bits); }

private:
    OutputFile& file_;
};

// The block sort draws from one process-wide pivot state, whose draws must
// follow the order of the conversions: jobs started from several threads (the
// C library's callers) take turns.
std::mutex& pivotStateLock()
{
    static std::mutex lock;
    return lock;
}

// --- choosing instruments (JobRequest::instruments) ---

// A bank held in memory, read as the file it came from would be; the file's
// identity and permissions stay those of the original.
class MemoryInput final : public InputFile {
public:
    MemoryInput(std::vector<std::uint8_t> bytes, const InputFile& original)
        : bytes_(std::move(bytes)), original_(original) {}
    std::uint64_t size() const noexcept override { return bytes_.size(); }
    IoStatus read(std::span<std::uint8_t> buffer, std::size_t& got) noexcept override
    {
        got = std::min(buffer.size(), bytes_.size() - used_);
        std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(used_), got, buffer.begin());
        used_ += got;
        return {};
    }
    FileIdentity identity() const noexcept override { return original_.identity(); }
    int permissions() const noexcept override { return original_.permissions(); }
    bool changedSinceOpen() const noexcept override { return original_.changedSinceOpen(); }

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t used_ = 0;
    const InputFile& original_;
};

// Reads the whole bank and cuts it to the instruments of the list; cut
// receives the bank to convert. Nothing is written on a refusal.
JobReport cutToInstruments(InputFile& input, const std::string& list, std::unique_ptr<InputFile>& cut,
                           JobReport report, std::int64_t* lastNeedingState)
{
    try {
        if (std::string problem = checkInstrumentList(list); !problem.empty())
            return failed(std::move(report), FaultKind::selectionRefused, problem);
        std::vector<std::uint8_t> bank;
        if (input.size() != UINT64_MAX)
            bank.reserve(static_cast<std::size_t>(input.size()) + readChunk); // the last read asks for a whole piece
        for (;;) {
            const std::size_t have = bank.size();
            bank.resize(have + readChunk);
            std::size_t got = 0;
            IoStatus status = readSlice(input, std::span(bank).subspan(have), got);
            bank.resize(have + got);
            if (!status)
                return failed(std::move(report), status);
            if (bank.size() > maxLength32)
                return failed(std::move(report), FaultKind::tooLarge, inputTooLarge);
            if (got < readChunk)
                break;
        }
        BankCut result = selectInstruments(bank, list);
        if (!result.ok())
            return failed(std::move(report), FaultKind::selectionRefused, result.error);
        report.wholeBankBytes = bank.size();
        report.instrumentsKept = result.instrumentsKept;
        report.instrumentsInBank = result.instrumentsInBank;
        report.wavesKept = result.wavesKept;
        report.wavesInBank = result.wavesInBank;
        if (!result.unchanged)
            bank = std::move(result.bytes);
        if (lastNeedingState)
            *lastNeedingState = lastBlockNeedingState(bank);
        cut = std::make_unique<MemoryInput>(std::move(bank), input);
    } catch (const std::bad_alloc&) {
        return failed(std::move(report), FaultKind::outOfMemory);
    }
    return report;
}

// --- one input at a time (JobRequest::ledger) ---

// This input's own last block that needs the pivot state, read through the
// ledger's opener (the page's keeps its files), or cannotScan.
std::int64_t scanForState(const JobRequest& request)
{
    if (request.input)
        return cannotScan;
    std::unique_ptr<InputFile> again;
    if (!request.ledger->reopener().reopen(request.path, again))
        return cannotScan;
    const std::uint64_t total = again->size();
    std::uint64_t done = 0;
    return lastBlockNeedingState(
        *again,
        [&] {
            done += blockSizeForLevel1;
            if (request.preparing)
                request.preparing({std::min(done, total), total});
        },
        request.threads);
}

// Converts as one run over every input so far would: the earlier inputs' owed
// draws made first where this one needs the state, its blocks after its own
// last state-dependent block sorted on any core and owed in turn.
JobReport convertCarrying(InputFile& input, OutputFile& output, const JobRequest& request, JobReport report,
                          Verification* verification, std::int64_t lastNeedingState)
{
    PivotLedger& ledger = *request.ledger;
    OwedBlocks owed;
    owed.ordered = 0;
    if (lastNeedingState != noBlockNeedsState) {
        const SettleProgress progress = [&](std::uint64_t done, std::uint64_t total) {
            if (request.preparing)
                request.preparing({done, total});
        };
        if (ledger.settle(progress))
            owed.ordered = lastNeedingState == cannotScan ? allBlocksOrdered : static_cast<std::uint64_t>(lastNeedingState) + 1;
        else if (lastNeedingState != cannotScan)
            return failed(std::move(report), FaultKind::pivotStateUnknown, ledger.whyUnknown());
        // An input that cannot be scanned may still need no state: with none
        // of its blocks ordered, the pipeline stops at the first that does.
    }
    report = convert(input, output, request, std::move(report), verification, owed.ordered, &owed);
    if (owed.sorted) {
        ledger.record({request.path, request.instruments, report.inputBytes, owed.ordered, std::move(owed.digests)});
        return report;
    }
    // The pipeline stopped part-way.
    if (!ledger.stateKnown()) {
        if (report.fault.kind == FaultKind::inputChanged && lastNeedingState == cannotScan)
            return failed(std::move(report), FaultKind::pivotStateUnknown, ledger.whyUnknown());
        return report;
    }
    // How far the draws got depends on where the threads stopped, which no
    // run over the same inputs need repeat: the state is unknown from here.
    ledger.markUnknown(request.path + " stopped part-way through its conversion");
    return report;
}

// The document's path by the request: none for memory or a given output.
bool nameOutput(const JobRequest& request, JobReport& report)
{
    if (request.discardOutput || request.output) {
        report.outputPath.clear();
    } else if (request.toStandardOutput) {
        report.outputPath.assign(1, '-');
    } else if (!request.outputPath.empty()) {
        report.outputPath = request.outputPath;
    } else if (auto derived = deriveOutputName(request.path, request.lowerPath)) {
        report.outputPath = *derived;
    } else {
        report = failed(std::move(report), FaultKind::noDlsInName);
        return false;
    }
    return true;
}

// The document's output by the request, named by nameOutput.
bool openOutput(const JobRequest& request, JobReport& report, std::unique_ptr<OutputFile>& output)
{
    if (request.output) {
        output = std::make_unique<BorrowedOutput>(*request.output);
    } else if (request.discardOutput) {
        output = std::make_unique<DiscardedOutput>();
    } else if (request.toStandardOutput) {
        output = standardOutput();
    } else if (IoStatus status = createOutputFile(report.outputPath, output); !status) {
        report = failedAtOutput(std::move(report), status);
        return false;
    }
    return true;
}

} // namespace

std::size_t blockSliceBytes() noexcept { return blockSizeForLevel1; }

BlockCoder::BlockCoder() noexcept : work_(makeBlockWork())
{
    try {
        slice_ = std::make_unique<std::uint8_t[]>(blockSizeForLevel1);
        frame_ = std::make_unique<std::uint8_t[]>(frameBound(blockSizeForLevel1));
    } catch (const std::bad_alloc&) {
        work_.reset();
    }
}

std::span<std::uint8_t> BlockCoder::slice() noexcept
{
    return work_ ? std::span<std::uint8_t>(slice_.get(), blockSizeForLevel1) : std::span<std::uint8_t>();
}

std::span<const std::uint8_t> BlockCoder::frame() const noexcept
{
    return work_ ? std::span<const std::uint8_t>(frame_.get(), frameLength_) : std::span<const std::uint8_t>();
}

namespace {

FaultKind failureOfBlock(PipelineFault fault)
{
    switch (fault) {
    case PipelineFault::none: return FaultKind::none;
    case PipelineFault::outOfMemory: return FaultKind::outOfMemory;
    case PipelineFault::inputChanged: return FaultKind::inputChanged;
    default: return FaultKind::compressFailed;
    }
}

} // namespace

std::size_t BlockCoder::code(std::size_t length, bool withPivotState) noexcept
{
    frameLength_ = 0;
    if (!work_ || length == 0 || length > blockSizeForLevel1) {
        failure_ = work_ ? FaultKind::compressFailed : FaultKind::outOfMemory;
        return 0;
    }
    const BlockSortKind sort = withPivotState ? BlockSortKind::drawsPivots : BlockSortKind::distinctRotations;
    Crc64 digest;
    digest.add(std::span<const std::uint8_t>(slice_.get(), length));
    sliceDigest_ = digest.value();
    const PipelineFault fault = codeOneBlock(std::span<const std::uint8_t>(slice_.get(), length), sort, *work_,
                                             std::span<std::uint8_t>(frame_.get(), frameBound(length)), frameLength_);
    failure_ = failureOfBlock(fault);
    return failure_ == FaultKind::none ? frameLength_ : 0;
}

struct DocumentAssembly::Open {
    std::unique_ptr<OutputFile> output;
    std::unique_ptr<DocumentStream> document;
    std::uint64_t inputBytes = 0;
    IoStatus writeStatus;
};

DocumentAssembly::DocumentAssembly() = default;
DocumentAssembly::~DocumentAssembly() = default;

JobReport DocumentAssembly::start(const JobRequest& request, std::uint64_t inputLength)
{
    open_.reset();
    report_ = {};
    if (inputLength > maxLength32)
        return failed(std::move(report_), FaultKind::tooLarge, inputTooLarge);
    if (!nameOutput(request, report_))
        return report_;
    try {
        auto open = std::make_unique<Open>();
        if (!openOutput(request, report_, open->output))
            return report_;
        open->document = std::make_unique<DocumentStream>(*open->output, inputLength);
        open_ = std::move(open);
    } catch (const std::bad_alloc&) {
        return failed(std::move(report_), FaultKind::outOfMemory);
    }
    return report_;
}

bool DocumentAssembly::addFrame(std::span<const std::uint8_t> frame, std::size_t sliceLength)
{
    if (!open_ || !open_->writeStatus)
        return false;
    open_->writeStatus = open_->document->addFrame(frame);
    open_->inputBytes += sliceLength;
    return static_cast<bool>(open_->writeStatus);
}

JobReport DocumentAssembly::finish()
{
    if (!open_)
        return report_;
    const std::unique_ptr<Open> open = std::move(open_);
    if (!open->writeStatus) {
        if (open->document->tooLarge())
            return failed(std::move(report_), FaultKind::tooLarge, open->writeStatus.detail);
        return failedAtOutput(std::move(report_), open->writeStatus);
    }
    report_.inputBytes = open->inputBytes;
    report_.streamBytes = open->document->streamLength();
    report_.documentBytes = documentLength(report_.inputBytes, report_.streamBytes);
    if (IoStatus status = open->document->finish(open->inputBytes); !status) {
        if (open->document->tooLarge())
            return failed(std::move(report_), FaultKind::tooLarge, status.detail);
        return failedAtOutput(std::move(report_), status);
    }
    if (IoStatus status = open->output->commit(); !status)
        return failedAtOutput(std::move(report_), status);
    return report_;
}

JobReport DocumentAssembly::abandon(FaultKind failure, const std::string& detail)
{
    open_.reset(); // the uncommitted output removes its temporary
    return failed(std::move(report_), failure, detail);
}

JobReport runConversionJob(const JobRequest& request)
{
    JobReport report;
    if (!nameOutput(request, report))
        return report;

    std::unique_ptr<InputFile> opened;
    if (!request.input) {
        if (IoStatus status = openInputFile(request.path, opened); !status)
            return failed(std::move(report), status);
    }
    InputFile* input = request.input ? request.input : opened.get();
    if (input->size() != UINT64_MAX && input->size() > maxLength32)
        return failed(std::move(report), FaultKind::tooLarge, inputTooLarge);
    std::unique_ptr<InputFile> chosen;
    std::int64_t lastNeedingState = cannotScan;
    if (!request.instruments.empty()) {
        report = cutToInstruments(*input, request.instruments, chosen, std::move(report),
                                  request.ledger ? &lastNeedingState : nullptr);
        if (!report.ok())
            return report;
        input = chosen.get();
    } else if (request.ledger) {
        lastNeedingState = scanForState(request);
    }

    std::unique_ptr<OutputFile> output;
    if (!openOutput(request, report, output))
        return report;
    // Device and inode, so that links and other names of the input count too.
    if (input->identity().sameAs(output->identity()))
        return failed(std::move(report), FaultKind::sameFile);
    if (IoStatus status = output->keepPermissions(input->permissions()); !status)
        return failedAtOutput(std::move(report), status);
    std::unique_ptr<Verification> verification;
    CheckedOutput* checked = nullptr;
    if (request.verify && !request.discardOutput) {
        try {
            verification = std::make_unique<Verification>();
            if (!output->seekable()) {
                auto wrapped = std::make_unique<CheckedOutput>(std::move(output));
                checked = wrapped.get();
                output = std::move(wrapped);
            }
        } catch (const std::bad_alloc&) {
            return failed(std::move(report), FaultKind::outOfMemory);
        }
    }
    {
        const std::lock_guard<std::mutex> turn(pivotStateLock());
        if (request.ledger) {
            report = convertCarrying(*input, *output, request, std::move(report), verification.get(), lastNeedingState);
        } else {
            // The caller's count is of the file's blocks; a bank cut from it
            // has blocks of its own, so every one of them keeps to the order.
            const std::uint64_t ordered = request.instruments.empty() ? request.orderedBlocks : allBlocksOrdered;
            report = convert(*input, *output, request, std::move(report), verification.get(), ordered, nullptr);
        }
    }
    const bool changed = input->changedSinceOpen();
    opened.reset();
    if (!report.ok())
        return report; // the uncommitted output removes its temporary, any earlier document stays
    if (changed)
        report.notes.push_back("file changed while it was read");
    // Checked before it replaces anything, so a failed check loses nothing.
    // The document must decode to the bytes that were read, whether or not
    // the file still holds them.
    if (verification) {
        if (request.damageDocument)
            request.damageDocument(*output);
        const StreamPrint written = verification->written.finish(report.inputBytes);
        if (const std::string problem = checkOutput(*output, checked, written); !problem.empty())
            return failed(std::move(report), FaultKind::verifyFailed, problem);
    }
    if (IoStatus status = output->commit(); !status)
        return failedAtOutput(std::move(report), status);
    return report;
}

void startPivotStateAfresh()
{
    const std::lock_guard<std::mutex> turn(pivotStateLock());
    pivotGenerator.setState(PivotGenerator::initialState);
    pivotLedger().clear();
}

} // namespace dls2mml
