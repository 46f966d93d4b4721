// Clock-driven sequencing on the real master clock, stepped by the test (see SteppedShow.h).

#include "SteppedShow.h"

#include "Remote/KavioNMCManager.h"
#include "Support/KavioPlainPopUpButton.h"

#include <gtest/gtest.h>

namespace {

// The jumps concern's seek, as far as the clock sees it: the current cue stands at the time and
// reports the jump.
class SequencingController : public KavioVideoItemManager {
public:
    SequencingController(UserDefaults& defaults, std::shared_ptr<QVTClockTimeSource> source)
        : KavioVideoItemManager(defaults, std::move(source))
    {
    }
    CallLog* log = nullptr;
    using KavioVideoItemManager::setIsProcessingJump;
    void seekToSMPTETime(const QString& smpte) override
    {
        log->add(QStringLiteral("seek(%1)").arg(smpte));
        const auto cue = currentItem();
        const double start = masterClock()->secondsForSMPTEString(cue->originalItemStartSMPTETime());
        cue->increaseTimeForNonMovies(masterClock()->secondsForSMPTEString(smpte) - start - cue->currentCMTime().seconds());
        timeJumpedOnItem(cue);
    }
    void jumpToItem(const std::shared_ptr<KavioVideoItem>& item, bool) override
    {
        log->add(QStringLiteral("jumpToItem(%1)").arg(item ? item->uid() : QStringLiteral("-")));
    }
};

struct SequencingFixture : SteppedShowFixture<SequencingController> {
    explicit SequencingFixture(const std::vector<std::int64_t>& frames, bool playlistLoop = false)
        : SteppedShowFixture(frames, playlistLoop)
    {
        show->log = &log;
    }
};

QString tc(int s, int f)
{
    return QString::asprintf("00:00:%02d:%02d", s, f);
}

TEST(KavioVideoItemManagerSequencing, FollowOnTakesTwoTicksAndPutsTheClockOnTheNextCue)
{
    SequencingFixture f({50, 50});
    auto a = f.cues[0], b = f.cues[1];
    f.go();
    EXPECT_EQ(f.lastTick(), tc(0, 0));
    EXPECT_TRUE(a->isPlaying());
    // The first tick after a start leaves a still's running time alone; later ones advance it.
    EXPECT_DOUBLE_EQ(a->tempCurrentTimeForNonMovies(), 0.0);
    f.nextTick();
    EXPECT_NEAR(a->tempCurrentTimeForNonMovies(), 0.04, 1e-9);

    ASSERT_TRUE(f.runUntilTick(tc(1, 24)));
    EXPECT_TRUE(f.controller->shouldTriggerNextItem());
    EXPECT_EQ(f.controller->currentItem(), a);
    f.calls();

    EXPECT_EQ(f.nextTick(), tc(2, 0));
    EXPECT_EQ(f.controller->currentItem(), b);
    EXPECT_TRUE(b->isCurrent());
    EXPECT_FALSE(a->isCurrent());
    EXPECT_TRUE(b->isPlaying());
    EXPECT_EQ(f.clock->clockSMPTETime(), tc(2, 0));
    EXPECT_EQ(f.streamers->switches, 1);
    EXPECT_FALSE(f.streamers->mixing);
    // Nothing was selected: the cue that took over is.
    EXPECT_TRUE(b->isSelected());
    const QStringList calls = f.calls();
    EXPECT_TRUE(calls.contains("c2.start"));
    EXPECT_LT(calls.indexOf("c1.pause(0)"), calls.indexOf("c1.rewind"));
    EXPECT_TRUE(calls.contains("view.stateViewToOrigin(c1)"));
    EXPECT_TRUE(calls.contains("view.stateViewToOrigin(c2)"));
    EXPECT_EQ(f.nextTick(), tc(2, 1));
}

TEST(KavioVideoItemManagerSequencing, PauseAtEndStopsOnTheLastFrameAndTheNextStartMovesOn)
{
    SequencingFixture f({20, 20});
    auto a = f.cues[0], b = f.cues[1];
    a->setShouldStopAtEnd(true);
    f.go();
    EXPECT_EQ(f.runUntilStopped(), tc(0, 19));
    EXPECT_FALSE(f.clock->isRunning());
    EXPECT_FALSE(f.controller->isPlaying());
    EXPECT_EQ(f.clock->clockSMPTETime(), tc(0, 19));
    // Stopped on its very last frame: no preroll, the switcher is told.
    const QStringList calls = f.calls();
    EXPECT_TRUE(calls.contains("c1.pause(0)"));
    EXPECT_TRUE(calls.contains("atem.handleCueAtPauseAtEnd"));
    EXPECT_TRUE(calls.contains("c2.pause(1)"));
    EXPECT_EQ(f.app->play.state(), 0);
    EXPECT_TRUE(f.controller->shouldTriggerNextItem());
    EXPECT_EQ(a->itemStartSMPTETime(), tc(0, 19));

    f.go();
    EXPECT_EQ(f.controller->currentItem(), b);
    EXPECT_TRUE(b->isPlaying());
    EXPECT_EQ(f.clock->clockSMPTETime(), tc(0, 20));
    EXPECT_EQ(f.app->play.state(), 1);
    EXPECT_EQ(f.nextTick(), tc(0, 21));
}

TEST(KavioVideoItemManagerSequencing, StopBeforeThePauseAtEndPrerollsAndLeavesTheSwitcherAlone)
{
    SequencingFixture f({50, 50});
    f.cues[0]->setShouldStopAtEnd(true);
    f.go();
    ASSERT_TRUE(f.runUntilTick(tc(0, 10)));
    f.controller->stopClockWithCompletedHandler({});
    f.runUntilStopped();
    const QStringList calls = f.calls();
    EXPECT_TRUE(calls.contains("c1.pause(1)"));
    EXPECT_FALSE(calls.contains("atem.handleCueAtPauseAtEnd"));
    EXPECT_FALSE(f.controller->shouldTriggerNextItem());
}

TEST(KavioVideoItemManagerSequencing, PauseAtBeginningStandsByOnTheCueUntilTheNextStart)
{
    SequencingFixture f({20, 20});
    auto b = f.cues[1];
    b->setShouldStopAtBeginning(true);
    f.go();
    f.runUntilStopped();
    EXPECT_EQ(f.controller->currentItem(), b);
    EXPECT_FALSE(b->isPlaying());
    EXPECT_FALSE(f.calls().contains("c2.start"));
    EXPECT_EQ(f.clock->clockSMPTETime(), tc(0, 20));
    EXPECT_EQ(b->itemStartSMPTETime(), tc(0, 20));

    f.go();
    EXPECT_EQ(f.lastTick(), tc(0, 20));
    EXPECT_TRUE(b->isPlaying());
    EXPECT_TRUE(f.calls().contains("c2.start"));
}

TEST(KavioVideoItemManagerSequencing, PlaylistLoopOfThreeCuesReturnsToTheStartWithoutTellingTheFollowers)
{
    SequencingFixture f({10, 10, 10}, true);
    auto a = f.cues[0], c = f.cues[2];
    ASSERT_EQ(c->nextItem(), a);
    f.go();
    ASSERT_TRUE(f.runUntilTick(tc(1, 4)));
    EXPECT_TRUE(f.controller->shouldRestartClockByLoop());
    EXPECT_EQ(f.controller->currentItem(), c);

    EXPECT_EQ(f.nextTick(), tc(1, 5));
    EXPECT_EQ(f.controller->currentItem(), a);
    EXPECT_EQ(f.clock->clockSMPTETime(), tc(0, 0));
    EXPECT_TRUE(a->isPlaying());
    EXPECT_FALSE(f.controller->shouldRestartClockByLoop());
    // The suppression was spent on the clock's own locate back to the start.
    EXPECT_FALSE(KavioNMCManager::sharedManager().shouldSkipSendingNextLocate());
    EXPECT_EQ(f.nextTick(), tc(0, 1));
    EXPECT_TRUE(f.clock->isRunning());
}

TEST(KavioVideoItemManagerSequencing, OneCuePlaylistLoopPlaysTheCueAgainThroughItsLoopPlayers)
{
    SequencingFixture f({10}, true);
    auto a = f.cues[0];
    f.go();
    ASSERT_TRUE(f.runUntilTick(tc(0, 9)));
    EXPECT_FALSE(f.controller->shouldTriggerNextItem());
    EXPECT_TRUE(f.controller->shouldRestartClockByLoop());
    f.calls();

    EXPECT_EQ(f.nextTick(), tc(0, 10));
    EXPECT_EQ(f.clock->clockSMPTETime(), tc(0, 0));
    EXPECT_EQ(f.calls(), QStringList({"c1.switchPlayersOnLoop", "c1.start"}));
    EXPECT_EQ(a->itemStartSMPTETime(), tc(0, 0));
    EXPECT_EQ(a->itemEndSMPTETime(), tc(0, 9));
    ASSERT_TRUE(f.runUntilTick(tc(0, 9)));
    EXPECT_EQ(f.nextTick(), tc(0, 10));
    EXPECT_EQ(f.clock->clockSMPTETime(), tc(0, 0));
}

TEST(KavioVideoItemManagerSequencing, TimeDisplayShowsTheClockOrTheCuesTimeLeft)
{
    for (const bool timeLeft : {false, true}) {
        SequencingFixture f({50});
        f.controller->setDisplayTimeLeft(timeLeft);
        f.go();
        ASSERT_TRUE(f.runUntilTick(tc(0, 10)));
        EXPECT_EQ(f.app->displayedTime(), timeLeft ? QStringLiteral("-00:00:01:14") : tc(0, 10)) << timeLeft;
    }
}

TEST(KavioVideoItemManagerSequencing, SkippedEndFrameIsCaughtOnTheNextTickAndTheShowMovesOn)
{
    SequencingFixture f({10, 10});
    f.go();
    ASSERT_TRUE(f.runUntilTick(tc(0, 8)));
    // The clock jumps over the end frame 00:00:00:09.
    f.clock->setClockTime(0.40);
    EXPECT_EQ(f.nextTick(), tc(0, 11));
    EXPECT_TRUE(f.controller->shouldTriggerNextItem());
    EXPECT_EQ(f.controller->currentItem(), f.cues[0]);
    f.nextTick();
    EXPECT_EQ(f.controller->currentItem(), f.cues[1]);
    EXPECT_TRUE(f.cues[1]->isPlaying());
}

// Times are matched as timecode strings: a cue whose times are not laid out yet (empty) is
// neither started by the clock reaching its start nor sent on as if its end had been skipped.
TEST(KavioVideoItemManagerSequencing, ACueNotLaidOutYetIsNeitherStartedNorEnded)
{
    SequencingFixture f({10, 10});
    const auto a = f.cues[0];
    a->setItemStartSMPTETime({});
    a->setItemEndSMPTETime({});
    f.go();
    for (int frame = 0; frame < 15; ++frame)
        f.nextTick();
    EXPECT_EQ(f.lastTick(), tc(0, 15));
    EXPECT_FALSE(a->isPlaying());
    EXPECT_FALSE(f.calls().contains("c1.start"));
    EXPECT_FALSE(f.controller->shouldTriggerNextItem());
    EXPECT_EQ(f.controller->currentItem(), a);
}

TEST(KavioVideoItemManagerSequencing, ACueThatThrowsDoesNotStopTheClock)
{
    SequencingFixture f({10, 10});
    f.cues[0]->throwOnStart = true;
    f.go();
    EXPECT_TRUE(f.clock->isRunning());
    ASSERT_TRUE(f.runUntilTick(tc(0, 11)));
    EXPECT_EQ(f.controller->currentItem(), f.cues[1]);
}

TEST(KavioVideoItemManagerSequencing, GlobalTransitionRunsItsCuesTimeAndLoopsAndHoldsTheCueChange)
{
    SequencingFixture f({10, 10});
    auto a = f.cues[0], b = f.cues[1];
    auto transition = std::make_shared<FakeTransition>();
    transition->setSourceItem(a);
    transition->setDestinationItem(b);
    f.controller->setCurrentTransition(transition);
    b->setIsLooping(true);
    b->setLoopCount(KavioLoopCountEndless);
    f.go();
    f.controller->setIsProcessingGlobalTransition(true);
    b->setIsPlaying(true);
    f.nextTick();
    EXPECT_NEAR(a->tempCurrentTimeForNonMovies(), 0.04, 1e-9);
    EXPECT_NEAR(b->tempCurrentTimeForNonMovies(), 0.04, 1e-9);
    // An armed move waits while the crossover runs; the source's end neither arms nor stops.
    f.controller->setShouldTriggerNextItem(true);
    ASSERT_TRUE(f.runUntilTick(tc(0, 19)));
    EXPECT_EQ(f.controller->currentItem(), a);
    EXPECT_FALSE(f.controller->shouldTriggerNextItem());
    EXPECT_TRUE(f.calls().contains("c2.handleLooping"));
    EXPECT_TRUE(f.clock->isRunning());
}

// The same show on the clock's own real-time thread and the host's time: whatever frames a
// loaded machine makes it skip, the show reaches the second cue, and a stop ends it.
TEST(KavioVideoItemManagerSequencing, OnTheRealClockThreadTheShowMovesOnAndStops)
{
    ControllerFixture f;
    f.controller = KavioVideoItemManager::init(*f.defaults);
    f.controller->setOutlets(f.outlets());
    f.controller->setDelegate(f.app);
    f.app->controller = f.controller;
    f.controller->masterClock()->setSmpteFormat(QVTClockSMPTEFormat25);
    auto cues = f.addCues<SequencingCue>({10, 10});
    for (const auto& cue : cues)
        cue->setIsReady(true);
    f.controller->setCurrentItem(cues[0]);
    f.controller->masterClock()->runClockRenderer();
    f.controller->startClock();
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return f.controller->currentItem() == cues[1]; }, 30));
    EXPECT_TRUE(cues[1]->isPlaying());
    f.controller->stopClockWithCompletedHandler({});
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return !f.controller->masterClock()->isRunning(); }, 30));
    // The stop handler pauses the cue through the main queue: pump until it has.
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return !f.controller->isPlaying() && !cues[1]->isPlaying(); }, 30));
}

