// The backup's side of the network link: the followed copy's cue commands on this cue list.

#include "SteppedShow.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <thread>

namespace {

class BackupController : public KavioVideoItemManager {
public:
    BackupController(UserDefaults& defaults, std::shared_ptr<QVTClockTimeSource> source)
        : KavioVideoItemManager(defaults, std::move(source))
    {
    }
    CallLog* log = nullptr;
    void jumpToItem(const std::shared_ptr<KavioVideoItem>& item, bool) override
    {
        log->add(item->uid() + QStringLiteral(".jumpToItem"));
    }
    void rewindCurrentItem() override { log->add(QStringLiteral("rewindCurrentItem")); }
};

struct BackupFixture : SteppedShowFixture<BackupController> {
    BackupFixture() : SteppedShowFixture({50, 50, 50}) { show->log = &log; }
    void command(const QVariantMap& userInfo)
    {
        controller->handleNMCBackupCommand(Notification{userInfo.firstKey(), clock.get(), userInfo});
        settle();
    }
};

}  // namespace

TEST(KavioVideoItemManagerBackup, CueCommandsActOnTheCueOfTheirIndexOnly)
{
    const QString jump = QVTClockNotification::JumpNMCCommand;
    const QString rewind = QVTClockNotification::RewindNMCCommand;
    const struct {
        const char* what;
        QVariantMap userInfo;
        bool loading;
        QStringList calls;
        int currentIndex;
    } cases[] = {
        {"jump", {{jump, 2}}, false, {"b.jumpToItem"}, 1},
        {"jump to a cue the list does not hold", {{jump, 9}}, false, {}, 1},
        {"jump while a project loads", {{jump, 2}}, true, {}, 1},
        {"rewind of the current cue", {{rewind, 1}}, false, {"rewindCurrentItem"}, 1},
        {"rewind of another cue makes it current, every cue rewound", {{rewind, 3}}, false,
         {"a.rewind", "b.rewind", "c.rewind"}, 3},
        {"rewind of a cue the list does not hold", {{rewind, 4}}, false, {}, 1},
        {"jump is looked at before rewind", {{rewind, 3}, {jump, 2}}, false, {"b.jumpToItem"}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        BackupFixture f;
        for (const auto& [cue, uid] : {std::pair{f.cues[0], "a"}, {f.cues[1], "b"}, {f.cues[2], "c"}})
            cue->setUid(uid);
        f.controller->setIsLoadingProject(c.loading);
        f.command(c.userInfo);
        // The cue calls only; making a cue current also updates the views.
        const QStringList calls = f.calls().filter(QRegularExpression(R"(^([abc]\.|rewindCurrentItem))"));
        EXPECT_EQ(calls, c.calls);
        ASSERT_TRUE(f.controller->currentItem());
        EXPECT_EQ(int(f.controller->currentItem()->index()), c.currentIndex);
        EXPECT_TRUE(f.controller->currentItem()->isCurrent());
        f.controller->setIsLoadingProject(false);
    }
}

TEST(KavioVideoItemManagerBackup, ACommandFromTheLinkThreadIsCarriedOutOnTheMainThread)
{
    BackupFixture f;
    const QString jump = QVTClockNotification::JumpNMCCommand;
    std::thread link([&] { f.controller->handleNMCBackupCommand(Notification{jump, f.clock.get(), {{jump, 3}}}); });
    link.join();
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return !f.log.calls.isEmpty(); }, 30.0));
    EXPECT_EQ(f.calls(), QStringList{f.cues[2]->uid() + ".jumpToItem"});
}
