// Real movie cues through their frame sources, the real layer and transition renderers and the
// controller's composition pass, on the run's GPU (Mesa under Xvfb), read back from textureName():
// the pictures carry counter25.mp4's bar codes.

#include "ControllerFakes.h"
#include "Cue/KavioPlayerItemVideoOutput.h"
#include "MediaFixtures.h"
#include "Rendering/KavioMetalTransitionRenderer.h"
#include "Rendering/QVTMetalLayerRenderer.h"
#include "RenderingTestSupport.h"

#include "Clock/QVTClock.h"
#include "DispatchQueue.h"
#include "MediaPlayer.h"
#include "VideoFrameSource.h"

#include <gtest/gtest.h>

namespace {

constexpr int kW = 320, kH = 240;  // the movies' own size: one texel per pixel

bool makeHapCounter(const std::string& name)
{
    return MediaFixtures::ffmpeg("-i " + MediaFixtures::path("counter25.mp4") + " -an -c:v hap -format hap " + name);
}

// ProRes 422 HQ: 10-bit 4:2:2 planes.
bool makeProResCounter(const std::string& name)
{
    return MediaFixtures::ffmpeg("-i " + MediaFixtures::path("counter25.mp4") +
                                 " -an -c:v prores_ks -profile:v 3 -pix_fmt yuv422p10le " + name);
}

// The frame at `seconds` converted to BGRA on the processor: what the picture must look like.
VideoFrameRef referenceFrame(const std::string& path, double seconds)
{
    VideoFrameSourceOptions options;
    options.pixelFormat = MediaPixelFormat::BGRA;
    auto source = VideoFrameSource::open(path, options);
    const MediaTime time = MediaTime::makeWithSeconds(seconds, 90000);
    if (!source)
        return nullptr;
    source->seekToTime(time);
    return source->waitForItemTime(time, 30.0) ? source->copyFrameForItemTime(time) : nullptr;
}

struct MovieSizedOutputs : KavioVideoOutputManagerInterface {
    void initManager() override {}
    void renderWithTexture(const std::shared_ptr<GpuTexture>&) override {}
    void presentDrawables() override {}
    QSizeF renderSize() const override { return {kW, kH}; }
    bool useHighBitDepthRendering() const override { return false; }
};

class CueFramesCompositionTest : public RenderingTest {
protected:
    void SetUpWithDevice() override
    {
        controllerTestHome();
        defaults = std::make_unique<UserDefaults>(settingsDir.filePath(QStringLiteral("test.conf")));
        QVTMetalManager& gpu = *manager;
        QVTMetalLayerRendererInterface::setFactory([&gpu](QSizeF size, bool yuv, bool hbd, bool flip, bool deinterlace) {
            return std::make_shared<QVTMetalLayerRenderer>(size, yuv, hbd, flip, deinterlace, gpu);
        });
        KavioMetalTransitionRendererInterface::setFactory([&gpu](QSizeF size, bool hbd, std::int32_t type) {
            return std::make_shared<KavioMetalTransitionRenderer>(size, hbd, type, gpu);
        });
        KavioPlayerItemVideoOutput::setDefaultMetalManager(&gpu);
        controller = KavioVideoItemManager::init(*defaults);
        controller->setMetalManager(gpu);
        KavioVideoItemManagerOutlets o;
        o.videoOutputManager = outputs;
        controller->setOutlets(o);
        controller->createTextureCache();
    }
    void TearDown() override
    {
        if (controller)
            controller->setCurrentItem(nullptr);
        DispatchQueue::drainMain();
        QVTMetalLayerRendererInterface::setFactory({});
        KavioMetalTransitionRendererInterface::setFactory({});
        KavioPlayerItemVideoOutput::setDefaultMetalManager(nullptr);
    }

    // A ready movie cue of the fixture, paused at `seconds`, appended to the list.
    std::shared_ptr<KavioVideoItem> cueAt(const std::string& path, double seconds)
    {
        auto cue = std::make_shared<KavioVideoItem>([](const QVTOSCMessage&) {});
        EXPECT_TRUE(cue->initMovieCue(QString::fromStdString(path), controller, {}));
        EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return cue->isReady(); }, 60.0));
        controller->insertItem(cue, controller->items()->size() + 1);
        seek(*cue, seconds);
        return cue;
    }
    static void seek(KavioVideoItem& cue, double seconds)
    {
        cue.seekToCMTime(MediaTime::makeWithSeconds(seconds, MediaTime::kCueTimescale));
        EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return !cue.isSeeking(); }, 60.0));
        DispatchQueue::runMainUntil([] { return false; }, 0.1);
    }
    // The composed picture of one pass, read back.
    VideoFrameRef composed()
    {
        frame([&] { controller->createCurrentTextureAtTime(1.0); });
        const auto texture = controller->textureName();
        EXPECT_NE(texture, nullptr);
        if (!texture)
            return nullptr;
        const auto rgba = pixels(*texture);
        auto bytes = std::make_shared<std::vector<std::uint8_t>>(rgba.size() * 4);
        for (std::size_t i = 0; i < rgba.size(); ++i) {
            std::uint8_t* p = bytes->data() + i * 4;
            p[0] = std::uint8_t(rgba[i].b), p[1] = std::uint8_t(rgba[i].g), p[2] = std::uint8_t(rgba[i].r);
            p[3] = std::uint8_t(rgba[i].a);
        }
        return std::make_shared<VideoFrame>(MediaPixelFormat::BGRA, int(texture->width()), int(texture->height()),
                                            int(texture->width()) * 4, bytes->data(), MediaTime::zero(), bytes);
    }
    int shownNumber()
    {
        const auto picture = composed();
        return picture ? MediaFixtures::frameNumberOf(*picture) : -1;
    }

    QTemporaryDir settingsDir;
    std::unique_ptr<UserDefaults> defaults;
    std::shared_ptr<MovieSizedOutputs> outputs = std::make_shared<MovieSizedOutputs>();
    std::shared_ptr<KavioVideoItemManager> controller;
};

