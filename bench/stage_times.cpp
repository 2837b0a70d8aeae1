// CPU time of each coding stage over the first slices of a file, with no
// benchmark library, so that the same program builds natively and as
// WebAssembly (run with node): the two side by side show which stage the
// page's build pays most for.
//
//   stage_times FILE [SLICES]    (default: 16 slices of 524,288 bytes)
//
// Each stage runs once per slice on what the stage before made of it, as a
// conversion runs it after the pivot state is settled (the sort that draws
// nothing), then each decoding stage on what the coding made; prints
// nanoseconds per input byte of each stage and the sums of both directions;
// then, where the processor allows, the range decoder on up to three
// payloads together and the symbols read straight into the last column, as
// the stream decoder's threads run them.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <ctime>
#include <vector>

#include "compressor/block_sort.h"
#include "compressor/frequency_model.h"
#include "compressor/interleaved_range_decoder.h"
#include "compressor/range_coder.h"
#include "compressor/rank_symbols.h"
#include "compressor/rank_transform.h"
#include "compressor/run_length_prepass.h"
#include "compressor/stream_format.h"

namespace {

using namespace dls2mml;
using Bytes = std::vector<std::uint8_t>;

// CPU seconds of this process: the stages run on one thread.
double cpuSeconds()
{
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

enum Stage {
    prepassStage, sortStage, rankStage, symbolStage, coderStage,
    decoderStage, symbolReadStage, rankUndoStage, sortUndoStage, runUndoStage, stageCount
};
constexpr int codingStages = decoderStage;
const char* const stageNames[stageCount] = {"pre-pass", "sort", "rank transform", "rank symbols", "range coder",
                                            "range decoder", "symbols read", "ranks undone", "sort undone", "runs expanded"};

struct Block {
    Bytes prepassed = Bytes(runLengthPrepassBound(blockSizeForLevel1) + wrappedBlockPadding);
    Bytes lastColumn = Bytes(bufferSizeForLevel1);
    Bytes ranks = Bytes(bufferSizeForLevel1);
    Bytes symbols = Bytes(rankSymbolsBound(bufferSizeForLevel1));
    Bytes payload = Bytes(encodeBlockBound(rankSymbolsBound(bufferSizeForLevel1)));
    SortArrays arrays{bufferSizeForLevel1};
    ModelSet models;
    // Decoding's own buffers.
    ReusedBytes decodedSymbols;
    ReusedBytes decodedRanks;
    Bytes decodedColumn = Bytes(bufferSizeForLevel1);
    Bytes unsorted = Bytes(bufferSizeForLevel1);
    ReusedBytes expanded;
    std::vector<std::uint32_t> walk = std::vector<std::uint32_t>(bufferSizeForLevel1 + pieceWorkWords(bufferSizeForLevel1));
};

// One slice through every stage, each timed into seconds; false if it did
// not code. A function of its own, called once per slice: a WebAssembly
// engine optimizes a function for its later calls, so a loop in main would
// be timed in the engine's first, unoptimized form throughout.
[[gnu::noinline]] bool codeSlice(Block& block, std::span<const std::uint8_t> input, double* seconds, Bytes* payloadKept = nullptr)
{
    double t = cpuSeconds();
    auto lap = [&](Stage stage) {
        const double now = cpuSeconds();
        seconds[stage] += now - t;
        t = now;
    };
    const std::int32_t m = runLengthPrepass(block.prepassed, input);
    lap(prepassStage);
    const auto n = static_cast<std::size_t>(m);
    const SortResult sorted = sortDistinctRotations(block.prepassed, m, block.lastColumn, block.arrays);
    lap(sortStage);
    rankTransform(std::span(block.ranks).first(n), std::span<const std::uint8_t>(block.lastColumn).first(n));
    lap(rankStage);
    const std::int32_t k = codeRankSymbols(block.symbols, std::span<const std::uint8_t>(block.ranks).first(n));
    lap(symbolStage);
    const std::int32_t length = encodeBlock(block.models, block.payload,
                                            std::span<const std::uint8_t>(block.symbols).first(static_cast<std::size_t>(k)));
    lap(coderStage);
    if (!sorted.ok || length <= 0)
        return false;
    const auto payload = std::span<const std::uint8_t>(block.payload).first(static_cast<std::size_t>(length));
    const bool decoded = !decodeRangeBlock(block.models, payload, block.decodedSymbols).failed();
    lap(decoderStage);
    const bool read = !decodeRankSymbols(block.decodedSymbols, block.decodedRanks).failed();
    lap(symbolReadStage);
    const std::span<std::uint8_t> column = std::span(block.decodedColumn).first(n);
    undoRankTransform(column, std::span<const std::uint8_t>(block.decodedRanks).first(n));
    lap(rankUndoStage);
    const bool unsorted = !undoBlockSort(std::span(block.unsorted).first(n), column,
                                         static_cast<std::uint32_t>(sorted.primaryIndex), block.walk).failed();
    lap(sortUndoStage);
    const bool expanded = !expandRuns(std::span<const std::uint8_t>(block.unsorted).first(n), block.expanded).failed();
    lap(runUndoStage);
    if (payloadKept)
        payloadKept->assign(payload.begin(), payload.end());
    return decoded && read && block.decodedRanks.size() == n && unsorted && expanded &&
           std::equal(input.begin(), input.end(), block.expanded.begin(), block.expanded.end());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: stage_times FILE [SLICES]\n");
        return 2;
    }
    const long slices = argc > 2 ? std::atol(argv[2]) : 16;
    std::FILE* file = std::fopen(argv[1], "rb");
    if (!file || slices < 1) {
        std::fprintf(stderr, "stage_times: cannot read %s\n", argv[1]);
        return 1;
    }
    auto block = std::make_unique<Block>();
    Bytes slice(blockSizeForLevel1);
    double seconds[stageCount] = {};
    double bytes = 0;
    std::vector<Bytes> payloads;
    for (long i = 0; i < slices; ++i) {
        const std::size_t got = std::fread(slice.data(), 1, slice.size(), file);
        if (got == 0)
            break;
        const std::span<const std::uint8_t> input(slice.data(), got);
        bytes += static_cast<double>(got);
        // The first slice once more untimed before: the timed runs start in
        // the engine's optimized code and with the arrays touched.
        double untimed[stageCount] = {};
        payloads.emplace_back();
        if ((i == 0 && !codeSlice(*block, input, untimed)) || !codeSlice(*block, input, seconds, &payloads.back())) {
            std::fprintf(stderr, "stage_times: slice %ld did not code, or did not decode back to itself\n", i);
            return 1;
        }
    }
    std::fclose(file);
    double total = 0;
    for (int s = 0; s < stageCount; ++s) {
        std::printf("%-15s %7.2f ns/byte\n", stageNames[s], 1e9 * seconds[s] / bytes);
        total += seconds[s];
        if (s == codingStages - 1 || s == stageCount - 1) {
            std::printf("%-15s %7.2f ns/byte over %.0f bytes\n", s < codingStages ? "all coding" : "all decoding",
                        1e9 * total / bytes, bytes);
            total = 0;
        }
    }
    if (InterleavedRangeDecoder::available()) {
        const auto decoder = std::make_unique<InterleavedRangeDecoder>();
        std::array<ReusedBytes, InterleavedRangeDecoder::maxLanes> out;
        std::array<ReusedBytes*, InterleavedRangeDecoder::maxLanes> outs{};
        for (std::size_t i = 0; i < out.size(); ++i)
            outs[i] = &out[i];
        const double start = cpuSeconds();
        for (std::size_t i = 0; i < payloads.size(); i += InterleavedRangeDecoder::maxLanes) {
            const std::size_t n = std::min(payloads.size() - i, InterleavedRangeDecoder::maxLanes);
            std::array<InterleavedRangeDecoder::Payload, InterleavedRangeDecoder::maxLanes> group;
            std::copy_n(payloads.begin() + static_cast<std::ptrdiff_t>(i), n, group.begin());
            if (!decoder->decode(std::span(group).first(n), std::span(outs).first(n))) {
                std::fprintf(stderr, "stage_times: payloads from slice %zu did not decode together\n", i);
                return 1;
            }
        }
        std::printf("%-15s %7.2f ns/byte, up to %zu payloads together\n", "range decoder", 1e9 * (cpuSeconds() - start) / bytes,
                    InterleavedRangeDecoder::maxLanes);
    }
    if (undoRankTransformIsVectored()) {
        const auto models = std::make_unique<ModelSet>();
        ReusedBytes symbols;
        Bytes column(bufferSizeForLevel1 + rankColumnRoom);
        double seconds = 0;
        for (const Bytes& payload : payloads) {
            std::size_t length = 0;
            bool sound = !decodeRangeBlock(*models, payload, symbols).failed();
            const double start = cpuSeconds();
            sound = sound && undoRankSymbolsAndTransform(column, symbols, bufferSizeForLevel1, length);
            seconds += cpuSeconds() - start;
            if (!sound) {
                std::fprintf(stderr, "stage_times: symbols did not read straight into a last column\n");
                return 1;
            }
        }
        std::printf("%-15s %7.2f ns/byte, symbols read and ranks undone in one pass\n", "symbols+ranks", 1e9 * seconds / bytes);
    }
    return 0;
}
