#include "DispatchQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

TEST(DispatchQueue, RunsTasksInOrderOnItsOwnThread)
{
    DispatchQueue queue("com.test.order");
    std::vector<int> seen;
    std::thread::id worker;
    for (int i = 0; i < 100; ++i) {
        queue.async([&, i] {
            seen.push_back(i);
            worker = std::this_thread::get_id();
        });
    }
    queue.sync([] {});
    ASSERT_EQ(seen.size(), 100u);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(seen[i], i);
    }
    EXPECT_NE(worker, std::this_thread::get_id());
}

TEST(DispatchQueue, SyncFromItsOwnQueueRunsInlineInsteadOfDeadlocking)
{
    DispatchQueue queue("com.test.reentrant");
    bool inner = false;
    queue.sync([&] {
        EXPECT_TRUE(queue.isCurrent());
        queue.sync([&] { inner = true; });
        EXPECT_TRUE(inner);  // ran inline, not queued behind us
    });
    EXPECT_TRUE(inner);
    EXPECT_FALSE(queue.isCurrent());
}

TEST(DispatchQueue, QueueSpecificValuesAreSeenOnlyOnThatQueue)
{
    static const char key[] = "mainQueue";
    DispatchQueue a("com.test.a");
    DispatchQueue b("com.test.b");
    a.setSpecific(key, const_cast<char*>(key));
    void* onA = nullptr;
    void* onB = reinterpret_cast<void*>(1);
    a.sync([&] { onA = DispatchQueue::getSpecific(key); });
    b.sync([&] { onB = DispatchQueue::getSpecific(key); });
    EXPECT_EQ(onA, key);
    EXPECT_EQ(onB, nullptr);
}

TEST(DispatchQueue, MainQueueRunsOnTheMainThreadWhenPumped)
{
    ASSERT_TRUE(DispatchQueue::isMainThread());
    DispatchQueue background("com.test.bg");
    std::atomic<bool> ranOnMain{false};
    bool mainIsCurrentInBackground = true;
    background.async([&] {
        mainIsCurrentInBackground = DispatchQueue::main().isCurrent();
        DispatchQueue::main().async([&] { ranOnMain = DispatchQueue::isMainThread() && DispatchQueue::main().isCurrent(); });
    });
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return ranOnMain.load(); }, 5.0));
    background.sync([] {});
    EXPECT_FALSE(mainIsCurrentInBackground);
}

TEST(DispatchQueue, SyncOntoMainFromAnotherQueueWaitsForThePump)
{
    DispatchQueue background("com.test.syncmain");
    std::atomic<bool> finished{false};
    int value = 0;
    background.async([&] {
        DispatchQueue::main().sync([&] { value = 42; });
        finished = true;
    });
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return finished.load(); }, 5.0));
    EXPECT_EQ(value, 42);
}

TEST(DispatchQueue, AsyncAfterWaitsForTheDelayAndKeepsOrderOfDueTimes)
{
    DispatchQueue queue("com.test.after");
    std::vector<int> seen;
    std::atomic<int> count{0};
    const auto start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::duration firstAt{};
    queue.asyncAfter(60ms, [&] { seen.push_back(2); ++count; });
    queue.asyncAfter(20ms, [&] {
        firstAt = std::chrono::steady_clock::now() - start;
        seen.push_back(1);
        ++count;
    });
    for (int i = 0; i < 500 && count < 2; ++i) {
        std::this_thread::sleep_for(2ms);
    }
    queue.sync([] {});
    EXPECT_EQ(seen, (std::vector<int>{1, 2}));
    EXPECT_GE(firstAt, 20ms);
}

TEST(DispatchQueue, DelayedTaskOfADestroyedQueueIsDropped)
{
    std::atomic<bool> ran{false};
    {
        DispatchQueue queue("com.test.dropped");
        queue.asyncAfter(30ms, [&] { ran = true; });
    }
    std::this_thread::sleep_for(80ms);
    EXPECT_FALSE(ran);
}

TEST(DispatchQueue, DestructorFinishesQueuedWork)
{
    std::atomic<int> count{0};
    {
        DispatchQueue queue("com.test.finish");
        for (int i = 0; i < 50; ++i) {
            queue.async([&] { ++count; });
        }
    }
    EXPECT_EQ(count, 50);
}

TEST(DispatchTimer, FiresRepeatedlyOnItsQueueUntilCancelled)
{
    DispatchQueue queue("com.test.timer");
    std::atomic<int> fired{0};
    std::atomic<bool> onQueue{true};
    DispatchTimer timer(queue, 5ms, [&] {
        if (!queue.isCurrent()) {
            onQueue = false;
        }
        ++fired;
    });
    timer.start();
    for (int i = 0; i < 1000 && fired < 3; ++i) {
        std::this_thread::sleep_for(2ms);
    }
    timer.cancel();
    queue.sync([] {});
    const int afterCancel = fired;
    std::this_thread::sleep_for(30ms);
    EXPECT_GE(afterCancel, 3);
    EXPECT_EQ(fired, afterCancel);
    EXPECT_TRUE(onQueue);
    EXPECT_FALSE(timer.isRunning());
}

// Many threads hammer one queue with async and sync at once; every task runs exactly once and
// tasks never overlap.
TEST(DispatchQueue, StressManyProducersAsyncAndSync)
{
    DispatchQueue queue("com.test.stress");
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    long total = 0;  // only touched on the queue
    constexpr int threads = 8, perThread = 2000;
    std::vector<std::thread> producers;
    for (int t = 0; t < threads; ++t) {
        producers.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                auto task = [&] {
                    if (inside.fetch_add(1) != 0) {
                        overlapped = true;
                    }
                    ++total;
                    inside.fetch_sub(1);
                };
                if ((i + t) % 7 == 0) {
                    queue.sync(task);
                } else {
                    queue.async(task);
                }
            }
        });
    }
    for (auto& p : producers) {
        p.join();
    }
    queue.sync([] {});
    EXPECT_EQ(total, long(threads) * perThread);
    EXPECT_FALSE(overlapped);
}
