// -l lists each input: a document from its sizes line (-v decodes it to count
// the frames), a bank after converting it in memory, with its DLS collection.
#include "cli/list_command.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <exception>
#include <span>
#include <vector>

#include "cli/messages.h"
#include "cli/progress.h"
#include "shell/conversion_job.h"
#include "shell/document/cue_point_document.h"
#include "bank/dls_bank.h"
#include "bank/instrument_selection.h"
#include "shell/document/document_reader.h"
#include "platform/file_system.h"
#include "shell/document/output_name.h"

namespace dls2mml::cli {
namespace {

constexpr std::size_t sniffBytes = 4096;

IoStatus readUpTo(InputFile& file, std::vector<std::uint8_t>& bytes, std::size_t limit)
{
    while (bytes.size() < limit) {
        const std::size_t have = bytes.size();
        bytes.resize(limit);
        std::size_t got = 0;
        IoStatus status = file.read(std::span(bytes).subspan(have), got);
        bytes.resize(have + got);
        if (!status)
            return status;
        if (got == 0)
            break;
    }
    return {};
}

// An input whose first bytes were read already to tell what it is.
class PrefixedInput final : public InputFile {
public:
    PrefixedInput(std::vector<std::uint8_t> prefix, InputFile& rest) : prefix_(std::move(prefix)), rest_(rest) {}
    std::uint64_t size() const noexcept override { return rest_.size(); }
    IoStatus read(std::span<std::uint8_t> buffer, std::size_t& got) noexcept override
    {
        if (used_ < prefix_.size()) {
            got = std::min(buffer.size(), prefix_.size() - used_);
            std::copy_n(prefix_.begin() + static_cast<std::ptrdiff_t>(used_), got, buffer.begin());
            used_ += got;
            return {};
        }
        return rest_.read(buffer, got);
    }

private:
    std::vector<std::uint8_t> prefix_;
    std::size_t used_ = 0;
    InputFile& rest_;
};

struct Row {
    std::uint64_t bank = 0;
    std::uint64_t stream = 0;
    std::uint64_t document = 0;
};

void printHeader() { std::printf("%12s %12s %12s %7s  %s\n", "bank", "stream", "document", "ratio", "name"); }

void printRow(const Row& row, const std::string& name)
{
    char ratio[16] = "-";
    if (row.bank > 0)
        std::snprintf(ratio, sizeof ratio, "%.1f%%", 100.0 * static_cast<double>(row.stream) / static_cast<double>(row.bank));
    printText(stdout, "%12llu %12llu %12llu %7s  %s\n", static_cast<unsigned long long>(row.bank),
              static_cast<unsigned long long>(row.stream), static_cast<unsigned long long>(row.document), ratio,
              name.c_str());
}

std::string formatName(const DlsWaveFormat& f)
{
    std::string text;
    if (f.formatTag == 1)
        text = "PCM";
    else if (f.formatTag == 3)
        text = "IEEE float";
    else
        text.append("format ").append(std::to_string(f.formatTag));
    if (f.bitsPerSample > 0)
        text.append(" ").append(std::to_string(f.bitsPerSample)).append("-bit");
    if (f.channels == 1)
        text.append(" mono");
    else if (f.channels == 2)
        text.append(" stereo");
    else
        text.append(" ").append(std::to_string(f.channels)).append(" channels");
    return text;
}

// Items separated by separator.
void appendItem(std::string& list, const char* separator, const std::string& item)
{
    if (!list.empty())
        list.append(separator);
    list.append(item);
}

// The instruments numbered as --instruments counts them, each with the bytes
// of wave data its regions link to (a wave shared by several counted for
// each), from the bank's layout; the walker's listing when there is none.
void printInstruments(const DlsCollection& c, const BankLayout* layout)
{
    if (!layout) {
        std::printf("  instruments: %llu\n", static_cast<unsigned long long>(c.instrumentCount));
        for (const DlsInstrument& i : c.instruments)
            std::printf("    %-7s bank %u/%u program %u, %u region%s: %s\n", i.drums ? "drums" : "melodic", i.bankMsb,
                        i.bankLsb, i.program, i.regions, i.regions == 1 ? "" : "s",
                        i.name.empty() ? "(no name)" : i.name.c_str());
        if (c.instrumentCount > c.instruments.size())
            std::printf("    ... and %llu more\n", static_cast<unsigned long long>(c.instrumentCount - c.instruments.size()));
        return;
    }
    std::printf("  instruments: %llu, using %llu bytes of wave data (each wave once)\n",
                static_cast<unsigned long long>(layout->entries.size()),
                static_cast<unsigned long long>(distinctWaveBytes(*layout)));
    const int width = static_cast<int>(std::to_string(layout->entries.size()).size());
    unsigned long long number = 0;
    for (const InstrumentEntry& i : layout->entries)
        std::printf("    %*llu  %-7s bank %u/%u program %u, %u region%s, %llu wave bytes: %s\n", width, ++number,
                    i.drums ? "drums" : "melodic", i.bankMsb, i.bankLsb, i.program, i.regions,
                    i.regions == 1 ? "" : "s", static_cast<unsigned long long>(i.waveBytes),
                    i.name.empty() ? "(no name)" : i.name.c_str());
}

void printCollection(const DlsCollection& c, const BankLayout* layout)
{
    printInstruments(c, layout);
    std::string formats;
    for (const DlsWaveFormat& f : c.formats)
        appendItem(formats, ", ", formatName(f));
    std::string rates;
    for (std::uint32_t rate : c.sampleRates)
        appendItem(rates, " ", std::to_string(rate));
    std::printf("  waves: %llu", static_cast<unsigned long long>(c.waveCount));
    if (!formats.empty())
        std::printf("; %s", formats.c_str());
    if (!rates.empty())
        std::printf("; %s Hz", rates.c_str());
    std::printf("; %llu sample bytes\n", static_cast<unsigned long long>(c.sampleBytes));
    for (const DlsInfoString& info : c.info)
        std::printf("  %s: %s\n", info.id.c_str(), info.text.c_str());
}

// A document: the sizes line says it all; -v decodes it to count the frames.
Fault listDocument(const Options& options, const std::string& path, InputFile& file,
                   const std::vector<std::uint8_t>& prefix, Row& row)
{
    const std::string_view text(reinterpret_cast<const char*>(prefix.data()), prefix.size());
    const std::optional<DocumentSizes> sizes = parseDocumentSizes(text);
    if (!sizes)
        return {FaultKind::badText, {}, "a cue-point document whose sizes line cannot be read"};
    row.bank = sizes->bankBytes;
    row.stream = sizes->streamBytes;
    std::uint64_t frames = 0;
    std::uint64_t length = prefix.size();
    if (options.verbose) {
        DocumentReader reader([&frames](std::span<const std::uint8_t>) {
            ++frames;
            return true;
        });
        ProgressLine progress(displayName(path), progressEnabled(options), progressForced(options));
        TextStatus status = reader.feed(text);
        std::vector<std::uint8_t> buffer(1 << 18);
        for (std::size_t got = 1; status.ok() && got > 0;) {
            if (IoStatus io = file.read(buffer, got); !io)
                return faultOf(io);
            status = reader.feed(std::string_view(reinterpret_cast<const char*>(buffer.data()), got));
            length += got;
            progress.update(length, file.size());
        }
        if (status.ok())
            status = reader.finish();
        if (!status.ok())
            return {status.kind, {}, status.describe()};
    } else if (file.size() != UINT64_MAX) {
        length = file.size();
    } else {
        std::vector<std::uint8_t> buffer(1 << 18);
        for (std::size_t got = 1; got > 0; length += got)
            if (IoStatus io = file.read(buffer, got); !io)
                return faultOf(io);
    }
    row.document = length;
    const std::uint64_t expected = documentLength(row.bank, row.stream);
    if (length != expected)
        return {FaultKind::lengthMismatch, {},
                "the document has " + std::to_string(length) + " bytes and its sizes line gives " +
                    std::to_string(expected) + " (cut short or altered)"};
    printRow(row, path);
    if (options.verbose)
        std::printf("  frames: %llu\n", static_cast<unsigned long long>(frames));
    return {};
}

// A bank: converted in memory, nothing written; its collection read on the way.
Fault listBank(const Options& options, const std::string& path, std::unique_ptr<InputFile> file,
               std::vector<std::uint8_t> prefix, Row& row)
{
    const bool dlsForm = prefix.size() >= 12 && std::equal(prefix.begin(), prefix.begin() + 4, "RIFF") &&
                         std::equal(prefix.begin() + 8, prefix.begin() + 12, "DLS ");
    PrefixedInput input(std::move(prefix), *file);
    JobRequest request;
    request.path = path;
    request.lowerPath = lowerAscii(path);
    request.input = &input;
    request.discardOutput = true;
    request.threads = options.threads;
    DlsReader dls;
    // A DLS bank is also kept whole, to number its instruments and cost them
    // in wave data; without the memory for it, the walker's listing stands.
    std::vector<std::uint8_t> bank;
    bool keepBank = dlsForm && !options.quiet;
    if (keepBank && file->size() != UINT64_MAX) {
        try {
            bank.reserve(static_cast<std::size_t>(file->size())); // no doubling on the way
        } catch (const std::exception&) { // no memory for it
            keepBank = false;
        }
    }
    request.inspect = [&](std::span<const std::uint8_t> bytes) {
        dls.feed(bytes);
        if (!keepBank)
            return;
        try {
            bank.insert(bank.end(), bytes.begin(), bytes.end());
        } catch (const std::exception&) { // no memory for it
            keepBank = false;
            std::vector<std::uint8_t>().swap(bank);
        }
    };
    ProgressLine progress(displayName(path), progressEnabled(options), progressForced(options));
    std::uint64_t frames = 0;
    request.progress = [&](const JobProgress& p) {
        ++frames;
        progress.update(p.done, p.total);
    };
    const JobReport report = runConversionJob(request);
    progress.clear();
    if (!report.ok())
        return report.fault;
    row = {report.inputBytes, report.streamBytes, report.documentBytes};
    printRow(row, path);
    if (options.verbose)
        std::printf("  frames: %llu\n", static_cast<unsigned long long>(frames));
    const DlsFault& fault = dls.finish();
    if (dls.collection().riffDls && !options.quiet) {
        LayoutResult layout;
        if (fault.ok() && keepBank)
            layout = readBankLayout(bank);
        printCollection(dls.collection(), fault.ok() && keepBank && layout.ok() ? &layout.layout : nullptr);
    }
    if (!fault.ok() && !options.quiet) {
        std::fflush(stdout);
        if (!dls.collection().riffDls)
            printText(stderr, "dls2mml: %s: not a DLS bank\n", displayName(path).c_str());
        else
            printText(stderr, "dls2mml: %s: damaged DLS bank, %s\n", displayName(path).c_str(),
                         fault.describe().c_str());
    }
    return {};
}

Fault listOne(const Options& options, const std::string& path, Row& row)
{
    std::unique_ptr<InputFile> file;
    if (isStandardStream(path))
        file = standardInput();
    else if (IoStatus status = openInputFile(path, file); !status)
        return faultOf(status);
    std::vector<std::uint8_t> prefix;
    if (IoStatus status = readUpTo(*file, prefix, sniffBytes); !status)
        return faultOf(status);
    const std::string_view text(reinterpret_cast<const char*>(prefix.data()), prefix.size());
    if (text.starts_with(documentHead))
        return listDocument(options, path, *file, prefix, row);
    return listBank(options, path, std::move(file), std::move(prefix), row);
}

} // namespace

int runListCommand(const Options& options)
{
    Row total;
    std::size_t listed = 0;
    if (!options.quiet)
        printHeader();
    const int status = forEachFile(options, [&](std::size_t, const std::string& path) {
        Row row;
        if (const Fault fault = listOne(options, path, row); !fault.ok()) {
            std::fflush(stdout);
            reportFailure(path, fault.words);
            return fault.kind;
        }
        total.bank += row.bank;
        total.stream += row.stream;
        total.document += row.document;
        ++listed;
        return FaultKind::none;
    });
    if (listed > 1)
        printRow(total, "(total)");
    return status;
}

} // namespace dls2mml::cli
