#include "ControllerFakes.h"

#include <gtest/gtest.h>

namespace {

QString tc(int h, int m, int s, int f)
{
    return QString::asprintf("%02d:%02d:%02d:%02d", h, m, s, f);
}

struct TimelineFixture : ControllerFixture {
    TimelineFixture(std::int32_t format = QVTClockSMPTEFormat25, double offset = 0.0)
    {
        connected();
        controller->masterClock()->setSmpteFormat(format);
        controller->masterClock()->setClockOffset(offset);
    }
};

struct RateCase {
    std::int32_t format;
    int fps;
    int offsetHours;
};

class TimelineAtRate : public testing::TestWithParam<RateCase> {};

TEST_P(TimelineAtRate, CuesStandEndToEndAndTransitionsPullTheNextStartIn)
{
    const auto [format, fps, h] = GetParam();
    TimelineFixture f(format, h * 3600.0);
    auto cues = f.addCues({10 * fps, 5 * fps, 2 * fps});

    EXPECT_EQ(cues[0]->itemStartSMPTETime(), tc(h, 0, 0, 0));
    EXPECT_EQ(cues[0]->itemEndSMPTETime(), tc(h, 0, 9, fps - 1));
    EXPECT_EQ(cues[1]->itemStartSMPTETime(), tc(h, 0, 10, 0));
    EXPECT_EQ(cues[1]->originalItemStartSMPTETime(), tc(h, 0, 10, 0));
    EXPECT_EQ(cues[2]->itemStartSMPTETime(), tc(h, 0, 15, 0));
    EXPECT_EQ(f.controller->masterClock()->maxClockSMPTETime(), tc(h, 0, 16, fps - 1));
    EXPECT_EQ(f.controller->projectTRT(), tc(0, 0, 16, fps - 1));
    EXPECT_EQ(f.controller->newCueIndex(), 4u);

    cues[0]->setTransition(1.0);
    f.controller->buildItemQueue();
    EXPECT_EQ(cues[1]->itemStartSMPTETime(), tc(h, 0, 9, 0));
    EXPECT_EQ(cues[2]->itemStartSMPTETime(), tc(h, 0, 14, 0));

    // Half a second is half a frame short of whole frames at 25: the start is truncated.
    cues[0]->setTransition(0.5);
    f.controller->buildItemQueue();
    const int half = 10 * fps - fps / 2 - (fps % 2);
    EXPECT_EQ(cues[1]->itemStartSMPTETime(), tc(h, 0, half / fps, half % fps));
}

INSTANTIATE_TEST_SUITE_P(Rates, TimelineAtRate,
                         testing::Values(RateCase{QVTClockSMPTEFormat24, 24, 0}, RateCase{QVTClockSMPTEFormat25, 25, 0},
                                         RateCase{QVTClockSMPTEFormat30, 30, 0}, RateCase{QVTClockSMPTEFormat24, 24, 1},
                                         RateCase{QVTClockSMPTEFormat25, 25, 1}, RateCase{QVTClockSMPTEFormat30, 30, 1}));

TEST(KavioVideoItemManagerTimeline, HalfSecondTransitionAfterFrame249StartsOnFrame237)
{
    TimelineFixture f;
    auto cues = f.addCues({250, 250});
    cues[0]->setTransition(0.5);
    f.controller->buildItemQueue();
    EXPECT_EQ(f.controller->masterClock()->frameCountSMPTEString(cues[1]->itemStartSMPTETime()), 237);
}

TEST(KavioVideoItemManagerTimeline, OneTenSecondCueRunsNineSecondsAndTwentyFourFrames)
{
    TimelineFixture f(QVTClockSMPTEFormat25, 3600.0);
    f.addCues({250});
    EXPECT_EQ(f.controller->projectTRT(), QStringLiteral("00:00:09:24"));
}

TEST(KavioVideoItemManagerTimeline, EmptyListSetsNoTimes)
{
    TimelineFixture f;
    f.controller->masterClock()->setMaxClockSMPTETime(QStringLiteral("00:01:00:00"));
    f.controller->buildItemQueue();
    EXPECT_EQ(f.controller->newCueIndex(), 1u);
    EXPECT_EQ(f.controller->projectTRT(), QStringLiteral("00:00:00:00"));
    EXPECT_NE(f.controller->masterClock()->maxClockSMPTETime(), QStringLiteral("00:01:00:00"));
}

TEST(KavioVideoItemManagerTimeline, CueOfZeroFramesStillGetsTimesAndTheListRunsNoTime)
{
    TimelineFixture f;
    auto cues = f.addCues({0});
    EXPECT_EQ(cues[0]->itemStartSMPTETime(), QStringLiteral("00:00:00:00"));
    EXPECT_EQ(f.controller->projectTRT(), QStringLiteral("00:00:00:00"));
}

TEST(KavioVideoItemManagerTimeline, SingleCueLoopsToItselfAndGetsItsLoopHelperOnlyWhenReadyAndNotLoading)
{
    struct Case {
        bool ready;
        bool loading;
        int helpers;
    };
    for (const Case c : {Case{true, false, 1}, Case{false, false, 0}, Case{true, true, 0}}) {
        TimelineFixture f;
        f.app->loop.setState(1);
        auto cues = f.addCues({250});
        cues[0]->setIsReady(c.ready);
        f.controller->setIsLoadingProject(c.loading);
        const int before = cues[0]->loopHelperSetups;
        f.controller->buildItemQueue();
        EXPECT_EQ(cues[0]->nextItem(), cues[0]);
        EXPECT_EQ(cues[0]->loopHelperSetups - before, c.helpers) << c.ready << c.loading;
    }
}

TEST(KavioVideoItemManagerTimeline, PlaylistLoopLinksTheLastCueToTheFirstAndOffUnlinksIt)
{
    TimelineFixture f;
    f.app->loop.setState(1);
    auto cues = f.addCues({250, 250});
    EXPECT_EQ(cues[1]->nextItem(), cues[0]);
    EXPECT_EQ(cues[0]->prevItem(), nullptr);
    f.app->loop.setState(0);
    f.controller->buildItemQueue();
    EXPECT_EQ(cues[1]->nextItem(), nullptr);
    EXPECT_EQ(cues[1]->prevItem(), cues[0]);
}

TEST(KavioVideoItemManagerTimeline, LoopWalkMovesTheFollowingCuesAndStopsAtTheFirst)
{
    TimelineFixture f;
    f.app->loop.setState(1);
    auto cues = f.addCues({250, 250, 250});
    const int firstSetups = cues[0]->timeSetups;
    // The first cue loops once more: it now ends ten seconds later.
    cues[0]->setItemEndSMPTETime(QStringLiteral("00:00:19:24"));
    f.controller->loopingTurnedOffOnItem(cues[0]);

    EXPECT_EQ(cues[1]->itemStartSMPTETime(), QStringLiteral("00:00:20:00"));
    EXPECT_EQ(cues[2]->itemStartSMPTETime(), QStringLiteral("00:00:30:00"));
    EXPECT_EQ(cues[1]->originalItemStartSMPTETime(), QStringLiteral("00:00:10:00"));  // left alone
    EXPECT_EQ(cues[0]->timeSetups, firstSetups);
    EXPECT_EQ(f.controller->masterClock()->maxClockSMPTETime(), QStringLiteral("00:00:39:24"));
}

TEST(KavioVideoItemManagerTimeline, LoopOnChangesOnlyTheClocksMaximum)
{
    TimelineFixture f;
    auto cues = f.addCues({250, 250});
    const int setups = cues[1]->timeSetups;
    cues[1]->setItemEndSMPTETime(QStringLiteral("00:00:29:24"));
    f.controller->loopingTurnedOnOnItem(cues[0]);
    EXPECT_EQ(cues[1]->timeSetups, setups);
    EXPECT_EQ(cues[1]->itemStartSMPTETime(), QStringLiteral("00:00:10:00"));
    EXPECT_EQ(f.controller->masterClock()->maxClockSMPTETime(), QStringLiteral("00:00:29:24"));
}

TEST(KavioVideoItemManagerTimeline, TransitionWalkResetsUnshiftedStartsAndMarksTheProjectChanged)
{
    TimelineFixture f;
    auto cues = f.addCues({250, 250, 250});
    f.log.take();
    cues[0]->setTransition(1.0);
    f.controller->rebuildItemTimesByTransitioningItem(cues[0]);
    EXPECT_EQ(cues[1]->itemStartSMPTETime(), QStringLiteral("00:00:09:00"));
    EXPECT_EQ(cues[1]->originalItemStartSMPTETime(), QStringLiteral("00:00:09:00"));
    EXPECT_EQ(cues[2]->originalItemStartSMPTETime(), QStringLiteral("00:00:19:00"));
    EXPECT_EQ(f.log.take(), QStringList({"app.forceTRT(1)", "app.unsaved(1)"}));

    f.controller->rebuildItemTimesByTransitioningItem(nullptr);
    EXPECT_TRUE(f.log.take().isEmpty());
}

TEST(KavioVideoItemManagerTimeline, TransitionLongerThanItsCueIsShortenedBeforeItIsSubtracted)
{
    TimelineFixture f;
    auto cues = f.addCues({250, 25, 250});
    cues[1]->setTransition(2.0);
    f.controller->buildItemQueue();
    // Validating the line limits it below half of its 1 s cue; only that much overlaps.
    EXPECT_TRUE(cues[1]->hasTransition());
    EXPECT_LT(cues[1]->transitionTime(), 0.5);
    f.controller->buildItemQueue();
    const auto clock = f.controller->masterClock();
    const double following = double(clock->frameCountSMPTEString(cues[1]->itemEndSMPTETime()) + 1);
    EXPECT_EQ(clock->frameCountSMPTEString(cues[2]->itemStartSMPTETime()),
              std::int64_t(following - clock->framerate() * cues[1]->transitionTime()));
}

TEST(KavioVideoItemManagerTimeline, InsertShiftsTheFollowingCuesUnlessAProjectLoads)
{
    TimelineFixture f;
    auto cues = f.addCues({25, 25, 25});
    auto inserted = std::make_shared<FixedLengthCue>(f.controller->masterClock(), 25, QStringLiteral("new"));
    f.controller->insertItem(inserted, 2);
    f.controller->buildItemQueue();
    EXPECT_EQ(f.uidsInOrder(), QStringList({"c1", "new", "c2", "c3"}));

    f.controller->setIsLoadingProject(true);
    auto loaded = std::make_shared<FixedLengthCue>(f.controller->masterClock(), 25, QStringLiteral("loaded"));
    f.controller->insertItem(loaded, 2);
    f.controller->buildItemQueue();
    // Equal indexes keep their list order: the loaded cue follows the cue already at 2.
    EXPECT_EQ(f.uidsInOrder(), QStringList({"c1", "new", "loaded", "c2", "c3"}));

    f.controller->removeItem(inserted);
    auto fresh = std::make_shared<FixedLengthCue>(f.controller->masterClock(), 25, QStringLiteral("fresh"));
    f.controller->replaceItemAtPosition(6, fresh);
    f.controller->replaceItemAtPosition(1, fresh);
    f.controller->buildItemQueue();
    EXPECT_EQ(f.uidsInOrder(), QStringList({"fresh", "loaded", "c2", "c3"}));
}

TEST(KavioVideoItemManagerTimeline, EveryEditEndsInTheSameSteps)
{
    TimelineFixture f;
    auto cues = f.addCues({250, 250});
    f.controller->setCurrentItem(cues[0]);
    DispatchQueue::drainMain();
    cues[0]->setIsLooping(true);
    cues[0]->setLoopCounter(3);
    f.log.take();
    f.controller->handleItemsUpdatedWithScrollOption(10);
    // The transport controls follow the list (the marker is enabled for a list with cues).
    EXPECT_EQ(f.log.take(), QStringList({"inspector.videoItemsUpdated", "hyperdeck.refreshPlaylist", "view.refresh(10)",
                                         "marker.setEnabled(1)", "app.forceTRT(1)", "app.unsaved(1)"}));
    EXPECT_EQ(cues[0]->loopCounter(), 0u);
    EXPECT_EQ(f.inspector->lastItems, f.controller->items());

    f.controller->setIsLoadingProject(true);
    f.controller->handleItemTimesUpdated();
    EXPECT_EQ(f.log.take(), QStringList({"inspector.videoItemsUpdated", "hyperdeck.refreshPlaylist", "view.refresh(0)"}));
}

}  // namespace
