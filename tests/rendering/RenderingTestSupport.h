#pragma once
// What the renderer suites share: a GPU manager on the run's device, textures filled from
// bytes, one frame's command buffer run to completion, and pixels read back as 8-bit RGBA.

#include "GpuTestDevice.h"
#include "Rendering/QVTMetalManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <ostream>
#include <vector>

struct Rgba {
    int r = 0, g = 0, b = 0, a = 0;
};

inline std::ostream& operator<<(std::ostream& out, const Rgba& p)
{
    return out << "RGBA(" << p.r << ", " << p.g << ", " << p.b << ", " << p.a << ")";
}

// Each channel within `tolerance`.
inline testing::AssertionResult near(const Rgba& actual, const Rgba& expected, int tolerance = 2)
{
    if (std::abs(actual.r - expected.r) <= tolerance && std::abs(actual.g - expected.g) <= tolerance
        && std::abs(actual.b - expected.b) <= tolerance && std::abs(actual.a - expected.a) <= tolerance)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << actual << " is not " << expected << " within " << tolerance;
}

inline constexpr Rgba kTransparent{0, 0, 0, 0};
inline constexpr Rgba kRed{255, 0, 0, 255};
inline constexpr Rgba kBlue{0, 0, 255, 255};

class RenderingTest : public testing::Test {
protected:
    void SetUp() override
    {
        REQUIRE_GPU_DEVICE();
        manager = std::make_unique<QVTMetalManager>(GpuTestDevice::device());
        SetUpWithDevice();
    }
    // A suite's own set-up, run only when the run has a GPU.
    virtual void SetUpWithDevice() {}

    // A BGRA8 texture of one colour.
    std::shared_ptr<GpuTexture> solid(std::uint32_t w, std::uint32_t h, Rgba c)
    {
        return filled(w, h, [c](std::uint32_t, std::uint32_t) { return c; });
    }

    template <typename ColourAt>
    std::shared_ptr<GpuTexture> filled(std::uint32_t w, std::uint32_t h, ColourAt colourAt)
    {
        std::vector<std::uint8_t> bytes(std::size_t(w) * h * 4);
        for (std::uint32_t y = 0; y < h; ++y)
            for (std::uint32_t x = 0; x < w; ++x) {
                const Rgba c = colourAt(x, y);
                std::uint8_t* p = &bytes[(std::size_t(y) * w + x) * 4];
                p[0] = std::uint8_t(c.b), p[1] = std::uint8_t(c.g), p[2] = std::uint8_t(c.r), p[3] = std::uint8_t(c.a);
            }
        return texture(GpuPixelFormat::BGRA8Unorm, w, h, bytes);
    }

    std::shared_ptr<GpuTexture> texture(GpuPixelFormat format, std::uint32_t w, std::uint32_t h,
                                        const std::vector<std::uint8_t>& bytes)
    {
        auto t = manager->device()->newTexture({format, w, h});
        EXPECT_NE(t, nullptr);
        if (t) {
            EXPECT_TRUE(t->replaceRegion({0, 0, w, h}, bytes.data(), GpuPixelFormats::bytesPerRow(format, w)));
        }
        return t;
    }

    // Opens a frame's command buffer, runs `encode`, commits and waits until the GPU is done.
    template <typename Encode>
    void frame(Encode encode)
    {
        manager->createCurrentCommandBuffer();
        encode();
        auto buffer = manager->currentCommandBuffer();
        buffer->commit();
        buffer->waitUntilCompleted();
    }

    // The pixel at (x, y) of a BGRA8 or RGBA16Float texture, as 8-bit RGBA.
    static Rgba pixel(const GpuTexture& texture, std::uint32_t x, std::uint32_t y);
    static std::vector<Rgba> pixels(const GpuTexture& texture);

    std::unique_ptr<QVTMetalManager> manager;
};
