#include "shell/conversion_job.h"

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

#include "compressor/block_compressor.h"
#include "compressor/block_pipeline.h"
#include "shell/cue_point_document.h"
#include "shell/file_system.h"
#include "text/base64_lines.h"

namespace dls2mml {
namespace {

DocumentVerifier& documentVerifier()
{
    static DocumentVerifier verifier;
    return verifier;
}

RevealHook revealHook = nullptr;

JobFailure failureFor(IoError error)
{
    switch (error) {
    case IoError::none: return JobFailure::none;
    case IoError::notFound:
    case IoError::cannotOpen: return JobFailure::cannotOpen;
    case IoError::isFolder: return JobFailure::isFolder;
    case IoError::cannotRead: return JobFailure::cannotRead;
    case IoError::cannotCreate: return JobFailure::cannotCreate;
    case IoError::writeFailed: return JobFailure::writeFailed;
    case IoError::diskFull: return JobFailure::diskFull;
    }
    return JobFailure::writeFailed;
}

const char* wordsFor(JobFailure failure)
{
    switch (failure) {
    case JobFailure::none: return "ok";
    case JobFailure::noDlsInName: return "name does not contain \".dls\" (give the output with -o)";
    case JobFailure::cannotOpen: return "cannot open";
    case JobFailure::isFolder: return "is a folder";
    case JobFailure::cannotRead: return "cannot read";
    case JobFailure::tooLarge: return "too large";
    case JobFailure::outOfMemory: return "out of memory";
    case JobFailure::compressFailed: return "compression failed";
    case JobFailure::cannotCreate: return "cannot create output";
    case JobFailure::writeFailed: return "write failed";
    case JobFailure::diskFull: return "disk full";
    case JobFailure::verifyFailed: return "verification failed";
    }
    return "failed";
}

JobReport failed(JobReport report, JobFailure failure, const std::string& detail = {})
{
    report.failure = failure;
    report.reason = wordsFor(failure);
    if (!detail.empty())
        report.reason += ": " + detail;
    return report;
}

JobReport failed(JobReport report, const IoStatus& status)
{
    const JobFailure failure = failureFor(status.error);
    // "is a folder" already says it all.
    return failed(std::move(report), failure, failure == JobFailure::isFolder ? std::string() : status.detail);
}

// The tbr0 stream as it is produced: the header, then one frame per block, each
// kept in its own allocation so the stream never has to be copied to grow.
struct Stream {
    std::array<std::uint8_t, streamHeaderSize> header{};
    std::vector<std::vector<std::uint8_t>> frames;
    std::uint64_t length = streamHeaderSize;
};

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

constexpr std::uint64_t maxInputLength = 0xFFFFFFFFull;

JobReport compressInput(InputFile& input, const JobRequest& request, Stream& stream, JobReport report)
{
    const std::uint64_t total = input.size();
    std::uint64_t done = 0;
    IoStatus readStatus;
    bool tooLarge = false;
    bool outOfMemory = false;
    const SliceReader reader = [&](std::span<std::uint8_t> buffer, std::size_t& got) {
        readStatus = readSlice(input, buffer, got);
        if (!readStatus)
            return false;
        done += got;
        if (done > maxInputLength) {
            tooLarge = true;
            return false;
        }
        if (request.progress && got > 0)
            request.progress({done, total});
        return true;
    };
    const FrameSink sink = [&](std::span<const std::uint8_t> frame) {
        try {
            stream.frames.emplace_back(frame.begin(), frame.end());
        } catch (const std::bad_alloc&) {
            outOfMemory = true;
            return false;
        }
        stream.length += frame.size();
        return true;
    };
    const PipelineResult result = compressSlices(reader, sink);
    switch (result.fault) {
    case PipelineFault::none: break;
    case PipelineFault::readFailed:
        if (tooLarge)
            return failed(std::move(report), JobFailure::tooLarge, "4 GiB or more does not fit the stream's length field");
        return failed(std::move(report), readStatus);
    case PipelineFault::sinkFailed:
    case PipelineFault::outOfMemory: return failed(std::move(report), JobFailure::outOfMemory);
    case PipelineFault::sortFailed: return failed(std::move(report), JobFailure::compressFailed);
    }
    (void)outOfMemory;
    writeStreamHeader(stream.header, static_cast<std::uint32_t>(result.inputLength));
    report.inputBytes = result.inputLength;
    report.streamBytes = stream.length;
    return report;
}

// Buffers the document's pieces into large writes.
class DocumentWriter {
public:
    explicit DocumentWriter(OutputFile& file) : file_(file) { buffer_.reserve(capacity); }

