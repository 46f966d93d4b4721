// The layer renderer on real OpenGL: where the picture lands in the layer, what the colour
// settings do to it, and YCbCr sources converted to RGB.

#include "RenderingTestSupport.h"
#include "Rendering/QVTMetalLayerRenderer.h"

#include "PixelPacking.h"

#include <gtest/gtest.h>

namespace {

constexpr Rgba kGreen{0, 255, 0, 255};

class QVTMetalLayerRendererTest : public RenderingTest {
protected:
    std::unique_ptr<QVTMetalLayerRenderer> renderer(QSizeF size, bool yuv = false, bool highBitDepth = false,
                                                    bool deinterlace = false)
    {
        return std::make_unique<QVTMetalLayerRenderer>(size, yuv, highBitDepth, false, deinterlace, *manager);
    }

    void render(QVTMetalLayerRenderer& layer, const std::shared_ptr<GpuTexture>& source, const QVTLayerSettings& settings)
    {
        frame([&] { layer.renderWithTexture(source, settings); });
    }

    // A '2vuy' picture of one colour: Cb Y Cr Y per texel, two pixels a texel.
    std::shared_ptr<GpuTexture> yuv422(std::uint32_t width, std::uint32_t height, int y, int cb, int cr)
    {
        std::vector<std::uint8_t> bytes;
        for (std::uint32_t i = 0; i < width / 2 * height; ++i)
            bytes.insert(bytes.end(), {std::uint8_t(cb), std::uint8_t(y), std::uint8_t(cr), std::uint8_t(y)});
        return texture(GpuPixelFormat::RGBA8Unorm, width / 2, height, bytes);
    }
};

struct Probe {
    std::uint32_t x, y;
    bool source;  // the source's colour, else transparent
};

struct GeometryCase {
    const char* name;
    std::uint32_t sourceWidth, sourceHeight;
    QVTLayerSettings settings;
    std::vector<Probe> probes;
};

QVTLayerSettings with(void (*change)(QVTLayerSettings&))
{
    QVTLayerSettings s;
    change(s);
    return s;
}

TEST_F(QVTMetalLayerRendererTest, PlacesThePictureInTheLayer)
{
    const std::vector<GeometryCase> cases = {
        {"fit of a tall source is pillarboxed", 108, 192, {}, {{10, 54, false}, {96, 54, true}, {180, 54, false}}},
        {"fill covers the first and last rows", 108, 192, with([](auto& s) { s.sizingMode = 1; }),
         {{96, 0, true}, {96, 107, true}, {10, 54, true}}},
        {"native size sits in the centre quarter", 96, 54, with([](auto& s) { s.sizingMode = 3; }),
         {{50, 30, true}, {140, 78, true}, {40, 20, false}, {150, 90, false}}},
        {"native size at origin 1 sits in the top-left quarter", 96, 54,
         with([](auto& s) { s.sizingMode = 3, s.transformOrigin = 1; }),
         {{1, 1, true}, {90, 50, true}, {100, 60, false}, {50, 80, false}}},
        {"scale 0.5 at origin 1 keeps the top-left corner", 192, 108,
         with([](auto& s) { s.scaleX = s.scaleY = 0.5f, s.transformOrigin = 1; }),
         {{10, 10, true}, {100, 60, false}}},
        {"translation (0.5, 0) moves right by half the layer", 192, 108, with([](auto& s) { s.translationX = 0.5f; }),
         {{90, 54, false}, {100, 54, true}, {190, 54, true}}},
        {"crop top 0.5 clears a quarter of the rows", 192, 108, with([](auto& s) { s.cropTop = 0.5f; }),
         {{96, 0, false}, {96, 26, false}, {96, 27, true}, {96, 107, true}}},
        {"crop left and right", 192, 108, with([](auto& s) { s.cropLeft = 0.5f, s.cropRight = 0.5f; }),
         {{47, 54, false}, {48, 54, true}, {143, 54, true}, {144, 54, false}}},
    };
    auto layer = renderer({192, 108});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        render(*layer, solid(c.sourceWidth, c.sourceHeight, kGreen), c.settings);
        const auto out = pixels(*layer->texture());
        for (const Probe& p : c.probes)
            EXPECT_TRUE(near(out[p.y * 192 + p.x], p.source ? kGreen : kTransparent)) << "at " << p.x << ", " << p.y;
    }
}

