// Real movie cues through their frame sources, the real layer and transition renderers and the
// controller's composition pass, on the run's GPU (Mesa under Xvfb), read back from textureName():
// the pictures carry counter25.mp4's bar codes.

#include "ControllerFakes.h"
#include "Cue/KavioPlayerItemVideoOutput.h"
#include "MediaFixtures.h"
#include "Rendering/KavioMetalTransitionRenderer.h"
#include "Rendering/QVTMetalLayerRenderer.h"
#include "RenderingTestSupport.h"
#include "TestSwitch.h"
#include "../../bench/KavioBenchSupport.h"

#include "Clock/QVTClock.h"
#include "DispatchQueue.h"
#include "MediaPlayer.h"
#include "VideoFrameSource.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <functional>
#include <thread>

namespace {

constexpr int kW = 320, kH = 240;  // the movies' own size: one texel per pixel

bool makeHapCounter(const std::string& name)
{
    return MediaFixtures::ffmpeg("-i " + MediaFixtures::path("counter25.mp4") + " -an -c:v hap -format hap " + name);
}

// ProRes 422 HQ: 10-bit 4:2:2 planes.
bool makeProResCounter(const std::string& name)
{
    return MediaFixtures::ffmpeg("-i " + MediaFixtures::path("counter25.mp4") +
                                 " -an -c:v prores_ks -profile:v 3 -pix_fmt yuv422p10le " + name);
}

// The frame at `seconds` converted to BGRA on the processor: what the picture must look like.
VideoFrameRef referenceFrame(const std::string& path, double seconds)
{
    VideoFrameSourceOptions options;
    options.pixelFormat = MediaPixelFormat::BGRA;
    auto source = VideoFrameSource::open(path, options);
    const MediaTime time = MediaTime::makeWithSeconds(seconds, 90000);
    if (!source)
        return nullptr;
    source->seekToTime(time);
    return source->waitForItemTime(time, 30.0) ? source->copyFrameForItemTime(time) : nullptr;
}

struct MovieSizedOutputs : KavioVideoOutputManagerInterface {
    void initManager() override {}
    void renderWithTexture(const std::shared_ptr<GpuTexture>&) override {}
    void presentDrawables() override {}
    QSizeF renderSize() const override { return {kW, kH}; }
    bool useHighBitDepthRendering() const override { return false; }
};

class CueFramesCompositionTest : public RenderingTest {
protected:
    void SetUpWithDevice() override
    {
        controllerTestHome();
        defaults = std::make_unique<UserDefaults>(settingsDir.filePath(QStringLiteral("test.conf")));
        QVTMetalManager& gpu = *manager;
        QVTMetalLayerRendererInterface::setFactory([&gpu](QSizeF size, bool yuv, bool hbd, bool flip, bool deinterlace) {
            return std::make_shared<QVTMetalLayerRenderer>(size, yuv, hbd, flip, deinterlace, gpu);
        });
        KavioMetalTransitionRendererInterface::setFactory([&gpu](QSizeF size, bool hbd, std::int32_t type) {
            return std::make_shared<KavioMetalTransitionRenderer>(size, hbd, type, gpu);
        });
        KavioPlayerItemVideoOutput::setDefaultMetalManager(&gpu);
        controller = KavioVideoItemManager::init(*defaults);
        controller->setMetalManager(gpu);
        KavioVideoItemManagerOutlets o;
        o.videoOutputManager = outputs;
        controller->setOutlets(o);
        controller->createTextureCache();
    }
    void TearDown() override
    {
        stopRendering();
        if (controller)
            controller->setCurrentItem(nullptr);
        DispatchQueue::drainMain();
        QVTMetalLayerRendererInterface::setFactory({});
        KavioMetalTransitionRendererInterface::setFactory({});
        KavioPlayerItemVideoOutput::setDefaultMetalManager(nullptr);
    }

