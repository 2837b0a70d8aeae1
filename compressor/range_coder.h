// The class-model range coder, the last stage of a block, and its inverse
// (docs/format.md, sections 6.5 and 5.1). The models are reset for every
// block, so a payload depends on nothing outside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "compressor/frequency_model.h"
#include "compressor/reused_buffer.h"
#include "compressor/stage_fault.h"
#include "compressor/stream_format.h"

// A step of the coder or the decoder, inlined into its loop whatever the
// compiler's own count of its size says: each loop is one long chain of steps.
#if defined(__GNUC__)
#define DLS2MML_CODER_STEP [[gnu::always_inline]] inline
#else
#define DLS2MML_CODER_STEP inline
#endif

namespace dls2mml {

// Two coding steps per symbol at most two bytes each, the end symbol, the flush.
constexpr std::size_t encodeBlockBound(std::size_t length) { return 4 * (length + 1) + 4; }

// floor(n / total) for a model's total (2 ..= 32768), without a division.
std::uint32_t divideByTotal(std::uint32_t n, std::uint32_t total) noexcept;

// out must hold encodeBlockBound(symbols.size()) bytes; returns the payload length.
std::int32_t encodeBlock(ModelSet& models, std::span<std::uint8_t> out, std::span<const std::uint8_t> symbols) noexcept;

// Range-decodes payload into symbols (replacing its contents with at most
// limit symbols; room for limit is taken once, and only the pages written
// become memory in use) with the class models (reset first), up to and
// including the end symbol. The payload must end exactly
// where the coder's four flush bytes end. position: payload byte index.
StageFault decodeRangeBlock(ModelSet& models, std::span<const std::uint8_t> payload, ReusedBytes& symbols,
                            std::size_t limit = maxRankSymbols);
// True when decodeRangeBlock(models, payload, out) would succeed with out ==
// symbols (the end symbol not included in symbols); false otherwise (any
// fault, or other symbols). It decodes with its own models, knowing which
// index each step must find: the check of a payload just coded, at about the
// cost of coding it.
bool payloadHoldsSymbols(ModelSet& models, std::span<const std::uint8_t> payload,
                         std::span<const std::uint8_t> symbols) noexcept;
// The payload byte index at which the decoder stands once it has produced
// symbol number symbolIndex (for placing a later stage's fault in the stream).
std::size_t payloadPositionOfSymbol(ModelSet& models, std::span<const std::uint8_t> payload,
                                    std::size_t symbolIndex) noexcept;

} // namespace dls2mml
