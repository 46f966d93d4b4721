#pragma once
// Host time: ticks of the monotonic system clock (nanoseconds here), and time stamps made from
// ticks or sample counts. Every function may be called from any thread, real-time ones included.

#include "AEAudioTypes.h"

// A time stamp with every field zero.
extern const AudioTimeStamp AETimeStampNone;

// Makes the conversion factors; once per process, later calls do nothing. The other functions
// call it themselves.
void AETimeInit();
uint64_t AECurrentTimeInHostTicks();
double AECurrentTimeInSeconds();
// `seconds` must not be negative; rounded to the nearest tick.
uint64_t AEHostTicksFromSeconds(double seconds);
double AESecondsFromHostTicks(uint64_t ticks);
// AETimeStampNone for 0; else only the host time set and flagged valid.
AudioTimeStamp AETimeStampWithHostTicks(uint64_t ticks);
// Only the sample time set and flagged valid.
AudioTimeStamp AETimeStampWithSamples(double samples);
