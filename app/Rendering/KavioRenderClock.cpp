#include "Rendering/KavioRenderClock.h"

#include "Log.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>

namespace {

constexpr std::uint64_t kCycleNanoseconds = 555'555;
constexpr std::uint64_t kNanosecondsPerSecond = 1'000'000'000;
constexpr int kRealtimePriority = 40;

class SystemTimeSource final : public KavioRenderClockTimeSource {
public:
    std::uint64_t now() override
    {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return std::uint64_t(ts.tv_sec) * kNanosecondsPerSecond + std::uint64_t(ts.tv_nsec);
    }

    void sleepUntil(std::uint64_t deadline) override
    {
        timespec ts{time_t(deadline / kNanosecondsPerSecond), long(deadline % kNanosecondsPerSecond)};
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
        }
    }
};

// Real-time scheduling is granted to privileged processes only; refused, the clock runs at
// normal priority and says so once per process.
void requestRealtimeScheduling()
{
    sched_param param{};
    param.sched_priority = kRealtimePriority;
    const int error = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    if (error == 0)
        return;
    static std::atomic<bool> warned{false};
    if (!warned.exchange(true))
        KLOG_WARN("thread_policy_set: {} (rendering at normal priority)", std::strerror(error));
}

}  // namespace

std::shared_ptr<KavioRenderClockTimeSource> KavioRenderClockTimeSource::system()
{
    static auto source = std::make_shared<SystemTimeSource>();
    return source;
}

KavioRenderClock::KavioRenderClock(std::shared_ptr<KavioRenderClockTimeSource> timeSource)
    : timeSource_(std::move(timeSource))
{
    thread_ = std::thread([this] { render(); });
}

KavioRenderClock::~KavioRenderClock()
{
    quit_.store(true, std::memory_order_release);
    timeSource_->interrupt();
    thread_.join();
    HandlerNode* node = handlers_.exchange(nullptr);
    while (node) {
        HandlerNode* next = node->next;
        delete node;
        node = next;
    }
}

// ---------------------------------------------------------------------------------------------
// The render thread

void KavioRenderClock::render()
{
    requestRealtimeScheduling();
    pthread_setname_np(pthread_self(), "kaviorenderclock");

    std::uint64_t lasttime = timeSource_->now();
    clocktime = 0.0;
    double accumulator = 0.0;
    std::uint64_t seenStarts = startCount_.load(std::memory_order_acquire);
    std::uint64_t nextRefresh = 0;

    while (!quit_.load(std::memory_order_acquire)) {
        const std::uint64_t now = timeSource_->now();
        const std::uint64_t starts = startCount_.load(std::memory_order_acquire);
        if (starts != seenStarts) {
            seenStarts = starts;
            clocktime = 0.0;
            lasttime = std::min(startTime_.load(std::memory_order_relaxed), now);
        }
        if (renderWithThread_.load(std::memory_order_acquire))
            renderFixedRateCycle(now, lasttime, accumulator);
        else if (displayTicking_.load(std::memory_order_acquire))
            tickDisplayLink(now, nextRefresh);
        lasttime = now;
        timeSource_->sleepUntil(now + kCycleNanoseconds);
    }
}

void KavioRenderClock::renderFixedRateCycle(std::uint64_t now, std::uint64_t lasttime, double& accumulator)
{
    const float elapsed = float(now - lasttime);
    accumulator += elapsed / 1e9;
    const double duration = frameRate();
    if (accumulator < duration)
        return;
    clocktime += duration;
    if (!stopped_.load(std::memory_order_acquire)) {
        if (auto target = delegate())
            target->renderIfCanAtTime(clocktime);
    }
    doCompletedHandlerIfNeeded();
    accumulator -= duration;
}

void KavioRenderClock::tickDisplayLink(std::uint64_t now, std::uint64_t& nextRefresh)
{
    if (now < nextRefresh)
        return;
    // A display link skips refreshes it missed rather than catching up.
    const std::uint64_t period = displayPeriod_.load(std::memory_order_relaxed);
    nextRefresh = nextRefresh + period > now ? nextRefresh + period : now + period;
    handleDisplayLinkRendering(displayLinkTimeForTimestamp(double(now) / double(kNanosecondsPerSecond)));
}

bool KavioRenderClock::handleDisplayLinkRendering(double time)
{
    auto target = delegate();
    if (!target)
        return false;
    const bool rendered = target->renderIfCanAtTime(time);
    doCompletedHandlerIfNeeded();
    return rendered;
}

// ---------------------------------------------------------------------------------------------
// Modes