    // A ready movie cue of the fixture, paused at `seconds`, appended to the list.
    std::shared_ptr<KavioVideoItem> cueAt(const std::string& path, double seconds)
    {
        auto cue = std::make_shared<KavioVideoItem>([](const QVTOSCMessage&) {});
        EXPECT_TRUE(cue->initMovieCue(QString::fromStdString(path), controller, {}));
        EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return cue->isReady(); }, 60.0));
        controller->insertItem(cue, controller->items()->size() + 1);
        seek(*cue, seconds);
        return cue;
    }
    static void seek(KavioVideoItem& cue, double seconds)
    {
        cue.seekToCMTime(MediaTime::makeWithSeconds(seconds, MediaTime::kCueTimescale));
        EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return !cue.isSeeking(); }, 60.0));
        DispatchQueue::runMainUntil([] { return false; }, 0.1);
    }
    // The composed picture of one pass at render time `time` (seconds), read back.
    VideoFrameRef composed(double time = 1.0)
    {
        frame([&] { controller->createCurrentTextureAtTime(time); });
        const auto texture = controller->textureName();
        EXPECT_NE(texture, nullptr);
        if (!texture)
            return nullptr;
        const auto rgba = pixels(*texture);
        auto bytes = std::make_shared<std::vector<std::uint8_t>>(rgba.size() * 4);
        for (std::size_t i = 0; i < rgba.size(); ++i) {
            std::uint8_t* p = bytes->data() + i * 4;
            p[0] = std::uint8_t(rgba[i].b), p[1] = std::uint8_t(rgba[i].g), p[2] = std::uint8_t(rgba[i].r);
            p[3] = std::uint8_t(rgba[i].a);
        }
        return std::make_shared<VideoFrame>(MediaPixelFormat::BGRA, int(texture->width()), int(texture->height()),
                                            int(texture->width()) * 4, bytes->data(), MediaTime::zero(), bytes);
    }
    int shownNumber()
    {
        const auto picture = composed();
        return picture ? MediaFixtures::frameNumberOf(*picture) : -1;
    }
    // The bar code of the composed picture, or kBlack when the picture below the bar code is black
    // (all of testsrc's picture has colour, a bar code of zeros reads as frame 0).
    static constexpr int kBlack = -3;  // -1: no bar code (none drawn, or two mixed)
    int shownNumberUnlessBlack(double time = 1.0)
    {
        const auto picture = composed(time);
        if (!picture)
            return -1;
        long sum = 0;
        for (int y = 16; y < picture->height(); y += 8)
            for (int x = 0; x < picture->width(); x += 8)
                for (int c = 0; c < 3; ++c)
                    sum += picture->row(y)[x * 4 + c];
        return sum > 0 ? MediaFixtures::frameNumberOf(*picture) : kBlack;
    }
    // The bar code the composition shows once `shows` accepts it, or the last one seen: seeks and
    // frame delivery are asynchronous. Passes come from the render loop while it runs, else are
    // composed on the main thread.
    int shownOnce(const std::function<bool(int)>& shows)
    {
        int number = -1;
        DispatchQueue::runMainUntil(
            [&] { return shows(number = rendering.load() ? lastShown.load() : shownNumberUnlessBlack()); }, 30.0);
        return number;
    }
    // Composes and reads back pass after pass on a thread of its own, as an output's render clock
    // does, while the test waits on the main thread.
    void startRendering()
    {
        rendering = true;
        renderThread = std::thread([this] {
            const auto clock = controller->masterClock();
            const auto start = std::chrono::steady_clock::now();
            while (rendering.load()) {
                const double before = clock->clockTime();
                // The render time moves on as a render clock's does: a crossover advances by it.
                const int shown = shownNumberUnlessBlack(
                    1.0 + std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
                passes.push_back({before, clock->clockTime(), shown});
                lastShown = shown;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
        DispatchQueue::runMainUntil([&] { return lastShown.load() != kNoPassYet; }, 30.0);
    }
    void stopRendering()
    {
        rendering = false;
        if (renderThread.joinable())
            renderThread.join();
    }
    int shownOnce(int expected)
    {
        return shownOnce([expected](int number) { return number == expected; });
    }
    // Play and stop through the controller's clock, which runs its own thread on the host's time.
    void connectToTheRunningClock()
    {
        app->controller = controller;
        controller->setDelegate(app);
        controller->masterClock()->setSmpteFormat(QVTClockSMPTEFormat25);
        controller->masterClock()->runClockRenderer();
    }
    // Three movies whose bar codes count on from one to the next (0-49, 50-99, 100-149), laid end
    // to end; the show stands by on the first, jumps open as after set-up. `prepare` sets the
    // cues up before the list is laid out.
    std::array<std::shared_ptr<KavioVideoItem>, 3> countingMovies(
        const std::function<void(const std::array<std::shared_ptr<KavioVideoItem>, 3>&)>& prepare = {})
    {
        const std::array cues{cueAt(MediaFixtures::path("counter25.mp4"), 0.0),
                              cueAt(MediaFixtures::path("counter25from50.mp4"), 0.0),
                              cueAt(MediaFixtures::path("counter25from100.mp4"), 0.0)};
        if (prepare)
            prepare(cues);
        controller->buildItemQueue();
        controller->setCurrentItem(cues[0]);
        cues[0]->markAsCurrent(true);
        controller->handleEndOfTemporaryPlaybackStopWithCompletedHandler({});
        DispatchQueue::drainMain();
        return cues;
    }

    QTemporaryDir settingsDir;
    std::unique_ptr<UserDefaults> defaults;
    std::shared_ptr<MovieSizedOutputs> outputs = std::make_shared<MovieSizedOutputs>();
    std::shared_ptr<KavioVideoItemManager> controller;
    // Plays and stops through the controller, with the global transition switch.
    struct PlayingApp : KavioPlayingBenchDelegate {
        TestSwitch globalTransition;
        KavioButtonInterface* globalTransitionButton() const override { return const_cast<TestSwitch*>(&globalTransition); }
    };
    std::shared_ptr<PlayingApp> app = std::make_shared<PlayingApp>();
    // The render loop's passes: the clock before and after each, and the bar code it showed.
    struct Pass {
        double clockBefore, clockAfter;
        int shown;
    };
    std::vector<Pass> passes;  // the render thread's while it runs
    static constexpr int kNoPassYet = -2;
    std::atomic<int> lastShown{kNoPassYet};
    std::atomic<bool> rendering{false};
    std::thread renderThread;
};

TEST_F(CueFramesCompositionTest, AMovieCueAndAHapCueShowTheirCurrentFrame)
{
    for (const auto& path : {MediaFixtures::path("counter25.mp4"), MediaFixtures::madePath("cuehapcounter.mov", makeHapCounter)}) {
        const auto cue = cueAt(path, 0.4);
        controller->setCurrentItem(cue);
        EXPECT_EQ(shownNumber(), 10) << path;
        seek(*cue, 1.2);
        EXPECT_EQ(shownNumber(), 30) << path;
        controller->setCurrentItem(nullptr);
    }
}

TEST_F(CueFramesCompositionTest, TheOwnDissolveMixesBothCodesThenShowsTheIncomingOne)
{
    const auto path = MediaFixtures::path("counter25.mp4");
    const auto a = cueAt(path, 0.0), b = cueAt(path, 0.2);
    // Inside the transition the incoming cue is kept at the matching position.
    const auto incoming = [&] { return int(b->videoPlayer()->currentTime().seconds() * 25.0 + 1e-6); };
    a->changeTransitionToState(true);
    a->setTransitionTime(1.0);
    controller->buildItemQueue();
    ASSERT_EQ(a->nextItemToPlay(), b);
    const double length = a->transitionTime();
    const double duration = a->itemDuration();
    controller->setCurrentItem(a);

    // Half-way: A's own playhead and the master clock both half through the transition.
    const double half = duration - length / 2.0;
    seek(*a, half);
    controller->masterClock()->setClockTime(half);
    ASSERT_TRUE(a->isProcessingTransition());
    ASSERT_NEAR(a->transitionProgress(), 0.5, 0.03);
    const auto mixed = composed();
    ASSERT_NE(mixed, nullptr);
    const int frameA = int(half * 25.0);
    for (int bit = 0; bit < 8; ++bit) {
        const auto level = [](int number, int b) { return (number >> b & 1) ? 235.0 / 255.0 : 16.0 / 255.0; };
        const double expected = (level(frameA, bit) + level(incoming(), bit)) / 2.0;
        EXPECT_NEAR(MediaFixtures::brightnessAt(*mixed, 40 * bit + 20, 8), expected, 0.08) << "bit " << bit;
    }

    // At the end only the incoming picture shows.
    seek(*a, duration);
    controller->masterClock()->setClockTime(duration - 0.01);
    ASSERT_GE(a->transitionProgress(), 1.0);
    EXPECT_EQ(shownNumber(), incoming());
}

// The counting movies played on the running clock while a render loop composes and reads back
// every pass, as an output's render clock would.
TEST_F(CueFramesCompositionTest, MoviesFollowingOnShowEveryFrameOfTheRightCueWithoutABlackFrame)
{
    connectToTheRunningClock();
    const auto [a, b, c] = countingMovies();
    ASSERT_EQ(b->itemStartSMPTETime(), QStringLiteral("00:00:02:00"));
    ASSERT_EQ(c->itemStartSMPTETime(), QStringLiteral("00:00:04:00"));
    const auto clock = controller->masterClock();

    startRendering();
    controller->startClock();
    const bool reachedC = DispatchQueue::runMainUntil([&] { return clock->clockTime() >= 5.4; }, 120.0);
    stopRendering();
    controller->stopClockWithCompletedHandler({});
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return !clock->isRunning() && !controller->isPlaying(); }, 30.0));
    ASSERT_TRUE(reachedC);
    EXPECT_EQ(controller->currentItem(), c);

    // Each pass's picture: a bar code of the three movies (never black), never going back, and
    // never further from the clock's frame than a player may lag or lead it on a loaded machine
    // (a lagging player catches up by skipping: the band bounds both the hold and the skip).
    constexpr int kSlack = 8;  // frames
    ASSERT_GT(passes.size(), 10u);
    int previous = 0;
    for (const Pass& pass : passes) {
        SCOPED_TRACE(testing::Message() << "clock " << pass.clockBefore << ".." << pass.clockAfter << " shows "
                                        << pass.shown);
        ASSERT_GE(pass.shown, 0) << "a black or unreadable picture";
        ASSERT_LT(pass.shown, 150);
        EXPECT_GE(pass.shown, int(pass.clockBefore * 25.0) - kSlack);
        EXPECT_LE(pass.shown, int(pass.clockAfter * 25.0) + kSlack);
        EXPECT_GE(pass.shown, previous) << "a picture went back";
        previous = pass.shown;
    }
}

