#include "bank/instrument_selection.h"

#include <algorithm>

#include "bank/chunk_ids.h"
#include "bank/dls_bank.h"

namespace dls2mml {
namespace {

using namespace chunk;

// Where a wlnk keeps its pool table index: after fusOptions, usPhaseGroup
// and ulChannel.
constexpr std::size_t wlnkIndexAt = 8;
// A list deeper than this inside an instrument is not looked into (the
// walker has refused deeper ones already).
constexpr int maxInstrumentDepth = 16;

std::uint32_t le32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void put32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

struct Chunk {
    std::uint32_t id = 0;
    std::uint32_t type = 0; // a LIST's (or RIFF's) type, else 0
    std::size_t start = 0;
    std::size_t body = 0;   // after the header (and a list's type)
    std::size_t size = 0;   // of the body
    std::size_t end = 0;    // after the body and its pad byte
    bool isList(std::uint32_t listType) const { return id == idList && type == listType; }
};

// The chunk at `at`, which must end by `limit`; false when it does not fit.
bool chunkAt(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t limit, Chunk& chunk)
{
    if (limit > bytes.size() || at > limit || limit - at < 8)
        return false;
    chunk.start = at;
    chunk.id = le32(bytes.data() + at);
    const std::size_t declared = le32(bytes.data() + at + 4);
    chunk.type = 0;
    chunk.body = at + 8;
    chunk.size = declared;
    if (chunk.id == idList || chunk.id == idRiff) {
        if (declared < 4 || limit - chunk.body < 4)
            return false;
        chunk.type = le32(bytes.data() + at + 8);
        chunk.body += 4;
        chunk.size -= 4;
    }
    if (chunk.size > limit - chunk.body)
        return false;
    chunk.end = chunk.body + chunk.size;
    // The walker has checked every pad byte; the last chunk of an odd form
    // may end without one only where the walker would have refused.
    if ((declared & 1) != 0 && chunk.end < limit)
        ++chunk.end;
    return true;
}

// The children of [begin, limit) in order; false when one does not fit.
template <class Visit>
bool forEachChunk(std::span<const std::uint8_t> bytes, std::size_t begin, std::size_t limit, Visit visit)
{
    for (std::size_t at = begin; at < limit;) {
        Chunk chunk;
        if (!chunkAt(bytes, at, limit, chunk))
            return false;
        if (!visit(chunk))
            return false;
        at = chunk.end;
    }
    return true;
}

std::string textUpToNul(std::span<const std::uint8_t> bytes)
{
    const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
    return std::string(bytes.begin(), end);
}

// Every wlnk of the regions in [begin, limit), at any depth.
bool findLinks(std::span<const std::uint8_t> bytes, const Chunk& list, BankLayout::Instrument& instrument, int depth)
{
    if (depth > maxInstrumentDepth)
        return true;
    return forEachChunk(bytes, list.body, list.body + list.size, [&](const Chunk& c) {
        if (c.id == idList)
            return findLinks(bytes, c, instrument, depth + 1);
        if (c.id == idWlnk && (list.type == idRgn || list.type == idRgn2)) {
            if (c.size < wlnkIndexAt + 4)
                return false;
            instrument.linkFields.push_back(c.body + wlnkIndexAt);
            instrument.cues.push_back(le32(bytes.data() + c.body + wlnkIndexAt));
        }
        return true;
    });
}

bool readInstrument(std::span<const std::uint8_t> bytes, const Chunk& ins, BankLayout& layout)
{
    BankLayout::Instrument instrument;
    instrument.piece = {ins.start, ins.end};
    InstrumentEntry entry;
    const bool read = forEachChunk(bytes, ins.body, ins.body + ins.size, [&](const Chunk& c) {
        if (c.id == idInsh && c.size >= 12) {
            const std::uint8_t* p = bytes.data() + c.body;
            const std::uint32_t bank = le32(p + 4);
            entry.regions = le32(p);
            entry.bankLsb = bank & 0x7F;
            entry.bankMsb = (bank >> 8) & 0x7F;
            entry.drums = (bank & 0x80000000u) != 0;
            entry.program = le32(p + 8) & 0x7F;
        } else if (c.isList(idInfo)) {
            return forEachChunk(bytes, c.body, c.body + c.size, [&](const Chunk& info) {
                if (info.id == idInam)
                    entry.name = textUpToNul(bytes.subspan(info.body, info.size));
                return true;
            });
        } else if (c.id == idList) {
            return findLinks(bytes, c, instrument, 1);
        }
        return true;
    });
    if (!read)
        return false;
    layout.instruments.push_back(std::move(instrument));
    layout.entries.push_back(std::move(entry));
    return true;
}

bool readPool(std::span<const std::uint8_t> bytes, const Chunk& pool, BankLayout& layout)
{
    return forEachChunk(bytes, pool.body, pool.body + pool.size, [&](const Chunk& c) {
        if (c.isList(idWave)) {
            BankLayout::Wave wave;
            wave.piece = {c.start, c.end};
            forEachChunk(bytes, c.body, c.body + c.size, [&](const Chunk& part) {
                if (part.id == idData)
                    wave.dataBytes += part.size;
                return true;
            });
            layout.waveAt.push_back(layout.wvplChildren.size());
            layout.waves.push_back(wave);
        }
        layout.wvplChildren.push_back({c.start, c.end});
        return true;
    });
}

void readCues(std::span<const std::uint8_t> bytes, const Chunk& ptbl, BankLayout& layout)
{
    const std::uint8_t* p = bytes.data() + ptbl.body;
    layout.ptblHeaderBytes = le32(p);
    const std::uint32_t cues = le32(p + 4);
    layout.cueOffsets.reserve(cues);
    for (std::uint32_t i = 0; i < cues; ++i)
        layout.cueOffsets.push_back(le32(p + layout.ptblHeaderBytes + 4ull * i));
}

// Each cue's wave: the one whose LIST starts at the cue's offset, counted
// from the pool's first child.
void matchCues(BankLayout& layout)
{
    layout.cueWave.assign(layout.cueOffsets.size(), SIZE_MAX);
    if (layout.wvpl == SIZE_MAX)
        return;
    const std::size_t poolBase = layout.topChunks[layout.wvpl].start + 12;
    std::vector<std::uint64_t> starts;
    starts.reserve(layout.waves.size());
    for (const BankLayout::Wave& wave : layout.waves)
        starts.push_back(wave.piece.start - poolBase);
    for (std::size_t c = 0; c < layout.cueOffsets.size(); ++c) {
        const auto at = std::lower_bound(starts.begin(), starts.end(), layout.cueOffsets[c]);
        if (at != starts.end() && *at == layout.cueOffsets[c])
            layout.cueWave[c] = static_cast<std::size_t>(at - starts.begin());
    }
}

void costInstruments(BankLayout& layout)
{
    for (std::size_t i = 0; i < layout.instruments.size(); ++i) {
        InstrumentEntry& entry = layout.entries[i];
        for (std::uint32_t cue : layout.instruments[i].cues)
            if (cue < layout.cueWave.size() && layout.cueWave[cue] != SIZE_MAX)
                entry.waves.push_back(static_cast<std::uint32_t>(layout.cueWave[cue]));
        std::sort(entry.waves.begin(), entry.waves.end());
        entry.waves.erase(std::unique(entry.waves.begin(), entry.waves.end()), entry.waves.end());
        for (std::uint32_t wave : entry.waves)
            entry.waveBytes += layout.waves[wave].dataBytes;
    }
}

const char* const notWhole = "the bank's chunks do not fit together";

// --- the list of instruments ---

struct Item {
    bool patch = false;
    std::uint64_t first = 0, last = 0; // instrument numbers, from 1
    bool drums = false;
    std::uint32_t program = 0, bankMsb = 0, bankLsb = 0;
    std::string_view text;
};

// A decimal number of up to 18 digits at `at`; false when there is none.
bool number(std::string_view text, std::size_t& at, std::uint64_t& value)
{
    const std::size_t start = at;
    value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - start < 19)
        value = value * 10 + static_cast<std::uint64_t>(text[at++] - '0');
    return at > start && at - start <= 18;
}

std::string quoted(std::string_view text)
{
    std::string out(1, '"');
    out.append(text).push_back('"');
    return out;
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return text;
}

std::string readItem(std::string_view text, Item& item)
{
    item.text = text;
    const std::string malformed =
        quoted(text) + " is not an instrument number, a range N-M or a patch (p24, d0, p24:121/1)";
    std::size_t at = 0;
    if (text[0] == 'p' || text[0] == 'd') {
        item.patch = true;
        item.drums = text[0] == 'd';
        ++at;
        std::uint64_t program = 0, msb = 0, lsb = 0;
        if (!number(text, at, program))
            return malformed;
        if (at < text.size() && text[at] == ':') {
            ++at;
            if (!number(text, at, msb))
                return malformed;
            if (at < text.size() && text[at] == '/') {
                ++at;
                if (!number(text, at, lsb))
                    return malformed;
            }
        }
        if (at != text.size())
            return malformed;
        if (program > 127 || msb > 127 || lsb > 127)
            return "in " + quoted(text) + ": programs and banks go from 0 to 127";
        item.program = static_cast<std::uint32_t>(program);
        item.bankMsb = static_cast<std::uint32_t>(msb);
        item.bankLsb = static_cast<std::uint32_t>(lsb);
        return {};
    }
    if (!number(text, at, item.first))
        return malformed;
    item.last = item.first;
    if (at < text.size() && text[at] == '-') {
        ++at;
        if (!number(text, at, item.last))
            return malformed;
    }
    if (at != text.size())
        return malformed;
    if (item.first == 0)
        return "in " + quoted(text) + ": instruments are counted from 1";
    if (item.last < item.first)
        return "the range " + quoted(text) + " runs backwards";
    return {};
}

std::string readList(std::string_view list, std::vector<Item>& items)
{
    if (trimmed(list).empty())
        return "the list of instruments is empty";
    for (std::size_t start = 0;;) {
        const std::size_t comma = list.find(',', start);
        const std::string_view text = trimmed(list.substr(start, comma == std::string_view::npos ? list.npos : comma - start));
        if (text.empty())
            return "an empty item in the list of instruments " + quoted(list);
        Item item;
        if (std::string problem = readItem(text, item); !problem.empty())
            return problem;
        items.push_back(item);
        if (comma == std::string_view::npos)
            return {};
        start = comma + 1;
    }
}

std::string patchText(const Item& item)
{
    return std::string(item.drums ? "drum kit " : "melodic program ") + std::to_string(item.program) + " of bank " +
           std::to_string(item.bankMsb) + "/" + std::to_string(item.bankLsb);
}

} // namespace

