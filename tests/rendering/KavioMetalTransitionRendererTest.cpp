// The transition renderer on real OpenGL: each type from the outgoing (red) to the incoming
// (blue) picture across its progress.

#include "FakeRenderedCue.h"
#include "RenderingTestSupport.h"
#include "Rendering/KavioMetalTransitionRenderer.h"

#include <gtest/gtest.h>

namespace {

class KavioMetalTransitionRendererTest : public RenderingTest {
protected:
    void SetUpWithDevice() override
    {
        source->display = solid(64, 36, kRed);
        destination->display = solid(64, 36, kBlue);
    }

    std::unique_ptr<KavioMetalTransitionRenderer> renderer(std::int32_t type)
    {
        auto r = std::make_unique<KavioMetalTransitionRenderer>(QSizeF(64, 36), false, type, *manager);
        r->setSourceItem(source);
        r->setDestinationItem(destination);
        return r;
    }

    std::vector<Rgba> renderAt(KavioMetalTransitionRenderer& r, float progress)
    {
        r.setProgress(progress);
        frame([&] { r.render(); });
        return pixels(*r.texture());
    }

    static testing::AssertionResult all(const std::vector<Rgba>& out, Rgba expected)
    {
        for (std::size_t i = 0; i < out.size(); ++i)
            if (auto result = near(out[i], expected); !result)
                return result << " at " << i % 64 << ", " << i / 64;
        return testing::AssertionSuccess();
    }

    std::shared_ptr<FakeRenderedCue> source = std::make_shared<FakeRenderedCue>();
    std::shared_ptr<FakeRenderedCue> destination = std::make_shared<FakeRenderedCue>();
};

constexpr Rgba kPurple{128, 0, 128, 255};
constexpr std::int32_t kTypes[] = {10, 20, 30, 40, 50, 60};

TEST_F(KavioMetalTransitionRendererTest, EveryTypeGoesFromOutgoingToIncoming)
{
    for (std::int32_t type : kTypes) {
        SCOPED_TRACE(testing::Message() << "type " << type);
        auto r = renderer(type);
        EXPECT_TRUE(all(renderAt(*r, 0.0f), kRed));
        EXPECT_TRUE(all(renderAt(*r, 1.0f), kBlue));
        EXPECT_FLOAT_EQ(r->progress(), 1.0f);
        // Passed on unclamped: the shader clamps.
        EXPECT_TRUE(all(renderAt(*r, 1.5f), kBlue));
        EXPECT_FLOAT_EQ(r->progress(), 1.5f);
    }
}

TEST_F(KavioMetalTransitionRendererTest, HalfWay)
{
    struct Probe {
        std::uint32_t x, y;
        Rgba expected;
    };
    struct Case {
        std::int32_t type;
        std::vector<Probe> probes;
    };
    const Case cases[] = {
        {10, {{0, 0, kPurple}, {32, 18, kPurple}, {63, 35, kPurple}}},
        {20, {{8, 18, kBlue}, {56, 18, kRed}}},
        {30, {{8, 18, kRed}, {56, 18, kBlue}}},
        {40, {{32, 35, kBlue}, {32, 0, kRed}}},
        {50, {{32, 35, kRed}, {32, 0, kBlue}}},
        {60, {{0, 0, kPurple}, {32, 18, kPurple}, {50, 30, kPurple}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type);
        auto r = renderer(c.type);
        const auto out = renderAt(*r, 0.5f);
        for (const auto& p : c.probes)
            EXPECT_TRUE(near(out[p.y * 64 + p.x], p.expected)) << "at " << p.x << ", " << p.y;
    }
}

TEST_F(KavioMetalTransitionRendererTest, UnknownTypeDissolves)
{
    EXPECT_STREQ(KavioMetalTransitionRenderer::fragmentFunctionForType(99), "fragmentShaderTransitionDissolve");
    auto r = renderer(99);
    EXPECT_TRUE(all(renderAt(*r, 0.5f), kPurple));
}

TEST_F(KavioMetalTransitionRendererTest, SameSizeKeepsTheTextureAndANewSizeRemakesIt)
{
    auto r = renderer(10);
    auto first = r->texture();
    r->setRenderSize({64, 36});
    EXPECT_EQ(r->texture(), first);
    r->setRenderSize({0, 36});
    EXPECT_EQ(r->texture(), first);
    r->setRenderSize({32, 18});
    EXPECT_NE(r->texture(), first);
    EXPECT_EQ(r->texture()->width(), 32u);
}

TEST_F(KavioMetalTransitionRendererTest, ACueIntoItsOwnNextPassShowsItsHelperPicture)
{
    source->helper = solid(64, 36, kBlue);
    auto r = renderer(10);
    r->setDestinationItem(source);
    EXPECT_TRUE(all(renderAt(*r, 1.0f), kBlue));
}

TEST_F(KavioMetalTransitionRendererTest, AMissingPictureKeepsTheLastFrame)
{
    auto r = renderer(20);
    renderAt(*r, 1.0f);
    destination->display.reset();
    EXPECT_TRUE(all(renderAt(*r, 0.0f), kBlue));
    r->removeResources();
    EXPECT_EQ(r->texture(), nullptr);
    EXPECT_EQ(r->sourceItem(), nullptr);
    r->render();
}

}  // namespace
