// The master clock's real thread at 24, 25 and 30 fps, with and without real-time priority:
// drift of the clock time against CLOCK_MONOTONIC, lateness of each cycle against its absolute
// deadline, and when "CLOCK_TIME_CHANGED" is posted relative to the frame grid. Beside them, in the
// same run and at the same priority, a bare clock_nanosleep loop at the clock's cycle period, so
// that the figures can be read against what this machine gives at that moment.
//
// Usage: clock_bench [seconds per rate] (default 60). Real-time priority needs root or
// CAP_SYS_NICE; without it both halves run at normal priority (the table says which ran).

#include "NotificationCenter.h"
#include "Clock/QVTClock.h"

#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace {

uint64_t monotonicNow()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1'000'000'000u + uint64_t(ts.tv_nsec);
}

void sleepUntilDeadline(uint64_t deadline)
{
    const timespec ts{time_t(deadline / 1'000'000'000u), long(deadline % 1'000'000'000u)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

std::string policyName(int policy, int priority)
{
    switch (policy) {
    case SCHED_FIFO:
        return "SCHED_FIFO " + std::to_string(priority);
    case SCHED_OTHER:
        return "SCHED_OTHER";
    default:
        return "policy " + std::to_string(policy);
    }
}

struct Scheduling {
    int policy = SCHED_OTHER;
    int priority = 0;
};

Scheduling currentScheduling()
{
    Scheduling s;
    sched_param param{};
    pthread_getschedparam(pthread_self(), &s.policy, &param);
    s.priority = param.sched_priority;
    return s;
}

struct CycleSample {
    uint64_t deadline;
    uint64_t woke;
    double clockTime;  // as of the cycle's own reading of the monotonic clock
};

// The host's time source (CLOCK_MONOTONIC, absolute-deadline sleeps) with a recorder: while
// recording it keeps every cycle's deadline, its wake-up and the clock time. With `normal` set it
// puts the clock thread back to SCHED_OTHER on its first call there, after the clock's own
// SCHED_FIFO request: the clock has no switch of its own for this.
class MeasuringTimeSource final : public QVTClockTimeSource {
public:
    MeasuringTimeSource(bool normal, std::size_t capacity) : normal_(normal) { samples_.reserve(capacity); }

    uint64_t monotonicNanoseconds() override { return monotonicNow(); }

    void sleepUntil(uint64_t deadline) override
    {
        if (!threadSeen_) {
            threadSeen_ = true;
            if (normal_) {
                const sched_param param{};
                pthread_setschedparam(pthread_self(), SCHED_OTHER, &param);
            }
            scheduling_ = currentScheduling();
        }
        const bool keep = recording.load(std::memory_order_acquire) && samples_.size() < samples_.capacity();
        const double clockTime = keep ? clock.load()->clockTime() : 0.0;
        sleepUntilDeadline(deadline);
        if (keep) {
            samples_.push_back({deadline, monotonicNow(), clockTime});
        }
    }

    std::atomic<QVTClock*> clock{nullptr};
    std::atomic<bool> recording{false};
    // Read once the clock thread has ended.
    const std::vector<CycleSample>& samples() const { return samples_; }
    Scheduling scheduling() const { return scheduling_; }

private:
    const bool normal_;
    bool threadSeen_ = false;
    Scheduling scheduling_;
    std::vector<CycleSample> samples_;
};

template <typename... Args>
std::string format(const char* fmt, Args... args)
{
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, fmt, args...);
    return buffer;
}

struct Post {
    uint64_t at;
    QString smpte;
};

struct Percentiles {
    double median, p99, worst;
};

// In microseconds, from nanoseconds.
Percentiles percentiles(std::vector<int64_t> ns)
{
    if (ns.empty()) {
        return {0, 0, 0};
    }
    std::sort(ns.begin(), ns.end());
    const auto at = [&](double q) { return ns[std::min(ns.size() - 1, std::size_t(q * double(ns.size())))] / 1e3; };
    return {at(0.5), at(0.99), ns.back() / 1e3};
}

struct ClockRun {
    Scheduling scheduling;
    std::size_t cycles = 0;
    double driftEndNs = 0;
    double driftMaxNs = 0;
    Percentiles late{};
    std::size_t posts = 0;
    std::size_t frames = 0;
    std::size_t frameSkips = 0;  // posts that were not exactly one frame after the previous one
    double postMinMs = 0;
    Percentiles postOffset{};  // in ms here
};

ClockRun runClock(int32_t format, double seconds, bool normal)
{
    const std::size_t capacity = std::size_t((seconds + 2) * 600);
    auto source = std::make_shared<MeasuringTimeSource>(normal, capacity);
    std::vector<Post> posts;
    posts.reserve(std::size_t((seconds + 2) * 30));
    std::atomic<bool> recordPosts{false};

    auto clock = QVTClock::initClock(source);
    source->clock.store(clock.get());
    clock->setSmpteFormat(format);
    clock->setMaxClockSMPTETime("23:00:00:00");
    const auto mainThread = std::this_thread::get_id();
    clock->notificationCenter().addObserver(
        nullptr, QVTClockNotification::TimeChanged, clock.get(), [&](const Notification& n) {
            // The start's own post comes from this thread; only the clock thread's posts count.
            if (recordPosts.load(std::memory_order_acquire) && std::this_thread::get_id() != mainThread &&
                posts.size() < posts.capacity()) {
                posts.push_back({monotonicNow(), n.userInfo.value(QVTClockNotification::TimeChanged).toString()});
            }
        });

    clock->runClockRenderer();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    recordPosts.store(true, std::memory_order_release);
    clock->startClock();
    source->recording.store(true, std::memory_order_release);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    source->recording.store(false, std::memory_order_release);
    recordPosts.store(false, std::memory_order_release);
    std::promise<void> stopped;
    clock->stopClockWithCompletedHandler([&] { stopped.set_value(); });
    stopped.get_future().wait();
    const double frameTime = clock->frameTimeOfCurrentSMPTEFormat();
    std::vector<int64_t> frameCounts;
    for (const Post& p : posts) {
        frameCounts.push_back(clock->frameCountSMPTEString(p.smpte));
    }
    clock.reset();  // ends the thread: the samples are ours now

    ClockRun run;
    run.scheduling = source->scheduling();
    const auto& samples = source->samples();
    // The first cycle may have read the monotonic clock before the start did: skip a few.
    const std::size_t first = std::min<std::size_t>(3, samples.size());
    if (samples.size() <= first) {
        return run;
    }
    const uint64_t period = QVTClock::kCyclePeriodNanoseconds;
    // The monotonic time at which the clock time was 0, from the first counted cycle.
    const double origin = double(samples[first].deadline - period) * 1e-9 - samples[first].clockTime;
    std::vector<int64_t> late;
    for (std::size_t i = first; i < samples.size(); ++i) {
        const double drift = samples[i].clockTime - (double(samples[i].deadline - period) * 1e-9 - origin);
        run.driftMaxNs = std::max(run.driftMaxNs, std::abs(drift) * 1e9);
        run.driftEndNs = drift * 1e9;
        late.push_back(int64_t(samples[i].woke - samples[i].deadline));
    }
    run.cycles = late.size();
    run.late = percentiles(late);

    // Each post against the grid instant of the frame it names.
    std::vector<int64_t> offsets;
    for (std::size_t i = 0; i < posts.size(); ++i) {
        if (frameCounts[i] == 0) {
            continue;
        }
        const double grid = origin + double(frameCounts[i]) * frameTime;
        offsets.push_back(int64_t((double(posts[i].at) * 1e-9 - grid) * 1e9));
        if (i > 0 && frameCounts[i] != frameCounts[i - 1] + 1) {
            ++run.frameSkips;
        }
    }
    run.posts = offsets.size();
    run.frames = frameCounts.empty() ? 0 : std::size_t(frameCounts.back());
    if (!offsets.empty()) {
        run.postMinMs = double(*std::min_element(offsets.begin(), offsets.end())) / 1e6;
        const Percentiles us = percentiles(offsets);
        run.postOffset = {us.median / 1e3, us.p99 / 1e3, us.worst / 1e3};
    }
    return run;
}

// The reference: a bare absolute-deadline loop at the clock's cycle period, at the scheduling the
// clock thread had.
Percentiles runReference(double seconds, Scheduling scheduling, std::size_t* cycles)
{
    std::vector<int64_t> late;
    late.reserve(std::size_t((seconds + 1) * 600));
    std::thread thread([&] {
        sched_param param{};
        param.sched_priority = scheduling.priority;
        pthread_setschedparam(pthread_self(), scheduling.policy, &param);
        const uint64_t period = QVTClock::kCyclePeriodNanoseconds;
        const uint64_t end = monotonicNow() + uint64_t(seconds * 1e9);
        for (uint64_t deadline = monotonicNow() + period; deadline < end; deadline += period) {
            sleepUntilDeadline(deadline);
            late.push_back(int64_t(monotonicNow() - deadline));
        }
    });
    thread.join();
    *cycles = late.size();
    return percentiles(late);
}

}  // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: %s [seconds per rate, default 60]\n", argv[0]);
        return 2;
    }
    struct Rate {
        int32_t format;
        int fps;
    };
    const Rate rates[] = {{QVTClockSMPTEFormat24, 24}, {QVTClockSMPTEFormat25, 25}, {QVTClockSMPTEFormat30, 30}};

    std::printf("QVTClock thread, %.0f s per rate, cycle %.3f ms. Lateness: wake-up minus deadline.\n"
                "Post offset: posting time minus the frame's grid instant (origin: the clock's first cycle);\n"
                "the SMPTE string turns at 0.94 of a frame, so the ideal window is [-0.06 frame, -0.06 frame + 1 cycle).\n"
                "Second half: the clock thread is put back to SCHED_OTHER after its own SCHED_FIFO request.\n\n",
                seconds, QVTClock::kCyclePeriodNanoseconds / 1e6);
    std::printf("%-16s %-4s %7s %22s %26s %13s %36s  %s\n", "scheduling", "fps", "cycles", "drift end/max ns",
                "late median/p99/worst us", "posts/frames", "post offset min/median/p99/max ms", "ideal window ms");
    for (const bool normal : {false, true}) {
        Scheduling clockScheduling;
        for (const Rate& rate : rates) {
            const ClockRun r = runClock(rate.format, seconds, normal);
            clockScheduling = r.scheduling;
            const double frameMs = 1e3 / rate.fps;
            std::printf("%-16s %-4d %7zu %22s %26s %13s %36s  %s%s\n",
                        policyName(r.scheduling.policy, r.scheduling.priority).c_str(), rate.fps, r.cycles,
                        format("%.1f / %.1f", r.driftEndNs, r.driftMaxNs).c_str(),
                        format("%.1f / %.1f / %.1f", r.late.median, r.late.p99, r.late.worst).c_str(),
                        format("%zu / %zu", r.posts, r.frames).c_str(),
                        format("%.3f / %.3f / %.3f / %.3f", r.postMinMs, r.postOffset.median, r.postOffset.p99,
                               r.postOffset.worst).c_str(),
                        format("%.3f..%.3f", -0.06 * frameMs, -0.06 * frameMs + QVTClock::kCyclePeriodNanoseconds / 1e6).c_str(),
                        r.frameSkips ? format("  frame skips: %zu", r.frameSkips).c_str() : "");
        }
        std::size_t cycles = 0;
        const Percentiles ref = runReference(seconds, clockScheduling, &cycles);
        std::printf("%-16s %-4s %7zu %22s %26s   <- reference: bare clock_nanosleep loop, same period\n\n",
                    policyName(clockScheduling.policy, clockScheduling.priority).c_str(), "-", cycles, "-",
                    format("%.1f / %.1f / %.1f", ref.median, ref.p99, ref.worst).c_str());
    }
    return 0;
}