LayoutResult readBankLayout(std::span<const std::uint8_t> bank)
{
    LayoutResult result;
    if (const DlsFault fault = checkDlsBank(bank); !fault.ok()) {
        result.error = "not a sound DLS bank: " + fault.describe();
        return result;
    }
    BankLayout& layout = result.layout;
    Chunk form;
    if (!chunkAt(bank, 0, bank.size(), form)) {
        result.error = notWhole;
        return result;
    }
    layout.form = {form.start, form.end};
    bool colh = false;
    std::string second;
    const bool read = forEachChunk(bank, form.body, form.body + form.size, [&](const Chunk& c) {
        const std::size_t index = layout.topChunks.size();
        layout.topChunks.push_back({c.start, c.end});
        if (c.id == idColh) {
            layout.colh = index;
            colh = true;
        } else if (c.id == idDlid) {
            layout.dlids.push_back(index);
        } else if (c.id == idPtbl) {
            layout.ptbl = index;
            readCues(bank, c, layout);
        } else if (c.isList(idLins)) {
            // The instruments of a second list would stay uncounted in colh.
            if (layout.lins != SIZE_MAX) {
                second = "a second LIST 'lins' in the form";
                return false;
            }
            layout.lins = index;
            return forEachChunk(bank, c.body, c.body + c.size, [&](const Chunk& child) {
                if (child.isList(idIns)) {
                    layout.instrumentAt.push_back(layout.linsChildren.size());
                    if (!readInstrument(bank, child, layout))
                        return false;
                }
                layout.linsChildren.push_back({child.start, child.end});
                return true;
            });
        } else if (c.isList(idWvpl)) {
            if (layout.wvpl != SIZE_MAX) {
                second = "a second LIST 'wvpl' in the form";
                return false;
            }
            layout.wvpl = index;
            return readPool(bank, c, layout);
        }
        return true;
    });
    if (!read || !colh) {
        result.error = second.empty() ? notWhole : "cannot cut this bank: " + second;
        return result;
    }
    matchCues(layout);
    costInstruments(layout);
    return result;
}

