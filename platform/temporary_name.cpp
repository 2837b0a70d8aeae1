#include "platform/temporary_name.h"

namespace dls2mml {
namespace {

std::uint64_t mix(std::uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

} // namespace

std::string lettersFrom(std::span<const std::uint8_t> randomBytes)
{
    constexpr std::string_view alphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string letters;
    letters.reserve(randomBytes.size());
    for (std::uint8_t byte : randomBytes)
        letters += alphabet[byte % alphabet.size()];
    return letters;
}

void fillFromSeed(std::uint64_t seed, std::span<std::uint8_t> bytes)
{
    for (std::uint8_t& byte : bytes) {
        seed = mix(seed);
        byte = static_cast<std::uint8_t>(seed >> 32);
    }
}

std::string temporaryName(std::string_view folder, std::string_view letters)
{
    std::string name(folder);
    name.append(".dls2mml-").append(letters).append(".tmp");
    return name;
}

} // namespace dls2mml
