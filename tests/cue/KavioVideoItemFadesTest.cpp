// Fades computed per frame from the cue's position, the cut and fade icons around 0.1 s, the
// default fade length, and the playhead in frames of the master clock.

#include "CueTestSupport.h"
#include "MediaFixtures.h"

#include "DispatchQueue.h"
#include "MediaPlayer.h"
#include "NotificationCenter.h"

#include <gtest/gtest.h>

namespace {

// A still of `duration` seconds, its position moved by hand, under a real clock standing at 0.
struct FadingCue : CueUnderTest {
    std::shared_ptr<QVTClock> clock = QVTClock::initClock();

    FadingCue(float duration, float fade)
    {
        clock->setSmpteFormat(QVTClockSMPTEFormat25);
        controller->clock = clock;
        cue->setMediaType(KavioMediaTypeStill);
        cue->setItemDuration(duration);
        cue->setFadetime(fade);
        cue->setItemEndSMPTETime(QStringLiteral("00:10:00:00"));  // the clock stands elsewhere
    }
    float levelAt(double seconds)
    {
        cue->increaseTimeForNonMoviesNonRecursively(seconds - cue->tempCurrentTimeForNonMovies());
        cue->processTasksOnDisplayLink();
        return cue->fadeOpacity();
    }
};

TEST(KavioVideoItemFades, LevelsFollowThePositionTheTogglesAndTheOpacity)
{
    struct Case {
        const char* what;
        bool fadeIn, fadeOut;
        float duration, fade, opacity;
        double at;
        float level;
    };
    const Case cases[] = {
        {"fade-in a quarter through", true, false, 10, 1.0f, 1.0f, 0.25, 0.25f},
        {"fade-in done", true, false, 10, 1.0f, 1.0f, 1.0, 1.0f},
        {"fade-in capped by the opacity", true, false, 10, 1.0f, 0.5f, 0.5, 0.25f},
        {"fade-in rises to the opacity", true, false, 10, 1.0f, 0.5f, 3.0, 0.5f},
        {"before the fade-out", false, true, 10, 2.0f, 1.0f, 7.0, 1.0f},
        {"fade-out start", false, true, 10, 2.0f, 1.0f, 8.0, 1.0f},
        {"fade-out half", false, true, 10, 2.0f, 1.0f, 9.0, 0.5f},
        {"fade-out three quarters", false, true, 10, 2.0f, 1.0f, 9.5, 0.25f},
        {"fade-out ignores the opacity", false, true, 10, 2.0f, 0.5f, 9.0, 0.5f},
        {"overlap takes the fade-out", true, true, 3, 2.0f, 1.0f, 1.5, 0.75f},
        {"fade 0: black at 0", true, false, 10, 0.0f, 1.0f, 0.0, 0.0f},
        {"fade 0: full just after 0", true, false, 10, 0.0f, 1.0f, 0.04, 1.0f},
        {"fade 0: black at the end", false, true, 10, 0.0f, 1.0f, 10.0, 0.0f},
        {"fade 0: black past the end", false, true, 10, 0.0f, 1.0f, 10.5, 0.0f},
        {"fade 0: full just before the end", false, true, 10, 0.0f, 1.0f, 9.96, 1.0f},
        {"no toggle", false, false, 10, 2.0f, 0.5f, 9.5, 1.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FadingCue t(c.duration, c.fade);
        t.cue->fadeInButton().state = c.fadeIn ? 1 : 0;
        t.cue->fadeOutButton().state = c.fadeOut ? 1 : 0;
        t.cue->setOpacity(c.opacity);
        EXPECT_NEAR(t.levelAt(c.at), c.level, 1e-5);
        EXPECT_FLOAT_EQ(t.cue->audioFade(), 1.0f);
    }
}

TEST(KavioVideoItemFades, ClockOnTheEndTimeIsBlackAndTheVolumeFollowsOnlyWithSound)
{
    FadingCue t(10, 2.0f);
    t.cue->fadeOutButton().state = 1;
    t.cue->setItemEndSMPTETime(t.clock->clockSMPTETime());
    EXPECT_EQ(t.levelAt(5.0), 0.0f);
    EXPECT_FALSE(t.cue->steps.contains("volumeChanged"));  // no audio player

    t.cue->setAudioPlayer(std::make_shared<FakeAudioPlayer>());
    t.cue->soundButton().state = 1;
    t.levelAt(5.0);
    EXPECT_EQ(t.cue->steps.count("volumeChanged"), 1);
    // Outside the fade region the volume is left alone; inside it follows every frame.
    t.cue->setItemEndSMPTETime(QStringLiteral("00:10:00:00"));
    t.cue->steps.clear();
    t.levelAt(5.0);
    EXPECT_TRUE(t.cue->steps.isEmpty());
    t.levelAt(9.0);
    EXPECT_EQ(t.cue->steps.count("volumeChanged"), 1);
}

TEST(KavioVideoItemFades, FadeTimeCrossingATenthSwitchesTheIconsOnlyStrictly)
{
    struct Step {
        float to;
        const char* in;
        const char* out;
    };
    CueUnderTest t;
    t.cue->fadeInButton().imageName = "start";
    t.cue->fadeOutButton().imageName = "start";
    t.cue->setFadetime(1.0f);
    const Step steps[] = {
        {0.05f, "kavio_cut_in", "kavio_cut_out"},  // 1.0 -> 0.05: cut
        {0.5f, "kavio_fadein", "kavio_fadeout"},   // 0.05 -> 0.5: fade
        {0.1f, "kavio_fadein", "kavio_fadeout"},   // 0.5 -> 0.1: 0.1 is not below 0.1
        {0.05f, "kavio_fadein", "kavio_fadeout"},  // 0.1 -> 0.05: 0.1 is not above 0.1
    };
    for (const auto& step : steps) {
        t.cue->setFadetime(step.to);
        EXPECT_EQ(t.cue->fadeInButton().imageName, step.in) << step.to;
        EXPECT_EQ(t.cue->fadeOutButton().imageName, step.out) << step.to;
    }
    // A disabled toggle keeps its image; from another thread the change lands on the main queue.
    t.cue->fadeOutButton().enabled = false;
    t.cue->setFadetime(1.0f);
    EXPECT_EQ(t.cue->fadeInButton().imageName, "kavio_fadein");
    t.cue->fadeOutButton().enabled = true;
    std::thread([&] { t.cue->setFadetime(0.01f); }).join();
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return t.cue->fadeInButton().imageName == "kavio_cut_in"; }, 30.0));
    EXPECT_EQ(t.cue->fadeOutButton().imageName, "kavio_cut_out");
}

