#pragma once
// Time that moves only when the test moves it or the clock waits for its next deadline: a
// "sleep" jumps to the deadline, so each cycle of a clock on it lasts exactly 1/600 s and
// nothing really sleeps. Shared by the clock's tests, the cue list's and the tick benchmark.

#include "Clock/QVTClock.h"

#include <atomic>
#include <cstdint>

class SteppedClockTime : public QVTClockTimeSource {
public:
    uint64_t monotonicNanoseconds() override { return now.load(); }
    void sleepUntil(uint64_t deadline) override
    {
        if (deadline > now.load()) {
            now.store(deadline);
        }
    }
    std::atomic<uint64_t> now{1'000'000'000};
};
