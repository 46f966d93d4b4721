// The cue's side of the frame composition with recording renderers and live sources: where each
// media type's picture comes from, what the layer renderer is given, the render-size reaction
// (ranges read back from a real OSC-query server over HTTP) and the web-page pass-throughs.

#include "CueRendererFakes.h"
#include "CueTestSupport.h"
#include "Cue/KavioLiveSourceInterfaces.h"
#include "FakeZeroconf.h"
#include "RecordingBrowserSource.h"

#include "DispatchQueue.h"
#include "GpuDevice.h"
#include "GpuTexture.h"
#include "QVTOSCQueryServer.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

namespace {

// A picture of a format and size filled with one byte value.
VideoFrameRef frameOf(MediaPixelFormat format, int width, int height, int bytesPerRow = 0)
{
    const int stride = bytesPerRow ? bytesPerRow : bytesPerRowFor(format, width);
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(std::size_t(stride) * height, std::uint8_t(128));
    return std::make_shared<VideoFrame>(format, width, height, stride, bytes->data(), MediaTime::zero(), bytes);
}

// A texture object that is never drawn: the recording renderers only pass it on. Never freed, as
// it has no device to free it on.
std::shared_ptr<GpuTexture> standInTexture(std::uint32_t width = 64, std::uint32_t height = 32)
{
    static GpuTexture* texture = new GpuTexture(nullptr, 0, GpuTextureDescriptor{GpuPixelFormat::BGRA8Unorm, width, height});
    return std::shared_ptr<GpuTexture>(texture, [](GpuTexture*) {});
}

struct FakeCameraManager : KavioCameraManagerInterface {
    VideoFrameRef primary, secondary;
    VideoFrameRef videoSampleBufferCopy() override { return primary; }
    VideoFrameRef videoSampleBufferSecondary() override { return secondary; }
};

struct FakeNDIReceiver : KavioNDIReceiverInterface {
    VideoFrameRef next;
    bool alpha = false, yuv = false;
    VideoFrameRef pixelBuffer() override { return std::exchange(next, nullptr); }
    bool hasAlpha() const override { return alpha; }
    bool isYUV() const override { return yuv; }
};

struct FakeTextureSource : KavioTextureSourceInterface {
    std::shared_ptr<GpuTexture> frame;
    std::shared_ptr<GpuTexture> texture() override { return frame; }
};

struct FrameCue {
    RecordingRenderers renderers;
    RecordingOSCOutput osc;
    std::shared_ptr<FakeKavioVideoItemManager> controller = std::make_shared<FakeKavioVideoItemManager>();
    std::shared_ptr<KavioVideoItem> cue = std::make_shared<KavioVideoItem>(osc.sender());

