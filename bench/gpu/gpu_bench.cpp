// Frames per second of the per-frame GPU work at 1080p (clear, draw a texture, read back) and
// the jitter of the render clock's fixed-rate thread against its ideal frame grid; the cost of
// the GPU layer's operations against bare OpenGL on the render thread's own context: 1080p
// uploads (BGRA, DXT1, an 8-bit luma plane), an empty command buffer's round trip and a clear
// pass. Each bare reference is timed the same way as the operation it stands beside (from the
// benchmark's thread, up to the GPU having finished), so "ratio" is the layer's overhead.
// References also measured in the same run: a processor-only clear and copy of one 1080p
// frame, and a bare thread sleeping to absolute deadlines at the frame period.
//
//   xvfb-run -a gpu_bench --benchmark_filter=1080p

#include "GpuCommandBuffer.h"
#include "GpuDevice.h"
#include "GpuLibrary.h"
#include "GpuTexture.h"
#include "Rendering/KavioRenderClock.h"

#include "../KavioBenchSupport.h"

#include <QGuiApplication>
#include <QOpenGLContext>
#include <QOpenGLFunctions_3_3_Core>
#include <QOpenGLVersionFunctionsFactory>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
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

// ---- The layer's operations against bare OpenGL ----

using Clock = std::chrono::steady_clock;
using GL = QOpenGLFunctions_3_3_Core;

// The render thread's own OpenGL functions, for the bare references.
GL* renderThreadGL()
{
    return QOpenGLVersionFunctionsFactory::get<GL>(QOpenGLContext::currentContext());
}

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Both halves of one comparison are timed per batch of kBatch operations, interleaved batch by
// batch, so a load that comes and goes hits both alike.
constexpr int kBatch = 20;

struct Timed {
    const char* counter;
    std::function<void()> batch;
};

// "ratio" is the first one's time over the second's (the bare reference).
void compare(benchmark::State& state, const std::vector<Timed>& timed)
{
    std::vector<double> seconds(timed.size());
    for (auto _ : state) {
        for (std::size_t i = 0; i < timed.size(); ++i) {
            const auto start = Clock::now();
            timed[i].batch();
            seconds[i] += secondsSince(start);
        }
    }
    const double operations = double(state.iterations()) * kBatch;
    for (std::size_t i = 0; i < timed.size(); ++i)
        state.counters[timed[i].counter] = seconds[i] / operations * 1e6;
    state.counters["ratio"] = seconds[0] / seconds[1];
}

// One 1080p upload per operation: through the layer without waiting (the frame holds the
// bytes), then one wait for the GPU at the end of the batch; bare: glTexSubImage2D (or its
// compressed twin) on the render thread, then glFinish.
void uploads(benchmark::State& state, GpuPixelFormat format)
{
    if (!gDevice) {
        state.SkipWithError("no OpenGL device (run under xvfb-run -a)");
        return;
    }
    auto texture = gDevice->newTexture({format, kWidth, kHeight});
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(GpuPixelFormats::imageBytes(format, kWidth, kHeight));
    for (std::size_t i = 0; i < bytes->size(); ++i)
        (*bytes)[i] = std::uint8_t(i * 13);
    const std::size_t row = GpuPixelFormats::bytesPerRow(format, kWidth);
    auto queue = gDevice->newCommandQueue();
    const bool compressed = GpuPixelFormats::isCompressed(format);
    auto finish = [&] {
        auto buffer = queue->commandBuffer();
        buffer->commit();
        buffer->waitUntilCompleted();
    };
    compare(state, {{"ours_us", [&] {
                         for (int i = 0; i < kBatch; ++i)
                             check(texture->replaceRegion({0, 0, kWidth, kHeight}, bytes->data(), row, bytes),
                                   "upload queued");
                         finish();
                     }},
                    {"bare_gl_us", [&] {
            gDevice->runOnRenderThread([&] {
                GL* gl = renderThreadGL();
                gl->glBindTexture(GL_TEXTURE_2D, texture->glName());
                for (int i = 0; i < kBatch; ++i) {
                    if (compressed)
                        gl->glCompressedTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, kWidth, kHeight,
                                                      GL_COMPRESSED_RGBA_S3TC_DXT1_EXT, GLsizei(bytes->size()),
                                                      bytes->data());
                    else if (format == GpuPixelFormat::R8Unorm)
                        gl->glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, kWidth, kHeight, GL_RED, GL_UNSIGNED_BYTE,
                                            bytes->data());
                    else
                        gl->glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, kWidth, kHeight, GL_BGRA, GL_UNSIGNED_BYTE,
                                            bytes->data());
                }
                gl->glFinish();
            });
        }},
                    // The upload that waits for the render thread on every call, as before.
                    {"waiting_us", [&] {
                         for (int i = 0; i < kBatch; ++i)
                             check(texture->replaceRegion({0, 0, kWidth, kHeight}, bytes->data(), row), "uploaded");
                         finish();
                     }}});
    state.counters["MB_per_s"] = double(bytes->size()) / state.counters["ours_us"];
}

