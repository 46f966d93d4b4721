#include "OutputsTestSupport.h"

#include "Outputs/KavioVideoOutputObject.h"

#include <cstring>


namespace {

using Corners = KavioVideoOutputMTKView::Corners;

TEST(KavioProjectionMesh, VertexCountsPerWarpMode)
{
    const struct {
        long mode;
        std::size_t vertices;
    } cases[] = {{0, 6}, {1, 486}, {2, 1734}, {12, 56454}};
    for (const auto& c : cases) {
        EXPECT_EQ(KavioVideoOutputMTKView::buildMesh({}, int(c.mode * 8)).size(), c.vertices) << c.mode;
        EXPECT_EQ(KavioVideoOutputMTKView::vertexCountForWarpMode(c.mode), c.vertices) << c.mode;
    }
}

TEST(KavioProjectionMesh, GridCoversTheCornersBilinearly)
{
    const auto mesh = KavioVideoOutputMTKView::buildMesh({}, 8);
    float minX = 2, maxX = -2, minY = 2, maxY = -2;
    for (const auto& v : mesh) {
        minX = std::min(minX, v.x), maxX = std::max(maxX, v.x), minY = std::min(minY, v.y), maxY = std::max(maxY, v.y);
        EXPECT_EQ(v.q, 1.0f);
        // Default corners: s runs with x, t against y.
        EXPECT_NEAR(v.s, (v.x + 1) / 2, 1e-5);
        EXPECT_NEAR(v.t, (1 - v.y) / 2, 1e-5);
    }
    EXPECT_EQ(minX, -1.0f);
    EXPECT_EQ(maxX, 1.0f);
    EXPECT_EQ(minY, -1.0f);
    EXPECT_EQ(maxY, 1.0f);
}

TEST(KavioProjectionMesh, PerspectiveOnlyForAConvexQuad)
{
    Corners trapezoid;
    trapezoid.topLeft = {-0.5, 1}, trapezoid.topRight = {0.5, 1};
    bool weighted = false;
    for (const auto& v : KavioVideoOutputMTKView::buildMesh(trapezoid, 0))
        weighted = weighted || std::abs(v.q - 1.0f) > 1e-3;
    EXPECT_TRUE(weighted);

    Corners bowTie;
    bowTie.topLeft = {1, 1}, bowTie.topRight = {-1, 1};
    for (const auto& v : KavioVideoOutputMTKView::buildMesh(bowTie, 0))
        EXPECT_EQ(v.q, 1.0f);
}

TEST(KavioProjectionUniforms, BytesAtTheirOffsets)
{
    KavioProjectionUniforms u;
    u.enableSpanMode = true;
    u.rows = 2, u.cols = 3, u.row = 1, u.col = 2;
    u.edgeBlendPaddingX = 100, u.edgeBlendPaddingY = 0x1234;
    u.textureWidth = 5760, u.textureHeight = 2160, u.destinationWidth = 1920, u.destinationHeight = 1080;
    u.orientation = 90, u.gamma = 1;
    u.left = {0.25f, 2.0f}, u.bottom = {0.5f, 3.0f};
    const auto bytes = u.bytes();
    EXPECT_EQ(bytes[0], 1);
    const std::vector<std::uint8_t> head(bytes.begin() + 4, bytes.begin() + 24);
    EXPECT_EQ(head, (std::vector<std::uint8_t>{2, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 100, 0, 0x34, 0x12}));
    float orientation, bottomGamma;
    std::memcpy(&orientation, &bytes[40], 4);
    std::memcpy(&bottomGamma, &bytes[76], 4);
    EXPECT_EQ(orientation, 90.0f);
    EXPECT_EQ(bottomGamma, 3.0f);
    const auto back = KavioProjectionUniforms::fromBytes(bytes.data());
    EXPECT_EQ(back.bytes(), bytes);
}

// The projection of a red-left, blue-right picture by a 64 x 36 output, read from its drawable.
class KavioProjectionTest : public OutputsTest {
protected:
    void SetUpWithDevice() override
    {
        output = std::make_shared<KavioVideoOutputObject>(QRectF(0, 0, 64, 36), false, *manager, nullptr);
        output->setVideoOutputType(KavioVideoOutputTypeSyphon);
        output->orderFront();  // sizes the view; a frame-sharing output keeps its window hidden
    }
    void TearDown() override
    {
        if (output)
            output->removeResources();
    }