std::uint64_t distinctWaveBytes(const BankLayout& layout)
{
    std::vector<bool> used(layout.waves.size());
    std::uint64_t bytes = 0;
    for (const InstrumentEntry& entry : layout.entries)
        for (std::uint32_t wave : entry.waves)
            if (!used[wave]) {
                used[wave] = true;
                bytes += layout.waves[wave].dataBytes;
            }
    return bytes;
}

std::string checkInstrumentList(std::string_view list)
{
    std::vector<Item> items;
    return readList(list, items);
}

Choice chooseInstruments(const std::vector<InstrumentEntry>& instruments, std::string_view list)
{
    Choice choice;
    std::vector<Item> items;
    if (std::string problem = readList(list, items); !problem.empty()) {
        choice.error = std::move(problem);
        return choice;
    }
    const std::size_t count = instruments.size();
    std::vector<bool> chosen(count);
    for (const Item& item : items) {
        if (!item.patch) {
            if (item.last > count) {
                const std::uint64_t past = item.first > count ? item.first : item.last;
                choice.error = "there is no instrument " + std::to_string(past) + ": the bank holds " +
                               std::to_string(count) + (count == 1 ? " instrument" : " instruments");
                return choice;
            }
            for (std::uint64_t n = item.first; n <= item.last; ++n)
                chosen[static_cast<std::size_t>(n - 1)] = true;
            continue;
        }
        bool found = false;
        for (std::size_t i = 0; i < count; ++i) {
            const InstrumentEntry& e = instruments[i];
            if (e.drums == item.drums && e.program == item.program && e.bankMsb == item.bankMsb &&
                e.bankLsb == item.bankLsb) {
                chosen[i] = true;
                found = true;
            }
        }
        if (!found) {
            choice.error = "no instrument of the bank is " + patchText(item) + " (" + quoted(item.text) + ")";
            return choice;
        }
    }
    for (std::size_t i = 0; i < count; ++i)
        if (chosen[i])
            choice.instruments.push_back(i);
    return choice;
}

