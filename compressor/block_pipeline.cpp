#include "compressor/block_pipeline.h"

#include <array>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "compressor/block_compressor.h"
#include "compressor/rank_symbols.h"

namespace dls2mml {
namespace {

constexpr std::size_t slotCount = 2;

// A sorted block on its way from the sorting thread to the coding thread.
struct Slot {
    ByteBuffer lastColumn{bufferSizeForLevel1};
    SortedBlock sorted;
    std::size_t sliceLength = 0;
    bool full = false;
    bool last = false; // no block in this slot: the input has ended
};

struct SortSide {
    ByteBuffer slice{blockSizeForLevel1};
    ByteBuffer block{bufferSizeForLevel1 + 1};
    SortArrays arrays{bufferSizeForLevel1};
};

struct CodeSide {
    ByteBuffer ranks{bufferSizeForLevel1};
    ByteBuffer symbols{rankSymbolsBound(bufferSizeForLevel1)};
    ByteBuffer frame{frameBound(blockSizeForLevel1)};
    ModelSet models;
};

class Pipeline {
public:
    Pipeline(const SliceReader& reader, const FrameSink& sink) : reader_(reader), sink_(sink) {}

    PipelineResult run(bool threads)
    {
        std::thread coder;
        if (threads) {
            try {
                coder = std::thread([this] { codeAll(); });
            } catch (const std::system_error&) {
                threads = false;
            }
        }
        sortAll(threads);
        if (coder.joinable())
            coder.join();
        return result_;
    }

private:
    // The sorting side; without a worker it codes each block itself at once.
    void sortAll(bool threads)
    {
        for (std::size_t index = 0;; ++index) {
            Slot& slot = slots_[index % slotCount];
            if (!waitFor(slot, false))
                return;
            std::size_t got = 0;
            if (!reader_(sort_.slice.span(), got)) {
                finish(slot, PipelineFault::readFailed);
                return;
            }
            if (got == 0) {
                finish(slot, PipelineFault::none);
                if (!threads)
                    codeOne(slot);
                return;
            }
            result_.inputLength += got;
            slot.sliceLength = got;
            slot.sorted = sortSlice(sort_.slice.span().first(got), sort_.block.span(), slot.lastColumn.span(),
                                    sort_.arrays);
            if (!slot.sorted.ok) {
                finish(slot, PipelineFault::sortFailed);
                return;
            }
            publish(slot);
            if (!threads && !codeOne(slot))
                return;
        }
    }

    void codeAll()
    {
        for (std::size_t index = 0;; ++index)
            if (!codeOne(slots_[index % slotCount]))
                return;
    }

    // Codes the block in slot (waiting for it); false when the pipeline ends.
    bool codeOne(Slot& slot)
    {
        if (!waitFor(slot, true))
            return false;
        if (slot.last)
            return false;
        const std::size_t length = codeSortedBlock(slot.lastColumn.span(), slot.sorted, code_.ranks.span(),
                                                   code_.symbols.span(), code_.models, code_.frame.span());
        if (!sink_(code_.frame.span().first(length))) {
            std::lock_guard lock(mutex_);
            if (result_.fault == PipelineFault::none)
                result_.fault = PipelineFault::sinkFailed;
            stopped_ = true;
            changed_.notify_all();
            return false;
        }
        std::lock_guard lock(mutex_);
        slot.full = false;
        changed_.notify_all();
        return true;
    }

    // Waits until the slot is full (or empty); false when the pipeline stopped.
    bool waitFor(Slot& slot, bool full)
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stopped_ || slot.full == full; });
        return slot.full == full && !(stopped_ && !full);
    }

    void publish(Slot& slot)
    {
        std::lock_guard lock(mutex_);
        slot.last = false;
        slot.full = true;
        changed_.notify_all();
    }

    // Ends the input: the coder stops at this slot after coding those before.
    void finish(Slot& slot, PipelineFault fault)
    {
        std::lock_guard lock(mutex_);
        if (result_.fault == PipelineFault::none)
            result_.fault = fault;
        slot.last = true;
        slot.full = true;
        changed_.notify_all();
    }

    const SliceReader& reader_;
    const FrameSink& sink_;
    SortSide sort_;
    CodeSide code_;
    std::array<Slot, slotCount> slots_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stopped_ = false; // the sink refused a frame
    PipelineResult result_;
};

} // namespace

PipelineResult compressSlices(const SliceReader& reader, const FrameSink& sink, bool threads)
{
    try {
        auto pipeline = std::make_unique<Pipeline>(reader, sink);
        return pipeline->run(threads);
    } catch (const std::bad_alloc&) {
        return {PipelineFault::outOfMemory, 0};
    }
}

} // namespace dls2mml