TEST_F(QVTMetalLayerRendererTest, RotationTurnsClockwiseInSquarePixels)
{
    auto layer = renderer({192, 108});
    auto redLeftBlueRight = filled(192, 108, [](std::uint32_t x, std::uint32_t) { return x < 96 ? kRed : kBlue; });
    QVTLayerSettings settings;
    settings.rotation = 90;
    render(*layer, redLeftBlueRight, settings);
    const auto out = pixels(*layer->texture());
    EXPECT_TRUE(near(out[10 * 192 + 96], kRed));
    EXPECT_TRUE(near(out[100 * 192 + 96], kBlue));
    // Not squashed: the turned picture is 108 pixels wide, centred.
    EXPECT_TRUE(near(out[54 * 192 + 40], kTransparent));
    EXPECT_TRUE(near(out[54 * 192 + 60], kBlue));
}

TEST_F(QVTMetalLayerRendererTest, AFlippedLayerShowsTheSourceUpsideDown)
{
    QVTMetalLayerRenderer flipped({8, 8}, false, false, true, false, *manager);
    auto redTopBlueBottom = filled(8, 8, [](std::uint32_t, std::uint32_t y) { return y < 4 ? kRed : kBlue; });
    render(flipped, redTopBlueBottom, {});
    EXPECT_TRUE(near(pixel(*flipped.texture(), 4, 1), kBlue));
    EXPECT_TRUE(near(pixel(*flipped.texture(), 4, 6), kRed));
}

TEST_F(QVTMetalLayerRendererTest, ColourSettingsOnStraightColour)
{
    struct Case {
        const char* name;
        void (*change)(QVTLayerSettings&);
        Rgba expected;
    };
    const Case cases[] = {
        {"neutral", [](QVTLayerSettings&) {}, {128, 64, 191, 255}},
        {"brightness 0.2", [](QVTLayerSettings& s) { s.brightness = 0.2f; }, {179, 115, 242, 255}},
        {"contrast 0.5", [](QVTLayerSettings& s) { s.contrast = 0.5f; }, {128, 32, 223, 255}},
        {"saturation 0", [](QVTLayerSettings& s) { s.saturation = 0; }, {87, 87, 87, 255}},
        {"saturation 2", [](QVTLayerSettings& s) { s.saturation = 2; }, {169, 41, 255, 255}},
        {"hue 1", [](QVTLayerSettings& s) { s.hue = 1; }, {127, 191, 64, 255}},
        {"opacity 0.5 premultiplies", [](QVTLayerSettings& s) { s.opacity = 0.5f; }, {64, 32, 96, 128}},
        {"vibrance -1 pulls towards grey by what the colour lacks of full spread",
         [](QVTLayerSettings& s) { s.vibrance = -1; }, {107, 75, 139, 255}},
    };
    auto layer = renderer({4, 4});
    auto source = solid(4, 4, {128, 64, 191, 255});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        render(*layer, source, with(c.change));
        EXPECT_TRUE(near(pixel(*layer->texture(), 2, 2), c.expected));
    }
}

TEST_F(QVTMetalLayerRendererTest, ConvertsYCbCrToRGB)
{
    struct Case {
        const char* name;
        int y, cb, cr;
        std::int32_t colorspace;
        Rgba expected;
    };
    const Case cases[] = {
        {"video white", 235, 128, 128, 0, {255, 255, 255, 255}},
        {"video black", 16, 128, 128, 0, {0, 0, 0, 255}},
        {"BT.709 red", 51, 109, 212, 0, {191, 0, 0, 255}},
        {"BT.2020 reads the same bytes redder", 51, 109, 212, 1, {255, 0, 0, 255}},
        // An unknown code keeps the matrix of the frame before.
        {"unknown colour space after BT.2020", 51, 109, 212, 2, {255, 0, 0, 255}},
    };
    auto layer = renderer({4, 2}, true);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QVTLayerSettings settings;
        settings.sizingMode = 2;
        settings.colorspace = c.colorspace;
        render(*layer, yuv422(4, 2, c.y, c.cb, c.cr), settings);
        EXPECT_TRUE(near(pixel(*layer->texture(), 1, 1), c.expected, 3));
    }
    EXPECT_EQ(layer->inputSize(), QSizeF(4, 2)) << "two pixels a texel";

    // A recorded input size is made at the next frame, which then follows its own size.
    layer->setInputSize({16, 8});
    EXPECT_EQ(layer->inputSize(), QSizeF(4, 2));
    render(*layer, yuv422(4, 2, 235, 128, 128), {});
    EXPECT_EQ(layer->inputSize(), QSizeF(4, 2));
}