// --- Clock control -------------------------------------------------------------------------

TEST(KavioVideoItemManagerClockControl, StartWithoutACurrentCuePostsNothing)
{
    SequencingFixture f({10});
    f.controller->setCurrentItem(nullptr);
    const qsizetype ticks = f.tickCount();
    f.go();
    EXPECT_FALSE(f.clock->isRunning());
    EXPECT_EQ(f.tickCount(), ticks);
    // A time notification without a timecode is ignored.
    f.controller->setCurrentItem(f.cues[0]);
    f.controller->setIsPlaying(true);
    f.clock->notificationCenter().post(QString::fromLatin1(QVTClockNotification::TimeChanged), f.clock.get());
    EXPECT_FALSE(f.cues[0]->isPlaying());
    // Nor is a locate without one.
    f.clock->notificationCenter().post(QString::fromLatin1(QVTClockNotification::ExtStartTimeSet), f.clock.get());
    EXPECT_FALSE(f.calls().join(QLatin1Char(',')).contains(QLatin1String("seek")));
}

TEST(KavioVideoItemManagerClockControl, IntegrationsAtAPauseAtEndLoadTheNextCueOrRewindAndSelect)
{
    SequencingFixture f({10, 10});
    f.controller->setShouldLoadNextCueByATEM(true);
    f.controller->setShouldRewindCueByNDI(true);
    f.controller->handleIntegrationsOnPauseAtEnd();
    f.settle();
    EXPECT_TRUE(f.calls().contains("jumpToItem(c2)"));
    EXPECT_FALSE(f.controller->shouldLoadNextCueByATEM());
    // Loading wins over the rewind request, which waits for the next time.
    EXPECT_TRUE(f.controller->shouldRewindCueByNDI());
    EXPECT_TRUE(f.cues[0]->isSelected());

    f.controller->handleIntegrationsOnPauseAtEnd();
    f.settle();
    EXPECT_FALSE(f.controller->shouldRewindCueByNDI());
    // The rewind is a rewind jump to the current cue, not a load of the next.
    const QStringList rewound = f.calls();
    EXPECT_TRUE(rewound.contains("jumpToItem(c1)"));
    EXPECT_FALSE(rewound.contains("jumpToItem(c2)"));
    EXPECT_TRUE(f.cues[0]->isSelected());
}