void KavioRenderClock::startRenderingWithCVTime(const GpuTime& rate)
{
    stopDisplaylinkIfNeeded();
    const float fps = rate.timeScale != 0 ? float(rate.timeValue) / float(rate.timeScale) : 0.0f;
    // A rate that is not positive renders no frame rather than one every cycle.
    const float duration = fps > 0.0f ? 1.0f / fps : std::numeric_limits<float>::infinity();
    frameDuration_.store(duration, std::memory_order_relaxed);
    fixedFPS_.store(std::int32_t(std::lround(fps)), std::memory_order_relaxed);
    // The rate is stored before the mode switch is published, so the thread sees the new rate
    // when it sees the mode.
    startTime_.store(timeSource_->now(), std::memory_order_relaxed);
    startCount_.fetch_add(1, std::memory_order_release);
    renderWithThread_.store(true, std::memory_order_release);
    stopped_.store(false, std::memory_order_release);
    KLOG_INFO("clock ->  rendering with FPS: {}/{}", rate.timeValue, rate.timeScale);
}

void KavioRenderClock::startCVDisplayLinkWithDisplayID(std::uint32_t displayId)
{
    renderWithThread_.store(false, std::memory_order_release);
    if (!displayLink) {
        int result = GpuDisplayLink::Success;
        displayLink = GpuDisplayLink::createWithActiveDisplays(&result);
        if (!displayLink)
            KLOG_ERROR("error on CVDisplayLinkCreateWithActiveCGDisplays: {}", result);
    }
    setDisplayForDisplayLink(displayId);
    if (displayLink) {
        displayLink->start();
        displayTicking_.store(true, std::memory_order_release);
    }
    stopped_.store(false, std::memory_order_release);
    KLOG_INFO("clock started -> startCVDisplayLinkWithDisplayID");
}

void KavioRenderClock::setDisplayForDisplayLink(std::uint32_t displayId)
{
    if (!displayLink)
        return;
    if (displayId != 0) {
        const int result = displayLink->setCurrentDisplay(displayId);
        if (result != GpuDisplayLink::Success)
            KLOG_ERROR("error, cannot set CG display: {}", result);
    }
    const GpuTime period = displayLink->nominalOutputVideoRefreshPeriod();
    KLOG_INFO("refresh rate: {}/{}", period.timeValue, period.timeScale);
    refreshrate.store(refreshRateForPeriod(period), std::memory_order_relaxed);
    if (period.timeScale > 0)
        displayPeriod_.store(std::uint64_t(period.timeValue) * kNanosecondsPerSecond / std::uint64_t(period.timeScale),
                             std::memory_order_relaxed);
}

void KavioRenderClock::stopDisplaylinkIfNeeded()
{
    if (!displayLink || !displayLink->isRunning())
        return;
    displayTicking_.store(false, std::memory_order_release);
    displayLink->stop();
    displayLink.reset();
    stopped_.store(true, std::memory_order_release);
    KLOG_INFO("clock  stopped -> stopDisplaylinkIfNeeded");
}

void KavioRenderClock::stopRendering()
{
    stopDisplaylinkIfNeeded();
    stopped_.store(true, std::memory_order_release);
    KLOG_INFO("clock  stopped -> stopRendering");
}

// ---------------------------------------------------------------------------------------------
// Rates

std::int32_t KavioRenderClock::renderingFPS() const
{
    return renderWithThread_.load(std::memory_order_acquire) ? fixedFPS_.load(std::memory_order_relaxed)
                                                             : refreshrate.load(std::memory_order_relaxed);
}

double KavioRenderClock::frameTime() const
{
    return 1.0 / renderingFPS();
}

double KavioRenderClock::frameRate() const
{
    return frameDuration_.load(std::memory_order_relaxed);
}

double KavioRenderClock::displayLinkTimeForTimestamp(double seconds)
{
    constexpr double day = 86400.0;
    if (seconds > day)
        seconds -= std::floor(seconds / day) * day;
    return seconds;
}

std::int32_t KavioRenderClock::refreshRateForPeriod(const GpuTime& period)
{
    if (period.timeValue == 0 || period.timeScale == 0)
        return 0;
    return std::int32_t(std::lround(1.0f / (float(period.timeValue) / float(period.timeScale))));
}

// ---------------------------------------------------------------------------------------------
// End-of-pass handlers

void KavioRenderClock::addCompletedHandlerForCurrentRenderPass(Handler handler)
{
    auto* node = new HandlerNode{std::move(handler), handlers_.load(std::memory_order_relaxed)};
    while (!handlers_.compare_exchange_weak(node->next, node, std::memory_order_release, std::memory_order_relaxed)) {
    }
    if (node->next)
        KLOG_WARN("!!! possible error, adding new completed handler while already have one!");
}

void KavioRenderClock::doCompletedHandlerIfNeeded()
{
    HandlerNode* node = handlers_.exchange(nullptr, std::memory_order_acquire);
    if (!node)
        return;
    // The list is newest first; turn it round to run the handlers in the order they came.
    HandlerNode* oldestFirst = nullptr;
    while (node) {
        HandlerNode* next = node->next;
        node->next = oldestFirst;
        oldestFirst = node;
        node = next;
    }
    while (oldestFirst) {
        HandlerNode* next = oldestFirst->next;
        if (oldestFirst->handler)
            oldestFirst->handler();
        delete oldestFirst;
        oldestFirst = next;
    }
}
