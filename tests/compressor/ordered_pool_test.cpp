// The pool that runs frames on any thread: every task runs once, whether
// alone or in a batch, and tasks leave in the order they came.
#include <gtest/gtest.h>

#include <span>

#include "compressor/ordered_pool.h"

namespace dls2mml::test {
namespace {

struct Task {
    int index = 0;
    int runs = 0;
    int result = 0;
};
struct Scratch {};


void work(Task& task, Scratch&)
{
    ++task.runs;
    task.result = 3 * task.index + 1;
}

void batchWork(std::span<Task* const> tasks, Scratch& scratch)
{
    EXPECT_GE(tasks.size(), 2u);
    EXPECT_LE(tasks.size(), 3u);
    // Oldest first, and consecutive: the tasks were taken in stream order.
    for (std::size_t i = 1; i < tasks.size(); ++i)
        EXPECT_EQ(tasks[i]->index, tasks[i - 1]->index + 1);
    for (Task* task : tasks)
        work(*task, scratch);
}

TEST(OrderedPool, TasksRunOnceAndLeaveInOrder)
{
    const struct {
        unsigned threads;
        std::size_t batch;
        std::size_t inFlight;
    } cases[] = {{1, 1, 2}, {1, 3, 3}, {2, 1, 4}, {2, 3, 12}, {3, 3, 18}, {4, 2, 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.threads) + " threads, batches of " + std::to_string(c.batch));
        OrderedPool<Task, Scratch> pool(c.threads, &work, c.batch > 1 ? &batchWork : OrderedPool<Task, Scratch>::BatchWork{}, c.batch);
        int next = 0;
        auto deliver = [&](Task& task) {
            EXPECT_EQ(task.index, next);
            EXPECT_EQ(task.runs, 1);
            EXPECT_EQ(task.result, 3 * task.index + 1);
            ++next;
            return true;
        };
        const int count = 200;
        for (int i = 0; i < count; ++i) {
            std::unique_ptr<Task> task = pool.spare();
            *task = Task{i};
            pool.submit(std::move(task));
            ASSERT_TRUE(pool.handOn(c.inFlight, deliver));
        }
        ASSERT_TRUE(pool.handOn(0, deliver));
        EXPECT_EQ(next, count);
    }
}

// A refused task stops delivery; abandoning the rest runs none of them twice.
TEST(OrderedPool, RefusalStopsDelivery)
{
    OrderedPool<Task, Scratch> pool(2, &work, &batchWork, 3);
    for (int i = 0; i < 20; ++i) {
        std::unique_ptr<Task> task = pool.spare();
        *task = Task{i};
        pool.submit(std::move(task));
    }
    int delivered = 0;
    EXPECT_FALSE(pool.handOn(0, [&](Task& task) {
        EXPECT_EQ(task.runs, 1);
        return ++delivered < 5;
    }));
    EXPECT_EQ(delivered, 5);
    pool.abandon();
}

} // namespace
} // namespace dls2mml::test
