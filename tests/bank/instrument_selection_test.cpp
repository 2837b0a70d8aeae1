// Choosing instruments: the list read against a bank, what each instrument
// costs, and the cut bank checked from the outside. The checks read the cut
// with a RIFF tree of their own and follow every region's link to its wave:
// each kept instrument must equal the original's but for its link indexes,
// each link must still lead to a wave byte-identical to the one it led to,
// and the pool must hold exactly the waves the kept instruments use, in the
// original order.
#include "bank/instrument_selection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "bank/dls_bank.h"
#include "support/dls_chunks.h"
#include "support/sample_bank.h"

namespace dls2mml {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t get32(const Bytes& b, std::size_t at)
{
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

using test::chunk;
using test::list;
using test::put32;
using test::words;

// --- a RIFF tree of the test's own ---

struct Node {
    std::string id, type;
    std::size_t start = 0, body = 0, size = 0, end = 0; // body and size: after a list's type
    std::vector<Node> kids;
};

Node parse(const Bytes& b, std::size_t at)
{
    Node n;
    n.start = at;
    n.id.assign(b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(at + 4));
    const std::uint32_t size = get32(b, at + 4);
    n.body = at + 8;
    n.size = size;
    n.end = at + 8 + size + (size & 1);
    if (n.id == "RIFF" || n.id == "LIST") {
        n.type.assign(b.begin() + static_cast<std::ptrdiff_t>(at + 8), b.begin() + static_cast<std::ptrdiff_t>(at + 12));
        n.body += 4;
        n.size -= 4;
        for (std::size_t p = n.body; p < n.body + n.size;) {
            n.kids.push_back(parse(b, p));
            p = n.kids.back().end;
        }
    }
    return n;
}

const Node* child(const Node& n, const std::string& id, const std::string& type = {})
{
    for (const Node& k : n.kids)
        if (k.id == id && k.type == type)
            return &k;
    return nullptr;
}

Bytes bytesOf(const Bytes& b, const Node& n)
{
    return Bytes(b.begin() + static_cast<std::ptrdiff_t>(n.start), b.begin() + static_cast<std::ptrdiff_t>(n.end));
}

std::vector<Node> instrumentsOf(const Node& form)
{
    std::vector<Node> out;
    if (const Node* lins = child(form, "LIST", "lins"))
        for (const Node& k : lins->kids)
            if (k.type == "ins ")
                out.push_back(k);
    return out;
}

// The offset of the table index of every wlnk in a region of the instrument.
void collectLinks(const Node& n, std::vector<std::size_t>& fields)
{
    for (const Node& k : n.kids) {
        if (k.id == "wlnk" && (n.type == "rgn " || n.type == "rgn2"))
            fields.push_back(k.body + 8);
        collectLinks(k, fields);
    }
}

std::vector<std::size_t> linkFields(const Node& instrument)
{
    std::vector<std::size_t> fields;
    collectLinks(instrument, fields);
    return fields;
}

// The wave LIST that pool cue `cue` points at; empty when it points at none.
Bytes waveOfCue(const Bytes& b, const Node& form, std::uint32_t cue)
{
    const Node* ptbl = child(form, "ptbl");
    const Node* pool = child(form, "LIST", "wvpl");
    if (!ptbl || !pool || cue >= get32(b, ptbl->body + 4))
        return {};
    const std::uint32_t offset = get32(b, ptbl->body + get32(b, ptbl->body) + 4 * cue);
    for (const Node& w : pool->kids)
        if (w.start - pool->body == offset && w.type == "wave")
            return bytesOf(b, w);
    return {};
}

// The cut checked against the original for the instruments kept.
void expectSoundCut(const Bytes& original, const Bytes& cut, const std::vector<std::size_t>& kept)
{
    const DlsFault fault = checkDlsBank(cut);
    ASSERT_TRUE(fault.ok()) << fault.describe();
    const Node before = parse(original, 0);
    const Node after = parse(cut, 0);
    EXPECT_EQ(get32(cut, 4), cut.size() - 8);
    ASSERT_NE(child(after, "colh"), nullptr);
    EXPECT_EQ(get32(cut, child(after, "colh")->body), kept.size());

    // Every kept instrument: the original's bytes but for the link indexes,
    // and every link leading to the same wave bytes.
    const std::vector<Node> was = instrumentsOf(before);
    const std::vector<Node> is = instrumentsOf(after);
    ASSERT_EQ(is.size(), kept.size());
    std::vector<Bytes> usedWaves;
    for (std::size_t k = 0; k < kept.size(); ++k) {
        const Node& from = was[kept[k]];
        const Node& to = is[k];
        Bytes expected = bytesOf(original, from);
        const std::vector<std::size_t> oldLinks = linkFields(from);
        const std::vector<std::size_t> newLinks = linkFields(to);
        ASSERT_EQ(oldLinks.size(), newLinks.size());
        ASSERT_EQ(to.end - to.start, from.end - from.start);
        for (std::size_t l = 0; l < oldLinks.size(); ++l) {
            for (std::size_t i = 0; i < 4; ++i)
                expected[oldLinks[l] - from.start + i] = cut[newLinks[l] + i];
            const Bytes oldWave = waveOfCue(original, before, get32(original, oldLinks[l]));
            const Bytes newWave = waveOfCue(cut, after, get32(cut, newLinks[l]));
            ASSERT_FALSE(newWave.empty()) << "instrument " << k + 1 << " link " << l + 1 << " leads nowhere";
            EXPECT_EQ(newWave, oldWave) << "instrument " << k + 1 << " link " << l + 1;
            usedWaves.push_back(oldWave);
        }
        EXPECT_EQ(bytesOf(cut, to), expected) << "instrument " << k + 1;
    }

    // The pool: exactly the waves used, in the original order.
    std::vector<Bytes> expectedPool;
    for (const Node& w : child(before, "LIST", "wvpl")->kids)
        if (std::find(usedWaves.begin(), usedWaves.end(), bytesOf(original, w)) != usedWaves.end())
            expectedPool.push_back(bytesOf(original, w));
    std::vector<Bytes> pool;
    for (const Node& w : child(after, "LIST", "wvpl")->kids)
        pool.push_back(bytesOf(cut, w));
    EXPECT_EQ(pool, expectedPool);
    // One cue for each wave, in the pool's order.
    const Node* ptbl = child(after, "ptbl");
    ASSERT_NE(ptbl, nullptr);
    ASSERT_EQ(get32(cut, ptbl->body + 4), pool.size());
    for (std::uint32_t c = 0; c < pool.size(); ++c)
        EXPECT_EQ(waveOfCue(cut, after, c), pool[c]) << "cue " << c;

    // Every other chunk of the form as it was, in its place; the collection's dlid gone.
    std::vector<Bytes> othersBefore, othersAfter;
    for (const Node& k : before.kids)
        if (k.id != "colh" && k.id != "ptbl" && k.id != "dlid" && k.type != "lins" && k.type != "wvpl")
            othersBefore.push_back(bytesOf(original, k));
    for (const Node& k : after.kids)
        if (k.id != "colh" && k.id != "ptbl" && k.type != "lins" && k.type != "wvpl")
            othersAfter.push_back(bytesOf(cut, k));
    EXPECT_EQ(othersAfter, othersBefore);
    EXPECT_EQ(child(after, "dlid"), nullptr);
}

// --- hand-made banks ---

Bytes region(std::uint32_t cue, bool level2)
{
    std::vector<Bytes> parts;
    if (level2)
        parts.push_back(chunk("cdl ", Bytes{0x10, 0x00, 0x01})); // odd: a pad byte follows
    parts.push_back(chunk("rgnh", Bytes(12, 0)));
    parts.push_back(chunk("wlnk", words({0, 0, cue})));
    return list("LIST", level2 ? "rgn2" : "rgn ", parts);
}

Bytes instrument(std::uint32_t bank, std::uint32_t program, std::initializer_list<std::uint32_t> cues,
                 const std::string& name, bool level2 = false)
{
    std::vector<Bytes> regions;
    for (std::uint32_t cue : cues)
        regions.push_back(region(cue, level2));
    std::vector<Bytes> parts = {chunk("insh", words({static_cast<std::uint32_t>(cues.size()), bank, program})),
                                list("LIST", "lrgn", regions)};
    if (level2)
        parts.push_back(list("LIST", "lar2", {chunk("art2", words({8, 0})), chunk("cdl ", Bytes{1})}));
    else
        parts.push_back(list("LIST", "lart", {chunk("art1", words({8, 0}))}));
    parts.push_back(chunk("dlid", Bytes(16, static_cast<std::uint8_t>(program))));
    parts.push_back(list("LIST", "INFO", {chunk("INAM", test::zstring(name))}));
    return list("LIST", "ins ", parts);
}

// Wave i holds dataBytes[i] bytes of the value i + 1.
constexpr std::size_t dataBytes[] = {41, 64, 30, 18, 100};

Bytes wave(std::size_t i)
{
    return list("LIST", "wave", {chunk("fmt ", words({0x00010001, 22050, 44100, 0x00100002})),
                                 chunk("data", Bytes(dataBytes[i], static_cast<std::uint8_t>(i + 1))),
                                 list("LIST", "INFO", {chunk("INAM", test::zstring("w" + std::to_string(i)))})});
}

// Three instruments: A (melodic 0/0 program 0) links cues 0 and 1, B (melodic
// 1/2 program 5) cues 1 and 2, C (drum kit 0) cue 3. The cues point at the
// waves out of order (0->2, 1->0, 2->3, 3->1, 4->4), so A uses waves 0 and 2,
// B waves 0 (shared with A) and 3, C wave 1; wave 4 no instrument uses.
Bytes handBank(bool level2 = false, std::vector<std::uint32_t> order = {2, 0, 3, 1, 4}, std::uint32_t cueOfC = 3)
{
    std::vector<Bytes> waves;
    for (std::size_t i = 0; i < 5; ++i)
        waves.push_back(wave(i));
    std::vector<std::uint32_t> starts;
    std::uint32_t at = 0;
    for (const Bytes& w : waves) {
        starts.push_back(at);
        at += static_cast<std::uint32_t>(w.size());
    }
    Bytes ptbl = words({8, static_cast<std::uint32_t>(order.size())});
    for (std::uint32_t wave : order)
        put32(ptbl, wave < starts.size() ? starts[wave] : 7);
    return list("RIFF", "DLS ",
                {chunk("colh", words({3})), chunk("vers", words({0x00010000, 1})), chunk("dlid", Bytes(16, 0xAB)),
                 list("LIST", "lins",
                      {instrument(0, 0, {0, 1}, "A", level2), instrument(0x0102, 5, {1, 2}, "B", level2),
                       instrument(0x80000000u, 0, {cueOfC}, "C", level2)}),
                 chunk("ptbl", ptbl), list("LIST", "wvpl", waves),
                 list("LIST", "INFO", {chunk("INAM", test::zstring("Hand")), chunk("ICMT", test::zstring("odd"))})});
}

struct CutCase {
    const char* list;
    std::vector<std::size_t> kept;
    std::size_t waves;
};

const CutCase cutCases[] = {
    {"1", {0}, 2},          {"2", {1}, 2},        {"3", {2}, 1},       {"1,2", {0, 1}, 3},
    {"2-3", {1, 2}, 3},     {"3,1,1", {0, 2}, 3}, {" 1 , 3 ", {0, 2}, 3}, {"p0", {0}, 2},
    {"p5:1/2", {1}, 2},     {"d0", {2}, 1},       {"d0,p0", {0, 2}, 3}, {"1-2,p5:1/2", {0, 1}, 3},
};

TEST(InstrumentSelection, CutsHandMadeBanksSoundly)
{
    for (const bool level2 : {false, true}) {
        const Bytes bank = handBank(level2);
        ASSERT_TRUE(checkDlsBank(bank).ok()) << checkDlsBank(bank).describe();
        for (const CutCase& c : cutCases) {
            SCOPED_TRACE(std::string(c.list) + (level2 ? " (level 2)" : ""));
            const BankCut cut = selectInstruments(bank, c.list);
            ASSERT_TRUE(cut.ok()) << cut.error;
            EXPECT_FALSE(cut.unchanged);
            EXPECT_EQ(cut.instrumentsKept, c.kept.size());
            EXPECT_EQ(cut.instrumentsInBank, 3u);
            EXPECT_EQ(cut.wavesKept, c.waves);
            EXPECT_EQ(cut.wavesInBank, 5u);
            expectSoundCut(bank, cut.bytes, c.kept);
            EXPECT_LT(cut.bytes.size(), bank.size());
        }
    }
}

TEST(InstrumentSelection, EveryInstrumentLeavesTheBankAsItIs)
{
    const Bytes bank = handBank();
    for (const char* all : {"1-3", "3,2,1", "p0,p5:1/2,d0", "1,1-3"}) {
        const BankCut cut = selectInstruments(bank, all);
        ASSERT_TRUE(cut.ok()) << cut.error;
        EXPECT_TRUE(cut.unchanged) << all;
        EXPECT_TRUE(cut.bytes.empty());
        EXPECT_EQ(cut.wavesKept, 5u); // the unused wave stays too
    }
}

TEST(InstrumentSelection, CostsEachInstrumentInWaveData)
{
    const LayoutResult read = readBankLayout(handBank());
    ASSERT_TRUE(read.ok()) << read.error;
    const std::vector<InstrumentEntry>& e = read.layout.entries;
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0].name, "A");
    EXPECT_EQ(e[0].waveBytes, dataBytes[0] + dataBytes[2]);
    EXPECT_EQ(e[1].waveBytes, dataBytes[0] + dataBytes[3]); // the shared wave counted here too
    EXPECT_EQ(e[2].waveBytes, dataBytes[1]);
    EXPECT_TRUE(e[2].drums);
    EXPECT_EQ(e[1].bankMsb, 1u);
    EXPECT_EQ(e[1].bankLsb, 2u);
    EXPECT_EQ(e[1].program, 5u);
    // Each wave once, and the unused one not at all.
    EXPECT_EQ(distinctWaveBytes(read.layout), dataBytes[0] + dataBytes[1] + dataBytes[2] + dataBytes[3]);
}

