// Frames per second of the full pass at 1080p: 8 cue layers and a dissolve composed, then two
// 1080p outputs (one a screen window, one frame sharing with its read-back, on a private PipeWire
// session), the preview, commit, present and the outputs' hand-over, with the time of each phase.
// Beside it, in the same run and timed the same way, a reference in plain OpenGL on the same
// context: the same 8 textured draws, two copies into two targets and one read-back. Each checks
// a pixel of its result.
//
//   xvfb-run -a -s "-screen 0 1920x1080x24" outputs_bench

#include "FakeRenderedCue.h"
#include "IdleVideoManager.h"
#include "Outputs/KavioOutputSetupControls.h"
#include "Views/KavioControllableTextField.h"
#include "Outputs/KavioVideoOutputManager.h"
#include "Rendering/KavioMetalTransitionRenderer.h"
#include "Rendering/QVTMTKView.h"
#include "Rendering/QVTMetalLayerRenderer.h"
#include "Rendering/QVTMetalManager.h"

#include "DispatchQueue.h"
#include "GpuCommandBuffer.h"

#include "PipeWireTestServer.h"

#include <QApplication>
#include <QLineEdit>
#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>

#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <iterator>
#include <utility>
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

// Composes 8 layers and a dissolve between the first two, as the cue list does each frame.
class Controller : public IdleVideoManager {
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
            from = std::make_shared<FakeRenderedCue>(layers[0]->texture());
            to = std::make_shared<FakeRenderedCue>(layers[1]->texture());
            transition->setSourceItem(from);
            transition->setDestinationItem(to);
        }
        transition->render();
    }
    std::shared_ptr<GpuTexture> textureName() const override { return transition->texture(); }
    QSizeF renderSize() const override { return {double(kWidth), double(kHeight)}; }
    std::shared_ptr<KavioVideoOutputManagerInterface> videoOutputManager() const override { return outputs; }
    std::int32_t renderingFPS() const override { return 60; }

    std::vector<std::shared_ptr<GpuTexture>> frames;
    std::vector<std::unique_ptr<QVTMetalLayerRenderer>> layers;
    std::unique_ptr<KavioMetalTransitionRenderer> transition;
    std::shared_ptr<FakeRenderedCue> from, to;
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
        // Untimed: shader compilation and the first uses of every target (the view draws only
        // off the main thread).
        for (int i = 0; i < 5; ++i) {
            view.renderIfCanAtTime(0);
            gGpu->currentCommandBuffer()->waitUntilCompleted();
        }
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

