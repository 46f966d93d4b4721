// Hap planes uploaded as compressed textures and drawn by the textured-quad pass, on real
// OpenGL (S3TC and RGTC on Mesa). Frames are made of known blocks.

#include "RenderingTestSupport.h"
#include "HAP/HapMetalPixelBufferTexture.h"
#include "HAP/TextureRenderer.h"

#include "GpuCommandBuffer.h"
#include "GpuLibrary.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<std::uint8_t>;

// One DXT1 block of a single 5:6:5 colour.
Bytes dxt1Block(std::uint16_t rgb565)
{
    const auto lo = std::uint8_t(rgb565 & 0xff), hi = std::uint8_t(rgb565 >> 8);
    return {lo, hi, lo, hi, 0, 0, 0, 0};
}

// One DXT5 block: a single alpha, then a single 5:6:5 colour.
Bytes dxt5Block(std::uint8_t alpha, std::uint16_t rgb565)
{
    Bytes block{alpha, alpha, 0, 0, 0, 0, 0, 0};
    const Bytes colour = dxt1Block(rgb565);
    block.insert(block.end(), colour.begin(), colour.end());
    return block;
}

// One RGTC1 block of a single value.
Bytes rgtc1Block(std::uint8_t value)
{
    return {value, value, 0, 0, 0, 0, 0, 0};
}

std::uint16_t rgb565(int r5, int g6, int b5)
{
    return std::uint16_t(r5 << 11 | g6 << 5 | b5);
}

// An 8 x 8 plane: the top row of blocks `top`, the bottom row `bottom`.
Bytes plane(const Bytes& top, const Bytes& bottom)
{
    Bytes bytes;
    for (const Bytes* block : {&top, &top, &bottom, &bottom})
        bytes.insert(bytes.end(), block->begin(), block->end());
    return bytes;
}

HapFrameRef frameOf(std::vector<HapDecoderFrame::Plane> planes, std::uint32_t subtype, int width = 8, int height = 8)
{
    return HapDecoderFrame::withPlanes({width, height}, {width, height}, std::move(planes), subtype);
}

// Scaled YCoCg with scale 1: Co full, Cg just above neutral, luma 128 gives orange.
const std::uint16_t kOrangeCoCg = rgb565(31, 32, 0);
constexpr Rgba kOrange{253, 130, 0, 255};

class HapTest : public RenderingTest {
protected:
    void SetUpWithDevice() override
    {
        holder = std::make_unique<HapMetalPixelBufferTexture>(manager->device(), *manager->library());
        output = manager->device()->newTexture({GpuPixelFormat::BGRA8Unorm, 8, 8});
    }

    // Draws the holder's planes through the frame's function into `output`.
    void draw(bool flip = true)
    {
        auto renderer = TextureRenderer::create(*manager->library(), GpuPixelFormat::BGRA8Unorm, holder->fragmentForFrame(),
                                                holder->textureCount() - 1);
        ASSERT_NE(renderer, nullptr);
        renderer->setFlip(flip);
        auto planes = holder->texturesArray();
        planes.resize(std::size_t(holder->textureCount()));
        frame([&] {
            renderer->renderFromTexture(planes[0], output, *manager->currentCommandBuffer(),
                                        {planes.begin() + 1, planes.end()});
        });
    }

    std::unique_ptr<HapMetalPixelBufferTexture> holder;
    std::shared_ptr<GpuTexture> output;
};

TEST_F(HapTest, DxtOneFrameRendersItsBlocks)
{
    holder->setDecodedFrame(frameOf({{fourCC("DXt1"), plane(dxt1Block(0xF800), dxt1Block(0x001F))}}, fourCC("Hap1")));
    ASSERT_TRUE(holder->frameValid());
    EXPECT_EQ(holder->textureForIndex(0)->pixelFormat(), GpuPixelFormat::BC1_RGBA);
    EXPECT_EQ(holder->textureForIndex(0)->label(), "Hap Texture index 0");
    draw();
    EXPECT_TRUE(near(pixel(*output, 2, 1), kRed));
    EXPECT_TRUE(near(pixel(*output, 2, 6), kBlue));

    // flip off mirrors the picture vertically.
    draw(false);
    EXPECT_TRUE(near(pixel(*output, 2, 1), kBlue));
    EXPECT_TRUE(near(pixel(*output, 2, 6), kRed));
}

