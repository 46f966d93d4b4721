#include "RenderingTestSupport.h"

#include <cmath>
#include <cstring>

namespace {

float halfToFloat(std::uint16_t h)
{
    const int exponent = (h >> 10) & 0x1f;
    const int mantissa = h & 0x3ff;
    float value = exponent == 0 ? float(mantissa) * std::ldexp(1.0f, -24)
                                : (1.0f + float(mantissa) / 1024.0f) * std::ldexp(1.0f, exponent - 15);
    return (h & 0x8000) ? -value : value;
}

int to8(float v)
{
    return int(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f));
}

}  // namespace

std::vector<Rgba> RenderingTest::pixels(const GpuTexture& texture)
{
    const std::uint32_t w = texture.width(), h = texture.height();
    std::vector<Rgba> out(std::size_t(w) * h);
    if (texture.pixelFormat() == GpuPixelFormat::RGBA16Float) {
        std::vector<std::uint16_t> halves(out.size() * 4);
        EXPECT_TRUE(texture.getBytes(halves.data(), w * 8, {0, 0, w, h}));
        for (std::size_t i = 0; i < out.size(); ++i)
            out[i] = {to8(halfToFloat(halves[4 * i])), to8(halfToFloat(halves[4 * i + 1])),
                      to8(halfToFloat(halves[4 * i + 2])), to8(halfToFloat(halves[4 * i + 3]))};
        return out;
    }
    std::vector<std::uint8_t> bytes(out.size() * 4);
    EXPECT_TRUE(texture.getBytes(bytes.data(), w * 4, {0, 0, w, h}));
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = {bytes[4 * i + 2], bytes[4 * i + 1], bytes[4 * i], bytes[4 * i + 3]};
    return out;
}

Rgba RenderingTest::pixel(const GpuTexture& texture, std::uint32_t x, std::uint32_t y)
{
    return pixels(texture)[std::size_t(y) * texture.width() + x];
}
