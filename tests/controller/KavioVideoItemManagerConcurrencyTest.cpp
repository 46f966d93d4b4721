#include "ControllerFakes.h"

#include <QSet>

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

namespace {

// The main thread edits the list, goto targets and toggles while one thread looks cues up and
// another follows the current cue's next cues to play, as the clock thread does every frame. Every value a reader sees
// must be a whole one: a known cue, a uid that cue really has.
TEST(KavioVideoItemManagerConcurrency, ReadersSeeWholeListsAndLinksWhileTheMainThreadEdits)
{
    ControllerFixture f;
    f.connected();
    f.app->loop.setState(1);
    auto cues = f.addCues(std::vector<std::int64_t>(20, 25));
    QSet<QString> uids;
    for (const auto& cue : cues)
        uids << cue->uid();
    f.controller->setCurrentItem(cues[0]);

    std::atomic<bool> done{false};
    std::atomic<long> lookups{0}, follows{0}, faults{0};
    std::thread lookup([&] {
        for (long round = 0; !done; ++round) {
            const auto list = f.controller->items();
            if (list->size() < 19 || list->size() > 20)
                ++faults;
            for (const auto& item : *list)
                if (!item || !uids.contains(item->uid()))
                    ++faults;
            const QString uid = QStringLiteral("c%1").arg(round % 20 + 1);
            const auto found = f.controller->itemWithUID(uid);
            if (found && found->uid() != uid)
                ++faults;
            f.controller->itemWithCueID(QString::number(round % 20 + 1));
            ++lookups;
        }
    });
    std::thread follow([&] {
        while (!done) {
            auto cue = f.controller->currentItem();
            for (int step = 0; cue && step < 25; ++step) {
                cue = cue->nextItemToPlay();
                if (cue && !uids.contains(cue->uid()))
                    ++faults;
            }
            ++follows;
        }
    });

    // Bounded by count, not time: a slow machine only runs longer.
    for (int round = 0; round < 300; ++round) {
        const auto& cue = cues[std::size_t(round * 7 % 20)];
        f.controller->moveItemWithUID(cue->uid(), std::uint64_t(round * 13 % 20 + 1));
        if (round % 10 == 0) {
            f.controller->removeItem(cue);
            f.controller->buildItemQueue();
            f.controller->insertItem(cue, std::uint64_t(round % 20 + 1));
            f.controller->buildItemQueue();
        }
        // Goto targets and toggles change under the follower too.
        const auto& jumper = cues[std::size_t(round * 3 % 20)];
        jumper->setGotoItemUID(cues[std::size_t(round * 11 % 20)]->uid());
        jumper->gotoButton().state = round % 2;
        f.controller->setCurrentItem(cues[std::size_t(round % 20)]);
    }
    // Let each reader finish at least a few rounds against the final list.
    const long lookupsBefore = lookups, followsBefore = follows;
    DispatchQueue::runMainUntil([&] { return lookups > lookupsBefore + 3 && follows > followsBefore + 3; }, 60);
    done = true;
    lookup.join();
    follow.join();

    EXPECT_EQ(faults, 0);
    EXPECT_GT(lookups, 0);
    EXPECT_GT(follows, 0);
    QStringList order = f.uidsInOrder();
    EXPECT_EQ(QSet<QString>(order.begin(), order.end()), uids);
}

}  // namespace
