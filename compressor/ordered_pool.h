// A few threads that run tasks handed in one at a time, and give them back in
// the order they were handed in: the stream's frames are coded, decoded and
// checked on any core, but leave in stream order.
//
// The owner (the thread that submits) fills a task, submits it, and hands on
// the finished tasks at the front as they come; while too many are in flight
// it runs the oldest task no thread has taken itself, or waits. Tasks are
// taken strictly oldest first, so a task that waits for an earlier one (the
// block sort's turns at the pivot state) never waits for one not yet started.
// Each thread, the owner included, has a scratch of its own; a helper that
// cannot make one leaves the tasks to the others.
// With one thread no thread is started, and every task runs in submit() (or,
// with a batch form, in handOn once a batch is queued).
// Given a batch form of the work, a thread takes up to a batch of queued
// tasks (still oldest first) and runs them together; a helper then waits
// until a whole batch is queued, or until the owner drains (handOn(0)).
#pragma once

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <span>
#include <system_error>
#include <thread>
#include <vector>

namespace dls2mml {

template <typename Task, typename Scratch>
class OrderedPool {
public:
    // work runs one task with a thread's scratch; it must not throw.
    using Work = std::function<void(Task&, Scratch&)>;
    // Runs two or more tasks, oldest first, with a thread's scratch; must not throw.
    using BatchWork = std::function<void(std::span<Task* const>, Scratch&)>;
    static constexpr std::size_t maxBatch = 4;

    // Makes the owner's scratch at once (std::bad_alloc when it cannot).
    // batch: the most tasks batchWork takes at once (2 to maxBatch).
    OrderedPool(unsigned threads, Work work, BatchWork batchWork = {}, std::size_t batch = 1)
        : threads_(threads == 0 ? 1 : threads), work_(std::move(work)), batchWork_(std::move(batchWork)),
          batch_(batchWork_ ? std::clamp<std::size_t>(batch, 1, maxBatch) : 1), scratch_(std::make_unique<Scratch>())
    {
    }
    ~OrderedPool()
    {
        abandon();
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
            changed_.notify_all();
        }
        for (std::thread& helper : helpers_)
            helper.join();
    }
    OrderedPool(const OrderedPool&) = delete;
    OrderedPool& operator=(const OrderedPool&) = delete;

    // A task to fill: one handed on before (its buffers kept), or a new one.
    std::unique_ptr<Task> spare()
    {
        std::lock_guard lock(mutex_);
        if (spare_.empty())
            return std::make_unique<Task>();
        std::unique_ptr<Task> task = std::move(spare_.back());
        spare_.pop_back();
        return task;
    }

    // Queues the task (with one thread: runs it here at once).
    void submit(std::unique_ptr<Task> task)
    {
        auto slot = std::make_unique<Slot>();
        slot->task = std::move(task);
        if (threads_ == 1 && batch_ == 1) {
            work_(*slot->task, ownScratch());
            slot->state = State::done;
            std::lock_guard lock(mutex_);
            inFlight_.push_back(std::move(slot));
            return;
        }
        startHelpers();
        std::lock_guard lock(mutex_);
        inFlight_.push_back(std::move(slot));
        ++queued_;
        draining_ = false;
        changed_.notify_all();
    }

    // Hands every finished task at the front to deliver, in order; then,
    // while limit or more are in flight, helps or waits and hands on what
    // finishes. limit 0: until none is in flight. False as soon as deliver
    // returns false (the task it refused is kept as a spare all the same).
    template <typename Deliver>
    bool handOn(std::size_t limit, Deliver&& deliver)
    {
        if (limit == 0) {
            // No task follows soon: helpers take what is queued, batch or not.
            std::lock_guard lock(mutex_);
            draining_ = true;
            changed_.notify_all();
        }
        for (;;) {
            if (!handOnFinished(deliver))
                return false;
            std::unique_lock lock(mutex_);
            if (inFlight_.size() < (limit == 0 ? 1 : limit))
                return true;
            lock.unlock();
            helpOrWait();
        }
    }

