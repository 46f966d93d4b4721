#include "PixelPacking.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace PixelPacking {

uint16_t halfFromFloat(float value) {
    uint32_t f;
    std::memcpy(&f, &value, sizeof f);
    const uint32_t sign = (f >> 16) & 0x8000;
    const uint32_t exponent = (f >> 23) & 0xff;
    uint32_t mantissa = f & 0x7fffff;
    if (exponent == 0xff) return uint16_t(sign | 0x7c00 | (mantissa ? 0x200 : 0));
    const int e = int(exponent) - 127 + 15;
    if (e >= 0x1f) return uint16_t(sign | 0x7c00);
    if (e <= 0) {  // subnormal half, or zero
        if (e < -10) return uint16_t(sign);
        mantissa |= 0x800000;
        const int shift = 14 - e;
        uint32_t half = mantissa >> shift;
        const uint32_t rest = mantissa & ((1u << shift) - 1);
        const uint32_t halfway = 1u << (shift - 1);
        if (rest > halfway || (rest == halfway && (half & 1))) ++half;
        return uint16_t(sign | half);
    }
    uint32_t half = (uint32_t(e) << 10) | (mantissa >> 13);
    const uint32_t rest = mantissa & 0x1fff;
    if (rest > 0x1000 || (rest == 0x1000 && (half & 1)))
        ++half;  // a carry into the exponent is the correct rounding
    return uint16_t(sign | half);
}

void rgba64ToHalfRow(const uint16_t* rgba64, int width, uint16_t* half) {
    static const auto table = [] {
        std::array<uint16_t, 65536> t{};
        for (uint32_t v = 0; v < t.size(); ++v)
            t[v] = halfFromFloat(float(v) / 65535.0f);
        return t;
    }();
    for (int i = 0, n = width * 4; i < n; ++i)
        half[i] = table[rgba64[i]];
}

void packV210Row(const uint16_t* y, const uint16_t* cb, const uint16_t* cr, int width,
                 uint8_t* out) {
    const int chromaWidth = (width + 1) / 2;
    auto luma = [&](int i) -> uint32_t { return i < width ? y[i] & 0x3ff : 0; };
    auto blue = [&](int i) -> uint32_t { return i < chromaWidth ? cb[i] & 0x3ff : 0; };
    auto red = [&](int i) -> uint32_t { return i < chromaWidth ? cr[i] & 0x3ff : 0; };
    auto put = [&out](uint32_t a, uint32_t b, uint32_t c) {
        const uint32_t word = a | (b << 10) | (c << 20);
        out[0] = uint8_t(word);
        out[1] = uint8_t(word >> 8);
        out[2] = uint8_t(word >> 16);
        out[3] = uint8_t(word >> 24);
        out += 4;
    };
    for (int p = 0, c = 0; p < width; p += 6, c += 3) {
        put(blue(c), luma(p), red(c));
        put(luma(p + 1), blue(c + 1), luma(p + 2));
        put(red(c + 1), luma(p + 3), blue(c + 2));
        put(luma(p + 4), red(c + 2), luma(p + 5));
    }
}

namespace {

template <typename Sample, typename To8>
void packUYVY(const Sample* y, const Sample* cb, const Sample* cr, int width, uint8_t* out,
              To8 to8) {
    const int pairs = width / 2;
    for (int i = 0; i < pairs; ++i) {
        out[4 * i] = to8(cb[i]);
        out[4 * i + 1] = to8(y[2 * i]);
        out[4 * i + 2] = to8(cr[i]);
        out[4 * i + 3] = to8(y[2 * i + 1]);
    }
    if (width & 1) {
        out[4 * pairs] = to8(cb[pairs]);
        out[4 * pairs + 1] = to8(y[width - 1]);
        out[4 * pairs + 2] = to8(cr[pairs]);
        out[4 * pairs + 3] = to8(y[width - 1]);
    }
}

}  // namespace

void packUYVYRow(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int width, uint8_t* out) {
    packUYVY(y, cb, cr, width, out, [](uint8_t v) { return v; });
}

void packUYVYRow10(const uint16_t* y, const uint16_t* cb, const uint16_t* cr, int width,
                   uint8_t* out) {
    packUYVY(y, cb, cr, width, out,
             [](uint16_t v) { return uint8_t(std::min(255, ((v & 0x3ff) + 2) >> 2)); });
}

}  // namespace PixelPacking
