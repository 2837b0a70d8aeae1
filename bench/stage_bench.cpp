// Throughput of each block stage, the Base64 text and whole blocks on four
// kinds of 512 KiB block:
//   random    uniformly random bytes (nothing to find; the coder's worst case);
//   text      words, spaces and line breaks with a skewed word frequency;
//   pcm       16-bit little-endian sampled waves: decaying tones with vibrato,
//             noise bursts and stretches of silence, as in an instrument bank;
//   periodic  one 37-byte pattern over and over (the sort's longest doubling).
//
// Each stage runs on what the stage before it made of that block, so a case
// measures the stage on the data it meets in a real conversion. Rates are
// bytes of the stage's input per second; the input length is the "in_bytes"
// counter. The sort draws from the process-wide pivot generator, so repeated
// runs may order equal rotations differently; the work is the same.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "compressor/block_compressor.h"
#include "compressor/block_pipeline.h"
#include "compressor/block_sort.h"
#include "compressor/frequency_model.h"
#include "compressor/range_coder.h"
#include "compressor/rank_symbols.h"
#include "compressor/rank_transform.h"
#include "compressor/run_length_prepass.h"
#include "checks/crc64.h"
#include "text/base64_lines.h"
#include "text/base64_reader.h"
#include "text/base64_whole_lines.h"

