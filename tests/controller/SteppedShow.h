#pragma once
// The show on the real master clock: the test owns the clock's time source and runs its cycles
// on a thread of its own, as the clock thread would, while the main queue is pumped. Cues are
// stills of fixed lengths that record what the controller asks of them.

#include "ControllerFakes.h"
#include "FakeTransition.h"
#include "../clock/SteppedClockTime.h"

#include "Remote/KavioNMCManager.h"
#include "Rendering/KavioMetalTransitionRendererInterface.h"
#include "Support/KavioSliderInterface.h"
#include "Log.h"

#include <spdlog/sinks/ostream_sink.h>

#include <algorithm>
#include <atomic>
#include <sstream>
#include <stdexcept>

// A still that lasts a fixed number of frames and logs the controller's calls on it.
class SequencingCue : public FixedLengthCue {
public:
    SequencingCue(std::shared_ptr<QVTClock> clock, std::int64_t frames, QString uid)
        : FixedLengthCue(clock, frames, std::move(uid))
    {
        setMediaType(KavioMediaTypeStill);
        setDurationOfNonMovies(float(double(frames) / clock->framerate()));
        setItemDuration(durationOfNonMovies());
    }
    CallLog* log = nullptr;
    std::atomic<bool> needsRewind{false};
    std::atomic<bool> throwOnStart{false};

    void startPlayers() override
    {
        record(QStringLiteral("start"));
        if (throwOnStart)
            throw std::runtime_error("the player refused");
        KavioVideoItem::startPlayers();
    }
    void pausePlayersWithPreroll(bool preroll) override
    {
        record(QStringLiteral("pause(%1)").arg(preroll));
        KavioVideoItem::pausePlayersWithPreroll(preroll);
    }
    // The real rewind seeks on the main queue and reports the jump from there.
    // The real rewind at once, as on the main thread, instead of later.
    bool rewindsAtOnce = false;
    void rewind() override
    {
        record(QStringLiteral("rewind"));
        needsRewind = false;
        if (rewindsAtOnce)
            return KavioVideoItem::rewind();
        DispatchQueue::main().async([weak = weak_from_this()] {
            if (const auto cue = weak.lock())
                cue->KavioVideoItem::rewind();
        });
    }
    bool needsRewindBeforeStartPlayback() const override { return needsRewind; }
    // The renderer a crossover into this cue runs through; none unless the test gives one.
    std::shared_ptr<KavioMetalTransitionRendererInterface> ownTransition;
    std::shared_ptr<KavioMetalTransitionRendererInterface> transition() const override { return ownTransition; }
    void handleLooping() override { record(QStringLiteral("handleLooping")); }
    void switchPlayersOnLoop() override { record(QStringLiteral("switchPlayersOnLoop")); }

private:
    void record(const QString& call)
    {
        if (log)
            log->add(uid() + QLatin1Char('.') + call);
    }
};

// The link's cue commands while it lives, as "<code>:<cue>" or "<code>:<time>:<cue>".
struct LinkRecorder {
    std::mutex mutex;
    QStringList sent;
    LinkRecorder()
    {
        KavioNMCManager::sharedManager().setCueCommandObserver([this](const KavioNMCCueCommand& c) {
            std::lock_guard lock(mutex);
            sent << (c.smpteTime.isEmpty() ? QStringLiteral("%1:%2").arg(int(c.command)).arg(c.cue)
                                           : QStringLiteral("%1:%2:%3").arg(int(c.command)).arg(c.smpteTime).arg(c.cue));
        });
    }
    ~LinkRecorder() { KavioNMCManager::sharedManager().setCueCommandObserver({}); }
    QStringList take()
    {
        std::lock_guard lock(mutex);
        return std::exchange(sent, {});
    }
};

// The warnings written while it lives.
struct WarningCapture {
    std::ostringstream text;
    std::shared_ptr<spdlog::sinks::ostream_sink_mt> sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(text);
    WarningCapture()
    {
        sink->set_level(spdlog::level::warn);
        KavioLog::logger().sinks().push_back(sink);
    }
    ~WarningCapture()
    {
        auto& sinks = KavioLog::logger().sinks();
        sinks.erase(std::remove(sinks.begin(), sinks.end(), sink), sinks.end());
    }
    bool contains(const char* what) { return text.str().find(what) != std::string::npos; }
};

