#include "bank/dls_bank.h"

#include <algorithm>

#include "bank/chunk_ids.h"

namespace dls2mml {
namespace {

using namespace chunk;

std::uint32_t le32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

bool printable(std::uint32_t id)
{
    for (int i = 0; i < 4; ++i) {
        const unsigned c = (id >> (8 * i)) & 0xFF;
        if (c < 0x20 || c > 0x7E)
            return false;
    }
    return true;
}

// 'data', or the bytes escaped when they are not printable.
std::string idText(std::uint32_t id)
{
    static const char hex[] = "0123456789abcdef";
    std::string text = "'";
    for (int i = 0; i < 4; ++i) {
        const unsigned c = (id >> (8 * i)) & 0xFF;
        if (c >= 0x20 && c <= 0x7E && c != '\\') {
            text += static_cast<char>(c);
        } else {
            text += "\\x";
            text += hex[c >> 4];
            text += hex[c & 15];
        }
    }
    return text + "'";
}

std::string listText(std::uint32_t type) { return "LIST " + idText(type); }

std::string textUpToNul(const std::vector<std::uint8_t>& bytes)
{
    const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
    return std::string(bytes.begin(), end);
}

} // namespace

std::string DlsFault::describe() const { return "byte " + std::to_string(offset) + ": " + reason; }

DlsReader::DlsReader() { captured_.reserve(captureLimit); }

void DlsReader::fail(std::uint64_t at, std::string reason)
{
    if (state_ == State::failed)
        return;
    fault_.offset = at;
    fault_.reason = std::move(reason);
    state_ = State::failed;
}

std::uint64_t DlsReader::roomInParent() const noexcept
{
    return lists_.empty() ? UINT64_MAX : lists_.back().contentEnd - offset_;
}

std::string DlsReader::containerText() const
{
    return lists_.size() <= 1 ? std::string("the RIFF form") : listText(lists_.back().type);
}

std::uint32_t DlsReader::parentType() const noexcept { return lists_.empty() ? 0 : lists_.back().type; }

std::uint32_t DlsReader::grandparentType() const noexcept
{
    return lists_.size() < 2 ? 0 : lists_[lists_.size() - 2].type;
}

void DlsReader::feed(std::span<const std::uint8_t> bytes)
{
    while (!bytes.empty() && state_ != State::failed) {
        switch (state_) {
        case State::header:
            bytes = bytes.subspan(headerBytes(bytes));
            break;
        case State::body: {
            const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(chunkLeft_, bytes.size()));
            if (capturing_ && captured_.size() < captureLimit) {
                const std::size_t keep = std::min(take, captureLimit - captured_.size());
                captured_.insert(captured_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(keep));
            }
            offset_ += take;
            chunkLeft_ -= take;
            bytes = bytes.subspan(take);
            if (chunkLeft_ == 0)
                endChunk();
            break;
        }
        case State::pad:
            ++offset_;
            bytes = bytes.subspan(1);
            closeFinishedLists();
            break;
        case State::after:
            fail(offset_, "bytes after the end of the RIFF form");
            break;
        case State::failed:
            break;
        }
    }
}

// Collects the 8 bytes of a chunk header (12 for RIFF and LIST, with their
// type) and checks each part as soon as it has arrived.
std::size_t DlsReader::headerBytes(std::span<const std::uint8_t> bytes)
{
    std::size_t used = 0;
    while (used < bytes.size() && state_ == State::header) {
        if (headerFilled_ == 0) {
            chunkStart_ = offset_;
            if (const std::uint64_t room = roomInParent(); room < 8) {
                fail(offset_, "only " + std::to_string(room) + " bytes left in " + containerText() +
                                  ", too few for a chunk header");
                break;
            }
        }
        header_[headerFilled_++] = bytes[used++];
        ++offset_;
        if (headerFilled_ == 4 && lists_.empty() && le32(header_) != idRiff) {
            fail(0, "not a RIFF file");
        } else if (headerFilled_ == 8) {
            const std::uint32_t id = le32(header_);
            if (!printable(id)) {
                fail(chunkStart_, "chunk id " + idText(id) +
                                      " is not four printable characters (a size before it may be wrong)");
            } else if (id == idRiff && !lists_.empty()) {
                fail(chunkStart_, "a RIFF form inside the form");
            } else if (id != idRiff && id != idList) {
                headerFilled_ = 0;
                startChunk();
            } else if (le32(header_ + 4) < 4) {
                fail(chunkStart_, idText(id) + " of " + std::to_string(le32(header_ + 4)) +
                                      " bytes cannot hold its type");
            } else if (const std::uint64_t size = le32(header_ + 4); size + (size & 1) > roomInParent()) {
                fail(chunkStart_, "LIST declares " + std::to_string(size) + " bytes, past the end of " +
                                      containerText() + " (" + std::to_string(roomInParent()) +
                                      " bytes left)");
            }
        } else if (headerFilled_ == 12) {
            headerFilled_ = 0;
            startList(le32(header_), le32(header_ + 4));
        }
    }
    return used;
}

