// GO on another cue: from the call to the first render pass that takes the new cue's frame, for
// a cut with the show stopped and with it playing, and from a crossover's start to its first
// mixed pass. The master clock runs its own thread on the host's time; the render pass is driven
// by a render clock at 60 frames a second on the GPU, as an output's would. Beside them, timed
// the same way in the same run, the bare work of showing another movie's first frame: a libav
// seek and decode of its first picture with a plain OpenGL upload on the device's context.
//
// Usage: go_jump_bench [samples] (default 20 of each kind).

#include "GoBenchSupport.h"
#include "../../tests/controller/FakeTransition.h"

#include <QGuiApplication>

namespace {

using GoBench::Clock;
using GoBench::waitFor;

constexpr int kFramesPerCue = 250;

// A ten-second Hap movie cue without media: the render pass asks it for its texture, which is
// the moment measured once the cue is armed.
class JumpBenchCue : public GoBench::FixedFramesCue {
public:
    JumpBenchCue(std::shared_ptr<QVTClock> clock, int number, std::shared_ptr<FakeTransition> transition)
        : FixedFramesCue(std::move(clock), number, kFramesPerCue), transition_(std::move(transition))
    {
        setMediaType(KavioMediaTypeMovie);
        setIsHAP(true);
        setTransitionTime(0.1);
    }
    std::shared_ptr<KavioMetalTransitionRendererInterface> transition() const override { return transition_; }
    // Render thread: the pass takes this cue's picture (inside a crossover: as its destination).
    std::shared_ptr<GpuTexture> hapTexture() override
    {
        if (armed_.load() && (!needsMix_.load() || (manager() && manager()->isProcessingGlobalTransition()))) {
            armed_ = false;
            seen_ = true;
        }
        return nullptr;
    }
    void arm(bool needsMix)
    {
        seen_ = false;
        needsMix_ = needsMix;
        armed_ = true;
    }
    bool seen() const { return seen_.load(); }

private:
    std::shared_ptr<FakeTransition> transition_;
    std::atomic<bool> armed_{false}, needsMix_{false}, seen_{false};
};

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication application(argc, argv);
    const int samples = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    GoBench::Environment run;

    auto app = std::make_shared<KavioPlayingBenchDelegate>();
    auto transition = std::make_shared<FakeTransition>();
    std::vector<std::shared_ptr<JumpBenchCue>> cues;
    auto controller = GoBench::show<JumpBenchCue>(
        run.defaults, nullptr, app, 2,
        [&](const std::shared_ptr<QVTClock>& clock, int number) {
            return std::make_shared<JumpBenchCue>(clock, number, transition);
        },
        cues);
    controller->setMetalManager(run.gpu);
    // Jumps open at the end of set-up, as the temporary stop's end opens them.
    controller->handleEndOfTemporaryPlaybackStopWithCompletedHandler({});
    controller->masterClock()->runClockRenderer();
    DispatchQueue::drainMain();
    auto loop = std::make_shared<GoBench::RenderLoop>(run.gpu, *controller);
    loop->start(60);

    const auto other = [&] { return controller->currentItem() == cues[0] ? cues[1] : cues[0]; };
    const auto idle = [&] { return controller->canJump() && !controller->isProcessingGlobalTransition(); };
    const auto playing = [&](bool play) {
        if (controller->isPlaying() != play)
            app->performTogglePlayWithCompletedHandler({});
        check(waitFor([&] { return controller->isPlaying() == play && idle(); }), "the transport followed the play button");
    };
    const auto time = [&](bool needsMix, const std::function<void(const std::shared_ptr<KavioVideoItem>&)>& go) {
        const auto target = other();
        const auto start = Clock::now();
        target->arm(needsMix);
        go(target);
        check(waitFor([&] { return target->seen(); }), "the render pass took the new cue's frame");
        const double ms = GoBench::msSince(start);
        check(waitFor(idle), "the jump ended");
        return ms;
    };

    std::vector<double> stoppedCut, playingCut, crossover;
    for (int i = 0; i < samples; ++i) {
        playing(false);
        stoppedCut.push_back(time(false, [&](const auto& cue) { controller->jumpToAndPlayItem(cue); }));
        playing(true);
        playingCut.push_back(time(false, [&](const auto& cue) { controller->jumpToAndPlayItem(cue); }));
        playing(true);
        crossover.push_back(time(true, [&](const auto& cue) {
            controller->setShouldStartWhenTransitionStarts(true);
            controller->startTransitionToItem(cue);
        }));
    }
    playing(false);
    const double period = loop->measuredPeriod();
    loop->stop();
    controller->setCurrentItem(nullptr);
    DispatchQueue::drainMain();

    std::vector<double> bare;
    {
        GoBench::BareFirstFrame reference(run.home, *run.device);
        for (int i = 0; i < samples; ++i)
            bare.push_back(reference.firstFrame());
    }

    char title[96];
    std::snprintf(title, sizeof title, "GO to the first frame, output 60 fps (%.2f ms)", period);
    GoBench::reportHeader(title);
    GoBench::report("cut, show stopped", stoppedCut, period);
    GoBench::report("cut, show playing", playingCut, period);
    GoBench::report("crossover start to its first mixed pass", crossover, period);
    GoBench::report("reference: libav seek+decode, GL upload", bare, period);
    return 0;
}