// A looping movie on the running clock: its stretch from the in point (frame 10) to the out point
// (frame 39) three times through both player sets, then the next movie follows on.
TEST_F(CueFramesCompositionTest, ALoopingMoviePlaysItsStretchThreeTimesThenTheNextCueFollows)
{
    connectToTheRunningClock();
    const auto cues = countingMovies([](const auto& movies) {
        const auto& a = movies[0];
        a->setInTime(MediaTime::makeWithSeconds(0.4, MediaTime::kCueTimescale));
        a->setOutTime(MediaTime::makeWithSeconds(0.4, MediaTime::kCueTimescale));
        a->setLoopCount(3);
        a->changeLoopToState(true);
        seek(*a, 0.4);
    });
    const auto& a = cues[0];
    const auto& b = cues[1];
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return a->canLoop(); }, 60.0));
    ASSERT_EQ(shownOnce(10), 10);
    const auto clock = controller->masterClock();

    startRendering();
    controller->startClock();
    const bool reachedB = DispatchQueue::runMainUntil(
        [&] { return controller->currentItem() == b && lastShown.load() >= 60; }, 120.0);
    stopRendering();
    controller->stopClockWithCompletedHandler({});
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return !clock->isRunning() && !controller->isPlaying(); }, 30.0));
    ASSERT_TRUE(reachedB);

    // The passes over A: where the picture goes back, a loop point. Each stretch holds only A's
    // frames from the in point to the out point, and reaches both ends within what a loaded
    // machine may skip; then B's frames follow without a black picture.
    constexpr int kSlack = 8;  // frames
    std::vector<std::vector<int>> stretches(1);
    for (const Pass& pass : passes) {
        ASSERT_GE(pass.shown, 0) << "a black or unreadable picture at clock " << pass.clockBefore;
        if (!stretches.back().empty() && pass.shown < stretches.back().back())
            stretches.emplace_back();
        stretches.back().push_back(pass.shown);
    }
    ASSERT_EQ(stretches.size(), 3u);
    for (std::size_t i = 0; i < stretches.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "pass " << i + 1 << ": " << testing::PrintToString(stretches[i]));
        const auto& stretch = stretches[i];
        std::vector<int> ofA, ofB;
        for (const int shown : stretch)
            (shown < 50 ? ofA : ofB).push_back(shown);
        ASSERT_FALSE(ofA.empty());
        EXPECT_GE(ofA.front(), 10);
        if (i > 0)
            EXPECT_LE(ofA.front(), 10 + kSlack) << "a loop point that does not return to the in point";
        EXPECT_LE(ofA.back(), 39) << "A played past its out point";
        EXPECT_GE(ofA.back(), 39 - kSlack);
        EXPECT_EQ(ofB.empty(), i + 1 < stretches.size());
        if (!ofB.empty())
            EXPECT_LE(ofB.front(), 50 + kSlack);
    }
}

