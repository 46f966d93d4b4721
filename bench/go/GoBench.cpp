// The cue list's clock tick: its own cost per tick against the master clock's cycle of 1/600 s
// (1.667 ms), through a show of 50 one-second cues that follow one another, on the real clock
// whose cycles run on a thread of their own with a time source stepped by the bench. Beside
// it, timed the same way in the same run, the bare delivery of the same clock notification to
// an observer that only reads its timecode.
//
// Usage: go_bench [runs] (default 5). Each run plays the show once; figures are over all ticks.

#include "Clock/QVTClock.h"
#include "Controller/KavioVideoItemManager.h"
#include "Cue/KavioVideoItem.h"
#include "GoBenchCue.h"
#include "../../tests/clock/SteppedClockTime.h"
#include "../KavioBenchSupport.h"
#include "DispatchQueue.h"
#include "NotificationCenter.h"
#include "UserDefaults.h"

#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kCues = 50;
constexpr int kFramesPerCue = 25;
constexpr double kCycleMs = 1000.0 / 600.0;

// A still of one second that counts its starts.
class BenchCue : public FixedFramesBenchCue {
public:
    BenchCue(std::shared_ptr<QVTClock> clock, int number) : FixedFramesBenchCue(std::move(clock), number, kFramesPerCue)
    {
        setMediaType(KavioMediaTypeStill);
        setDurationOfNonMovies(float(kFramesPerCue) / float(clock_->framerate()));
    }
    std::atomic<int> starts{0};
    void startPlayers() override
    {
        ++starts;
        KavioVideoItem::startPlayers();
    }
};

// Times every tick it handles.
class TimedController : public KavioVideoItemManager {
public:
    TimedController(UserDefaults& defaults, std::shared_ptr<QVTClockTimeSource> source)
        : KavioVideoItemManager(defaults, std::move(source))
    {
    }
    std::vector<double>* samples = nullptr;
    void processOnCurrentClockTime(const Notification& notification) override
    {
        const auto start = Clock::now();
        KavioVideoItemManager::processOnCurrentClockTime(notification);
        samples->push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
};

// Runs clock cycles on `thread` until `frames` frames have been posted (or the clock stopped),
// draining the main queue between frames as the program's event loop would.
void playFrames(QVTClock& clock, SteppedClockTime& time, DispatchQueue& thread, int frames)
{
    for (int frame = 0; frame < frames && clock.isRunning(); ++frame) {
        const QString before = clock.clockSMPTETime();
        thread.sync([&] {
            while (clock.isRunning() && clock.clockSMPTETime() == before)
                clock.runCycle(time.now.load());
        });
        DispatchQueue::drainMain();
    }
}

void report(const char* name, std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double share) { return samples[std::min(samples.size() - 1, std::size_t(share * double(samples.size())))]; };
    std::printf("%-44s %8zu %10.4f %10.4f %10.4f %9.3f%% %9.3f%% %9.3f%%\n", name, samples.size(), at(0.5), at(0.99),
                samples.back(), at(0.5) / kCycleMs * 100, at(0.99) / kCycleMs * 100, samples.back() / kCycleMs * 100);
}

}  // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    QTemporaryDir home;
    setenv("XDG_CONFIG_HOME", home.path().toUtf8().constData(), 1);
    UserDefaults defaults(home.filePath(QStringLiteral("bench.conf")));
    DispatchQueue clockThread("bench.clockthread");
    // Every cue but the last plays to its end and hands over; the last one's end would stop.
    const int frames = (kCues - 1) * kFramesPerCue + kFramesPerCue / 2;

    std::vector<double> ticks, bare;
    for (int run = 0; run < runs; ++run) {
        auto time = std::make_shared<SteppedClockTime>();
        auto controller = KavioVideoItemManager::init<TimedController>(defaults, time);
        controller->samples = &ticks;
        auto app = std::make_shared<KavioBenchDelegate>();
        controller->setDelegate(app);
        auto clock = controller->masterClock();
        clock->setSmpteFormat(QVTClockSMPTEFormat25);
        std::vector<std::shared_ptr<BenchCue>> cues;
        for (int i = 1; i <= kCues; ++i) {
            auto cue = std::make_shared<BenchCue>(clock, i);
            cue->setManager(controller);
            controller->insertItem(cue, std::uint64_t(i));
            cue->setIsReady(true);
            cues.push_back(cue);
        }
        controller->buildItemQueue();
        controller->setCurrentItem(cues.front());
        DispatchQueue::drainMain();

        ticks.reserve(ticks.size() + std::size_t(frames) + 1);
        controller->startClock();
        playFrames(*clock, *time, clockThread, frames);
        check(controller->currentItem() == cues.back(), "the show reached its last cue");
        check(std::all_of(cues.begin(), cues.end(), [](const auto& cue) { return cue->starts == 1; }), "every cue started once");
        controller->stopClockWithCompletedHandler({});
        clockThread.sync([&] { clock->runCycle(time->now.load()); });
        DispatchQueue::drainMain();

        // The reference: the same clock and frames, the notification read by a bare observer.
        auto bareTime = std::make_shared<SteppedClockTime>();
        auto bareClock = QVTClock::initClock(bareTime);
        bareClock->setSmpteFormat(QVTClockSMPTEFormat25);
        bareClock->setMaxClockSMPTETime(QStringLiteral("01:00:00:00"));
        long read = 0;
        bare.reserve(bare.size() + std::size_t(frames) + 1);
        bareClock->notificationCenter().addObserver(&bare, QString::fromLatin1(QVTClockNotification::TimeChanged), bareClock.get(),
                                                    [&](const Notification& n) {
                                                        const auto start = Clock::now();
                                                        read += n.userInfo.value(n.name).toString().size();
                                                        bare.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
                                                    });
        bareClock->startClock();
        playFrames(*bareClock, *bareTime, clockThread, frames);
        check(read == 11L * (frames + 1), "every bare tick read its timecode");
        bareClock->stopClockWithCompletedHandler({});
        clockThread.sync([&] { bareClock->runCycle(bareTime->now.load()); });
    }

    std::printf("%-44s %8s %10s %10s %10s %10s %10s %10s\n", "per tick", "ticks", "median ms", "p99 ms", "worst ms",
                "median", "p99", "worst");
    std::printf("%-44s %8s %10s %10s %10s %10s %10s %10s\n", "", "", "", "", "", "of cycle", "of cycle", "of cycle");
    report("tick handler (50 cues, follow-ons)", ticks);
    report("reference: bare delivery, timecode read", bare);
    return 0;
}
