// The decoding stages called one at a time, each giving its bytes and its
// fault together, for the tests that set every stage beside its encoder.
#pragma once

#include <cstdint>
#include <vector>

#include "compressor/block_sort.h"
#include "compressor/range_coder.h"
#include "compressor/rank_symbols.h"
#include "compressor/run_length_prepass.h"
#include "compressor/stage_fault.h"
#include "compressor/stream_format.h"
#include "support/test_support.h"

namespace dls2mml::test {

struct Decoded {
    Bytes bytes;
    StageFault fault;
};

inline Decoded rangeDecode(const Bytes& payload)
{
    ModelSet models;
    Decoded d;
    ReusedBytes symbols;
    d.fault = decodeRangeBlock(models, payload, symbols);
    d.bytes.assign(symbols.begin(), symbols.end());
    return d;
}

inline Decoded readRankSymbols(const Bytes& symbols, std::size_t capacity = bufferSizeForLevel1)
{
    Decoded d;
    ReusedBytes ranks;
    d.fault = decodeRankSymbols(symbols, ranks, capacity);
    d.bytes.assign(ranks.begin(), ranks.end());
    return d;
}

inline Decoded expandPrepass(const Bytes& prepass, std::size_t capacity = blockSizeForLevel1)
{
    Decoded d;
    ReusedBytes block;
    d.fault = expandRuns(prepass, block, capacity);
    d.bytes.assign(block.begin(), block.end());
    return d;
}

inline Decoded unsortColumn(const Bytes& column, std::uint32_t primaryIndex)
{
    Decoded d;
    d.bytes.resize(column.size());
    std::vector<std::uint32_t> work(column.size());
    d.fault = undoBlockSort(d.bytes, column, primaryIndex, work);
    return d;
}

} // namespace dls2mml::test
