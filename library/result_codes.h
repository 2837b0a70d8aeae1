// The C library's result codes (include/dls2mml/dls2mml.h) for the common
// kinds of failure: the one place where kinds become DLS2MML_E_* codes.
#pragma once

#include "fault/fault.h"

namespace dls2mml {

// The code for a kind, wherever it stands. A fault the reader finds in a
// document is DLS2MML_E_DOCUMENT by its kind alone (lengthMismatch:
// DLS2MML_E_STREAM); its place sorts it further (below).
int resultCodeFor(FaultKind kind) noexcept;

// The code for a fault: a reader's fault found when the document ended is
// the document's early end (DLS2MML_E_TRUNCATED); one in the stream, or of
// the sizes line against the stream, is the stream's (DLS2MML_E_STREAM); any
// other is the text's (DLS2MML_E_DOCUMENT). Every other fault by its kind.
int resultCodeFor(const Fault& fault) noexcept;

} // namespace dls2mml
