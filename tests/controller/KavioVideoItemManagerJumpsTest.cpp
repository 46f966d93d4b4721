// Jumps, GO and crossovers on the real master clock, stepped by the test, with recording cues.

#include "SteppedShow.h"

#include <gtest/gtest.h>

namespace {

QString tc(int s, int f)
{
    return QString::asprintf("00:00:%02d:%02d", s, f);
}

struct JumpFixture : SteppedShowFixture<> {
    explicit JumpFixture(const std::vector<std::int64_t>& frames) : SteppedShowFixture(frames) { openJumps(); }
    QStringList rewound()
    {
        QStringList uids;
        for (const QString& call : calls())
            if (call.endsWith(QLatin1String(".rewind")))
                uids << call.section(QLatin1Char('.'), 0, 0);
        return uids;
    }
    // Runs `body` on a worker thread while the main queue is pumped, as a remote-control
    // thread would; answers whether it ended within `seconds`.
    bool runElsewhere(std::function<void()> body, double seconds, std::atomic<bool>& done)
    {
        worker.async([body = std::move(body), &done] {
            body();
            done = true;
        });
        DispatchQueue::runMainUntil([&] { return done.load(); }, seconds);
        return done.load();
    }
    DispatchQueue worker{"test.jumper"};
};

TEST(KavioVideoItemManagerJumps, DroppedForNoCueACueNotReadyOrWhileAJumpIsHeld)
{
    JumpFixture f({25, 25, 25});
    const auto a = f.cues[0], c = f.cues[2];
    f.controller->jumpToItem(nullptr);
    c->setIsReady(false);
    f.controller->jumpToItem(c);
    c->setIsReady(true);
    // A temporary stop holds jumps until it ends.
    f.controller->handleTemporaryPlaybackStopWithCompletedHandler({});
    EXPECT_FALSE(f.controller->canJump());
    f.controller->jumpToItem(c);
    f.controller->jumpToAndPlayItem(c);
    f.settle();
    EXPECT_EQ(f.controller->currentItem(), a);
    EXPECT_TRUE(f.rewound().isEmpty());
    f.controller->handleEndOfTemporaryPlaybackStopWithCompletedHandler({});
    f.controller->jumpToItem(c);
    f.settle();
    EXPECT_EQ(f.controller->currentItem(), c);
}

TEST(KavioVideoItemManagerJumps, JumpToSelectedNeedsOneSelectedCueTheOwnClockAndNoTranscoding)
{
    JumpFixture f({25, 25, 25});
    EXPECT_FALSE(f.controller->isJumpToSelectedItemEnabled());
    f.cues[2]->setIsSelected(true);
    EXPECT_TRUE(f.controller->isJumpToSelectedItemEnabled());
    f.controller->setIsTranscoding(true);
    EXPECT_FALSE(f.controller->isJumpToSelectedItemEnabled());
    f.controller->setIsTranscoding(false);
    f.clock->setIsLTCSlave(true);
    EXPECT_FALSE(f.controller->isJumpToSelectedItemEnabled());
    f.clock->setIsLTCSlave(false);
    f.cues[1]->setIsSelected(true);
    EXPECT_FALSE(f.controller->isJumpToSelectedItemEnabled());
    f.cues[1]->setIsSelected(false);
    f.controller->jumpToSelectedItem();
    f.settle();
    EXPECT_EQ(f.controller->currentItem(), f.cues[2]);
}

TEST(KavioVideoItemManagerJumps, ACutWhileStoppedStandsByOnTheCueWithEveryCueRewound)
{
    JumpFixture f({25, 25, 25});
    const auto a = f.cues[0], b = f.cues[1];
    f.controller->jumpToItem(b);
    f.settle();
    EXPECT_EQ(f.controller->currentItem(), b);
    EXPECT_TRUE(b->isCurrent());
    EXPECT_FALSE(a->isCurrent());
    // The others first, the new current cue last (its own rewind may re-aim its next cue too).
    EXPECT_EQ(f.rewound().mid(0, 3), QStringList({"c1", "c3", "c2"}));
    EXPECT_TRUE(f.controller->canJump());
    EXPECT_FALSE(f.controller->shouldSkipRenderingBecauseOfProcessingJump());
    // Jump behaviour 1: the clock waits on the new cue's first frame.
    EXPECT_FALSE(f.clock->isRunning());
    EXPECT_EQ(f.clock->clockSMPTETime(), tc(1, 0));

    // Jump behaviour 0 starts the clock on the new cue.
    f.controller->setJumpBehaviour(0);
    f.controller->jumpToItem(a);
    f.settle();
    EXPECT_EQ(f.controller->currentItem(), a);
    EXPECT_TRUE(f.clock->isRunning());
    EXPECT_TRUE(a->isPlaying());
}

TEST(KavioVideoItemManagerJumps, ACutWhilePlayingCompletesOnTheClocksStop)
{
    JumpFixture f({50, 50});
    const auto a = f.cues[0], b = f.cues[1];
    f.go();
    ASSERT_TRUE(f.runUntilTick(tc(0, 10)));
    f.calls();
    f.controller->jumpToItem(b);
    // Pending until the clock thread ends its cycle.
    EXPECT_FALSE(f.controller->canJump());
    EXPECT_TRUE(f.controller->shouldSkipRenderingBecauseOfProcessingJump());
    f.nextTick();
    EXPECT_FALSE(f.clock->isRunning());
    EXPECT_EQ(f.controller->currentItem(), b);
    EXPECT_FALSE(a->isPlaying());
    EXPECT_TRUE(f.controller->canJump());
    EXPECT_EQ(f.clock->clockSMPTETime(), tc(2, 0));
    EXPECT_TRUE(f.rewound().contains("c1"));
}

TEST(KavioVideoItemManagerJumps, PreviousOnTheFirstCueRewindsItAndNextOnTheLastFastForwards)
{
    JumpFixture f({25, 25});
    const auto a = f.cues[0], b = f.cues[1];
    f.controller->jumpToNextItem();
    f.settle();
    EXPECT_EQ(f.controller->currentItem(), b);
    f.controller->jumpToNextItem();  // nothing follows: a fast-forward onto the last cue
    f.settle();
    EXPECT_EQ(f.controller->currentItem(), b);
    f.controller->jumpToPrevItem();
    f.settle();
    EXPECT_EQ(f.controller->currentItem(), a);
    f.calls();
    f.controller->jumpToPrevItem();  // the first cue: rewound where it is
    f.settle();
    EXPECT_EQ(f.controller->currentItem(), a);
    EXPECT_EQ(f.rewound().mid(0, 2), QStringList({"c2", "c1"}));
}

TEST(KavioVideoItemManagerJumps, AClockJumpNamesA0BasedIndexAndOneOutsideTheListIsIgnored)
{
    JumpFixture f({10, 10, 10, 10, 10});
    const auto post = [&](QVariant index) {
        f.clock->notificationCenter().post(QString::fromLatin1(QVTClockNotification::JumpToItem), f.clock.get(),
                                           {{QString::fromLatin1(QVTClockNotification::JumpToItem), index}});
        f.settle();
    };
    for (const QVariant& refused : {QVariant(5), QVariant(-1), QVariant(QStringLiteral("two"))}) {
        post(refused);
        EXPECT_EQ(f.controller->currentItem(), f.cues[0]) << refused.toString().toStdString();
    }
    post(4);
    EXPECT_EQ(f.controller->currentItem(), f.cues[4]);
    EXPECT_TRUE(f.controller->shouldStopAfterTransitionStops());
}

TEST(KavioVideoItemManagerJumps, TheCutWaitsForTheRenderPassAndGivesUpAfterTheBound)
{
    JumpFixture f({25, 25, 25});
    const auto b = f.cues[1], c = f.cues[2];
    f.controller->setIsRendering(true);
    std::atomic<bool> done{false};
    EXPECT_FALSE(f.runElsewhere([&] { f.controller->jumpToItem(b); }, 0.2, done));
    EXPECT_EQ(f.controller->currentItem(), f.cues[0]);
    f.controller->setIsRendering(false);
    DispatchQueue::runMainUntil([&] { return done.load(); }, 5);
    f.settle();
    EXPECT_EQ(f.controller->currentItem(), b);

    // A pass that never ends: the jump goes on after a second, and says so.
    WarningCapture warnings;
    f.controller->setIsRendering(true);
    std::atomic<bool> late{false};
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(f.runElsewhere([&] { f.controller->jumpToItem(c); }, 10, late));
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(990));
    f.settle();
    EXPECT_EQ(f.controller->currentItem(), c);
    EXPECT_TRUE(warnings.contains("the render pass did not end"));
    f.controller->setIsRendering(false);
}

