// GO and follow-on to the cue's first frame in the render pass, and the cue list's clock tick.
//
// - GO from stand-by on a middle cue of 50 (the controller's startClock) to the first render pass
//   that takes that cue's frame, and a follow-on from the tick that makes the next cue current to
//   its first frame in the pass: the master clock on its own thread and the host's time, the
//   render pass driven by a render clock at 25 and at 60 frames a second on the GPU. Each figure
//   in ms, in clock cycles (1/600 s) and as a share of the frame period the render clock kept.
// - The tick handler's own cost per tick against the clock's cycle of 1/600 s (1.667 ms), through
//   the 50 cues following one another on the real clock with a time source the bench steps.
// Beside them, timed the same way in the same run: a bare libav seek and decode of a movie's
// first picture with its plain OpenGL upload, and the bare delivery of the clock notification to
// an observer that only reads its timecode. The main queue is pumped throughout, as the
// program's event loop does: the clock thread hands cue starts to it and waits.
//
// Usage: go_bench [samples] (default 10 of each kind and rate).

#include "GoBenchSupport.h"
#include "../../tests/clock/SteppedClockTime.h"
#include "NotificationCenter.h"

#include <QGuiApplication>

namespace {

using GoBench::Clock;
using GoBench::waitFor;

constexpr int kCues = 50;
constexpr int kFramesPerCue = 25;

VideoFrameRef smallFrame()
{
    constexpr int w = 64, h = 36;
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(std::size_t(w) * h * 4, std::uint8_t(128));
    return std::make_shared<const VideoFrame>(MediaPixelFormat::BGRA, w, h, w * 4, bytes->data(), MediaTime{}, bytes);
}

// A still of one second that notes its starts and the first pass that takes its frame once it
// plays.
class BenchCue : public GoBench::FixedFramesCue {
public:
    BenchCue(std::shared_ptr<QVTClock> clock, int number) : FixedFramesCue(std::move(clock), number, kFramesPerCue)
    {
        setMediaType(KavioMediaTypeStill);
        setDurationOfNonMovies(float(kFramesPerCue) / float(clock_->framerate()));
    }
    std::atomic<int> starts{0};
    std::atomic<Clock::rep> startedAt{0}, firstFrameAt{0};

    void startPlayers() override
    {
        ++starts;
        startedAt = Clock::now().time_since_epoch().count();
        KavioVideoItem::startPlayers();
    }
    // Render thread.
    std::shared_ptr<const VideoFrame> pixelBufferCopy() override
    {
        if (isPlaying() && firstFrameAt.load() == 0)
            firstFrameAt = Clock::now().time_since_epoch().count();
        return frame_;
    }
    // The pass's upload is the hand-over measured; the layer is not part of it.
    void renderLayerControlsWithMTLTexture(const std::shared_ptr<GpuTexture>&) override {}
    void rearm()
    {
        startedAt = 0;
        firstFrameAt = 0;
    }
    double msFromStartToFirstFrame() const { return double(firstFrameAt - startedAt) / 1e6; }

private:
    VideoFrameRef frame_ = smallFrame();
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
        if (samples)
            samples->push_back(GoBench::msSince(start));
    }
};

std::shared_ptr<BenchCue> makeCue(const std::shared_ptr<QVTClock>& clock, int number)
{
    return std::make_shared<BenchCue>(clock, number);
}

// Runs clock cycles on `thread` until `frames` frames have been posted (or the clock stopped),
// pumping the main queue meanwhile as the program's event loop would.
void playFrames(QVTClock& clock, SteppedClockTime& time, DispatchQueue& thread, int frames)
{
    std::atomic<bool> done{false};
    thread.async([&] {
        for (int frame = 0; frame < frames && clock.isRunning(); ++frame) {
            const QString before = clock.clockSMPTETime();
            while (clock.isRunning() && clock.clockSMPTETime() == before)
                clock.runCycle(time.now.load());
        }
        done = true;
    });
    check(DispatchQueue::runMainUntil([&] { return done.load(); }, 600.0), "the clock played its frames");
    DispatchQueue::drainMain();
}