// The transport on the counting movies, each step's composed picture read back: a locate, next
// and previous while stopped, GO while stopped (the show plays from the cue's first frame) and a
// GO cut while playing.
TEST_F(CueFramesCompositionTest, LocateNextPreviousAndGoShowTheExpectedCueAndFrame)
{
    connectToTheRunningClock();
    const auto [a, b, c] = countingMovies();
    const auto clock = controller->masterClock();
    EXPECT_EQ(shownOnce(0), 0);

    // Locate into the second cue: that time's frame.
    controller->seekToSMPTETime(QStringLiteral("00:00:02:12"));
    EXPECT_EQ(shownOnce(62), 62);
    EXPECT_EQ(controller->currentItem(), b);
    EXPECT_EQ(clock->clockSMPTETime(), QStringLiteral("00:00:02:12"));

    // Next and previous stand by on the cue's first frame.
    controller->jumpToNextItem();
    EXPECT_EQ(shownOnce(100), 100);
    EXPECT_EQ(controller->currentItem(), c);
    controller->jumpToPrevItem();
    EXPECT_EQ(shownOnce(50), 50);
    EXPECT_EQ(controller->currentItem(), b);
    EXPECT_FALSE(clock->isRunning());

    // GO on the first cue while stopped: it plays from its first frame, on the clock.
    controller->jumpToAndPlayItem(a);
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return clock->isRunning() && clock->clockTime() > 0.4; }, 30.0));
    EXPECT_EQ(controller->currentItem(), a);
    const int playing = shownOnce([&](int number) { return number > 10; });
    EXPECT_GT(playing, 10);
    EXPECT_LT(playing, 50);

    // GO on the last cue while playing: a cut to its first frames, still playing.
    controller->jumpToAndPlayItem(c);
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return controller->currentItem() == c && clock->isRunning(); }, 30.0));
    const int cut = shownOnce([](int number) { return number >= 100; });
    EXPECT_GE(cut, 100);
    EXPECT_LT(cut, 150);
    EXPECT_NEAR(cut - 100, (clock->clockTime() - 4.0) * 25.0, 8.0);

    controller->stopClockWithCompletedHandler({});
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return !clock->isRunning() && !controller->isPlaying(); }, 30.0));
}