struct Refusal {
    const char* list;
    const char* says;
};

const Refusal refusals[] = {
    {"", "is empty"},
    {"  ", "is empty"},
    {"1,,2", "an empty item"},
    {"1,", "an empty item"},
    {"4", "no instrument 4: the bank holds 3 instruments"},
    {"2-9", "no instrument 9: the bank holds 3 instruments"},
    {"99999999999", "the bank holds 3"},
    {"3-1", "\"3-1\" runs backwards"},
    {"0", "counted from 1"},
    {"p1", "no instrument of the bank is melodic program 1 of bank 0/0"},
    {"d0:1", "drum kit 0 of bank 1/0"},
    {"p5:1", "melodic program 5 of bank 1/0"},
    {"p128", "from 0 to 127"},
    {"p1:1/200", "from 0 to 127"},
    {"x1", "\"x1\" is not an instrument number"},
    {"1-2-3", "is not an instrument number"},
    {"p", "is not an instrument number"},
    {"-1", "is not an instrument number"},
    {"1;2", "is not an instrument number"},
    {"P0", "is not an instrument number"},
    {"p0:", "is not an instrument number"},
    {"1 2", "is not an instrument number"},
};

TEST(InstrumentSelection, RefusesListsThatDoNotFitTheBank)
{
    const Bytes bank = handBank();
    for (const Refusal& r : refusals) {
        const BankCut cut = selectInstruments(bank, r.list);
        EXPECT_FALSE(cut.ok()) << "\"" << r.list << "\" was taken";
        EXPECT_NE(cut.error.find(r.says), std::string::npos) << "\"" << r.list << "\": " << cut.error;
        EXPECT_TRUE(cut.bytes.empty());
    }
}