void stopOn(QVTClock& clock, SteppedClockTime& time, DispatchQueue& thread, const std::function<void()>& stop)
{
    stop();
    std::atomic<bool> done{false};
    thread.async([&] {
        clock.runCycle(time.now.load());
        done = true;
    });
    check(DispatchQueue::runMainUntil([&] { return done.load(); }, 60.0), "the clock stopped");
    DispatchQueue::drainMain();
}

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication application(argc, argv);
    const int samples = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    GoBench::Environment run;

    // --- GO and follow-on on the real clock thread, at two output rates ---------------------
    auto delegate = std::make_shared<KavioPlayingBenchDelegate>();
    std::vector<std::shared_ptr<BenchCue>> cues;
    auto controller = GoBench::show<BenchCue>(run.defaults, nullptr, delegate, kCues, makeCue, cues);
    controller->setMetalManager(run.gpu);
    controller->createTextureCache();
    controller->handleEndOfTemporaryPlaybackStopWithCompletedHandler({});  // jumps open, as after set-up
    const auto clock = controller->masterClock();
    clock->runClockRenderer();
    auto loop = std::make_shared<GoBench::RenderLoop>(run.gpu, *controller);

    struct Rate {
        int fps;
        std::vector<double> go, followOn;
        double period = 0.0;
    };
    std::vector<Rate> rates{{25, {}, {}}, {60, {}, {}}};
    for (Rate& rate : rates) {
        loop->start(rate.fps);
        for (int i = 0; i < samples; ++i) {
            const auto middle = cues[std::size_t(kCues / 2 + i % 10)];
            const auto next = cues[std::size_t(kCues / 2 + i % 10 + 1)];
            controller->jumpToItem(middle);
            check(waitFor([&] { return controller->currentItem() == middle && controller->canJump() && !clock->isRunning(); }),
                  "the show stands by on a middle cue");
            middle->rearm();
            next->rearm();
            const auto go = Clock::now();
            controller->startClock();
            check(waitFor([&] { return middle->firstFrameAt.load() != 0; }), "the GO cue's first frame reached the pass");
            rate.go.push_back(double(middle->firstFrameAt.load() - go.time_since_epoch().count()) / 1e6);
            check(waitFor([&] { return next->firstFrameAt.load() != 0; }), "the next cue's first frame reached the pass");
            check(next->startedAt.load() != 0, "the follow-on started the next cue");
            rate.followOn.push_back(next->msFromStartToFirstFrame());
            controller->stopClockWithCompletedHandler({});
            check(waitFor([&] { return !clock->isRunning() && !controller->isPlaying(); }), "the show stopped");
        }
        rate.period = loop->measuredPeriod();
        loop->stop();
        loop = std::make_shared<GoBench::RenderLoop>(run.gpu, *controller);
    }
    controller->setCurrentItem(nullptr);
    DispatchQueue::drainMain();

    std::vector<double> bareFirstFrame;
    {
        GoBench::BareFirstFrame bare(run.home, *run.device);
        for (int i = 0; i < samples * 2; ++i)
            bareFirstFrame.push_back(bare.firstFrame());
    }

    // --- The tick handler's cost, stepped clock ------------------------------------------
    DispatchQueue clockThread("bench.clockthread");
    // Every cue but the last plays to its end and hands over; the last one's end would stop.
    const int frames = (kCues - 1) * kFramesPerCue + kFramesPerCue / 2;
    std::vector<double> ticks, bare;
    {
        auto time = std::make_shared<SteppedClockTime>();
        std::vector<std::shared_ptr<BenchCue>> tickCues;
        auto timed = GoBench::show<BenchCue, TimedController>(run.defaults, time, delegate, kCues, makeCue, tickCues);
        timed->samples = &ticks;
        ticks.reserve(std::size_t(frames) + 1);
        timed->startClock();
        playFrames(*timed->masterClock(), *time, clockThread, frames);
        check(timed->currentItem() == tickCues.back(), "the show reached its last cue");
        check(std::all_of(tickCues.begin(), tickCues.end(), [](const auto& cue) { return cue->starts == 1; }),
              "every cue started once");
        stopOn(*timed->masterClock(), *time, clockThread, [&] { timed->stopClockWithCompletedHandler({}); });
        timed->samples = nullptr;
        timed->setCurrentItem(nullptr);
    }
    {
        // The reference: the same clock and frames, the notification read by a bare observer.
        auto bareTime = std::make_shared<SteppedClockTime>();
        auto bareClock = QVTClock::initClock(bareTime);
        bareClock->setSmpteFormat(QVTClockSMPTEFormat25);
        bareClock->setMaxClockSMPTETime(QStringLiteral("01:00:00:00"));
        long read = 0;
        bare.reserve(std::size_t(frames) + 1);
        bareClock->notificationCenter().addObserver(&bare, QString::fromLatin1(QVTClockNotification::TimeChanged), bareClock.get(),
                                                    [&](const Notification& n) {
                                                        const auto start = Clock::now();
                                                        read += n.userInfo.value(n.name).toString().size();
                                                        bare.push_back(GoBench::msSince(start));
                                                    });
        bareClock->startClock();
        playFrames(*bareClock, *bareTime, clockThread, frames);
        check(read == 11L * (frames + 1), "every bare tick read its timecode");
        stopOn(*bareClock, *bareTime, clockThread, [&] { bareClock->stopClockWithCompletedHandler({}); });
    }

    for (const Rate& rate : rates) {
        char title[96];
        std::snprintf(title, sizeof title, "to the first frame, output %d fps (%.2f ms)", rate.fps, rate.period);
        GoBench::reportHeader(title);
        GoBench::report("GO from stand-by on a middle cue", rate.go, rate.period);
        GoBench::report("follow-on: next cue current to its frame", rate.followOn, rate.period);
        GoBench::report("reference: libav seek+decode, GL upload", bareFirstFrame, rate.period);
    }
    GoBench::reportHeader("per tick (share of the 1.667 ms cycle: cy)");
    GoBench::report("tick handler (50 cues, follow-ons)", ticks);
    GoBench::report("reference: bare delivery, timecode read", bare);
    return 0;
}
