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
#include "compressor/rank_transform.h"

namespace dls2mml {
namespace {

constexpr std::size_t slotCount = 2;

// A block on its way from one thread to the next: its last column (from the
// sorting thread to the ranking thread) or its ranks (from there to the coder).
struct Slot {
    ByteBuffer bytes{bufferSizeForLevel1};
    SortedBlock sorted;
    bool full = false;
    bool last = false; // no block in this slot: the input has ended
};

struct SortSide {
    ByteBuffer slice{blockSizeForLevel1};
    ByteBuffer block{bufferSizeForLevel1 + 1};
    SortArrays arrays{bufferSizeForLevel1};
};

struct CodeSide {
    ByteBuffer symbols{rankSymbolsBound(bufferSizeForLevel1)};
    ByteBuffer frame{frameBound(blockSizeForLevel1)};
    ModelSet models;
};

// Three stages, each on its own thread when threads are wanted: read,
// pre-pass and sort; rank transform; rank symbols, range coder and sink.
// On two cores the system shares them out, so neither core waits while the
// other has work of any stage.
class Pipeline {
public:
    Pipeline(const SliceReader& reader, const FrameSink& sink) : reader_(reader), sink_(sink) {}

    PipelineResult run(bool threads)
    {
        std::thread ranker;
        std::thread coder;
        if (threads) {
            try {
                coder = std::thread([this] { codeAll(); });
                ranker = std::thread([this] { rankAll(); });
            } catch (const std::system_error&) {
                // Without the ranking thread the coder would wait for ever:
                // stop it before any block was read and run every stage here.
                if (coder.joinable()) {
                    stop();
                    coder.join();
                    stopped_ = false;
                }
                threads = false;
            }
        }
        sortAll(threads);
        if (ranker.joinable())
            ranker.join();
        if (coder.joinable())
            coder.join();
        return result_;
    }

private:
    // The sorting stage; without threads it also runs the later stages of
    // each block at once.
    void sortAll(bool threads)
    {
        for (std::size_t index = 0;; ++index) {
            Slot& slot = sorted_[index % slotCount];
            if (!waitFor(slot, false))
                return;
            std::size_t got = 0;
            if (!reader_(sort_.slice.span(), got)) {
                finish(slot, PipelineFault::readFailed);
                return;
            }
            if (got == 0) {
                finish(slot, PipelineFault::none);
                return;
            }
            result_.inputLength += got;
            slot.sorted = sortSlice(sort_.slice.span().first(got), sort_.block.span(), slot.bytes.span(), sort_.arrays);
            if (!slot.sorted.ok) {
                finish(slot, PipelineFault::sortFailed);
                return;
            }
            publish(slot);
            if (!threads && !(rankOne(index) && codeOne(index)))
                return;
        }
    }

    void rankAll()
    {
        for (std::size_t index = 0; rankOne(index); ++index) {
        }
    }

    void codeAll()
    {
        for (std::size_t index = 0; codeOne(index); ++index) {
        }
    }

    // Rank-transforms block index; false when the pipeline ends.
    bool rankOne(std::size_t index)
    {
        Slot& from = sorted_[index % slotCount];
        Slot& to = ranked_[index % slotCount];
        if (!waitFor(from, true) || !waitFor(to, false))
            return false;
        if (from.last) {
            std::lock_guard lock(mutex_);
            to.last = true;
            to.full = true;
            changed_.notify_all();
            return false;
        }
        const auto m = static_cast<std::size_t>(from.sorted.length);
        rankTransform(to.bytes.span(), from.bytes.span().first(m));
        to.sorted = from.sorted;
        std::lock_guard lock(mutex_);
        from.full = false;
        to.last = false;
        to.full = true;
        changed_.notify_all();
        return true;
    }

    // Codes block index and hands its frame on; false when the pipeline ends.
    bool codeOne(std::size_t index)
    {
        Slot& slot = ranked_[index % slotCount];
        if (!waitFor(slot, true) || slot.last)
            return false;
        const std::size_t length =
            codeRanks(slot.bytes.span(), slot.sorted, code_.symbols.span(), code_.models, code_.frame.span());
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
        return !stopped_;
    }

    void publish(Slot& slot)
    {
        std::lock_guard lock(mutex_);
        slot.last = false;
        slot.full = true;
        changed_.notify_all();
    }

    // Ends the input: the later stages stop at this slot after the blocks before.
    void finish(Slot& slot, PipelineFault fault)
    {
        std::lock_guard lock(mutex_);
        if (result_.fault == PipelineFault::none)
            result_.fault = fault;
        slot.last = true;
        slot.full = true;
        changed_.notify_all();
    }

    void stop()
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        changed_.notify_all();
    }

    const SliceReader& reader_;
    const FrameSink& sink_;
    SortSide sort_;
    CodeSide code_;
    std::array<Slot, slotCount> sorted_;
    std::array<Slot, slotCount> ranked_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stopped_ = false; // the sink refused a frame
    PipelineResult result_;
};

} // namespace

PipelineResult compressSlices(const SliceReader& reader, const FrameSink& sink, bool threads)
{
#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
    threads = false; // a browser build without shared memory has no threads to start
#endif
    try {
        auto pipeline = std::make_unique<Pipeline>(reader, sink);
        return pipeline->run(threads);
    } catch (const std::bad_alloc&) {
        return {PipelineFault::outOfMemory, 0};
    }
}

} // namespace dls2mml
