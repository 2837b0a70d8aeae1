// Helpers of the decoder tests: streams and documents made by our own encoder,
// frames built from hand-made pre-pass data or symbols, and the round trip.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "compressor/block_compressor.h"
#include "compressor/block_decompressor.h"
#include "compressor/block_sort.h"
#include "compressor/range_coder.h"
#include "compressor/rank_symbols.h"
#include "compressor/rank_transform.h"
#include "shell/document/cue_point_document.h"
#include "shell/document/document_reader.h"
#include "support/document_oracle.h"
#include "shell/document/output_name.h"
#include "support/test_support.h"
#include "text/base64_lines.h"

namespace dls2mml::test {

inline Bytes compressBytes(const Bytes& input)
{
    Bytes stream(compressBound(input.size()));
    std::uint32_t length = 0;
    BlockCompressor compressor;
    const std::uint8_t empty = 0;
    EXPECT_TRUE(compressor.compress(input.empty() ? &empty : input.data(), stream.data(),
                                    static_cast<std::uint32_t>(input.size()), &length));
    stream.resize(streamHeaderSize + length);
    return stream;
}

inline std::string base64Text(const Bytes& stream)
{
    std::string text(base64LinesLength(stream.size()) + 1, '\0');
    const std::int32_t count =
        encodeBase64Lines(stream.data(), static_cast<std::uint32_t>(stream.size()), text.data());
    text.resize(static_cast<std::size_t>(count));
    return text;
}

inline std::string documentFor(std::uint64_t inputLength, const Bytes& stream)
{
    return std::string(documentHead) + formatSizesLine(inputLength, stream.size()) + base64Text(stream) +
           std::string(documentFooter);
}

// The stream header for a declared length, followed by frames.
inline Bytes streamOf(std::uint32_t declaredLength, std::initializer_list<Bytes> frames)
{
    Bytes out = hex("74 62 72 30 01 00 00 00");
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(declaredLength >> (8 * i)));
    for (const Bytes& f : frames)
        out.insert(out.end(), f.begin(), f.end());
    return out;
}

inline Bytes frameOf(std::uint32_t primaryIndex, const Bytes& payload)
{
    Bytes out;
    for (std::uint32_t v : {primaryIndex, static_cast<std::uint32_t>(payload.size())})
        for (int shift = 16; shift >= 0; shift -= 8)
            out.push_back(static_cast<std::uint8_t>(v >> shift));
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

// A payload coding exactly these rank symbols.
inline Bytes payloadOfSymbols(const Bytes& symbols)
{
    ModelSet models;
    Bytes out(encodeBlockBound(symbols.size()));
    out.resize(static_cast<std::size_t>(encodeBlock(models, out, symbols)));
    return out;
}

// A frame whose payload decodes to exactly this pre-pass data (any bytes,
// including what the pre-pass itself would never write).
inline Bytes frameOfPrepass(const Bytes& prepass)
{
    const auto n = static_cast<std::int32_t>(prepass.size());
    Bytes block(prepass);
    block.push_back(0);
    Bytes column(prepass.size());
    SortArrays arrays(prepass.size());
    const SortResult sorted = sortBlock(block, n, column, arrays);
    EXPECT_TRUE(sorted.ok);
    Bytes ranks(prepass.size());
    rankTransform(ranks, column);
    Bytes symbols(rankSymbolsBound(ranks.size()));
    symbols.resize(static_cast<std::size_t>(codeRankSymbols(symbols, ranks)));
    return frameOf(static_cast<std::uint32_t>(sorted.primaryIndex), payloadOfSymbols(symbols));
}

// Counts every round trip made by the decoder tests (printed at the end).
inline std::size_t& roundTripCount()
{
    static std::size_t count = 0;
    return count;
}

// encode -> decode of the stream, whole and fed in pieces, and of the document.
inline void expectRoundTrip(const Bytes& input, std::size_t piece = 4093)
{
    ++roundTripCount();
    const Bytes stream = compressBytes(input);
    Bytes whole;
    const DecodeStatus status = decompressStream(stream, whole);
    ASSERT_TRUE(status.ok()) << status.describe();
    ASSERT_EQ(whole.size(), input.size());
    ASSERT_TRUE(whole == input) << "stream decodes to other bytes";

    const std::string document = documentFor(input.size(), stream);
    Bytes bank;
    DocumentReader reader([&bank](std::span<const std::uint8_t> block) {
        bank.insert(bank.end(), block.begin(), block.end());
        return true;
    });
    for (std::size_t at = 0; at < document.size(); at += piece) {
        const TextStatus fed = reader.feed(std::string_view(document).substr(at, piece));
        ASSERT_TRUE(fed.ok()) << fed.describe();
    }
    const TextStatus finished = reader.finish();
    ASSERT_TRUE(finished.ok()) << finished.describe();
    ASSERT_TRUE(bank == input) << "document decodes to other bytes";
}

} // namespace dls2mml::test