TEST(KavioVideoItemManagerClockControl, StartOutsideTheInAndOutPointsRewindsFirstUnlessANextCueIsArmed)
{
    SequencingFixture f({20, 20});
    f.cues[0]->needsRewind = true;
    f.controller->startClock();
    EXPECT_FALSE(f.clock->isRunning());
    EXPECT_TRUE(f.controller->shouldStartClockAfterStartTimeHasBeenSet());
    EXPECT_EQ(f.calls(), QStringList({"c1.rewind"}));
    // The rewind's time jump arrives on the main queue and starts the clock.
    f.settle();
    EXPECT_TRUE(f.clock->isRunning());
    EXPECT_TRUE(f.cues[0]->isPlaying());

    SequencingFixture armed({20, 20});
    armed.cues[0]->needsRewind = true;
    armed.controller->setShouldTriggerNextItem(true);
    armed.controller->startClock();
    EXPECT_TRUE(armed.clock->isRunning());
    EXPECT_FALSE(armed.calls().contains("c1.rewind"));
}

TEST(KavioVideoItemManagerClockControl, StartIsRefusedWhileTheStopOfAJumpIsPending)
{
    SequencingFixture f({50});
    f.go();
    ASSERT_TRUE(f.runUntilTick(tc(0, 3)));
    f.controller->stopClockWithCompletedHandler({});
    f.show->setIsProcessingJump(true);
    // Starting now would cancel the stop that carries the jump.
    f.controller->startClock();
    f.nextTick();
    EXPECT_FALSE(f.clock->isRunning());
}

