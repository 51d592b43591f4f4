#include "platform/dispatch.h"
#include "support/testenv.h"

#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

TEST(SerialQueue, RunsBlocksInOrderOnItsOwnThread)
{
    SerialQueue queue(QStringLiteral("order"));
    std::mutex m;
    std::vector<int> seen;
    std::atomic<int> offThread{0};
    for (int i = 0; i < 200; ++i)
        queue.async([&, i] {
            if (queue.isCurrent() && !dispatch::isMainThread())
                ++offThread;
            std::lock_guard lock(m);
            seen.push_back(i);
        });
    queue.sync([] {});  // everything posted before has run
    ASSERT_EQ(seen.size(), 200u);
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(seen[i], i);
    EXPECT_EQ(offThread.load(), 200);
}

TEST(SerialQueue, SyncFromAnotherThreadWaitsForTheBlock)
{
    SerialQueue queue(QStringLiteral("sync"));
    std::atomic<bool> done{false};
    std::thread other([&] {
        int value = 0;
        queue.sync([&] {
            QThread::msleep(20);
            value = 42;
        });
        EXPECT_EQ(value, 42);
        done = true;
    });
    other.join();
    EXPECT_TRUE(done);
}

TEST(SerialQueue, AfterRunsLaterOnTheQueue)
{
    SerialQueue queue(QStringLiteral("after"));
    std::atomic<int> order{0};
    std::atomic<int> late{0};
    std::atomic<bool> onQueue{false};
    queue.after(50, [&] {
        late = ++order;
        onQueue = queue.isCurrent();
    });
    queue.async([&] { ++order; });
    ASSERT_TRUE(testenv::waitUntil([&] { return late.load() != 0; }));
    EXPECT_EQ(late.load(), 2);
    EXPECT_TRUE(onQueue);
}

TEST(SerialQueue, DestructorRunsPendingBlocks)
{
    std::atomic<int> ran{0};
    {
        SerialQueue queue(QStringLiteral("drain"));
        for (int i = 0; i < 10; ++i)
            queue.async([&] {
                QThread::msleep(1);
                ++ran;
            });
    }
    EXPECT_EQ(ran.load(), 10);
}

TEST(SerialQueueDeathTest, SyncFromItsOwnThreadIsFatal)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            SerialQueue queue(QStringLiteral("nested"));
            queue.sync([&] { queue.sync([] {}); });
        },
        "own thread");
}

TEST(Dispatch, MainAsyncRunsOnTheMainThreadInOrder)
{
    std::vector<int> seen;
    std::atomic<bool> fromWorker{false};
    SerialQueue queue(QStringLiteral("poster"));
    queue.sync([&] {
        for (int i = 0; i < 5; ++i)
            dispatch::mainAsync([&, i] {
                if (dispatch::isMainThread())
                    seen.push_back(i);
            });
        fromWorker = !dispatch::isMainThread();
    });
    EXPECT_TRUE(fromWorker);
    ASSERT_TRUE(testenv::waitUntil([&] { return seen.size() == 5; }));
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(Dispatch, GlobalAsyncRunsOffTheMainThread)
{
    std::atomic<int> state{0};
    dispatch::globalAsync([&] { state = dispatch::isMainThread() ? 1 : 2; });
    ASSERT_TRUE(testenv::waitUntil([&] { return state.load() != 0; }));
    EXPECT_EQ(state.load(), 2);
}

TEST(SerialQueueTest, AQueueWhoseLoopEndedEarlyIsDroppedSafely)
{
    // A queue kept until exit may see its loop end before the queue object goes.
    auto queue = std::make_unique<SerialQueue>(QStringLiteral("ended early"));
    queue->thread()->quit();
    ASSERT_TRUE(queue->thread()->wait(5000));
    bool ran = false;
    queue->async([&ran] { ran = true; });
    queue->sync([&ran] { ran = true; });
    queue.reset();
    EXPECT_FALSE(ran);
}