    explicit FrameCue(int type)
    {
        cue->setManager(controller);
        cue->setMediaType(type);
        cue->setIndex(7);
    }
    ~FrameCue() { KavioCameraManagerInterface::setSharedManager(nullptr); }
    VideoFrameRef take()
    {
        VideoFrameRef frame;
        cue->pixelBufferQueue().sync([&] { frame = cue->pixelBufferCopy(); });
        return frame;
    }
};

TEST(KavioVideoItemFrames, CameraFramesAndTheirSourceSize)
{
    FrameCue c(KavioMediaTypeCamera);
    c.cue->setSourceSize(QSizeF(640, 360));
    EXPECT_EQ(c.take(), nullptr);  // no camera manager yet
    EXPECT_EQ(c.cue->sourceSize(), QSizeF(1, 1));

    const auto cameras = std::make_shared<FakeCameraManager>();
    KavioCameraManagerInterface::setSharedManager(cameras);
    EXPECT_EQ(c.take(), nullptr);  // no frame delivered yet
    EXPECT_EQ(c.cue->sourceSize(), QSizeF(1, 1));

    cameras->primary = frameOf(MediaPixelFormat::YUV422_8, 64, 32);
    cameras->secondary = frameOf(MediaPixelFormat::BGRA, 48, 16);
    EXPECT_EQ(c.take(), cameras->primary);
    EXPECT_EQ(c.cue->sourceSize(), QSizeF(64, 32));
    c.cue->setIsSecondaryCamera(true);
    EXPECT_EQ(c.take(), cameras->secondary);
    EXPECT_EQ(c.cue->sourceSize(), QSizeF(48, 16));
}

TEST(KavioVideoItemFrames, HighBitDepthConvertsOtherThanDeckLinkCamerasToV210)
{
    FrameCue c(KavioMediaTypeCamera);
    const auto cameras = std::make_shared<FakeCameraManager>();
    KavioCameraManagerInterface::setSharedManager(cameras);
    c.controller->highBitDepth = true;
    cameras->primary = frameOf(MediaPixelFormat::YUV422_8, 64, 32);

    auto converted = c.take();
    ASSERT_NE(converted, nullptr);
    EXPECT_EQ(converted->pixelFormat(), MediaPixelFormat::YUV422_10);
    EXPECT_EQ(converted->width(), 64);
    EXPECT_EQ(converted.use_count(), 1);  // the caller's alone: dropping it frees it

    c.cue->setIsDeckLinkDevice(true);
    EXPECT_EQ(c.take(), cameras->primary);

    // A frame that cannot be converted (rows shorter than its width) is dropped, never read past.
    c.cue->setIsDeckLinkDevice(false);
    c.cue->setSourceSize(QSizeF(64, 32));
    cameras->primary = frameOf(MediaPixelFormat::BGRA, 64, 4, 16);
    EXPECT_EQ(c.take(), nullptr);
    EXPECT_EQ(c.cue->sourceSize(), QSizeF(64, 32));
}

TEST(KavioVideoItemFrames, NDIFramesComeThroughTheReceiverAndItsFlags)
{
    FrameCue c(KavioMediaTypeNDI);
    EXPECT_EQ(c.take(), nullptr);  // no receiver
    EXPECT_EQ(c.cue->sourceSize(), QSizeF(1, 1));

    const auto receiver = std::make_shared<FakeNDIReceiver>();
    c.cue->setNDIReceiver(receiver);
    receiver->next = frameOf(MediaPixelFormat::YUV422_8, 80, 40);
    receiver->yuv = true;
    receiver->alpha = true;
    EXPECT_NE(c.take(), nullptr);
    EXPECT_EQ(c.cue->sourceSize(), QSizeF(80, 40));
    EXPECT_TRUE(c.cue->isYUV());
    EXPECT_TRUE(c.cue->hasAlpha());

    // No new frame: nothing drawn, the size kept, the YUV flag still copied.
    receiver->yuv = false;
    EXPECT_EQ(c.take(), nullptr);
    EXPECT_EQ(c.cue->sourceSize(), QSizeF(80, 40));
    EXPECT_FALSE(c.cue->isYUV());
}

TEST(KavioVideoItemFrames, TextureSourcesAndStills)
{
    FrameCue syphon(KavioMediaTypeSyphon);
    EXPECT_EQ(syphon.cue->syphonSourceTexture(), nullptr);
    const auto client = std::make_shared<FakeTextureSource>();
    client->frame = standInTexture();
    syphon.cue->setSyphonClient(client);
    EXPECT_EQ(syphon.cue->syphonSourceTexture(), client->frame);
    EXPECT_EQ(syphon.cue->sourceSize(), QSizeF(64, 32));
    EXPECT_EQ(syphon.take(), nullptr);  // texture sources give no pixel buffer

    FrameCue browser(KavioMediaTypeBrowser);
    EXPECT_EQ(browser.cue->browserSourceTexture(), nullptr);

    FrameCue audio(KavioMediaTypeAudio);
    audio.cue->setSourceSize(QSizeF(320, 240));
    EXPECT_EQ(audio.take(), nullptr);
    EXPECT_EQ(audio.cue->sourceSize(), QSizeF(320, 240));
}

TEST(KavioVideoItemFrames, TheLayerRendererGetsTheCuesSettings)
{
    FrameCue c(KavioMediaTypeStill);
    c.controller->masterFader = 0.5f;
    c.cue->setPixelAspect(1.5f);
    c.cue->setGeometryScaleMode(2);
    c.cue->setGeometryOrigin(1);
    c.cue->setGeometryScaleH(0.25f);
    c.cue->setGeometryScaleV(-0.5f);
    c.cue->setGeometryPosX(0.1f);
    c.cue->setGeometryPosY(-0.2f);
    c.cue->setGeometryRotate(30.0f);
    c.cue->setBrightness(0.1f);
    c.cue->setContrast(0.2f);
    c.cue->setHue(0.3f);
    c.cue->setSaturation(-0.4f);
    c.cue->setVibrance(0.5f);
    c.cue->setGeometryCrop({0.1f, 0.2f, 0.3f, 0.4f});
    c.cue->setOpacity(0.8f);
    c.cue->setFadeOpacity(0.5f);
    c.cue->setSourceSize(QSizeF(640, 480));

    c.cue->renderLayerControlsWithMTLTexture(nullptr);
    EXPECT_TRUE(c.renderers.layers.empty());
    const auto texture = standInTexture();
    c.cue->renderLayerControlsWithMTLTexture(texture);
    ASSERT_EQ(c.renderers.layers.size(), 2u);  // the normal and the helper side
    const auto& layer = *c.renderers.layers[0];
    EXPECT_EQ(layer.inputSize, QSizeF(640, 480));
    EXPECT_EQ(layer.outputSize, QSizeF(1920, 1080));
    ASSERT_EQ(layer.renders.size(), 1u);
    EXPECT_EQ(layer.sources[0], texture);
    const QVTLayerSettings& s = layer.renders[0];
    EXPECT_FLOAT_EQ(s.pixelAspectRatio, 1.5f);
    EXPECT_EQ(s.sizingMode, 2);
    EXPECT_EQ(s.transformOrigin, 1);
    EXPECT_FLOAT_EQ(s.scaleX, 1.25f);
    EXPECT_FLOAT_EQ(s.scaleY, 0.5f);
    EXPECT_FLOAT_EQ(s.translationX, 0.1f);
    EXPECT_FLOAT_EQ(s.translationY, -0.2f);
    EXPECT_FLOAT_EQ(s.rotation, 30.0f);
    EXPECT_FLOAT_EQ(s.brightness, 0.1f);
    EXPECT_FLOAT_EQ(s.contrast, 0.2f);
    EXPECT_FLOAT_EQ(s.hue, 0.3f);
    EXPECT_FLOAT_EQ(s.saturation, 0.6f);
    EXPECT_FLOAT_EQ(s.vibrance, 0.5f);
    EXPECT_FLOAT_EQ(s.cropTop, 0.1f);
    EXPECT_FLOAT_EQ(s.cropRight, 0.2f);
    EXPECT_FLOAT_EQ(s.cropBottom, 0.3f);
    EXPECT_FLOAT_EQ(s.cropLeft, 0.4f);
    EXPECT_FLOAT_EQ(s.opacity, 0.2f);  // 0.8 x 0.5 x the master fader's 0.5

    // The helper side draws while the cue crosses into its own next pass.
    c.cue->setShouldOperateWithTransitionHelper(true);
    c.cue->renderLayerControlsWithMTLTexture(texture);
    EXPECT_EQ(c.renderers.layers[1]->renders.size(), 1u);
    c.cue->setShouldOperateWithTransitionHelper(false);

    // A flipped YUV flag rebuilds both renderers, once.
    c.cue->setIsYUV(true);
    c.cue->renderLayerControlsWithMTLTexture(texture);
    c.cue->renderLayerControlsWithMTLTexture(texture);
    ASSERT_EQ(c.renderers.layers.size(), 4u);
    EXPECT_TRUE(c.renderers.layers[2]->yuvToRGB);
    EXPECT_EQ(c.renderers.layers[2]->renders.size(), 2u);

    // The display texture clears a blank layer first.
    c.renderers.layers[2]->blank = true;
    c.cue->displayTexture();
    EXPECT_EQ(c.renderers.layers[2]->clears, 1);
    c.cue->helperTexture();
    EXPECT_EQ(c.renderers.layers[3]->clears, 0);

    // The source size reaches both renderers.
    c.cue->setSourceSize(QSizeF(100, 50));
    EXPECT_EQ(c.renderers.layers[2]->inputSize, QSizeF(100, 50));
    EXPECT_EQ(c.renderers.layers[3]->inputSize, QSizeF(100, 50));
}

TEST(KavioVideoItemFrames, ARenderSizeChangeResizesTheLayersAndTheAdvertisedRanges)
{
    using nlohmann::json;
    FrameCue c(KavioMediaTypeStill);
    QVTOSCQueryServer server("Kavio", 0, "/", std::make_shared<FakeZeroconf>());
    ASSERT_TRUE(server.isRunning());
    c.controller->queryServer = &server;
    for (const char* name : {"posXAsPixels", "posYAsPixels", "cropTopAsPixels", "cropBottomAsPixels",
                             "cropLeftAsPixels", "cropRightAsPixels"})
        server.addOSCAddress(QStringLiteral("/kavio/7/%1").arg(QLatin1String(name)), "i", 0, 1, "");
    c.cue->renderLayerControlsWithMTLTexture(standInTexture());
    const auto browser = std::make_shared<RecordingBrowserSource>();
    c.cue->setBrowserSource(browser);

    const auto range = [&](const char* name) {
        httplib::Client client("127.0.0.1", server.port());
        client.set_connection_timeout(2);
        client.set_read_timeout(2);
        const auto reply = client.Get(QStringLiteral("/kavio/7/%1").arg(QLatin1String(name)).toStdString().c_str());
        if (!reply || reply->status != 200)
            return json();
        return json::parse(reply->body)["RANGE"][0];
    };

    c.controller->size = QSizeF(1920, 1080);
    c.cue->renderSizeChanged();
    EXPECT_EQ(range("cropTopAsPixels"), (json{{"MIN", 540}, {"MAX", 1080}}));
    EXPECT_EQ(range("posXAsPixels"), (json{{"MIN", -1920}, {"MAX", 1920}}));
    EXPECT_EQ(range("cropRightAsPixels"), (json{{"MIN", 960}, {"MAX", 1920}}));
    EXPECT_EQ(c.renderers.layers[0]->layerSize, QSizeF(1920, 1080));
    EXPECT_EQ(c.renderers.layers[1]->layerSize, QSizeF(1920, 1080));
    EXPECT_EQ(browser->renderSizes.back(), QSizeF(1920, 1080));

    // Sizes nothing can render at are ignored.
    for (const QSizeF bad : {QSizeF(0, 0), QSizeF(20000, 1080)}) {
        c.controller->size = bad;
        c.cue->renderSizeChanged();
    }
    EXPECT_EQ(c.renderers.layers[0]->layerSize, QSizeF(1920, 1080));
    EXPECT_EQ(range("posYAsPixels"), (json{{"MIN", -1080}, {"MAX", 1080}}));
}

TEST(KavioVideoItemFrames, TheWebPageSourcesSettingsPassThrough)
{
    FrameCue c(KavioMediaTypeBrowser);
    EXPECT_EQ(c.cue->browserRenderSizeMultiplierTag(), 0);
    EXPECT_FALSE(c.cue->browserNeedsOnloadOnPause());
    c.cue->setBrowserCustomCSS("body {}");  // without a source: nothing

    const auto browser = std::make_shared<RecordingBrowserSource>();
    c.cue->setBrowserSource(browser);
    c.cue->setBrowserCustomCSS("body {}");
    EXPECT_EQ(c.cue->browserCustomCSS(), "body {}");
    c.cue->setBrowserNeedsUnloadOnPause(true);
    EXPECT_TRUE(c.cue->browserNeedsOnloadOnPause());
    c.cue->setBrowserRenderSizeMultiplierTag(2);
    EXPECT_EQ(c.cue->browserRenderSizeMultiplierTag(), 2);
    EXPECT_EQ(browser->renderSizes, QList<QSizeF>{QSizeF(1920, 1080)});  // resized at once

    // After a project load: not current and unloading on pause unloads; otherwise stops rendering.
    c.cue->handleBrowserSourceAfterLoading();
    EXPECT_EQ(browser->calls, QStringList{"unload"});
    browser->unload = false;
    c.cue->handleBrowserSourceAfterLoading();
    EXPECT_EQ(browser->calls.last(), "render 0");
    browser->calls.clear();
    // Becoming current starts the page rendering; after a load a current cue's page is left so.
    c.cue->markAsCurrent(true);
    EXPECT_EQ(browser->calls, QStringList{"render 1"});
    browser->calls.clear();
    c.cue->handleBrowserSourceAfterLoading();
    EXPECT_TRUE(browser->calls.isEmpty());
}

}  // namespace
