// The cue's length and its start and end on the timecode line, on a real master clock, with the
// speed arithmetic, codec and decode-format tables and the row's time texts.

#include "CueTestSupport.h"

#include "DispatchQueue.h"
#include "MediaAsset.h"
#include "UserDefaults.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

constexpr int kFormats[][2] = {{QVTClockSMPTEFormat24, 24}, {QVTClockSMPTEFormat25, 25}, {QVTClockSMPTEFormat30, 30}};

MediaTime seconds(double s)
{
    return MediaTime::makeWithSeconds(s, MediaTime::kCueTimescale);
}

// A cue under a fake controller with a real clock at `format`.
struct TimedCue : CueUnderTest {
    std::shared_ptr<QVTClock> clock = QVTClock::initClock();
    std::shared_ptr<FakeAudioPlayer> audio = std::make_shared<FakeAudioPlayer>();

    explicit TimedCue(int format = QVTClockSMPTEFormat25)
    {
        clock->setSmpteFormat(format);
        controller->clock = clock;
    }
    // An audio cue of `length` seconds, whose length is the player's.
    void audioOf(double length)
    {
        audio->seconds = length;
        cue->setMediaType(KavioMediaTypeAudio);
        cue->setAudioPlayer(audio);
    }
    // A still of `length` seconds.
    void stillOf(double length)
    {
        cue->setMediaType(KavioMediaTypeStill);
        cue->setDurationOfNonMovies(float(length));
    }
    std::int64_t frames(const QString& smpte) const { return clock->frameCountSMPTEString(smpte); }
};

TEST(KavioVideoItemTiming, HalfSpeedDoublesTheLengthAndScalesInAndOut)
{
    for (const auto& [format, fps] : kFormats) {
        SCOPED_TRACE(fps);
        TimedCue t(format);
        t.audioOf(10.0);
        t.cue->setInTime(seconds(2));
        t.cue->setOutTime(seconds(1));
        int completions = 0;
        t.cue->setPlaybackRatePercent(50, [&] { ++completions; });
        EXPECT_EQ(completions, 1);
        EXPECT_FLOAT_EQ(t.audio->rate, 0.5f);
        EXPECT_DOUBLE_EQ(t.cue->getGoodDuration(), 14.0);
        EXPECT_DOUBLE_EQ(t.cue->inTimeAtCurrentPlaybackSpeed().seconds(), 4.0);
        EXPECT_DOUBLE_EQ(t.cue->outTimeAtCurrentPlaybackSpeed().seconds(), 2.0);
        EXPECT_DOUBLE_EQ(t.cue->videoDuration(), 20.0);
        EXPECT_DOUBLE_EQ(t.cue->videoDurationCMTime().seconds(), 20.0);
        EXPECT_DOUBLE_EQ(t.cue->endCMTime().seconds(), 18.0);
        EXPECT_EQ(t.cue->videoDurationString(), "00:17.000");
        EXPECT_EQ(t.cue->inTimeFramesForDisplay(), 4 * fps);
        EXPECT_EQ(t.cue->outTimeFramesForDisplay(), 18 * fps);
        t.cue->setInTimeAtCurrentPlaybackSpeed(seconds(4));
        EXPECT_DOUBLE_EQ(t.cue->inTime().seconds(), 2.0);
        t.cue->setOutTimeAtCurrentPlaybackSpeed(seconds(3));
        EXPECT_DOUBLE_EQ(t.cue->outTime().seconds(), 1.5);

        t.cue->setInTime(seconds(1));
        t.cue->setOutTime(seconds(1));
        t.cue->setPlaybackRatePercent(200);
        EXPECT_DOUBLE_EQ(t.cue->getGoodDuration(), 4.0);
        EXPECT_DOUBLE_EQ(t.cue->inTimeAtCurrentPlaybackSpeed().seconds(), 0.5);
    }
}

