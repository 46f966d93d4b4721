#pragma once
// The render clock decides when a frame is rendered: once per output frame it calls its
// delegate's renderIfCanAtTime() (the per-frame render step).
//
// One thread, "kaviorenderclock", started with the clock and running for its life, drives
// both modes:
// - fixed-rate mode (startRenderingWithCVTime): frames at the rate of an NDI or DeckLink
//   output. The thread wakes every 555,555 ns, accumulates the elapsed time and renders one
//   frame whenever a frame duration has built up: a late thread catches up one frame per
//   cycle, and each frame takes exactly one duration from the accumulator, so the rate holds
//   on average without drift.
// - screen mode (startCVDisplayLinkWithDisplayID): frames at the refresh of one display; the
//   same thread ticks the display link.
// The thread asks for real-time scheduling; when the system refuses (the normal case for a
// user process) it logs a warning once and runs at normal priority.
//
// The clock also offers the one safe point between two frames: handlers added with
// addCompletedHandlerForCurrentRenderPass run on the rendering thread right after the
// delegate's step, all of them, in the order they were added.
//
// Threads: the start, stop and display operations run on the main thread. The rendering
// thread reads the mode and flags through atomics and never waits for the main thread.

#include "GpuDisplayLink.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

class KavioRenderClockDelegate {
public:
    virtual ~KavioRenderClockDelegate() = default;
    // The per-frame render step, on the rendering thread, with the clock's time in seconds.
    // Answers whether a frame was rendered.
    virtual bool renderIfCanAtTime(double time) = 0;
};

// Where the clock reads the time and sleeps; tests put a virtual clock in its place.
class KavioRenderClockTimeSource {
public:
    virtual ~KavioRenderClockTimeSource() = default;
    // Monotonic host time in nanoseconds.
    virtual std::uint64_t now() = 0;
    // Returns at the absolute deadline (host time), or at once after interrupt().
    virtual void sleepUntil(std::uint64_t deadline) = 0;
    // Called once when the clock ends, so a pending sleepUntil returns.
    virtual void interrupt() {}

    // CLOCK_MONOTONIC and clock_nanosleep.
    static std::shared_ptr<KavioRenderClockTimeSource> system();
};

class KavioRenderClock {
public:
    using Handler = std::function<void()>;

    // Idle: not rendering, stopped, no display link. Starts the render thread.
    explicit KavioRenderClock(std::shared_ptr<KavioRenderClockTimeSource> timeSource = KavioRenderClockTimeSource::system());
    // Ends the render thread and releases the display link.
    ~KavioRenderClock();
    KavioRenderClock(const KavioRenderClock&) = delete;
    KavioRenderClock& operator=(const KavioRenderClock&) = delete;

    // Fixed-rate mode at the rate record (frames per second = timeValue / timeScale): stops a
    // display link, restarts the clock time at 0. Logs "clock ->  rendering with FPS: v/s".
    // A rate that is not positive renders no frames.
    void startRenderingWithCVTime(const GpuTime& rate);
    // Screen mode on that display. A display link that can't be made is logged ("error on
    // CVDisplayLinkCreateWithActiveCGDisplays: code") and the clock still counts as started.
    void startCVDisplayLinkWithDisplayID(std::uint32_t displayId);
    // Moves a display link to another display (0 keeps the display) and measures its refresh
    // rate; logs "error, cannot set CG display: code" when the display is unknown.
    void setDisplayForDisplayLink(std::uint32_t displayId);
    // Stops and drops a running display link; nothing when none runs.
    void stopDisplaylinkIfNeeded();
    // No more frames. In fixed-rate mode the thread goes on counting frames and running
    // pending handlers, but no longer calls the delegate.
    void stopRendering();

    // Frames per second: the fixed rate rounded to the nearest integer, or the display's
    // refresh rate in screen mode. Any thread.
    std::int32_t renderingFPS() const;
    // 1 / renderingFPS.
    double frameTime() const;
    // The fixed-rate frame duration in seconds, computed in single precision.
    double frameRate() const;
    bool isRenderingForScreens() const { return !renderWithThread_.load(std::memory_order_acquire); }
    bool isStopped() const { return stopped_.load(std::memory_order_acquire); }

    // The screen-mode tick: without a delegate answers false; else runs the delegate's step,
    // then the pending handlers, and answers the step's result. Screen mode ignores the stop
    // flag: a running display link always renders. Rendering thread.
    bool handleDisplayLinkRendering(double time);

    // Queues a handler for the end of the current render pass. Any thread. A handler already
    // pending is logged ("!!! possible error, adding new completed handler while already have
    // one!") and kept: both run, in order.
    void addCompletedHandlerForCurrentRenderPass(Handler handler);
    // Runs and removes every pending handler, oldest first. Rendering thread.
    void doCompletedHandlerIfNeeded();

    // The delegate is not owned; a delegate that has gone is no delegate.
    std::shared_ptr<KavioRenderClockDelegate> delegate() const { return delegate_.load().lock(); }
    void setDelegate(std::weak_ptr<KavioRenderClockDelegate> delegate) { delegate_.store(std::move(delegate)); }

    // A display timestamp handed on: seconds past whole days are kept, so the time stays
    // below one day (90000 s becomes 3600 s).
    static double displayLinkTimeForTimestamp(double seconds);
    // Whole frames per second of a refresh period, rounded (1001/60000 gives 60).
    static std::int32_t refreshRateForPeriod(const GpuTime& period);

private:
    struct HandlerNode {
        Handler handler;
        HandlerNode* next;
    };

    void render();
    void renderFixedRateCycle(std::uint64_t now, std::uint64_t lasttime, double& accumulator);
    void tickDisplayLink(std::uint64_t now, std::uint64_t& nextRefresh);

    std::shared_ptr<KavioRenderClockTimeSource> timeSource_;
    std::atomic<std::weak_ptr<KavioRenderClockDelegate>> delegate_;
    std::atomic<HandlerNode*> handlers_{nullptr};

    // Written on the main thread, read by the render thread.
    std::atomic<bool> renderWithThread_{false};
    std::atomic<bool> stopped_{true};
    std::atomic<std::uint64_t> startCount_{0};  // each fixed-rate start restarts the clock time
    std::atomic<std::uint64_t> startTime_{0};   // host time of the last fixed-rate start
    std::atomic<float> frameDuration_{0.0f};
    std::atomic<std::int32_t> fixedFPS_{0};
    std::atomic<std::int32_t> refreshrate{0};
    std::atomic<bool> displayTicking_{false};
    std::atomic<std::uint64_t> displayPeriod_{0};  // nanoseconds
    std::atomic<bool> quit_{false};

    double clocktime = 0.0;  // render thread only
    std::unique_ptr<GpuDisplayLink> displayLink;  // main thread only
    std::thread thread_;
};
