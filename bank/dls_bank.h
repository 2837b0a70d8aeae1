// A DLS bank's RIFF structure, read as a stream of bytes in pieces of any size.
//
// The reader keeps a stack of the open lists, each with the offset where it
// ends, and checks every chunk it meets against the list around it: a size
// that reaches past its list or past the end of the input, an odd size without
// its pad byte, a chunk id that is not four printable characters, lists nested
// deeper than maxDepth, bytes after the form. A size read from the input only
// ever says how far to skip: nothing is allocated from it. The few small chunks
// that describe the collection (colh, insh, ptbl, fmt, data's length and the
// INFO strings) are captured up to captureLimit bytes and read; sample data is
// skipped. Memory stays bounded whatever the input.
//
// The collection is then checked for what a DLS reader relies on: a 'DLS '
// form with its colh, an insh in every instrument, a fmt and data in every
// wave, and counts that agree (colh with the instruments, insh with the
// regions, ptbl with the waves).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace dls2mml {

struct DlsFault {
    std::uint64_t offset = 0; // the input's byte where the fault stands
    std::string reason;       // empty: no fault
    bool ok() const noexcept { return reason.empty(); }
    // "byte N: reason"
    std::string describe() const;
};

struct DlsInstrument {
    std::string name;              // the instrument's INFO INAM, may be empty
    std::uint32_t bankMsb = 0;     // controller 0, 0 to 127
    std::uint32_t bankLsb = 0;     // controller 32, 0 to 127
    std::uint32_t program = 0;     // 0 to 127
    bool drums = false;
    std::uint32_t declaredRegions = 0; // insh
    std::uint32_t regions = 0;         // rgn lists found
};

struct DlsWaveFormat {
    std::uint16_t formatTag = 0; // 1: PCM
    std::uint16_t channels = 0;
    std::uint16_t bitsPerSample = 0;
    bool operator==(const DlsWaveFormat&) const = default;
};

struct DlsInfoString {
    std::string id;   // four characters: INAM, ICOP, ICMT, ...
    std::string text; // up to its first NUL, at most captureLimit bytes
};

struct DlsCollection {
    bool riffDls = false; // the input starts as a RIFF 'DLS ' form
    std::uint32_t declaredInstruments = 0; // colh
    std::uint64_t instrumentCount = 0;
    std::vector<DlsInstrument> instruments; // the first maxListed of them
    std::uint32_t poolCues = 0;             // ptbl
    std::uint64_t waveCount = 0;
    std::vector<DlsWaveFormat> formats;     // distinct, in order of appearance (at most maxListed)
    std::vector<std::uint32_t> sampleRates; // distinct, ascending (at most maxListed)
    std::uint64_t sampleBytes = 0;          // the waves' data chunks
    std::vector<DlsInfoString> info;        // the collection's own INFO list
};

class DlsReader {
public:
    static constexpr std::size_t maxDepth = 16;
    static constexpr std::size_t captureLimit = 256;
    static constexpr std::size_t maxListed = 4096;

    DlsReader();

    // Takes the next bytes of the input; after the first fault the rest is ignored.
    void feed(std::span<const std::uint8_t> bytes);
    // The input has ended: the fault, or ok when the bank is whole and consistent.
    const DlsFault& finish();

    const DlsFault& fault() const noexcept { return fault_; }
    const DlsCollection& collection() const noexcept { return collection_; }
    std::uint64_t bytesRead() const noexcept { return offset_; }

private:
    enum class State { header, body, pad, after, failed };
    struct OpenList {
        std::uint32_t type;
        std::uint64_t start;      // offset of "LIST" or "RIFF"
        std::uint64_t contentEnd; // first byte after its content
        bool odd;                 // a pad byte follows the content
    };

    void fail(std::uint64_t at, std::string reason);
    std::size_t headerBytes(std::span<const std::uint8_t> bytes);
    void startChunk();
    void startList(std::uint32_t id, std::uint32_t size);
    void endChunk();
    void closeFinishedLists();
    void openList(const OpenList& list, std::uint32_t parent);
    void closeList(const OpenList& list, std::uint32_t parent);
    void readCaptured();
    void checkCollection();
    std::uint64_t roomInParent() const noexcept;
    std::uint32_t parentType() const noexcept;
    std::string containerText() const;
    std::uint32_t grandparentType() const noexcept;

    State state_ = State::header;
    DlsFault fault_;
    DlsCollection collection_;
    std::uint64_t offset_ = 0;
    std::vector<OpenList> lists_;
    std::uint8_t header_[12]{};
    std::size_t headerFilled_ = 0;
    std::uint64_t chunkStart_ = 0;
    std::uint32_t chunkId_ = 0;
    std::uint32_t chunkSize_ = 0;
    std::uint64_t chunkLeft_ = 0;
    bool capturing_ = false;
    std::vector<std::uint8_t> captured_;
    bool formEnded_ = false;
    bool seenColh_ = false;
    bool seenPtbl_ = false;
    std::uint64_t colhAt_ = 0;
    std::uint64_t ptblAt_ = 0;
    // The instrument and the wave being read, while their lists are open.
    DlsInstrument instrument_;
    bool instrumentHasHeader_ = false;
    bool waveHasFormat_ = false;
    bool waveHasData_ = false;
};

// Reads a whole bank held in memory; collection, when given, receives the listing.
DlsFault checkDlsBank(std::span<const std::uint8_t> bytes, DlsCollection* collection = nullptr);

} // namespace dls2mml
