// GO on another cue: from the call to the first render pass that takes the new cue's frame, for
// a cut with the show stopped and with it playing, and from a crossover's start to its first
// mixed pass. The master clock runs its own thread on the host's time; the render pass runs on a
// thread of its own at 60 passes a second, as an output's render clock would. Beside them, timed
// the same way in the same run, the bare hand-over of a flag from the main thread to that render
// loop: what the frame pacing alone costs.
//
// Usage: go_jump_bench [samples] (default 20 of each kind).

#include "Clock/QVTClock.h"
#include "Controller/KavioVideoItemManager.h"
#include "Cue/KavioVideoItem.h"
#include "GoBenchCue.h"
#include "../../tests/controller/FakeTransition.h"
#include "../KavioBenchSupport.h"
#include "DispatchQueue.h"
#include "UserDefaults.h"

#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFramesPerCue = 250;
constexpr auto kPassInterval = std::chrono::microseconds(16667);

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A ten-second Hap movie cue without media: the render pass asks it for its texture, which is
// the moment measured once the cue is armed.
class JumpBenchCue : public FixedFramesBenchCue {
public:
    JumpBenchCue(std::shared_ptr<QVTClock> clock, int number, std::shared_ptr<FakeTransition> transition)
        : FixedFramesBenchCue(std::move(clock), number, kFramesPerCue), transition_(std::move(transition))
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

// Play and stop as the play button does: through the controller's clock.
struct PlayingDelegate : KavioBenchDelegate {
    std::weak_ptr<KavioVideoItemManager> controller;
    void performTogglePlayWithCompletedHandler(std::function<void()> handler) override
    {
        if (const auto c = controller.lock()) {
            if (c->isPlaying())
                c->stopClockWithCompletedHandler({});
            else
                c->startClock();
        }
        if (handler)
            handler();
    }
};

void report(const char* name, std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double share) { return samples[std::min(samples.size() - 1, std::size_t(share * double(samples.size())))]; };
    std::printf("%-44s %8zu %10.3f %10.3f %10.3f\n", name, samples.size(), at(0.5), at(0.9), samples.back());
}

bool waitFor(const std::function<bool()>& done)
{
    return DispatchQueue::runMainUntil(done, 5.0);
}

}  // namespace

int main(int argc, char** argv)
{
    const int samples = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    QTemporaryDir home;
    setenv("XDG_CONFIG_HOME", home.path().toUtf8().constData(), 1);
    UserDefaults defaults(home.filePath(QStringLiteral("bench.conf")));

    auto controller = KavioVideoItemManager::init(defaults);
    auto app = std::make_shared<PlayingDelegate>();
    app->controller = controller;
    controller->setDelegate(app);
    auto clock = controller->masterClock();
    clock->setSmpteFormat(QVTClockSMPTEFormat25);
    auto transition = std::make_shared<FakeTransition>();
    std::vector<std::shared_ptr<JumpBenchCue>> cues;
    for (int i = 1; i <= 2; ++i) {
        auto cue = std::make_shared<JumpBenchCue>(clock, i, transition);
        cue->setManager(controller);
        controller->insertItem(cue, std::uint64_t(i));
        cue->setIsReady(true);
        cues.push_back(cue);
    }
    controller->buildItemQueue();
    controller->setCurrentItem(cues.front());
    // Jumps open at the end of set-up, as the temporary stop's end opens them.
    controller->handleEndOfTemporaryPlaybackStopWithCompletedHandler({});
    clock->runClockRenderer();
    DispatchQueue::drainMain();

    std::atomic<bool> rendering{true};
    std::atomic<bool> bareArmed{false}, bareSeen{false};
    std::thread render([&] {
        const auto start = Clock::now();
        auto next = start;
        while (rendering.load()) {
            controller->createCurrentTextureAtTime(std::chrono::duration<double>(Clock::now() - start).count());
            if (bareArmed.exchange(false))
                bareSeen = true;
            next += kPassInterval;
            std::this_thread::sleep_until(next);
        }
    });

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
        const double ms = msSince(start);
        check(waitFor(idle), "the jump ended");
        return ms;
    };

    std::vector<double> stoppedCut, playingCut, crossover, bare;
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
        const auto start = Clock::now();
        bareArmed = true;
        check(waitFor([&] { return bareSeen.exchange(false); }), "the render loop saw the flag");
        bare.push_back(msSince(start));
    }
    playing(false);
    rendering = false;
    render.join();

    std::printf("%-44s %8s %10s %10s %10s\n", "GO to the first frame in the render pass", "samples", "median ms",
                "p90 ms", "worst ms");
    report("cut, show stopped", stoppedCut);
    report("cut, show playing", playingCut);
    report("crossover start to its first mixed pass", crossover);
    report("reference: flag to the render loop", bare);
    return 0;
}