TEST(KavioVideoItemTiming, SpeedChangesRetimeRefusalsAndRepeatsDoNot)
{
    TimedCue t;
    t.stillOf(4.0);
    t.cue->setOriginalItemStartSMPTETime(QStringLiteral("00:00:10:00"));
    t.cue->setLoopCounter(3);
    int completions = 0;
    const int changes = t.controller->unsavedChangesCount;

    t.cue->setPlaybackRatePercent(100, [&] { ++completions; });
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(t.cue->loopCounter(), 3u);
    EXPECT_EQ(t.controller->unsavedChangesCount, changes + 1);

    for (std::int64_t refused : {0, -50}) {
        t.cue->setPlaybackRatePercent(refused, [&] { ++completions; });
        EXPECT_EQ(t.cue->playbackRateAsPercent(), 100);
    }
    EXPECT_EQ(completions, 3);

    t.cue->setPlaybackRatePercent(50, [&] { ++completions; });
    EXPECT_EQ(completions, 4);
    EXPECT_EQ(t.cue->loopCounter(), 0u);
    EXPECT_EQ(t.cue->itemStartSMPTETime(), "00:00:10:00");
    EXPECT_EQ(t.cue->itemEndSMPTETime(), "00:00:17:24");  // 8 s at half speed, last frame
    EXPECT_TRUE(t.cue->preloadedTime().isIndefinite());
    EXPECT_TRUE(t.cue->steps.contains("fillBuffers"));
}

TEST(KavioVideoItemTiming, FirstCueStartsAtTheOffsetAndEndsOnItsLastFrame)
{
    for (const auto& [format, fps] : kFormats) {
        SCOPED_TRACE(fps);
        const struct {
            double start, length;
            std::int64_t endFrame;  // inclusive
        } cases[] = {
            {10.0, 4.0, 10 * fps + 4 * fps - 1},
            {10.0, 1.0 / fps, 10 * fps + 1},  // one frame: the safety step keeps the end after the start
            {10.0, 0.0, 10 * fps - 1},        // zero frames: the end falls one frame before the start
            {0.0, 1.0 / fps, 1},
            {0.0, 0.0, 1},  // at frame 0 the step back stops at 0, then the safety step applies
        };
        for (const auto& c : cases) {
            TimedCue t(format);
            t.stillOf(c.length);
            t.cue->setItemStartCMTime(seconds(c.start));
            t.cue->setupSMPTEStartAndEndTimes();
            EXPECT_EQ(t.frames(t.cue->itemStartSMPTETime()), std::int64_t(c.start * fps));
            EXPECT_EQ(t.cue->originalItemStartSMPTETime(), t.cue->itemStartSMPTETime());
            EXPECT_EQ(t.frames(t.cue->itemEndSMPTETime()), c.endFrame) << c.start << " + " << c.length;
            EXPECT_NEAR(t.cue->itemDuration(), c.length, 1e-5);
            EXPECT_EQ(t.cue->rowTimes().start, t.cue->itemStartSMPTETime());
        }
    }
}

TEST(KavioVideoItemTiming, FollowingCuesStartOnAFrameAndLoopPassesGrowTheEnd)
{
    for (const auto& [format, fps] : kFormats) {
        SCOPED_TRACE(fps);
        TimedCue t(format);
        t.stillOf(3.0);
        t.cue->setOriginalItemStartSMPTETime(QStringLiteral("00:00:01:00"));
        const std::int64_t start = 5 * fps + 3;
        t.cue->setupSMPTEEndTimeWithStartFrames(start);
        EXPECT_EQ(t.frames(t.cue->itemStartSMPTETime()), start);
        EXPECT_NEAR(t.cue->itemStartCMTime().seconds(), double(start) / fps, 1.0 / 600);
        EXPECT_EQ(t.frames(t.cue->itemEndSMPTETime()), start + 3 * fps - 1);
        EXPECT_FLOAT_EQ(t.cue->itemDuration(), 3.0f);
        EXPECT_EQ(t.cue->originalItemStartSMPTETime(), "00:00:01:00");  // the caller's
        EXPECT_EQ(t.cue->itemDurationFrames(), std::uint64_t(3 * fps));

        // Two completed passes: the end moves two pass lengths on from the first start.
        t.cue->setLoopCounter(2);
        t.cue->setupNewSMPTEEndTimeAfterLooping();
        EXPECT_EQ(t.cue->itemStartSMPTETime(), "00:00:01:00");
        EXPECT_EQ(t.frames(t.cue->itemEndSMPTETime()), fps + 3 * (3 * fps) - 1);

        t.cue->rebuildStartAndEndTime();
        EXPECT_EQ(t.frames(t.cue->itemEndSMPTETime()), fps + 3 * fps - 1);
    }
}