TEST(KavioVideoItemManagerClockControl, LocateRestartsARunningClockAndLeavesAStoppedOneStopped)
{
    for (const bool running : {true, false}) {
        SequencingFixture f({50, 50});
        if (running) {
            f.go();
            ASSERT_TRUE(f.runUntilTick(tc(0, 5)));
        }
        std::atomic<int> handled{0};
        f.controller->locateClockToTime(1.2, [&] { ++handled; });
        if (running)
            f.nextTick();
        f.settle();
        EXPECT_EQ(handled.load(), 1) << running;
        EXPECT_TRUE(f.calls().contains("seek(00:00:01:05)")) << running;
        EXPECT_EQ(f.clock->isRunning(), running);
        EXPECT_EQ(f.clock->clockSMPTETime(), tc(1, 5)) << running;
        if (running) {
            EXPECT_EQ(f.nextTick(), tc(1, 6));
        }
    }
}

TEST(KavioVideoItemManagerClockControl, PlaylistLoopLinksTheLastCueAndSetsUpAOneCueLoop)
{
    SequencingFixture one({10});
    one.controller->shouldLoop(true);
    EXPECT_EQ(one.cues[0]->nextItem(), one.cues[0]);
    EXPECT_EQ(one.cues[0]->loopHelperSetups, 1);
    one.controller->shouldLoop(false);
    EXPECT_EQ(one.cues[0]->nextItem(), nullptr);

    SequencingFixture three({10, 10, 10});
    three.controller->shouldLoop(true);
    EXPECT_EQ(three.cues[2]->nextItem(), three.cues[0]);
    EXPECT_EQ(three.cues[0]->loopHelperSetups, 0);
}

