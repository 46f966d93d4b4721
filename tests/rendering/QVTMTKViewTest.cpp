// The preview's frame step with a recording controller and output manager, and the preview
// itself in a real window under Xvfb (a screenshot is saved for the developer to look at).

#include "CueTestSupport.h"
#include "RenderingTestSupport.h"
#include "Outputs/KavioVideoOutputManagerInterface.h"
#include "Rendering/KavioOverlayer.h"
#include "Rendering/QVTMTKView.h"

#include "Support/KavioAlert.h"

#include "DispatchQueue.h"
#include "GpuDevice.h"
#include "UserDefaults.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <gtest/gtest.h>

#include <QResizeEvent>

#include <thread>

namespace {

class RecordingOutputs : public KavioVideoOutputManagerInterface {
public:
    QSizeF size{320, 180};
    std::vector<std::shared_ptr<GpuTexture>> rendered;
    int presents = 0;

    void initManager() override {}
    void renderWithTexture(const std::shared_ptr<GpuTexture>& texture) override { rendered.push_back(texture); }
    void presentDrawables() override { ++presents; }
    QSizeF renderSize() const override { return size; }
    bool useHighBitDepthRendering() const override { return false; }
};

class RecordingController : public FakeKavioVideoItemManager {
public:
    std::shared_ptr<RecordingOutputs> outputs = std::make_shared<RecordingOutputs>();
    std::shared_ptr<GpuTexture> picture;
    bool skipForJump = false;
    std::vector<double> composedAt;
    int overlayRequests = 0;
    KavioOverlayer* overlayer = nullptr;  // draws the preview overlay when set

    void createCurrentTextureAtTime(double time) override { composedAt.push_back(time); }
    std::shared_ptr<GpuTexture> textureName() const override { return picture; }
    bool shouldSkipRenderingBecauseOfProcessingJump() const override { return skipForJump; }
    std::shared_ptr<GpuTexture> overlayPreviewTextureForSize(QSizeF size, bool absolute, const QString& fps) override
    {
        ++overlayRequests;
        return overlayer ? overlayer->renderWithSize(size, absolute, "00:00:12:05", "00:01:47:20", fps, nullptr) : nullptr;
    }
    std::shared_ptr<KavioVideoOutputManagerInterface> videoOutputManager() const override { return outputs; }
    std::int32_t renderingFPS() const override { return 60; }
};

class QVTMTKViewTest : public RenderingTest {
protected:
    void SetUpWithDevice() override
    {
        controller->picture = solid(320, 180, kRed);
    }

    std::unique_ptr<QVTMTKView> makeView(QSize size = {320, 180})
    {
        auto view = std::make_unique<QVTMTKView>(controller, *manager);
        view->resize(size);
        view->show();
        for (int i = 0; i < 200 && !view->isExposed(); ++i)
            QGuiApplication::processEvents(QEventLoop::AllEvents, 10);
        // On a busy X server the window can be exposed before its size arrives: deliver it now,
        // as the window system will, so every test starts from the view's real size.
        QResizeEvent resized(size, size);
        QCoreApplication::sendEvent(view.get(), &resized);
        return view;
    }

    // The frame step runs on the rendering thread, never the main thread; waits until what it
    // presented has reached the window.
    bool step(QVTMTKView& view, double time = 1.0)
    {
        bool rendered = false;
        std::thread([&] { rendered = view.renderIfCanAtTime(time); }).join();
        manager->device()->runOnRenderThread([] {});
        return rendered;
    }

