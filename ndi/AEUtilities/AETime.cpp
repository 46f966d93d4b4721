#include "AETime.h"

#include <cmath>
#include <ctime>
#include <mutex>

const AudioTimeStamp AETimeStampNone = {};

namespace {

// The monotonic clock counts nanoseconds: a timebase of 1/1.
constexpr double kTimebaseNumerator = 1;
constexpr double kTimebaseDenominator = 1;

double hostTicksToSeconds = 0;
double secondsToHostTicks = 0;
std::once_flag timeInitOnce;

}  // namespace

void AETimeInit() {
    std::call_once(timeInitOnce, [] {
        hostTicksToSeconds = kTimebaseNumerator / kTimebaseDenominator * 1.0e-9;
        secondsToHostTicks = 1.0 / hostTicksToSeconds;
    });
}

uint64_t AECurrentTimeInHostTicks() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return uint64_t(now.tv_sec) * 1000000000ull + uint64_t(now.tv_nsec);
}

double AECurrentTimeInSeconds() {
    AETimeInit();
    return double(AECurrentTimeInHostTicks()) * hostTicksToSeconds;
}

uint64_t AEHostTicksFromSeconds(double seconds) {
    AETimeInit();
    if (!(seconds > 0)) return 0;
    return uint64_t(std::llround(seconds * secondsToHostTicks));
}

double AESecondsFromHostTicks(uint64_t ticks) {
    AETimeInit();
    return double(ticks) * hostTicksToSeconds;
}

AudioTimeStamp AETimeStampWithHostTicks(uint64_t ticks) {
    if (ticks == 0) return AETimeStampNone;
    AudioTimeStamp stamp = AETimeStampNone;
    stamp.mHostTime = ticks;
    stamp.mFlags = kAudioTimeStampHostTimeValid;
    return stamp;
}

AudioTimeStamp AETimeStampWithSamples(double samples) {
    AudioTimeStamp stamp = AETimeStampNone;
    stamp.mSampleTime = samples;
    stamp.mFlags = kAudioTimeStampSampleTimeValid;
    return stamp;
}