TEST(KavioVideoItemManagerJumps, GoOnTheCurrentCueResumesRestartsAtTheEndOrLeavesItPlaying)
{
    LinkRecorder link;
    JumpFixture f({25, 25});
    const auto a = f.cues[0], b = f.cues[1];
    // Stopped elsewhere in the cue: play is pressed, then the link hears the GO.
    f.controller->jumpToAndPlayItem(a);
    f.settle();
    EXPECT_TRUE(f.calls().contains("app.togglePlay"));
    EXPECT_EQ(link.take(), QStringList({"130:1"}));

    // The last cue stopped on its last frame restarts from its in point.
    f.controller->jumpToItem(b);
    f.settle();
    b->increaseTimeForNonMovies(1.0);
    ASSERT_EQ(b->timeLeftSMPTE(), QStringLiteral("-00:00:00:00"));
    f.calls();
    f.controller->jumpToAndPlayItem(b);
    f.settle();
    const QStringList restart = f.calls();
    EXPECT_TRUE(restart.contains("c2.rewind"));
    EXPECT_TRUE(restart.contains("app.togglePlay"));
    EXPECT_EQ(b->currentTimeSMPTE(), tc(0, 0));

    // Playing: GO on the current cue changes nothing.
    f.controller->setIsPlaying(true);
    f.controller->jumpToAndPlayItem(b);
    f.settle();
    EXPECT_TRUE(f.calls().isEmpty());
}

