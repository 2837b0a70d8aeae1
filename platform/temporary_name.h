// The names of temporaries, the same on every platform: ".dls2mml-", ten
// letters and digits, ".tmp", in the folder of the file they will replace.
// Short and unpredictable, so that a name taken by another file is merely
// tried again and nobody can place a file where the next one will go.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace dls2mml {

inline constexpr std::size_t temporaryLetterCount = 10;

// Letters and digits, one for each random byte, lower case so that file
// systems that ignore case see as many names (about 5.2 bits each).
std::string lettersFrom(std::span<const std::uint8_t> randomBytes);
// Bytes for when the system gives no random ones: a seed (the clock, the
// process, a counter) stirred for each byte.
void fillFromSeed(std::uint64_t seed, std::span<std::uint8_t> bytes);
// folder (with its last separator, or empty) + ".dls2mml-" + letters + ".tmp".
std::string temporaryName(std::string_view folder, std::string_view letters);

} // namespace dls2mml