    std::vector<Rgba> project(const std::shared_ptr<GpuTexture>& picture, QSizeF atSize = {64, 36},
                              std::uint16_t paddingX = 0)
    {
        renderFrame([&] { output->renderWithTexture(picture, nullptr, false, atSize, paddingX, 0); });
        auto drawn = output->mtkView()->currentDrawableTexture();
        EXPECT_NE(drawn, nullptr);
        return drawn ? pixels(*drawn) : std::vector<Rgba>{};
    }
    static Rgba at(const std::vector<Rgba>& p, int x, int y) { return p[std::size_t(y) * 64 + std::size_t(x)]; }

    std::shared_ptr<KavioVideoOutputObject> output;
};

TEST_F(KavioProjectionTest, DefaultCornersReproduceThePicture)
{
    const auto p = project(halves(64, 36));
    EXPECT_TRUE(near(at(p, 2, 2), kRed));
    EXPECT_TRUE(near(at(p, 30, 18), kRed));
    EXPECT_TRUE(near(at(p, 34, 18), kBlue));
    EXPECT_TRUE(near(at(p, 61, 33), kBlue));
}

TEST_F(KavioProjectionTest, HalfSizeCornersLeaveABorderOfTheClearColour)
{
    KavioCornerCoords half;
    half.topLeft = {-0.5f, 0.5f}, half.topRight = {0.5f, 0.5f}, half.bottomLeft = {-0.5f, -0.5f};
    half.bottomRight = {0.5f, -0.5f};
    output->setCornerCoords(half);
    auto p = project(halves(64, 36));
    EXPECT_TRUE(near(at(p, 2, 2), kTransparent));
    EXPECT_TRUE(near(at(p, 20, 18), kRed));
    EXPECT_TRUE(near(at(p, 44, 18), kBlue));

    manager->setMatteColor({0, 1, 0, 1});
    output->setColorMatteEnabled(true);
    p = project(halves(64, 36));
    EXPECT_TRUE(near(at(p, 2, 2), {0, 255, 0, 255}));
    EXPECT_TRUE(near(at(p, 20, 18), kRed));
}

TEST_F(KavioProjectionTest, LeftEdgeBlendRampsToFull)
{
    output->setEdgeBlendEnabled(true);
    KavioEdgeBlendSettings blend;
    blend.leftEdgeWidth = 16;
    output->setEdgeBlendSettings(blend);
    const auto p = project(solid(64, 36, kRed));
    EXPECT_NEAR(at(p, 8, 18).r, 128, 12);
    EXPECT_TRUE(near(at(p, 32, 18), kRed));
    EXPECT_LT(at(p, 1, 18).r, 30);
}

TEST_F(KavioProjectionTest, SpanCellShowsItsShareAndOrientationTurnsIt)
{
    output->setEnableSpanMode(true);
    output->setScreenSpan({1, 2});
    output->setScreenLocation({0, 1});
    // The whole picture is 128 x 36: the second cell is its blue right half.
    auto p = project(halves(128, 36));
    EXPECT_TRUE(near(at(p, 4, 18), kBlue));
    EXPECT_TRUE(near(at(p, 60, 18), kBlue));
    // Shifted left by a 32-pixel blend padding, the cell starts inside the red half.
    p = project(halves(128, 36), {64, 36}, 32);
    EXPECT_TRUE(near(at(p, 4, 18), kRed));
    EXPECT_TRUE(near(at(p, 60, 18), kBlue));

    output->setEnableSpanMode(false);
    output->setOrientation(180);
    p = project(halves(64, 36));
    EXPECT_TRUE(near(at(p, 4, 18), kBlue));
    EXPECT_TRUE(near(at(p, 60, 18), kRed));
}

TEST_F(KavioProjectionTest, TheHandOverCopiesTheFrameForTheSink)
{
    project(halves(64, 36));
    auto copy = output->outputTexture();
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->width(), 64u);
    EXPECT_TRUE(near(pixel(*copy, 4, 18), kRed));
    EXPECT_TRUE(near(pixel(*copy, 60, 18), kBlue));
}

}  // namespace
