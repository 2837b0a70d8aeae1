// The cue-point document's fixed head and footer, its sizes line and the
// output-name rule (docs/format.md, sections 2.1 and 2.3).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dls2mml {

inline constexpr std::string_view documentHead = "//========== .DLS_DATA ==========\nCuePoint={\"QelDlsData(";
inline constexpr std::string_view documentFooter = ")\"}\n";
// Largest document length the format's signed 32-bit counts can describe.
inline constexpr std::uint64_t maxDocumentLength = 0x7FFFFFFF;

// "(<inputLength> <streamLength>)\n"
std::string formatSizesLine(std::uint64_t inputLength, std::uint64_t streamLength);
// Total bytes of the document for these two lengths.
std::uint64_t documentLength(std::uint64_t inputLength, std::uint64_t streamLength);

// The position of the first ".dls" in lowerPath, if any.
std::optional<std::size_t> findDlsMark(std::string_view lowerPath);
// The output-name rule; nullopt when lowerPath holds no ".dls".
std::optional<std::string> deriveOutputName(std::string_view path, std::string_view lowerPath);
// ASCII-only lower-casing, enough to find ".dls" (the command line's stand-in for
// the platform's own lower-casing of dropped paths).
std::string lowerAscii(std::string_view text);

} // namespace dls2mml
