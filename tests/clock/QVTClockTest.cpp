#include "QVTClockTestSupport.h"

#include "DispatchQueue.h"
#include "NotificationCenter.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

// --- Conversions ------------------------------------------------------------------------------

TEST(QVTClockConversions, SecondsToSMPTE)
{
    struct Case {
        int32_t format;
        double seconds;
        const char* smpte;
    } cases[] = {
        {QVTClockSMPTEFormat25, 0.12, "00:00:00:03"},       // a sum of frame times just below 3 frames
        {QVTClockSMPTEFormat30, 59.999, "00:01:00:00"},     // >= 0.94 frame rounds up and carries
        {QVTClockSMPTEFormat30, 59.99, "00:00:59:29"},      // below 0.94 is dropped
        {QVTClockSMPTEFormat25, 3599.999, "01:00:00:00"},   // carry through minutes into hours
        {QVTClockSMPTEFormat24, 0.5, "00:00:00:12"},
        {QVTClockSMPTEFormat25, 86400.5, "24:00:00:12"},    // hours do not wrap
        {QVTClockSMPTEFormat30DropFrame, 1.5, "00:00:01:15"},  // counted as 30 whole frames
        {77, 1.5, "00:00:01:15"},                           // unknown codes count as 30
        {QVTClockSMPTEFormat25, std::nan(""), "00:00:00:00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "format " << c.format << ", " << c.seconds << " s");
        EXPECT_EQ(clockAt(c.format)->smpteRepresentationOfTime(c.seconds), QString(c.smpte));
    }
    // Out of range: the fields saturate instead of overflowing.
    const auto clock = clockAt(QVTClockSMPTEFormat25);
    EXPECT_TRUE(clock->smpteRepresentationOfTime(1e300).startsWith("2147483647:2147483647:"));
    EXPECT_TRUE(clock->smpteRepresentationOfTime(-std::numeric_limits<double>::infinity()).startsWith("-2147483648:"));
}

TEST(QVTClockConversions, SMPTEToSecondsAndFrames)
{
    const auto clock25 = clockAt(QVTClockSMPTEFormat25);
    const auto clock30 = clockAt(QVTClockSMPTEFormat30);

    EXPECT_DOUBLE_EQ(clock25->secondsForSMPTEString("-00:00:05:00"), 5.0);
    EXPECT_DOUBLE_EQ(clock25->secondsForSMPTEString("05:10"), 5.4);
    EXPECT_DOUBLE_EQ(clock25->secondsForSMPTEString(QString()), 0.0);
    EXPECT_DOUBLE_EQ(clock25->secondsForSMPTEString("01:02:03:04:99"), 3723.16);  // first four fields
    EXPECT_DOUBLE_EQ(clock25->secondsForSMPTEString("ab:cd"), 0.0);
    EXPECT_DOUBLE_EQ(clock30->secondsForSMPTEString("99999999999:00:00:00"), 2147483647.0 * 3600);

    EXPECT_EQ(clock25->smpteRepresentationOfFrames(911), "00:00:36:11");
    EXPECT_EQ(clock30->smpteRepresentationOfFrames(30 * 3600 * 100 + 1), "100:00:00:01");

    EXPECT_EQ(clock30->frameCountSMPTEString(""), 0);
    EXPECT_EQ(clock30->frameCountSMPTEString("00:00:00:00:01"), 0);
    EXPECT_EQ(clock30->frameCountSMPTEString("01:00"), 30);
    EXPECT_EQ(clock30->frameCountSMPTEString("7"), 7);
    EXPECT_EQ(clock30->frameCountSMPTEString("02:01:00"), 2 * 1800 + 30);
    EXPECT_EQ(clock25->frameCountSMPTEString("01:00:36:11"), 90000 + 911);
    EXPECT_EQ(clock25->frameCountSMPTEString("00:00:-01:00"), -25);  // fields keep their sign

    const auto delayed = clockAt(QVTClockSMPTEFormat30);
    EXPECT_EQ(delayed->delayInMs(), 0.0);
    delayed->setDelay(1);
    EXPECT_EQ(delayed->delayInMs(), double(0.001f));  // worked out in single precision
}

TEST(QVTClockConversions, Comparisons)
{
    const auto clock30 = clockAt(QVTClockSMPTEFormat30);
    struct Case {
        const char* a;
        const char* b;
        bool consecutive, greaterOrEqual, lower, lowerOrEqual;
    } cases[] = {
        {"00:00:01:00", "00:00:00:29", true, true, false, false},
        {"00:00:01:00", "00:00:01:00", true, true, false, true},
        {"00:00:01:02", "00:00:01:00", false, true, false, false},
        {"00:00:00:29", "00:00:01:00", false, false, true, true},
        {"01:00:00:00", "00:59:59:29", true, true, false, false},
        {"10", "00:00:00:09", true, true, false, false},  // missing leading fields are 0
        {"-00:00:00:01", "00:00:00:00", true, true, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.a << " vs " << c.b);
        EXPECT_EQ(clock30->smpteTimeIsConsecutiveToSMPTETime(c.a, c.b), c.consecutive);
        EXPECT_EQ(clock30->smpteTimeIsEqualOrGreatThanSMPTETime(c.a, c.b), c.greaterOrEqual);
        EXPECT_EQ(clock30->smpteTimeIsLowerThanSMPTETime(c.a, c.b), c.lower);
        EXPECT_EQ(clock30->smpteTimeIsEqualOrLowerThanSMPTETime(c.a, c.b), c.lowerOrEqual);
    }
    // Frame numbers are compared unsigned: a negative field is a huge frame number.
    EXPECT_TRUE(clock30->smpteTimeIsEqualOrGreatThanSMPTETime("-01:00:00:00", "99:00:00:00"));
}

// --- The clock driven by a fake time source ---------------------------------------------------

TEST_F(QVTClockCycles, InitialState)
{
    const auto fresh = QVTClock::initClock(source);
    EXPECT_FALSE(fresh->isRunning());
    EXPECT_EQ(fresh->smpteFormat(), QVTClockSMPTEFormat30);
    EXPECT_EQ(fresh->freeWheelFrames(), 10);
    EXPECT_EQ(fresh->maxClockSMPTETime(), "00:00:00:00");
    EXPECT_EQ(fresh->clockTime(), 0.0);
    EXPECT_EQ(fresh->clockOffset(), 0.0);
    EXPECT_EQ(fresh->delay(), 0);
    EXPECT_FALSE(fresh->isMTCSlave() || fresh->isLTCSlave() || fresh->isConnectedToSlave() || fresh->isInJamSync());
}

TEST_F(QVTClockCycles, RunningClockSumsSinglePrecisionStepsAndPostsOncePerFrame)
{
    int defaultCentrePosts = 0;
    const auto token = NotificationCenter::defaultCenter().addObserver(
        nullptr, kTimeChanged, nullptr, [&](const Notification&) { ++defaultCentrePosts; });

    clock->startClock();
    const auto started = recorder->take();
    ASSERT_EQ(started.size(), 2u);
    EXPECT_EQ(started[0].name, kStarted);
    EXPECT_EQ(started[0].userInfo, (QVariantMap{{kStarted, kStarted}}));
    EXPECT_EQ(started[1].name, kTimeChanged);
    EXPECT_EQ(started[1].userInfo, (QVariantMap{{kTimeChanged, "00:00:00:00"}}));

    const int n = 600;  // one second of cycles
    cycles(n);
    // Each step is rounded to single precision before it is added: the clock is the running sum
    // of those steps, not the elapsed time.
    double expected = 0;
    for (int i = 1; i < n; ++i) {  // the first cycle measures from the start itself: a step of 0
        expected += double(float(QVTClock::kCyclePeriodNanoseconds) / 1e9f);
    }
    EXPECT_EQ(clock->clockTime(), expected);
    EXPECT_NE(clock->clockTime(), n * 1'666'666e-9);

    const auto ticks = recorder->take();
    QStringList times;
    for (const auto& p : ticks) {
        ASSERT_EQ(p.name, kTimeChanged);
        times << p.userInfo.value(kTimeChanged).toString();
    }
    // 0.99833 s is within 0.06 frame of 00:00:01:00, which is therefore shown already.
    ASSERT_EQ(times.size(), 25);
    EXPECT_EQ(times.front(), "00:00:00:01");
    EXPECT_EQ(times.back(), "00:00:01:00");
    EXPECT_EQ(times.removeDuplicates(), 0);
    EXPECT_EQ(defaultCentrePosts, 0);
    NotificationCenter::defaultCenter().removeObserver(token);
}

TEST_F(QVTClockCycles, TimeSetAfterTheCycleTookNowIsMirroredNotWrapped)
{
    clock->startClock();  // lasttime = the fake now
    const uint64_t setAt = source->now.load();
    recorder->take();
    clock->runCycle(setAt - 1000);  // a cycle whose `now` predates the start
    EXPECT_EQ(clock->clockTime(), double(float(1000) / 1e9f));
}

TEST_F(QVTClockCycles, StopCompletesAtTheEndOfTheCycle)
{
    std::vector<std::string> order;
    const auto token = clock->notificationCenter().addObserver(nullptr, kStopped, clock.get(),
                                                               [&](const Notification&) { order.push_back("stopped"); });
    clock->startClock();
    cycles(30);
    recorder->take();

    clock->stopClockWithCompletedHandler([&] { order.push_back("completion"); });
    EXPECT_TRUE(clock->isRunning());
    EXPECT_TRUE(order.empty());

    // A second request while the first waits runs its own block at once; the first still runs.
    clock->stopClockWithCompletedHandler([&] { order.push_back("second"); });
    EXPECT_EQ(order, (std::vector<std::string>{"second"}));

    const double before = clock->clockTime();
    cycles(1);
    EXPECT_FALSE(clock->isRunning());
    EXPECT_GT(clock->clockTime(), before);  // the cycle still counted its step
    EXPECT_EQ(order, (std::vector<std::string>{"second", "stopped", "completion"}));
    const auto posted = recorder->take();
    ASSERT_FALSE(posted.empty());
    EXPECT_EQ(posted.back().userInfo, (QVariantMap{{kStopped, kStopped}}));

    // A stopped clock neither advances nor posts.
    const double stoppedAt = clock->clockTime();
    cycles(60);
    EXPECT_EQ(clock->clockTime(), stoppedAt);
    EXPECT_TRUE(recorder->take().empty());
    clock->notificationCenter().removeObserver(token);
}

TEST_F(QVTClockCycles, StopOfAStoppedClockRunsTheBlockAtOnceAndPostsNothing)
{
    bool ran = false;
    clock->stopClockWithCompletedHandler([&] { ran = true; });
    EXPECT_TRUE(ran);
    cycles(2);
    EXPECT_TRUE(recorder->take().empty());
    clock->stopClockWithCompletedHandler(nullptr);  // an empty block is allowed
}

TEST_F(QVTClockCycles, StartBeforeTheEndOfTheCycleCancelsTheStop)
{
    clock->startClock();
    bool ran = false;
    clock->stopClockWithCompletedHandler([&] { ran = true; });
    clock->startClock();
    recorder->take();
    cycles(3);
    EXPECT_FALSE(ran);
    EXPECT_TRUE(clock->isRunning());
    EXPECT_FALSE(recorder->takeNames().contains(kStopped));
}

TEST_F(QVTClockCycles, RestartMovesTheRunningClockWithoutNotifying)
{
    clock->startClock();
    cycles(10);
    recorder->take();
    bool ran = false;
    clock->restartClockFromTimeWithoutNotifyingManager(5.0, [&] { ran = true; });
    EXPECT_FALSE(ran);
    cycles(1);
    EXPECT_TRUE(ran);
    EXPECT_TRUE(clock->isRunning());
    EXPECT_EQ(clock->clockTime(), 5.0);
    cycles(2);  // the next cycle starts at the moment of the restart: its step is 0
    EXPECT_EQ(clock->clockTime(), 5.0 + double(float(QVTClock::kCyclePeriodNanoseconds) / 1e9f));
    const QStringList names = recorder->takeNames();
    EXPECT_FALSE(names.contains(kStarted));
    EXPECT_FALSE(names.contains(kStopped));

    // Stopped, or with a stop pending: nothing happens and the block is not called.
    bool called = false;
    clock->stopClockWithCompletedHandler(nullptr);
    clock->restartClockFromTimeWithoutNotifyingManager(9.0, [&] { called = true; });
    cycles(1);
    clock->restartClockFromTimeWithoutNotifyingManager(9.0, [&] { called = true; });
    cycles(1);
    EXPECT_FALSE(called);
    EXPECT_FALSE(clock->isRunning());
    EXPECT_NE(clock->clockTime(), 9.0);
}

TEST_F(QVTClockCycles, LocateAndStartTime)
{
    clock->locateClockToTime(12.0);
    EXPECT_EQ(clock->clockTime(), 12.0);
    const auto posted = recorder->take();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].name, kExtStartTimeSet);
    EXPECT_EQ(posted[0].userInfo, (QVariantMap{{kExtStartTimeSet, "00:00:12:00"}}));

    clock->setClockOffset(10.0);
    clock->setClockStartTime(2.0);
    EXPECT_EQ(clock->clockTime(), 12.0);
    clock->setClockStartTimeWithoutOffset(2.0);
    EXPECT_EQ(clock->clockTime(), 2.0);
    EXPECT_TRUE(recorder->take().empty());  // only the locate posts

    // A running clock runs on from the new time, measuring from the moment it was set.
    clock->startClock();
    cycles(5);
    source->now += 500'000;
    clock->setClockStartTimeWithoutOffset(30.0);
    cycles(1);
    EXPECT_EQ(clock->clockTime(), 30.0);  // this cycle's `now` is the moment of the set
    cycles(1);
    EXPECT_GT(clock->clockTime(), 30.0);
    EXPECT_TRUE(clock->isRunning());
}