TEST(InstrumentSelection, RefusesBanksThatAreNotSound)
{
    Bytes bank = handBank();
    const BankCut cut = selectInstruments(Bytes(bank.begin(), bank.end() - 10), "1");
    ASSERT_FALSE(cut.ok());
    EXPECT_NE(cut.error.find("not a sound DLS bank: byte "), std::string::npos) << cut.error;

    const Bytes notRiff = {'R', 'I', 'F', 'X', 4, 0, 0, 0, 'D', 'L', 'S', ' '};
    EXPECT_EQ(selectInstruments(notRiff, "1").error, "not a sound DLS bank: byte 0: not a RIFF file");

    // A link past the pool table, and a cue that points between waves: the
    // instrument with them cannot be cut out, the others can.
    const Bytes pastTable = handBank(false, {2, 0, 3, 1, 4}, 7);
    EXPECT_NE(selectInstruments(pastTable, "3").error.find("instrument 3 links to pool cue 7 and the ptbl has 5"),
              std::string::npos);
    EXPECT_TRUE(selectInstruments(pastTable, "1").ok());
    const Bytes between = handBank(false, {2, 0, 3, 99, 4}); // cue 3 at offset 7
    EXPECT_NE(selectInstruments(between, "3").error.find("is not where a wave of the pool starts"), std::string::npos);
    EXPECT_TRUE(selectInstruments(between, "2").ok());
}