// Waits on the counting movies: the first pauses at its end, the last at its beginning.
TEST_F(CueFramesCompositionTest, APauseAtEndHoldsTheLastFrameAndAPauseAtBeginningTheFirst)
{
    connectToTheRunningClock();
    const auto [a, b, c] = countingMovies([](const auto& cues) {
        cues[0]->setShouldStopAtEnd(true);
        cues[2]->setShouldStopAtBeginning(true);
    });
    const auto clock = controller->masterClock();
    startRendering();
    const auto stoppedAt = [&](const QString& smpte) {
        return DispatchQueue::runMainUntil(
            [&] { return !clock->isRunning() && !controller->isPlaying() && clock->clockSMPTETime() == smpte; }, 60.0);
    };

    // The first cue stops the clock on its last frame, and shows it.
    controller->startClock();
    EXPECT_TRUE(stoppedAt(QStringLiteral("00:00:01:24"))) << clock->clockSMPTETime().toStdString();
    EXPECT_EQ(controller->currentItem(), a);
    EXPECT_EQ(shownOnce(49), 49);

    // The next start moves on to the second cue, which plays into the third; that one stands by
    // on its first frame with its players not started.
    controller->startClock();
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return controller->currentItem() == b && b->isPlaying(); }, 30.0));
    EXPECT_GE(shownOnce([](int number) { return number >= 50; }), 50);
    EXPECT_TRUE(stoppedAt(QStringLiteral("00:00:04:00"))) << clock->clockSMPTETime().toStdString();
    EXPECT_EQ(controller->currentItem(), c);
    EXPECT_FALSE(c->isPlaying());
    EXPECT_EQ(shownOnce(100), 100);

    // The next start plays it.
    controller->startClock();
    EXPECT_GT(shownOnce([](int number) { return number > 105; }), 105);
    controller->stopClockWithCompletedHandler({});
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return !clock->isRunning() && !controller->isPlaying(); }, 30.0));
}