TEST_F(QVTMetalLayerRendererTest, UnknownColourSpaceOnTheFirstFrameUsesBT709)
{
    auto layer = renderer({4, 2}, true);
    QVTLayerSettings settings;
    settings.colorspace = 7;
    render(*layer, yuv422(4, 2, 51, 109, 212), settings);
    EXPECT_TRUE(near(pixel(*layer->texture(), 1, 1), {191, 0, 0, 255}, 3));
}

TEST_F(QVTMetalLayerRendererTest, V210SourceSixPixelsATexel)
{
    // A 1920-wide frame: video white left of x 960, BT.709 red (10-bit) right of it.
    constexpr int kWidth = 1920;
    std::vector<std::uint16_t> y(kWidth), cb(kWidth / 2), cr(kWidth / 2);
    for (int x = 0; x < kWidth; ++x)
        y[std::size_t(x)] = x >= 960 ? 204 : 940;
    for (int x = 0; x < kWidth / 2; ++x) {
        cb[std::size_t(x)] = x >= 480 ? 436 : 512;
        cr[std::size_t(x)] = x >= 480 ? 848 : 512;
    }
    std::vector<std::uint8_t> row(std::size_t(kWidth / 6) * 16);
    PixelPacking::packV210Row(y.data(), cb.data(), cr.data(), kWidth, row.data());
    std::vector<std::uint8_t> bytes;
    for (int line = 0; line < 2; ++line)
        bytes.insert(bytes.end(), row.begin(), row.end());
    auto slot = texture(GpuPixelFormat::RGBA32Uint, kWidth / 6, 2, bytes);
    ASSERT_EQ(slot->width(), 320u);

    auto layer = renderer({192, 2}, true, true);
    QVTLayerSettings settings;
    settings.sizingMode = 2;
    render(*layer, slot, settings);
    EXPECT_EQ(layer->inputSize(), QSizeF(1920, 2));
    EXPECT_TRUE(near(pixel(*layer->texture(), 10, 1), {255, 255, 255, 255}, 3));
    EXPECT_TRUE(near(pixel(*layer->texture(), 150, 1), {191, 0, 0, 255}, 3));
}

TEST_F(QVTMetalLayerRendererTest, DeinterlaceAveragesEachLineWithItsFieldNeighbour)
{
    auto layer = renderer({2, 4}, false, false, true);
    auto lines = filled(2, 4, [](std::uint32_t, std::uint32_t y) { return y % 2 == 0 ? kRed : kBlue; });
    QVTLayerSettings settings;
    settings.sizingMode = 2;
    render(*layer, lines, settings);
    for (std::uint32_t row = 0; row < 4; ++row)
        EXPECT_TRUE(near(pixel(*layer->texture(), 0, row), {128, 0, 128, 255})) << "row " << row;
}

TEST_F(QVTMetalLayerRendererTest, NewSizeIsBlankUntilRenderedAndBadSizesAreRefused)
{
    auto layer = renderer({64, 36});
    EXPECT_TRUE(layer->textureIsBlank());
    auto source = solid(8, 8, kGreen);
    render(*layer, source, {});
    EXPECT_FALSE(layer->textureIsBlank());

    layer->setRenderSize({0, 36});
    layer->setRenderSize({20000, 36});
    EXPECT_EQ(layer->renderSize(), QSizeF(64, 36));
    EXPECT_FALSE(layer->textureIsBlank());

    layer->setRenderSize({32, 18});
    EXPECT_TRUE(layer->textureIsBlank());
    EXPECT_EQ(layer->texture()->width(), 64u) << "the texture is remade at the next frame";
    render(*layer, source, {});
    EXPECT_EQ(layer->texture()->width(), 32u);
    EXPECT_FALSE(layer->textureIsBlank());

    // A missing source leaves the last picture.
    render(*layer, nullptr, {});
    EXPECT_TRUE(near(pixel(*layer->texture(), 16, 9), kGreen));
    layer->clearTexture();
    EXPECT_TRUE(near(pixel(*layer->texture(), 16, 9), kTransparent));
}

TEST(QVTMetalLayerRendererRecords, PixelConversionTablesAreHalfFloatsColumnByColumn)
{
    std::uint8_t record[32];
    ASSERT_TRUE(QVTMetalLayerRenderer::pixelConversionRecord(0, record));
    // 1.1640625 is 0x3CA8; -0.96923828125 is 0xBBC1; the fourth group is zero.
    EXPECT_EQ(record[0] | record[1] << 8, 0x3CA8);
    EXPECT_EQ(record[6] | record[7] << 8, 0xBBC1);
    for (int i = 24; i < 32; ++i)
        EXPECT_EQ(record[i], 0);
    EXPECT_FALSE(QVTMetalLayerRenderer::pixelConversionRecord(2, record));
}

}  // namespace
