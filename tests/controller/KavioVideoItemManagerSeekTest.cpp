// Locating the show, goto before the end, typed times, the playhead drag's bracket and the
// handles, on the real master clock stepped by the test.

#include "SteppedShow.h"

#include <gtest/gtest.h>

namespace {

QString tc(int m, int s, int f)
{
    return QString::asprintf("00:%02d:%02d:%02d", m, s, f);
}

struct SeekFixture : SteppedShowFixture<> {
    explicit SeekFixture(const std::vector<std::int64_t>& frames) : SteppedShowFixture(frames)
    {
        openJumps();
        // A cue seeked as current re-aims its next cue: that happens before the walk goes on.
        for (const auto& cue : cues)
            cue->rewindsAtOnce = true;
    }
    // Where the clock and the current cue stand after the main queue has settled.
    QString clockTime()
    {
        settle();
        return clock->clockSMPTETime();
    }
};

TEST(KavioVideoItemManagerSeek, GotoTenBeforeTheEndLocatesThereAndTellsTheLink)
{
    LinkRecorder link;
    SeekFixture f({1501});  // ends on 00:01:00:00
    ASSERT_EQ(f.cues[0]->itemEndSMPTETime(), tc(1, 0, 0));
    f.controller->performGoto10();
    EXPECT_EQ(f.clockTime(), tc(0, 50, 0));
    EXPECT_EQ(f.cues[0]->currentTimeSMPTE(), tc(0, 50, 0));
    EXPECT_FALSE(f.controller->seekPerformedByGoto());
    EXPECT_EQ(link.take(), QStringList({"110:00:00:10:00:1"}));
    // Dropped while a crossover runs.
    f.controller->setIsProcessingGlobalTransition(true);
    f.controller->performGoto30();
    EXPECT_EQ(f.clockTime(), tc(0, 50, 0));
    EXPECT_TRUE(link.take().isEmpty());
}

TEST(KavioVideoItemManagerSeek, ATimePastTheLastEndStandsOnTheLastCuesEnd)
{
    SeekFixture f({25, 25, 25});
    f.controller->seekToSMPTETime(tc(0, 9, 0));
    EXPECT_EQ(f.clockTime(), tc(0, 2, 24));
    EXPECT_EQ(f.controller->currentItem(), f.cues[2]);
    EXPECT_TRUE(f.cues[2]->isCurrent());
    EXPECT_FALSE(f.cues[0]->isCurrent());
    const QStringList calls = f.calls();
    EXPECT_TRUE(calls.contains("c1.rewind"));
    EXPECT_TRUE(calls.contains("c2.rewind"));
    EXPECT_FALSE(f.controller->shouldTriggerNextItem());

    // A maximum left behind the last cue's end still ends there, without coming back for ever.
    f.controller->jumpToItem(f.cues[0]);
    f.clock->setMaxClockSMPTETime(tc(0, 1, 0));
    f.controller->seekToSMPTETime(tc(0, 9, 0));
    EXPECT_EQ(f.clockTime(), tc(0, 2, 24));
    EXPECT_EQ(f.controller->currentItem(), f.cues[2]);
}

TEST(KavioVideoItemManagerSeek, ATimeInsideTwoOverlappingCuesMakesTheLaterOneCurrent)
{
    SeekFixture f({50, 50});
    f.cues[0]->setTransition(0.4);  // the second cue starts 10 frames before the first ends
    f.controller->buildItemQueue();
    ASSERT_EQ(f.cues[1]->originalItemStartSMPTETime(), tc(0, 1, 15));
    f.controller->seekToSMPTETime(tc(0, 1, 20));
    f.settle();
    EXPECT_EQ(f.controller->currentItem(), f.cues[1]);
    EXPECT_EQ(f.cues[1]->currentTimeSMPTE(), tc(0, 0, 5));
    EXPECT_EQ(f.clockTime(), tc(0, 1, 20));
}

TEST(KavioVideoItemManagerSeek, TwoAndAHalfDurationsIntoALoopingCueCountTwoPassesAndSeekHalfway)
{
    SeekFixture f({50, 500});
    f.cues[0]->setIsLooping(true);
    f.cues[0]->setLoopCount(KavioLoopCountEndless);
    f.controller->seekToSMPTETime(tc(0, 5, 0));  // frame 125 of a 50-frame cue
    f.settle();
    EXPECT_EQ(f.controller->currentItem(), f.cues[0]);
    EXPECT_EQ(f.cues[0]->loopCounter(), 2u);
    EXPECT_EQ(f.cues[0]->currentTimeSMPTE(), tc(0, 1, 0));

    // A looping cue without frames has no passes to count.
    SeekFixture empty({0, 50});
    empty.cues[0]->setIsLooping(true);
    empty.controller->seekToSMPTETime(tc(0, 0, 10));
    empty.settle();
    EXPECT_EQ(empty.cues[0]->loopCounter(), 0u);
}

TEST(KavioVideoItemManagerSeek, TheRangeTestIncludesBothEnds)
{
    SeekFixture f({25});
    const struct {
        const char* time;
        bool inside;
    } table[] = {{"00:00:01:00", true}, {"00:00:02:00", true}, {"00:00:03:00", true},
                 {"00:00:00:24", false}, {"00:00:03:01", false}};
    for (const auto& row : table)
        EXPECT_EQ(f.controller->smpteTimeIsBetweenStartAndEnd(QString::fromLatin1(row.time), tc(0, 1, 0), tc(0, 3, 0)),
                  row.inside)
            << row.time;
}

TEST(KavioVideoItemManagerSeek, TypedTimesMoveRelativeOrAbsoluteAndTextThatIsNoTimecodeIsRefused)
{
    SeekFixture f({1000});
    f.controller->setClockToTime(tc(0, 10, 0));
    EXPECT_EQ(f.clockTime(), tc(0, 10, 0));
    const struct {
        const char* typed;
        QString expected;
    } table[] = {{"+00:00:05:00", tc(0, 15, 0)}, {"-00:00:05:00", tc(0, 10, 0)}, {"00:00:05:00", tc(0, 5, 0)},
                 {"-00:01:00:00", tc(0, 0, 0)}, {"12:ab", tc(0, 0, 0)}, {"+-00:00:01:00", tc(0, 0, 0)},
                 {"", tc(0, 0, 0)}};
    for (const auto& row : table) {
        f.controller->setClockToTime(QString::fromLatin1(row.typed));
        EXPECT_EQ(f.clockTime(), row.expected) << row.typed;
        EXPECT_EQ(f.cues[0]->currentTimeSMPTE(), row.expected) << row.typed;
    }
    f.controller->setClockToTime(tc(0, 7, 0));
    f.settle();
    f.app->displayTimeIfNeeded(QStringLiteral("garbage"));
    f.controller->setClockToTime(QStringLiteral("garbage"));
    EXPECT_EQ(f.app->displayedTime(), tc(0, 7, 0));
    EXPECT_EQ(f.clockTime(), tc(0, 7, 0));
}

TEST(KavioVideoItemManagerSeek, ASeekOnTheCurrentCuePastItsLengthStopsAFrameAndAMillisecondShort)
{
    SeekFixture f({25, 50});
    f.controller->jumpToItem(f.cues[1]);
    f.settle();
    f.controller->seekToSMPTETimeOnCurrentItem(tc(0, 1, 0));
    EXPECT_EQ(f.clockTime(), tc(0, 2, 0));
    f.controller->seekToSMPTETimeOnCurrentItem(tc(10, 0, 0));
    EXPECT_EQ(f.clockTime(), tc(0, 2, 24));  // the cue's last frame
    EXPECT_NEAR(f.cues[1]->currentCMTime().seconds(), 2.0 - 0.04 - 0.001, 0.002);
    EXPECT_EQ(f.controller->currentItem(), f.cues[1]);
}

TEST(KavioVideoItemManagerSeek, APlayheadDragStopsPlaybackTellsTheLinkAndResumes)
{
    LinkRecorder link;
    SeekFixture f({50});
    f.controller->setIsPlaying(true);
    bool down = false, up = false;
    f.controller->handleMarkerMouseDownWithCompletedHandler([&] { down = true; });
    EXPECT_TRUE(down);
    EXPECT_TRUE(f.controller->isPlayheadMarkerDragging());
    EXPECT_FALSE(f.controller->canJump());
    EXPECT_EQ(f.app->play.state(), 0);
    f.controller->setIsPlaying(false);
    f.marker->markerFrames = 20;
    f.marker->inFrames = 0;
    f.controller->performGotoToByMarker();
    f.settle();
    EXPECT_EQ(f.clock->clockSMPTETime(), tc(0, 0, 20));
    f.calls();
    f.controller->handleMarkerMouseUpWithCompletedHandler([&] { up = true; });
    f.settle();
    EXPECT_TRUE(up);
    EXPECT_FALSE(f.controller->isPlayheadMarkerDragging());
    EXPECT_TRUE(f.controller->canJump());
    EXPECT_EQ(f.app->play.state(), 1);
    EXPECT_EQ(f.calls().filter("app.togglePlay").size(), 1);
    EXPECT_EQ(link.take(), QStringList({"100:00:00:00:20:1"}));
    // Outside a transition the decks swap back only when they were mixing.
    EXPECT_EQ(f.streamers->switches, 0);
    f.streamers->setIsMixing(true);
    f.controller->handleMarkerMouseDownWithCompletedHandler({});
    f.controller->handleMarkerMouseUpWithCompletedHandler({});
    f.settle();
    EXPECT_EQ(f.streamers->switches, 1);
    EXPECT_FALSE(f.streamers->isMixing());
}

TEST(KavioVideoItemManagerSeek, HandleDragsReachTheInspectorAndResetsFollowTheCurrentCue)
{
    SeekFixture f({50, 50});
    f.marker->inFrames = 5;
    f.marker->outFrames = 40;
    f.marker->markerFrames = 10;
    f.marker->left = true;
    f.controller->handleMarkerThrottlerDragged();
    EXPECT_EQ(f.calls(), QStringList({"inspector.undoSetInTime(0.2,c1)"}));
    f.marker->left = false;
    f.marker->range = true;
    f.controller->handleMarkerThrottlerDragged();
    const double out = f.cues[0]->videoDuration() - 40 * 0.04;
    EXPECT_EQ(f.calls(), QStringList({"inspector.undoSetInTime(0.2,c1)",
                                      QStringLiteral("inspector.undoSetOutTime(%1,c1)").arg(out)}));
    f.controller->resetInOutTime();
    EXPECT_EQ(f.calls(), QStringList({"inspector.undoSetInTimeAndOutTime(0,0,c1)"}));

    // Only the current cue's resets reach the bar.
    f.controller->handleInTimeResetOnItem(f.cues[1]);
    EXPECT_TRUE(f.calls().isEmpty());
    f.controller->handleOutTimeResetOnItem(f.cues[0]);
    EXPECT_EQ(f.marker->inFrames, 0);
    EXPECT_TRUE(f.calls().contains("marker.redraw"));
}

}  // namespace
