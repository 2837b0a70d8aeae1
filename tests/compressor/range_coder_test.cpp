// Frequency models and the class-model range coder: exact payload bytes;
// the range decoder and the check of a payload against known symbols.
#include <gtest/gtest.h>

#include <vector>

#include "compressor/coder_models.h"
#include "compressor/frequency_model.h"
#include "compressor/range_coder.h"
#include "support/decoder_test_support.h"
#include "support/stage_decoders.h"
#include "support/test_support.h"

namespace dls2mml::test {
namespace {

FrequencyModel freshModel(std::uint16_t n)
{
    FrequencyModel m;
    m.symbolCount = n;
    resetModel(m);
    return m;
}

void expectConsistent(const FrequencyModel& m)
{
    EXPECT_EQ(m.cum[0], 0);
    for (std::uint16_t i = 0; i < m.symbolCount; ++i) {
        EXPECT_GE(m.freq[i], 1) << "count " << i;
        EXPECT_EQ(m.cum[i + 1], m.cum[i] + m.freq[i]) << "cumulative count " << i + 1;
    }
}

TEST(FrequencyModel, ResetIsUniform)
{
    for (std::uint16_t n : {std::uint16_t{2}, std::uint16_t{10}, std::uint16_t{128}}) {
        const FrequencyModel m = freshModel(n);
        EXPECT_EQ(m.total(), n);
        for (std::size_t i = 0; i <= n; ++i) EXPECT_EQ(m.cum[i], i);
    }
}

TEST(FrequencyModel, RescalesWhenTheTotalReaches32768)
{
    FrequencyModel m = freshModel(10);
    for (int i = 0; i < 32757; ++i) updateModel(m, 0);
    EXPECT_EQ(m.total(), 32767); // not yet
    EXPECT_EQ(m.freq[0], 32758);
    updateModel(m, 0);
    EXPECT_EQ(m.freq[0], 16379);
    for (int i = 1; i < 10; ++i) EXPECT_EQ(m.freq[static_cast<std::size_t>(i)], 1);
    EXPECT_EQ(m.total(), 16388);
    expectConsistent(m);
}

// A rescale maps every count f to (f >> 1) | 1, not to (f + 1) >> 1.
TEST(FrequencyModel, RescaleHalvesAndSetsTheLowestBit)
{
    struct Case {
        std::uint16_t before, after;
    } cases[] = {{1, 1}, {2, 1}, {3, 1}, {4, 3}, {5, 3}, {7, 3}, {8, 5}, {11, 5}};
    FrequencyModel m = freshModel(10);
    std::uint32_t total = 0;
    for (std::size_t i = 0; i < 8; ++i) total += m.freq[i + 1] = cases[i].before;
    m.freq[9] = 9; // becomes 10 -> 5 with the update
    m.freq[0] = static_cast<std::uint16_t>(32767 - total - 9);
    for (std::uint16_t i = 0; i < 10; ++i) m.cum[i + 1] = static_cast<std::uint16_t>(m.cum[i] + m.freq[i]);
    ASSERT_EQ(m.total(), 32767);
    const std::uint16_t big = m.freq[0];
    updateModel(m, 9);
    for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(m.freq[i + 1], cases[i].after) << "count " << cases[i].before;
    EXPECT_EQ(m.freq[9], 5);
    EXPECT_EQ(m.freq[0], (big >> 1) | 1);
    expectConsistent(m);
}

TEST(FrequencyModel, ClassTable)
{
    const ModelSet models;
    struct Case {
        std::int32_t symbol, symbolClass;
    } cases[] = {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 3}, {5, 4}, {8, 4}, {9, 5}, {16, 5}, {17, 6},
                 {32, 6}, {33, 7}, {64, 7}, {65, 8}, {128, 8}, {129, 9}, {255, 9}, {256, 9}};
    for (const Case& c : cases) EXPECT_EQ(models.classOfSymbol[static_cast<std::size_t>(c.symbol)], c.symbolClass) << c.symbol;
    for (const FrequencyModel& m : models.contextModels) EXPECT_EQ(m.symbolCount, 10);
    for (std::size_t k = 3; k < 10; ++k) EXPECT_EQ(models.offsetModels[k].symbolCount, classSize[k]);
}

// The plain rules of a model: add 1 to one count, halve all once they sum to 32768.
struct ReferenceModel {
    std::vector<std::uint32_t> freq;
    explicit ReferenceModel(std::size_t n) : freq(n, 1) {}
    std::uint32_t cum(std::size_t i) const
    {
        std::uint32_t sum = 0;
        for (std::size_t j = 0; j < i; ++j) sum += freq[j];
        return sum;
    }
    std::size_t indexOf(std::uint32_t value) const
    {
        std::size_t s = 0;
        for (std::uint32_t upTo = freq[0]; upTo <= value; upTo += freq[++s]) {}
        return s;
    }
    void update(std::size_t s)
    {
        ++freq[s];
        if (cum(freq.size()) < 32768) return;
        for (auto& f : freq) f = (f | 2) >> 1;
    }
};

void expectSame(const FrequencyModel& m, const ReferenceModel& ref)
{
    const std::size_t n = ref.freq.size();
    for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(m.freq[i], ref.freq[i]) << "count " << i;
    for (std::size_t i = 0; i <= n; ++i) ASSERT_EQ(m.cum[i], ref.cum(i)) << "cumulative count " << i;
}

// The decoder's form of a model holds the same counts as the plain rules.
void expectSame(const ContextDecoderModel& m, const ReferenceModel& ref)
{
    ASSERT_EQ(ref.freq.size(), 10u);
    for (std::size_t i = 0; i <= 10; ++i) ASSERT_EQ(m.cums[7 + i], ref.cum(i)) << "cumulative count " << i;
    for (std::size_t i = 18; i < m.cums.size(); ++i) ASSERT_EQ(m.cums[i], 0) << "lane past the model " << i;
    ASSERT_EQ(m.total, ref.cum(10));
}

void expectSame(const OffsetDecoderModel& m, const ReferenceModel& ref)
{
    const std::size_t n = ref.freq.size();
    for (std::size_t i = 0; i < n; ++i) {
        ASSERT_EQ(m.freq[i], ref.freq[i]) << "count " << i;
        const std::uint32_t before = i < 8 ? 0 : m.ends[i / 8 - 1];
        ASSERT_EQ(before + m.within[i / 8][i % 8], ref.cum(i + 1)) << "cumulative count " << i + 1;
    }
    for (std::size_t i = n; i < 128; ++i) ASSERT_EQ(m.within[i / 8][i % 8], 0xFFFF) << "lane past the model " << i;
    for (std::size_t g = 0; g < 16; ++g)
        ASSERT_EQ(m.ends[g], 8 * g < n ? ref.cum(std::min(n, 8 * g + 8)) : 0xFFFF) << "group " << g;
    ASSERT_EQ(m.total, ref.cum(n));
    ASSERT_EQ(m.reciprocal, ~std::uint64_t{0} / m.total + 1);
}

// The coder's form of a model holds the same counts, and gives each index
// the interval the plain rules give it.
void expectSame(const ContextCoderModel& m, const ReferenceModel& ref)
{
    ASSERT_EQ(ref.freq.size(), 10u);
    for (std::size_t i = 0; i <= 10; ++i) ASSERT_EQ(m.cum[i], ref.cum(i)) << "cumulative count " << i;
    for (std::size_t i = 11; i < m.cum.size(); ++i) ASSERT_EQ(m.cum[i], 0) << "lane past the model " << i;
    for (std::int32_t s = 0; s < 10; ++s) {
        const CodedInterval interval = intervalOf(m, s);
        ASSERT_EQ(interval.start, ref.cum(static_cast<std::size_t>(s))) << "start of " << s;
        ASSERT_EQ(interval.size, ref.freq[static_cast<std::size_t>(s)]) << "size of " << s;
    }
    ASSERT_EQ(m.total, ref.cum(10));
}

void expectSame(const OffsetCoderModel& m, const ReferenceModel& ref)
{
    const std::size_t n = ref.freq.size();
    for (std::size_t i = 0; i < n; ++i) {
        const CodedInterval interval = intervalOf(m, static_cast<std::int32_t>(i));
        ASSERT_EQ(interval.start, ref.cum(i)) << "start of " << i;
        ASSERT_EQ(interval.size, ref.freq[i]) << "size of " << i;
    }
    for (std::size_t i = n; i < 128; ++i) ASSERT_EQ(m.startWithin[i / 8][i % 8], 0) << "lane past the model " << i;
    for (std::size_t g = 0; g < 16; ++g)
        ASSERT_EQ(m.groupStart[g], 8 * g < n ? ref.cum(8 * g) : 0) << "group " << g;
    ASSERT_EQ(m.total, ref.cum(n));
}

// The encoder's one-pass search and update, its update, and the decoder's
// and the coder's updates of their own forms of the model, against the plain rules, through
// several rescales, with skewed and uniform values.
template <std::int32_t n>
void checkSearchAndUpdate(std::uint32_t seed)
{
    SCOPED_TRACE(n);
    FrequencyModel searched = freshModel(n);
    FrequencyModel updated = freshModel(n);
    ContextDecoderModel context;
    resetContextDecoderModel(context);
    OffsetDecoderModel offset;
    resetOffsetDecoderModel(offset, n);
    ContextCoderModel coderContext;
    resetContextCoderModel(coderContext);
    OffsetCoderModel coderOffset;
    resetOffsetCoderModel(coderOffset, n);
    ReferenceModel ref(n);
    TestRng rng(seed);
    for (int step = 0; step < 100000; ++step) {
        const std::uint32_t total = ref.cum(n);
        // Mostly values near one end, so some counts grow large and others stay 1.
        const std::uint32_t value = step % 3 == 0 ? rng.below(total) : rng.below(1 + rng.below(total));
        const std::size_t s = ref.indexOf(value);
        const std::int32_t above = addOneAbove<n>(searched, value);
        ASSERT_EQ(static_cast<std::size_t>(n - above), s) << "step " << step << " value " << value;
        ++searched.freq[s];
        if (searched.total() >= rescaleTotal) rescaleModel(searched);
        updateModel(updated, static_cast<std::int32_t>(s));
        if constexpr (n == 10) countContextIndex(context, ref.cum(s));
        const auto g = static_cast<std::int32_t>(s / 8);
        const auto j = static_cast<std::int32_t>(s % 8);
        countOffsetIndex(offset, g, j, offset.within[static_cast<std::size_t>(g)][static_cast<std::size_t>(j)]);
        if constexpr (n == 10) countIndex(coderContext, ref.cum(s));
        countIndex(coderOffset, static_cast<std::int32_t>(s));
        ref.update(s);
        if (step % 997 == 0 || ref.cum(n) < 64) {
            expectSame(searched, ref);
            expectSame(updated, ref);
            expectSame(offset, ref);
            expectSame(coderOffset, ref);
            if constexpr (n == 10) {
                expectSame(context, ref);
                expectSame(coderContext, ref);
            }
        }
    }
    expectSame(searched, ref);
    expectSame(updated, ref);
    expectSame(offset, ref);
    expectSame(coderOffset, ref);
    if constexpr (n == 10) {
        expectSame(context, ref);
        expectSame(coderContext, ref);
    }
}

TEST(FrequencyModel, OnePassSearchAndUpdateFollowThePlainRules)
{
    checkSearchAndUpdate<2>(1);
    checkSearchAndUpdate<4>(2);
    checkSearchAndUpdate<8>(3);
    checkSearchAndUpdate<10>(4);
    checkSearchAndUpdate<16>(5);
    checkSearchAndUpdate<32>(6);
    checkSearchAndUpdate<64>(7);
    checkSearchAndUpdate<128>(8);
}

Bytes encode(ModelSet& models, const Bytes& symbols)
{
    Bytes out(encodeBlockBound(symbols.size()));
    const std::int32_t c = encodeBlock(models, out, symbols);
    EXPECT_GE(c, 4);
    EXPECT_LE(static_cast<std::size_t>(c), out.size());
    out.resize(static_cast<std::size_t>(c));
    return out;
}

TEST(RangeCoder, WorkedExamples)
{
    const Bytes long01 = hex("1C 71 C7 1A 8B 35 58 A3 72 94 3C 65 91 F9 E9");
    struct Case {
        const char* name;
        Bytes symbols;
        Bytes expected;
    } cases[] = {
        {"empty: end symbol only", {}, hex("FF CC CC AE 00")},
        {"00", hex("00"), hex("19 94 F1 E2 00")},
        {"01", hex("01"), hex("33 2E 14 49 00")},
        {"02", hex("02"), hex("4C C7 AD E2 00")},
        {"03: first with an offset step", hex("03"), hex("59 97 0A 23 00")},
        {"09: carry from the end symbol", hex("09"), hex("83 32 8F 57 F6 00")},
        {"10 09 00: carry through FF", hex("10 09 00"), hex("98 00 E8 D0 B7 20 00")},
        {"61 62 63: carry into D9 F0", hex("61 62 63"), hex("D9 F1 02 C9 FD 34 B7 00")},
        {"ten 00", repeat(0x00, 10), hex("00 00 B5 8B 32 AA 00")},
        {"30,000 01: no rescale", repeat(0x01, 30000), concat({long01, hex("A8 CB 87 DD 10 00 00")})},
        {"33,000 01: one rescale", repeat(0x01, 33000), concat({long01, hex("9F F4 BA 13 EA 00 00")})},
        {"40,000 00: one rescale", repeat(0x00, 40000), concat({repeat(0x00, 15), hex("07 14 33 34 BC 00 00")})},
    };
    ModelSet models; // one set reused: every block resets it
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(toHex(encode(models, c.symbols)), toHex(c.expected));
    }
    // Blocks are independent: the first case again, after all the others.
    EXPECT_EQ(toHex(encode(models, {})), "FF CC CC AE 00");
}

