// The shared GPU manager on a real device.

#include "GpuTestDevice.h"
#include "Rendering/QVTMetalManager.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

namespace {

bool allZero(const GpuTexture& texture)
{
    const std::size_t row = GpuPixelFormats::bytesPerRow(texture.pixelFormat(), texture.width());
    std::vector<std::uint8_t> bytes(row * texture.height(), 0xAB);
    return texture.getBytes(bytes.data(), row, {0, 0, texture.width(), texture.height()})
           && std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

void scribble(GpuTexture& texture)
{
    const std::size_t row = GpuPixelFormats::bytesPerRow(texture.pixelFormat(), texture.width());
    std::vector<std::uint8_t> bytes(row * texture.height(), 0x5A);
    ASSERT_TRUE(texture.replaceRegion({0, 0, texture.width(), texture.height()}, bytes.data(), row));
}

TEST(QVTMetalManager, ClearTextureIsReusedForSameSizeAndFormatAndZeroedEveryCall)
{
    REQUIRE_GPU_DEVICE();
    QVTMetalManager manager(GpuTestDevice::device());

    auto first = manager.clearTextureWithSize(64, 36);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->pixelFormat(), GpuPixelFormat::BGRA8Unorm);
    EXPECT_EQ(first->width(), 64u);
    EXPECT_EQ(first->height(), 36u);
    EXPECT_TRUE(allZero(*first));
    scribble(*first);
    auto again = manager.clearTextureWithSize(64, 36);
    EXPECT_EQ(again, first);
    EXPECT_TRUE(allZero(*again));

    auto other = manager.clearTextureWithSize(32, 36);
    ASSERT_NE(other, nullptr);
    EXPECT_NE(other, first);
    EXPECT_EQ(other->width(), 32u);

    // High bit depth at the same size gives a half-float texture, zero over all 8 bytes a pixel.
    manager.setIsHighBitDepth(true);
    auto deep = manager.clearTextureWithSize(32, 36);
    ASSERT_NE(deep, nullptr);
    EXPECT_NE(deep, other);
    EXPECT_EQ(deep->pixelFormat(), GpuPixelFormat::RGBA16Float);
    scribble(*deep);
    EXPECT_EQ(manager.clearTextureWithSize(32, 36), deep);
    EXPECT_TRUE(allZero(*deep));

    EXPECT_EQ(manager.clearTextureWithSize(0, 36), nullptr);
}

TEST(QVTMetalManager, ClearTextureFromACompletionHandler)
{
    REQUIRE_GPU_DEVICE();
    QVTMetalManager manager(GpuTestDevice::device());
    auto shared = manager.clearTextureWithSize(16, 16);
    manager.createCurrentCommandBuffer();
    auto buffer = manager.currentCommandBuffer();
    ASSERT_NE(buffer, nullptr);
    std::promise<std::shared_ptr<GpuTexture>> fromHandler;
    buffer->addCompletedHandler([&] { fromHandler.set_value(manager.clearTextureWithSize(16, 16)); });
    buffer->commit();
    buffer->waitUntilScheduled();
    auto texture = fromHandler.get_future().get();
    EXPECT_EQ(texture, shared);
}

TEST(QVTMetalManager, CommandBufferPerFrameAndRemoveResources)
{
    REQUIRE_GPU_DEVICE();
    QVTMetalManager manager(GpuTestDevice::device());
    ASSERT_NE(manager.device(), nullptr);
    ASSERT_NE(manager.library(), nullptr);
    EXPECT_EQ(manager.currentCommandBuffer(), nullptr);
    manager.createCurrentCommandBuffer();
    auto first = manager.currentCommandBuffer();
    ASSERT_NE(first, nullptr);
    first->commit();
    first->waitUntilScheduled();
    EXPECT_EQ(manager.currentCommandBuffer(), first);  // the last one stays until the next frame
    manager.createCurrentCommandBuffer();
    EXPECT_NE(manager.currentCommandBuffer(), first);

    manager.removeResources();
    EXPECT_EQ(manager.commandQueue(), nullptr);
    manager.createCurrentCommandBuffer();
    EXPECT_EQ(manager.currentCommandBuffer(), nullptr);
}

TEST(QVTMetalManager, WithoutADeviceEverythingIsAbsent)
{
    QVTMetalManager manager(nullptr);
    EXPECT_EQ(manager.device(), nullptr);
    EXPECT_EQ(manager.commandQueue(), nullptr);
    EXPECT_EQ(manager.library(), nullptr);
    manager.createCurrentCommandBuffer();
    EXPECT_EQ(manager.currentCommandBuffer(), nullptr);
    EXPECT_EQ(manager.clearTextureWithSize(16, 16), nullptr);
}

TEST(QVTMetalManager, MatteColourIsOpaqueBlackAndNeverTorn)
{
    QVTMetalManager manager(nullptr);
    const QVTMatteColor initial = manager.matteColor();
    EXPECT_EQ(initial.red, 0.0);
    EXPECT_EQ(initial.green, 0.0);
    EXPECT_EQ(initial.blue, 0.0);
    EXPECT_EQ(initial.alpha, 1.0);

    const QVTMatteColor a{0.1, 0.2, 0.3, 1.0};
    const QVTMatteColor b{0.9, 0.8, 0.7, 1.0};
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 200000; ++i)
            manager.setMatteColor(i % 2 ? a : b);
        done = true;
    });
    long torn = 0;
    while (!done) {
        const QVTMatteColor c = manager.matteColor();
        const bool isA = c.red == a.red && c.green == a.green && c.blue == a.blue;
        const bool isB = c.red == b.red && c.green == b.green && c.blue == b.blue;
        const bool isInitial = c.red == 0.0 && c.green == 0.0 && c.blue == 0.0;
        torn += !(isA || isB || isInitial);
    }
    writer.join();
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(manager.matteColor().red, a.red);
}

// The shared device ends with the application object: a render thread left running into the
// exit crashed in the GL driver the exit was unloading, on a texture a static holder released.
TEST(QVTMetalManager, TheSharedDeviceEndsWithTheApplicationObject)
{
    REQUIRE_GPU_DEVICE();
    QProcess probe;
    probe.setProcessChannelMode(QProcess::ForwardedChannels);
    probe.start(QStringLiteral(KAVIO_GPU_EXIT_PROBE), {});
    ASSERT_TRUE(probe.waitForFinished(60'000));
    EXPECT_EQ(probe.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(probe.exitCode(), 0);
}

}  // namespace
