#include "library/result_codes.h"

#include "dls2mml/dls2mml.h"

namespace dls2mml {
namespace {

// A fault the reader met in the document's text or stream, or in reading it.
bool foundInDocument(FaultKind kind) noexcept { return isReaderFault(kind) || kind == FaultKind::readFailed; }

} // namespace

int resultCodeFor(FaultKind kind) noexcept
{
    switch (kind) {
    case FaultKind::none: return DLS2MML_OK;
    case FaultKind::badArgument: return DLS2MML_E_ARGUMENT;
    case FaultKind::bufferTooSmall: return DLS2MML_E_CAPACITY;
    case FaultKind::tooLarge: return DLS2MML_E_TOO_LARGE;
    case FaultKind::outOfMemory: return DLS2MML_E_NO_MEMORY;
    case FaultKind::lengthMismatch: return DLS2MML_E_STREAM;
    case FaultKind::outputRefused: return DLS2MML_E_STOPPED;
    case FaultKind::selectionRefused: return DLS2MML_E_SELECTION;
    case FaultKind::notDlsBank: return DLS2MML_E_BANK;
    default: break;
    }
    // The library opens no file and takes no name: the file calls' and the
    // jobs' other faults cannot come from its callers.
    return foundInDocument(kind) ? DLS2MML_E_DOCUMENT : DLS2MML_E_INTERNAL;
}

int resultCodeFor(const Fault& fault) noexcept
{
    if (!foundInDocument(fault.kind))
        return resultCodeFor(fault.kind);
    if (fault.place.atEnd)
        return DLS2MML_E_TRUNCATED;
    if (fault.place.streamByte)
        return DLS2MML_E_STREAM;
    return resultCodeFor(fault.kind);
}

} // namespace dls2mml