void BM_UploadBGRA1080p(benchmark::State& state)
{
    uploads(state, GpuPixelFormat::BGRA8Unorm);
}
void BM_UploadDXT1_1080p(benchmark::State& state)
{
    uploads(state, GpuPixelFormat::BC1_RGBA);
}
void BM_UploadLumaPlane1080p(benchmark::State& state)
{
    uploads(state, GpuPixelFormat::R8Unorm);
}

// A command buffer's round trip from the benchmark's thread: empty, or one clear pass of a
// 1080p texture; bare: the same OpenGL work and a fence waited for on the render thread.
void roundTrips(benchmark::State& state, bool clearPass)
{
    if (!gDevice) {
        state.SkipWithError("no OpenGL device (run under xvfb-run -a)");
        return;
    }
    auto queue = gDevice->newCommandQueue();
    auto target = gDevice->newTexture({GpuPixelFormat::BGRA8Unorm, kWidth, kHeight});
    unsigned framebuffer = 0;
    gDevice->runOnRenderThread([&] {
        GL* gl = renderThreadGL();
        gl->glGenFramebuffers(1, &framebuffer);
        gl->glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        gl->glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, target->glName(), 0);
    });
    compare(state, {{"ours_us", [&] {
            for (int i = 0; i < kBatch; ++i) {
                auto buffer = queue->commandBuffer();
                if (clearPass)
                    buffer->renderCommandEncoder({target, GpuLoadAction::Clear, {0, 0, 0, 1}})->endEncoding();
                buffer->commit();
                buffer->waitUntilCompleted();
                check(buffer->status() == GpuCommandBuffer::Status::Completed, "buffer completed");
            }
        }},
                    {"bare_gl_us", [&] {
            for (int i = 0; i < kBatch; ++i)
                gDevice->runOnRenderThread([&] {
                    GL* gl = renderThreadGL();
                    if (clearPass) {
                        gl->glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
                        gl->glViewport(0, 0, kWidth, kHeight);
                        const GLfloat black[4] = {0, 0, 0, 1};
                        gl->glClearBufferfv(GL_COLOR, 0, black);
                    }
                    GLsync fence = gl->glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
                    gl->glClientWaitSync(fence, GL_SYNC_FLUSH_COMMANDS_BIT, GL_TIMEOUT_IGNORED);
                    gl->glDeleteSync(fence);
                });
        }}});
    gDevice->runOnRenderThread([&] { renderThreadGL()->glDeleteFramebuffers(1, &framebuffer); });
}

void BM_EmptyCommandBufferRoundTrip(benchmark::State& state)
{
    roundTrips(state, false);
}
void BM_ClearPass1080pRoundTrip(benchmark::State& state)
{
    roundTrips(state, true);
}

BENCHMARK(BM_UploadBGRA1080p)->Unit(benchmark::kMillisecond)->MinTime(2)->UseRealTime();
BENCHMARK(BM_UploadDXT1_1080p)->Unit(benchmark::kMillisecond)->MinTime(2)->UseRealTime();
BENCHMARK(BM_UploadLumaPlane1080p)->Unit(benchmark::kMillisecond)->MinTime(2)->UseRealTime();
BENCHMARK(BM_EmptyCommandBufferRoundTrip)->Unit(benchmark::kMillisecond)->MinTime(2)->UseRealTime();
BENCHMARK(BM_ClearPass1080pRoundTrip)->Unit(benchmark::kMillisecond)->MinTime(2)->UseRealTime();

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
