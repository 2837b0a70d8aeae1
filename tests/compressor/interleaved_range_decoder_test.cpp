// Payloads range-decoded together: the same symbols as one at a time, and
// no success where decoding one at a time finds a fault.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "compressor/interleaved_range_decoder.h"
#include "compressor/frequency_model.h"
#include "compressor/range_coder.h"
#include "support/decoder_test_support.h"
#include "support/stage_decoders.h"
#include "support/test_support.h"

namespace dls2mml::test {
namespace {

class InterleavedRangeDecoderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!InterleavedRangeDecoder::available())
            GTEST_SKIP() << "this processor lacks the vector instructions; frames are decoded one at a time";
    }

    // Decodes the payloads together; their symbols, or nothing on a fault.
    std::optional<std::vector<Bytes>> together(const std::vector<Bytes>& payloads, std::size_t limit = maxRankSymbols)
    {
        std::vector<InterleavedRangeDecoder::Payload> spans(payloads.begin(), payloads.end());
        std::vector<ReusedBytes> out(payloads.size());
        std::vector<ReusedBytes*> outs;
        for (auto& o : out) outs.push_back(&o);
        if (!decoder_->decode(spans, outs, limit))
            return std::nullopt;
        std::vector<Bytes> symbols;
        for (auto& o : out) symbols.emplace_back(o.begin(), o.end());
        return symbols;
    }

    // Together succeeds exactly when each alone does, with the same symbols.
    void expectAgreesWithAlone(const std::vector<Bytes>& payloads, const std::string& what)
    {
        bool allSound = true;
        std::vector<Bytes> alone;
        for (const Bytes& p : payloads) {
            const Decoded d = rangeDecode(p);
            allSound = allSound && !d.fault.failed();
            alone.push_back(d.bytes);
        }
        const auto t = together(payloads);
        ASSERT_EQ(t.has_value(), allSound) << what;
        if (t) {
            EXPECT_TRUE(*t == alone) << what;
        }
    }

    std::unique_ptr<InterleavedRangeDecoder> decoder_ = std::make_unique<InterleavedRangeDecoder>();
};

// Symbol strings that reach every class, every offset model's rescale and
// last index, skewed and uniform draws, of lengths far apart, so that each
// lane ends first in some group and the others go on without it.
std::vector<Bytes> symbolCases()
{
    TestRng rng(41);
    std::vector<Bytes> cases = {{}, hex("00"), hex("09"), hex("10 09 00"), hex("61 62 63"), repeat(0x01, 33000),
                                repeat(0x00, 40000), repeat(0xFF, 40000), repeat(0x80, 70000)};
    for (int k = 3; k < 10; ++k) {
        const int base = classBase[static_cast<std::size_t>(k)];
        const int size = classSize[static_cast<std::size_t>(k)];
        cases.push_back(rng.bytes(60000, static_cast<std::uint32_t>(std::min(size, 256 - base)), static_cast<std::uint8_t>(base)));
    }
    for (std::uint32_t alphabet : {2u, 3u, 9u, 40u, 256u}) cases.push_back(rng.bytes(20000 + 10000 * alphabet % 50000, alphabet));
    Bytes skewed(150000);
    for (auto& b : skewed) b = static_cast<std::uint8_t>(rng.below(1 + rng.below(1 + rng.below(256))));
    cases.push_back(skewed);
    return cases;
}

TEST_F(InterleavedRangeDecoderTest, ReadsBackWhatTheCoderWrote)
{
    const std::vector<Bytes> cases = symbolCases();
    std::vector<Bytes> payloads;
    for (const Bytes& c : cases) payloads.push_back(payloadOfSymbols(c));
    for (std::size_t lanes = 1; lanes <= InterleavedRangeDecoder::maxLanes; ++lanes)
        for (std::size_t first = 0; first < cases.size(); ++first) {
            std::vector<Bytes> group, expected;
            for (std::size_t i = 0; i < lanes; ++i) {
                const std::size_t at = (first + i * 7) % cases.size();
                group.push_back(payloads[at]);
                expected.push_back(cases[at]);
            }
            const auto got = together(group);
            ASSERT_TRUE(got.has_value()) << lanes << " lanes from case " << first;
            EXPECT_TRUE(*got == expected) << lanes << " lanes from case " << first;
        }
}