TEST(InstrumentSelection, RefusesASecondInstrumentListAndDropsEveryCollectionId)
{
    std::vector<Bytes> waves = {wave(0), wave(1)};
    const auto second = static_cast<std::uint32_t>(waves[0].size());
    auto form = [&](std::vector<Bytes> lists) {
        std::vector<Bytes> parts = {chunk("colh", words({2})), chunk("dlid", Bytes(16, 1))};
        parts.insert(parts.end(), lists.begin(), lists.end());
        parts.push_back(chunk("dlid", Bytes(16, 2)));
        parts.push_back(chunk("ptbl", words({8, 2, 0, second})));
        parts.push_back(list("LIST", "wvpl", waves));
        return list("RIFF", "DLS ", parts);
    };
    const Bytes a = instrument(0, 0, {0}, "A"), b = instrument(0, 1, {1}, "B");
    const Bytes twoLists = form({list("LIST", "lins", {a}), list("LIST", "lins", {b})});
    ASSERT_TRUE(checkDlsBank(twoLists).ok());
    EXPECT_EQ(selectInstruments(twoLists, "1").error, "cannot cut this bank: a second LIST 'lins' in the form");

    const Bytes oneList = form({list("LIST", "lins", {a, b})});
    const BankCut cut = selectInstruments(oneList, "2");
    ASSERT_TRUE(cut.ok()) << cut.error;
    expectSoundCut(oneList, cut.bytes, {1});
}

