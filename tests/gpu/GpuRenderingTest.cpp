// The GPU layer on real OpenGL (Mesa under Xvfb): textures, passes, read-back, the program
// cache and command-buffer completion.

#include "GpuCommandBuffer.h"
#include "GpuLibrary.h"
#include "GpuTestDevice.h"
#include "GpuTexture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

using Pixels = std::vector<std::uint8_t>;

struct Bgra {
    std::uint8_t b, g, r, a;
    bool operator==(const Bgra&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Bgra& p)
{
    return out << "BGRA(" << int(p.b) << ", " << int(p.g) << ", " << int(p.r) << ", " << int(p.a) << ")";
}

class GpuRenderingTest : public testing::Test {
protected:
    void SetUp() override
    {
        REQUIRE_GPU_DEVICE();
        device = GpuTestDevice::device();
        queue = device->newCommandQueue();
        library = device->newDefaultLibrary();
    }

    std::shared_ptr<GpuTexture> bgraTexture(std::uint32_t w, std::uint32_t h)
    {
        auto texture = device->newTexture({GpuPixelFormat::BGRA8Unorm, w, h});
        EXPECT_NE(texture, nullptr);
        return texture;
    }

    static std::vector<Bgra> readBgra(const GpuTexture& texture)
    {
        std::vector<Bgra> pixels(std::size_t(texture.width()) * texture.height());
        EXPECT_TRUE(texture.getBytes(pixels.data(), texture.width() * 4, {0, 0, texture.width(), texture.height()}));
        return pixels;
    }

    std::shared_ptr<GpuRenderPipeline> pipeline(const std::string& vertex, const std::string& fragment)
    {
        GpuRenderPipelineDescriptor descriptor;
        descriptor.vertexFunction = library->newFunction(vertex);
        descriptor.fragmentFunction = library->newFunction(fragment);
        std::string error;
        auto state = library->newRenderPipelineState(descriptor, &error);
        EXPECT_NE(state, nullptr) << error;
        return state;
    }

    // Draws `source` over the whole of `target` with the full-screen picture quad.
    void drawQuad(const std::shared_ptr<GpuCommandBuffer>& buffer, const std::shared_ptr<GpuRenderPipeline>& state,
                  const std::shared_ptr<GpuTexture>& source, const std::shared_ptr<GpuTexture>& target)
    {
        // bottom-left, bottom-right, top-left, top-right: position x, y, texture u, v
        const float quad[16] = {-1, -1, 0, 1, 1, -1, 1, 1, -1, 1, 0, 0, 1, 1, 1, 0};
        auto encoder = buffer->renderCommandEncoder({target, GpuLoadAction::Clear, {0, 0, 0, 1}});
        ASSERT_NE(encoder, nullptr);
        encoder->setRenderPipelineState(state);
        encoder->setFragmentTexture(source, 0);
        encoder->setVertexBytes(quad, sizeof quad, 0);
        encoder->drawPrimitives(GpuPrimitiveType::TriangleStrip, 0, 4);
        encoder->endEncoding();
    }

