// Choosing instruments from a DLS bank held in memory: what each instrument
// costs in wave data, a list of instruments read against the bank, and the
// bank cut down to the chosen instruments and the waves they use.
//
// The cut bank keeps every chunk of the original as it stands but for:
//  - lins: only the chosen 'ins ' lists, in their original order;
//  - wvpl: only the waves a chosen instrument links to, in their original
//    order; every other child of the pool stays;
//  - ptbl: one cue for each kept wave, in the pool's order, with the offset
//    the wave has in the smaller pool (a reader takes as many cues as
//    waves, so two cues of one wave become one); the table's header (its
//    cbSize bytes) and any bytes after the cues stay;
//  - every region's wlnk (in 'rgn ' and 'rgn2' lists alike) gets the index
//    of its wave's cue; nothing else in an instrument changes, so its
//    articulation, conditional chunks (cdl) and INFO stay byte for byte;
//  - colh holds the new count;
//  - the collection's own dlid goes. It names the whole collection, and a
//    player that keeps banks by that id would take the smaller bank for the
//    one it came from (and the other way round). The instruments' and waves'
//    own dlid chunks stay: those objects are kept unchanged.
// The RIFF, LIST 'lins' and LIST 'wvpl' sizes are written anew; chunks keep
// their pad bytes.
//
// A choice of every instrument leaves the bank exactly as it is, waves no
// instrument uses included.
//
// Failures come back as values with a reason: nothing here throws but
// std::bad_alloc.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace dls2mml {

// One instrument as the chooser sees it.
struct InstrumentEntry {
    std::string name;          // its INFO INAM, may be empty
    bool drums = false;
    std::uint32_t bankMsb = 0; // 0 to 127
    std::uint32_t bankLsb = 0; // 0 to 127
    std::uint32_t program = 0; // 0 to 127
    std::uint32_t regions = 0;
    std::vector<std::uint32_t> waves; // the pool waves its regions link to, distinct, ascending
    std::uint64_t waveBytes = 0;      // the data chunks of those waves
};

// Where the parts of a bank stand that choosing and cutting need.
struct BankLayout {
    struct Piece {
        std::size_t start = 0; // its chunk header
        std::size_t end = 0;   // after its content and pad byte
    };
    struct Instrument {
        Piece piece;
        std::vector<std::size_t> linkFields;  // offsets of each wlnk's table index
        std::vector<std::uint32_t> cues;      // the table index each link holds
    };
    struct Wave {
        Piece piece;
        std::uint64_t dataBytes = 0;
    };
    Piece form;                          // the RIFF form
    std::vector<Piece> topChunks;        // the form's children, in order
    std::size_t colh = 0;                // index in topChunks
    std::size_t lins = SIZE_MAX;
    std::size_t ptbl = SIZE_MAX;
    std::size_t wvpl = SIZE_MAX;
    std::vector<std::size_t> dlids;      // the collection's own dlid (one, as a rule)
    std::vector<Piece> linsChildren;     // every child of lins
    std::vector<std::size_t> instrumentAt; // for each instrument, its index in linsChildren
    std::vector<Instrument> instruments;
    std::vector<InstrumentEntry> entries; // the same instruments, for choosing and listing
    std::vector<Piece> wvplChildren;
    std::vector<std::size_t> waveAt;      // for each wave, its index in wvplChildren
    std::vector<Wave> waves;
    std::uint32_t ptblHeaderBytes = 0;
    std::vector<std::uint32_t> cueOffsets; // the ptbl's cues, from the pool's first child
    std::vector<std::size_t> cueWave;      // the wave each cue points at; SIZE_MAX: none
};

struct LayoutResult {
    BankLayout layout;
    std::string error; // empty: the layout is whole
    bool ok() const noexcept { return error.empty(); }
};

// Reads a whole bank: first the walker's checks (a fault comes back as "not a
// sound DLS bank: byte N: reason"), then where its parts stand.
LayoutResult readBankLayout(std::span<const std::uint8_t> bank);

// The distinct bytes of wave data that the instruments use together.
std::uint64_t distinctWaveBytes(const BankLayout& layout);

struct Choice {
    std::vector<std::size_t> instruments; // indexes from 0, ascending, distinct
    std::string error;
    bool ok() const noexcept { return error.empty(); }
};

// Reads a list of instruments against a bank. Items are separated by commas
// (spaces around them allowed):
//   N        instrument N, counted from 1 in the order of the bank's lins
//   N-M      instruments N to M
//   pP       melodic program P (0 to 127) of bank 0/0
//   pP:M     of bank M/0;  pP:M/L  of bank M/L
//   dP ...   the same for a drum kit (d0 is drum kit 0 of bank 0/0)
// A patch chooses every instrument that has it, and must match one at least.
Choice chooseInstruments(const std::vector<InstrumentEntry>& instruments, std::string_view list);

// The list's syntax alone, without a bank: empty, or what is wrong with it.
std::string checkInstrumentList(std::string_view list);

struct BankCut {
    std::vector<std::uint8_t> bytes; // the smaller bank; empty when unchanged
    bool unchanged = false;          // every instrument chosen: the bank as it is
    std::string error;
    std::size_t instrumentsKept = 0;
    std::size_t instrumentsInBank = 0;
    std::size_t wavesKept = 0;
    std::size_t wavesInBank = 0;
    bool ok() const noexcept { return error.empty(); }
};

// The bank cut to the chosen instruments (indexes as chooseInstruments gives).
BankCut cutBank(std::span<const std::uint8_t> bank, const BankLayout& layout,
                const std::vector<std::size_t>& chosen);

// All of it: read the layout, choose from list, cut.
BankCut selectInstruments(std::span<const std::uint8_t> bank, std::string_view list);

} // namespace dls2mml
