// The goto target, the goto toggle and label, and the cue that plays next.

#include "CueTestSupport.h"

#include "NotificationCenter.h"

#include <gtest/gtest.h>

namespace {

// Three cues in list order 1, 2, 3 under one controller; cue 2 is the one under test.
struct GotoFixture {
    RecordingOSCOutput osc;
    std::shared_ptr<FakeKavioVideoItemManager> controller = std::make_shared<FakeKavioVideoItemManager>();
    std::shared_ptr<RecordingCue> first, cue, last;
    int addressSpaceChanges = 0;
    NotificationCenter::Token token = 0;

    GotoFixture()
    {
        for (auto* slot : {&first, &cue, &last}) {
            *slot = std::make_shared<RecordingCue>(osc.sender());
            (*slot)->setManager(controller);
            (*slot)->setIndex(controller->items.size() + 1);
            (*slot)->setUid(QStringLiteral("uid-%1").arg(controller->items.size() + 1));
            controller->items.push_back(*slot);
        }
        cue->setNextItem(last);
        cue->setTogglesBoxSize(QSizeF(200, 24));
        token = NotificationCenter::defaultCenter().addObserver(
            nullptr, kKavioCueOSCAddressSpaceChangedNotification, cue.get(),
            [this](const Notification&) { ++addressSpaceChanges; });
    }
    ~GotoFixture() { NotificationCenter::defaultCenter().removeObserver(token); }
};

TEST(KavioVideoItemGoto, NextItemToPlayTruthTable)
{
    struct Case {
        bool enabled;
        int state;
        bool targetExists;
        const char* expected;  // "target", "next" or "none"
    };
    const Case cases[] = {
        {true, 1, true, "target"},  {true, 1, false, "none"}, {true, 0, true, "next"},
        {false, 1, true, "next"},   {false, 0, true, "next"}, {false, 0, false, "next"},
    };
    for (const Case& c : cases) {
        GotoFixture f;
        f.cue->setGotoItemUID("uid-1");
        if (!c.targetExists)
            f.controller->items.erase(f.controller->items.begin());
        f.cue->gotoButton().enabled = c.enabled;
        f.cue->gotoButton().state = c.state;
        const auto next = f.cue->nextItemToPlay();
        const std::string got = next == f.first ? "target" : next == f.last ? "next" : next ? "other" : "none";
        EXPECT_EQ(got, c.expected) << c.enabled << c.state << c.targetExists;
    }

    GotoFixture f;
    f.last->setNextItem(nullptr);
    EXPECT_EQ(f.last->nextItemToPlay(), nullptr);  // last cue, no playlist loop, no goto
}

TEST(KavioVideoItemGoto, LoopSettingsDecideWhetherGotoIsAllowed)
{
    struct Case {
        int loopState;
        std::int32_t loopCount;
        bool allowed;
    };
    const Case cases[] = {
        {0, KavioLoopCountEndless, true},
        {1, 3, true},
        {1, KavioLoopCountEndless, false},
        {-1, 3, false},  // a mixed state
    };
    for (const Case& c : cases) {
        GotoFixture f;
        f.cue->loopButton().state = c.loopState;
        f.cue->setLoopCount(c.loopCount);
        f.cue->gotoButton() = {1, false, true, {}, {}, {}, {}};
        f.cue->gotoTargetButton().state = 1;
        f.cue->setGotoItemUID("uid-3");
        SCOPED_TRACE(testing::Message() << c.loopState << " " << c.loopCount);
        EXPECT_EQ(f.cue->gotoButton().enabled, c.allowed);
        EXPECT_EQ(f.cue->gotoTargetButton().enabled, c.allowed);
        EXPECT_EQ(f.cue->gotoButton().state, c.allowed ? 1 : 0);  // kept when allowed
        EXPECT_EQ(f.cue->gotoTargetButton().state, c.allowed ? 1 : 0);
        EXPECT_FALSE(f.cue->gotoTargetButton().hidden);
    }
}

TEST(KavioVideoItemGoto, IconAndLabelFollowTheTarget)
{
    GotoFixture f;
    f.cue->setGotoItemUID("uid-1");
    EXPECT_EQ(f.cue->gotoButton().imageName, kKavioGotoUpImage);
    EXPECT_EQ(f.cue->gotoTargetButton().title, "1");  // no cue ID: the index

    f.last->setCueID("b7");
    f.cue->setGotoItemUID("uid-3");
    EXPECT_EQ(f.cue->gotoButton().imageName, kKavioGotoDownImage);
    EXPECT_EQ(f.cue->gotoTargetButton().title, "B7");

    f.cue->selectAndShowGotoTarget();
    EXPECT_EQ(f.controller->selectedCueIDs, QStringList{"B7"});
}

TEST(KavioVideoItemGoto, OnlyReplacingATargetWhileGotoIsOnPostsTheChange)
{
    GotoFixture f;
    f.cue->setGotoItemUID("uid-1");  // first target
    EXPECT_EQ(f.addressSpaceChanges, 0);
    f.cue->gotoButton().state = 1;
    f.cue->setGotoItemUID("uid-1");  // the same again
    EXPECT_EQ(f.addressSpaceChanges, 0);
    f.cue->setGotoItemUID("uid-3");
    EXPECT_EQ(f.addressSpaceChanges, 1);
    f.cue->gotoButton().state = 0;
    f.cue->setGotoItemUID("uid-1");  // goto off
    EXPECT_EQ(f.addressSpaceChanges, 1);
}

TEST(KavioVideoItemGoto, ClearingTheTargetHidesTheLabelAndNarrowsTheBoxOnce)
{
    GotoFixture f;
    f.cue->setGotoItemUID("uid-1");
    EXPECT_DOUBLE_EQ(f.cue->togglesBoxSize().width(), 234.0);
    f.cue->showGotoTargetButton();
    EXPECT_DOUBLE_EQ(f.cue->togglesBoxSize().width(), 234.0);

    f.cue->gotoButton().state = 1;
    f.cue->setGotoItemUID(QString());
    EXPECT_TRUE(f.cue->gotoTargetButton().hidden);
    EXPECT_DOUBLE_EQ(f.cue->togglesBoxSize().width(), 200.0);
    EXPECT_DOUBLE_EQ(f.cue->togglesBoxSize().height(), 24.0);
    EXPECT_EQ(f.cue->gotoButton().state, 0);
    EXPECT_FALSE(f.cue->gotoButton().enabled);
    EXPECT_FALSE(f.cue->gotoTargetButton().enabled);
    EXPECT_TRUE(f.cue->gotoTargetButton().title.isEmpty());
    f.cue->hideGotoTargetButton();
    EXPECT_DOUBLE_EQ(f.cue->togglesBoxSize().width(), 200.0);
}

TEST(KavioVideoItemGoto, AVanishedTargetIsDroppedExceptWhileAProjectLoads)
{
    GotoFixture f;
    f.controller->loadingProject = true;
    f.cue->setGotoItemUID("uid-9");
    EXPECT_EQ(f.cue->gotoItemUID(), "uid-9");
    EXPECT_FALSE(f.cue->gotoTargetButton().hidden);

    f.controller->loadingProject = false;
    f.cue->updateGotoItemIconAndButtonIfNeeded();
    EXPECT_TRUE(f.cue->gotoItemUID().isEmpty());
    EXPECT_FALSE(f.cue->gotoButton().enabled);
    EXPECT_TRUE(f.cue->gotoTargetButton().hidden);

    // Naming a cue that does not exist leaves no label behind.
    f.cue->setGotoItemUID("uid-9");
    EXPECT_TRUE(f.cue->gotoItemUID().isEmpty());
    EXPECT_TRUE(f.cue->gotoTargetButton().hidden);
    EXPECT_DOUBLE_EQ(f.cue->togglesBoxSize().width(), 200.0);
}

TEST(KavioVideoItemGoto, TheTransitionFollowsTheCueThatPlaysNext)
{
    GotoFixture f;
    EXPECT_EQ(f.cue->transitionButton().imageName, "kavio_transition");
    f.cue->setNextItem(nullptr);
    EXPECT_EQ(f.cue->transitionButton().imageName, "kavio_transition_broken");
    EXPECT_EQ(f.cue->transitionButton().toolTip, "No next Cue! - Transition to Next Cue");
    EXPECT_TRUE(f.cue->steps.isEmpty());  // no transition: nothing to rebuild

    f.cue->setHasTransition(true);
    f.cue->setNextItem(f.last);
    EXPECT_EQ(f.cue->steps, QStringList{"setupTransition"});

    // A goto target rebuilds the transition only while goto is on.
    f.cue->setGotoItemUID("uid-1");
    f.cue->updateTransitionOnGotoItemChangeIfNeeded();
    EXPECT_EQ(f.cue->steps.size(), 1);
    f.cue->gotoButton().state = 1;
    f.cue->updateTransitionOnGotoItemChangeIfNeeded();
    EXPECT_EQ(f.cue->steps.size(), 2);
}

}  // namespace
