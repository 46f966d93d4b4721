// Frames per second of the program's renderers at 1080p, each beside a reference that does the
// same amount of GPU work with the bare GPU layer (one full-frame textured draw per pass),
// timed the same way in the same run:
// - a cue's layer from a '2vuy' frame: the conversion and transform passes (reference: two
//   plain draws);
// - a dissolve between two layers (reference: one plain draw);
// - the preview's frame step (compose, outputs, preview, commit, present) with a composed
//   picture and no outputs, with the time of each phase (reference: one plain draw, commit,
//   wait until scheduled).
// Each checks a pixel of its result, so work that was skipped shows as an error.
//
//   xvfb-run -a rendering_bench

#include "FakeRenderedCue.h"
#include "IdleVideoManager.h"
#include "Outputs/KavioVideoOutputManagerInterface.h"
#include "Rendering/KavioMetalTransitionRenderer.h"
#include "Rendering/QVTMTKView.h"
#include "Rendering/QVTMetalLayerRenderer.h"
#include "Rendering/QVTMetalManager.h"

#include <QGuiApplication>

#include <benchmark/benchmark.h>

#include <thread>
#include <vector>

namespace {

constexpr std::uint32_t kWidth = 1920;
constexpr std::uint32_t kHeight = 1080;
std::unique_ptr<QVTMetalManager> gGpu;

std::shared_ptr<GpuTexture> filledTexture(GpuPixelFormat format, std::uint32_t w, std::uint32_t h,
                                          std::array<std::uint8_t, 4> texel)
{
    auto texture = gGpu->device()->newTexture({format, w, h});
    std::vector<std::uint8_t> bytes(std::size_t(w) * h * 4);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = texel[i % 4];
    texture->replaceRegion({0, 0, w, h}, bytes.data(), w * 4);
    return texture;
}

// The red channel of one pixel of a BGRA8 texture.
int redAt(const GpuTexture& texture, std::uint32_t x, std::uint32_t y)
{
    std::uint8_t bgra[4] = {};
    texture.getBytes(bgra, 4, {x, y, 1, 1});
    return bgra[2];
}

void commitAndWait()
{
    auto buffer = gGpu->currentCommandBuffer();
    buffer->commit();
    buffer->waitUntilCompleted();
}

void countFrames(benchmark::State& state)
{
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

// Reference: `draws` full-frame textured draws into a 1080p texture per frame.
void plainDraws(benchmark::State& state, int draws)
{
    auto source = filledTexture(GpuPixelFormat::BGRA8Unorm, kWidth, kHeight, {0, 0, 255, 255});
    auto target = gGpu->device()->newTexture({GpuPixelFormat::BGRA8Unorm, kWidth, kHeight});
    GpuRenderPipelineDescriptor descriptor;
    descriptor.vertexFunction = gGpu->library()->newFunction("vertexShaderDisplay");
    descriptor.fragmentFunction = gGpu->library()->newFunction("textureToScreenSamplingShader");
    auto pipeline = gGpu->library()->newRenderPipelineState(descriptor);
    const float quad[16] = {-1, -1, 0, 1, 1, -1, 1, 1, -1, 1, 0, 0, 1, 1, 1, 0};
    for (auto _ : state) {
        gGpu->createCurrentCommandBuffer();
        for (int i = 0; i < draws; ++i) {
            auto encoder = gGpu->currentCommandBuffer()->renderCommandEncoder({target, GpuLoadAction::Clear, {}});
            encoder->setRenderPipelineState(pipeline);
            encoder->setFragmentTexture(source, 0);
            encoder->setVertexBytes(quad, sizeof quad, 0);
            encoder->drawPrimitives(GpuPrimitiveType::TriangleStrip, 0, 4);
            encoder->endEncoding();
        }
        commitAndWait();
    }
    countFrames(state);
    if (redAt(*target, 960, 540) != 255)
        state.SkipWithError("the reference drew nothing");
}

void BM_ReferenceTwoDraws1080p(benchmark::State& state)
{
    plainDraws(state, 2);
}
void BM_ReferenceOneDraw1080p(benchmark::State& state)
{
    plainDraws(state, 1);
}

void BM_LayerFrom2vuy1080p(benchmark::State& state)
{
    // Video white as Cb Y0 Cr Y1, two pixels a texel.
    auto frame = filledTexture(GpuPixelFormat::RGBA8Unorm, kWidth / 2, kHeight, {128, 235, 128, 235});
    QVTMetalLayerRenderer layer({double(kWidth), double(kHeight)}, true, false, false, false, *gGpu);
    const QVTLayerSettings settings;
    for (auto _ : state) {
        gGpu->createCurrentCommandBuffer();
        layer.renderWithTexture(frame, settings);
        commitAndWait();
    }
    countFrames(state);
    if (redAt(*layer.texture(), 960, 540) < 250)
        state.SkipWithError("the layer holds no picture");
}

void BM_Dissolve1080p(benchmark::State& state)
{
    auto from = std::make_shared<FakeRenderedCue>(filledTexture(GpuPixelFormat::BGRA8Unorm, kWidth, kHeight, {0, 0, 255, 255}));
    auto to = std::make_shared<FakeRenderedCue>(filledTexture(GpuPixelFormat::BGRA8Unorm, kWidth, kHeight, {255, 0, 0, 255}));
    KavioMetalTransitionRenderer transition({double(kWidth), double(kHeight)}, false, KavioTransitionTypeDissolve, *gGpu);
    transition.setSourceItem(from);
    transition.setDestinationItem(to);
    transition.setProgress(0.5f);
    for (auto _ : state) {
        gGpu->createCurrentCommandBuffer();
        transition.render();
        commitAndWait();
    }
    countFrames(state);
    if (std::abs(redAt(*transition.texture(), 960, 540) - 128) > 2)
        state.SkipWithError("the transition drew nothing");
}

class Outputs : public KavioVideoOutputManagerInterface {
public:
    void initManager() override {}
    void renderWithTexture(const std::shared_ptr<GpuTexture>&) override {}
    void presentDrawables() override {}
    QSizeF renderSize() const override { return {double(kWidth), double(kHeight)}; }
    bool useHighBitDepthRendering() const override { return false; }
};

class Controller : public IdleVideoManager {
public:
    std::shared_ptr<GpuTexture> picture = filledTexture(GpuPixelFormat::BGRA8Unorm, kWidth, kHeight, {0, 0, 255, 255});
    std::shared_ptr<Outputs> outputs = std::make_shared<Outputs>();
    QSizeF renderSize() const override { return outputs->renderSize(); }
    std::shared_ptr<GpuTexture> textureName() const override { return picture; }
    std::shared_ptr<KavioVideoOutputManagerInterface> videoOutputManager() const override { return outputs; }
    std::int32_t renderingFPS() const override { return 60; }
};

void BM_FrameStep1080p(benchmark::State& state)
{
    auto controller = std::make_shared<Controller>();
    QVTMTKView view(controller, *gGpu);
    view.resize(960, 540);
    view.show();
    for (int i = 0; i < 200 && !view.isExposed(); ++i)
        QGuiApplication::processEvents(QEventLoop::AllEvents, 10);
    QVTMTKView::PhaseDurations sum;
    // The step refuses to draw the preview on the main thread: it runs on a thread of its own,
    // as on the render clock's.
    std::thread([&] {
        for (auto _ : state) {
            view.renderIfCanAtTime(0);
            const auto p = view.lastPhaseDurations();
            sum.compose += p.compose, sum.outputs += p.outputs, sum.preview += p.preview;
            sum.commit += p.commit, sum.present += p.present;
        }
    }).join();
    countFrames(state);
    const double n = double(std::max<benchmark::IterationCount>(1, state.iterations())) / 1e3;
    state.counters["compose_ms"] = sum.compose / n;
    state.counters["outputs_ms"] = sum.outputs / n;
    state.counters["preview_ms"] = sum.preview / n;
    state.counters["commit_ms"] = sum.commit / n;
    state.counters["present_ms"] = sum.present / n;
    if (view.texture() != controller->picture)
        state.SkipWithError("the step did not take the composed picture");
}

BENCHMARK(BM_ReferenceTwoDraws1080p)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LayerFrom2vuy1080p)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReferenceOneDraw1080p)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Dissolve1080p)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FrameStep1080p)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    auto device = GpuDevice::createSystemDefaultDevice();
    if (!device)
        return 1;
    gGpu = std::make_unique<QVTMetalManager>(device);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    gGpu.reset();
    return 0;
}