    // Drops every task in flight: none is started any more, and those a
    // thread is running are waited for (they use their own task's buffers).
    void abandon()
    {
        std::unique_lock lock(mutex_);
        for (auto& slot : inFlight_)
            if (slot->state == State::queued)
                slot->state = State::done;
        queued_ = 0;
        changed_.wait(lock, [&] {
            for (auto& slot : inFlight_)
                if (slot->state == State::running)
                    return false;
            return true;
        });
        for (auto& slot : inFlight_)
            spare_.push_back(std::move(slot->task));
        inFlight_.clear();
    }

    unsigned threads() const noexcept { return threads_; }

private:
    enum class State { queued, running, done };
    struct Slot {
        State state = State::queued;
        std::unique_ptr<Task> task;
    };

    Scratch& ownScratch() noexcept { return *scratch_; }

    void startHelpers()
    {
        if (started_)
            return;
        started_ = true;
        for (unsigned i = 1; i < threads_; ++i) {
            try {
                helpers_.emplace_back([this] { helperMain(); });
            } catch (const std::system_error&) {
                break; // the owner runs what no helper takes
            }
        }
    }

    // With the lock held: the oldest task nobody has taken, now running.
    Slot* takeQueued()
    {
        for (auto& slot : inFlight_)
            if (slot->state == State::queued) {
                slot->state = State::running;
                --queued_;
                return slot.get();
            }
        return nullptr;
    }

    // With the lock held: runs the slot taken, and with it the next queued
    // ones up to a batch where the work has a batch form; then marks them done.
    void run(std::unique_lock<std::mutex>& lock, Slot* slot, Scratch& scratch)
    {
        std::array<Slot*, maxBatch> slots{slot};
        std::array<Task*, maxBatch> tasks{slot->task.get()};
        std::size_t taken = 1;
        while (taken < batch_ && (slots[taken] = takeQueued()) != nullptr) {
            tasks[taken] = slots[taken]->task.get();
            ++taken;
        }
        lock.unlock();
        if (taken > 1)
            batchWork_(std::span<Task* const>(tasks.data(), taken), scratch);
        else
            work_(*slot->task, scratch);
        lock.lock();
        for (std::size_t i = 0; i < taken; ++i)
            slots[i]->state = State::done;
        changed_.notify_all();
    }

    void helperMain()
    {
        std::unique_ptr<Scratch> scratch;
        try {
            scratch = std::make_unique<Scratch>();
        } catch (const std::bad_alloc&) {
            return;
        }
        std::unique_lock lock(mutex_);
        for (;;) {
            Slot* slot = nullptr;
            // With a batch form, a helper waits for a whole batch (or for the
            // owner to say none follows soon): a task taken alone as it
            // arrives runs slower than one taken with the next ones.
            changed_.wait(lock, [&] { return quit_ || ((queued_ >= batch_ || draining_) && (slot = takeQueued()) != nullptr); });
            if (!slot)
                return;
            run(lock, slot, *scratch);
        }
    }

    // On the owner: runs the oldest task nobody has taken, or waits until
    // some task finishes.
    void helpOrWait()
    {
        std::unique_lock lock(mutex_);
        if (Slot* slot = takeQueued()) {
            run(lock, slot, ownScratch());
            return;
        }
        if (inFlight_.empty() || inFlight_.front()->state == State::done)
            return;
        changed_.wait(lock);
    }

    template <typename Deliver>
    bool handOnFinished(Deliver& deliver)
    {
        for (;;) {
            std::unique_ptr<Slot> slot;
            {
                std::lock_guard lock(mutex_);
                if (inFlight_.empty() || inFlight_.front()->state != State::done)
                    return true;
                slot = std::move(inFlight_.front());
                inFlight_.pop_front();
            }
            const bool taken = deliver(*slot->task);
            {
                std::lock_guard lock(mutex_);
                spare_.push_back(std::move(slot->task));
            }
            if (!taken)
                return false;
        }
    }

    const unsigned threads_;
    const Work work_;
    const BatchWork batchWork_;
    const std::size_t batch_;
    const std::unique_ptr<Scratch> scratch_; // the owner's
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::unique_ptr<Slot>> inFlight_; // oldest first
    std::vector<std::unique_ptr<Task>> spare_;
    std::vector<std::thread> helpers_;
    std::size_t queued_ = 0;  // tasks in flight that no thread has taken
    bool draining_ = false;   // handOn(0) runs: no task follows soon
    bool started_ = false;
    bool quit_ = false;
};

} // namespace dls2mml
