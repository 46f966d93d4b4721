// Decoded frames into the two slot textures, and through a layer renderer.

#include "RenderingTestSupport.h"
#include "Rendering/KavioFrameSlots.h"
#include "Rendering/QVTMetalLayerRenderer.h"

#include "PixelPacking.h"

#include <gtest/gtest.h>

namespace {

// A frame of `rows` copies of one row of bytes, `bytesPerRow` apart.
VideoFrame frameOf(MediaPixelFormat format, int width, int height, std::vector<std::uint8_t> row, int bytesPerRow)
{
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(std::size_t(bytesPerRow) * std::size_t(height));
    for (int y = 0; y < height; ++y)
        std::copy(row.begin(), row.end(), bytes->begin() + std::ptrdiff_t(y) * bytesPerRow);
    return VideoFrame(format, width, height, bytesPerRow, bytes->data(), {}, bytes);
}

class KavioFrameSlotsTest : public RenderingTest {};

TEST_F(KavioFrameSlotsTest, EachFormatGoesIntoItsTexelPacking)
{
    struct Case {
        MediaPixelFormat format;
        int width;
        GpuPixelFormat texture;
        std::uint32_t texels;
    };
    const Case cases[] = {
        {MediaPixelFormat::BGRA, 1920, GpuPixelFormat::BGRA8Unorm, 1920},
        {MediaPixelFormat::RGBAHalf, 1920, GpuPixelFormat::RGBA16Float, 1920},
        {MediaPixelFormat::YUV422_8, 1920, GpuPixelFormat::RGBA8Unorm, 960},
        {MediaPixelFormat::YUV422_10, 1920, GpuPixelFormat::RGBA32Uint, 320},
        {MediaPixelFormat::YUV422_10, 1280, GpuPixelFormat::RGBA32Uint, 213},  // the last partial group is dropped
    };
    KavioFrameSlots frameSlots(*manager);
    for (const auto& c : cases) {
        const int rowBytes = bytesPerRowFor(c.format, c.width);
        auto texture = frameSlots.uploadFrame(frameOf(c.format, c.width, 2, std::vector<std::uint8_t>(std::size_t(rowBytes)), rowBytes),
                                         KavioFrameSlots::A);
        ASSERT_NE(texture, nullptr) << c.width;
        EXPECT_EQ(texture->pixelFormat(), c.texture);
        EXPECT_EQ(texture->width(), c.texels);
        EXPECT_EQ(texture->height(), 2u);
    }
}

TEST_F(KavioFrameSlotsTest, SlotsKeepTheirTexturesAndRefuseFramesThatDoNotFit)
{
    KavioFrameSlots frameSlots(*manager);
    const int rowBytes = bytesPerRowFor(MediaPixelFormat::BGRA, 8);
    const auto red = frameOf(MediaPixelFormat::BGRA, 8, 4, {0, 0, 255, 255, 0, 0, 255, 255, 0, 0, 255, 255, 0, 0, 255, 255,
                                                            0, 0, 255, 255, 0, 0, 255, 255, 0, 0, 255, 255, 0, 0, 255, 255},
                             rowBytes);
    auto a = frameSlots.uploadFrame(red, KavioFrameSlots::A);
    auto b = frameSlots.uploadFrame(red, KavioFrameSlots::B);
    ASSERT_NE(a, nullptr);
    EXPECT_NE(a, b);
    EXPECT_EQ(frameSlots.uploadFrame(red, KavioFrameSlots::A), a) << "same size and format: same texture";
    EXPECT_TRUE(near(pixel(*a, 7, 3), kRed));

    const VideoFrame refused[] = {
        frameOf(MediaPixelFormat::YUV422_10, 5, 4, std::vector<std::uint8_t>(128), 128),  // no whole texel
        frameOf(MediaPixelFormat::BGRA, 8, 4, std::vector<std::uint8_t>(16), 16),         // rows too short
        frameOf(MediaPixelFormat::BGRA, 20000, 1, {}, 80000),                             // too wide
    };
    for (const auto& frame : refused)
        EXPECT_EQ(frameSlots.uploadFrame(frame, KavioFrameSlots::A), nullptr) << frame.width();
    EXPECT_EQ(frameSlots.texture(KavioFrameSlots::A), a);
    EXPECT_TRUE(near(pixel(*a, 7, 3), kRed)) << "the last picture stays";
}

TEST_F(KavioFrameSlotsTest, A2vuyFrameThroughItsLayer)
{
    std::vector<std::uint8_t> y(64, 51), cb(32, 109), cr(32, 212);
    const int rowBytes = bytesPerRowFor(MediaPixelFormat::YUV422_8, 64);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(rowBytes));
    PixelPacking::packUYVYRow(y.data(), cb.data(), cr.data(), 64, row.data());
    KavioFrameSlots frameSlots(*manager);
    auto slot = frameSlots.uploadFrame(frameOf(MediaPixelFormat::YUV422_8, 64, 4, row, rowBytes), KavioFrameSlots::A);
    ASSERT_NE(slot, nullptr);
    QVTMetalLayerRenderer layer({64, 4}, true, false, false, false, *manager);
    frame([&] { layer.renderWithTexture(slot, {}); });
    EXPECT_TRUE(near(pixel(*layer.texture(), 10, 2), {191, 0, 0, 255}, 3));
}

}  // namespace
