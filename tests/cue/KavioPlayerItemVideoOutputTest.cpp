// The movie frame source's read-ahead ring: over a scripted player output (frames, failures and
// the player's time as the test says) and over a real player reading counter25.mp4's bar codes.

#include "CueTestSupport.h"
#include "Cue/KavioPlayerItemVideoOutput.h"
#include "MediaFixtures.h"

#include "DispatchQueue.h"
#include "MediaPlayer.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

constexpr int kFrames = 50;  // counter25.mp4: 2 s at 25 fps

MediaTime frameTime(int number)
{
    return MediaTime::make(number, 25);
}

MediaTime at600(double seconds)
{
    return MediaTime::makeWithSeconds(seconds, MediaTime::kCueTimescale);
}

// A player output of 50 frames at 25 fps, each a 1 x 1 picture whose blue byte is its number.
struct ScriptedOutput : KavioPlayerFrameOutput {
    std::vector<VideoFrameRef> frames;
    VideoFrameRef lastRead;
    int failures = 0;        // the next reads that find nothing
    int decoded = kFrames;  // frames decoded so far: later times show the last of them
    int reads = 0;
    MediaTime now = MediaTime::zero();

    ScriptedOutput()
    {
        for (int n = 0; n < kFrames; ++n) {
            auto pixel = std::make_shared<std::vector<std::uint8_t>>(64, std::uint8_t(n));
            frames.push_back(std::make_shared<VideoFrame>(MediaPixelFormat::BGRA, 1, 1, 64, pixel->data(),
                                                          frameTime(n), pixel));
        }
    }
    const VideoFrameRef& showingAt(const MediaTime& time) const
    {
        const int n = std::clamp(int(time.seconds() * 25.0 + 1e-9), 0, decoded - 1);
        return frames[std::size_t(n)];
    }
    bool hasNewFrameForItemTime(const MediaTime& time) const override { return showingAt(time) != lastRead; }
    VideoFrameRef copyFrameForItemTime(const MediaTime& time, MediaTime* displayTime) override
    {
        ++reads;
        if (failures > 0) {
            --failures;
            return nullptr;
        }
        lastRead = showingAt(time);
        if (displayTime)
            *displayTime = lastRead->presentationTime();
        return lastRead;
    }
    HapFrameRef copyHapFrameForItemTime(const MediaTime&) override { return nullptr; }
    MediaTime currentTime() const override { return now; }
};

int numberOf(const VideoFrameRef& frame)
{
    return frame ? int(frame->data()[0]) : -1;
}

// A source over the scripted output, owned by a counter25.mp4 cue (its rate, length and speed).
struct ScriptedRing {
    RecordingOSCOutput osc;
    std::shared_ptr<FakeKavioVideoItemManager> controller = std::make_shared<FakeKavioVideoItemManager>();
    std::shared_ptr<KavioVideoItem> cue = std::make_shared<KavioVideoItem>(osc.sender());
    std::shared_ptr<ScriptedOutput> output = std::make_shared<ScriptedOutput>();
    KavioPlayerItemVideoOutput source{output, false};

    ScriptedRing()
    {
        EXPECT_TRUE(cue->initMovieCue(QString::fromStdString(MediaFixtures::path("counter25.mp4")), controller, {}));
        source.setVideoItem(cue);
        cue->setIsPlaying(true);
    }
    int handOut(double seconds) { return numberOf(source.copyBufferedPixelBufferForCurrentTime(at600(seconds))); }
};

TEST(KavioPlayerItemVideoOutputRing, TheProbeSwitchesTheRingOnAndOnlyNormalSpeedUsesIt)
{
    ScriptedRing ring;
    EXPECT_TRUE(ring.source.ringEnabled());
    EXPECT_EQ(ring.source.lastPixelBufferTime(), MediaTime::zero());
    EXPECT_TRUE(ring.source.canUseTripleBuffering());
    for (const std::int64_t percent : {99, 101}) {
        ring.cue->setPlaybackRatePercent(percent);
        EXPECT_FALSE(ring.source.canUseTripleBuffering()) << percent;
    }
}