// Every byte value codes, and the payload stays within the bound.
TEST(RangeCoder, StaysWithinTheBound)
{
    ModelSet models;
    TestRng rng(5);
    for (std::size_t n : {1u, 2u, 255u, 4096u, 100000u}) {
        SCOPED_TRACE(n);
        const Bytes symbols = rng.bytes(n, 127, 129); // class 9: two steps per symbol
        encode(models, symbols);
    }
    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    encode(models, all);
}

// The range decoder: the coder's payloads read back, its faults on payloads
// the coder cannot have written, and the check of a payload against known
// symbols, which must say what decoding it says.
TEST(RangeCoder, DecoderReadsTheCodersWorkedExamples)
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

TEST(RangeCoder, DecoderFaults)
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

TEST(RangeCoder, DecoderStopsAtTheSymbolLimit)
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
TEST(RangeCoder, DecoderReadsBackWhatTheCoderWrote)
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

TEST(RangeCoder, PayloadCheckHoldsForWhatTheCoderWrote)
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
TEST(RangeCoder, PayloadCheckAgreesWithTheDecoderOnDamagedPayloads)
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

TEST(RangeCoder, PayloadCheckKeepsTheSymbolLimit)
{
    ModelSet models;
    const Bytes atLimit = repeat(0x00, maxRankSymbols);
    EXPECT_TRUE(payloadHoldsSymbols(models, payloadOfSymbols(atLimit), atLimit));
    const Bytes overLimit = repeat(0x00, maxRankSymbols + 1);
    EXPECT_FALSE(payloadHoldsSymbols(models, payloadOfSymbols(overLimit), overLimit));
}

} // namespace
} // namespace dls2mml::test
