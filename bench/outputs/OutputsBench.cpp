// Frames per second of the full pass at 1080p: 8 cue layers and a dissolve composed, then two
// 1080p outputs (one a screen window, one frame sharing with its read-back), the preview, commit,
// present and the outputs' hand-over, with the time of each phase. Beside it, in the same run
// and timed the same way, a reference with the bare GPU layer: the same 8 textured draws, two
// copies into two targets and one read-back. Each checks a pixel of its result.
//
//   xvfb-run -a -s "-screen 0 1920x1080x24" outputs_bench

#include "Controller/KavioVideoItemManagerInterface.h"
#include "Cue/KavioVideoItem.h"
#include "Outputs/KavioOutputSetupControls.h"
#include "Outputs/KavioVideoOutputManager.h"
#include "Rendering/KavioMetalTransitionRenderer.h"
#include "Rendering/QVTMTKView.h"
#include "Rendering/QVTMetalLayerRenderer.h"
#include "Rendering/QVTMetalManager.h"

#include "DispatchQueue.h"
#include "GpuCommandBuffer.h"

#include <QApplication>
#include <QLineEdit>

#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>
#include <vector>

namespace {

constexpr std::uint32_t kWidth = 1920;
constexpr std::uint32_t kHeight = 1080;
constexpr int kLayers = 8;
std::unique_ptr<QVTMetalManager> gGpu;

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::shared_ptr<GpuTexture> filledTexture(std::array<std::uint8_t, 4> bgra)
{
    auto texture = gGpu->device()->newTexture({GpuPixelFormat::BGRA8Unorm, kWidth, kHeight});
    std::vector<std::uint8_t> bytes(std::size_t(kWidth) * kHeight * 4);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = bgra[i % 4];
    texture->replaceRegion({0, 0, kWidth, kHeight}, bytes.data(), kWidth * 4);
    return texture;
}

int redAt(const GpuTexture& texture, std::uint32_t x, std::uint32_t y)
{
    std::uint8_t bgra[4] = {};
    texture.getBytes(bgra, 4, {x, y, 1, 1});
    return bgra[2];
}

class Cue : public KavioVideoItem {
public:
    explicit Cue(std::shared_ptr<GpuTexture> picture)
        : KavioVideoItem([](const QVTOSCMessage&) {})
        , picture_(std::move(picture))
    {
    }
    std::shared_ptr<GpuTexture> displayTexture() const override { return picture_; }

private:
    std::shared_ptr<GpuTexture> picture_;
};

// Composes 8 layers and a dissolve between the first two, as the cue list does each frame.
class Controller : public KavioVideoItemManagerInterface {
public:
    Controller()
    {
        for (int i = 0; i < kLayers; ++i) {
            frames.push_back(filledTexture({0, 0, std::uint8_t(i % 2 ? 0 : 255), 255}));
            layers.push_back(std::make_unique<QVTMetalLayerRenderer>(QSizeF(kWidth, kHeight), false, false, false,
                                                                     false, *gGpu));
        }
        transition = std::make_unique<KavioMetalTransitionRenderer>(QSizeF(kWidth, kHeight), false,
                                                                    KavioTransitionTypeDissolve, *gGpu);
        transition->setProgress(0.0f);
    }
    void createCurrentTextureAtTime(double) override
    {
        for (int i = 0; i < kLayers; ++i)
            layers[std::size_t(i)]->renderWithTexture(frames[std::size_t(i)], settings);
        if (!from) {
            from = std::make_shared<Cue>(layers[0]->texture());
            to = std::make_shared<Cue>(layers[1]->texture());
            transition->setSourceItem(from);
            transition->setDestinationItem(to);
        }
        transition->render();
    }
    std::shared_ptr<GpuTexture> textureName() const override { return transition->texture(); }
    bool isLoadingProject() const override { return false; }
    bool shouldEnablePauseAtEndBecauseOfOldProject() const override { return false; }
    void setHasUnsavedChanges(bool) override {}
    QSizeF renderSize() const override { return {double(kWidth), double(kHeight)}; }
    std::shared_ptr<KavioVideoItem> itemWithUID(const QString&) const override { return nullptr; }
    double secondsForSMPTEString(const QString&) const override { return 0; }
    void selectAndScrollToItemAtCueID(const QString&) override {}
    std::shared_ptr<QVTClock> masterClock() const override { return nullptr; }
    double defaultNonMovieCueDuration() const override { return 0; }
    bool useHighBitDepthRendering() const override { return false; }
    long deinterlaceMode() const override { return 0; }
    std::shared_ptr<KavioVideoItem> currentItem() const override { return nullptr; }
    void stopPlaybackWithCompletedHandler(std::function<void()>) override {}
    KavioVideoItemPreferencesControllerInterface* itemPreferencesController() const override { return nullptr; }
    void replaceItem(const std::shared_ptr<KavioVideoItem>&) override {}
    std::shared_ptr<KavioVideoOutputManagerInterface> videoOutputManager() const override { return outputs; }
    std::int32_t renderingFPS() const override { return 60; }

