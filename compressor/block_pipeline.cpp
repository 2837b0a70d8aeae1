#include "compressor/block_pipeline.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "compressor/block_compressor.h"
#include "compressor/equal_rotations.h"
#include "compressor/ordered_pool.h"
#include "compressor/rank_symbols.h"
#include "compressor/run_length_prepass.h"

namespace dls2mml {
namespace {

// One slice on its way: read by the owner, coded on any thread, its frame
// handed on by the owner in input order. Kept and reused once handed on.
struct SliceTask {
    ByteBuffer slice{blockSizeForLevel1};
    FrameBuffer frame{frameBound(blockSizeForLevel1)};
    std::size_t index = 0;
    std::size_t got = 0;         // bytes of the slice
    std::size_t frameLength = 0; // 0: the block was not coded (the pipeline stopped)
};

} // namespace

// What one thread needs to carry a block through every stage; made once per
// thread and reused for each block it takes.
struct BlockWork {
    ByteBuffer block{bufferSizeForLevel1 + wrappedBlockPadding};    // pre-pass output, room for the sort's wrap
    ByteBuffer lastColumn{rankSymbolsBound(bufferSizeForLevel1)};    // then the rank symbols
    ByteBuffer ranks{bufferSizeForLevel1};
    SortArrays arrays{bufferSizeForLevel1};
    ModelSet models;
};

namespace {

// The stages of one block, shared by the pipeline's threads and by callers
// that schedule blocks themselves, so that both code every block alike.
std::int32_t prepassBlock(std::span<const std::uint8_t> slice, BlockWork& work) noexcept
{
    return runLengthPrepass(work.block.span(), slice);
}

// Sorts the pre-passed block (length m): a block sorted without draws must
// have all rotations distinct, its order then being unique whatever the draws.
PipelineFault sortPrepassed(std::int32_t length, BlockSortKind sort, BlockWork& work, SortedBlock& sorted) noexcept
{
    const std::span<std::uint8_t> block = work.block.span();
    sorted.length = length;
    SortResult result;
    if (sort == BlockSortKind::drawsPivots) {
        result = sortBlock(block, length, work.lastColumn.span(), work.arrays, pivotGenerator);
    } else {
        if (hasEqualRotations(block.first(static_cast<std::size_t>(length))))
            return PipelineFault::inputChanged;
        result = sortDistinctRotations(block, length, work.lastColumn.span(), work.arrays);
    }
    if (!result.ok)
        return PipelineFault::sortFailed;
    sorted.primaryIndex = result.primaryIndex;
    sorted.ok = true;
    return PipelineFault::none;
}

std::size_t codeSorted(BlockWork& work, const SortedBlock& sorted, std::span<std::uint8_t> frame,
                       std::size_t& symbolCount) noexcept
{
    return codeSortedBlock(work.lastColumn.span(), sorted, work.ranks.span(), work.lastColumn.span(), work.models,
                           frame, &symbolCount);
}

class Pipeline {
public:
    Pipeline(const SliceReader& reader, const FrameSink& sink, const PipelineOptions& options, unsigned threads)
        : reader_(reader), sink_(sink), check_(options.check), damage_(options.damage), orderedBlocks_(options.orderedBlocks),
          window_(slicesInFlight(threads)),
          pool_(threads, [this](SliceTask& task, BlockWork& work) { codeBlock(task, work); })
    {
    }

