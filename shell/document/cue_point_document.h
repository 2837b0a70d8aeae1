// The cue-point document's fixed head and footer and its sizes line
// (docs/format.md, section 2.1); the output-name rule is in output_name.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dls2mml {

inline constexpr std::string_view documentHead = "//========== .DLS_DATA ==========\nCuePoint={\"QelDlsData(";
inline constexpr std::string_view documentFooter = ")\"}\n";
// Largest document length the format's signed 32-bit counts can describe.
inline constexpr std::uint64_t maxDocumentLength = 0x7FFFFFFF;

// "(<inputLength> <streamLength>)\n". Here and everywhere else a stream's
// length is the whole tbr0 stream's, its 12-byte header included.
std::string formatSizesLine(std::uint64_t inputLength, std::uint64_t streamLength);
// Total bytes of the document for these two lengths.
std::uint64_t documentLength(std::uint64_t inputLength, std::uint64_t streamLength);
// The most bytes a document of an input this long can take (the stream's
// worst case, in text).
std::uint64_t documentBound(std::uint64_t inputLength);

} // namespace dls2mml