TEST(KavioVideoItemFades, DefaultFadeLengthReachesOnlyCuesOnTheDefault)
{
    RecordFixture fixture;
    auto onDefault = KavioVideoItem::initWithCamera(QStringLiteral("cam"), fixture.controller);
    auto own = KavioVideoItem::initWithCamera(QStringLiteral("cam"), fixture.controller);
    ASSERT_TRUE(onDefault && own);
    onDefault->setIsUsingDefaultFadeDuration(true);
    own->setIsUsingDefaultFadeDuration(false);
    own->setFadetime(0.5f);
    NotificationCenter::defaultCenter().post(kKavioDefaultFadeDurationChangedNotification, nullptr,
                                             {{kKavioDefaultFadeDurationKey, 3.0}});
    EXPECT_FLOAT_EQ(onDefault->fadetime(), 3.0f);
    EXPECT_FLOAT_EQ(own->fadetime(), 0.5f);
}

TEST(KavioVideoItemFades, PlayheadOfAHalfSpeedMovieIsTheMediaTimeAtSpeedInClockFrames)
{
    RecordingOSCOutput osc;
    auto controller = std::make_shared<FakeKavioVideoItemManager>();
    controller->clock = QVTClock::initClock();
    controller->clock->setSmpteFormat(QVTClockSMPTEFormat25);
    auto cue = std::make_shared<KavioVideoItem>(osc.sender());
    QVariantMap record;
    record.insert("playbackrate", qint64(50));
    ASSERT_TRUE(cue->initMovieCue(QString::fromStdString(MediaFixtures::path("counter25.mp4")), controller, record));
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return cue->isReady(); }, 60.0));
    cue->videoPlayer()->seekToTime(MediaTime::makeWithSeconds(1.0, 600), MediaTime::zero(), MediaTime::zero(),
                                   DispatchQueue::main(), {});
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return cue->videoPlayer()->currentTime().seconds() == 1.0; }, 30.0));
    EXPECT_EQ(cue->currentPlayhead(), 50);  // 2 s at 25 fps

    // A still's playhead is its running time.
    CueUnderTest still;
    still.controller->clock = controller->clock;
    still.cue->setMediaType(KavioMediaTypeStill);
    still.cue->increaseTimeForNonMoviesNonRecursively(4.0);
    EXPECT_EQ(still.cue->currentPlayhead(), 100);
}

}  // namespace
