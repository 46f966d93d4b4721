// The engine's render function: 32 cues of 2 channels mixed into 8 outputs in 512-frame cycles
// on the null backend, against a bare copy-and-sum of the same planes timed the same way; each
// reports its worst cycle. Then the output latency the PulseAudio and JACK test servers report
// (JACK at 256-frame periods). Run: audio_bench [--benchmark_filter=...]

#include "Audio/KavioAudioEngine.h"
#include "Audio/KavioAudioPlayerNode.h"
#include "JackTestServer.h"
#include "NullAudioBackend.h"
#include "PulseAudioTestServer.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

constexpr int kCues = 32;
constexpr int kSourceChannels = 2;
constexpr uint32_t kOutputs = 8;
constexpr uint32_t kFrames = 512;
constexpr uint32_t kSourceFrames = 48000 * 20;

std::shared_ptr<PcmBuffer> sourceBuffer(int cue) {
    auto buffer = std::make_shared<PcmBuffer>(PcmFormat(48000, kSourceChannels), kSourceFrames);
    buffer->setFrameLength(kSourceFrames);
    for (int c = 0; c < kSourceChannels; ++c)
        std::fill_n(buffer->floatChannelData(uint32_t(c)), kSourceFrames, 0.001f * float(cue + c));
    return buffer;
}

struct Planes {
    std::vector<std::vector<float>> storage = std::vector<std::vector<float>>(kOutputs, std::vector<float>(kFrames));
    float* pointers[kOutputs];
    Planes() {
        for (uint32_t c = 0; c < kOutputs; ++c) pointers[c] = storage[c].data();
    }
    void clear() {
        for (auto& plane : storage) std::fill(plane.begin(), plane.end(), 0.0f);
    }
};

// The same planes summed with a bare loop: what the mix costs at the least.
void bareMix(const std::vector<std::shared_ptr<PcmBuffer>>& sources, Planes& planes, uint64_t cycle) {
    planes.clear();
    const uint64_t offset = (cycle * kFrames) % (kSourceFrames - kFrames);
    for (const auto& source : sources)
        for (uint32_t c = 0; c < kSourceChannels; ++c) {
            const float* in = source->floatChannelData(c) + offset;
            float* out = planes.pointers[c];
            for (uint32_t f = 0; f < kFrames; ++f) out[f] += in[f] * 0.5f;
        }
    benchmark::DoNotOptimize(planes.storage[0].data());
}

// Runs `cycle` per iteration, timing each on its own; reports the worst, answers the total.
template <typename Cycle>
double timeCycles(benchmark::State& state, Cycle&& cycle) {
    double worst = 0, total = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        cycle();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        worst = std::max(worst, seconds);
        total += seconds;
        state.SetIterationTime(seconds);
    }
    state.counters["worst_cycle_us"] = worst * 1e6;
    state.counters["cycle_budget_us"] = 1e6 * kFrames / 48000.0;
    return total;
}

void EngineRender(benchmark::State& state) {
    auto backend = std::make_shared<NullAudioBackend>();
    KavioAudioEngine engine(backend);
    std::vector<std::shared_ptr<KavioAudioPlayerNode>> nodes;
    for (int cue = 0; cue < kCues; ++cue) {
        auto node = std::make_shared<KavioAudioPlayerNode>();
        engine.connectNode(node, engine.nextAvailableMixerInputBus());
        engine.enableMeteringOnBus(uint32_t(cue));
        node->setVolume(0.5f);
        node->play();
        nodes.push_back(node);
    }
    std::vector<std::shared_ptr<PcmBuffer>> sources;
    for (int cue = 0; cue < kCues; ++cue) sources.push_back(sourceBuffer(cue));
    // Enough scheduled for every cycle of the run, so scheduling stays out of the timing.
    const uint64_t cycles = uint64_t(state.max_iterations);
    for (uint64_t queued = 0; queued * kSourceFrames < (cycles + 1) * kFrames; ++queued)
        for (int cue = 0; cue < kCues; ++cue) nodes[size_t(cue)]->scheduleBuffer(sources[size_t(cue)]);
    Planes planes;
    const double engineSeconds = timeCycles(state, [&] {
        planes.clear();
        engine.render(planes.pointers, kOutputs, kFrames);
    });
    // The bare loop over the same number of cycles, timed the same way, right after.
    Planes bare;
    double bareSeconds = 0;
    for (uint64_t cycle = 0; cycle < uint64_t(state.iterations()); ++cycle) {
        const auto start = std::chrono::steady_clock::now();
        bareMix(sources, bare, cycle);
        bareSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    state.counters["ratio_to_bare"] = bareSeconds > 0 ? engineSeconds / bareSeconds : 0;
    // The work was done: every cue reached the outputs.
    float expected = 0;
    for (int cue = 0; cue < kCues; ++cue) expected += 0.5f * 0.001f * float(cue);
    if (std::abs(planes.storage[0][kFrames - 1] - expected) > 1e-4f) state.SkipWithError("the mix is wrong");
}
BENCHMARK(EngineRender)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(20000);

void BareCopyAndSum(benchmark::State& state) {
    std::vector<std::shared_ptr<PcmBuffer>> sources;
    for (int cue = 0; cue < kCues; ++cue) sources.push_back(sourceBuffer(cue));
    Planes planes;
    uint64_t cycle = 0;
    timeCycles(state, [&] { bareMix(sources, planes, cycle++); });
}
BENCHMARK(BareCopyAndSum)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(20000);

void ServerLatency(benchmark::State& state, const char* name) {
    std::string reason;
    const bool up = std::string(name) == "pulse" ? PulseAudioTestServer::ensureRunning(&reason)
                                                 : JackTestServer::ensureRunning(&reason);
    auto backend = up ? AudioBackend::make(name) : nullptr;
    if (!backend) {
        state.SkipWithError(reason.empty() ? "the server does not answer" : reason.c_str());
        return;
    }
    auto stream = backend->openOutput(0, 2, [](float* const*, uint32_t, uint32_t) {});
    if (!stream || !stream->start()) {
        state.SkipWithError("no output stream");
        return;
    }
    // The server reports once its first timing update has arrived.
    double latency = 0;
    for (int i = 0; i < 300 && latency <= 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        latency = stream->latency();
    }
    for (auto _ : state) latency = stream->latency();
    state.counters["latency_ms"] = latency * 1e3;
}
BENCHMARK_CAPTURE(ServerLatency, pulse, "pulse")->Iterations(1);
BENCHMARK_CAPTURE(ServerLatency, jack, "jack")->Iterations(1);

}  // namespace