TEST(KavioPlayerItemVideoOutputRing, HandsOutTheCurrentSlotAndRefillsTheOneShownLast)
{
    ScriptedRing ring;
    ring.source.fillBuffersFromCMTime(MediaTime::zero());
    EXPECT_EQ(numberOf(ring.source.pixelBuffer(0)), 0);
    EXPECT_EQ(numberOf(ring.source.pixelBuffer(1)), 1);
    EXPECT_EQ(numberOf(ring.source.pixelBuffer(2)), 2);
    EXPECT_EQ(ring.output->reads, 3);

    EXPECT_EQ(ring.handOut(0.0), 0);
    EXPECT_EQ(ring.source.bufferIndex(), 1);
    EXPECT_EQ(ring.output->reads, 3);  // nothing refilled yet

    EXPECT_EQ(ring.handOut(0.04), 1);
    EXPECT_EQ(numberOf(ring.source.pixelBuffer(0)), 3);  // the fourth frame
    EXPECT_EQ(ring.handOut(0.08), 2);
    EXPECT_EQ(ring.handOut(0.12), 3);
    EXPECT_EQ(ring.handOut(0.16), 4);

    // Paused: the same slot, again and again, and the ring stands.
    ring.cue->setIsPlaying(false);
    const int index = ring.source.bufferIndex();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(ring.handOut(0.2), 5);
    EXPECT_EQ(ring.source.bufferIndex(), index);
    EXPECT_EQ(ring.source.lastBufferPlayedOut(), -1);
}

TEST(KavioPlayerItemVideoOutputRing, ATimeUpToOneFrameEarlyStillMatches)
{
    ScriptedRing ring;
    ring.source.fillBuffersFromCMTime(frameTime(10));
    EXPECT_EQ(ring.handOut(0.32), -1);  // two frames early: nothing, the ring stands
    EXPECT_EQ(ring.source.bufferIndex(), 0);
    EXPECT_EQ(ring.handOut(0.36), 10);  // one frame early
}

TEST(KavioPlayerItemVideoOutputRing, TheEleventhReadFailureOfItsLifeEndsTheRing)
{
    ScriptedRing ring;
    // Ten failures are retried from the next new frame each time (half a frame on, with no
    // render clock), and the read then succeeds.
    ring.output->failures = 10;
    ring.source.readNextPixelBufferForTime(MediaTime::zero(), 0);
    EXPECT_EQ(ring.source.pixelBufferReadingProblems(), 10);
    EXPECT_TRUE(ring.source.ringEnabled());
    EXPECT_EQ(numberOf(ring.source.pixelBuffer(0)), 5);

    // The count is never reset: one more failure ends it, and the cue reads directly from then on.
    ring.output->failures = 1;
    ring.source.readNextPixelBufferForTime(frameTime(20), 1);
    EXPECT_EQ(ring.source.pixelBufferReadingProblems(), 11);
    EXPECT_FALSE(ring.source.ringEnabled());
    EXPECT_FALSE(ring.source.canUseTripleBuffering());
    const int reads = ring.output->reads;
    ring.source.fillBuffersFromCMTime(MediaTime::zero());
    EXPECT_EQ(ring.output->reads, reads);
}

