// Each decoding stage against the worked examples of its encoding stage, and
// its faults on data the encoder cannot have written.
#include "compressor/block_sort.h"
#include "compressor/range_coder.h"
#include "compressor/rank_symbols.h"
#include "compressor/rank_transform.h"
#include "compressor/run_length_prepass.h"
#include "support/decoder_test_support.h"

namespace dls2mml::test {
namespace {

struct Decoded {
    Bytes bytes;
    StageFault fault;
};

Decoded rangeDecode(const Bytes& payload)
{
    ModelSet models;
    Decoded d;
    d.fault = decodeRangeBlock(models, payload, d.bytes);
    return d;
}

Decoded rankSymbols(const Bytes& symbols, std::size_t capacity = bufferSizeForLevel1)
{
    Decoded d;
    d.fault = decodeRankSymbols(symbols, d.bytes, capacity);
    return d;
}

Decoded expand(const Bytes& prepass, std::size_t capacity = blockSizeForLevel1)
{
    Decoded d;
    d.fault = expandRuns(prepass, d.bytes, capacity);
    return d;
}

Decoded unsort(const Bytes& column, std::uint32_t primaryIndex)
{
    Decoded d;
    d.bytes.resize(column.size());
    std::vector<std::uint32_t> work(column.size());
    d.fault = undoBlockSort(d.bytes, column, primaryIndex, work);
    return d;
}

TEST(DecoderStages, RangeDecoderReadsTheCodersWorkedExamples)
{
    const struct {
        Bytes symbols;
        Bytes payload;
    } cases[] = {
        {{}, hex("FF CC CC AE 00")},
        {hex("00"), hex("19 94 F1 E2 00")},
        {hex("01"), hex("33 2E 14 49 00")},
        {hex("02"), hex("4C C7 AD E2 00")},
        {hex("03"), hex("59 97 0A 23 00")},
        {hex("09"), hex("83 32 8F 57 F6 00")},              // carry from the end symbol
        {hex("10 09 00"), hex("98 00 E8 D0 B7 20 00")},     // carry through FF
        {hex("61 62 63"), hex("D9 F1 02 C9 FD 34 B7 00")},
        {repeat(0x00, 10), hex("00 00 B5 8B 32 AA 00")},
        {repeat(0x01, 30000), hex("1C 71 C7 1A 8B 35 58 A3 72 94 3C 65 91 F9 E9 A8 CB 87 DD 10 00 00")},
        {repeat(0x01, 33000), hex("1C 71 C7 1A 8B 35 58 A3 72 94 3C 65 91 F9 E9 9F F4 BA 13 EA 00 00")}, // rescale
        {repeat(0x00, 40000), concat({repeat(0x00, 15), hex("07 14 33 34 BC 00 00")})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(toHex(c.payload));
        const Decoded d = rangeDecode(c.payload);
        ASSERT_FALSE(d.fault.failed()) << d.fault.message;
        EXPECT_TRUE(d.bytes == c.symbols);
    }
}

TEST(DecoderStages, RangeDecoderFaults)
{
    const Bytes good = hex("D9 F1 02 C9 FD 34 B7 00"); // 61 62 63
    const struct {
        const char* name;
        Bytes payload;
        FaultKind kind;
    } cases[] = {
        {"shorter than the flush", hex("FF CC CC"), FaultKind::corrupt},
        {"cut short", Bytes(good.begin(), good.end() - 1), FaultKind::corrupt},
        {"bytes after the end symbol", concat({good, hex("00")}), FaultKind::corrupt},
        {"flush bytes damaged", hex("FF CC CC AE 01"), FaultKind::corrupt},
        {"outside the interval", hex("FF FF FF FF 00"), FaultKind::corrupt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Decoded d = rangeDecode(c.payload);
        ASSERT_TRUE(d.fault.failed());
        EXPECT_EQ(faultKindName(d.fault.kind), std::string(faultKindName(c.kind))) << d.fault.message;
        EXPECT_LT(d.fault.position, std::max<std::size_t>(c.payload.size(), 1));
    }
}

TEST(DecoderStages, RangeDecoderStopsAtTheSymbolLimit)
{
    // One symbol more than a block may hold has no end symbol within the limit.
    const Bytes payload = payloadOfSymbols(repeat(0x00, maxRankSymbols + 1));
    const Decoded d = rangeDecode(payload);
    ASSERT_TRUE(d.fault.failed());
    EXPECT_EQ(d.fault.kind, FaultKind::limitExceeded) << d.fault.message;
    // Exactly the limit is fine.
    EXPECT_FALSE(rangeDecode(payloadOfSymbols(repeat(0x00, maxRankSymbols))).fault.failed());
}

// Symbol sequences that drive the decoder through its corners: every class,
// each offset model to its rescale (one symbol over and over), skewed and
// uniform draws, and the last index of every model.
TEST(DecoderStages, RangeDecoderReadsBackWhatTheCoderWrote)
{
    TestRng rng(11);
    std::vector<std::pair<std::string, Bytes>> cases;
    for (int k = 0; k < 10; ++k) {
        const int base = classBase[static_cast<std::size_t>(k)];
        const int size = classSize[static_cast<std::size_t>(k)];
        cases.emplace_back("class " + std::to_string(k) + " uniform", rng.bytes(70000, static_cast<std::uint32_t>(std::min(size, 256 - base)), static_cast<std::uint8_t>(base)));
        const int last = std::min(base + size - 1, 255);
        cases.emplace_back("class " + std::to_string(k) + " last offset", repeat(static_cast<std::uint8_t>(last), 40000));
    }
    Bytes skewed(200000);
    for (auto& b : skewed) b = static_cast<std::uint8_t>(rng.below(1 + rng.below(1 + rng.below(256))));
    cases.emplace_back("skewed", skewed);
    cases.emplace_back("uniform", rng.bytes(100000));
    Bytes every(256);
    for (int i = 0; i < 256; ++i) every[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(255 - i);
    cases.emplace_back("every byte", every);
    for (std::size_t n : {1u, 2u, 3u, 17u, 1000u}) cases.emplace_back("short " + std::to_string(n), rng.bytes(n));
    for (const auto& [name, symbols] : cases) {
        SCOPED_TRACE(name);
        const Decoded d = rangeDecode(payloadOfSymbols(symbols));
        ASSERT_FALSE(d.fault.failed()) << d.fault.message;
        EXPECT_TRUE(d.bytes == symbols);
    }
}

// The check of a payload against known symbols says what decoding it says.
bool decodesTo(const Bytes& payload, const Bytes& symbols)
{
    const Decoded d = rangeDecode(payload);
    return !d.fault.failed() && d.bytes == symbols;
}

void expectCheckAgrees(ModelSet& models, const Bytes& payload, const Bytes& symbols, const std::string& what)
{
    ASSERT_EQ(payloadHoldsSymbols(models, payload, symbols), decodesTo(payload, symbols)) << what;
}

TEST(DecoderStages, PayloadCheckHoldsForWhatTheCoderWrote)
{
    TestRng rng(23);
    ModelSet models; // reused: every check resets its models
    std::vector<Bytes> cases = {{}, hex("00"), hex("09"), hex("10 09 00"), hex("61 62 63"), repeat(0x01, 33000),
                                repeat(0xFF, 40000), repeat(0x80, 40000)};
    for (std::uint32_t alphabet : {2u, 3u, 9u, 40u, 256u}) cases.push_back(rng.bytes(50000, alphabet));
    Bytes skewed(100000);
    for (auto& b : skewed) b = static_cast<std::uint8_t>(rng.below(1 + rng.below(1 + rng.below(256))));
    cases.push_back(skewed);
    for (const Bytes& symbols : cases) {
        SCOPED_TRACE(symbols.size());
        const Bytes payload = payloadOfSymbols(symbols);
        EXPECT_TRUE(payloadHoldsSymbols(models, payload, symbols));
        // Other symbols: one changed, one dropped, one added.
        if (!symbols.empty()) {
            for (std::size_t at : {std::size_t{0}, symbols.size() / 2, symbols.size() - 1}) {
                Bytes changed = symbols;
                changed[at] = static_cast<std::uint8_t>(changed[at] + 1 + rng.below(255));
                expectCheckAgrees(models, payload, changed, "symbol " + std::to_string(at) + " changed");
            }
            expectCheckAgrees(models, payload, Bytes(symbols.begin(), symbols.end() - 1), "last symbol dropped");
        }
        for (std::uint8_t extra : {std::uint8_t{0}, std::uint8_t{3}, std::uint8_t{255}}) {
            Bytes longer = symbols;
            longer.push_back(extra);
            expectCheckAgrees(models, payload, longer, "symbol added");
        }
    }
}

// Damaged payloads of small blocks, every byte and every cut: the check
// agrees with the decoder, whether the damage shows as a fault or as other
// symbols.
TEST(DecoderStages, PayloadCheckAgreesWithTheDecoderOnDamagedPayloads)
{
    TestRng rng(29);
    ModelSet models;
    const std::vector<Bytes> cases = {{}, hex("00"), hex("03"), hex("09"), hex("61 62 63"), rng.bytes(40, 256),
                                      rng.bytes(200, 12), rng.bytes(300, 256, 120)};
    for (const Bytes& symbols : cases) {
        SCOPED_TRACE(toHex(symbols));
        const Bytes payload = payloadOfSymbols(symbols);
        for (std::size_t at = 0; at < payload.size(); ++at)
            for (std::uint8_t flip : {std::uint8_t{0x01}, std::uint8_t{0x80}, std::uint8_t{0xFF}, static_cast<std::uint8_t>(1 + rng.below(255))}) {
                Bytes damaged = payload;
                damaged[at] ^= flip;
                expectCheckAgrees(models, damaged, symbols, "byte " + std::to_string(at) + " ^ " + std::to_string(flip));
            }
        for (std::size_t length = 0; length < payload.size(); ++length)
            expectCheckAgrees(models, Bytes(payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(length)), symbols,
                              "cut to " + std::to_string(length));
        for (const Bytes& tail : {hex("00"), hex("00 00"), hex("FF"), hex("12 34 56")})
            expectCheckAgrees(models, concat({payload, tail}), symbols, "bytes appended");
    }
}

TEST(DecoderStages, PayloadCheckKeepsTheSymbolLimit)
{
    ModelSet models;
    const Bytes atLimit = repeat(0x00, maxRankSymbols);
    EXPECT_TRUE(payloadHoldsSymbols(models, payloadOfSymbols(atLimit), atLimit));
    const Bytes overLimit = repeat(0x00, maxRankSymbols + 1);
    EXPECT_FALSE(payloadHoldsSymbols(models, payloadOfSymbols(overLimit), overLimit));
}

TEST(DecoderStages, RankSymbolsReadBack)
{
    const struct {
        Bytes ranks;
        Bytes symbols;
    } cases[] = {
        {repeat(0x00, 1), hex("00")},       {repeat(0x00, 2), hex("01")},
        {repeat(0x00, 7), hex("00 00 00")}, {repeat(0x00, 100), hex("01 00 01 00 00 01")},
        {repeat(0x00, 65535), repeat(0x00, 16)},
        {repeat(0x00, 65536), concat({hex("01"), repeat(0x00, 15)})},
        {repeat(0x00, 655360), concat({hex("01"), repeat(0x00, 16), hex("01 00")})},
        {hex("01 01 01"), hex("02 02 02 00")}, {repeat(0x01, 131), hex("02 02 02 80 00")},
        {repeat(0x07, 32898), hex("08 08 08 FF FF")}, {repeat(0x07, 32899), hex("08 08 08 FF FF 08")},
        {repeat(0x07, 32901), hex("08 08 08 FF FF 08 08 08 00")},
        {hex("FE FE"), hex("FF 00 FF 00")}, {hex("FF FF FF"), hex("FF 01 FF 01 FF 01")},
        {hex("FD FD FD"), hex("FE FE FE 00")},
        {hex("00 61 01 01 00 00 FE"), hex("00 62 02 02 01 FF 00")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(toHex(c.symbols));
        const Decoded d = rankSymbols(c.symbols);
        ASSERT_FALSE(d.fault.failed()) << d.fault.message;
        EXPECT_TRUE(d.bytes == c.ranks);
    }
}

TEST(DecoderStages, RankSymbolWorstCaseFillsBothLimits)
{
    // Ranks 254/255 only: 655,360 ranks give 1,310,720 symbols, the most a
    // block can have; its payload range-decodes and reads back.
    TestRng rng(3);
    Bytes ranks(bufferSizeForLevel1);
    for (auto& r : ranks)
        r = static_cast<std::uint8_t>(254 + rng.below(2));
    Bytes symbols(rankSymbolsBound(ranks.size()));
    symbols.resize(static_cast<std::size_t>(codeRankSymbols(symbols, ranks)));
    ASSERT_EQ(symbols.size(), maxRankSymbols);
    const Bytes payload = payloadOfSymbols(symbols);
    EXPECT_LE(payload.size(), maxPayloadBytes);
    const Decoded coded = rangeDecode(payload);
    ASSERT_FALSE(coded.fault.failed()) << coded.fault.message;
    const Decoded back = rankSymbols(coded.bytes);
    ASSERT_FALSE(back.fault.failed()) << back.fault.message;
    EXPECT_TRUE(back.bytes == ranks);
    // One rank more does not fit a block.
    EXPECT_TRUE(rankSymbols(concat({symbols, hex("FF 00")})).fault.failed());
}

TEST(DecoderStages, RankSymbolFaults)
{
    const struct {
        const char* name;
        Bytes symbols;
        std::size_t capacity;
        FaultKind kind;
        std::size_t position;
    } cases[] = {
        {"escape at the end", hex("02 FF"), 100, FaultKind::corrupt, 1},
        {"escape then 2", hex("FF 02"), 100, FaultKind::corrupt, 1},
        {"escape then escape", hex("FF FF 00"), 100, FaultKind::corrupt, 1},
        {"run count missing", hex("05 02 02 02"), 100, FaultKind::corrupt, 1},
        {"two-byte run count cut", hex("02 02 02 80"), 1000, FaultKind::corrupt, 3},
        {"run count where none may stand", hex("02 02 02 05 02"), 100, FaultKind::corrupt, 4},
        {"zero run too long", hex("01 01 01"), 10, FaultKind::limitExceeded, 0},
        {"rank run too long", hex("02 02 02 07"), 9, FaultKind::limitExceeded, 0},
        {"escaped rank too many", hex("FF 00 FF 01"), 1, FaultKind::limitExceeded, 2},
        {"lone ranks past the limit", hex("02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13"), 13, FaultKind::limitExceeded, 13},
        {"pair across the limit", hex("02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0E 10 11"), 13, FaultKind::limitExceeded, 12},
        {"zero run across the limit", hex("02 03 04 05 06 07 08 09 0A 0B 0C 0D 01 10"), 13, FaultKind::limitExceeded, 12},
        {"run count missing after lone ranks", hex("02 03 04 05 06 07 08 09 0A 0B 0B 0B"), 100, FaultKind::corrupt, 9},
        // Lone ranks are read sixteen at a time where seventeen symbols follow.
        {"pair across the limit, more after", hex("02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0E 10 11 12 13 14 15"), 13,
         FaultKind::limitExceeded, 12},
        {"limit after sixteen lone ranks", hex("02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F 20 21 22 23"),
         17, FaultKind::limitExceeded, 17},
        {"escape in the last of sixteen", hex("02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 FF 02 03 04 05"), 100,
         FaultKind::corrupt, 16},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Decoded d = rankSymbols(c.symbols, c.capacity);
        ASSERT_TRUE(d.fault.failed());
        EXPECT_EQ(faultKindName(d.fault.kind), std::string(faultKindName(c.kind))) << d.fault.message;
        EXPECT_EQ(d.fault.position, c.position);
    }
    // After the largest run count the same symbol may start a new run.
    EXPECT_FALSE(rankSymbols(hex("08 08 08 FF FF 08 08")).fault.failed());
}

TEST(DecoderStages, InverseRankTransform)
{
    Bytes descending(256);
    for (std::size_t i = 0; i < 256; ++i)
        descending[i] = static_cast<std::uint8_t>(255 - i);
    const struct {
        Bytes ranks;
        Bytes column;
    } cases[] = {
        {hex("61"), text("a")},
        {hex("61 62 63"), text("abc")},
        {hex("61 01 00 00"), text("aaaa")},
        {hex("61 62 02 02"), text("abab")},
        {hex("61 62 63 03 03 03"), text("abcabc")},
        {hex("62 62 6E 02 02 02"), text("banana")},
        {hex("05 01 07 00"), hex("05 05 07 05")},
        {hex("01 00 00"), hex("01 01 01")},
        {hex("00 01 00 01"), hex("00 01 00 01")},
        {hex("00 01 01 00"), hex("00 01 01 01")},
        {hex("02 02 01"), hex("02 01 01")},
        {concat({repeat(0xFF, 255), hex("00")}), descending},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(toHex(c.ranks));
        Bytes column(c.ranks.size());
        undoRankTransform(column, c.ranks);
        EXPECT_TRUE(column == c.column) << toHex(column);
    }
}

TEST(DecoderStages, InverseBlockSort)
{
    const struct {
        Bytes column;
        std::uint32_t primaryIndex;
        Bytes block;
    } cases[] = {
        {text("nnbaaa"), 3, text("banana")},
        {text("rdarcaaaabb"), 2, text("abracadabra")},
        {text("pssmipissii"), 4, text("mississippi")},
        {text("baaa"), 1, text("aaba")},
        {text("cab"), 0, text("abc")},
        {text("z"), 0, text("z")},
        {text("qq"), 0, text("qq")},
        {text("ba"), 1, text("ba")},
        {text("bbaa"), 0, text("abab")},
        {text("ccaabb"), 0, text("abcabc")},
        {repeat('q', 12), 0, repeat('q', 12)},
        {repeat('q', 12), 7, repeat('q', 12)},
        {concat({repeat('b', 12), repeat('a', 12)}), 0, repeat("ab", 12)},
        {concat({repeat('b', 6), repeat('a', 18)}), 4, repeat("aaab", 6)}, // any row of an equal rotation
        {concat({repeat('b', 6), repeat('a', 18)}), 0, repeat("aaab", 6)},
        {concat({repeat('b', 4), repeat('a', 16)}), 2, repeat("aaaab", 4)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.block.begin(), c.block.end()));
        const Decoded d = unsort(c.column, c.primaryIndex);
        ASSERT_FALSE(d.fault.failed()) << d.fault.message;
        EXPECT_TRUE(d.bytes == c.block);
    }
}

TEST(DecoderStages, InverseBlockSortRefusesColumnsOfNoBlock)
{
    const struct {
        Bytes column;
        std::uint32_t primaryIndex;
        FaultKind kind;
    } cases[] = {
        {text("abc"), 3, FaultKind::corrupt},
        {text("ab"), 0, FaultKind::corrupt},                   // two one-row cycles
        {text("abc"), 1, FaultKind::corrupt},                  // three one-row cycles
        {text("bbaab"), 0, FaultKind::corrupt}, // a 2-row cycle in 5 rows
        {text("abab"), 1, FaultKind::corrupt},                 // two cycles of 2, unaligned
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.column.begin(), c.column.end()));
        const Decoded d = unsort(c.column, c.primaryIndex);
        ASSERT_TRUE(d.fault.failed());
        EXPECT_EQ(faultKindName(d.fault.kind), std::string(faultKindName(c.kind))) << d.fault.message;
    }
}

TEST(DecoderStages, InverseBlockSortUndoesTheSortOfRandomBlocks)
{
    TestRng rng(11);
    for (int i = 0; i < 200; ++i) {
        const Bytes block = rng.bytes(1 + rng.below(300), 1 + rng.below(4));
        Bytes work(block);
        work.push_back(0);
        Bytes column(block.size());
        SortArrays arrays(block.size());
        const SortResult sorted = sortBlock(work, static_cast<std::int32_t>(block.size()), column, arrays);
        ASSERT_TRUE(sorted.ok);
        const Decoded d = unsort(column, static_cast<std::uint32_t>(sorted.primaryIndex));
        ASSERT_FALSE(d.fault.failed()) << d.fault.message;
        EXPECT_TRUE(d.bytes == block) << "case " << i;
    }
}

TEST(DecoderStages, RunLengthExpansion)
{
    const struct {
        Bytes prepass;
        Bytes block;
    } cases[] = {
        {hex("61"), text("a")},
        {hex("61 61 61"), text("aaa")},
        {hex("61 61 61 61 00"), text("aaaa")},
        {hex("61 61 61 61 7F"), repeat('a', 131)},
        {hex("61 61 61 61 80 00"), repeat('a', 132)},
        {hex("61 61 61 61 80 A8"), repeat('a', 300)},
        {hex("61 61 61 61 FF FF"), repeat('a', 32899)},
        {hex("61 61 61 61 FF FF 61 61 61"), repeat('a', 32902)},
        {hex("61 61 61 61 FF FF 61 61 61 61 00"), repeat('a', 32903)},
        {hex("61 61 61 61 00 62 62 62 62 00"), text("aaaabbbb")},
        {hex("00 00 00 00 00"), repeat(0x00, 4)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(toHex(c.prepass));
        const Decoded d = expand(c.prepass);
        ASSERT_FALSE(d.fault.failed()) << d.fault.message;
        EXPECT_TRUE(d.bytes == c.block);
    }
}

TEST(DecoderStages, RunLengthFaults)
{
    const struct {
        const char* name;
        Bytes prepass;
        std::size_t capacity;
        FaultKind kind;
        std::size_t position;
    } cases[] = {
        {"run count missing", hex("62 61 61 61 61"), 100, FaultKind::corrupt, 1},
        {"two-byte count cut", hex("61 61 61 61 80"), 1000, FaultKind::corrupt, 4},
        {"run count where none may stand", hex("61 61 61 61 05 61"), 100,
         FaultKind::corrupt, 5},
        {"longer than the block", hex("61 61 61 61 7F"), 130, FaultKind::limitExceeded, 0},
        {"longer than the block, plain", hex("61 62 63"), 2, FaultKind::limitExceeded, 2},
        {"lone bytes past the block", hex("01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14"), 13,
         FaultKind::limitExceeded, 13},
        {"pair across the block's end", hex("01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0D 0F 10 11 12 13 14"), 13,
         FaultKind::limitExceeded, 12},
        {"run count missing after lone bytes", hex("01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0D 0D 0D"), 100,
         FaultKind::corrupt, 12},
        {"run count where none may stand, after lone bytes", hex("01 02 03 04 05 06 07 08 09 0A 0A 0A 0A 03 0A 01 02"), 100,
         FaultKind::corrupt, 14},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Decoded d = expand(c.prepass, c.capacity);
        ASSERT_TRUE(d.fault.failed());
        EXPECT_EQ(faultKindName(d.fault.kind), std::string(faultKindName(c.kind))) << d.fault.message;
        EXPECT_EQ(d.fault.position, c.position);
    }
}

TEST(DecoderStages, ExpansionUndoesThePrepass)
{
    TestRng rng(17);
    for (int i = 0; i < 300; ++i) {
        Bytes block;
        while (block.size() < 2000) {
            const Bytes run = repeat(static_cast<std::uint8_t>(rng.below(3)), 1 + rng.below(i % 3 ? 9 : 40000));
            block.insert(block.end(), run.begin(), run.end());
        }
        Bytes prepass(runLengthPrepassBound(block.size()));
        prepass.resize(static_cast<std::size_t>(runLengthPrepass(prepass, block)));
        const Decoded d = expand(prepass, block.size());
        ASSERT_FALSE(d.fault.failed()) << d.fault.message;
        EXPECT_TRUE(d.bytes == block) << "case " << i;
    }
}

// Ranks of many kinds through the coder and back, including runs of every
// length class, escapes and long stretches of lone ranks.
TEST(DecoderStages, RankSymbolsUndoTheCoder)
{
    TestRng rng(23);
    auto mixed = [&](std::size_t n) {
        Bytes out;
        while (out.size() < n) {
            const std::uint32_t kind = rng.below(10);
            const std::size_t length = kind < 6 ? 1 : kind < 8 ? 1 + rng.below(6) : 1 + rng.below(40000);
            out.insert(out.end(), length, static_cast<std::uint8_t>(kind < 3 ? 0 : rng.below(256)));
        }
        out.resize(n);
        return out;
    };
    const Bytes cases[] = {mixed(50000), mixed(3000), rng.bytes(20000), rng.bytes(5000, 2, 254), rng.bytes(8000, 3),
                           mixed(bufferSizeForLevel1)};
    for (const Bytes& ranks : cases) {
        SCOPED_TRACE(ranks.size());
        Bytes symbols(rankSymbolsBound(ranks.size()));
        symbols.resize(static_cast<std::size_t>(codeRankSymbols(symbols, ranks)));
        const Decoded d = rankSymbols(symbols);
        ASSERT_FALSE(d.fault.failed()) << d.fault.message;
        EXPECT_TRUE(d.bytes == ranks);
    }
}

// The readers keep their buffers from one block to the next: what an earlier,
// longer block left in them never shows in a later one.
TEST(DecoderStages, ReusedBuffersHoldOnlyTheNewBlock)
{
    const Bytes shortSymbols = hex("05 01 06 06 08 08 08 00");
    Bytes ranks;
    ASSERT_FALSE(decodeRankSymbols(hex("08 08 08 FF FF"), ranks).failed());
    ASSERT_FALSE(decodeRankSymbols(shortSymbols, ranks).failed());
    EXPECT_EQ(toHex(ranks), toHex(rankSymbols(shortSymbols).bytes));
    EXPECT_EQ(toHex(ranks), "04 00 00 05 05 07 07 07");

    const Bytes shortPrepass = hex("61 62 62 63 63 63 63 02 64");
    Bytes block;
    ASSERT_FALSE(expandRuns(hex("7A 7A 7A 7A FF FF"), block).failed());
    ASSERT_FALSE(expandRuns(shortPrepass, block).failed());
    EXPECT_EQ(toHex(block), toHex(text("abbccccccd")));
    ASSERT_TRUE(expandRuns(hex("61 61 61 61"), block).failed());
    EXPECT_TRUE(expandRuns({}, block).kind == FaultKind::none);
    EXPECT_TRUE(block.empty());
}

} // namespace
} // namespace dls2mml::test
