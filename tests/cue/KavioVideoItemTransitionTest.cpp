// A cue's transition into the cue after it, on a real master clock: the length limits, where the
// transition lies on the line, whether it runs and how far it has come.

#include "CueRendererFakes.h"
#include "CueTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

// Cues of given lengths under a fake controller with a real clock, with recording renderers.
struct TransitionLine {
    RecordingRenderers renderers;
    RecordingOSCOutput osc;
    std::shared_ptr<FakeKavioVideoItemManager> controller = std::make_shared<FakeKavioVideoItemManager>();
    std::shared_ptr<QVTClock> clock = QVTClock::initClock();

    explicit TransitionLine(int format = QVTClockSMPTEFormat25)
    {
        clock->setSmpteFormat(format);
        controller->clock = clock;
    }
    // A still of `length` seconds starting at `start` on the line.
    std::shared_ptr<KavioVideoItem> cue(double length, double start = 0.0)
    {
        auto item = std::make_shared<KavioVideoItem>(osc.sender());
        item->setManager(controller);
        item->setIndex(controller->items.size() + 1);
        item->setMediaType(KavioMediaTypeStill);
        item->setItemDuration(float(length));
        item->setOriginalItemStartSMPTETime(clock->smpteRepresentationOfTime(start));
        item->setItemStartSMPTETime(clock->smpteRepresentationOfTime(start));
        item->setItemEndSMPTETime(clock->smpteRepresentationOfTime(start + length - clock->frameTimeOfCurrentSMPTEFormat()));
        controller->items.push_back(item);
        return item;
    }
    // `from` crosses into `to` over `length` seconds.
    void link(const std::shared_ptr<KavioVideoItem>& from, const std::shared_ptr<KavioVideoItem>& to, double length)
    {
        from->setNextItem(to);
        from->setTransitionTime(length);
        from->transitionButton().state = 1;
        from->setHasTransition(true);
        from->setupTransition();
        controller->calls.clear();
    }
    void clockAt(double seconds) { clock->setClockTime(seconds); }
};

struct LengthCase {
    int format;
    double thisLength;
    double nextLength;  // 0: no next cue
    double requested;
    double stored;
};

class TransitionLength : public testing::TestWithParam<LengthCase> {};