TEST_F(QVTClockCycles, ClampToTheMaximumHappensOnce)
{
    clock->setMaxClockSMPTETime("00:00:10:00");
    clock->setClockStartTimeWithoutOffset(12.0);
    clock->handleOverMaxClockSMPTETime();
    EXPECT_EQ(clock->clockTime(), 10.0);
    auto posted = recorder->take();
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted[0].name, kExtStartTimeSet);
    EXPECT_EQ(posted[1].name, kTimeChanged);
    EXPECT_EQ(posted[1].userInfo, (QVariantMap{{kTimeChanged, "00:00:10:00"}}));

    clock->handleOverMaxClockSMPTETime();
    EXPECT_TRUE(recorder->take().empty());

    // A running clock is stopped first and clamped in the stop's completion.
    clock->setClockStartTimeWithoutOffset(11.0);
    clock->startClock();
    recorder->take();
    clock->handleOverMaxClockSMPTETime();
    EXPECT_TRUE(recorder->take().empty());
    cycles(1);
    EXPECT_FALSE(clock->isRunning());
    EXPECT_EQ(clock->clockTime(), 10.0);
    EXPECT_EQ(recorder->takeNames(), (QStringList{kStopped, kExtStartTimeSet, kTimeChanged}));
}

TEST_F(QVTClockCycles, SlaveTimeStartsFollowsRestartsAndClamps)
{
    clock->setClockOffset(1.0);
    clock->handleNewTimeInSlaveMode(0.5);  // before the playlist start: ignored
    EXPECT_FALSE(clock->isRunning());
    EXPECT_TRUE(recorder->take().empty());

    clock->handleNewTimeInSlaveMode(2.0);
    EXPECT_TRUE(clock->isRunning());
    EXPECT_EQ(recorder->takeNames(), (QStringList{kExtStartTimeSet, kStarted, kTimeChanged, kTimeChanged}));

    clock->handleNewTimeInSlaveMode(2.04);  // one frame later: followed
    EXPECT_EQ(clock->clockTime(), 2.04);
    auto posted = recorder->take();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].userInfo, (QVariantMap{{kTimeChanged, "00:00:02:01"}}));

    clock->handleNewTimeInSlaveMode(5.0);  // a jump: stop at that time plus one frame
    EXPECT_TRUE(recorder->take().empty());
    cycles(1);
    EXPECT_FALSE(clock->isRunning());
    EXPECT_DOUBLE_EQ(clock->clockTime(), 5.04);
    EXPECT_EQ(recorder->takeNames(), (QStringList{kStopped, kExtStartTimeSet}));

    clock->handleNewTimeInSlaveMode(5.08);  // the next time starts it again
    EXPECT_TRUE(clock->isRunning());
    recorder->take();

    // At or past the maximum the clock ends stopped exactly there; later times post nothing.
    clock->setMaxClockSMPTETime("00:00:06:00");
    clock->handleNewTimeInSlaveMode(6.0);
    cycles(1);
    EXPECT_FALSE(clock->isRunning());
    EXPECT_EQ(clock->clockSMPTETime(), "00:00:06:00");
    EXPECT_EQ(recorder->takeNames(), (QStringList{kStopped, kExtStartTimeSet, kTimeChanged}));
    clock->handleNewTimeInSlaveMode(7.0);
    EXPECT_TRUE(recorder->take().empty());
    EXPECT_FALSE(clock->isRunning());
}

