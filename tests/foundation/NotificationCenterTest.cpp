#include "DispatchQueue.h"
#include "NotificationCenter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

TEST(NotificationCenter, DeliversByNameAndObjectFilterOnThePostingThread)
{
    NotificationCenter center;
    int sender = 0, other = 0;
    std::vector<QString> seen;
    std::thread::id deliveredOn;
    center.addObserver(nullptr, "A", nullptr, [&](const Notification& n) {
        seen.push_back("any:" + n.name + ":" + n.userInfo.value("k").toString());
        deliveredOn = std::this_thread::get_id();
    });
    center.addObserver(nullptr, "A", &sender, [&](const Notification&) { seen.push_back("sender"); });
    center.addObserver(nullptr, QString(), nullptr, [&](const Notification& n) { seen.push_back("all:" + n.name); });

    center.post("A", &sender, {{"k", "v"}});
    center.post("A", &other);
    center.post("B");
    EXPECT_EQ(seen, (std::vector<QString>{"any:A:v", "sender", "all:A", "any:A:", "all:A", "all:B"}));
    EXPECT_EQ(deliveredOn, std::this_thread::get_id());
}

TEST(NotificationCenter, PrivateCentresAreSeparateFromTheDefaultCentre)
{
    NotificationCenter privateCentre;
    int defaultCount = 0, privateCount = 0;
    auto token = NotificationCenter::defaultCenter().addObserver(nullptr, "X", nullptr,
                                                                  [&](const Notification&) { ++defaultCount; });
    privateCentre.addObserver(nullptr, "X", nullptr, [&](const Notification&) { ++privateCount; });
    privateCentre.post("X");
    EXPECT_EQ(defaultCount, 0);
    EXPECT_EQ(privateCount, 1);
    NotificationCenter::defaultCenter().removeObserver(token);
}

TEST(NotificationCenter, ObserverMayRemoveItselfAndOthersDuringAPost)
{
    NotificationCenter center;
    int owner = 0;
    int first = 0, second = 0, third = 0;
    NotificationCenter::Token selfToken = 0, thirdToken = 0;
    selfToken = center.addObserver(nullptr, "N", nullptr, [&](const Notification&) {
        ++first;
        center.removeObserver(selfToken);
        center.removeObserver(thirdToken);
    });
    center.addObserver(&owner, "N", nullptr, [&](const Notification&) { ++second; });
    thirdToken = center.addObserver(nullptr, "N", nullptr, [&](const Notification&) { ++third; });
    center.post("N");
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);
    EXPECT_EQ(third, 0);  // removed before its turn came
    center.removeObserver(&owner);
    center.post("N");
    EXPECT_EQ(first + second + third, 2);
}

TEST(NotificationCenter, ObserveOnMainQueueDeliversLaterOnTheMainThread)
{
    NotificationCenter center;
    DispatchQueue background("com.test.poster");
    std::atomic<bool> delivered{false};
    bool onMain = false;
    center.addObserver(nullptr, "M", nullptr, [&](const Notification& n) {
        onMain = DispatchQueue::isMainThread() && n.userInfo.value("n").toInt() == 7;
        delivered = true;
    }, &DispatchQueue::main());
    background.sync([&] { center.post("M", nullptr, {{"n", 7}}); });
    EXPECT_FALSE(delivered);
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return delivered.load(); }, 5.0));
    EXPECT_TRUE(onMain);
}

// Posters on several threads while other threads add and remove observers: nothing crashes,
// and a handler removed before a post starts is never called by that post.
TEST(NotificationCenter, StressRemovalDuringConcurrentPosts)
{
    NotificationCenter center;
    std::atomic<bool> stop{false};
    std::atomic<long> calls{0};
    center.addObserver(nullptr, "S", nullptr, [&](const Notification&) { ++calls; });

    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 5000; ++i) {
                center.post("S", nullptr, {{"i", i}});
            }
        });
    }
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&] {
            while (!stop) {
                auto token = center.addObserver(nullptr, "S", nullptr, [&](const Notification&) {});
                center.removeObserver(token);
            }
        });
    }
    std::atomic<bool> removedCalled{false};
    for (int t = 0; t < 4; ++t) {
        threads[t].join();
    }
    stop = true;
    for (size_t t = 4; t < threads.size(); ++t) {
        threads[t].join();
    }
    auto token = center.addObserver(nullptr, "S", nullptr, [&](const Notification&) { removedCalled = true; });
    center.removeObserver(token);
    center.post("S");
    EXPECT_EQ(calls, 4 * 5000 + 1);
    EXPECT_FALSE(removedCalled);
}