// A master fader that keeps its value exactly.
struct FakeFader : KavioSliderInterface {
    double value = 1.0;
    double doubleValue() const override { return value; }
    void setDoubleValue(double v) override { value = std::clamp(v, 0.0, 1.0); }
    bool isEnabled() const override { return true; }
    void setEnabled(bool) override {}
    QString oscAddress() const override { return {}; }
    void setOSCAddress(const QString&) override {}
};

template <typename Controller = KavioVideoItemManager>
struct SteppedShowFixture : ControllerFixture {
    std::shared_ptr<SteppedClockTime> time = std::make_shared<SteppedClockTime>();
    std::shared_ptr<Controller> show;
    std::shared_ptr<QVTClock> clock;
    DispatchQueue clockThread{"test.clockthread"};
    std::mutex ticksMutex;
    QStringList ticks;  // every CLOCK_TIME_CHANGED, after the controller handled it
    std::vector<std::shared_ptr<SequencingCue>> cues;

    explicit SteppedShowFixture(const std::vector<std::int64_t>& frames, bool playlistLoop = false)
    {
        show = KavioVideoItemManager::init<Controller>(*defaults, time);
        controller = show;
        controller->setOutlets(outlets());
        controller->setDelegate(app);
        app->controller = controller;
        clock = controller->masterClock();
        clock->setSmpteFormat(QVTClockSMPTEFormat25);
        clock->notificationCenter().addObserver(this, QString::fromLatin1(QVTClockNotification::TimeChanged), clock.get(),
                                                [this](const Notification& n) {
                                                    std::lock_guard lock(ticksMutex);
                                                    ticks << n.userInfo.value(n.name).toString();
                                                });
        app->loop.setState(playlistLoop ? 1 : 0);
        cues = addCues<SequencingCue>(frames);
        for (const auto& cue : cues) {
            cue->log = &log;
            cue->setIsReady(true);
        }
        controller->setCurrentItem(cues[0]);
        cues[0]->markAsCurrent(true);
        settle();
        log.take();
    }
    ~SteppedShowFixture() { clock->notificationCenter().removeObserver(this); }

    void settle() { DispatchQueue::runMainUntil([] { return DispatchQueue::drainMain() == 0; }, 10); }

    QString lastTick()
    {
        std::lock_guard lock(ticksMutex);
        return ticks.isEmpty() ? QString() : ticks.back();
    }
    qsizetype tickCount()
    {
        std::lock_guard lock(ticksMutex);
        return ticks.size();
    }

    // Runs clock cycles on the clock thread until the clock posts its next frame or stops;
    // answers that frame's time (empty when the clock stopped first).
    QString nextTick()
    {
        const qsizetype before = tickCount();
        std::atomic<bool> done{false};
        clockThread.async([&] {
            for (int cycle = 0; cycle < 240 && clock->isRunning(); ++cycle) {
                clock->runCycle(time->now.load());
                if (tickCount() > before)
                    break;
            }
            done = true;
        });
        DispatchQueue::runMainUntil([&] { return done.load(); }, 60);
        settle();
        return tickCount() > before ? lastTick() : QString();
    }
    // Frames until the tick at `smpte` has run (false when the clock stopped before it).
    bool runUntilTick(const QString& smpte)
    {
        for (int frame = 0; frame < 1000; ++frame) {
            if (lastTick() == smpte)
                return true;
            if (nextTick().isEmpty())
                return false;
        }
        return false;
    }
    // Frames until the clock has stopped; answers the last tick it posted.
    QString runUntilStopped()
    {
        for (int frame = 0; frame < 1000 && clock->isRunning(); ++frame)
            nextTick();
        return lastTick();
    }
    void go()
    {
        controller->startClock();
        settle();
    }
    QStringList calls() { return log.take(); }
    // Jumps open once set-up has ended (initManager, which would start the clock's own
    // thread); the end of a temporary stop opens them the same way.
    void openJumps() { controller->handleEndOfTemporaryPlaybackStopWithCompletedHandler({}); }
};