// Damage in one payload of a group, at every byte and every cut of a small
// one: a fault in any makes the whole group fail (the caller then decodes each
// alone), and damage that still decodes gives what decoding alone gives.
TEST_F(InterleavedRangeDecoderTest, AgreesWithDecodingAloneOnDamagedPayloads)
{
    TestRng rng(43);
    const Bytes sound = payloadOfSymbols(rng.bytes(3000, 256));
    for (const Bytes& symbols : {hex("61 62 63"), rng.bytes(40, 256), rng.bytes(200, 12)}) {
        const Bytes payload = payloadOfSymbols(symbols);
        for (std::size_t at = 0; at < payload.size(); ++at)
            for (std::uint8_t flip : {std::uint8_t{0x01}, std::uint8_t{0x80}, static_cast<std::uint8_t>(1 + rng.below(255))}) {
                Bytes damaged = payload;
                damaged[at] ^= flip;
                expectAgreesWithAlone({sound, damaged}, "byte " + std::to_string(at) + " of the second");
                expectAgreesWithAlone({damaged, sound, sound}, "byte " + std::to_string(at) + " of the first of three");
            }
        for (std::size_t length = 0; length < payload.size(); ++length)
            expectAgreesWithAlone({sound, sound, Bytes(payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(length))},
                                  "third cut to " + std::to_string(length));
        for (const Bytes& tail : {hex("00"), hex("FF"), hex("12 34 56")})
            expectAgreesWithAlone({concat({payload, tail}), sound}, "bytes appended to the first");
    }
}

TEST_F(InterleavedRangeDecoderTest, KeepsTheSymbolLimit)
{
    const Bytes small = payloadOfSymbols(hex("61 62 63"));
    const Bytes atLimit = payloadOfSymbols(repeat(0x00, 1000));
    const Bytes overLimit = payloadOfSymbols(repeat(0x00, 1001));
    std::vector<InterleavedRangeDecoder::Payload> payloads = {small, atLimit};
    ReusedBytes a, b;
    std::vector<ReusedBytes*> out = {&a, &b};
    EXPECT_TRUE(decoder_->decode(payloads, out, 1000));
    EXPECT_EQ(b.size(), 1000u);
    payloads = {overLimit, small};
    EXPECT_FALSE(decoder_->decode(payloads, out, 1000));
    payloads = {small, small, overLimit};
    ReusedBytes c;
    out = {&a, &b, &c};
    EXPECT_FALSE(decoder_->decode(payloads, out, 1000));
}

TEST_F(InterleavedRangeDecoderTest, RefusesWhatItCannotTake)
{
    const Bytes p = payloadOfSymbols(hex("61"));
    ReusedBytes a;
    std::vector<ReusedBytes*> one = {&a};
    const std::vector<InterleavedRangeDecoder::Payload> none;
    EXPECT_FALSE(decoder_->decode(none, {}));
    const std::vector<InterleavedRangeDecoder::Payload> tooMany(InterleavedRangeDecoder::maxLanes + 1, p);
    std::vector<ReusedBytes> out(tooMany.size());
    std::vector<ReusedBytes*> outs;
    for (auto& o : out) outs.push_back(&o);
    EXPECT_FALSE(decoder_->decode(tooMany, outs));
    const std::vector<InterleavedRangeDecoder::Payload> short3 = {std::span(p).first(3)};
    EXPECT_FALSE(decoder_->decode(short3, one));
}

} // namespace
} // namespace dls2mml::test
