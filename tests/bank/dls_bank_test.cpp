// The DLS reader: the listing of whole banks, and a clear fault (never a crash
// or a read past the buffer) for every kind of damaged RIFF structure.
#include "bank/dls_bank.h"
#include "support/sample_bank.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace dls2mml {
namespace {

using Bytes = std::vector<std::uint8_t>;

void put32(Bytes& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void put16(Bytes& out, unsigned v)
{
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

Bytes chunk(const char* id, const Bytes& body, bool pad = true)
{
    Bytes out(id, id + 4);
    put32(out, static_cast<std::uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    if (pad && (body.size() & 1))
        out.push_back(0);
    return out;
}

Bytes list(const char* kind, const char* type, const std::vector<Bytes>& children)
{
    Bytes body(type, type + 4);
    for (const Bytes& c : children)
        body.insert(body.end(), c.begin(), c.end());
    return chunk(kind, body);
}

Bytes words(std::initializer_list<std::uint32_t> values)
{
    Bytes out;
    for (std::uint32_t v : values)
        put32(out, v);
    return out;
}

Bytes text(const std::string& s)
{
    Bytes out(s.begin(), s.end());
    out.push_back(0);
    return out;
}

Bytes format(unsigned rate)
{
    Bytes out;
    put16(out, 1);
    put16(out, 1);
    put32(out, rate);
    put32(out, rate * 2);
    put16(out, 2);
    put16(out, 16);
    return out;
}

Bytes region() { return list("LIST", "rgn ", {chunk("rgnh", Bytes(12, 0)), chunk("wlnk", Bytes(12, 0))}); }

Bytes wave(unsigned rate, std::size_t samples)
{
    return list("LIST", "wave", {chunk("fmt ", format(rate)), chunk("data", Bytes(samples, 0x55))});
}

// A small, whole bank: two instruments, two waves, collection INFO.
struct TinyBank {
    Bytes colh = chunk("colh", words({2}));
    Bytes piano = list("LIST", "ins ",
                       {chunk("insh", words({2, 0x0102, 5})), list("LIST", "lrgn", {region(), region()}),
                        list("LIST", "INFO", {chunk("INAM", text("Piano"))})});
    Bytes drums = list("LIST", "ins ", {chunk("insh", words({1, 0x80000000u, 0})), list("LIST", "lrgn", {region()})});
    Bytes ptbl = chunk("ptbl", words({8, 2, 0, 100}));
    Bytes pool = list("LIST", "wvpl", {wave(22050, 40), wave(44100, 60)});
    Bytes info = list("LIST", "INFO", {chunk("INAM", text("Tiny")), chunk("ICOP", text("none"))});
    std::vector<Bytes> extra; // appended inside the form

    Bytes build() const
    {
        std::vector<Bytes> parts = {colh, list("LIST", "lins", {piano, drums}), ptbl, pool, info};
        parts.insert(parts.end(), extra.begin(), extra.end());
        return list("RIFF", "DLS ", parts);
    }
};

std::size_t find(const Bytes& bytes, const std::string& what, std::size_t from = 0)
{
    const auto at = std::search(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end(), what.begin(), what.end());
    return at == bytes.end() ? std::string::npos : static_cast<std::size_t>(at - bytes.begin());
}

void set32(Bytes& bytes, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

DlsFault readInPieces(const Bytes& bytes, std::size_t piece, DlsCollection* collection = nullptr)
{
    DlsReader reader;
    for (std::size_t at = 0; at < bytes.size(); at += piece)
        reader.feed(std::span(bytes).subspan(at, std::min(piece, bytes.size() - at)));
    DlsFault fault = reader.finish();
    if (collection)
        *collection = reader.collection();
    return fault;
}

TEST(DlsBank, TinyBankIsListedWhole)
{
    const Bytes bank = TinyBank{}.build();
    DlsCollection c;
    const DlsFault fault = checkDlsBank(bank, &c);
    ASSERT_TRUE(fault.ok()) << fault.describe();
    EXPECT_TRUE(c.riffDls);
    ASSERT_EQ(c.instruments.size(), 2u);
    EXPECT_EQ(c.instruments[0].name, "Piano");
    EXPECT_EQ(c.instruments[0].bankMsb, 1u);
    EXPECT_EQ(c.instruments[0].bankLsb, 2u);
    EXPECT_EQ(c.instruments[0].program, 5u);
    EXPECT_EQ(c.instruments[0].regions, 2u);
    EXPECT_FALSE(c.instruments[0].drums);
    EXPECT_TRUE(c.instruments[1].drums);
    EXPECT_EQ(c.instruments[1].name, "");
    EXPECT_EQ(c.waveCount, 2u);
    EXPECT_EQ(c.sampleBytes, 100u);
    EXPECT_EQ(c.sampleRates, (std::vector<std::uint32_t>{22050, 44100}));
    ASSERT_EQ(c.formats.size(), 1u);
    EXPECT_EQ(c.formats[0], (DlsWaveFormat{1, 1, 16}));
    ASSERT_EQ(c.info.size(), 2u);
    EXPECT_EQ(c.info[1].id, "ICOP");
    EXPECT_EQ(c.info[1].text, "none");
}

TEST(DlsBank, AnyPieceSizeGivesTheSameResult)
{
    Bytes damaged = TinyBank{}.build();
    set32(damaged, find(damaged, "data") + 4, 1000);
    for (const Bytes& bytes : {TinyBank{}.build(), damaged}) {
        const DlsFault whole = checkDlsBank(bytes);
        for (std::size_t piece : {1u, 3u, 8u, 13u, 4096u}) {
            const DlsFault split = readInPieces(bytes, piece);
            EXPECT_EQ(split.reason, whole.reason) << "pieces of " << piece;
            EXPECT_EQ(split.offset, whole.offset) << "pieces of " << piece;
        }
    }
}

TEST(DlsBank, EveryTruncationIsAFaultAtTheEnd)
{
    const Bytes bank = TinyBank{}.build();
    for (std::size_t length = 0; length < bank.size(); ++length) {
        const DlsFault fault = checkDlsBank(std::span(bank).first(length));
        ASSERT_FALSE(fault.ok()) << "length " << length;
        EXPECT_EQ(fault.offset, length) << fault.reason;
    }
    EXPECT_NE(checkDlsBank(std::span(bank).first(100)).reason.find("ends at byte 100"), std::string::npos);
}

TEST(DlsBank, DamagedStructureIsNamedWhereItStands)
{
    struct Case {
        const char* what;
        std::function<Bytes()> make;
        std::string reason;       // a part of the fault's words
        std::string offsetMarker; // the fault stands where this text starts ("" : any offset)
    };
    auto patched = [](const char* marker, std::size_t plus, std::uint32_t value) {
        return [=] {
            Bytes b = TinyBank{}.build();
            set32(b, find(b, marker) + plus, value);
            return b;
        };
    };
    auto with = [](std::function<void(TinyBank&)> change) {
        return [=] {
            TinyBank t;
            change(t);
            return t.build();
        };
    };
    const std::vector<Case> cases = {
        {"not RIFF", [] { return Bytes{'h', 'e', 'l', 'l', 'o', '\n'}; }, "not a RIFF file", ""},
        {"too short", [] { return Bytes{'R', 'I', 'F', 'F', 0}; }, "too short for a RIFF header", ""},
        {"text", [] { return Bytes(40, 'x'); }, "not a RIFF file", ""},
        {"another form", [] { return list("RIFF", "WAVE", {}); }, "a RIFF 'WAVE' form, not a DLS collection", ""},
        {"data size past its list", patched("data", 4, 0xFFFFFFF0u), "chunk 'data' declares 4294967280 bytes, past the end of LIST 'wave'", "data"},
        {"list size past the form", patched("lins", -4, 100000), "past the end of the RIFF form", "LIST"},
        {"form longer than the input", patched("RIFF", 4, 100000), "inside the RIFF form", ""},
        {"form shorter than its content", patched("RIFF", 4, 40), "LIST declares", "LIST"},
        {"list too small for its type", patched("lins", -4, 2), "cannot hold its type", "LIST"},
        {"garbage id", [] { Bytes b = TinyBank{}.build(); b[find(b, "ptbl")] = 0x01; return b; }, "is not four printable characters", "\x01tbl"},
        {"odd size without a pad byte at the end of a list",
         with([](TinyBank& t) { t.extra = {list("LIST", "junk", {chunk("abcd", Bytes(3, 1), false)})}; }),
         "odd size (3) and no room for its pad byte", "abcd"},
        {"odd size without a pad byte inside a list",
         with([](TinyBank& t) { t.extra = {list("LIST", "junk", {chunk("abcd", Bytes(3, 1), false), chunk("efgh", Bytes(1, 0))})}; }),
         "is not four printable characters", ""},
        {"too few bytes for a header",
         with([](TinyBank& t) { t.extra = {list("LIST", "junk", {Bytes(6, 'z')})}; }), "only 6 bytes left", ""},
        {"nested too deep", with([](TinyBank& t) {
             Bytes inner = chunk("abcd", {});
             for (int i = 0; i < 20; ++i)
                 inner = list("LIST", "deep", {inner});
             t.extra = {inner};
         }),
         "nested deeper than 16", ""},
        {"bytes after the form", [] { Bytes b = TinyBank{}.build(); b.push_back(0); return b; }, "bytes after the end of the RIFF form", ""},
        {"a form inside the form", with([](TinyBank& t) { t.extra = {list("RIFF", "DLS ", {})}; }), "a RIFF form inside the form", ""},
        {"colh count", with([](TinyBank& t) { t.colh = chunk("colh", words({3})); }), "colh declares 3 instruments and the bank has 2", "colh"},
        {"no colh", with([](TinyBank& t) { t.colh = chunk("abcd", {}); }), "no colh chunk", ""},
        {"short colh", with([](TinyBank& t) { t.colh = chunk("colh", Bytes(2, 0)); }), "chunk 'colh' of 2 bytes, needs 4", "colh"},
        {"region count", patched("insh", 8, 3), "instrument 1 declares 3 regions in its insh and has 2", ""},
        {"no insh", with([](TinyBank& t) { t.drums = list("LIST", "ins ", {}); }), "instrument 2 has no insh chunk", ""},
        {"ptbl count", with([](TinyBank& t) { t.ptbl = chunk("ptbl", words({8, 1, 0})); }), "ptbl has 1 cues and the pool 2 waves", "ptbl"},
        {"ptbl too small for its cues", with([](TinyBank& t) { t.ptbl = chunk("ptbl", words({8, 9, 0})); }), "cannot hold its 9 cues", "ptbl"},
        {"wave without fmt", with([](TinyBank& t) { t.pool = list("LIST", "wvpl", {list("LIST", "wave", {chunk("data", Bytes(4, 0))})}); }), "wave 1 has no fmt chunk", ""},
    };
    for (const Case& c : cases) {
        const Bytes bytes = c.make();
        for (std::size_t piece : {std::size_t{1}, bytes.size() + 1}) {
            const DlsFault fault = readInPieces(bytes, piece);
            ASSERT_FALSE(fault.ok()) << c.what;
            EXPECT_NE(fault.reason.find(c.reason), std::string::npos) << c.what << ": " << fault.describe();
            if (!c.offsetMarker.empty() && c.offsetMarker != "LIST") {
                EXPECT_EQ(fault.offset, find(bytes, c.offsetMarker)) << c.what << ": " << fault.describe();
            }
            EXPECT_LE(fault.offset, bytes.size()) << c.what;
        }
    }
}

// Random damage anywhere: always a verdict, the same however the input is cut.
TEST(DlsBank, RandomDamageNeverCrashesAndDoesNotDependOnPieces)
{
    const Bytes good = TinyBank{}.build();
    std::mt19937 random(12345);
    for (int round = 0; round < 3000; ++round) {
        Bytes b = good;
        const int flips = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < flips; ++i)
            b[random() % b.size()] = static_cast<std::uint8_t>(random());
        if (random() % 4 == 0)
            b.resize(random() % b.size());
        const DlsFault whole = checkDlsBank(b);
        const DlsFault split = readInPieces(b, 1 + random() % 17);
        ASSERT_EQ(whole.reason, split.reason) << "round " << round;
        ASSERT_EQ(whole.offset, split.offset) << "round " << round;
        ASSERT_LE(whole.offset, b.size());
    }
}

#ifdef DLS2MML_MAKE_SAMPLE_BANK
TEST(DlsBank, SampleBanksAreWholeAndListed)
{
    for (const char* arguments : {"", "--seed 2 --size 200000", "--seed 7 --size 3m"}) {
        const Bytes bank = test::generatedBank(arguments);
        ASSERT_FALSE(bank.empty()) << arguments;
        DlsCollection c;
        const DlsFault fault = readInPieces(bank, 65536 + 3, &c);
        ASSERT_TRUE(fault.ok()) << arguments << ": " << fault.describe();
        ASSERT_EQ(c.instruments.size(), 2u);
        EXPECT_EQ(c.instruments[0].name, "Soft Lead");
        EXPECT_EQ(c.instruments[0].program, 80u);
        EXPECT_EQ(c.instruments[0].regions, 2u);
        EXPECT_EQ(c.instruments[1].name, "Synth Kit");
        EXPECT_TRUE(c.instruments[1].drums);
        EXPECT_EQ(c.instruments[1].regions, c.waveCount - 2);
        EXPECT_EQ(c.poolCues, c.waveCount);
        EXPECT_EQ(c.formats, (std::vector<DlsWaveFormat>{{1, 1, 16}}));
        EXPECT_EQ(c.sampleRates.front(), 11025u);
        EXPECT_GT(c.sampleBytes, bank.size() * 8 / 10);
        ASSERT_EQ(c.info.size(), 1u);
        EXPECT_EQ(c.info[0].text, "dls2mml sample bank");
    }
    const Bytes small = test::generatedBank("");
    DlsCollection c;
    ASSERT_TRUE(checkDlsBank(small, &c).ok());
    EXPECT_EQ(c.waveCount, 6u);
    EXPECT_EQ(c.sampleBytes, 29692u);
    EXPECT_EQ(c.sampleRates, (std::vector<std::uint32_t>{11025, 22050}));
    // Every cut through the sample bank's structure is a fault at the cut.
    for (std::size_t length = 0; length < small.size(); length += (length < 4096 ? 1 : 509))
        ASSERT_EQ(checkDlsBank(std::span(small).first(length)).offset, length);
}
#endif

} // namespace
} // namespace dls2mml