TEST(KavioVideoItemManagerClockControl, PlayButtonShowsTheTimecodeLock)
{
    struct Case {
        bool locked, jamSync;
        const char* image;
    };
    SequencingFixture f({10});
    for (const Case c : {Case{true, false, "kavio_timecode"}, Case{false, false, "kavio_wait"},
                         Case{true, true, "kavio_timecode_lost"}, Case{false, true, "kavio_timecode_lost"}}) {
        f.clock->setIsConnectedToSlave(c.locked);
        f.clock->setIsInJamSync(c.jamSync);
        f.controller->handleClockSlaveStateChanged();
        f.settle();
        EXPECT_EQ(f.app->play.imageName(), QLatin1String(c.image)) << c.locked << c.jamSync;
    }
}

TEST(KavioVideoItemManagerClockControl, ThreeLostMTCFramesUnderEndlessFreeWheelShowTheLockLost)
{
    SequencingFixture f({250});
    f.controller->setPlaybackMode(1);
    f.clock->setIsMTCSlave(true);
    f.clock->setFreeWheelFrames(QVTClock::kEndlessFreeWheel);
    f.clock->setIsConnectedToSlave(true);
    f.controller->handleClockSlaveStateChanged();
    f.settle();
    EXPECT_EQ(f.app->play.imageName(), QStringLiteral("kavio_timecode"));
    f.clock->startClock();
    // No time code arrives: four frame times of silence on the clock thread.
    std::atomic<bool> done{false};
    f.clockThread.async([&] {
        for (int cycle = 0; cycle < 4 * 24; ++cycle)
            f.clock->runCycle(f.time->now.load());
        done = true;
    });
    DispatchQueue::runMainUntil([&] { return done.load(); }, 60);
    f.settle();
    EXPECT_TRUE(f.clock->isInJamSync());
    EXPECT_EQ(f.app->play.imageName(), QStringLiteral("kavio_timecode_lost"));
}