    std::vector<std::shared_ptr<GpuTexture>> frames;
    std::vector<std::unique_ptr<QVTMetalLayerRenderer>> layers;
    std::unique_ptr<KavioMetalTransitionRenderer> transition;
    std::shared_ptr<Cue> from, to;
    QVTLayerSettings settings;
    std::shared_ptr<KavioVideoOutputManager> outputs;
};

void BM_FullPassTwoOutputs1080p(benchmark::State& state)
{
    auto controller = std::make_shared<Controller>();
    controller->outputs = std::make_shared<KavioVideoOutputManager>(*gGpu, nullptr);
    auto& outputs = *controller->outputs;
    outputs.setVideoManager(controller);
    outputs.initManager();
    outputs.controls().screenRowsField->setText("1");
    outputs.controls().screenColsField->setText("2");
    outputs.changeNumberOfScreensManually();
    outputs.undoChangeScreen(outputs.screenNamesAndInfo().front(), 1);
    outputs.undoChangeScreen({QStringLiteral("Syphon"), {}}, 2);
    outputs.outputObjects()[0]->changeFrameIfNeeded(QRectF(0, 0, kWidth, kHeight));
    outputs.toggleFullscreen();
    QVTMTKView view(controller, *gGpu);
    view.resize(480, 270);
    view.show();
    for (int i = 0; i < 200 && !view.isExposed(); ++i)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    auto sharing = outputs.outputObjects()[1];

    QVTMTKView::PhaseDurations sum;
    double completion = 0, handOver = 0;
    std::thread([&] {
        for (auto _ : state) {
            view.renderIfCanAtTime(0);
            const auto p = view.lastPhaseDurations();
            sum.compose += p.compose, sum.outputs += p.outputs, sum.commit += p.commit, sum.present += p.present;
            double t = now();
            gGpu->currentCommandBuffer()->waitUntilCompleted();
            completion += now() - t;
            t = now();
            // The copy for the sink and its read-back are queued behind the frame: one more
            // read-back returns once they are done.
            if (auto copy = sharing->outputTexture())
                redAt(*copy, 0, 0);
            handOver += now() - t;
        }
    }).join();
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    const double n = double(std::max<benchmark::IterationCount>(1, state.iterations())) / 1e3;
    state.counters["compose_ms"] = sum.compose / n;
    state.counters["outputs_ms"] = sum.outputs / n;
    state.counters["commit_ms"] = sum.commit / n;
    state.counters["gpu_ms"] = completion / n;
    state.counters["present_ms"] = sum.present / n;
    state.counters["handover_ms"] = handOver / n;
    auto copy = sharing->outputTexture();
    if (!copy || redAt(*copy, 960, 540) != 255)
        state.SkipWithError("the frame-sharing output holds no picture");
    outputs.toggleFullscreen();
}

void BM_ReferenceDrawsCopiesReadBack1080p(benchmark::State& state)
{
    std::vector<std::shared_ptr<GpuTexture>> sources;
    for (int i = 0; i < kLayers; ++i)
        sources.push_back(filledTexture({0, 0, 255, 255}));
    auto composed = gGpu->device()->newTexture({GpuPixelFormat::BGRA8Unorm, kWidth, kHeight});
    std::shared_ptr<GpuTexture> targets[2] = {gGpu->device()->newTexture({GpuPixelFormat::BGRA8Unorm, kWidth, kHeight}),
                                              gGpu->device()->newTexture({GpuPixelFormat::BGRA8Unorm, kWidth, kHeight})};
    GpuRenderPipelineDescriptor descriptor;
    descriptor.vertexFunction = gGpu->library()->newFunction("vertexShaderDisplay");
    descriptor.fragmentFunction = gGpu->library()->newFunction("textureToScreenSamplingShader");
    auto pipeline = gGpu->library()->newRenderPipelineState(descriptor);
    const float quad[16] = {-1, -1, 0, 1, 1, -1, 1, 1, -1, 1, 0, 0, 1, 1, 1, 0};
    std::vector<std::uint8_t> readBack(std::size_t(kWidth) * kHeight * 4);
    for (auto _ : state) {
        gGpu->createCurrentCommandBuffer();
        auto buffer = gGpu->currentCommandBuffer();
        for (const auto& source : sources) {
            auto encoder = buffer->renderCommandEncoder({composed, GpuLoadAction::Clear, {}});
            encoder->setRenderPipelineState(pipeline);
            encoder->setFragmentTexture(source, 0);
            encoder->setVertexBytes(quad, sizeof quad, 0);
            encoder->drawPrimitives(GpuPrimitiveType::TriangleStrip, 0, 4);
            encoder->endEncoding();
        }
        auto blit = buffer->blitCommandEncoder();
        for (const auto& target : targets)
            blit->copyFromTexture(composed, {0, 0, kWidth, kHeight}, target, 0, 0);
        blit->endEncoding();
        buffer->commit();
        buffer->waitUntilCompleted();
        targets[1]->getBytes(readBack.data(), kWidth * 4, {0, 0, kWidth, kHeight});
    }
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    if (readBack[std::size_t(540 * kWidth + 960) * 4 + 2] != 255)
        state.SkipWithError("the reference drew nothing");
}

BENCHMARK(BM_ReferenceDrawsCopiesReadBack1080p)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FullPassTwoOutputs1080p)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
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
