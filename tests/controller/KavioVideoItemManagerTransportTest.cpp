// Transport on the real master clock, stepped by the test: rewind, frame steps, speed changes,
// frame rates, the master fade and panic.

#include "SteppedShow.h"

#include "Support/KavioPlainPopUpButton.h"

#include <gtest/gtest.h>

namespace {

QString tc(int s, int f)
{
    return QString::asprintf("00:00:%02d:%02d", s, f);
}

// Renders at 60 frames a second, as an output's render clock would.
class TransportController : public KavioVideoItemManager {
public:
    using KavioVideoItemManager::KavioVideoItemManager;
    std::int32_t renderingFPS() const override { return 60; }
};

struct TransportFixture : SteppedShowFixture<TransportController> {
    FakeFader fader;
    KavioPlainPopUpButton fadeDuration, framerates;
    KavioPlainButton fadeButton;
    explicit TransportFixture(const std::vector<std::int64_t>& frames) : SteppedShowFixture(frames)
    {
        openJumps();
        fadeDuration.addItem(QStringLiteral("2"), 0);
        for (const auto& [title, tag] : {std::pair{"24", 0}, {"25", 1}, {"30", 3}})
            framerates.addItem(QString::fromLatin1(title), tag);
        auto o = outlets();
        o.masterSlider = &fader;
        o.masterButton = &fadeButton;
        o.defaultFadeDurationPopup = &fadeDuration;
        o.frameratePopup = &framerates;
        controller->setOutlets(o);
    }
    // Render passes until the fade ends; answers how many moved the fader.
    int runFade()
    {
        int steps = 0;
        for (int pass = 0; pass < 1000 && (controller->shouldFadeOut() || controller->shouldFadeIn()); ++pass) {
            const double before = fader.value;
            if (controller->shouldFadeOut())
                controller->processFadeOut();
            else
                controller->processFadeIn();
            settle();
            steps += fader.value != before ? 1 : 0;
        }
        return steps;
    }
};

TEST(KavioVideoItemManagerTransport, RewindRewindsTheFirstCueOrJumpsToItAndFastForwardJumpsToTheLast)
{
    LinkRecorder link;
    TransportFixture f({25, 25, 25});
    // The link hears rewinds with panic behaviour 20 and plain jumps with 30.
    f.controller->setPanicBehaviour(20);
    f.controller->rewind();
    f.settle();
    EXPECT_EQ(link.take(), QStringList({"105:1"}));
    f.controller->setPanicBehaviour(30);
    f.controller->fastForward();
    f.settle();
    EXPECT_EQ(f.controller->currentItem(), f.cues[2]);
    EXPECT_EQ(link.take(), QStringList({"120:3"}));
    f.controller->rewind();
    f.settle();
    EXPECT_EQ(f.controller->currentItem(), f.cues[0]);
    EXPECT_EQ(link.take(), QStringList({"120:1"}));
}

TEST(KavioVideoItemManagerTransport, AStepOfAStillMovesTheClockOneFrameAndStaysInsideTheCue)
{
    LinkRecorder link;
    TransportFixture f({3, 25});
    const auto a = f.cues[0];
    EXPECT_FALSE(f.controller->canStepPrevFrame());
    EXPECT_TRUE(f.controller->canStepNextFrame());
    f.controller->stepToNextFrame();
    f.settle();
    EXPECT_EQ(f.clock->clockSMPTETime(), tc(0, 1));
    EXPECT_EQ(a->currentTimeSMPTE(), tc(0, 1));
    EXPECT_EQ(f.marker->markerFrames, a->currentPlayhead());
    EXPECT_FALSE(f.controller->seekPerformedByFrameSteps());
    EXPECT_EQ(link.take(), QStringList({"100:00:00:00:02:1"}));
    f.controller->stepToNextFrame();
    f.settle();
    EXPECT_EQ(f.clock->clockSMPTETime(), tc(0, 2));
    EXPECT_FALSE(f.controller->canStepNextFrame());
    link.take();
    // A step past the cue's last frame is refused and leaves no step pending.
    f.controller->performFrameSteppingByValue(1);
    f.settle();
    EXPECT_EQ(f.clock->clockSMPTETime(), tc(0, 2));
    EXPECT_FALSE(f.controller->seekPerformedByFrameSteps());
    EXPECT_TRUE(link.take().isEmpty());
    f.controller->stepToPrevFrame();
    f.settle();
    EXPECT_EQ(f.clock->clockSMPTETime(), tc(0, 1));
}

TEST(KavioVideoItemManagerTransport, ASpeedChangeOnThePlayingCurrentCueStopsChangesAndResumes)
{
    TransportFixture f({50, 50});
    const auto a = f.cues[0], b = f.cues[1];
    int done = 0;
    const auto count = [&] { ++done; };
    // The same speed: only the block.
    f.controller->handleChangeOfPlaybackSpeedOnItem(a, 100, count);
    EXPECT_EQ(done, 1);
    EXPECT_TRUE(f.calls().isEmpty());

    f.controller->setIsPlaying(true);
    const int aSetups = a->timeSetups, bSetups = b->timeSetups;
    f.controller->handleChangeOfPlaybackSpeedOnItem(a, 50, count);
    f.settle();
    EXPECT_EQ(done, 2);
    EXPECT_EQ(a->playbackRateAsPercent(), 50);
    // The cue and those after it are laid on the line again.
    EXPECT_GT(a->timeSetups, aSetups);
    EXPECT_GT(b->timeSetups, bSetups);
    const QStringList calls = f.calls();
    EXPECT_EQ(calls.filter("app.togglePlay").size(), 2);
    EXPECT_LT(calls.indexOf("marker.setEnabled(0)"), calls.indexOf("app.togglePlay"));
    EXPECT_LT(calls.indexOf("marker.setEnabled(1)"), calls.lastIndexOf("app.togglePlay"));
    EXPECT_EQ(f.app->play.state(), 1);
    EXPECT_TRUE(f.controller->canJump());

    // Stopped, nothing starts.
    f.controller->setIsPlaying(false);
    f.controller->handleChangeOfPlaybackSpeedOnItem(a, 100, count);
    f.settle();
    EXPECT_EQ(done, 3);
    EXPECT_TRUE(f.calls().filter("app.togglePlay").isEmpty());
}

TEST(KavioVideoItemManagerTransport, TheFrameRatePopupFollowsTheClock)
{
    TransportFixture f({25});
    f.controller->convertFramerateTo(QVTClockSMPTEFormat30);
    f.settle();
    EXPECT_EQ(f.clock->framerate(), 30);
    EXPECT_EQ(f.framerates.selectedTag(), 3);
    f.clock->setSmpteFormat(QVTClockSMPTEFormat24);
    f.controller->frameRateChangedByMTC();
    f.settle();
    EXPECT_EQ(f.framerates.selectedTag(), 0);
}

TEST(KavioVideoItemManagerTransport, AFadeOfTwoSecondsAtSixtyFramesTakes120StepsOfA120th)
{
    TransportFixture f({25});
    f.controller->doFade();
    EXPECT_TRUE(f.controller->shouldFadeOut());
    f.controller->processFadeOut();
    f.settle();
    EXPECT_NEAR(f.fader.value, 1.0 - 1.0 / 120.0, 1e-6);
    EXPECT_EQ(f.runFade() + 1, 120);
    EXPECT_DOUBLE_EQ(f.fader.value, 0.0);
    // And back in from black.
    f.controller->doFade();
    EXPECT_TRUE(f.controller->shouldFadeIn());
    EXPECT_EQ(f.runFade(), 120);
    EXPECT_DOUBLE_EQ(f.fader.value, 1.0);

    // A duration that is no number ends the fade in one step.
    f.fadeDuration.addItem(QStringLiteral("fast"), 1);
    f.fadeDuration.selectItemWithTag(1);
    f.controller->doFade();
    EXPECT_EQ(f.runFade(), 1);
    EXPECT_DOUBLE_EQ(f.fader.value, 0.0);

    // With Alt the button cuts at once.
    f.app->alt = true;
    f.controller->doFade();
    EXPECT_DOUBLE_EQ(f.fader.value, 1.0);
    f.controller->doFade();
    EXPECT_DOUBLE_EQ(f.fader.value, 0.0);
    EXPECT_FALSE(f.controller->shouldFadeIn() || f.controller->shouldFadeOut());
}

TEST(KavioVideoItemManagerTransport, APanicWhileStoppedAppliesItsBehaviourWhenTheFadeEnds)
{
    for (const std::int32_t behaviour : {10, 20, 30}) {
        LinkRecorder link;
        TransportFixture f({25, 25});
        f.controller->setPanicBehaviour(behaviour);
        f.controller->doPanic();
        EXPECT_EQ(link.take(), QStringList({"160:0"}));
        f.fader.value = 0.0;
        f.controller->processFadeOut();
        f.settle();
        EXPECT_FALSE(f.controller->shouldPanic());
        EXPECT_FALSE(f.controller->shouldFadeOut());
        EXPECT_FALSE(f.controller->shouldProcessPanicBehaviour());
        const QStringList calls = f.calls();
        EXPECT_EQ(f.controller->currentItem(), f.cues[behaviour == 30 ? 1 : 0]) << behaviour;
        EXPECT_EQ(calls.contains("c1.rewind"), behaviour != 10) << behaviour;
        EXPECT_EQ(f.cues[behaviour == 30 ? 1 : 0]->isSelected(), behaviour != 10) << behaviour;
        EXPECT_EQ(calls.contains("view.scrollTo(c2)"), behaviour == 30) << behaviour;
    }
}

TEST(KavioVideoItemManagerTransport, APanicWhilePlayingStopsAndTheStopAppliesTheBehaviour)
{
    TransportFixture f({50, 50});
    f.controller->setPanicBehaviour(30);
    f.go();
    ASSERT_TRUE(f.runUntilTick(tc(0, 5)));
    f.controller->doPanic();
    f.fader.value = 0.0;
    f.controller->processFadeOut();
    f.settle();
    EXPECT_TRUE(f.controller->shouldProcessPanicBehaviour());
    EXPECT_EQ(f.app->play.state(), 0);
    EXPECT_TRUE(f.calls().contains("app.togglePlay"));
    // The application's play toggle stops the clock; its stop handling loads the next cue.
    f.controller->stopClockWithCompletedHandler({});
    f.nextTick();
    f.settle();
    EXPECT_FALSE(f.clock->isRunning());
    EXPECT_EQ(f.controller->currentItem(), f.cues[1]);
    EXPECT_FALSE(f.controller->shouldProcessPanicBehaviour());

    // Following LTC the panic leaves the timecode instead.
    TransportFixture ltc({50});
    ltc.controller->setIsPlaying(true);
    ltc.clock->setIsLTCSlave(true);
    ltc.controller->doPanic();
    ltc.fader.value = 0.0;
    ltc.controller->processFadeOut();
    ltc.settle();
    const QStringList calls = ltc.calls();
    EXPECT_TRUE(calls.contains("app.toggleSourceMode(0)"));
    EXPECT_FALSE(calls.contains("app.togglePlay"));
}

TEST(KavioVideoItemManagerTransport, PlaybackFromAnotherThreadPressesThePlayButtonOnTheMainQueue)
{
    TransportFixture f({25});
    DispatchQueue worker{"test.remote"};
    std::atomic<bool> stopped{false};
    worker.sync([&] {
        f.controller->startPlayback();
        f.controller->stopPlaybackWithCompletedHandler([&] { stopped = true; });
    });
    EXPECT_TRUE(f.calls().isEmpty());
    f.settle();
    EXPECT_EQ(f.calls().filter("app.togglePlay").size(), 2);
    EXPECT_TRUE(stopped);
    EXPECT_EQ(f.app->play.state(), 0);
}

}  // namespace
