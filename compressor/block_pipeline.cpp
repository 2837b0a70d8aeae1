#include "compressor/block_pipeline.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "compressor/block_compressor.h"
#include "compressor/equal_rotations.h"
#include "compressor/rank_symbols.h"
#include "compressor/run_length_prepass.h"

namespace dls2mml {
namespace {

// What one thread needs to carry a block through every stage; allocated once
// per thread and reused for each block it takes.
struct BlockWork {
    ByteBuffer slice{blockSizeForLevel1};
    ByteBuffer block{bufferSizeForLevel1 + wrappedBlockPadding};    // pre-pass output, room for the sort's wrap
    ByteBuffer lastColumn{rankSymbolsBound(bufferSizeForLevel1)};    // then the rank symbols
    ByteBuffer ranks{bufferSizeForLevel1};
    ByteBuffer frame{frameBound(blockSizeForLevel1)};
    SortArrays arrays{bufferSizeForLevel1};
    ModelSet models;
};

class Pipeline {
public:
    Pipeline(const SliceReader& reader, const FrameSink& sink, const PipelineOptions& options, unsigned threads)
        : reader_(reader), sink_(sink), check_(options.check), damage_(options.damage), orderedBlocks_(options.orderedBlocks),
          window_(threads > 1 ? 2 * static_cast<std::size_t>(threads) : 1)
    {
    }

    PipelineResult run(std::unique_ptr<BlockWork> callerWork, unsigned threads)
    {
        std::vector<std::thread> helpers;
        for (unsigned i = 1; i < threads; ++i) {
            try {
                helpers.emplace_back([this] { help(); });
            } catch (const std::system_error&) {
                break; // carry on with the threads there are
            }
        }
        workAll(*callerWork);
        for (std::thread& helper : helpers)
            helper.join();
        return {fault_, inputLength_};
    }

private:
    // A helper thread: without its own work memory it leaves the blocks to the others.
    void help()
    {
        std::unique_ptr<BlockWork> work;
        try {
            work = std::make_unique<BlockWork>();
        } catch (const std::bad_alloc&) {
            return;
        }
        workAll(*work);
    }

    void workAll(BlockWork& work)
    {
        std::size_t index = 0;
        std::size_t got = 0;
        while (claim(work, index, got)) {
            if (!codeBlock(work, index, got))
                return;
        }
    }

