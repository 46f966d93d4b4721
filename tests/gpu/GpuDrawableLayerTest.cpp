// The drawable layer on a real window under Xvfb: drawables follow the size and format, come
// from a ring of reused textures, and presents stop once the window is detached.

#include "GpuDrawableLayer.h"
#include "GpuTestDevice.h"
#include "GpuTexture.h"

#include <QGuiApplication>
#include <QWindow>

#include <gtest/gtest.h>

TEST(GpuDrawableLayer, DrawablesFollowSizeAndFormatAndReuseARing)
{
    REQUIRE_GPU_DEVICE();
    QWindow window;
    auto layer = GpuDrawableLayer::create(GpuTestDevice::device(), &window);
    ASSERT_NE(layer, nullptr);
    EXPECT_EQ(window.format().swapInterval(), 0);
    EXPECT_EQ(layer->nextDrawable(), nullptr) << "no size yet";

    layer->setDrawableSize(64, 36);
    std::vector<std::shared_ptr<GpuTexture>> textures;
    for (int i = 0; i < 4; ++i)
        textures.push_back(layer->nextDrawable()->texture());
    EXPECT_EQ(textures[0]->width(), 64u);
    EXPECT_EQ(textures[0]->pixelFormat(), GpuPixelFormat::BGRA8Unorm);
    EXPECT_NE(textures[0], textures[1]);
    EXPECT_EQ(textures[3], textures[0]) << "a ring of three";

    layer->setPixelFormat(GpuPixelFormat::RGBA16Float);
    layer->setDrawableSize(32, 18);
    auto changed = layer->nextDrawable()->texture();
    EXPECT_EQ(changed->pixelFormat(), GpuPixelFormat::RGBA16Float);
    EXPECT_EQ(changed->width(), 32u);
}

TEST(GpuDrawableLayer, PresentsReachTheWindowUntilDetached)
{
    REQUIRE_GPU_DEVICE();
    QWindow window;
    auto layer = GpuDrawableLayer::create(GpuTestDevice::device(), &window);
    window.resize(64, 36);
    window.show();
    for (int i = 0; i < 200 && !window.isExposed(); ++i)
        QGuiApplication::processEvents(QEventLoop::AllEvents, 10);
    layer->setDrawableSize(64, 36);

    auto drawable = layer->nextDrawable();
    drawable->present();
    drawable->present();  // once only
    GpuTestDevice::device()->runOnRenderThread([] {});
    EXPECT_EQ(layer->presentedCount(), 1u);

    layer->detach();
    layer->nextDrawable()->present();
    GpuTestDevice::device()->runOnRenderThread([] {});
    EXPECT_EQ(layer->presentedCount(), 1u);
}