    // Reads the slices in order, hands each to the pool, and passes the
    // frames to the sink in order as they come.
    PipelineResult run()
    {
        const auto deliver = [this](SliceTask& task) { return this->deliver(task); };
        for (std::size_t index = 0; !stopped(); ++index) {
            std::unique_ptr<SliceTask> task = pool_.spare();
            task->index = index;
            task->got = 0;
            task->frameLength = 0;
            if (!reader_(task->slice.span(), task->got)) {
                stop(index, PipelineFault::readFailed);
                break;
            }
            if (task->got == 0)
                break;
            inputLength_ += task->got;
            const bool last = task->got < task->slice.size; // a short slice is the last
            pool_.submit(std::move(task));
            if (!pool_.handOn(window_, deliver) || last)
                break;
        }
        if (!stopped())
            pool_.handOn(0, deliver);
        pool_.abandon();
        return {fault(), inputLength_};
    }

private:
    // Every stage of one block, on whichever thread has it.
    void codeBlock(SliceTask& task, BlockWork& work)
    {
        const std::span<const std::uint8_t> slice = task.slice.span().first(task.got);
        SortedBlock sorted;
        const std::int32_t prepassed = prepassBlock(slice, work);
        const auto m = static_cast<std::size_t>(prepassed);
        PipelineFault fault = PipelineFault::none;
        if (task.index < orderedBlocks_) {
            if (!waitForSortTurn(task.index))
                return;
            fault = sortPrepassed(prepassed, BlockSortKind::drawsPivots, work, sorted);
            passSortTurn();
        } else {
            fault = sortPrepassed(prepassed, BlockSortKind::distinctRotations, work, sorted);
        }
        if (fault != PipelineFault::none)
            return stop(task.index, fault);
        std::size_t symbolCount = 0;
        const std::size_t length = codeSorted(work, sorted, task.frame.span(), symbolCount);
        const std::span<std::uint8_t> frame = task.frame.span().first(length);
        if (damage_)
            damage_(task.index, frame);
        if (check_ && !check_(task.index, slice, frame, hintsFor(work, m, symbolCount)))
            return stop(task.index, PipelineFault::checkFailed);
        task.frameLength = length;
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

    // The first orderedBlocks blocks take their turns at the pivot state in
    // input order. Blocks are taken oldest first, so the block whose turn it
    // is has always been taken already.
    bool waitForSortTurn(std::size_t index)
    {
        std::unique_lock lock(mutex_);
        turnPassed_.wait(lock, [&] { return fault_ != PipelineFault::none || sortTurn_ == index; });
        return fault_ == PipelineFault::none;
    }

    void passSortTurn()
    {
        std::lock_guard lock(mutex_);
        ++sortTurn_;
        turnPassed_.notify_all();
    }

    // On the owner, in input order: the frame to the sink; false stops.
    bool deliver(const SliceTask& task)
    {
        if (task.frameLength == 0 || stopped())
            return false; // this block, or one after it, stopped the pipeline
        if (!sink_(task.frame.span().first(task.frameLength))) {
            stop(task.index, PipelineFault::sinkFailed);
            return false;
        }
        return true;
    }

    bool stopped()
    {
        std::lock_guard lock(mutex_);
        return fault_ != PipelineFault::none;
    }

    PipelineFault fault()
    {
        std::lock_guard lock(mutex_);
        return fault_;
    }

    // The fault of the earliest block wins, as in a one-threaded run, which
    // never gets past it; blocks waiting for their sort turn give up.
    void stop(std::size_t index, PipelineFault fault)
    {
        std::lock_guard lock(mutex_);
        if (fault_ == PipelineFault::none || index < faultIndex_) {
            fault_ = fault;
            faultIndex_ = index;
        }
        turnPassed_.notify_all();
    }

    const SliceReader& reader_;
    const FrameSink& sink_;
    const FrameCheck& check_;
    const FrameDamage& damage_;
    const std::uint64_t orderedBlocks_;
    const std::size_t window_; // blocks in flight at most, from reading to the sink

    std::mutex mutex_;
    std::condition_variable turnPassed_;
    std::size_t sortTurn_ = 0;
    PipelineFault fault_ = PipelineFault::none;
    std::size_t faultIndex_ = 0;
    std::uint64_t inputLength_ = 0; // the owner's
    OrderedPool<SliceTask, BlockWork> pool_; // last: its threads stop before the rest goes
};

} // namespace

void BlockWorkDeleter::operator()(BlockWork* work) const noexcept { delete work; }

BlockWorkPtr makeBlockWork() noexcept
{
    try {
        return BlockWorkPtr(new BlockWork);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

PipelineFault codeOneBlock(std::span<const std::uint8_t> slice, BlockSortKind sort, BlockWork& work,
                           std::span<std::uint8_t> frame, std::size_t& frameLength) noexcept
{
    frameLength = 0;
    SortedBlock sorted;
    if (const PipelineFault fault = sortPrepassed(prepassBlock(slice, work), sort, work, sorted);
        fault != PipelineFault::none)
        return fault;
    std::size_t symbolCount = 0;
    frameLength = codeSorted(work, sorted, frame, symbolCount);
    return PipelineFault::none;
}

unsigned threadsForCores() noexcept
{
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : cores;
}

unsigned threadsToRun(unsigned requested) noexcept
{
#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
    (void)requested;
    return 1;
#else
    return requested == 0 ? threadsForCores() : requested;
#endif
}

PipelineResult compressSlices(const SliceReader& reader, const FrameSink& sink, const PipelineOptions& options)
{
    const unsigned threads = threadsToRun(options.threads);
    try {
        Pipeline pipeline(reader, sink, options, threads);
        return pipeline.run();
    } catch (const std::bad_alloc&) {
        return {PipelineFault::outOfMemory, 0};
    }
}

} // namespace dls2mml
