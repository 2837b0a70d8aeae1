#include "fault/fault_kind.h"

#include <cstddef>
#include <iterator>

#include "fault/fault.h"

namespace dls2mml {
namespace {

// What a fault a reader finds in a document makes of it.
constexpr const char* documentWords = "not a sound cue-point document";

struct KindEntry {
    FaultKind kind;
    const char* name;
    const char* words;
};

// One row per kind, in the enumeration's order (checked below).
constexpr KindEntry kinds[] = {
    {FaultKind::none, "none", "ok"},
    {FaultKind::badMagic, "badMagic", documentWords},
    {FaultKind::badHeader, "badHeader", documentWords},
    {FaultKind::truncated, "truncated", documentWords},
    {FaultKind::corrupt, "corrupt", documentWords},
    {FaultKind::limitExceeded, "limitExceeded", documentWords},
    {FaultKind::lengthMismatch, "lengthMismatch", documentWords},
    {FaultKind::trailingData, "trailingData", documentWords},
    {FaultKind::badText, "badText", documentWords},
    {FaultKind::outputRefused, "outputRefused", "output refused"},
    {FaultKind::readFailed, "readFailed", "cannot read"},
    {FaultKind::outOfMemory, "outOfMemory", "out of memory"},
    {FaultKind::cannotOpen, "cannotOpen", "cannot open"},
    {FaultKind::isFolder, "isFolder", "is a folder"},
    {FaultKind::cannotRead, "cannotRead", "cannot read"},
    {FaultKind::cannotCreate, "cannotCreate", "cannot create output"},
    {FaultKind::writeFailed, "writeFailed", "write failed"},
    {FaultKind::diskFull, "diskFull", "disk full"},
    {FaultKind::noDlsInName, "noDlsInName", "name does not contain \".dls\" (give the output with -o)"},
    {FaultKind::tooLarge, "tooLarge", "too large"},
    {FaultKind::compressFailed, "compressFailed", "compression failed"},
    {FaultKind::verifyFailed, "verifyFailed", "verification failed"},
    {FaultKind::inputChanged, "inputChanged", "file changed while it was read"},
    {FaultKind::sameFile, "sameFile", "input and output are the same file"},
    {FaultKind::bankDamaged, "bankDamaged", "the document is whole, but the bank in it is a damaged RIFF file"},
    {FaultKind::outputExists, "outputExists", "exists (use -f to overwrite)"},
    {FaultKind::noBankName, "noBankName",
     "cannot derive the bank's name (it needs a name ending in \"_dls...mml\" that the output-name rule gives back); "
     "give the output with -o"},
    {FaultKind::toTerminal, "toTerminal", "not writing a bank to a terminal (redirect the output, give -o, or -f)"},
    {FaultKind::fromTerminal, "fromTerminal",
     "standard input is a terminal: give a FILE or redirect the input (-f reads it anyway)"},
    {FaultKind::selectionRefused, "selectionRefused", "cannot choose instruments"},
    {FaultKind::pivotStateUnknown, "pivotStateUnknown", "the pivot state left by the earlier banks is unknown"},
    {FaultKind::notDlsBank, "notDlsBank", "not a sound DLS bank"},
    {FaultKind::badArgument, "badArgument", "invalid argument"},
    {FaultKind::bufferTooSmall, "bufferTooSmall", "output buffer too small"},
    {FaultKind::internal, "internal", "internal failure"},
};

constexpr bool inOrder()
{
    int i = 0;
    for (const KindEntry& entry : kinds)
        if (static_cast<int>(entry.kind) != i++)
            return false;
    return i == faultKindCount;
}
static_assert(inOrder(), "one row per kind, in the enumeration's order");

const KindEntry* entryFor(FaultKind kind) noexcept
{
    const auto index = static_cast<std::size_t>(kind);
    return index < std::size(kinds) ? &kinds[index] : nullptr;
}

} // namespace

const char* faultKindName(FaultKind kind) noexcept
{
    const KindEntry* entry = entryFor(kind);
    return entry ? entry->name : "unknown";
}

std::string_view faultWords(FaultKind kind) noexcept
{
    const KindEntry* entry = entryFor(kind);
    return entry ? entry->words : "failed";
}

Fault makeFault(FaultKind kind, std::string_view detail, FaultPlace place)
{
    Fault fault{kind, place, std::string(faultWords(kind))};
    // "is a folder" says it all; the system's words would only repeat it.
    if (!detail.empty() && kind != FaultKind::isFolder) {
        fault.words += ": ";
        fault.words += detail;
    }
    return fault;
}

} // namespace dls2mml