TEST(KavioVideoItemTiming, AutoAlignmentEndsOnTheNextWholeMinuteOrHour)
{
    const struct {
        std::int32_t code;
        double media, expected;
    } cases[] = {{10, 49.5, 50.0}, {10, 50.0, 110.0}, {20, 50.0, 3590.0}, {0, 49.5, 49.5}, {30, 49.5, 49.5}};
    for (const auto& c : cases) {
        TimedCue t;
        t.stillOf(c.media);
        t.cue->setItemStartCMTime(seconds(10));
        t.cue->setAutoAlignToDuration(c.code);
        EXPECT_DOUBLE_EQ(t.cue->getGoodDuration(), c.expected) << c.code << " " << c.media;
        // The cache keeps the length before alignment.
        EXPECT_FLOAT_EQ(t.cue->cachedGoodDurationWhenMissing(), float(c.media));
    }
}

TEST(KavioVideoItemTiming, AMissingMovieNeverMeasuredTakesTheNonMovieLength)
{
    TimedCue t;
    t.cue->setMediaType(KavioMediaTypeMovie);
    t.cue->setDurationOfNonMovies(6.0f);
    t.cue->setIsMissing(true);
    EXPECT_DOUBLE_EQ(t.cue->getGoodDuration(), 6.0);
    t.cue->setDurationOfNonMovies(9.0f);
    EXPECT_DOUBLE_EQ(t.cue->getGoodDuration(), 6.0);  // kept
    // A measured length survives the media going missing.
    TimedCue measured;
    measured.audioOf(12.0);
    EXPECT_DOUBLE_EQ(measured.cue->getGoodDuration(), 12.0);
    measured.cue->setIsMissing(true);
    EXPECT_DOUBLE_EQ(measured.cue->getGoodDuration(), 12.0);
}

TEST(KavioVideoItemTiming, RowTimesFollowTheDisplayChoiceAndTheLoopState)
{
    TimedCue t;
    t.stillOf(4.0);
    t.cue->setItemStartCMTime(seconds(10));
    UserDefaults::standardUserDefaults().setBool(false, QStringLiteral("displayTRT"));
    t.cue->setupSMPTEStartAndEndTimes();
    EXPECT_EQ(t.cue->rowTimes().endLabel, "End:");
    EXPECT_EQ(t.cue->rowTimes().endLabelToolTip, "End Time");
    EXPECT_EQ(t.cue->rowTimes().end, "00:00:13:24");
    UserDefaults::standardUserDefaults().setBool(true, QStringLiteral("displayTRT"));
    t.cue->displayItemTimes();
    EXPECT_EQ(t.cue->rowTimes().endLabel, "TRT:");
    EXPECT_EQ(t.cue->rowTimes().endLabelToolTip, "Total Run Time");
    EXPECT_EQ(t.cue->rowTimes().end, "00:00:04:00");
    UserDefaults::standardUserDefaults().setBool(false, QStringLiteral("displayTRT"));

    const struct {
        bool looping;
        std::int32_t count;
        std::uint64_t passes;
        bool current;
        const char* text;
    } cases[] = {
        {false, 3, 0, true, ""},
        {true, 3, 1, true, "Play 2/3"},
        {true, 3, 1, false, "Plays: 3"},
        {true, KavioLoopCountEndless, 0, true, "Plays: ∞"},
        {true, KavioLoopCountEndless, 2, false, "Play 2"},
    };
    for (const auto& c : cases) {
        t.cue->setIsLooping(c.looping);
        t.cue->setLoopCount(c.count);
        t.cue->setLoopCounter(c.passes);
        t.controller->current = c.current ? std::shared_ptr<KavioVideoItem>(t.cue) : nullptr;
        t.cue->displayItemTimes();
        EXPECT_EQ(t.cue->rowTimes().loop, QString::fromUtf8(c.text));
    }
    t.controller->current.reset();

    // From another thread the texts are written later, on the main queue.
    t.cue->setIsLooping(false);
    std::thread([&] { t.cue->displayItemTimes(); }).join();
    t.cue->setIsLooping(true);
    t.cue->setLoopCounter(0);
    t.cue->setLoopCount(KavioLoopCountEndless);
    DispatchQueue::drainMain();
    EXPECT_EQ(t.cue->rowTimes().loop, "Plays: ∞");
}

