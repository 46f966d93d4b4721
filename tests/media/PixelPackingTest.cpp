#include "PixelPacking.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

using namespace PixelPacking;

TEST(PixelPacking, HalfFloatConversion) {
    const struct {
        float in;
        uint16_t half;
    } cases[] = {
        {0.f, 0x0000},
        {-0.f, 0x8000},
        {1.f, 0x3c00},
        {0.5f, 0x3800},
        {-2.f, 0xc000},
        {65504.f, 0x7bff},
        {65520.f, 0x7c00},  // rounds up to infinity
        {1.0f / 3, 0x3555},
        {5.96046448e-8f, 0x0001},  // smallest subnormal
        {6.1035156e-5f, 0x0400},   // smallest normal
        {1.00048828125f, 0x3c00},  // halfway: to even
        {1.00146484375f, 0x3c02},  // halfway: to even, upward
    };
    for (const auto& c : cases)
        EXPECT_EQ(halfFromFloat(c.in), c.half) << c.in;
    EXPECT_EQ(halfFromFloat(std::numeric_limits<float>::infinity()), 0x7c00);
    EXPECT_EQ(halfFromFloat(std::numeric_limits<float>::quiet_NaN()) & 0x7c00, 0x7c00);

    const uint16_t rgba64[] = {0, 65535, 32768, 65535};
    uint16_t half[4];
    rgba64ToHalfRow(rgba64, 1, half);
    EXPECT_EQ(half[0], 0x0000);
    EXPECT_EQ(half[1], 0x3c00);
    EXPECT_EQ(half[2], 0x3800);  // 32768 / 65535 rounds to 0.5
}

TEST(PixelPacking, V210GroupsOfSixPixels) {
    // Width 8: one full group and a partial one padded with zero samples.
    std::vector<uint16_t> y = {1, 2, 3, 4, 5, 6, 7, 8}, cb = {101, 102, 103, 104},
                          cr = {201, 202, 203, 204};
    std::vector<uint8_t> out(32, 0xee);
    packV210Row(y.data(), cb.data(), cr.data(), 8, out.data());
    auto word = [&](int i) {
        uint32_t w;
        std::memcpy(&w, out.data() + i * 4, 4);  // little-endian host
        return std::vector<uint32_t>{w & 0x3ff, (w >> 10) & 0x3ff, (w >> 20) & 0x3ff, w >> 30};
    };
    EXPECT_EQ(word(0), (std::vector<uint32_t>{101, 1, 201, 0}));
    EXPECT_EQ(word(1), (std::vector<uint32_t>{2, 102, 3, 0}));
    EXPECT_EQ(word(2), (std::vector<uint32_t>{202, 4, 103, 0}));
    EXPECT_EQ(word(3), (std::vector<uint32_t>{5, 203, 6, 0}));
    EXPECT_EQ(word(4), (std::vector<uint32_t>{104, 7, 204, 0}));
    EXPECT_EQ(word(5), (std::vector<uint32_t>{8, 0, 0, 0}));
    EXPECT_EQ(word(7), (std::vector<uint32_t>{0, 0, 0, 0}));
    // Values above ten bits are cut to ten.
    uint16_t big = 0xffff;
    packV210Row(&big, &big, &big, 1, out.data());
    EXPECT_EQ(word(0), (std::vector<uint32_t>{0x3ff, 0x3ff, 0x3ff, 0}));
}

TEST(PixelPacking, UYVYPairsAndAnOddLastPixel) {
    const uint8_t y[] = {10, 11, 12}, cb[] = {100, 101}, cr[] = {200, 201};
    uint8_t out[8] = {};
    packUYVYRow(y, cb, cr, 3, out);
    const uint8_t expected[] = {100, 10, 200, 11, 101, 12, 201, 12};
    EXPECT_TRUE(std::equal(std::begin(out), std::end(out), std::begin(expected)));

    const uint16_t y10[] = {64, 940}, cb10[] = {513}, cr10[] = {1023};
    packUYVYRow10(y10, cb10, cr10, 2, out);
    const uint8_t expected8[] = {128, 16, 255, 235};  // rounded: 513 -> 128.25 -> 128
    EXPECT_TRUE(std::equal(out, out + 4, std::begin(expected8)));
}
