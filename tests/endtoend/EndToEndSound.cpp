#include "EndToEndSound.h"

#include <algorithm>
#include <cmath>

namespace EndToEndSound {

namespace {

// The amplitude of `frequency` in a window of the left channel (Goertzel).
double amplitudeOf(const std::vector<float>& stereo, std::size_t first, double frequency)
{
    const double w = 2.0 * M_PI * frequency / kRate, c = 2.0 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (int i = 0; i < kWindow; ++i) {
        const double s = stereo[(first + std::size_t(i)) * 2] + c * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    return 2.0 * std::sqrt(std::max(0.0, s1 * s1 + s2 * s2 - c * s1 * s2)) / kWindow;
}

// The counter adds 1/32768 per sample and never leaves 0 .. 32000/32768.
bool isCounter(const std::vector<float>& stereo, std::size_t first)
{
    int steps = 0;
    for (int i = 1; i < kWindow; ++i) {
        const long a = std::lround(stereo[(first + std::size_t(i) - 1) * 2] * 32768.0);
        const long b = std::lround(stereo[(first + std::size_t(i)) * 2] * 32768.0);
        if (b - a == 1 || (a == 31999 && b == 0))
            ++steps;
    }
    return steps > kWindow * 9 / 10;
}

}  // namespace

long Timeline::first(Heard what) const
{
    const auto it = std::find(windows.begin(), windows.end(), what);
    return it == windows.end() ? -1 : long(it - windows.begin());
}

long Timeline::last(Heard what) const
{
    const auto it = std::find(windows.rbegin(), windows.rend(), what);
    return it == windows.rend() ? -1 : long(windows.rend() - it) - 1;
}

long Timeline::crossover(long from) const
{
    // Held for 20 ms, so an onset's spread of frequencies is not taken for it.
    long run = 0;
    for (long i = std::max(0L, from); i < long(windows.size()); ++i) {
        run = b[std::size_t(i)] > a[std::size_t(i)] && a[std::size_t(i)] > 0.005f ? run + 1 : 0;
        if (run == 4)
            return i - 3;
    }
    return -1;
}

long Timeline::longestSilence(long from, long to, long* at) const
{
    long longest = 0, run = 0;
    for (long i = std::max(0L, from); i < std::min(to, long(windows.size())); ++i) {
        run = windows[std::size_t(i)] == Heard::Silence ? run + 1 : 0;
        if (run > longest && at)
            *at = i - run + 1;
        longest = std::max(longest, run);
    }
    return longest;
}

Timeline listen(const std::vector<float>& stereo)
{
    Timeline timeline;
    const std::size_t frames = stereo.size() / 2;
    for (std::size_t first = 0; first + kWindow <= frames; first += kWindow) {
        double energy = 0;
        for (int i = 0; i < kWindow; ++i)
            energy += double(stereo[(first + std::size_t(i)) * 2]) * stereo[(first + std::size_t(i)) * 2];
        const double rms = std::sqrt(energy / kWindow);
        Heard heard = Heard::Other;
        const double a = amplitudeOf(stereo, first, 440), b = amplitudeOf(stereo, first, 880);
        timeline.a.push_back(float(a));
        timeline.b.push_back(float(b));
        if (rms < 1e-3)
            heard = Heard::Silence;
        else if (isCounter(stereo, first))
            heard = Heard::Counter;
        else {
            // Windows of 5 ms hold 2.2 and 4.4 periods: the tones are told apart by their
            // share of the window's level.
            const double level = rms * std::sqrt(2.0);
            const bool hasA = a > 0.25 * level, hasB = b > 0.25 * level;
            if (hasA && hasB)
                heard = Heard::AB;
            else if (hasA)
                heard = Heard::A;
            else if (hasB)
                heard = Heard::B;
        }
        timeline.windows.push_back(heard);
    }
    return timeline;
}

long counterBreaks(const std::vector<float>& stereo, long fromWindow, long toWindow)
{
    long breaks = 0;
    const std::size_t from = std::size_t(std::max(0L, fromWindow)) * kWindow + 1;
    const std::size_t to = std::min(std::size_t(std::max(0L, toWindow)) * kWindow, stereo.size() / 2);
    for (std::size_t i = from; i < to; ++i) {
        const long a = std::lround(stereo[(i - 1) * 2] * 32768.0), b = std::lround(stereo[i * 2] * 32768.0);
        if (!(b - a == 1 || (a == 31999 && b == 0)))
            ++breaks;
    }
    return breaks;
}

float peak(const std::vector<float>& stereo)
{
    float p = 0;
    for (const float v : stereo)
        p = std::max(p, std::abs(v));
    return p;
}

}  // namespace EndToEndSound
