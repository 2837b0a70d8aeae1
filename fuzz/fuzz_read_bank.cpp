// Arbitrary bytes as a DLS bank and a list of its instruments. The input is
// three control bytes (the size of the pieces the walker is fed, a mask of
// instruments to keep, the list's length), the list's text, then the bank.
//  - The walker reaches the same verdict, at the same byte, and the same
//    counts whether the bank comes whole or in pieces.
//  - A layout is read only from a bank the walker finds sound.
//  - A list the syntax check refuses is refused against the bank too; a
//    choice is ascending, distinct and within the bank.
//  - Cutting a bank to the masked instruments either keeps it unchanged (all
//    of them chosen) or gives a sound bank with just those instruments and
//    the waves they use, whose own layout reads and which a choice of all
//    leaves as it is.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>
#include <vector>

#include "bank/dls_bank.h"
#include "bank/instrument_selection.h"

namespace {

using namespace dls2mml;

void require(bool condition)
{
    if (!condition)
        std::abort();
}

void walkInPieces(std::span<const std::uint8_t> bank, std::size_t piece)
{
    DlsCollection whole;
    const DlsFault wholeFault = checkDlsBank(bank, &whole);
    DlsReader reader;
    for (std::size_t at = 0; at < bank.size(); at += piece)
        reader.feed(bank.subspan(at, std::min(piece, bank.size() - at)));
    const DlsFault& fault = reader.finish();
    require(fault.reason == wholeFault.reason && fault.offset == wholeFault.offset);
    const DlsCollection& pieces = reader.collection();
    require(pieces.instrumentCount == whole.instrumentCount && pieces.waveCount == whole.waveCount &&
            pieces.sampleBytes == whole.sampleBytes && pieces.instruments.size() == whole.instruments.size());
}

void chooseByList(const BankLayout& layout, std::string_view list)
{
    const bool syntaxRefused = !checkInstrumentList(list).empty();
    const Choice choice = chooseInstruments(layout.entries, list);
    if (!choice.ok())
        return;
    require(!syntaxRefused && !choice.instruments.empty());
    for (std::size_t i = 0; i < choice.instruments.size(); ++i) {
        require(choice.instruments[i] < layout.entries.size());
        require(i == 0 || choice.instruments[i - 1] < choice.instruments[i]);
    }
}

void cutToMask(std::span<const std::uint8_t> bank, const BankLayout& layout, std::uint8_t mask)
{
    const std::size_t count = layout.instruments.size();
    std::vector<std::size_t> chosen;
    for (std::size_t i = 0; i < count; ++i)
        if (mask >> (i % 8) & 1)
            chosen.push_back(i);
    if (chosen.empty() && count > 0)
        chosen.push_back(count - 1);
    const BankCut cut = cutBank(bank, layout, chosen);
    if (!cut.ok())
        return;
    require(cut.instrumentsKept == chosen.size() && cut.instrumentsInBank == count);
    if (chosen.size() == count) {
        require(cut.unchanged && cut.bytes.empty());
        return;
    }
    require(!cut.unchanged);
    DlsCollection collection;
    require(checkDlsBank(cut.bytes, &collection).ok());
    require(collection.instrumentCount == chosen.size() && collection.waveCount == cut.wavesKept);
    const LayoutResult again = readBankLayout(cut.bytes);
    require(again.ok() && again.layout.instruments.size() == chosen.size());
    std::vector<std::size_t> all(chosen.size());
    for (std::size_t i = 0; i < all.size(); ++i)
        all[i] = i;
    require(cutBank(cut.bytes, again.layout, all).unchanged);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3)
        return 0;
    const std::size_t piece = 1 + data[0] % 64;
    const std::uint8_t mask = data[1];
    const std::size_t listLength = std::min<std::size_t>(data[2], size - 3);
    const std::string_view list(reinterpret_cast<const char*>(data + 3), listLength);
    const std::span<const std::uint8_t> bank(data + 3 + listLength, size - 3 - listLength);

    walkInPieces(bank, piece);
    const LayoutResult layout = readBankLayout(bank);
    if (!layout.ok())
        return 0;
    require(checkDlsBank(bank).ok());
    chooseByList(layout.layout, list);
    cutToMask(bank, layout.layout, mask);
    return 0;
}