TEST_F(HapTest, HapQAndHapQAlphaConvertScaledCoCgY)
{
    const Bytes colour = plane(dxt5Block(128, kOrangeCoCg), dxt5Block(200, rgb565(16, 32, 31)));
    holder->setDecodedFrame(frameOf({{fourCC("DYt5"), colour}}, fourCC("HapY")));
    draw();
    EXPECT_TRUE(near(pixel(*output, 2, 1), kOrange));
    EXPECT_TRUE(near(pixel(*output, 2, 6), {200, 200, 200, 255}));

    holder->setDecodedFrame(frameOf({{fourCC("DYtA"), colour}, {fourCC("DYtA"), plane(rgtc1Block(128), rgtc1Block(255))}},
                                    fourCC("HapM")));
    ASSERT_EQ(holder->textureCount(), 2);
    EXPECT_EQ(holder->textureForIndex(0)->pixelFormat(), GpuPixelFormat::BC3_RGBA);
    EXPECT_EQ(holder->textureForIndex(1)->pixelFormat(), GpuPixelFormat::BC4_RUnorm);
    draw();
    EXPECT_TRUE(near(pixel(*output, 2, 1), {253, 130, 0, 128}));
    EXPECT_TRUE(near(pixel(*output, 2, 6), {200, 200, 200, 255}));
}

TEST_F(HapTest, TexturesAreReusedUntilSizeOrFormatChanges)
{
    const Bytes red = plane(dxt1Block(0xF800), dxt1Block(0xF800));
    holder->setDecodedFrame(frameOf({{fourCC("DXt1"), red}}, fourCC("Hap1")));
    auto first = holder->textureForIndex(0);
    holder->setDecodedFrame(frameOf({{fourCC("DXt1"), red}}, fourCC("Hap1")));
    EXPECT_EQ(holder->textureForIndex(0), first);
    holder->setDecodedFrame(frameOf({{fourCC("DXt1"), Bytes(32 * 8 / 2)}}, fourCC("Hap1"), 32, 8));
    EXPECT_NE(holder->textureForIndex(0), first);
    EXPECT_EQ(holder->textureForIndex(0)->width(), 32u);
}

TEST_F(HapTest, BadFramesKeepTheOldPlanes)
{
    const Bytes red = plane(dxt1Block(0xF800), dxt1Block(0xF800));
    holder->setDecodedFrame(frameOf({{fourCC("DYtA"), plane(dxt5Block(128, kOrangeCoCg), dxt5Block(128, kOrangeCoCg))},
                                     {fourCC("DYtA"), plane(rgtc1Block(255), rgtc1Block(255))}},
                                    fourCC("HapM")));
    const auto planes = holder->texturesArray();
    ASSERT_EQ(planes.size(), 2u);

    struct Case {
        const char* name;
        HapFrameRef frame;
    };
    const Case cases[] = {
        {"no frame", nullptr},
        {"a width that is no multiple of 4", frameOf({{fourCC("DXt1"), Bytes(1922 * 1080 / 2)}}, fourCC("Hap1"), 1922, 1080)},
        {"an unknown plane code", frameOf({{fourCC("ABCD"), red}}, fourCC("Hap1"))},
        {"too few bytes", frameOf({{fourCC("DXt1"), Bytes(8)}}, fourCC("Hap1"))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        holder->setDecodedFrame(c.frame);
        EXPECT_FALSE(holder->frameValid());
        EXPECT_EQ(holder->texturesArray(), planes);
        EXPECT_EQ(holder->fragmentForFrame()->name(), "textureToScreenSamplingShader");
    }

    // A one-plane frame after a two-plane one keeps the old second texture; the count says one.
    holder->setDecodedFrame(frameOf({{fourCC("DXt1"), red}}, fourCC("Hap1")));
    EXPECT_EQ(holder->textureCount(), 1);
    EXPECT_EQ(holder->texturesArray().size(), 2u);
}

TEST_F(HapTest, DrawsOnlyWithTheExtraTexturesItWasMadeFor)
{
    holder->setDecodedFrame(frameOf({{fourCC("DXt1"), plane(dxt1Block(0xF800), dxt1Block(0xF800))}}, fourCC("Hap1")));
    auto renderer = TextureRenderer::create(*manager->library(), GpuPixelFormat::BGRA8Unorm);
    ASSERT_NE(renderer, nullptr);
    output->clearToZero();
    frame([&] {
        auto& buffer = *manager->currentCommandBuffer();
        renderer->renderFromTexture(holder->textureForIndex(0), output, buffer, {holder->textureForIndex(0)});
        renderer->renderFromTexture(nullptr, output, buffer);
        renderer->renderFromTexture(holder->textureForIndex(0), nullptr, buffer);
    });
    EXPECT_TRUE(near(pixel(*output, 2, 2), kTransparent));
}

}  // namespace