void DlsReader::startChunk()
{
    chunkId_ = le32(header_);
    chunkSize_ = le32(header_ + 4);
    const std::uint64_t room = roomInParent();
    if (chunkSize_ > room) {
        fail(chunkStart_, "chunk " + idText(chunkId_) + " declares " + std::to_string(chunkSize_) +
                              " bytes, past the end of " + containerText() + " (" + std::to_string(room) +
                              " bytes left)");
        return;
    }
    if ((chunkSize_ & 1) != 0 && chunkSize_ + 1ull > room) {
        fail(chunkStart_, "chunk " + idText(chunkId_) + " has an odd size (" + std::to_string(chunkSize_) +
                              ") and no room for its pad byte in " + containerText());
        return;
    }
    const std::uint32_t parent = parentType();
    capturing_ = (parent == idDls && (chunkId_ == idColh || chunkId_ == idPtbl)) ||
                 (parent == idIns && chunkId_ == idInsh) || (parent == idWave && chunkId_ == idFmt) ||
                 (parent == idInfo && (grandparentType() == idDls || grandparentType() == idIns));
    captured_.clear();
    chunkLeft_ = chunkSize_;
    if (chunkLeft_ == 0)
        endChunk();
    else
        state_ = State::body;
}

void DlsReader::startList(std::uint32_t id, std::uint32_t size)
{
    const std::uint32_t type = le32(header_ + 8);
    if (!printable(type)) {
        fail(chunkStart_ + 8, "list type " + idText(type) + " is not four printable characters");
        return;
    }
    if (id == idRiff) {
        if (type != idDls) {
            fail(8, "a RIFF " + idText(type) + " form, not a DLS collection");
            return;
        }
        collection_.riffDls = true;
    } else if (lists_.size() >= maxDepth) {
        fail(chunkStart_, "lists nested deeper than " + std::to_string(maxDepth));
        return;
    }
    const OpenList list{type, chunkStart_, chunkStart_ + 8 + size, (size & 1) != 0};
    const std::uint32_t parent = parentType();
    lists_.push_back(list);
    openList(list, parent);
    state_ = State::header;
    closeFinishedLists(); // an empty list ends at once
}

void DlsReader::endChunk()
{
    const std::uint32_t parent = parentType();
    if (capturing_)
        readCaptured();
    else if (parent == idWave && chunkId_ == idData) {
        collection_.sampleBytes += chunkSize_;
        waveHasData_ = true;
    }
    if (state_ == State::failed)
        return;
    if ((chunkSize_ & 1) != 0)
        state_ = State::pad;
    else
        closeFinishedLists();
}

// Closes every list whose content (and pad byte) has been read; the form's end
// ends the reading.
void DlsReader::closeFinishedLists()
{
    state_ = State::header;
    while (!lists_.empty()) {
        const OpenList top = lists_.back();
        if (offset_ == top.contentEnd && top.odd) {
            state_ = State::pad;
            return;
        }
        if (offset_ != top.contentEnd + (top.odd ? 1 : 0))
            return;
        lists_.pop_back();
        closeList(top, parentType());
        if (state_ == State::failed)
            return;
    }
    formEnded_ = true;
    checkCollection();
    if (state_ != State::failed)
        state_ = State::after;
}

void DlsReader::openList(const OpenList& list, std::uint32_t parent)
{
    if (list.type == idIns && parent == idLins) {
        instrument_ = {};
        instrumentHasHeader_ = false;
    } else if ((list.type == idRgn || list.type == idRgn2) && parent == idLrgn) {
        ++instrument_.regions;
    } else if (list.type == idWave && parent == idWvpl) {
        ++collection_.waveCount;
        waveHasFormat_ = false;
        waveHasData_ = false;
    }
}

void DlsReader::closeList(const OpenList& list, std::uint32_t parent)
{
    if (list.type == idIns && parent == idLins) {
        const std::string which = "instrument " + std::to_string(collection_.instrumentCount + 1);
        if (!instrumentHasHeader_) {
            fail(list.start, which + " has no insh chunk");
            return;
        }
        if (instrument_.regions != instrument_.declaredRegions) {
            fail(list.start, which + " declares " + std::to_string(instrument_.declaredRegions) +
                                 " regions in its insh and has " + std::to_string(instrument_.regions));
            return;
        }
        ++collection_.instrumentCount;
        if (collection_.instruments.size() < maxListed)
            collection_.instruments.push_back(instrument_);
    } else if (list.type == idWave && parent == idWvpl) {
        const std::string which = "wave " + std::to_string(collection_.waveCount);
        if (!waveHasFormat_)
            fail(list.start, which + " has no fmt chunk");
        else if (!waveHasData_)
            fail(list.start, which + " has no data chunk");
    }
}