TEST(KavioVideoItemManagerClockControl, FollowingMTCTicksOnTheMainThreadAndAlwaysStartsTheNextCue)
{
    SequencingFixture f({10, 10});
    f.cues[1]->setShouldStopAtBeginning(true);
    f.clock->setMaxClockSMPTETime(QStringLiteral("00:01:00:00"));
    f.controller->setPlaybackMode(1);
    f.clock->setIsMTCSlave(true);
    for (int frame = 0; frame <= 11; ++frame) {
        f.clock->handleNewTimeInSlaveMode(frame * 0.04);
        f.settle();
    }
    EXPECT_EQ(f.lastTick(), tc(0, 11));
    EXPECT_EQ(f.controller->currentItem(), f.cues[1]);
    EXPECT_TRUE(f.cues[1]->isPlaying());
    EXPECT_TRUE(f.clock->isRunning());
    // The last cue's end leaves the decision to the outside time code.
    for (int frame = 12; frame <= 19; ++frame) {
        f.clock->handleNewTimeInSlaveMode(frame * 0.04);
        f.settle();
    }
    EXPECT_EQ(f.lastTick(), tc(0, 19));
    EXPECT_TRUE(f.clock->isRunning());
    EXPECT_FALSE(f.calls().contains("app.stopClockByManagerIfNeeded"));
}

TEST(KavioVideoItemManagerClockControl, FailSafeWaitsForALaggingCueAtMostHalfASecond)
{
    SequencingFixture f({10, 10});
    auto a = f.cues[0];
    a->setShouldStopAtEnd(true);
    // Its media runs three seconds while its place on the line is ten frames.
    a->setDurationOfNonMovies(3.0f);
    f.go();
    f.runUntilStopped();
    EXPECT_NEAR(a->tempCurrentTimeForNonMovies(), 0.36 + 0.5, 1e-6);
}

TEST(KavioVideoItemManagerClockControl, ModeOnOpenIsStoredAtOnceAndAStoredValueOutsideTheModesReadsAsStandalone)
{
    SequencingFixture f({10});
    KavioPlainPopUpButton popup;
    for (const long tag : {0L, 1L, 2L})
        popup.addItem(QString::number(tag), tag);
    auto o = f.outlets();
    o.playbackModeOnOpen = &popup;
    f.controller->setOutlets(o);
    popup.selectItemWithTag(2);
    f.controller->changePlaybackModeOnOpen();
    EXPECT_EQ(UserDefaults(f.settingsDir.filePath(QStringLiteral("test.conf"))).integerForKey(QStringLiteral("playbackmode")), 2);

    for (const auto& [stored, read] : {std::pair{-1L, 0L}, {3L, 0L}, {2L, 2L}, {1L, 1L}}) {
        f.defaults->setInteger(stored, QStringLiteral("playbackmode"));
        EXPECT_EQ(f.controller->storedPlaybackModeOnOpen(), read) << stored;
    }
}

}  // namespace