TEST_F(QVTClockCycles, SlaveTimeFromAnotherThreadIsHandledOnTheMainThread)
{
    std::thread([&] { clock->handleNewTimeInSlaveMode(3.0); }).join();
    EXPECT_FALSE(clock->isRunning());
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return clock->isRunning(); }, 5.0));
    EXPECT_EQ(clock->clockSMPTETime(), "00:00:03:00");
}

TEST_F(QVTClockCycles, LostTimecodeDropsTheLockAndStops)
{
    clock->setIsMTCSlave(true);
    clock->setIsConnectedToSlave(true);
    clock->startClock();  // a following clock posts no tick of its own
    EXPECT_EQ(recorder->takeNames(), (QStringList{kStarted}));
    const uint64_t lastFrame = source->now.load();

    // 10 free-wheel frames at 25 fps: the lock holds for 0.4 s of silence.
    while (clock->isConnectedToSlave()) {
        cycles(1);
        ASSERT_LT(source->now.load() - lastFrame, 1'000'000'000u);
    }
    const double silence = (source->now.load() - lastFrame) * 1e-9;
    EXPECT_NEAR(silence, 0.4, 0.004);
    EXPECT_FALSE(clock->isRunning());
    EXPECT_EQ(clock->clockTime(), 0.0);  // following clocks get their time from the input
    EXPECT_EQ(recorder->takeNames(), (QStringList{kSlaveStateChanged, kStopped}));
}

TEST_F(QVTClockCycles, EndlessFreeWheelJamSyncs)
{
    clock->setIsLTCSlave(true);
    clock->setIsConnectedToSlave(true);
    clock->setFreeWheelFrames(QVTClock::kEndlessFreeWheel);
    clock->setClockStartTimeWithoutOffset(1.0);
    clock->startClock();
    recorder->take();
    const uint64_t lastFrame = source->now.load();

    cycles(72);  // 0.12 s: three frames of silence are tolerated
    EXPECT_FALSE(clock->isInJamSync());
    EXPECT_EQ(clock->clockTime(), 1.0);
    EXPECT_TRUE(recorder->take().empty());

    cycles(600);
    EXPECT_TRUE(clock->isInJamSync());
    EXPECT_TRUE(clock->isRunning());
    EXPECT_TRUE(clock->isConnectedToSlave());
    // After the one catch-up of three frames the clock runs as if the timecode had gone on.
    const double elapsed = (source->now.load() - lastFrame) * 1e-9;
    EXPECT_NEAR(clock->clockTime(), 1.0 + elapsed, 0.004);
    const QStringList names = recorder->takeNames();
    EXPECT_EQ(names.count(kSlaveStateChanged), 1);
    EXPECT_GE(names.count(kTimeChanged), 13);
}

// --- The real clock thread ----------------------------------------------------------------------

namespace {

int clockThreadsNamed()
{
    int count = 0;
    for (const QString& task : QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm("/proc/self/task/" + task + "/comm");
        if (comm.open(QIODevice::ReadOnly) && QString::fromLatin1(comm.readAll()).trimmed() == "com.dalvek.kavi") {
            ++count;
        }
    }
    return count;
}

}  // namespace

TEST(QVTClockThread, RunsPostsOncePerFrameOnItsOwnThread)
{
    std::mutex mutex;
    std::condition_variable stopped;
    QStringList times;
    std::set<std::thread::id> threads;
    bool done = false;
    // Declared last so that it ends first: its destructor ends the thread before the above go.
    auto clock = clockAt(QVTClockSMPTEFormat25);
    clock->setMaxClockSMPTETime("01:00:00:00");
    clock->notificationCenter().addObserver(nullptr, kTimeChanged, clock.get(), [&](const Notification& n) {
        std::lock_guard lock(mutex);
        times << n.userInfo.value(kTimeChanged).toString();
        threads.insert(std::this_thread::get_id());
    });

    const int namedBefore = clockThreadsNamed();
    clock->runClockRenderer();
    clock->runClockRenderer();  // one thread per clock
    for (int i = 0; i < 200 && clockThreadsNamed() == namedBefore; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(clockThreadsNamed(), namedBefore + 1);

    clock->startClock();
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    clock->stopClockWithCompletedHandler([&] {
        std::lock_guard lock(mutex);
        done = true;
        stopped.notify_all();
    });
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(stopped.wait_for(lock, std::chrono::seconds(5), [&] { return done; }));
    }

    // Behaviour, not timing: the time advanced, each frame change was posted once, in order,
    // from the clock's own thread (plus the start's post from this one).
    std::lock_guard lock(mutex);
    const int64_t frames = clock->frameCountSMPTEString(clock->clockSMPTETime());
    EXPECT_GE(frames, 5);
    EXPECT_LE(times.size(), frames + 1);
    EXPECT_GE(times.size(), frames / 2);
    EXPECT_EQ(times.front(), "00:00:00:00");
    EXPECT_EQ(times.back(), clock->clockSMPTETime());
    EXPECT_EQ(times.removeDuplicates(), 0);
    threads.erase(std::this_thread::get_id());
    EXPECT_EQ(threads.size(), 1u);
}

namespace {

// The host's time; each thread remembers the last value it read, so an observer of the clock's
// post knows the `now` of the cycle it runs in.
class RememberingHostTime : public QVTClockTimeSource {
public:
    uint64_t monotonicNanoseconds() override { return lastRead = host->monotonicNanoseconds(); }
    void sleepUntil(uint64_t deadline) override { host->sleepUntil(deadline); }
    static inline thread_local uint64_t lastRead = 0;

private:
    const std::shared_ptr<QVTClockTimeSource> host = QVTClockTimeSource::host();
};

}  // namespace

TEST(QVTClockThread, KeepsEveryCycleWhileOtherThreadsHoldItsState)
{
    // Threads that keep reading and writing the maximum hold the clock's state now and then,
    // sometimes just as a cycle tries it. The clock must still count the host time exactly:
    // from one frame's post to another, by as much as the host time of the two cycles.
    std::atomic<bool> hammering{true};
    std::atomic<int> samples{0};
    std::atomic<double> worst{0.0};
    double firstClock = 0;
    uint64_t firstHost = 0;
    const auto testThread = std::this_thread::get_id();
    auto clock = clockAt(QVTClockSMPTEFormat25, std::make_shared<RememberingHostTime>());
    clock->setMaxClockSMPTETime("01:00:00:00");
    clock->notificationCenter().addObserver(nullptr, kTimeChanged, clock.get(), [&](const Notification&) {
        if (std::this_thread::get_id() == testThread)
            return;  // the start's post
        const double time = clock->clockTime();
        const uint64_t host = RememberingHostTime::lastRead;
        if (samples.fetch_add(1) == 0) {
            firstClock = time, firstHost = host;
            return;
        }
        const double error = std::abs((time - firstClock) - double(host - firstHost) * 1e-9);
        if (error > worst.load())
            worst.store(error);
    });

    std::vector<std::thread> hammers;
    const unsigned count = 4;
    for (unsigned i = 0; i < count; ++i) {
        hammers.emplace_back([&, i] {
            const QString values[2] = {QStringLiteral("01:00:00:00"), QStringLiteral("01:00:00:01")};
            for (unsigned n = i; hammering.load(); ++n) {
                clock->setMaxClockSMPTETime(values[n % 2]);
                (void)clock->maxClockSMPTETime();
            }
        });
    }
    clock->runClockRenderer();
    clock->startClock();
    // 50 frames of the running clock, however slowly a loaded machine runs its cycles.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (samples.load() < 50 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    hammering.store(false);
    for (auto& hammer : hammers)
        hammer.join();
    std::atomic<bool> stopped{false};
    clock->stopClockWithCompletedHandler([&] { stopped.store(true); });
    while (!stopped.load() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));

    ASSERT_TRUE(stopped.load());
    EXPECT_GE(samples.load(), 50);
    // Single-precision steps lose far less than a microsecond here; a lost cycle is 1.7 ms.
    EXPECT_LT(worst.load(), 0.0005);
}