    std::shared_ptr<GpuDevice> device;
    std::shared_ptr<GpuCommandQueue> queue;
    std::shared_ptr<GpuLibrary> library;
};

// Four distinct pixels in a 2 x 2 picture: top-left red, top-right green, bottom-left blue,
// bottom-right white.
const std::vector<Bgra> kCorners = {{0, 0, 255, 255}, {0, 255, 0, 255}, {255, 0, 0, 255}, {255, 255, 255, 255}};

TEST_F(GpuRenderingTest, ClearedPassReadsBackTheClearColour)
{
    auto target = bgraTexture(5, 3);
    auto buffer = queue->commandBuffer();
    auto encoder = buffer->renderCommandEncoder({target, GpuLoadAction::Clear, {1.0, 0.5, 0.0, 1.0}});
    ASSERT_NE(encoder, nullptr);
    encoder->endEncoding();
    buffer->commit();
    buffer->waitUntilCompleted();
    for (const Bgra& pixel : readBgra(*target))
        EXPECT_EQ(pixel, (Bgra{0, 128, 255, 255}));
}

TEST_F(GpuRenderingTest, DrawnTextureKeepsItsOrientationThroughBothVertexFunctions)
{
    auto source = bgraTexture(2, 2);
    ASSERT_TRUE(source->replaceRegion({0, 0, 2, 2}, kCorners.data(), 8));
    EXPECT_EQ(readBgra(*source), kCorners);

    // The picture quad in normalised coordinates.
    auto target = bgraTexture(2, 2);
    auto buffer = queue->commandBuffer();
    drawQuad(buffer, pipeline("vertexShaderDisplay", "textureToScreenSamplingShader"), source, target);
    buffer->commit();
    buffer->waitUntilCompleted();
    EXPECT_EQ(readBgra(*target), kCorners);

    // The textured-quad renderer's layout: two triangles in pixels about the centre, flipped,
    // with the viewport size at vertex buffer index 1.
    auto second = bgraTexture(2, 2);
    const float w = 1, h = 1, s = -1;
    const float vertices[24] = {w, s * h, 1, 1, -w, s * h, 0, 1, -w, -s * h, 0, 0,
                                w, s * h, 1, 1, -w, -s * h, 0, 0, w, -s * h, 1, 0};
    const std::uint32_t viewportSize[2] = {2, 2};
    buffer = queue->commandBuffer();
    auto encoder = buffer->renderCommandEncoder({second, GpuLoadAction::Clear, {0, 0, 0, 0}});
    encoder->setViewport({0, 0, 2, 2, -1, 1});
    encoder->setRenderPipelineState(pipeline("textureToScreenVertexShader", "textureToScreenSamplingShader"));
    encoder->setVertexBytes(vertices, sizeof vertices, 0);
    encoder->setVertexBytes(viewportSize, sizeof viewportSize, 1);
    encoder->setFragmentTexture(source, 0);
    encoder->drawPrimitives(GpuPrimitiveType::Triangle, 0, 6);
    encoder->endEncoding();
    buffer->commit();
    buffer->waitUntilCompleted();
    EXPECT_EQ(readBgra(*second), kCorners);
}

TEST_F(GpuRenderingTest, ViewportCountsRowsFromTheTop)
{
    auto source = bgraTexture(1, 1);
    const Bgra white{255, 255, 255, 255};
    ASSERT_TRUE(source->replaceRegion({0, 0, 1, 1}, &white, 4));
    auto target = bgraTexture(2, 2);
    const float quad[16] = {-1, -1, 0, 1, 1, -1, 1, 1, -1, 1, 0, 0, 1, 1, 1, 0};
    auto buffer = queue->commandBuffer();
    auto encoder = buffer->renderCommandEncoder({target, GpuLoadAction::Clear, {0, 0, 0, 1}});
    encoder->setRenderPipelineState(pipeline("vertexShaderDisplay", "textureToScreenSamplingShader"));
    encoder->setViewport({1, 0, 1, 1});  // the top-right pixel only
    encoder->setFragmentTexture(source, 0);
    encoder->setVertexBytes(quad, sizeof quad, 0);
    encoder->drawPrimitives(GpuPrimitiveType::TriangleStrip, 0, 4);
    encoder->endEncoding();
    buffer->commit();
    buffer->waitUntilCompleted();
    const Bgra black{0, 0, 0, 255};
    EXPECT_EQ(readBgra(*target), (std::vector<Bgra>{black, white, black, black}));
}

TEST_F(GpuRenderingTest, HalfFloatTextureRoundTripsAndClears)
{
    auto texture = device->newTexture({GpuPixelFormat::RGBA16Float, 3, 2});
    ASSERT_NE(texture, nullptr);
    // 1.0, 0.5, 2.0 (beyond the 8-bit range), 0.25 as IEEE half floats.
    const std::array<std::uint16_t, 4> pixel = {0x3C00, 0x3800, 0x4000, 0x3400};
    std::vector<std::uint16_t> upload;
    for (int i = 0; i < 6; ++i)
        upload.insert(upload.end(), pixel.begin(), pixel.end());
    ASSERT_TRUE(texture->replaceRegion({0, 0, 3, 2}, upload.data(), 3 * 8));
    std::vector<std::uint16_t> back(upload.size());
    ASSERT_TRUE(texture->getBytes(back.data(), 3 * 8, {0, 0, 3, 2}));
    EXPECT_EQ(back, upload);

    ASSERT_TRUE(texture->clearToZero());
    ASSERT_TRUE(texture->getBytes(back.data(), 3 * 8, {0, 0, 3, 2}));
    EXPECT_EQ(back, std::vector<std::uint16_t>(upload.size(), 0));
}

TEST_F(GpuRenderingTest, PlaneTexturesTakeUploadsWithoutWaiting)
{
    struct Case {
        GpuPixelFormat format;
        std::size_t bytesPerTexel;
    };
    for (const Case c : {Case{GpuPixelFormat::R8Unorm, 1}, Case{GpuPixelFormat::RG8Unorm, 2},
                         Case{GpuPixelFormat::R16Unorm, 2}, Case{GpuPixelFormat::RG16Unorm, 4}}) {
        auto texture = device->newTexture({c.format, 5, 3});
        ASSERT_NE(texture, nullptr);
        // Rows padded past the 5 texels, as decoders pad them.
        const std::size_t row = 8 * c.bytesPerTexel;
        auto bytes = std::make_shared<std::vector<std::uint8_t>>(row * 3);
        for (std::size_t i = 0; i < bytes->size(); ++i)
            (*bytes)[i] = std::uint8_t(i * 37 + 11);
        std::weak_ptr<std::vector<std::uint8_t>> held = bytes;
        ASSERT_TRUE(texture->replaceRegion({0, 0, 5, 3}, bytes->data(), row, bytes));
        const auto sent = *bytes;
        bytes.reset();
        // A read-back is queued behind the upload, which has run and let the bytes go by then.
        std::vector<std::uint8_t> back(5 * c.bytesPerTexel * 3);
        ASSERT_TRUE(texture->getBytes(back.data(), 5 * c.bytesPerTexel, {0, 0, 5, 3}));
        EXPECT_TRUE(held.expired());
        for (std::size_t y = 0; y < 3; ++y)
            EXPECT_TRUE(std::equal(back.begin() + std::ptrdiff_t(y * 5 * c.bytesPerTexel),
                                   back.begin() + std::ptrdiff_t((y + 1) * 5 * c.bytesPerTexel),
                                   sent.begin() + std::ptrdiff_t(y * row)))
                << int(c.format) << " row " << y;
        // Refused uploads queue nothing and hold nothing.
        auto refused = std::make_shared<int>(0);
        EXPECT_FALSE(texture->replaceRegion({0, 0, 6, 3}, refused.get(), 64, refused));
        EXPECT_FALSE(texture->replaceRegion({0, 0, 5, 3}, refused.get(), 5 * c.bytesPerTexel - 1, refused));
        EXPECT_EQ(refused.use_count(), 1);
    }
}

TEST_F(GpuRenderingTest, RegionsOutsideTheTextureAreRefused)
{
    auto texture = bgraTexture(4, 4);
    std::vector<std::uint8_t> bytes(4 * 4 * 4 * 2, 0);
    struct Case {
        GpuRegion region;
        std::size_t bytesPerRow;
    };
    for (const Case& c : {Case{{0, 0, 5, 1}, 20}, Case{{3, 0, 2, 1}, 8}, Case{{0, 4, 1, 1}, 4},
                          Case{{0, 0, 0, 1}, 4}, Case{{0, 0, 2, 2}, 7}, Case{{0, 0, 2, 2}, 10}}) {
        EXPECT_FALSE(texture->replaceRegion(c.region, bytes.data(), c.bytesPerRow));
        EXPECT_FALSE(texture->getBytes(bytes.data(), c.bytesPerRow, c.region));
    }
    EXPECT_EQ(device->newTexture({GpuPixelFormat::BGRA8Unorm, 0, 4}), nullptr);
    EXPECT_EQ(device->newTexture({GpuPixelFormat::BGRA8Unorm, 1u << 20, 4}), nullptr);
    auto compressed = device->newTexture({GpuPixelFormat::BC1_RGBA, 8, 8});
    ASSERT_NE(compressed, nullptr);
    EXPECT_FALSE(compressed->replaceRegion({2, 0, 4, 4}, bytes.data(), 8));  // not on a block edge
    EXPECT_FALSE(compressed->getBytes(bytes.data(), 32, {0, 0, 8, 8}));
    EXPECT_FALSE(compressed->clearToZero());
    auto buffer = queue->commandBuffer();
    EXPECT_EQ(buffer->renderCommandEncoder({compressed, GpuLoadAction::Clear, {}}), nullptr);
}

// Known 4 x 4 blocks, sampled by a draw and read back as BGRA.
struct BlockCase {
    const char* name;
    GpuPixelFormat format;
    std::vector<std::uint8_t> leftBlock;
    std::vector<std::uint8_t> rightBlock;
    Bgra left;
    Bgra right;
};

void PrintTo(const BlockCase& c, std::ostream* out)
{
    *out << c.name;
}

class GpuCompressedTextureTest : public GpuRenderingTest, public testing::WithParamInterface<BlockCase> {};

TEST_P(GpuCompressedTextureTest, KnownBlocksReadBackTheirColours)
{
    const BlockCase& c = GetParam();
    auto texture = device->newTexture({c.format, 8, 4});
    ASSERT_NE(texture, nullptr);
    std::vector<std::uint8_t> blocks = c.leftBlock;
    blocks.insert(blocks.end(), c.rightBlock.begin(), c.rightBlock.end());
    ASSERT_TRUE(texture->replaceRegion({0, 0, 8, 4}, blocks.data(), blocks.size()));

    auto target = bgraTexture(8, 4);
    auto buffer = queue->commandBuffer();
    drawQuad(buffer, pipeline("vertexShaderDisplay", "textureToScreenSamplingShader"), texture, target);
    buffer->commit();
    buffer->waitUntilCompleted();
    const auto pixels = readBgra(*target);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        EXPECT_EQ(pixels[i], i % 8 < 4 ? c.left : c.right) << "pixel " << i;
}

// DXT1: colour0 red (0xF800) > colour1 blue (0x001F): index 0 picks red, index 1 blue.
// DXT5: alpha0 = 128 at index 0, then a DXT1-style colour block of green.
// RGTC1: red0 = 200, red1 = 40, index 0 or 1 everywhere (three bits per texel).
INSTANTIATE_TEST_SUITE_P(
    Formats, GpuCompressedTextureTest,
    testing::Values(
        BlockCase{"DXT1", GpuPixelFormat::BC1_RGBA, {0x00, 0xF8, 0x1F, 0x00, 0x00, 0x00, 0x00, 0x00},
                  {0x00, 0xF8, 0x1F, 0x00, 0x55, 0x55, 0x55, 0x55}, {0, 0, 255, 255}, {255, 0, 0, 255}},
        BlockCase{"DXT5",
                  GpuPixelFormat::BC3_RGBA,
                  {128, 0, 0, 0, 0, 0, 0, 0, 0xE0, 0x07, 0x00, 0x00, 0, 0, 0, 0},
                  {255, 0, 0, 0, 0, 0, 0, 0, 0x1F, 0x00, 0x00, 0x00, 0, 0, 0, 0},
                  {0, 255, 0, 128},
                  {255, 0, 0, 255}},
        BlockCase{"RGTC1", GpuPixelFormat::BC4_RUnorm, {200, 40, 0, 0, 0, 0, 0, 0},
                  {200, 40, 0x49, 0x92, 0x24, 0x49, 0x92, 0x24}, {0, 0, 200, 255}, {0, 0, 40, 255}}),
    [](const testing::TestParamInfo<BlockCase>& info) { return std::string(info.param.name); });

TEST_F(GpuRenderingTest, BlitCopiesARegion)
{
    auto source = bgraTexture(2, 2);
    ASSERT_TRUE(source->replaceRegion({0, 0, 2, 2}, kCorners.data(), 8));
    auto destination = bgraTexture(3, 3);
    ASSERT_TRUE(destination->clearToZero());
    auto buffer = queue->commandBuffer();
    auto blit = buffer->blitCommandEncoder();
    blit->copyFromTexture(source, {0, 1, 2, 1}, destination, 1, 2);  // the bottom row
    blit->endEncoding();
    buffer->commit();
    buffer->waitUntilCompleted();
    const Bgra zero{0, 0, 0, 0};
    EXPECT_EQ(readBgra(*destination),
              (std::vector<Bgra>{zero, zero, zero, zero, zero, zero, zero, kCorners[2], kCorners[3]}));
}

TEST_F(GpuRenderingTest, BlitIntoATextureNeverDrawnInto)
{
    // Neither texture has been a render target yet: the copy must still read the source.
    auto source = bgraTexture(2, 2);
    ASSERT_TRUE(source->replaceRegion({0, 0, 2, 2}, kCorners.data(), 8));
    auto destination = bgraTexture(2, 2);
    const std::vector<Bgra> zeros(4, Bgra{0, 0, 0, 0});
    ASSERT_TRUE(destination->replaceRegion({0, 0, 2, 2}, zeros.data(), 8));
    auto buffer = queue->commandBuffer();
    auto blit = buffer->blitCommandEncoder();
    blit->copyFromTexture(source, {0, 0, 2, 2}, destination, 0, 0);
    blit->endEncoding();
    buffer->commit();
    buffer->waitUntilCompleted();
    EXPECT_EQ(readBgra(*destination), (std::vector<Bgra>(kCorners.begin(), kCorners.end())));
}

TEST_F(GpuRenderingTest, CompletionHandlersRunAfterTheFrameInCommitOrder)
{
    const std::uint8_t blue[3] = {0, 128, 255};
    std::mutex mutex;
    std::vector<std::string> order;
    std::vector<std::shared_ptr<GpuCommandBuffer>> buffers;
    for (int frame = 0; frame < 3; ++frame) {
        auto target = bgraTexture(1, 1);
        auto buffer = queue->commandBuffer();
        auto encoder = buffer->renderCommandEncoder({target, GpuLoadAction::Clear, {0, 0, frame / 2.0, 1}});
        encoder->endEncoding();
        for (const char* which : {"a", "b"}) {
            buffer->addCompletedHandler([&, target, frame, which] {
                // After the frame: its pass is visible to a read-back from the handler.
                Bgra pixel{};
                target->getBytes(&pixel, 4, {0, 0, 1, 1});
                std::lock_guard lock(mutex);
                order.push_back(std::to_string(frame) + which + (device->isRenderThread() ? "" : " off thread")
                                + (pixel.b == blue[frame] ? "" : " before the frame"));
            });
        }
        buffer->commit();
        buffer->waitUntilScheduled();
        EXPECT_NE(buffer->status(), GpuCommandBuffer::Status::Committed);
        buffers.push_back(buffer);
    }
    buffers.back()->waitUntilCompleted();
    for (const auto& buffer : buffers)
        EXPECT_EQ(buffer->status(), GpuCommandBuffer::Status::Completed);
    std::lock_guard lock(mutex);
    EXPECT_EQ(order, (std::vector<std::string>{"0a", "0b", "1a", "1b", "2a", "2b"}));
}

TEST_F(GpuRenderingTest, HandlerMayCommitAnotherBuffer)
{
    auto target = bgraTexture(1, 1);
    auto first = queue->commandBuffer();
    auto second = queue->commandBuffer();
    auto encoder = second->renderCommandEncoder({target, GpuLoadAction::Clear, {0, 1, 0, 1}});
    encoder->endEncoding();
    first->addCompletedHandler([second] { second->commit(); });
    first->commit();
    first->waitUntilCompleted();
    second->waitUntilCompleted();
    EXPECT_EQ(readBgra(*target).front(), (Bgra{0, 255, 0, 255}));
}

TEST_F(GpuRenderingTest, ProgramCacheAndCompileTimeVariants)
{
    auto first = pipeline("vertexShaderDisplay", "textureToScreenSamplingShader");
    auto again = pipeline("vertexShaderDisplay", "textureToScreenSamplingShader");
    ASSERT_TRUE(first && again);
    EXPECT_EQ(first->program(), again->program());
    EXPECT_EQ(library->newFunction("noSuchFunction"), nullptr);

    const std::string body = "out vec4 fragColor;\n#if USE_GREEN\nconst float green = 1.0;\n#else\nconst float green = 0.0;\n#endif\n"
                             "void main() { fragColor = vec4(RED, green, 0.0, 1.0); }\n";
    auto variantPixel = [&](double red, bool green) {
        GpuFunctionConstants constants;
        constants.setFloat("RED", red);
        constants.setBool("USE_GREEN", green);
        GpuRenderPipelineDescriptor descriptor;
        descriptor.vertexFunction = library->newFunction("vertexShaderDisplay");
        descriptor.fragmentFunction = std::make_shared<GpuFunction>("variant", GpuFunctionStage::Fragment, body, constants);
        std::string error;
        auto state = library->newRenderPipelineState(descriptor, &error);
        EXPECT_NE(state, nullptr) << error;
        auto target = bgraTexture(1, 1);
        auto buffer = queue->commandBuffer();
        drawQuad(buffer, state, nullptr, target);
        buffer->commit();
        buffer->waitUntilCompleted();
        return std::pair{state ? state->program() : 0u, readBgra(*target).front()};
    };
    const auto [redProgram, redPixel] = variantPixel(1.0, false);
    const auto [greenProgram, greenPixel] = variantPixel(0.0, true);
    EXPECT_NE(redProgram, greenProgram);
    EXPECT_EQ(redPixel, (Bgra{0, 0, 255, 255}));
    EXPECT_EQ(greenPixel, (Bgra{0, 255, 0, 255}));

    GpuRenderPipelineDescriptor broken;
    broken.vertexFunction = library->newFunction("vertexShaderDisplay");
    broken.fragmentFunction = std::make_shared<GpuFunction>("broken", GpuFunctionStage::Fragment,
                                                            "void main() { undefinedCall(); }\n", GpuFunctionConstants());
    std::string error;
    EXPECT_EQ(library->newRenderPipelineState(broken, &error), nullptr);
    EXPECT_NE(error.find("undefinedCall"), std::string::npos) << error;
}

}  // namespace