// Damaged banks: whatever bytes are changed, the cut is refused or is a
// sound bank, and nothing is read past the input (the sanitizer build checks).
TEST(InstrumentSelection, DamagedBanksAreRefusedOrCutSoundly)
{
    for (const bool level2 : {false, true}) {
        const Bytes bank = handBank(level2);
        std::mt19937 random(level2 ? 7 : 3);
        std::size_t cut = 0;
        for (int round = 0; round < 3000; ++round) {
            Bytes damaged = bank;
            for (int flips = 1 + static_cast<int>(random() % 3); flips > 0; --flips)
                damaged[random() % damaged.size()] = static_cast<std::uint8_t>(random());
            for (const char* list : {"1", "2,3", "d0"}) {
                const BankCut result = selectInstruments(damaged, list);
                if (!result.ok() || result.unchanged)
                    continue;
                ++cut;
                const DlsFault fault = checkDlsBank(result.bytes);
                ASSERT_TRUE(fault.ok()) << "round " << round << " " << list << ": " << fault.describe();
            }
        }
        EXPECT_GT(cut, 1000u); // most damage falls in sample data, and those banks are cut
    }
}

// --- banks from the sample generator ---

#ifdef DLS2MML_MAKE_SAMPLE_BANK
TEST(InstrumentSelection, CutsGeneratedBanksWithSharedWavesAndLevel2Chunks)
{
    for (const char* options : {"--size 120k --shared", "--size 120k --level2", "--size 150k --shared --level2 --seed 5"}) {
        SCOPED_TRACE(options);
        const Bytes bank = test::generatedBank(options);
        const LayoutResult read = readBankLayout(bank);
        ASSERT_TRUE(read.ok()) << read.error;
        const bool shared = std::string(options).find("--shared") != std::string::npos;
        ASSERT_EQ(read.layout.entries.size(), shared ? 3u : 2u);
        const struct {
            const char* list;
            std::vector<std::size_t> kept;
        } cases[] = {{"1", {0}}, {"2", {1}}, {"d0", {1}}, {"p80", {0}}};
        for (const auto& c : cases) {
            SCOPED_TRACE(c.list);
            const BankCut cut = selectInstruments(bank, c.list);
            ASSERT_TRUE(cut.ok()) << cut.error;
            expectSoundCut(bank, cut.bytes, c.kept);
        }
        if (shared) {
            // The pad shares one wave with the lead and one with the kit.
            for (const auto& [text, kept] : std::vector<std::pair<const char*, std::vector<std::size_t>>>{
                     {"3", {2}}, {"1,3", {0, 2}}, {"p81,d0", {1, 2}}}) {
                SCOPED_TRACE(text);
                const BankCut cut = selectInstruments(bank, text);
                ASSERT_TRUE(cut.ok()) << cut.error;
                expectSoundCut(bank, cut.bytes, kept);
            }
            const BankCut lead = selectInstruments(bank, "1");
            const BankCut both = selectInstruments(bank, "1,3");
            EXPECT_EQ(lead.wavesKept, 2u);
            EXPECT_EQ(both.wavesKept, 3u); // one of the pad's two waves is the lead's
            EXPECT_EQ(read.layout.entries[2].waves.size(), 2u);
        }
        const BankCut all = selectInstruments(bank, shared ? "1-3" : "1-2");
        EXPECT_TRUE(all.ok() && all.unchanged);
    }
}
#endif

} // namespace
} // namespace dls2mml
