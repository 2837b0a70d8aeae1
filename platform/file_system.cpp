#include "platform/file_system.h"

namespace dls2mml {

std::string describeIoStatus(const IoStatus& status)
{
    std::string words;
    switch (status.error) {
    case IoError::none: return "ok";
    case IoError::notFound:
    case IoError::cannotOpen: words = "cannot open"; break;
    case IoError::isFolder: return "is a folder"; // says it all
    case IoError::cannotRead: words = "cannot read"; break;
    case IoError::cannotCreate: words = "cannot create output"; break;
    case IoError::writeFailed: words = "write failed"; break;
    case IoError::diskFull: words = "disk full"; break;
    }
    if (!status.detail.empty())
        words += ": " + status.detail;
    return words;
}

} // namespace dls2mml