BankCut cutBank(std::span<const std::uint8_t> bank, const BankLayout& layout, const std::vector<std::size_t>& chosen)
{
    BankCut cut;
    cut.instrumentsInBank = layout.instruments.size();
    cut.wavesInBank = layout.waves.size();
    std::vector<bool> keepInstrument(layout.instruments.size());
    for (std::size_t i : chosen)
        if (i < keepInstrument.size())
            keepInstrument[i] = true;
    cut.instrumentsKept = static_cast<std::size_t>(std::count(keepInstrument.begin(), keepInstrument.end(), true));
    if (cut.instrumentsKept == layout.instruments.size()) {
        cut.unchanged = true;
        cut.wavesKept = cut.wavesInBank;
        return cut;
    }

    // The waves the kept instruments link to, through their cues.
    std::vector<bool> keepWave(layout.waves.size());
    for (std::size_t i = 0; i < layout.instruments.size(); ++i) {
        if (!keepInstrument[i])
            continue;
        for (std::uint32_t cue : layout.instruments[i].cues) {
            auto which = [&] { return "instrument " + std::to_string(i + 1) + " links to pool cue " + std::to_string(cue); };
            if (cue >= layout.cueOffsets.size()) {
                cut.error = which() + " and the ptbl has " + std::to_string(layout.cueOffsets.size());
                return cut;
            }
            if (layout.cueWave[cue] == SIZE_MAX) {
                cut.error = which() + ", whose offset " + std::to_string(layout.cueOffsets[cue]) +
                            " is not where a wave of the pool starts";
                return cut;
            }
            keepWave[layout.cueWave[cue]] = true;
        }
    }
    // The new table has one cue for each kept wave, in the pool's order (a
    // reader takes as many cues as waves): a link's new index is its wave's
    // place among the kept ones.
    std::vector<std::uint32_t> newIndex(layout.waves.size());
    std::uint32_t cuesKept = 0;
    for (std::size_t w = 0; w < keepWave.size(); ++w)
        if (keepWave[w])
            newIndex[w] = cuesKept++;
    cut.wavesKept = cuesKept;
    // Each kept wave's offset in the smaller pool; the pool's other children stay.
    std::vector<std::uint32_t> newWaveOffset(layout.waves.size());
    {
        std::uint64_t offset = 0;
        std::size_t wave = 0;
        for (std::size_t child = 0; child < layout.wvplChildren.size(); ++child) {
            const bool isWave = wave < layout.waveAt.size() && layout.waveAt[wave] == child;
            if (isWave && !keepWave[wave++])
                continue;
            if (isWave)
                newWaveOffset[wave - 1] = static_cast<std::uint32_t>(offset);
            offset += layout.wvplChildren[child].end - layout.wvplChildren[child].start;
        }
    }

    std::vector<std::uint8_t>& out = cut.bytes;
    out.reserve(bank.size());
    auto copy = [&](std::size_t from, std::size_t to) {
        out.insert(out.end(), bank.begin() + static_cast<std::ptrdiff_t>(from), bank.begin() + static_cast<std::ptrdiff_t>(to));
    };
    // A list's header copied with its size left to patch; returns where the size stands.
    auto openList = [&](const BankLayout::Piece& piece) {
        copy(piece.start, piece.start + 12);
        return out.size() - 8;
    };
    auto closeList = [&](std::size_t sizeAt) {
        const std::size_t size = out.size() - sizeAt - 4;
        put32(out.data() + sizeAt, static_cast<std::uint32_t>(size));
        if (size & 1)
            out.push_back(0);
    };

    const std::size_t formSize = openList(layout.form);
    for (std::size_t t = 0; t < layout.topChunks.size(); ++t) {
        const BankLayout::Piece& piece = layout.topChunks[t];
        if (std::find(layout.dlids.begin(), layout.dlids.end(), t) != layout.dlids.end())
            continue;
        if (t == layout.colh) {
            copy(piece.start, piece.end);
            put32(out.data() + out.size() - (piece.end - piece.start) + 8, static_cast<std::uint32_t>(cut.instrumentsKept));
        } else if (t == layout.lins) {
            const std::size_t sizeAt = openList(piece);
            std::size_t instrument = 0;
            for (std::size_t child = 0; child < layout.linsChildren.size(); ++child) {
                const BankLayout::Piece& c = layout.linsChildren[child];
                const bool isInstrument = instrument < layout.instrumentAt.size() && layout.instrumentAt[instrument] == child;
                if (!isInstrument) {
                    copy(c.start, c.end);
                    continue;
                }
                const BankLayout::Instrument& ins = layout.instruments[instrument];
                if (keepInstrument[instrument]) {
                    const std::size_t base = out.size();
                    copy(c.start, c.end);
                    for (std::size_t l = 0; l < ins.linkFields.size(); ++l)
                        put32(out.data() + base + (ins.linkFields[l] - c.start), newIndex[layout.cueWave[ins.cues[l]]]);
                }
                ++instrument;
            }
            closeList(sizeAt);
        } else if (t == layout.ptbl) {
            const std::size_t body = piece.start + 8;
            const std::size_t oldSize = le32(bank.data() + piece.start + 4);
            const std::size_t cuesEnd = body + layout.ptblHeaderBytes + 4 * layout.cueOffsets.size();
            copy(piece.start, body + layout.ptblHeaderBytes);
            const std::size_t sizeAt = out.size() - layout.ptblHeaderBytes - 4;
            put32(out.data() + sizeAt + 8, cuesKept);
            for (std::size_t w = 0; w < keepWave.size(); ++w) {
                if (!keepWave[w])
                    continue;
                std::uint8_t offset[4];
                put32(offset, newWaveOffset[w]);
                out.insert(out.end(), offset, offset + 4);
            }
            copy(cuesEnd, body + oldSize);
            closeList(sizeAt);
        } else if (t == layout.wvpl) {
            const std::size_t sizeAt = openList(piece);
            std::size_t wave = 0;
            for (std::size_t child = 0; child < layout.wvplChildren.size(); ++child) {
                const bool isWave = wave < layout.waveAt.size() && layout.waveAt[wave] == child;
                if (!isWave || keepWave[wave])
                    copy(layout.wvplChildren[child].start, layout.wvplChildren[child].end);
                if (isWave)
                    ++wave;
            }
            closeList(sizeAt);
        } else {
            copy(piece.start, piece.end);
        }
    }
    closeList(formSize);
    return cut;
}

BankCut selectInstruments(std::span<const std::uint8_t> bank, std::string_view list)
{
    BankCut cut;
    // The list first: a malformed one is the likelier mistake, and is said
    // whatever the bank.
    if (std::string problem = checkInstrumentList(list); !problem.empty()) {
        cut.error = std::move(problem);
        return cut;
    }
    LayoutResult layout = readBankLayout(bank);
    if (!layout.ok()) {
        cut.error = std::move(layout.error);
        return cut;
    }
    const Choice choice = chooseInstruments(layout.layout.entries, list);
    if (!choice.ok()) {
        cut.error = choice.error;
        return cut;
    }
    return cutBank(bank, layout.layout, choice.instruments);
}

} // namespace dls2mml
