// Up to three payloads range-decoded at once on one thread (docs/format.md,
// section 5.1, the same steps as decodeRangeBlock).
//
// A step of the decoder waits on the one before it, so one payload leaves
// most of a core idle. With 512-bit vector instructions a step finds its
// index in a few instructions (every product of r and a count at once),
// which frees the core for other payloads whose steps run between the
// first's. Where the processor lacks them, none of this is offered and
// frames are decoded one at a time as before.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "compressor/frequency_model.h"
#include "compressor/reused_buffer.h"
#include "compressor/stream_format.h"

namespace dls2mml {

// The class models of one payload in the layout the vector search reads:
// every level's counts from a zero lane on, 16 lanes of 16 bits loaded and
// stored whole, so a count just raised is read back from the store.
struct LaneDecoderModels {
    // cum[0] = 0, cum[1..10] the context model's cumulative counts, zeros after.
    struct Context {
        alignas(64) std::array<std::uint16_t, 32> cum{};
        std::uint32_t total = 0;
    };
    // Groups of eight offsets: ends[0] = 0 and ends[1 + g] the cumulative
    // count at the end of group g, zeros past the model; within[g][0] = 0 and
    // within[g][1 + j] the count from the group's start to the end of index
    // 8g + j, zeros past the model. Zeros are never raised, and the masks keep
    // them out of every search.
    struct Offset {
        alignas(64) std::array<std::uint16_t, 32> ends{};
        alignas(32) std::array<std::array<std::uint16_t, 16>, 16> within{};
        std::uint32_t total = 0;
        std::uint32_t symbolCount = 0;
        std::uint32_t groupCount = 0;
        std::uint32_t groupMask = 0;  // groups whose end may lie at or below the code
        std::uint32_t withinMask = 0; // indices of a group likewise
    };
    std::array<Context, contextModelCount> contextModels;
    std::array<Offset, symbolClassCount> offsetModels; // slots 0..2 unused
};

class InterleavedRangeDecoder {
public:
    static constexpr std::size_t maxLanes = 3;
    using Payload = std::span<const std::uint8_t>;

    // Whether this processor has the instructions the decoder needs.
    static bool available() noexcept;

    // Decodes payloads[i] into *out[i] (room for limit symbols each is taken
    // once), for 1 to maxLanes payloads. True when every one decodes without
    // a fault, each then holding exactly what decodeRangeBlock would give;
    // false when any has a fault of any kind, or when the decoder is not
    // available (what out then holds is unspecified): the caller then decodes
    // each with decodeRangeBlock, which names the fault.
    bool decode(std::span<const Payload> payloads, std::span<ReusedBytes* const> out,
                std::size_t limit = maxRankSymbols) noexcept;

private:
    std::array<LaneDecoderModels, maxLanes> models_;
};

} // namespace dls2mml