TEST(KavioVideoItemManagerJumps, RemoteGoByIndexNameOrCueIDMovesToTheMainQueueAndUnknownOnesDoNothing)
{
    JumpFixture f({25, 25, 25});
    f.cues[1]->setDisplayTitle(QStringLiteral("Intro"));
    f.cues[1]->refreshTitle();  // the name follows the title
    f.cues[2]->setCueID(QStringLiteral("END"));
    std::atomic<bool> done{false};
    f.runElsewhere([&] {
        f.controller->jumpToAndPlayItemWithName(QStringLiteral("Outro"));
        f.controller->jumpToAndPlayItemWithCueID(QStringLiteral("NOPE"));
        f.controller->jumpToAndPlayItemAtIndex(9);
    }, 5, done);
    f.settle();
    EXPECT_EQ(f.controller->currentItem(), f.cues[0]);
    EXPECT_TRUE(f.rewound().isEmpty());
    const auto remote = [&](std::function<void()> go, const std::shared_ptr<SequencingCue>& expected) {
        std::atomic<bool> sent{false};
        f.runElsewhere(std::move(go), 5, sent);
        f.settle();
        EXPECT_EQ(f.controller->currentItem(), expected);
        f.controller->setShouldStartPlaybackAfterStartTimeHasBeenSet(false);
    };
    remote([&] { f.controller->jumpToAndPlayItemWithName(QStringLiteral("Intro")); }, f.cues[1]);
    remote([&] { f.controller->jumpToAndPlayItemWithCueID(QStringLiteral("END")); }, f.cues[2]);
    remote([&] { f.controller->jumpToAndPlayItemAtIndex(1); }, f.cues[0]);
    f.controller->jumpToItemWithName(QString());
    f.controller->jumpToItemWithName(QStringLiteral("Intro"));
    f.settle();
    EXPECT_EQ(f.controller->currentItem(), f.cues[1]);
}

TEST(KavioVideoItemManagerJumps, TheLinkHearsGoAlwaysAndPlainJumpsOnlyWithTheirPanicBehaviour)
{
    LinkRecorder link;
    JumpFixture f({25, 25, 25});
    f.controller->jumpToAndPlayItem(f.cues[2]);
    f.settle();
    EXPECT_EQ(link.take(), QStringList({"130:3"}));
    // The play toggle's clock start would clear it; the fake application only logs the toggle.
    f.controller->setShouldStartPlaybackAfterStartTimeHasBeenSet(false);
    for (const auto& [behaviour, expected] : {std::pair{10, QStringList()}, {20, QStringList({"105:2"})},
                                              {30, QStringList({"120:2"})}}) {
        f.controller->setPanicBehaviour(behaviour);
        f.controller->jumpToItem(f.cues[1]);
        f.settle();
        f.controller->rewindCurrentItem();
        f.settle();
        EXPECT_EQ(link.take(), expected) << behaviour;
    }
}

struct CrossoverFixture : JumpFixture {
    std::shared_ptr<FakeTransition> transition = std::make_shared<FakeTransition>();
    explicit CrossoverFixture(const std::vector<std::int64_t>& frames) : JumpFixture(frames)
    {
        app->globalTransition.setState(1);
        for (const auto& cue : cues)
            cue->ownTransition = transition;
        cues[1]->setTransitionTime(0.5);
    }
};

