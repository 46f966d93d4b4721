// The render clock on a virtual time source: its thread runs free in virtual time, each sleep
// moving the time to the deadline, until the test's limit; nothing sleeps for real.

#include "GpuDisplayLink.h"
#include "Rendering/KavioRenderClock.h"

#include <QGuiApplication>
#include <QScreen>

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr std::uint64_t kStart = 5'000'000'000;  // virtual host time at the start
constexpr std::uint64_t kMs = 1'000'000;

class VirtualTime final : public KavioRenderClockTimeSource {
public:
    std::uint64_t now() override
    {
        std::lock_guard lock(mutex_);
        return now_;
    }

    void sleepUntil(std::uint64_t deadline) override
    {
        std::unique_lock lock(mutex_);
        if (stallAt_ && deadline >= stallAt_) {
            deadline += stallLength_;
            stallAt_ = 0;
        }
        pending_ = deadline;
        changed_.notify_all();
        changed_.wait(lock, [&] { return interrupted_ || deadline <= limit_; });
        if (!interrupted_)
            now_ = deadline;
        pending_ = 0;
    }

    void interrupt() override
    {
        std::lock_guard lock(mutex_);
        interrupted_ = true;
        changed_.notify_all();
    }

    // Lets the clock's thread run until its next wake-up would pass `time`, and waits for it.
    void runUntil(std::uint64_t time)
    {
        std::unique_lock lock(mutex_);
        limit_ = time;
        changed_.notify_all();
        changed_.wait(lock, [&] { return pending_ > limit_; });
    }

    // The first sleep whose deadline reaches `at` oversleeps by `length`.
    void stall(std::uint64_t at, std::uint64_t length)
    {
        std::lock_guard lock(mutex_);
        stallAt_ = at;
        stallLength_ = length;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t now_ = kStart;
    std::uint64_t limit_ = 0;
    std::uint64_t pending_ = 0;
    std::uint64_t stallAt_ = 0;
    std::uint64_t stallLength_ = 0;
    bool interrupted_ = false;
};

struct Frame {
    double clockTime;
    std::uint64_t hostTime;
};

class RecordingDelegate final : public KavioRenderClockDelegate {
public:
    explicit RecordingDelegate(VirtualTime& time)
        : time_(time)
    {
    }
    bool renderIfCanAtTime(double t) override
    {
        std::lock_guard lock(mutex);
        frames.push_back({t, time_.now()});
        return true;
    }
    std::vector<Frame> taken()
    {
        std::lock_guard lock(mutex);
        return std::exchange(frames, {});
    }
    std::mutex mutex;
    std::vector<Frame> frames;

private:
    VirtualTime& time_;
};

class KavioRenderClockTest : public testing::Test {
protected:
    void SetUp() override
    {
        time = std::make_shared<VirtualTime>();
        delegate = std::make_shared<RecordingDelegate>(*time);
        clock = std::make_unique<KavioRenderClock>(time);
        clock->setDelegate(delegate);
        time->runUntil(kStart);  // the thread is up and parked on its first sleep
    }
    void TearDown() override { clock.reset(); }