TEST(KavioPlayerItemVideoOutputRing, ADecoderBehindTheRingFillsASlotTwiceButTheClockPassesIt)
{
    ScriptedRing ring;
    ring.output->decoded = 2;
    ring.source.fillBuffersFromCMTime(MediaTime::zero());
    EXPECT_EQ(ring.source.lastPixelBufferTime(), frameTime(1));  // searched again from there next time
    EXPECT_EQ(ring.source.pixelBufferReadingProblems(), 0);
    ring.output->decoded = kFrames;
    std::vector<int> shown;
    for (const double time : {0.0, 0.04, 0.08, 0.12, 0.16})
        shown.push_back(ring.handOut(time));
    EXPECT_EQ(shown, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(KavioPlayerItemVideoOutputRing, LateTicksCatchUpWithTheClockAndStayOnIt)
{
    struct Case {
        std::vector<double> ticks;
        std::vector<int> shown;
    };
    const Case cases[] = {
        {{0.04, 0.08, 0.12, 0.16}, {1, 2, 3, 4}},       // the first tick a frame late
        {{0.0, 0.04, 0.16, 0.20, 0.24}, {0, 1, 4, 5, 6}},  // one tick two frames late
        {{0.0, 0.20, 0.24, 0.28}, {0, 3, 6, 7}},           // far behind: caught up over two ticks
    };
    for (const Case& c : cases) {
        ScriptedRing ring;
        ring.source.fillBuffersFromCMTime(MediaTime::zero());
        std::vector<int> shown;
        for (const double time : c.ticks)
            shown.push_back(ring.handOut(time));
        EXPECT_EQ(shown, c.shown) << c.ticks.front() << " " << c.ticks.back();
    }
}

TEST(KavioPlayerItemVideoOutputRing, AnEmptySlotStandsForItsTimeAndIsPassed)
{
    ScriptedRing ring;
    ring.output->decoded = 2;
    ring.source.fillBuffersFromCMTime(MediaTime::zero());
    ring.output->failures = 1;
    ring.source.readNextPixelBufferForTime(frameTime(1), 2);  // nothing newer to retry from
    EXPECT_EQ(ring.source.pixelBuffer(2), nullptr);
    EXPECT_EQ(ring.source.pixelBufferTime(2), frameTime(1));
    EXPECT_EQ(ring.source.pixelBufferReadingProblems(), 1);
    ring.output->decoded = kFrames;
    EXPECT_EQ(ring.handOut(0.0), 0);
    EXPECT_EQ(ring.handOut(0.04), 1);
    EXPECT_EQ(ring.handOut(0.08), 2);  // the empty slot is passed: its successor is due
    EXPECT_EQ(ring.handOut(0.12), 3);
}

TEST(KavioPlayerItemVideoOutputRing, PauseRepairTakesAMatchingEarlierSlotOrRefillsIt)
{
    ScriptedRing ring;
    ring.source.fillBuffersFromCMTime(frameTime(10));  // 10 11 12
    ring.source.readNextPixelBufferForTime(MediaTime::zero(), 2);  // slot 2 out of order: frame 0

    // The player stands far from it: slot 2 takes the frame after the newest in order.
    ring.output->now = frameTime(5);
    ring.source.fillBuffersAfterPauseIfNeeded();
    EXPECT_GE(ring.source.pixelBufferTime(2), ring.source.pixelBufferTime(1));
    EXPECT_EQ(ring.source.bufferIndex(), 0);

    // The player stands on it: slot 2 becomes the current one.
    ring.source.readNextPixelBufferForTime(MediaTime::zero(), 2);
    ring.output->now = MediaTime::zero();
    ring.source.fillBuffersAfterPauseIfNeeded();
    EXPECT_EQ(ring.source.bufferIndex(), 2);
    EXPECT_EQ(ring.handOut(0.0), 0);
}

// --- Over a real player ----------------------------------------------------------------------------

// counter25.mp4 in a ready cue, its player paused: the test moves the render grid's time itself
// and gives the decoder time to keep ahead (no speed is asserted).
struct RealRing {
    RecordingOSCOutput osc;
    std::shared_ptr<FakeKavioVideoItemManager> controller = std::make_shared<FakeKavioVideoItemManager>();
    std::shared_ptr<KavioVideoItem> cue = std::make_shared<KavioVideoItem>(osc.sender());

    RealRing()
    {
        EXPECT_TRUE(cue->initMovieCue(QString::fromStdString(MediaFixtures::path("counter25.mp4")), controller, {}));
        EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return cue->isReady(); }, 60.0));
        // A preroll decodes two frames; let the decoder fill its queue before the ring reads
        // three ahead, then fill the ring afresh past the frames the preparation took.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cue->pixelBufferQueue().sync([&] { source().fillBuffersFromCMTime(frameTime(kFirst)); });
    }
    static constexpr int kFirst = 3;
    KavioPlayerItemVideoOutput& source() const { return *cue->videoOutput(); }
    // The frame numbers handed out on a grid of `fps` from `from` for `ticks` ticks (-1 for a
    // tick that got none).
    std::vector<int> handOuts(double fps, double from, int ticks)
    {
        std::vector<int> numbers;
        for (int tick = 0; tick < ticks; ++tick) {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            VideoFrameRef frame;
            cue->pixelBufferQueue().sync(
                [&] { frame = source().copyBufferedPixelBufferForCurrentTime(at600(from + tick / fps)); });
            numbers.push_back(frame ? MediaFixtures::frameNumberOf(*frame) : -1);
        }
        return numbers;
    }
};