    std::shared_ptr<RecordingController> controller = std::make_shared<RecordingController>();
};

TEST_F(QVTMTKViewTest, NothingWhileAProjectLoads)
{
    auto view = makeView();
    controller->loadingProject = true;
    EXPECT_FALSE(step(*view));
    EXPECT_EQ(manager->currentCommandBuffer(), nullptr) << "no command buffer opened";
    EXPECT_TRUE(controller->composedAt.empty());
    EXPECT_TRUE(controller->outputs->rendered.empty());
    EXPECT_EQ(controller->outputs->presents, 0);
}

TEST_F(QVTMTKViewTest, ComposesSendsToTheOutputsAndPresents)
{
    auto view = makeView();
    EXPECT_TRUE(step(*view, 2.5));
    EXPECT_EQ(controller->composedAt, std::vector<double>{2.5});
    ASSERT_EQ(controller->outputs->rendered.size(), 1u);
    EXPECT_EQ(controller->outputs->rendered[0], controller->picture);
    EXPECT_EQ(view->texture(), controller->picture);
    EXPECT_EQ(controller->outputs->presents, 1);
    EXPECT_EQ(manager->currentCommandBuffer()->status(), GpuCommandBuffer::Status::Completed);
}

TEST_F(QVTMTKViewTest, ShouldClearBlanksExactlyOneFrame)
{
    auto view = makeView({200, 100});
    view->setShouldClear(true);
    step(*view);
    EXPECT_FALSE(view->shouldClear());
    ASSERT_EQ(controller->outputs->rendered.size(), 1u);
    const auto blank = controller->outputs->rendered[0];
    EXPECT_EQ(blank, view->texture()) << "the preview and the outputs show the same blank";
    EXPECT_EQ(blank->width(), 200u) << "sized to the view";
    EXPECT_TRUE(near(pixel(*blank, 100, 50), kTransparent));
    step(*view);
    EXPECT_EQ(controller->outputs->rendered[1], controller->picture);
}

TEST_F(QVTMTKViewTest, AJumpSkipsTheOutputsPassButStillPresents)
{
    auto view = makeView();
    controller->skipForJump = true;
    EXPECT_TRUE(step(*view));
    EXPECT_TRUE(controller->outputs->rendered.empty());
    EXPECT_EQ(controller->outputs->presents, 1);
    EXPECT_EQ(view->texture(), controller->picture) << "the preview still shows the frame";
}

TEST_F(QVTMTKViewTest, WithoutAComposedPictureTheZeroTextureOfTheRenderSize)
{
    auto view = makeView();
    controller->picture.reset();
    controller->outputs->size = {640, 360};
    step(*view);
    ASSERT_EQ(controller->outputs->rendered.size(), 1u);
    EXPECT_EQ(controller->outputs->rendered[0]->width(), 640u);
    EXPECT_TRUE(near(pixel(*controller->outputs->rendered[0], 320, 180), kTransparent));
}

TEST_F(QVTMTKViewTest, OverlayOnlyForTheCueTimeOrTheFrameRate)
{
    auto& defaults = UserDefaults::standardUserDefaults();
    struct Case {
        bool cueTime, fps, subtitles;
        int requests;
    };
    for (const Case c : {Case{false, false, true, 0}, Case{true, false, false, 1}, Case{false, true, false, 1}}) {
        defaults.setBool(c.cueTime, "displayCueTimeOverlay");
        defaults.setBool(c.fps, "displayRenderingFPS");
        defaults.setBool(c.subtitles, "displaySubtitles");
        controller->overlayRequests = 0;
        auto view = makeView();
        step(*view);
        EXPECT_EQ(controller->overlayRequests, c.requests) << c.cueTime << c.fps << c.subtitles;
    }
    for (const char* key : {"displayCueTimeOverlay", "displayRenderingFPS", "displaySubtitles"})
        defaults.removeObjectForKey(key);
}

TEST_F(QVTMTKViewTest, PausedPreviewStillRendersTheOutputs)
{
    auto view = makeView();
    view->handleWindowFullscreenWillChangeState();
    controller->overlayRequests = 0;
    step(*view);
    EXPECT_EQ(controller->outputs->rendered.size(), 1u);
    EXPECT_EQ(controller->outputs->presents, 1);
    view->handleWindowFullscreenDidChangeState();
    step(*view);
    EXPECT_EQ(controller->outputs->presents, 2);
}

TEST_F(QVTMTKViewTest, PreviewScreenshotLetterboxesThePictureOverACheckerboardWithTheOverlay)
{
    // 16:9 picture in a 4:3 view: bands above and below. Its right half is half transparent.
    controller->outputs->size = {320, 180};
    controller->picture = filled(320, 180, [](std::uint32_t x, std::uint32_t y) {
        if (x >= 160)
            return Rgba{0, 0, 128, 128};  // premultiplied half-transparent blue
        return y < 90 ? kRed : Rgba{0, 200, 0, 255};
    });
    KavioOverlayer overlayer(*manager);
    controller->overlayer = &overlayer;
    UserDefaults::standardUserDefaults().setBool(true, "displayCueTimeOverlay");
    auto view = makeView({320, 240});
    UserDefaults::standardUserDefaults().removeObjectForKey("displayCueTimeOverlay");
    ASSERT_TRUE(step(*view));
    QGuiApplication::processEvents();
    const QImage shot = view->screen()->grabWindow(view->winId()).toImage();
    const QString path = QStringLiteral("preview-screenshot.png");
    shot.save(path);
    RecordProperty("screenshot", path.toStdString());
    ASSERT_EQ(shot.size(), QSize(320, 240));
    EXPECT_EQ(QColor(shot.pixel(160, 5)), QColor(51, 51, 51)) << "letterbox band in the clear colour";
    EXPECT_EQ(QColor(shot.pixel(80, 60)), QColor(255, 0, 0)) << "top-left of the picture, upright";
    EXPECT_EQ(QColor(shot.pixel(80, 180)), QColor(0, 200, 0));
    EXPECT_NE(QColor(shot.pixel(240, 120)).blue(), 0) << "blue over the checkerboard";
    EXPECT_EQ(controller->overlayRequests, 1);
    EXPECT_EQ(QColor(shot.pixel(17, 14)), QColor(85, 85, 85)) << "the elapsed-time box, dark grey, 5 % below the top";
}

TEST(QVTMTKViewWithoutGPU, AlertsAndRendersNothing)
{
    std::vector<KavioAlertSpec> shown;
    KavioAlert::setAnswerer([&](const KavioAlertSpec& spec) {
        shown.push_back(spec);
        return KavioAlertAnswer{};
    });
    QVTMetalManager noGpu(nullptr);
    auto controller = std::make_shared<RecordingController>();
    QVTMTKView view(controller, noGpu);
    DispatchQueue::runMainUntil([&] { return !shown.empty(); }, 10);
    KavioAlert::setAnswerer({});
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].messageText, "Metal is unsupported :(");
    EXPECT_EQ(shown[0].informativeText, "This app requires a Metal-compatible graphics card.");
    EXPECT_EQ(shown[0].buttons, QStringList{"Ok"});
    EXPECT_FALSE(view.renderIfCanAtTime(0));
    EXPECT_TRUE(controller->composedAt.empty());
}

