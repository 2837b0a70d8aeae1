// What kind of fault a reader found, beside its words and its place: the
// stream decoder, the Base64 reader and the document reader all report one.
#pragma once

namespace dls2mml {

enum class FaultKind {
    none,
    badMagic,       // the stream does not start with "tbr0", or the document not with its head
    badHeader,      // a stream header field holds a value no writer puts there (level, reserved bytes)
    truncated,      // the input ends before something it declares or needs
    corrupt,        // bytes the writer cannot have produced
    limitExceeded,  // a length or count beyond the most the format allows
    lengthMismatch, // two lengths that must agree do not
    trailingData,   // bytes after the end of the stream or of the document
    badText,        // the document's text departs from its fixed form (sizes line, Base64 lines, footer)
    outputRefused,  // the receiver of the decoded bytes stopped the decoding
    readFailed,     // the input could not be read
    outOfMemory,    // the reader could not obtain the memory a block needs
};

// The kind's name as written in this enumeration: "badMagic".
const char* faultKindName(FaultKind kind) noexcept;

} // namespace dls2mml
