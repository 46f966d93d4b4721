// Cost of moving one 512-frame block through a deck ring and through the A/B streamer, against
// a plain memcpy of the same bytes. Run: ndi_bench [--benchmark_filter=...]
#include "AEAudioBufferListUtilities.h"
#include "AECircularBuffer.h"
#include "AEUtilities.h"
#include "QVTAudioStreamer.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int kFrames = 512;

void MemcpyReference(benchmark::State& state) {
    const size_t bytes = size_t(kFrames) * size_t(state.range(0)) * sizeof(float);
    std::vector<char> source(bytes, 1), target(bytes);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), bytes);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}

void RingEnqueueDequeue(benchmark::State& state) {
    const int channels = int(state.range(0));
    AECircularBuffer ring;
    AECircularBufferInit(&ring, 48000, channels, 48000);
    const AudioStreamBasicDescription format = AEAudioDescriptionWithChannelsAndRate(channels, 48000);
    AudioBufferList* in = AEAudioBufferListCreateWithFormat(&format, kFrames);
    AudioBufferList* out = AEAudioBufferListCreateWithFormat(&format, kFrames);
    for (auto _ : state) {
        AECircularBufferEnqueue(&ring, in, nullptr, UINT32_MAX);
        uint32_t frames = kFrames;
        AECircularBufferDequeue(&ring, &frames, out, nullptr);
        benchmark::DoNotOptimize(frames);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kFrames * channels * int64_t(sizeof(float)));
    AEAudioBufferListFree(in);
    AEAudioBufferListFree(out);
    AECircularBufferCleanup(&ring);
}

void StreamerAddAndPull(benchmark::State& state) {
    const int channels = int(state.range(0));
    const bool mixing = state.range(1) != 0;
    QVTAudioStreamer streamer(48000, uint8_t(channels));
    streamer.setVolumeA(0.8);
    streamer.setVolumeB(0.6);
    streamer.setIsMixing(mixing);
    streamer.setMixProgress(0.5f);
    auto buffer = std::make_shared<PcmBuffer>(PcmFormat(48000, uint32_t(channels)), kFrames);
    buffer->setFrameLength(kFrames);
    for (auto _ : state) {
        streamer.addBufferA(buffer);
        if (mixing) streamer.addBufferB(buffer);
        float* block = streamer.audioDataWithNumberOfFrames(kFrames, channels);
        benchmark::DoNotOptimize(block);
        std::free(block);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kFrames * channels * int64_t(sizeof(float)));
}

BENCHMARK(MemcpyReference)->Arg(2)->Arg(16);
BENCHMARK(RingEnqueueDequeue)->Arg(2)->Arg(16);
BENCHMARK(StreamerAddAndPull)->Args({2, 0})->Args({16, 0})->Args({2, 1})->Args({16, 1});

}  // namespace
