// The output-name rule and its inverse: a bank's path gives its document's
// path (the first ".dls", in any case, becomes "_dls" and ".mml" is appended),
// and a document's path gives back the bank's (docs/format.md, section 2.3).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace dls2mml {

// The position of the first ".dls" in lowerPath, if any.
std::optional<std::size_t> findDlsMark(std::string_view lowerPath);
// The output-name rule; nullopt when lowerPath holds no ".dls".
std::optional<std::string> deriveOutputName(std::string_view path, std::string_view lowerPath);
// The inverse of the output-name rule: the document's path without its ".mml"
// (any case), with the first "_dls" (any case) turned back into ".dls". Only a
// name that the rule maps back onto documentPath is given; nullopt otherwise.
std::optional<std::string> deriveBankName(std::string_view documentPath);
// ASCII-only lower-casing, enough to find ".dls" (the command line's stand-in for
// the platform's own lower-casing of dropped paths).
std::string lowerAscii(std::string_view text);

} // namespace dls2mml
