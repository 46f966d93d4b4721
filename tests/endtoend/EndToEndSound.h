#pragma once
// What a recording of the show's sink holds, in windows of 5 ms at 48 kHz: which of the show's
// sounds sounds there (A's 440 Hz, B's 880 Hz, the sample counter, or silence), and whether the
// counter runs without a lost or repeated sample.

#include <cstddef>
#include <vector>

namespace EndToEndSound {

constexpr int kRate = 48000;
constexpr int kWindow = 240;  // 5 ms

enum class Heard { Silence, A, B, AB, Counter, Other };

struct Timeline {
    std::vector<Heard> windows;
    std::vector<float> a, b;  // the amplitudes of 440 and 880 Hz in each window
    // The first window where `what` is heard, or -1.
    long first(Heard what) const;
    // The last window where `what` is heard, or -1.
    long last(Heard what) const;
    // The first window from `from` on where B's tone is louder than A's for 20 ms, or -1.
    long crossover(long from) const;
    // The longest run of silent windows between windows `from` and `to`, and where it began.
    long longestSilence(long from, long to, long* at = nullptr) const;
    static double seconds(long window) { return double(window) * kWindow / kRate; }
};

// Classifies the left channel of an interleaved stereo recording.
Timeline listen(const std::vector<float>& stereo);

// Steps between consecutive samples of the left channel in [from, to) windows that do not add one
// (n mod 32000, as 16-bit values): a lost, repeated or foreign sample inside the counter.
long counterBreaks(const std::vector<float>& stereo, long fromWindow, long toWindow);

// The peak of both channels over the whole of a recording.
float peak(const std::vector<float>& stereo);

}  // namespace EndToEndSound