void DlsReader::readCaptured()
{
    const std::uint32_t parent = parentType();
    auto needs = [&](std::size_t bytes) {
        if (chunkSize_ >= bytes)
            return true;
        fail(chunkStart_, "chunk " + idText(chunkId_) + " of " + std::to_string(chunkSize_) + " bytes, needs " +
                              std::to_string(bytes));
        return false;
    };
    const std::uint8_t* p = captured_.data();
    if (parent == idInfo) {
        DlsInfoString info{idText(chunkId_).substr(1, 4), textUpToNul(captured_)};
        if (grandparentType() == idIns) {
            if (chunkId_ == idInam)
                instrument_.name = std::move(info.text);
        } else if (collection_.info.size() < maxListed) {
            collection_.info.push_back(std::move(info));
        }
    } else if (chunkId_ == idColh) {
        if (seenColh_) {
            fail(chunkStart_, "a second colh chunk");
        } else if (needs(4)) {
            collection_.declaredInstruments = le32(p);
            seenColh_ = true;
            colhAt_ = chunkStart_;
        }
    } else if (chunkId_ == idPtbl) {
        if (seenPtbl_) {
            fail(chunkStart_, "a second ptbl chunk");
        } else if (needs(8)) {
            const std::uint64_t headerSize = le32(p);
            const std::uint32_t cues = le32(p + 4);
            if (headerSize < 8 || headerSize + 4ull * cues > chunkSize_) {
                fail(chunkStart_, "ptbl of " + std::to_string(chunkSize_) + " bytes cannot hold its " +
                                      std::to_string(cues) + " cues");
            } else {
                collection_.poolCues = cues;
                seenPtbl_ = true;
                ptblAt_ = chunkStart_;
            }
        }
    } else if (chunkId_ == idInsh) {
        if (needs(12)) {
            const std::uint32_t bank = le32(p + 4);
            instrument_.declaredRegions = le32(p);
            instrument_.bankLsb = bank & 0x7F;
            instrument_.bankMsb = (bank >> 8) & 0x7F;
            instrument_.drums = (bank & 0x80000000u) != 0;
            instrument_.program = le32(p + 8) & 0x7F;
            instrumentHasHeader_ = true;
        }
    } else if (chunkId_ == idFmt) {
        if (needs(14)) {
            const DlsWaveFormat format{le16(p), le16(p + 2), chunkSize_ >= 16 ? le16(p + 14) : std::uint16_t{0}};
            auto& formats = collection_.formats;
            if (std::find(formats.begin(), formats.end(), format) == formats.end() && formats.size() < maxListed)
                formats.push_back(format);
            auto& rates = collection_.sampleRates;
            const std::uint32_t rate = le32(p + 4);
            const auto at = std::lower_bound(rates.begin(), rates.end(), rate);
            if ((at == rates.end() || *at != rate) && rates.size() < maxListed)
                rates.insert(at, rate);
            waveHasFormat_ = true;
        }
    }
}

void DlsReader::checkCollection()
{
    const DlsCollection& c = collection_;
    if (!seenColh_)
        fail(12, "no colh chunk in the form");
    else if (c.declaredInstruments != c.instrumentCount)
        fail(colhAt_, "colh declares " + std::to_string(c.declaredInstruments) + " instruments and the bank has " +
                          std::to_string(c.instrumentCount));
    else if (seenPtbl_ && c.poolCues != c.waveCount)
        fail(ptblAt_, "ptbl has " + std::to_string(c.poolCues) + " cues and the pool " +
                          std::to_string(c.waveCount) + " waves");
}

const DlsFault& DlsReader::finish()
{
    if (state_ == State::failed || formEnded_)
        return fault_;
    if (offset_ < 12) {
        fail(offset_, offset_ == 0 ? "empty, not a RIFF file" : "too short for a RIFF header");
        return fault_;
    }
    const std::string ends = "the input ends at byte " + std::to_string(offset_);
    if (state_ == State::body || (state_ == State::header && headerFilled_ > 0)) {
        fail(offset_, ends + " inside chunk " + idText(le32(header_)) + " at byte " + std::to_string(chunkStart_) +
                          (state_ == State::body ? ", which declares " + std::to_string(chunkSize_) + " bytes" : ""));
    } else {
        const OpenList& open = lists_.back();
        fail(offset_, ends + " inside " + (lists_.size() == 1 ? "the RIFF form" : listText(open.type)) + " at byte " +
                          std::to_string(open.start) + ", which ends at byte " +
                          std::to_string(open.contentEnd + (open.odd ? 1 : 0)));
    }
    return fault_;
}

DlsFault checkDlsBank(std::span<const std::uint8_t> bytes, DlsCollection* collection)
{
    DlsReader reader;
    reader.feed(bytes);
    DlsFault fault = reader.finish();
    if (collection)
        *collection = reader.collection();
    return fault;
}

} // namespace dls2mml
