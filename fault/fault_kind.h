// Every kind of failure any layer reports, from the stages up to the faces:
// the readers' faults, the file calls', the jobs' and the callers'. Each face
// maps a kind once, in one table (the command line's exit status, the C
// library's result code, the words the page and the command line show).
//
// A stage that only ever reports a few kinds keeps a narrow enumeration of its
// own whose values are these kinds' (declared with kindValue), so that its
// verdict becomes a kind by a cast and not by a hand-written table.
#pragma once

#include <cstdint>
#include <type_traits>

namespace dls2mml {

enum class FaultKind : std::uint8_t {
    none,
    // What a reader finds in a document or a stream.
    badMagic,       // the stream does not start with "tbr0", or the document not with its head
    badHeader,      // a stream header field holds a value no writer puts there (level, reserved bytes)
    truncated,      // the input ends before something it declares or needs
    corrupt,        // bytes the writer cannot have produced
    limitExceeded,  // a length or count beyond the most the format allows
    lengthMismatch, // two lengths that must agree do not
    trailingData,   // bytes after the end of the stream or of the document
    badText,        // the document's text departs from its fixed form (sizes line, Base64 lines, footer)
    outputRefused,  // the receiver of the decoded bytes stopped the decoding
    readFailed,     // the reader's input could not be read
    outOfMemory,    // the memory a block, a buffer or a bank needs could not be had
    // What a file call reports.
    cannotOpen,   // other open failures (permissions, ...)
    isFolder,
    cannotRead,
    cannotCreate, // the output (or its temporary) cannot be created
    writeFailed,
    diskFull,
    // What a job refuses or finds.
    noDlsInName,      // the output-name rule needs ".dls" in the path
    tooLarge,         // input or document beyond the format's 32-bit fields
    compressFailed,   // the block sort's own check failed
    verifyFailed,     // the document written does not decode to the input read
    inputChanged,     // a block that needs the exact pivot state appeared where the scan saw none
    sameFile,         // the output is one of the inputs
    bankDamaged,      // the document is whole, but the RIFF bank in it is not
    outputExists,     // the bank's file exists and may not be replaced
    noBankName,       // the document's name does not give the bank's back
    toTerminal,       // a bank is not written to a terminal
    fromTerminal,     // a bank or a document is not typed in on a terminal
    selectionRefused, // the instruments asked for cannot be chosen from this input
    pivotStateUnknown, // the input needs the pivot state, which an earlier input left unknown (shell/pivot_ledger.h)
    notDlsBank,       // the input is not a sound DLS bank where one is needed
    // What a caller gets wrong, or what should never happen.
    badArgument,      // an argument or option the call cannot take (the command line's usage errors)
    bufferTooSmall,   // the caller's buffer cannot hold the result
    internal,         // a failure no caller can cause
};

inline constexpr int faultKindCount = static_cast<int>(FaultKind::internal) + 1;

// A narrow enumeration's value for a kind: `cannotOpen = kindValue(FaultKind::cannotOpen)`.
constexpr std::uint8_t kindValue(FaultKind kind) noexcept { return static_cast<std::uint8_t>(kind); }

// A narrow enumeration's value back as its kind.
template <typename Narrow>
constexpr FaultKind asFaultKind(Narrow value) noexcept
{
    static_assert(std::is_same_v<std::underlying_type_t<Narrow>, std::uint8_t>, "a narrow kind is one byte");
    return static_cast<FaultKind>(static_cast<std::uint8_t>(value));
}

// The faults a document reader (the stream decoder, the Base64 reader, the
// document's text) finds in what it reads, as opposed to those of its file
// or of the job around it.
constexpr bool isReaderFault(FaultKind kind) noexcept
{
    return kind >= FaultKind::badMagic && kind <= FaultKind::badText;
}

// The kind's name as written in this enumeration: "badMagic".
const char* faultKindName(FaultKind kind) noexcept;

} // namespace dls2mml