TEST(KavioVideoItemTiming, WithoutAClockTimesStayAndTheRunTimeReadsZero)
{
    CueUnderTest t;
    t.cue->setMediaType(KavioMediaTypeStill);
    t.cue->setItemStartSMPTETime(QStringLiteral("kept"));
    t.cue->setupSMPTEStartAndEndTimes();
    t.cue->setupSMPTEEndTimeWithStartFrames(10);
    EXPECT_EQ(t.cue->itemStartSMPTETime(), "kept");
    EXPECT_EQ(t.cue->videoTRTSMPTE(), "00:00:00:00");
    EXPECT_EQ(t.cue->itemDurationFrames(), 0u);
}

TEST(KavioVideoItemMediaInfo, CodecNamesBySubtype)
{
    CueUnderTest t;
    const struct {
        std::uint32_t code;
        bool alpha;
        const char* name;
    } cases[] = {
        {24, false, "Uncompressed 24-bit RGB"}, {fourCC("avc1"), false, "H.264"},
        {fourCC("hvc1"), false, "HEVC"},        {fourCC("hvc1"), true, "HEVC with Alpha"},
        {fourCC("SVQ3"), false, "Soreson 3"},   {fourCC("apch"), false, "Apple ProRes 422 HQ"},
        {fourCC("HapM"), false, "HAP Q Alpha"}, {fourCC("dvhq"), false, "DVCProHD"},
        {0x6D732000, false, "AC-3"},            {fourCC(".mp2"), false, "MP3"},
        {fourCC("cn64"), false, "Timecode"},    {fourCC("zzzz"), false, "Unknown"},
    };
    for (const auto& c : cases) {
        MediaTrack track;
        track.codecType = c.code;
        t.cue->setHasAlpha(c.alpha);
        EXPECT_EQ(t.cue->codecWithFormatDescription(&track), QString::fromLatin1(c.name));
    }
    EXPECT_EQ(t.cue->codecWithFormatDescription(nullptr), "Unknown");
}

TEST(KavioVideoItemMediaInfo, DecodeFormatsBySubtypeAlphaAndBitDepth)
{
    const std::uint32_t bgra = fourCC("BGRA"), rgha = fourCC("RGhA"), yuv8 = fourCC("2vuy"), v210 = fourCC("v210");
    const struct {
        std::uint32_t code;
        bool alpha, highBitDepth;
        std::uint32_t format;
        bool yuv, proRes;
    } cases[] = {
        {fourCC("jpeg"), false, false, yuv8, true, false}, {fourCC("jpeg"), false, true, v210, true, false},
        {fourCC("apcn"), false, false, yuv8, true, true},  {fourCC("ap4h"), true, false, bgra, false, true},
        {fourCC("ap4h"), false, true, v210, true, true},   {fourCC("avc1"), false, false, yuv8, true, false},
        {fourCC("avc1"), false, true, rgha, false, false}, {fourCC("hvc1"), true, false, bgra, false, false},
        {fourCC("muxa"), false, false, bgra, false, false}, {fourCC("Hap1"), false, true, rgha, false, false},
    };
    for (const auto& c : cases) {
        CueUnderTest t;
        t.controller->highBitDepth = c.highBitDepth;
        MediaTrack track;
        track.codecType = c.code;
        track.hasAlpha = c.alpha;
        EXPECT_EQ(t.cue->decodeFormatWithFormatDescription(&track), c.format) << fourCCString(c.code);
        EXPECT_EQ(t.cue->isYUV(), c.yuv) << fourCCString(c.code);
        EXPECT_EQ(t.cue->isProRes(), c.proRes) << fourCCString(c.code);
    }
    CueUnderTest none;
    none.cue->setIsYUV(true);
    EXPECT_EQ(none.cue->decodeFormatWithFormatDescription(nullptr), bgra);
    EXPECT_FALSE(none.cue->isYUV());
}

}  // namespace
