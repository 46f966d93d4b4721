// Frames per second of the per-frame GPU work at 1080p (clear, draw a texture, read back) and
// the jitter of the render clock's fixed-rate thread against its ideal frame grid. References
// measured in the same run: a processor-only clear and copy of one 1080p frame, and a bare
// thread sleeping to absolute deadlines at the frame period.
//
//   xvfb-run -a gpu_bench --benchmark_filter=1080p

#include "GpuCommandBuffer.h"
#include "GpuDevice.h"
#include "GpuLibrary.h"
#include "GpuTexture.h"
#include "Rendering/KavioRenderClock.h"

#include <QGuiApplication>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

namespace {

std::shared_ptr<GpuDevice> gDevice;

constexpr std::uint32_t kWidth = 1920;
constexpr std::uint32_t kHeight = 1080;

struct Frame1080 {
    std::shared_ptr<GpuCommandQueue> queue = gDevice->newCommandQueue();
    std::shared_ptr<GpuTexture> source = gDevice->newTexture({GpuPixelFormat::BGRA8Unorm, kWidth, kHeight});
    std::shared_ptr<GpuTexture> target = gDevice->newTexture({GpuPixelFormat::BGRA8Unorm, kWidth, kHeight});
    std::shared_ptr<GpuRenderPipeline> pipeline;
    std::vector<std::uint8_t> pixels = std::vector<std::uint8_t>(std::size_t(kWidth) * kHeight * 4);

    Frame1080()
    {
        for (std::size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = std::uint8_t(i * 7);
        source->replaceRegion({0, 0, kWidth, kHeight}, pixels.data(), kWidth * 4);
        auto library = gDevice->newDefaultLibrary();
        GpuRenderPipelineDescriptor descriptor;
        descriptor.vertexFunction = library->newFunction("vertexShaderDisplay");
        descriptor.fragmentFunction = library->newFunction("textureToScreenSamplingShader");
        pipeline = library->newRenderPipelineState(descriptor);
    }

    void render(bool draw)
    {
        const float quad[16] = {-1, -1, 0, 1, 1, -1, 1, 1, -1, 1, 0, 0, 1, 1, 1, 0};
        auto buffer = queue->commandBuffer();
        auto encoder = buffer->renderCommandEncoder({target, GpuLoadAction::Clear, {0, 0, 0, 1}});
        if (draw) {
            encoder->setRenderPipelineState(pipeline);
            encoder->setFragmentTexture(source, 0);
            encoder->setVertexBytes(quad, sizeof quad, 0);
            encoder->drawPrimitives(GpuPrimitiveType::TriangleStrip, 0, 4);
        }
        encoder->endEncoding();
        buffer->commit();
        buffer->waitUntilCompleted();
    }
};

void framesPerSecond(benchmark::State& state, bool draw, bool readBack)
{
    if (!gDevice) {
        state.SkipWithError("no OpenGL device (run under xvfb-run -a)");
        return;
    }
    Frame1080 frame;
    for (auto _ : state) {
        frame.render(draw);
        if (readBack)
            frame.target->getBytes(frame.pixels.data(), kWidth * 4, {0, 0, kWidth, kHeight});
    }
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Clear1080p(benchmark::State& state)
{
    framesPerSecond(state, false, false);
}
void BM_ClearDraw1080p(benchmark::State& state)
{
    framesPerSecond(state, true, false);
}
void BM_ClearDrawReadBack1080p(benchmark::State& state)
{
    framesPerSecond(state, true, true);
}
void BM_ReferenceCpuClearCopy1080p(benchmark::State& state)
{
    std::vector<std::uint8_t> source(std::size_t(kWidth) * kHeight * 4, 7);
    std::vector<std::uint8_t> target(source.size());
    for (auto _ : state) {
        std::fill(target.begin(), target.end(), 0);
        std::copy(source.begin(), source.end(), target.begin());
        benchmark::DoNotOptimize(target.data());
    }
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReferenceCpuClearCopy1080p)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Clear1080p)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ClearDraw1080p)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ClearDrawReadBack1080p)->Unit(benchmark::kMillisecond)->UseRealTime();

class TickRecorder final : public KavioRenderClockDelegate {
public:
    explicit TickRecorder(std::size_t capacity) { ticks.reserve(capacity); }
    bool renderIfCanAtTime(double) override
    {
        if (ticks.size() < ticks.capacity())
            ticks.push_back(KavioRenderClockTimeSource::system()->now());
        return true;
    }
    std::vector<std::uint64_t> ticks;
};

constexpr double kJitterSeconds = 30.0;

// The standard deviation and the worst deviation of tick times from the ideal grid anchored at
// the first tick.
void reportJitter(benchmark::State& state, const std::vector<std::uint64_t>& ticks, double fps)
{
    if (ticks.size() < 2) {
        state.SkipWithError("no ticks");
        return;
    }
    const double period = 1e9 / fps;
    double sum = 0, sumSquares = 0, worst = 0;
    for (std::size_t n = 0; n < ticks.size(); ++n) {
        const double deviation = double(ticks[n] - ticks[0]) - double(n) * period;
        sum += deviation;
        sumSquares += deviation * deviation;
        worst = std::max(worst, std::abs(deviation));
    }
    const double count = double(ticks.size());
    const double mean = sum / count;
    state.counters["ticks"] = count;
    state.counters["stddev_us"] = std::sqrt(std::max(0.0, sumSquares / count - mean * mean)) / 1e3;
    state.counters["worst_us"] = worst / 1e3;
}

void BM_RenderClockJitter(benchmark::State& state)
{
    const auto fps = std::int32_t(state.range(0));
    for (auto _ : state) {
        auto recorder = std::make_shared<TickRecorder>(std::size_t(fps * kJitterSeconds) + 16);
        {
            KavioRenderClock clock;
            clock.setDelegate(recorder);
            clock.startRenderingWithCVTime({fps, 1, 0});
            std::this_thread::sleep_for(std::chrono::duration<double>(kJitterSeconds));
            clock.stopRendering();
        }
        reportJitter(state, recorder->ticks, fps);
    }
}

// The reference: a thread of normal priority sleeping to absolute deadlines one period apart.
void BM_ReferenceSleepJitter(benchmark::State& state)
{
    const auto fps = std::int32_t(state.range(0));
    auto time = KavioRenderClockTimeSource::system();
    for (auto _ : state) {
        std::vector<std::uint64_t> ticks;
        const auto count = std::size_t(fps * kJitterSeconds);
        ticks.reserve(count);
        const std::uint64_t start = time->now();
        for (std::size_t n = 1; n <= count; ++n) {
            time->sleepUntil(start + std::uint64_t(double(n) * 1e9 / fps));
            ticks.push_back(time->now());
        }
        reportJitter(state, ticks, fps);
    }
}
BENCHMARK(BM_ReferenceSleepJitter)->Arg(25)->Arg(50)->Arg(60)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_RenderClockJitter)->Arg(25)->Arg(50)->Arg(60)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    gDevice = GpuDevice::createSystemDefaultDevice();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    gDevice.reset();
    return 0;
}