namespace {

using namespace dls2mml;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t benchBlock = blockSizeForLevel1;

enum Kind : int { randomKind, textKind, pcmKind, periodicKind, kindCount };
const char* const kindNames[kindCount] = {"random", "text", "pcm", "periodic"};

// Small fixed generator so the blocks are the same in every run.
struct Xorshift {
    std::uint64_t s;
    std::uint64_t next()
    {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return s;
    }
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
};

Bytes randomBlock()
{
    Xorshift rng{0x9E3779B97F4A7C15ull};
    Bytes b(benchBlock);
    for (auto& v : b)
        v = static_cast<std::uint8_t>(rng.next() >> 56);
    return b;
}

Bytes textBlock()
{
    static const char* const words[] = {
        "the", "of", "and", "a", "to", "in", "is", "that", "it", "was", "for", "on", "are", "as", "with",
        "instrument", "region", "wave", "sample", "loop", "key", "velocity", "envelope", "attack",
        "release", "pitch", "tuning", "articulation", "bank", "program", "drum", "melodic", "channel",
        "note", "volume", "pan", "filter", "vibrato", "tremolo", "modulation", "layer", "gain"};
    constexpr std::size_t wordCount = sizeof words / sizeof words[0];
    Xorshift rng{12345};
    Bytes b;
    b.reserve(benchBlock + 32);
    std::size_t lineLength = 0;
    while (b.size() < benchBlock) {
        // Squaring a uniform draw favours the first words, roughly as in prose.
        const double u = rng.unit();
        const std::string w = words[static_cast<std::size_t>(u * u * wordCount)];
        b.insert(b.end(), w.begin(), w.end());
        lineLength += w.size() + 1;
        const std::uint64_t r = rng.next() % 16;
        if (r == 0)
            b.push_back(',');
        else if (r == 1)
            b.push_back('.');
        if (lineLength > 70) {
            b.push_back('\n');
            lineLength = 0;
        } else {
            b.push_back(' ');
        }
    }
    b.resize(benchBlock);
    return b;
}

Bytes pcmBlock()
{
    Xorshift rng{777};
    Bytes b;
    b.reserve(benchBlock + 4);
    const double rate = 22050.0;
    double phase = 0;
    while (b.size() < benchBlock) {
        const std::uint64_t pick = rng.next() % 8;
        const auto frames = static_cast<std::size_t>(2000 + rng.next() % 20000);
        const double freq = 55.0 * std::pow(2.0, static_cast<double>(rng.next() % 60) / 12.0);
        const double amp = 4000.0 + static_cast<double>(rng.next() % 24000);
        for (std::size_t i = 0; i < frames && b.size() < benchBlock; ++i) {
            const double t = static_cast<double>(i) / rate;
            double v = 0;
            if (pick < 5) { // tone: fundamental and two partials, vibrato, decay
                phase += 2 * std::numbers::pi * freq * (1 + 0.004 * std::sin(2 * std::numbers::pi * 5.5 * t)) / rate;
                v = amp * std::exp(-3.0 * t) *
                    (std::sin(phase) + 0.4 * std::sin(2 * phase) + 0.2 * std::sin(3 * phase));
                v += (rng.unit() - 0.5) * 8; // a little dither
            } else if (pick < 7) { // noise burst with a fast decay
                v = amp * std::exp(-20.0 * t) * (rng.unit() * 2 - 1);
            } // else silence
            const auto s = static_cast<std::int16_t>(std::lround(std::fmax(-32768.0, std::fmin(32767.0, v))));
            const auto u = static_cast<std::uint16_t>(s);
            b.push_back(static_cast<std::uint8_t>(u & 0xFF));
            b.push_back(static_cast<std::uint8_t>(u >> 8));
        }
    }
    b.resize(benchBlock);
    return b;
}

Bytes periodicBlock()
{
    const char pattern[] = "DLS wave pool entry 0123456789 loop. "; // 37 bytes
    Bytes b(benchBlock);
    for (std::size_t i = 0; i < benchBlock; ++i)
        b[i] = static_cast<std::uint8_t>(pattern[i % 37]);
    return b;
}

// One block of a kind and what every stage makes of it.
struct StageData {
    Bytes raw;
    Bytes prepassed;  // m bytes, then room for the sort's spare byte
    std::int32_t m = 0;
    Bytes lastColumn; // m bytes
    Bytes ranks;      // m bytes
    Bytes symbols;    // k bytes
    std::int32_t primaryIndex = 0;
};

StageData makeStageData(Kind kind)
{
    StageData d;
    switch (kind) {
    case randomKind: d.raw = randomBlock(); break;
    case textKind: d.raw = textBlock(); break;
    case pcmKind: d.raw = pcmBlock(); break;
    default: d.raw = periodicBlock(); break;
    }
    d.prepassed.resize(runLengthPrepassBound(d.raw.size()) + 1);
    const std::int32_t m = runLengthPrepass(d.prepassed, d.raw);
    d.m = m;
    d.lastColumn.resize(static_cast<std::size_t>(m));
    SortArrays arrays(static_cast<std::size_t>(m));
    const SortResult sorted = sortBlock(d.prepassed, m, d.lastColumn, arrays);
    d.primaryIndex = sorted.primaryIndex;
    d.ranks.resize(d.lastColumn.size());
    rankTransform(d.ranks, d.lastColumn);
    d.symbols.resize(rankSymbolsBound(d.ranks.size()));
    d.symbols.resize(static_cast<std::size_t>(codeRankSymbols(d.symbols, d.ranks)));
    return d;
}

const StageData& stageData(Kind kind)
{
    static std::unique_ptr<StageData> cache[kindCount];
    if (!cache[kind])
        cache[kind] = std::make_unique<StageData>(makeStageData(kind));
    return *cache[kind];
}

// block_s_per_byte: CPU seconds per byte of the raw 512 KiB block (shown
// with an SI prefix, n for nanoseconds), so the stages of one kind add up to
// the cost of a block whatever each stage's own input length.
void account(benchmark::State& state, std::size_t inputBytes)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(inputBytes));
    state.counters["in_bytes"] = static_cast<double>(inputBytes);
    state.counters["block_s_per_byte"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * static_cast<double>(benchBlock),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_Prepass(benchmark::State& state, Kind kind)
{
    const StageData& d = stageData(kind);
    Bytes out(runLengthPrepassBound(d.raw.size()));
    for (auto _ : state) {
        benchmark::DoNotOptimize(runLengthPrepass(out, d.raw));
        benchmark::ClobberMemory();
    }
    account(state, d.raw.size());
}

void BM_Sort(benchmark::State& state, Kind kind)
{
    const StageData& d = stageData(kind);
    const std::int32_t m = d.m;
    Bytes block = d.prepassed;
    Bytes lastColumn(d.lastColumn.size());
    SortArrays arrays(d.lastColumn.size());
    for (auto _ : state) {
        const SortResult r = sortBlock(block, m, lastColumn, arrays);
        if (!r.ok) {
            state.SkipWithError("sortBlock failed its consistency check");
            break;
        }
        benchmark::DoNotOptimize(r.primaryIndex);
        benchmark::ClobberMemory();
    }
    account(state, d.lastColumn.size());
}

// The sort a real bank's blocks take: every rotation distinct, so no pivot
// draw can change the order (the periodic block has no such sort).
void BM_SortDistinct(benchmark::State& state, Kind kind)
{
    const StageData& d = stageData(kind);
    Bytes block = d.prepassed;
    block.resize(block.size() + wrappedBlockPadding);
    Bytes lastColumn(d.lastColumn.size());
    SortArrays arrays(d.lastColumn.size());
    for (auto _ : state) {
        const SortResult r = sortDistinctRotations(block, d.m, lastColumn, arrays);
        if (!r.ok || lastColumn != d.lastColumn) {
            state.SkipWithError("sortDistinctRotations gave another last column");
            break;
        }
        benchmark::DoNotOptimize(r.primaryIndex);
        benchmark::ClobberMemory();
    }
    account(state, d.lastColumn.size());
}

void BM_RankTransform(benchmark::State& state, Kind kind)
{
    const StageData& d = stageData(kind);
    Bytes out(d.lastColumn.size());
    for (auto _ : state) {
        rankTransform(out, d.lastColumn);
        benchmark::ClobberMemory();
    }
    account(state, d.lastColumn.size());
    // How much ran again because a stretch's derived starting list was wrong
    // (never so far).
    const RankSplitOutcome split = rankTransformSplit(out, d.lastColumn, rankSplitStreams);
    state.counters["rerun_bytes"] = static_cast<double>(split.rerun);
}

void BM_RankSymbols(benchmark::State& state, Kind kind)
{
    const StageData& d = stageData(kind);
    Bytes out(rankSymbolsBound(d.ranks.size()));
    for (auto _ : state) {
        benchmark::DoNotOptimize(codeRankSymbols(out, d.ranks));
        benchmark::ClobberMemory();
    }
    account(state, d.ranks.size());
}

// The decoder's stages after the range decoder, each on what the encoder's
// matching stage made of the block.
void BM_ReadRankSymbols(benchmark::State& state, Kind kind)
{
    const StageData& d = stageData(kind);
    ReusedBytes ranks;
    for (auto _ : state) {
        if (decodeRankSymbols(d.symbols, ranks).failed()) {
            state.SkipWithError("decodeRankSymbols failed");
            break;
        }
        benchmark::ClobberMemory();
    }
    account(state, d.symbols.size());
}

void BM_UndoRankTransform(benchmark::State& state, Kind kind)
{
    const StageData& d = stageData(kind);
    Bytes column(d.ranks.size());
    for (auto _ : state) {
        undoRankTransform(column, d.ranks);
        benchmark::ClobberMemory();
    }
    account(state, d.ranks.size());
}

void BM_ExpandRuns(benchmark::State& state, Kind kind)
{
    const StageData& d = stageData(kind);
    const std::span<const std::uint8_t> prepass(d.prepassed.data(), static_cast<std::size_t>(d.m));
    ReusedBytes block;
    for (auto _ : state) {
        if (expandRuns(prepass, block).failed()) {
            state.SkipWithError("expandRuns failed");
            break;
        }
        benchmark::ClobberMemory();
    }
    account(state, prepass.size());
}

void BM_RangeCoder(benchmark::State& state, Kind kind)
{
    const StageData& d = stageData(kind);
    auto models = std::make_unique<ModelSet>();
    Bytes out(encodeBlockBound(d.symbols.size()));
    std::int32_t payload = 0;
    for (auto _ : state) {
        payload = encodeBlock(*models, out, d.symbols);
        benchmark::DoNotOptimize(payload);
        benchmark::ClobberMemory();
    }
    account(state, d.symbols.size());
    state.counters["out_bytes"] = payload;
}

// The range decoder on the payload the coder made of the block's symbols,
// and the check of that payload against the symbols (as --verify runs it).
// Rates are symbols per second, as for the coder.
Bytes payloadOf(const StageData& d)
{
    auto models = std::make_unique<ModelSet>();
    Bytes payload(encodeBlockBound(d.symbols.size()));
    payload.resize(static_cast<std::size_t>(encodeBlock(*models, payload, d.symbols)));
    return payload;
}

void BM_RangeDecoder(benchmark::State& state, Kind kind)
{
    const StageData& d = stageData(kind);
    const Bytes payload = payloadOf(d);
    auto models = std::make_unique<ModelSet>();
    ReusedBytes symbols;
    for (auto _ : state) {
        if (decodeRangeBlock(*models, payload, symbols).failed()) {
            state.SkipWithError("decodeRangeBlock failed");
            break;
        }
        benchmark::ClobberMemory();
    }
    account(state, d.symbols.size());
}

void BM_PayloadCheck(benchmark::State& state, Kind kind)
{
    const StageData& d = stageData(kind);
    const Bytes payload = payloadOf(d);
    auto models = std::make_unique<ModelSet>();
    for (auto _ : state) {
        if (!payloadHoldsSymbols(*models, payload, d.symbols)) {
            state.SkipWithError("payloadHoldsSymbols failed");
            break;
        }
        benchmark::ClobberMemory();
    }
    account(state, d.symbols.size());
}

void BM_Base64(benchmark::State& state, Kind kind)
{
    const StageData& d = stageData(kind);
    std::vector<char> out(base64LinesLength(d.raw.size()) + 1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(encodeBase64Lines(d.raw.data(), static_cast<std::uint32_t>(d.raw.size()), out.data()));
        benchmark::ClobberMemory();
    }
    account(state, d.raw.size());
}

// The incremental encoder as the document writer uses it, fed 64 KiB at a time.
void BM_Base64Feed(benchmark::State& state, Kind kind)
{
    const StageData& d = stageData(kind);
    constexpr std::size_t piece = 65536;
    std::vector<char> out(Base64LineEncoder::feedBound(piece) + Base64LineEncoder::finishBound);
    for (auto _ : state) {
        Base64LineEncoder encoder;
        for (std::size_t at = 0; at < d.raw.size(); at += piece) {
            const std::size_t n = std::min(piece, d.raw.size() - at);
            benchmark::DoNotOptimize(encoder.feed({d.raw.data() + at, n}, out.data()));
        }
        benchmark::DoNotOptimize(encoder.finish(out.data()));
        benchmark::ClobberMemory();
    }
    account(state, d.raw.size());
}

// The --verify fingerprint over one block, by tables or by carry-less
// folding (where the processor has it); the data does not matter to either.
void BM_Crc64(benchmark::State& state, bool folding)
{
    if (folding && !crc64CanFold()) {
        state.SkipWithError("no carry-less multiply on this processor");
        return;
    }
    const Bytes& raw = stageData(randomKind).raw;
    for (auto _ : state)
        benchmark::DoNotOptimize(folding ? crc64AdvanceFolding(~std::uint64_t{0}, raw) : crc64AdvanceTables(~std::uint64_t{0}, raw));
    account(state, raw.size());
}

// The Base64 reader as a document reader uses it: the block's text fed 64 KiB
// at a time, the bytes of each piece taken and the buffer emptied before the
// next. The rate is of text characters read.
void BM_Base64Read(benchmark::State& state, Kind kind)
{
    const StageData& d = stageData(kind);
    std::string text(base64LinesLength(d.raw.size()) + 1, '\0');
    text.resize(static_cast<std::size_t>(encodeBase64Lines(d.raw.data(), static_cast<std::uint32_t>(d.raw.size()), text.data())));
    constexpr std::size_t piece = 65536;
    Bytes out;
    out.reserve(piece);
    for (auto _ : state) {
        Base64Reader reader;
        std::size_t decoded = 0;
        for (std::size_t at = 0; at < text.size() && !reader.ended();) {
            std::size_t consumed = 0;
            out.clear();
            if (!reader.feed(std::string_view(text).substr(at, piece), out, consumed).ok()) {
                state.SkipWithError("Base64Reader::feed failed");
                break;
            }
            decoded += out.size();
            at += consumed;
        }
        if (!reader.finish().ok() || decoded != d.raw.size()) {
            state.SkipWithError("Base64Reader did not read the text back");
            break;
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    account(state, text.size());
}

// The whole lines of the pcm block's text with each line decoder the
// processor has; the rate is of text characters.
void BM_Base64WholeLines(benchmark::State& state, WholeLineDecoder decoder)
{
    const StageData& d = stageData(pcmKind);
    std::string text(base64LinesLength(d.raw.size()) + 1, '\0');
    text.resize(static_cast<std::size_t>(encodeBase64Lines(d.raw.data(), static_cast<std::uint32_t>(d.raw.size()), text.data())));
    const std::size_t lines = text.size() / base64LineWithFeed;
    Bytes out(lines * base64LineBytes);
    for (auto _ : state) {
        if (decodeWholeLinesWith(decoder, text.data(), lines, out.data()) != lines) {
            state.SkipWithError("a whole line was refused");
            break;
        }
        benchmark::ClobberMemory();
    }
    account(state, lines * base64LineWithFeed);
}

// Every stage of one block, as BlockCompressor::compressBlock runs them.
void BM_WholeBlock(benchmark::State& state, Kind kind)
{
    const StageData& d = stageData(kind);
    BlockCompressor compressor;
    if (!compressor.allocateBuffers()) {
        state.SkipWithError("allocateBuffers failed");
        return;
    }
    Bytes frame(frameBound(d.raw.size()));
    std::size_t length = 0;
    for (auto _ : state) {
        const CompressStatus status = compressor.compressBlock(d.raw, frame);
        length = status.length;
        if (!status) {
            state.SkipWithError("compressBlock failed");
            break;
        }
        benchmark::ClobberMemory();
    }
    compressor.release();
    account(state, d.raw.size());
    state.counters["ratio"] = static_cast<double>(length) / static_cast<double>(d.raw.size());
}

// Eight blocks, two of each kind, through the block pipeline on the given
// number of threads, every block sorted in order with the process-wide pivot
// state (periodic blocks are among them).
void BM_Pipeline(benchmark::State& state)
{
    Bytes input;
    for (int round = 0; round < 2; ++round)
        for (int k = 0; k < kindCount; ++k) {
            const Bytes& raw = stageData(static_cast<Kind>(k)).raw;
            input.insert(input.end(), raw.begin(), raw.end());
        }
    PipelineOptions options;
    options.threads = static_cast<unsigned>(state.range(0));
    for (auto _ : state) {
        std::size_t at = 0;
        std::size_t written = 0;
        const SliceReader reader = [&](std::span<std::uint8_t> buffer, std::size_t& got) {
            got = std::min(buffer.size(), input.size() - at);
            std::memcpy(buffer.data(), input.data() + at, got);
            at += got;
            return true;
        };
        const FrameSink sink = [&](std::span<const std::uint8_t> frame) {
            written += frame.size();
            return true;
        };
        const PipelineResult r = compressSlices(reader, sink, options);
        if (r.fault != PipelineFault::none) {
            state.SkipWithError("compressSlices failed");
            break;
        }
        benchmark::DoNotOptimize(written);
    }
    account(state, input.size());
}

void registerAll()
{
    using Stage = void (*)(benchmark::State&, Kind);
    const struct {
        const char* name;
        Stage run;
    } stages[] = {
        {"prepass", BM_Prepass},           {"sort", BM_Sort},       {"sort_distinct", BM_SortDistinct},       {"rank_transform", BM_RankTransform},
        {"rank_symbols", BM_RankSymbols},  {"range_coder", BM_RangeCoder}, {"base64", BM_Base64},
        {"base64_feed", BM_Base64Feed},    {"base64_read", BM_Base64Read},    {"whole_block", BM_WholeBlock},
        {"read_rank_symbols", BM_ReadRankSymbols}, {"undo_rank_transform", BM_UndoRankTransform},
        {"expand_runs", BM_ExpandRuns},    {"range_decoder", BM_RangeDecoder}, {"payload_check", BM_PayloadCheck},
    };
    for (const auto& stage : stages)
        for (int k = 0; k < kindCount; ++k)
            if (stage.run != BM_SortDistinct || k != periodicKind)
            benchmark::RegisterBenchmark((std::string(stage.name) + "/" + kindNames[k]).c_str(), stage.run,
                                         static_cast<Kind>(k))
                ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("crc64/tables", BM_Crc64, false)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("crc64/folding", BM_Crc64, true)->Unit(benchmark::kMicrosecond);
    for (WholeLineDecoder decoder : {WholeLineDecoder::portable, WholeLineDecoder::ssse3, WholeLineDecoder::avx2,
                                     WholeLineDecoder::avx512vbmi})
        if (wholeLineDecoderAvailable(decoder))
            benchmark::RegisterBenchmark((std::string("base64_whole_lines/") + wholeLineDecoderName(decoder)).c_str(),
                                         BM_Base64WholeLines, decoder)
                ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("pipeline/8_blocks", BM_Pipeline)
        ->ArgName("threads")
        ->Arg(1)
        ->Arg(2)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
}

} // namespace

int main(int argc, char** argv)
{
    registerAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