// GO while playing with the global transition on: both movies mixed (their bar codes overlaid,
// unreadable), then the incoming cue current, playing its own frames.
TEST_F(CueFramesCompositionTest, GoWithTheGlobalTransitionMixesBothMoviesThenPlaysTheIncomingOne)
{
    connectToTheRunningClock();
    app->globalTransition.setState(1);
    const auto [a, b, c] = countingMovies([](const auto& cues) { cues[2]->setTransitionTime(1.0); });
    const auto clock = controller->masterClock();
    startRendering();
    controller->startClock();
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return clock->clockTime() > 0.2; }, 30.0));

    controller->jumpToAndPlayItem(c);
    EXPECT_EQ(shownOnce([](int number) { return number == -1; }), -1) << "no mixed picture";
    EXPECT_TRUE(DispatchQueue::runMainUntil(
        [&] { return controller->currentItem() == c && !controller->isProcessingGlobalTransition(); }, 30.0));
    EXPECT_TRUE(c->isPlaying());
    const int first = shownOnce([](int number) { return number >= 100; });
    EXPECT_GE(first, 100);
    EXPECT_LT(first, 150);
    EXPECT_GT(shownOnce([&](int number) { return number > first; }), first) << "the incoming cue plays on";

    stopRendering();
    for (const Pass& pass : passes)
        EXPECT_NE(pass.shown, kBlack) << "a black picture at clock " << pass.clockBefore;
    controller->stopClockWithCompletedHandler({});
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return !clock->isRunning() && !controller->isPlaying(); }, 30.0));
}

TEST_F(CueFramesCompositionTest, MovieCuesDrawTheDecodersPlanesInTheirOwnColours)
{
    struct Case {
        std::string path;
        GpuPixelFormat luma;  // the plane texture the pass filled
    };
    const Case cases[] = {
        {MediaFixtures::path("counter25.mp4"), GpuPixelFormat::R8Unorm},
        {MediaFixtures::madePath("cueprorescounter.mov", makeProResCounter), GpuPixelFormat::R16Unorm},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const auto cue = cueAt(c.path, 0.4);
        controller->setCurrentItem(cue);
        const auto picture = composed();
        ASSERT_NE(picture, nullptr);
        ASSERT_NE(controller->texA(), nullptr);
        EXPECT_EQ(controller->texA()->pixelFormat(), c.luma) << "the frame came as its decoder's planes";
        EXPECT_EQ(MediaFixtures::frameNumberOf(*picture), 10);

        const auto expected = referenceFrame(c.path, 0.4);
        ASSERT_NE(expected, nullptr);
        ASSERT_EQ(expected->width(), picture->width());
        ASSERT_EQ(expected->height(), picture->height());
        // Below the bar code: the test pattern's colours. Chroma filtered between its samples
        // differs a little at hard edges; everywhere else the two conversions agree.
        long total = 0, far = 0, count = 0;
        for (int y = 16; y < picture->height(); ++y)
            for (int x = 0; x < picture->width(); ++x)
                for (int channel = 0; channel < 3; ++channel) {
                    const int d = std::abs(int(picture->row(y)[4 * x + channel]) - int(expected->row(y)[4 * x + channel]));
                    total += d;
                    far += d > 24;
                    ++count;
                }
        EXPECT_LT(double(total) / double(count), 3.0);
        EXPECT_LT(double(far) / double(count), 0.02);

        seek(*cue, 1.2);
        EXPECT_EQ(shownNumber(), 30);
        controller->setCurrentItem(nullptr);
    }
}

}  // namespace