// Plain OpenGL 3.3 on the device's own context (its render thread): the same 8 textured draws
// into one 1080p target, that target copied into two more with glBlitFramebuffer, and one of them
// read back with glReadPixels, waiting for glFinish.
class BareGL {
public:
    BareGL()
    {
        gGpu->device()->runOnRenderThread([this] {
            QOpenGLExtraFunctions& gl = *QOpenGLContext::currentContext()->extraFunctions();
            const char* vertex = "#version 330 core\n"
                                 "layout(location = 0) in vec2 position;\n"
                                 "out vec2 uv;\n"
                                 "void main() { uv = position * 0.5 + 0.5; gl_Position = vec4(position, 0.0, 1.0); }\n";
            const char* fragment = "#version 330 core\n"
                                   "in vec2 uv; out vec4 colour; uniform sampler2D picture;\n"
                                   "void main() { colour = texture(picture, uv); }\n";
            program_ = gl.glCreateProgram();
            for (const auto& [type, source] : {std::pair{GLenum(GL_VERTEX_SHADER), vertex}, {GL_FRAGMENT_SHADER, fragment}}) {
                const GLuint shader = gl.glCreateShader(type);
                const char* text = source;
                gl.glShaderSource(shader, 1, &text, nullptr);
                gl.glCompileShader(shader);
                gl.glAttachShader(program_, shader);
                gl.glDeleteShader(shader);
            }
            gl.glLinkProgram(program_);
            const float quad[8] = {-1, -1, 1, -1, -1, 1, 1, 1};
            gl.glGenVertexArrays(1, &vertexArray_);
            gl.glBindVertexArray(vertexArray_);
            gl.glGenBuffers(1, &vertexBuffer_);
            gl.glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer_);
            gl.glBufferData(GL_ARRAY_BUFFER, sizeof quad, quad, GL_STATIC_DRAW);
            gl.glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 0, nullptr);
            gl.glEnableVertexAttribArray(0);
            gl.glBindVertexArray(0);
            std::vector<std::uint8_t> red(std::size_t(kWidth) * kHeight * 4);
            for (std::size_t i = 0; i < red.size(); i += 4)
                red[i + 2] = red[i + 3] = 255;
            gl.glGenTextures(GLsizei(std::size(textures_)), textures_);
            gl.glGenFramebuffers(GLsizei(std::size(framebuffers_)), framebuffers_);
            for (std::size_t i = 0; i < std::size(textures_); ++i) {
                gl.glBindTexture(GL_TEXTURE_2D, textures_[i]);
                gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
                gl.glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, kWidth, kHeight, 0, GL_BGRA, GL_UNSIGNED_BYTE,
                                i < kLayers ? red.data() : nullptr);
            }
            for (std::size_t i = 0; i < std::size(framebuffers_); ++i) {
                gl.glBindFramebuffer(GL_FRAMEBUFFER, framebuffers_[i]);
                gl.glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, textures_[kLayers + i], 0);
            }
            gl.glBindFramebuffer(GL_FRAMEBUFFER, 0);
        });
    }
    ~BareGL()
    {
        gGpu->device()->runOnRenderThread([this] {
            QOpenGLExtraFunctions& gl = *QOpenGLContext::currentContext()->extraFunctions();
            gl.glDeleteFramebuffers(GLsizei(std::size(framebuffers_)), framebuffers_);
            gl.glDeleteTextures(GLsizei(std::size(textures_)), textures_);
            gl.glDeleteBuffers(1, &vertexBuffer_);
            gl.glDeleteVertexArrays(1, &vertexArray_);
            gl.glDeleteProgram(program_);
        });
    }
    // One frame; answers the red of the read-back's centre pixel.
    int frame()
    {
        gGpu->device()->runOnRenderThread([this] {
            QOpenGLExtraFunctions& gl = *QOpenGLContext::currentContext()->extraFunctions();
            GLint previous = 0;
            gl.glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previous);
            gl.glBindFramebuffer(GL_FRAMEBUFFER, framebuffers_[0]);
            gl.glViewport(0, 0, kWidth, kHeight);
            gl.glClear(GL_COLOR_BUFFER_BIT);
            gl.glUseProgram(program_);
            gl.glBindVertexArray(vertexArray_);
            gl.glActiveTexture(GL_TEXTURE0);
            for (int i = 0; i < kLayers; ++i) {
                gl.glBindTexture(GL_TEXTURE_2D, textures_[i]);
                gl.glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
            }
            gl.glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffers_[0]);
            for (int target = 1; target <= 2; ++target) {
                gl.glBindFramebuffer(GL_DRAW_FRAMEBUFFER, framebuffers_[target]);
                gl.glBlitFramebuffer(0, 0, kWidth, kHeight, 0, 0, kWidth, kHeight, GL_COLOR_BUFFER_BIT, GL_NEAREST);
            }
            gl.glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffers_[2]);
            gl.glReadPixels(0, 0, kWidth, kHeight, GL_BGRA, GL_UNSIGNED_BYTE, readBack_.data());
            gl.glFinish();
            gl.glBindVertexArray(0);
            gl.glBindFramebuffer(GL_FRAMEBUFFER, GLuint(previous));
        });
        return readBack_[(std::size_t(kHeight / 2) * kWidth + kWidth / 2) * 4 + 2];
    }

private:
    GLuint program_ = 0, vertexArray_ = 0, vertexBuffer_ = 0;
    GLuint textures_[kLayers + 3] = {};  // the sources, the composed picture, the two targets
    GLuint framebuffers_[3] = {};
    std::vector<std::uint8_t> readBack_ = std::vector<std::uint8_t>(std::size_t(kWidth) * kHeight * 4);
};

void BM_ReferenceDrawsCopiesReadBack1080p(benchmark::State& state)
{
    BareGL bare;
    int red = bare.frame();  // untimed: the driver's first-use work
    for (auto _ : state)
        red = bare.frame();
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    if (red != 255)
        state.SkipWithError("the reference drew nothing");
}

BENCHMARK(BM_ReferenceDrawsCopiesReadBack1080p)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);
BENCHMARK(BM_FullPassTwoOutputs1080p)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5.0);

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // A private PipeWire session, so the frame-sharing output has its sink and read-back.
    if (!PipeWireTestServer::shared().isRunning())
        std::fprintf(stderr, "no PipeWire session (%s): frame sharing without its sink\n",
                     qPrintable(PipeWireTestServer::shared().reason()));
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