    IoStatus put(std::string_view text) { return put(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())); }
    IoStatus put(std::span<const std::uint8_t> bytes)
    {
        if (buffer_.size() + bytes.size() > capacity)
            if (IoStatus status = flush(); !status)
                return status;
        if (bytes.size() >= capacity)
            return file_.write(bytes);
        buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
        return {};
    }
    IoStatus flush()
    {
        IoStatus status = file_.write(buffer_);
        buffer_.clear();
        return status;
    }

private:
    static constexpr std::size_t capacity = 1 << 20;
    OutputFile& file_;
    std::vector<std::uint8_t> buffer_;
};

IoStatus writeDocument(OutputFile& file, const Stream& stream, std::uint64_t inputLength)
{
    DocumentWriter writer(file);
    Base64LineEncoder encoder;
    // Room for the text of the largest frame; not cleared, every byte used is written first.
    std::size_t largest = stream.header.size();
    for (const auto& frame : stream.frames)
        largest = std::max(largest, frame.size());
    std::unique_ptr<char[]> textBuffer(new (std::nothrow) char[Base64LineEncoder::feedBound(largest) + Base64LineEncoder::finishBound]);
    if (!textBuffer)
        return {IoError::writeFailed, "out of memory"};
    char* const text = textBuffer.get();
    auto putText = [&](std::size_t count) { return writer.put(std::string_view(text, count)); };
    IoStatus status = writer.put(documentHead);
    if (status)
        status = writer.put(formatSizesLine(inputLength, stream.length));
    if (status)
        status = putText(encoder.feed(stream.header, text));
    for (const auto& frame : stream.frames) {
        if (!status)
            return status;
        status = putText(encoder.feed(frame, text));
    }
    if (status)
        status = putText(encoder.finish(text));
    if (status)
        status = writer.put(documentFooter);
    if (status)
        status = writer.flush();
    if (status)
        status = file.commit();
    return status;
}

} // namespace

void SetDocumentVerifier(DocumentVerifier verifier) { documentVerifier() = std::move(verifier); }

void SetRevealHook(RevealHook hook) { revealHook = hook; }

JobReport RunConversionJob(const JobRequest& request)
{
    JobReport report;
    if (request.toStandardOutput) {
        report.outputPath = "-";
    } else if (!request.outputPath.empty()) {
        report.outputPath = request.outputPath;
    } else if (auto derived = deriveOutputName(request.path, request.lowerPath)) {
        report.outputPath = *derived;
    } else {
        return failed(std::move(report), JobFailure::noDlsInName);
    }

    std::unique_ptr<InputFile> input;
    if (IoStatus status = openInputFile(request.path, input); !status)
        return failed(std::move(report), status);
    if (input->size() != UINT64_MAX && input->size() > maxInputLength)
        return failed(std::move(report), JobFailure::tooLarge, "4 GiB or more does not fit the stream's length field");

    Stream stream;
    report = compressInput(*input, request, stream, std::move(report));
    input.reset();
    if (!report.ok())
        return report;
    report.documentBytes = documentLength(report.inputBytes, report.streamBytes);
    if (report.documentBytes > maxDocumentLength)
        return failed(std::move(report), JobFailure::tooLarge, "the document would exceed 2 GiB");

    std::unique_ptr<OutputFile> output;
    if (request.toStandardOutput) {
        output = standardOutput();
    } else if (IoStatus status = createOutputFile(report.outputPath, output); !status) {
        return failed(std::move(report), status);
    }
    if (IoStatus status = writeDocument(*output, stream, report.inputBytes); !status)
        return failed(std::move(report), status);
    output.reset();

    if (request.verify && !request.toStandardOutput) {
        if (!documentVerifier())
            return failed(std::move(report), JobFailure::verifyFailed, "no decoder available");
        const std::string problem = documentVerifier()(report.outputPath, request.path);
        if (!problem.empty()) {
            removeFile(report.outputPath);
            return failed(std::move(report), JobFailure::verifyFailed, problem);
        }
    }
    return report;
}

void ConvertDlsFile(char* path, const char* lowerPath)
{
    if (!path || !lowerPath)
        return;
    JobRequest request;
    request.path = path;
    request.lowerPath = lowerPath;
    const JobReport report = RunConversionJob(request);
    if (report.ok() && revealHook)
        revealHook(report.outputPath.c_str());
}

} // namespace dls2mml
