// The range coder's adaptive frequency models and its ten symbol classes
// (docs/format.md, section 5.1). Counts are 16-bit and start at 1; an update
// adds 1, and a total of 32768 halves every count, keeping it odd.
#pragma once

#include <array>
#include <cstdint>

namespace dls2mml {

enum SymbolClass : std::int32_t { symbolClassCount = 10 };

inline constexpr std::int32_t endSymbol = 256;
inline constexpr std::int32_t coderSymbolCount = 257; // bytes 0..255 and the end symbol
inline constexpr std::array<std::int32_t, symbolClassCount> classBase = {0, 1, 2, 3, 5, 9, 17, 33, 65, 129};
inline constexpr std::array<std::int32_t, symbolClassCount> classSize = {1, 1, 1, 2, 4, 8, 16, 32, 64, 128};
inline constexpr std::int32_t contextModelCount = 100;
inline constexpr std::int32_t contextModelSymbols = 10;
inline constexpr std::uint32_t rescaleTotal = 32768;

struct FrequencyModel {
    static constexpr std::int32_t maxSymbols = 128;
    std::uint16_t symbolCount = 0;
    std::array<std::uint16_t, maxSymbols> freq{};
    // cum[i] = freq[0] + ... + freq[i-1]; padded to whole groups of eight so an
    // update can add to eight counts at a time (entries past n are never read).
    alignas(16) std::array<std::uint16_t, maxSymbols + 8> cum{};

    std::uint16_t total() const noexcept { return cum[symbolCount]; }
};

// Uniform counts: freq[i] = 1, cum[i] = i.
void resetModel(FrequencyModel& model) noexcept;
// Counts one occurrence of index s and rescales when the total reaches 32768.
void updateModel(FrequencyModel& model, std::int32_t s) noexcept;

// The full model set of one stream: 100 context models of 10 symbols, indexed
// by 10 * c2 + c1, and one offset model per class 3..9.
struct ModelSet {
    std::array<FrequencyModel, contextModelCount> contextModels;
    std::array<FrequencyModel, symbolClassCount> offsetModels; // slots 0..2 unused
    std::array<std::int32_t, coderSymbolCount> classOfSymbol{};

    ModelSet();           // fills the class table and sets each model's size
    void resetModels() noexcept;
};

} // namespace dls2mml