TEST_F(CueFramesCompositionTest, AMovieCueAndAHapCueShowTheirCurrentFrame)
{
    for (const auto& path : {MediaFixtures::path("counter25.mp4"), MediaFixtures::madePath("cuehapcounter.mov", makeHapCounter)}) {
        const auto cue = cueAt(path, 0.4);
        controller->setCurrentItem(cue);
        EXPECT_EQ(shownNumber(), 10) << path;
        seek(*cue, 1.2);
        EXPECT_EQ(shownNumber(), 30) << path;
        controller->setCurrentItem(nullptr);
    }
}

TEST_F(CueFramesCompositionTest, TheOwnDissolveMixesBothCodesThenShowsTheIncomingOne)
{
    const auto path = MediaFixtures::path("counter25.mp4");
    const auto a = cueAt(path, 0.0), b = cueAt(path, 0.2);
    // Inside the transition the incoming cue is kept at the matching position.
    const auto incoming = [&] { return int(b->videoPlayer()->currentTime().seconds() * 25.0 + 1e-6); };
    a->changeTransitionToState(true);
    a->setTransitionTime(1.0);
    controller->buildItemQueue();
    ASSERT_EQ(a->nextItemToPlay(), b);
    const double length = a->transitionTime();
    const double duration = a->itemDuration();
    controller->setCurrentItem(a);

    // Half-way: A's own playhead and the master clock both half through the transition.
    const double half = duration - length / 2.0;
    seek(*a, half);
    controller->masterClock()->setClockTime(half);
    ASSERT_TRUE(a->isProcessingTransition());
    ASSERT_NEAR(a->transitionProgress(), 0.5, 0.03);
    const auto mixed = composed();
    ASSERT_NE(mixed, nullptr);
    const int frameA = int(half * 25.0);
    for (int bit = 0; bit < 8; ++bit) {
        const auto level = [](int number, int b) { return (number >> b & 1) ? 235.0 / 255.0 : 16.0 / 255.0; };
        const double expected = (level(frameA, bit) + level(incoming(), bit)) / 2.0;
        EXPECT_NEAR(MediaFixtures::brightnessAt(*mixed, 40 * bit + 20, 8), expected, 0.08) << "bit " << bit;
    }

    // At the end only the incoming picture shows.
    seek(*a, duration);
    controller->masterClock()->setClockTime(duration - 0.01);
    ASSERT_GE(a->transitionProgress(), 1.0);
    EXPECT_EQ(shownNumber(), incoming());
}

TEST_F(CueFramesCompositionTest, MovieCuesDrawTheDecodersPlanesInTheirOwnColours)
{
    struct Case {
        std::string path;
        GpuPixelFormat luma;  // the plane texture the pass filled
    };
    const Case cases[] = {
        {MediaFixtures::path("counter25.mp4"), GpuPixelFormat::R8Unorm},
        {MediaFixtures::madePath("cueprorescounter.mov", makeProResCounter), GpuPixelFormat::R16Unorm},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const auto cue = cueAt(c.path, 0.4);
        controller->setCurrentItem(cue);
        const auto picture = composed();
        ASSERT_NE(picture, nullptr);
        ASSERT_NE(controller->texA(), nullptr);
        EXPECT_EQ(controller->texA()->pixelFormat(), c.luma) << "the frame came as its decoder's planes";
        EXPECT_EQ(MediaFixtures::frameNumberOf(*picture), 10);

        const auto expected = referenceFrame(c.path, 0.4);
        ASSERT_NE(expected, nullptr);
        ASSERT_EQ(expected->width(), picture->width());
        ASSERT_EQ(expected->height(), picture->height());
        // Below the bar code: the test pattern's colours. Chroma filtered between its samples
        // differs a little at hard edges; everywhere else the two conversions agree.
        long total = 0, far = 0, count = 0;
        for (int y = 16; y < picture->height(); ++y)
            for (int x = 0; x < picture->width(); ++x)
                for (int channel = 0; channel < 3; ++channel) {
                    const int d = std::abs(int(picture->row(y)[4 * x + channel]) - int(expected->row(y)[4 * x + channel]));
                    total += d;
                    far += d > 24;
                    ++count;
                }
        EXPECT_LT(double(total) / double(count), 3.0);
        EXPECT_LT(double(far) / double(count), 0.02);

        seek(*cue, 1.2);
        EXPECT_EQ(shownNumber(), 30);
        controller->setCurrentItem(nullptr);
    }
}

}  // namespace