TEST(KavioVideoItemManagerJumps, TheGlobalTransitionCutsWhenTheFaderIsDownOrShiftIsHeld)
{
    CrossoverFixture f({50, 50, 50});
    FakeFader fader;
    auto outlets = f.outlets();
    outlets.masterSlider = &fader;
    f.controller->setOutlets(outlets);
    fader.value = 0.000009;
    f.controller->jumpToItem(f.cues[1]);
    f.settle();
    EXPECT_FALSE(f.controller->isProcessingGlobalTransition());
    EXPECT_EQ(f.controller->currentItem(), f.cues[1]);
    fader.value = 1.0;
    f.app->shift = true;
    f.controller->jumpToItem(f.cues[2]);
    f.settle();
    EXPECT_FALSE(f.controller->isProcessingGlobalTransition());
    EXPECT_EQ(f.controller->currentItem(), f.cues[2]);
    // Fader up, no Shift: a crossover.
    f.app->shift = false;
    f.controller->jumpToItem(f.cues[0]);
    EXPECT_TRUE(f.controller->isProcessingGlobalTransition());
}

TEST(KavioVideoItemManagerJumps, GoFromStoppedCrossesOverAndTheIncomingCueIsCurrentAtTheEnd)
{
    CrossoverFixture f({50, 50});
    const auto a = f.cues[0], b = f.cues[1];
    f.controller->jumpToAndPlayItem(b);
    f.settle();
    EXPECT_TRUE(f.controller->isProcessingGlobalTransition());
    EXPECT_FALSE(f.controller->canJump());
    EXPECT_EQ(f.controller->currentTransition(), f.transition);
    EXPECT_EQ(f.transition->sourceItem(), a);
    EXPECT_EQ(f.transition->destinationItem(), b);
    EXPECT_DOUBLE_EQ(f.transition->duration(), 0.5);
    EXPECT_TRUE(b->isPlaying());
    EXPECT_TRUE(f.streamers->mixing);
    EXPECT_EQ(f.marker->fps, 100u);
    EXPECT_EQ(f.marker->outFrames, 99);
    EXPECT_TRUE(f.marker->mixing);
    const QStringList started = f.calls();
    EXPECT_TRUE(started.contains("c2.start"));
    EXPECT_TRUE(started.contains("app.togglePlay"));
    // The clock stands on the incoming cue's place.
    EXPECT_EQ(f.clock->clockSMPTETime(), tc(2, 0));
    EXPECT_EQ(f.controller->currentItem(), a);

    // The frame composition ends it when the progress reaches 1.
    f.controller->stopTransitionToItem();
    f.settle();
    EXPECT_EQ(f.controller->currentItem(), b);
    EXPECT_TRUE(b->isCurrent());
    EXPECT_FALSE(a->isCurrent());
    EXPECT_FALSE(f.controller->isProcessingGlobalTransition());
    EXPECT_TRUE(f.controller->canJump());
    EXPECT_FALSE(f.streamers->mixing);
    EXPECT_EQ(f.streamers->switches, 1);
    const QStringList ended = f.calls();
    EXPECT_TRUE(ended.contains("c1.pause(0)"));
    EXPECT_TRUE(ended.contains("c1.rewind"));
    // The renderer crosses from the incoming cue into its own next cue again.
    EXPECT_EQ(f.transition->sourceItem(), b);
}

TEST(KavioVideoItemManagerJumps, APlainJumpWhilePlayingStandsByOnTheNewCueWhenTheCrossoverEnds)
{
    CrossoverFixture f({50, 50});
    const auto a = f.cues[0], b = f.cues[1];
    f.go();
    ASSERT_TRUE(f.runUntilTick(tc(0, 10)));
    f.controller->jumpToItem(b);
    f.settle();
    EXPECT_TRUE(f.controller->isProcessingGlobalTransition());
    EXPECT_TRUE(f.controller->shouldStopAfterTransitionStops());
    EXPECT_FALSE(b->isPlaying());
    f.controller->stopTransitionToItem();
    f.nextTick();
    f.settle();
    EXPECT_FALSE(f.clock->isRunning());
    EXPECT_FALSE(f.controller->isPlaying());
    EXPECT_EQ(f.controller->currentItem(), b);
    EXPECT_FALSE(f.controller->shouldStopAfterTransitionStops());
    EXPECT_TRUE(f.controller->canJump());
    EXPECT_FALSE(a->isPlaying());
}

}  // namespace