    std::shared_ptr<VirtualTime> time;
    std::shared_ptr<RecordingDelegate> delegate;
    std::unique_ptr<KavioRenderClock> clock;
};

TEST_F(KavioRenderClockTest, FixedRateCadenceAndClockTime)
{
    EXPECT_TRUE(clock->isStopped());
    EXPECT_TRUE(clock->isRenderingForScreens());
    clock->startRenderingWithCVTime({24000, 1001, 0});
    EXPECT_FALSE(clock->isStopped());
    EXPECT_FALSE(clock->isRenderingForScreens());
    time->runUntil(kStart + 10'000 * kMs);

    const auto frames = delegate->taken();
    const double duration = double(1.0f / (24000.0f / 1001.0f));
    EXPECT_NEAR(clock->frameRate(), duration, 1e-12);
    EXPECT_NEAR(duration, 0.0417083, 1e-7);
    ASSERT_GE(frames.size(), 239u);
    ASSERT_LE(frames.size(), 240u);  // 23.976 frames a second over 10 s
    for (std::size_t n = 0; n < frames.size(); ++n)
        EXPECT_NEAR(frames[n].clockTime, double(n + 1) * duration, 1e-9) << "frame " << n + 1;
    // Each frame falls within one wake-up cycle of its ideal time.
    for (std::size_t n = 0; n < frames.size(); ++n) {
        const double ideal = double(kStart) + double(n + 1) * duration * 1e9;
        EXPECT_NEAR(double(frames[n].hostTime), ideal, 555'555 + 1000) << "frame " << n + 1;
    }
}

TEST_F(KavioRenderClockTest, StalledThreadCatchesUpOneFramePerCycle)
{
    clock->startRenderingWithCVTime({25, 1, 0});
    time->runUntil(kStart + 1001 * kMs);  // up to the frame of 1000 ms
    const double lastClockTime = delegate->taken().back().clockTime;
    time->stall(kStart + 1002 * kMs, 100 * kMs);
    time->runUntil(kStart + 1400 * kMs);

    const auto frames = delegate->taken();
    ASSERT_GE(frames.size(), 8u);
    // The frames due at 1040 and 1080 ms come on the two cycles after the stall ends, 555,555 ns
    // apart; the one of 1120 ms is on time, and the 40 ms cadence goes on.
    EXPECT_GE(frames[0].hostTime, kStart + 1100 * kMs);
    EXPECT_LT(frames[0].hostTime, kStart + 1103 * kMs);
    EXPECT_EQ(frames[1].hostTime - frames[0].hostTime, 555'555u);
    EXPECT_NEAR(double(frames[2].hostTime), double(kStart + 1120 * kMs), 555'555.0 + 1000);
    for (std::size_t i = 3; i < frames.size(); ++i)
        EXPECT_NEAR(double(frames[i].hostTime - frames[i - 1].hostTime), 40e6, 555'555.0 + 1000) << "frame " << i;
    // No frame time is lost: the clock time goes on by exactly one duration a frame.
    for (std::size_t i = 0; i < frames.size(); ++i)
        EXPECT_NEAR(frames[i].clockTime, lastClockTime + 0.04 * double(i + 1), 1e-6) << "frame " << i;
}

TEST_F(KavioRenderClockTest, StopRenderingKeepsRunningHandlersButNotTheDelegate)
{
    clock->startRenderingWithCVTime({25, 1, 0});
    time->runUntil(kStart + 100 * kMs);
    EXPECT_FALSE(delegate->taken().empty());

    clock->stopRendering();
    EXPECT_TRUE(clock->isStopped());
    EXPECT_FALSE(clock->isRenderingForScreens());
    std::vector<int> ran;
    std::thread::id handlerThread;
    clock->addCompletedHandlerForCurrentRenderPass([&] {
        ran.push_back(1);
        handlerThread = std::this_thread::get_id();
    });
    clock->addCompletedHandlerForCurrentRenderPass([&] { ran.push_back(2); });  // both run, in order
    time->runUntil(kStart + 200 * kMs);
    EXPECT_TRUE(delegate->taken().empty());
    EXPECT_EQ(ran, (std::vector<int>{1, 2}));
    EXPECT_NE(handlerThread, std::this_thread::get_id());

    // Started again, the clock time restarts at 0.
    clock->startRenderingWithCVTime({25, 1, 0});
    time->runUntil(kStart + 300 * kMs);
    const auto frames = delegate->taken();
    ASSERT_FALSE(frames.empty());
    EXPECT_NEAR(frames.front().clockTime, 0.04, 1e-6);
}

TEST_F(KavioRenderClockTest, HandlersRunAfterTheDelegateStep)
{
    clock->startRenderingWithCVTime({50, 1, 0});
    time->runUntil(kStart + 100 * kMs);
    delegate->taken();
    std::size_t framesSeenByHandler = 0;
    clock->addCompletedHandlerForCurrentRenderPass([&] {
        std::lock_guard lock(delegate->mutex);
        framesSeenByHandler = delegate->frames.size();
    });
    time->runUntil(kStart + 200 * kMs);
    EXPECT_EQ(framesSeenByHandler, 1u);  // the step of that frame had run
}

TEST_F(KavioRenderClockTest, ScreenModeTicksAtTheDisplayRefresh)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    clock->startCVDisplayLinkWithDisplayID(GpuDisplays::displayIdForScreen(screen));
    EXPECT_TRUE(clock->isRenderingForScreens());
    EXPECT_FALSE(clock->isStopped());
    const std::int32_t fps = clock->renderingFPS();
    ASSERT_GT(fps, 0);
    time->runUntil(kStart + 1000 * kMs);
    const auto frames = delegate->taken();
    EXPECT_NEAR(double(frames.size()), double(fps), 2.0);
    ASSERT_FALSE(frames.empty());
    EXPECT_DOUBLE_EQ(frames.front().clockTime, double(frames.front().hostTime) / 1e9);

    // An unknown display keeps the link on its display.
    clock->setDisplayForDisplayLink(12345);
    EXPECT_EQ(clock->renderingFPS(), fps);

    clock->stopRendering();
    EXPECT_TRUE(clock->isStopped());
    time->runUntil(kStart + 1500 * kMs);
    EXPECT_TRUE(delegate->taken().empty());
}

TEST_F(KavioRenderClockTest, RateThatIsNotPositiveRendersNoFrames)
{
    clock->startRenderingWithCVTime({0, 1, 0});
    time->runUntil(kStart + 200 * kMs);
    clock->startRenderingWithCVTime({-25, 1, 0});
    time->runUntil(kStart + 400 * kMs);
    EXPECT_TRUE(delegate->taken().empty());
}

TEST_F(KavioRenderClockTest, WithoutDelegateTheScreenTickRendersNothing)
{
    clock->setDelegate({});
    bool ran = false;
    clock->addCompletedHandlerForCurrentRenderPass([&] { ran = true; });
    EXPECT_FALSE(clock->handleDisplayLinkRendering(1.0));
    EXPECT_FALSE(ran);
}

TEST(KavioRenderClockRates, RenderingFPSRoundsTheFixedRate)
{
    struct Case {
        GpuTime rate;
        std::int32_t fps;
    };
    KavioRenderClock clock;
    for (const Case& c : {Case{{30000, 1001, 0}, 30}, Case{{60000, 1001, 0}, 60}, Case{{24000, 1001, 0}, 24},
                          Case{{25, 1, 0}, 25}, Case{{50, 1, 0}, 50}}) {
        clock.startRenderingWithCVTime(c.rate);
        EXPECT_EQ(clock.renderingFPS(), c.fps) << c.rate.timeValue << "/" << c.rate.timeScale;
        EXPECT_DOUBLE_EQ(clock.frameTime(), 1.0 / c.fps);
    }
    clock.stopRendering();
}

TEST(KavioRenderClockRates, RefreshRateOfADisplayPeriod)
{
    EXPECT_EQ(KavioRenderClock::refreshRateForPeriod({1001, 60000, 0}), 60);  // 59.94 Hz
    EXPECT_EQ(KavioRenderClock::refreshRateForPeriod({1000, 59940, 0}), 60);
    EXPECT_EQ(KavioRenderClock::refreshRateForPeriod({1000, 50000, 0}), 50);
    EXPECT_EQ(KavioRenderClock::refreshRateForPeriod({1, 144, 0}), 144);
    EXPECT_EQ(KavioRenderClock::refreshRateForPeriod({0, 0, 0}), 0);
}

TEST(KavioRenderClockRates, DisplayTimestampsWrapAtADay)
{
    EXPECT_DOUBLE_EQ(KavioRenderClock::displayLinkTimeForTimestamp(90000.0), 3600.0);
    EXPECT_DOUBLE_EQ(KavioRenderClock::displayLinkTimeForTimestamp(86400.0), 86400.0);
    EXPECT_DOUBLE_EQ(KavioRenderClock::displayLinkTimeForTimestamp(2 * 86400.0 + 5.5), 5.5);
    EXPECT_DOUBLE_EQ(KavioRenderClock::displayLinkTimeForTimestamp(12.25), 12.25);
}

}  // namespace
