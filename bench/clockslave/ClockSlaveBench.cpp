// LTC chase accuracy of the master clock: ten minutes of LTC whose generator runs 0.1 % fast or
// slow against the 48 kHz input, fed in 512-sample blocks while the clock's cycles run on a
// simulated host clock paced by the samples. A generator at the exact rate is the reference.
//
//   clockslave_bench --benchmark_filter=Chase
//
// Counters, checked after every block once the clock has locked:
// - lock_ms: signal time until the clock locked and ran;
// - max_dev_frames (the target is 0): how far the clock's frame lies from the last frame the
//   signal completed. The decoder sees a frame's end only at the next transition of the signal,
//   so for a frame that ended in the last kSettleSamples of the block the one before counts too;
// - mean_abs_dev_frames and late_blocks: the plain difference from the last frame completed,
//   and the blocks where there is one (those detection delays);
// - frames: frames the signal carried (fewer or more than 60 x fps x 10 with the rate error).
// The wall time is what simulating the ten minutes costs.

#include "Clock/QVTClock.h"

#include <benchmark/benchmark.h>
#include <ltc.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

namespace {

constexpr double kSampleRate = 48000;
constexpr int kMinutes = 10;
constexpr uint64_t kSettleSamples = 48;  // 1 ms

// Host time that advances only with the simulation; a sleep jumps to its deadline.
class SimulatedTime : public QVTClockTimeSource {
public:
    uint64_t monotonicNanoseconds() override { return now; }
    void sleepUntil(uint64_t deadline) override { now = std::max(now, deadline); }
    uint64_t now = 1'000'000'000;
};

// LTC from 01:00:00:00 on, generated frame by frame at `sampleRate` and handed out in blocks.
class LTCStream {
public:
    LTCStream(double sampleRate, int fps)
        : encoder_(ltc_encoder_create(sampleRate, fps, fps == 25 ? LTC_TV_625_50 : LTC_TV_525_60, LTC_USE_DATE)),
          buffer_(ltc_encoder_get_buffersize(encoder_))
    {
        SMPTETimecode start{};
        std::strcpy(start.timezone, "+0000");
        start.days = 1;
        start.months = 1;
        start.hours = 1;
        ltc_encoder_set_timecode(encoder_, &start);
    }
    ~LTCStream() { ltc_encoder_free(encoder_); }
    LTCStream(const LTCStream&) = delete;
    LTCStream& operator=(const LTCStream&) = delete;

    // The next block; `frameEnds` gets the sample position where each new frame ends.
    const float* next(std::deque<uint64_t>& frameEnds)
    {
        while (pending_.size() < QVTClock::kLTCBlockSamples) {
            ltc_encoder_encode_frame(encoder_);
            const int n = ltc_encoder_copy_buffer(encoder_, buffer_.data());
            for (int k = 0; k < n; ++k) {
                pending_.push_back((float(buffer_[size_t(k)]) - 128.0f) / 127.0f);
            }
            generated_ += uint64_t(n);
            frameEnds.push_back(generated_);
            ltc_encoder_inc_timecode(encoder_);
        }
        block_.assign(pending_.begin(), pending_.begin() + QVTClock::kLTCBlockSamples);
        pending_.erase(pending_.begin(), pending_.begin() + QVTClock::kLTCBlockSamples);
        return block_.data();
    }

private:
    LTCEncoder* encoder_;
    std::vector<ltcsnd_sample_t> buffer_;
    std::deque<float> pending_;
    std::vector<float> block_;
    uint64_t generated_ = 0;
};

// state.range(0): frames a second; state.range(1): generator rate error in thousandths of a percent.
void BM_LTCChase(benchmark::State& state)
{
    const int fps = int(state.range(0));
    const double error = double(state.range(1)) / 100'000.0;
    for (auto _ : state) {
        const auto time = std::make_shared<SimulatedTime>();
        const auto clock = QVTClock::initClock(time);
        clock->setSmpteFormat(fps == 25 ? QVTClockSMPTEFormat25 : QVTClockSMPTEFormat30);
        clock->setMaxClockSMPTETime("02:00:00:00");
        clock->setIsLTCSlave(true);
        if (!clock->setLtcInputSampleRate(kSampleRate)) {
            state.SkipWithError("no LTC decoder");
            return;
        }
        LTCStream stream(kSampleRate * (1.0 + error), fps);
        std::deque<uint64_t> frameEnds;
        const int64_t firstFrame = clock->frameCountSMPTEString("01:00:00:00");
        int64_t completed = -1;  // frames the signal has completed so far, minus one
        int64_t settled = -1;  // those that ended kSettleSamples before the end of the block
        std::deque<uint64_t> settling;
        uint64_t fed = 0;
        const uint64_t signalStart = time->now;
        double lockMs = -1;
        int64_t maxDeviation = 0;
        double deviationSum = 0;
        int64_t checked = 0;
        int64_t lateBlocks = 0;
        const uint64_t total = uint64_t(kMinutes * 60 * kSampleRate);
        while (fed < total) {
            clock->handleLTCData(stream.next(frameEnds));
            fed += QVTClock::kLTCBlockSamples;
            const uint64_t blockEnd = signalStart + uint64_t(double(fed) * 1e9 / kSampleRate);
            while (time->now < blockEnd) {
                clock->runCycle(time->now);
            }
            while (!frameEnds.empty() && frameEnds.front() <= fed) {
                settling.push_back(frameEnds.front());
                frameEnds.pop_front();
                ++completed;
            }
            while (!settling.empty() && settling.front() + kSettleSamples <= fed) {
                settling.pop_front();
                ++settled;
            }
            if (lockMs < 0) {
                if (clock->isConnectedToSlave() && clock->isRunning()) {
                    lockMs = double(fed) * 1000.0 / kSampleRate;
                }
                continue;
            }
            const int64_t frame = clock->frameCountSMPTEString(clock->clockSMPTETime());
            const int64_t deviation = frame - (firstFrame + completed);
            const int64_t outside = std::max<int64_t>({0, frame - (firstFrame + completed), firstFrame + settled - frame});
            maxDeviation = std::max(maxDeviation, outside);
            deviationSum += double(std::llabs(deviation));
            lateBlocks += deviation != 0;
            ++checked;
        }
        state.counters["lock_ms"] = lockMs;
        state.counters["max_dev_frames"] = double(maxDeviation);
        state.counters["mean_abs_dev_frames"] = checked ? deviationSum / double(checked) : 0.0;
        state.counters["late_blocks"] = double(lateBlocks);
        state.counters["frames"] = double(completed + 1);
    }
}

}  // namespace

BENCHMARK(BM_LTCChase)
    ->Name("Chase")
    ->ArgNames({"fps", "error_milli_pct"})
    ->Args({25, 0})
    ->Args({25, 100})
    ->Args({25, -100})
    ->Args({30, 0})
    ->Args({30, 100})
    ->Args({30, -100})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