    // Takes and reads the next slice in input order; false when there is none
    // (the input ended, or the pipeline stopped).
    bool claim(BlockWork& work, std::size_t& index, std::size_t& got)
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stopped() || ended_ || (!reading_ && nextRead_ < nextDeliver_ + window_); });
        if (stopped() || ended_)
            return false;
        reading_ = true;
        index = nextRead_++;
        lock.unlock();
        got = 0;
        const bool read = reader_(work.slice.span(), got);
        lock.lock();
        reading_ = false;
        changed_.notify_all();
        if (!read) {
            stopAt(index, PipelineFault::readFailed);
            return false;
        }
        if (got == 0) {
            ended_ = true;
            return false;
        }
        inputLength_ += got;
        if (got < work.slice.size)
            ended_ = true; // a short slice is the last
        return true;
    }

    // Every stage of one block, then its frame to the sink in turn.
    bool codeBlock(BlockWork& work, std::size_t index, std::size_t got)
    {
        const std::span<std::uint8_t> block = work.block.span();
        SortedBlock sorted;
        sorted.length = runLengthPrepass(block, work.slice.span().first(got));
        const auto m = static_cast<std::size_t>(sorted.length);
        SortResult result;
        if (index < orderedBlocks_) {
            if (!waitForSortTurn(index))
                return false;
            result = sortBlock(block, sorted.length, work.lastColumn.span(), work.arrays, pivotGenerator);
            passSortTurn();
        } else {
            if (hasEqualRotations(block.first(m))) {
                stop(index, PipelineFault::inputChanged);
                return false;
            }
            // All rotations distinct: the order is unique, any correct sort finds it.
            result = sortDistinctRotations(block, sorted.length, work.lastColumn.span(), work.arrays);
        }
        if (!result.ok) {
            stop(index, PipelineFault::sortFailed);
            return false;
        }
        sorted.primaryIndex = result.primaryIndex;
        sorted.ok = true;
        std::size_t symbolCount = 0;
        const std::size_t length = codeSortedBlock(work.lastColumn.span(), sorted, work.ranks.span(),
                                                   work.lastColumn.span(), work.models, work.frame.span(), &symbolCount);
        const std::span<std::uint8_t> frame = work.frame.span().first(length);
        if (damage_)
            damage_(index, frame);
        if (check_ && !check_(index, work.slice.span().first(got), frame, hintsFor(work, m, symbolCount))) {
            stop(index, PipelineFault::checkFailed);
            return false;
        }
        return deliver(index, frame);
    }

    // The coded symbols (they stand where the last column was), the rows of
    // a few rotations, read off the sort, and the sort's arrays to work in.
    static FrameHints hintsFor(const BlockWork& work, std::size_t m, std::size_t symbolCount)
    {
        FrameHints hints;
        hints.symbols = work.lastColumn.span().first(symbolCount);
        hints.symbolsKnown = true;
        if (m >= segmentedWalkMinimum) {
            hints.rows = segmentRows(std::span<const std::int32_t>(work.arrays.suffixArray.get(), m), m);
            hints.rowsKnown = true;
        }
        // The sort's arrays are done with once the rows are read.
        const std::size_t capacity = work.arrays.capacity;
        hints.spareWords = std::span<std::uint32_t>(reinterpret_cast<std::uint32_t*>(work.arrays.rankArray.get()), capacity);
        hints.spareBytes = std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(work.arrays.suffixArray.get()),
                                                   capacity * sizeof(std::int32_t));
        return hints;
    }

    bool waitForSortTurn(std::size_t index)
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stopped() || sortTurn_ == index; });
        return !stopped();
    }

    void passSortTurn()
    {
        std::lock_guard lock(mutex_);
        ++sortTurn_;
        changed_.notify_all();
    }

    // Hands the frame on if it is the sink's turn (and then every parked
    // frame that follows it); otherwise parks a copy of it.
    bool deliver(std::size_t index, std::span<const std::uint8_t> frame)
    {
        std::unique_lock lock(mutex_);
        if (stopped())
            return false;
        if (index != nextDeliver_ || delivering_) {
            lock.unlock();
            std::vector<std::uint8_t> copy;
            try {
                copy.assign(frame.begin(), frame.end());
            } catch (const std::bad_alloc&) {
                stop(index, PipelineFault::outOfMemory);
                return false;
            }
            lock.lock();
            parked_.emplace(index, std::move(copy));
            if (!delivering_ && parked_.begin()->first == nextDeliver_)
                return deliverParked(lock);
            return true;
        }
        delivering_ = true;
        lock.unlock();
        const bool taken = sink_(frame);
        lock.lock();
        delivering_ = false;
        if (!taken) {
            stopAt(index, PipelineFault::sinkFailed);
            return false;
        }
        ++nextDeliver_;
        changed_.notify_all();
        return deliverParked(lock);
    }

    bool deliverParked(std::unique_lock<std::mutex>& lock)
    {
        while (!stopped() && !parked_.empty() && parked_.begin()->first == nextDeliver_) {
            auto node = parked_.extract(parked_.begin());
            delivering_ = true;
            lock.unlock();
            const bool taken = sink_(node.mapped());
            lock.lock();
            delivering_ = false;
            if (!taken) {
                stopAt(node.key(), PipelineFault::sinkFailed);
                return false;
            }
            ++nextDeliver_;
            changed_.notify_all();
        }
        return !stopped();
    }

    bool stopped() const { return fault_ != PipelineFault::none; }

    void stop(std::size_t index, PipelineFault fault)
    {
        std::lock_guard lock(mutex_);
        stopAt(index, fault);
    }

    // With the lock held. The fault of the earliest block wins, as in a
    // one-threaded run, which never gets past it.
    void stopAt(std::size_t index, PipelineFault fault)
    {
        if (fault_ == PipelineFault::none || index < faultIndex_) {
            fault_ = fault;
            faultIndex_ = index;
        }
        changed_.notify_all();
    }

    const SliceReader& reader_;
    const FrameSink& sink_;
    const FrameCheck& check_;
    const FrameDamage& damage_;
    const std::uint64_t orderedBlocks_;
    const std::size_t window_; // how far reading may run ahead of the sink, in blocks

    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t nextRead_ = 0;
    bool reading_ = false;
    bool ended_ = false;
    std::uint64_t inputLength_ = 0;
    std::size_t sortTurn_ = 0;
    std::size_t nextDeliver_ = 0;
    bool delivering_ = false;
    std::map<std::size_t, std::vector<std::uint8_t>> parked_;
    PipelineFault fault_ = PipelineFault::none;
    std::size_t faultIndex_ = 0;
};

} // namespace

unsigned threadsForCores() noexcept
{
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : cores;
}

PipelineResult compressSlices(const SliceReader& reader, const FrameSink& sink, const PipelineOptions& options)
{
#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
    const unsigned threads = 1; // a browser build without shared memory has no threads to start
#else
    const unsigned threads = options.threads == 0 ? threadsForCores() : options.threads;
#endif
    try {
        auto work = std::make_unique<BlockWork>();
        Pipeline pipeline(reader, sink, options, threads);
        return pipeline.run(std::move(work), threads);
    } catch (const std::bad_alloc&) {
        return {PipelineFault::outOfMemory, 0};
    }
}

} // namespace dls2mml