TEST_P(TransitionLength, IsLimitedByBothCues)
{
    const LengthCase c = GetParam();
    TransitionLine line(c.format);
    const auto cue = line.cue(c.thisLength);
    if (c.nextLength > 0)
        cue->setNextItem(line.cue(c.nextLength, c.thisLength));
    cue->setTransitionTime(c.requested);
    EXPECT_NEAR(cue->transitionTime(), c.stored, 1e-6);
    EXPECT_GE(cue->transitionTime(), 0.0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TransitionLength,
    testing::Values(LengthCase{QVTClockSMPTEFormat25, 10, 10, 6, 3},                  // above half: halved
                    LengthCase{QVTClockSMPTEFormat25, 10, 10, 5, 4.92},               // exactly half: two frames off
                    LengthCase{QVTClockSMPTEFormat25, 10, 6, 4, 2},                   // above half the next cue
                    LengthCase{QVTClockSMPTEFormat25, 10, 0, 0.0005, 0.0005},         // too short to limit
                    LengthCase{QVTClockSMPTEFormat24, 3.0 / 24.0, 10, 2, 0.0}));      // three frames: never negative

TEST(KavioVideoItemTransition, TheControllerIsToldAndNonFiniteLengthsAreRefused)
{
    TransitionLine line;
    const auto cue = line.cue(10);
    cue->setTransitionTime(1.0);
    EXPECT_EQ(line.controller->calls, QStringList{"transitionChanged 1"});

    line.controller->calls.clear();
    cue->setHasTransition(true);
    cue->setTransitionTime(1.5);
    EXPECT_EQ(line.controller->calls, (QStringList{"rebuild 1", "transitionChanged 1"}));

    line.controller->calls.clear();
    for (const double bad : {std::nan(""), std::numeric_limits<double>::infinity(), -1.0})
        cue->setTransitionTime(bad);
    EXPECT_DOUBLE_EQ(cue->transitionTime(), 1.5);
    EXPECT_TRUE(line.controller->calls.isEmpty());
}

TEST(KavioVideoItemTransition, FollowsTheDefaultLengthOnlyWhenAsked)
{
    TransitionLine line;
    const auto cue = line.cue(10);
    const auto own = line.cue(10);
    own->setIsUsingDefaultTransitionDuration(false);
    own->setTransitionTime(1.0);
    cue->changeDefaultTransitionDuration({kKavioDefaultTransitionDurationChangedNotification, nullptr,
                                          {{kKavioDefaultTransitionDurationKey, 3.5}}});
    own->changeDefaultTransitionDuration({kKavioDefaultTransitionDurationChangedNotification, nullptr,
                                          {{kKavioDefaultTransitionDurationKey, 3.5}}});
    EXPECT_DOUBLE_EQ(cue->transitionTime(), 3.5);
    EXPECT_DOUBLE_EQ(own->transitionTime(), 1.0);
}

TEST(KavioVideoItemTransition, SetupBindsAFreshRendererAndReplacesTheOld)
{
    TransitionLine line;
    const auto a = line.cue(10);
    const auto b = line.cue(10, 8);
    line.link(a, b, 2);
    ASSERT_FALSE(line.renderers.transitions.empty());
    const auto first = line.renderers.transitions.back();
    EXPECT_EQ(a->transition(), first);
    EXPECT_EQ(first->sourceItem(), a);
    EXPECT_EQ(first->destinationItem(), b);
    EXPECT_DOUBLE_EQ(first->duration(), 2.0);
    EXPECT_EQ(first->type, KavioTransitionTypeDissolve);
    EXPECT_EQ(first->outputSize, QSizeF(1920, 1080));

    a->setTransitionType(KavioTransitionTypeWipeUp);
    a->setupTransition();
    EXPECT_EQ(first->removals, 1);
    EXPECT_NE(a->transition(), first);
    EXPECT_EQ(line.renderers.transitions.back()->type, KavioTransitionTypeWipeUp);
    // The loop helper's layer renderer is made once.
    EXPECT_NE(a->metalRendererHelper(), nullptr);
    const auto helper = a->metalRendererHelper();
    a->setupTransition();
    EXPECT_EQ(a->metalRendererHelper(), helper);
}

TEST(KavioVideoItemTransition, RunsOnTheClockInsideTheLastPassOnly)
{
    TransitionLine line;
    const auto a = line.cue(10);
    const auto b = line.cue(10, 8);
    line.link(a, b, 2);
    EXPECT_EQ(a->transitionStartSMPTETime(), "00:00:08:00");

    line.clockAt(7.0);
    EXPECT_FALSE(a->isProcessingTransition());
    line.clockAt(9.0);
    EXPECT_TRUE(a->isProcessingTransition());
    // During a global transition only until the next cue starts.
    line.controller->globalTransition = true;
    EXPECT_FALSE(a->isProcessingTransition());
    line.controller->globalTransition = false;

    // A looping cue crosses only out of its last pass.
    a->setIsLooping(true);
    a->setLoopCount(3);
    EXPECT_FALSE(a->isProcessingTransition());
    a->setLoopCounter(2);
    EXPECT_EQ(a->transitionStartSMPTETime(), "00:00:28:00");
    line.clockAt(29.0);
    EXPECT_TRUE(a->isProcessingTransition());
}

TEST(KavioVideoItemTransition, ALongLoopsPassEndIsWorkedOutInDoublePrecision)
{
    TransitionLine line;
    const auto a = line.cue(4.1231);
    const auto b = line.cue(10, 8);
    line.link(a, b, 2);
    a->setLoopCounter(9999);
    const double exact = double(a->itemDuration()) * 10000.0 - 2.0;
    const double single = double(a->itemDuration() * 10000.0f) - 2.0;
    // In single precision this pass would end a frame early.
    ASSERT_NE(line.clock->smpteRepresentationOfTime(exact), line.clock->smpteRepresentationOfTime(single));
    EXPECT_EQ(a->transitionStartSMPTETime(), line.clock->smpteRepresentationOfTime(exact));
}

TEST(KavioVideoItemTransition, WithoutANextCueTheIconIsBrokenAndNothingRuns)
{
    TransitionLine line;
    const auto a = line.cue(10);
    const auto b = line.cue(10, 8);
    line.link(a, b, 2);
    a->setNextItem(nullptr);
    EXPECT_EQ(a->transitionButton().imageName, "kavio_transition_broken");
    EXPECT_EQ(a->transitionButton().toolTip, "No next Cue! - Transition to Next Cue");
    line.clockAt(9.0);
    EXPECT_FALSE(a->isProcessingTransition());
}

TEST(KavioVideoItemTransition, ANextCueEarlierOnTheLineCountsAsInside)
{
    TransitionLine line;
    const auto a = line.cue(10, 20);
    const auto b = line.cue(10, 5);
    line.link(a, b, 2);
    line.clockAt(6.0);
    EXPECT_TRUE(a->shouldHandleSpecialCaseWithLoopingAndTransitionAtTime(line.clock->clockSMPTETime()));
    EXPECT_TRUE(a->isProcessingTransition());
    line.clockAt(4.0);
    EXPECT_FALSE(a->isProcessingTransition());
}

TEST(KavioVideoItemTransition, ProgressFollowsTheCueTime)
{
    TransitionLine line;
    const auto a = line.cue(10);
    const auto b = line.cue(10, 8);
    EXPECT_DOUBLE_EQ(a->transitionProgress(), 0.0);  // no renderer yet
    line.link(a, b, 2);
    a->increaseTimeForNonMoviesNonRecursively(7.0);
    EXPECT_DOUBLE_EQ(a->transitionProgress(), 0.0);
    a->increaseTimeForNonMoviesNonRecursively(2.0);
    EXPECT_DOUBLE_EQ(a->transitionProgress(), 0.5);
    line.clockAt(9.0);
    EXPECT_DOUBLE_EQ(a->transitionProgressInSeconds(), 1.0);
    // No upper bound.
    a->increaseTimeForNonMoviesNonRecursively(3.0);
    EXPECT_DOUBLE_EQ(a->transitionProgress(), 2.0);

    // Pausing at the end on the end frame shows the incoming picture whole.
    a->setShouldStopAtEnd(true);
    a->increaseTimeForNonMoviesNonRecursively(-3.0);
    line.clockAt(9.96);
    ASSERT_EQ(line.clock->clockSMPTETime(), a->itemEndSMPTETime());
    EXPECT_DOUBLE_EQ(a->transitionProgress(), 1.0);

    // A length of 0 has no progress to tell.
    a->setShouldStopAtEnd(false);
    a->setTransitionTime(0.0);
    EXPECT_DOUBLE_EQ(a->transitionProgress(), 0.0);
}

TEST(KavioVideoItemTransition, OwnPlayheadInsideWhileTheNextCueWaits)
{
    TransitionLine line;
    const auto a = line.cue(10);
    const auto b = line.cue(10, 8);
    line.link(a, b, 2);
    a->increaseTimeForNonMoviesNonRecursively(9.0);
    EXPECT_FALSE(a->isProcessingTransitionToNextCueAtCurrentTime());  // not current
    a->markAsCurrent(true);
    EXPECT_TRUE(a->isProcessingTransitionToNextCueAtCurrentTime());
    b->setIsPlaying(true);
    EXPECT_FALSE(a->isProcessingTransitionToNextCueAtCurrentTime());
}

TEST(KavioVideoItemTransition, PositionsInTheMediaAndValidation)
{
    TransitionLine line;
    const auto a = line.cue(10);
    EXPECT_EQ(a->transitionStartTimeFrames(), 4294967295);
    const auto b = line.cue(10, 8);
    line.link(a, b, 2);
    a->setInTime(MediaTime::makeWithSeconds(1.0, MediaTime::kCueTimescale));
    EXPECT_EQ(a->transitionStartTimeFrames(), 225);  // 10 + 1 - 2 s at 25 fps

    // Longer than the cue: switched off, whatever the toggle says.
    a->setItemDuration(0.0005f);
    a->validateTransition();
    EXPECT_FALSE(a->hasTransition());
    a->setItemDuration(10.0f);
    a->validateTransition();
    EXPECT_TRUE(a->hasTransition());
}

}  // namespace