// Strictly one after the other, none skipped; ticks without a frame are left out.
testing::AssertionResult inOrderWithoutGaps(const std::vector<int>& numbers, int first)
{
    int expected = first;
    for (const int n : numbers) {
        if (n == -1)
            continue;
        if (n != expected)
            return testing::AssertionFailure() << "got frame " << n << " where " << expected << " was due";
        ++expected;
    }
    return testing::AssertionSuccess();
}

TEST(KavioPlayerItemVideoOutputPlayer, HandOutsFollowTheMovieOnA25And60FpsGrid)
{
    for (const double fps : {25.0, 60.0}) {
        RealRing ring;
        ASSERT_NE(ring.cue->videoOutput(), nullptr);
        ASSERT_TRUE(ring.source().canUseTripleBuffering());
        ring.cue->setIsPlaying(true);
        const int ticks = fps == 25.0 ? 20 : 48;
        const auto numbers = ring.handOuts(fps, RealRing::kFirst / 25.0, ticks);
        EXPECT_TRUE(inOrderWithoutGaps(numbers, RealRing::kFirst)) << fps;
        const long empty = std::count(numbers.begin(), numbers.end(), -1);
        if (fps == 60.0)
            EXPECT_GT(empty, 0);
        else
            EXPECT_EQ(empty, 0);
    }
}

TEST(KavioPlayerItemVideoOutputPlayer, APauseAndResumeKeepTheOrder)
{
    RealRing ring;
    ring.cue->setIsPlaying(true);
    constexpr int kPause = RealRing::kFirst + 8;
    auto numbers = ring.handOuts(25.0, RealRing::kFirst / 25.0, 8);
    ring.cue->setIsPlaying(false);
    const auto paused = ring.handOuts(25.0, kPause / 25.0, 1);
    ring.cue->pixelBufferQueue().sync([&] { ring.source().fillBuffersAfterPauseIfNeeded(); });
    ring.cue->setIsPlaying(true);
    const auto resumed = ring.handOuts(25.0, kPause / 25.0, 8);
    EXPECT_EQ(paused, std::vector<int>{kPause});
    EXPECT_EQ(resumed.front(), kPause);  // the paused frame shows again first
    numbers.push_back(kPause);
    numbers.insert(numbers.end(), resumed.begin() + 1, resumed.end());
    EXPECT_TRUE(inOrderWithoutGaps(numbers, RealRing::kFirst));
}

TEST(KavioPlayerItemVideoOutputPlayer, OffNormalSpeedOrWhileScrubbingTheCueReadsDirectly)
{
    RealRing ring;
    ring.cue->setIsPlaying(true);
    const auto numberNow = [&] {
        VideoFrameRef frame;
        DispatchQueue::runMainUntil(
            [&] {
                ring.cue->pixelBufferQueue().sync([&] { frame = ring.cue->pixelBufferCopy(); });
                return frame != nullptr;
            },
            30.0);
        return frame ? MediaFixtures::frameNumberOf(*frame) : -1;
    };
    const auto seekTo = [&](double seconds) {
        ring.cue->seekToCMTime(at600(seconds));
        EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return !ring.cue->isSeeking(); }, 60.0));
        DispatchQueue::runMainUntil([] { return false; }, 0.1);
    };

    ring.controller->markerDragging = true;
    seekTo(1.0);
    EXPECT_EQ(numberNow(), 25);
    EXPECT_EQ(ring.source().bufferIndex(), 0);  // the ring kept its frames
    EXPECT_EQ(MediaFixtures::frameNumberOf(*ring.source().pixelBuffer(0)), RealRing::kFirst);
    ring.controller->markerDragging = false;

    ring.cue->setPlaybackRatePercent(99);
    DispatchQueue::runMainUntil([] { return false; }, 0.2);
    seekTo(1.4);
    EXPECT_EQ(numberNow(), 34);  // 1.4 s at 99 % is 1.386 s of the movie
    EXPECT_EQ(MediaFixtures::frameNumberOf(*ring.source().pixelBuffer(0)), RealRing::kFirst);
}

}  // namespace
