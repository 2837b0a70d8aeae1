// -l: what a document or a bank holds, without writing anything.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cli/options.h"

namespace dls2mml::cli {

// The two numbers of a document's sizes line.
struct DocumentSizes {
    std::uint64_t bankBytes = 0;
    std::uint64_t streamBytes = 0;
};

// The sizes line of the document that text starts with (its head, then
// "(%u %u)\n"); nullopt when text does not start so.
std::optional<DocumentSizes> parseDocumentSizes(std::string_view text);
// The same, from the first bytes of the file at path.
std::optional<DocumentSizes> readDocumentSizes(const std::string& path);

// Returns the exit status: 0 when every file could be listed, 1 otherwise.
int runListCommand(const Options& options);

} // namespace dls2mml::cli