TEST(QVTMTKViewGeometry, FitsTheRenderSizeIntoTheView)
{
    struct Case {
        QSizeF view;
        QPointF expected;
    };
    for (const auto& c : {Case{{800, 600}, {1, 0.75}}, Case{{1000, 1000}, {1, 0.5625}}, Case{{500, 1000}, {1, 0.28125}},
                          Case{{1920, 540}, {0.5, 1}}}) {
        const QPointF fit = QVTMTKView::fitQuad({1920, 1080}, c.view);
        EXPECT_FLOAT_EQ(float(fit.x()), float(c.expected.x())) << c.view.width() << "x" << c.view.height();
        EXPECT_FLOAT_EQ(float(fit.y()), float(c.expected.y())) << c.view.width() << "x" << c.view.height();
    }
}

TEST(QVTMTKViewGeometry, FrameRateLabelShowsTheNominalRateWhenClose)
{
    EXPECT_EQ(QVTMTKView::fpsLabel(59.2, 60), "60 fps");
    EXPECT_EQ(QVTMTKView::fpsLabel(60.6, 60), "60 fps");
    EXPECT_EQ(QVTMTKView::fpsLabel(55.0, 60), "55 fps");
    EXPECT_EQ(QVTMTKView::fpsLabel(24.97, 25), "25 fps");
    EXPECT_EQ(QVTMTKView::fpsLabel(12.4, 25), "12 fps");
}

}  // namespace
