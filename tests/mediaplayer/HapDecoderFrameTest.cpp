// The Hap section parser on packets built byte by byte: every storage form, every plane kind,
// and packets that must be refused.

#include "HapDecoderFrame.h"

#include <gtest/gtest.h>
#include <snappy.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes section(uint8_t type, const Bytes& body, bool longHeader = false) {
    Bytes out;
    const size_t n = body.size();
    if (longHeader)
        out = {0, 0, 0, type, uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)};
    else
        out = {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), type};
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes le32s(std::initializer_list<uint32_t> values) {
    Bytes out;
    for (uint32_t v : values)
        out.insert(out.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
    return out;
}

Bytes pattern(size_t n, int seed = 1) {
    Bytes out(n);
    for (size_t i = 0; i < n; ++i) out[i] = uint8_t(i * 31 + seed * 7);
    return out;
}

Bytes snappyOf(const Bytes& data) {
    std::string out;
    snappy::Compress(reinterpret_cast<const char*>(data.data()), data.size(), &out);
    return Bytes(out.begin(), out.end());
}

HapFrameRef decode(const Bytes& packet, int width = 8, int height = 8,
                   uint32_t subType = fourCC("Hap1")) {
    return HapDecoderFrame::decode(packet.data(), packet.size(), subType, width, height,
                                   MediaTime::make(3, 25));
}

// 8 x 8 in DXT1: 4 blocks of 8 bytes.
const Bytes kDxt1 = pattern(32);

// Two chunks of 16 bytes: the first snappy, the second stored; offsets given or implied.
Bytes chunkedDxt1(bool withOffsets) {
    const Bytes first = snappyOf(Bytes(kDxt1.begin(), kDxt1.begin() + 16));
    const Bytes second(kDxt1.begin() + 16, kDxt1.end());
    Bytes tables = concat({section(0x02, {0x0B, 0x0A}),
                           section(0x03, le32s({uint32_t(first.size()), 16}))});
    Bytes data = concat({first, second});
    if (withOffsets) {  // stored in the other order, found through the offsets
        tables = concat({tables, section(0x04, le32s({16, 0}))});
        data = concat({second, first});
    }
    return section(0xCB, concat({section(0x01, tables), data}));
}

}  // namespace

TEST(HapDecoderFrame, DecodesEveryStorageForm) {
    const struct {
        const char* name;
        Bytes packet;
    } cases[] = {
        {"stored", section(0xAB, kDxt1)},
        {"stored, eight-byte header", section(0xAB, kDxt1, true)},
        {"snappy", section(0xBB, snappyOf(kDxt1))},
        {"chunks in order", chunkedDxt1(false)},
        {"chunks by offset", chunkedDxt1(true)},
        {"one image in a multiple-image section", section(0x0D, section(0xBB, snappyOf(kDxt1)))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const HapFrameRef frame = decode(c.packet);
        ASSERT_TRUE(frame->isValid()) << frame->error();
        ASSERT_EQ(frame->dxtPlaneCount(), 1);
        EXPECT_EQ(frame->dxtPixelFormat(0), fourCC("DXt1"));
        ASSERT_EQ(frame->dxtDataSize(0), 32u);
        EXPECT_EQ(Bytes(frame->dxtData(0), frame->dxtData(0) + 32), kDxt1);
        EXPECT_EQ(frame->codecSubType(), fourCC("Hap1"));
        EXPECT_EQ(frame->presentationTime(), MediaTime::make(3, 25));
    }
}

TEST(HapDecoderFrame, PlanesOfEachKindCarryTheirFormatAndSize) {
    const Bytes dxt5 = pattern(64, 2), alpha = pattern(32, 3);
    const struct {
        const char* name;
        Bytes packet;
        uint32_t subType;
        std::vector<uint32_t> codes;
        std::vector<size_t> sizes;
    } cases[] = {
        {"Hap", section(0xBB, snappyOf(kDxt1)), fourCC("Hap1"), {fourCC("DXt1")}, {32}},
        {"Hap Alpha", section(0xBE, snappyOf(dxt5)), fourCC("Hap5"), {fourCC("DXT5")}, {64}},
        {"Hap Q", section(0xBF, snappyOf(dxt5)), fourCC("HapY"), {fourCC("DYt5")}, {64}},
        {"Hap Alpha-Only", section(0xB1, snappyOf(alpha)), fourCC("HapA"), {fourCC("RGA1")}, {32}},
        {"Hap Q Alpha",
         section(0x0D, concat({section(0xBF, snappyOf(dxt5)), section(0xA1, alpha)})),
         fourCC("HapM"),
         {fourCC("DYtA"), fourCC("DYtA")},
         {64, 32}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const HapFrameRef frame = decode(c.packet, 8, 8, c.subType);
        ASSERT_TRUE(frame->isValid()) << frame->error();
        ASSERT_EQ(frame->dxtPlaneCount(), int(c.codes.size()));
        for (int i = 0; i < frame->dxtPlaneCount(); ++i) {
            EXPECT_EQ(frame->dxtPixelFormat(i), c.codes[size_t(i)]);
            EXPECT_EQ(frame->dxtDataSize(i), c.sizes[size_t(i)]);
            // The size is exactly what the plane's format needs for the compressed image.
            const HapPlaneFormat format = hapPlaneFormat(frame->dxtPixelFormat(i), i);
            EXPECT_EQ(frame->dxtDataSize(i), size_t(format.bitsPerPixel) * 8 * 8 / 8);
        }
        EXPECT_EQ(frame->codecSubType(), c.subType);
    }
}

TEST(HapDecoderFrame, PlaneFormatTable) {
    using F = HapTextureFormat;
    const struct {
        const char* code;
        int plane;
        F format;
        int bits;
    } cases[] = {
        {"DXt1", 0, F::RGB_DXT1, 4},  {"DXT5", 0, F::RGBA_DXT5, 8}, {"DYt5", 0, F::RGBA_DXT5, 8},
        {"DYtA", 0, F::RGBA_DXT5, 8}, {"DYtA", 1, F::A_RGTC1, 4},   {"CCXY", 0, F::RGBA_DXT5, 8},
        {"CCXY", 1, F::A_RGTC1, 4},   {"RGA1", 0, F::A_RGTC1, 4},   {"BGRA", 0, F::Unknown, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.code) + " plane " + std::to_string(c.plane));
        const uint32_t code = uint32_t(uint8_t(c.code[0])) << 24 | uint32_t(uint8_t(c.code[1])) << 16 |
                              uint32_t(uint8_t(c.code[2])) << 8 | uint8_t(c.code[3]);
        const HapPlaneFormat format = hapPlaneFormat(code, c.plane);
        EXPECT_EQ(format.textureFormat, c.format);
        EXPECT_EQ(format.bitsPerPixel, c.bits);
    }
}

TEST(HapDecoderFrame, PictureSizeRoundsUpToWholeBlocks) {
    // 6 x 6 is stored as 8 x 8: the compressed image has the padding, the picture does not.
    const HapFrameRef frame = decode(section(0xAB, kDxt1), 6, 6);
    ASSERT_TRUE(frame->isValid()) << frame->error();
    EXPECT_EQ(frame->dxtImgSize().width, 8);
    EXPECT_EQ(frame->dxtImgSize().height, 8);
    EXPECT_EQ(frame->imgSize().width, 6);
    EXPECT_EQ(frame->imgSize().height, 6);
}

TEST(HapDecoderFrame, RefusesPacketsThatDoNotMakeSense) {
    const Bytes snappy = snappyOf(kDxt1);
    Bytes damagedSnappy = snappy;
    for (size_t i = 1; i < damagedSnappy.size(); ++i) damagedSnappy[i] = 0xFF;
    // A snappy header stating 2^31 bytes in front of a few bytes of data.
    const Bytes hugeSnappy = {0x80, 0x80, 0x80, 0x80, 0x08, 0x00, 0x01};
    const Bytes dxt5 = pattern(64);
    const Bytes instructions = section(
        0x01, concat({section(0x02, {0x0A, 0x0A}), section(0x03, le32s({16, 16}))}));
    const struct {
        const char* name;
        Bytes packet;
        int width = 8, height = 8;
    } cases[] = {
        {"empty packet", {}},
        {"shorter than a header", {1, 2, 3}},
        {"section larger than the packet", Bytes{0xE8, 0x03, 0x00, 0xAB, 1, 2, 3}},
        {"eight-byte header stating 4 GB", concat({Bytes{0, 0, 0, 0xAB, 0xF0, 0xFF, 0xFF, 0xFF}, kDxt1})},
        {"stored data one byte short", section(0xAB, Bytes(kDxt1.begin(), kDxt1.end() - 1))},
        {"stored data one byte long", section(0xAB, concat({kDxt1, {0}}))},
        {"snappy stating 2^31 bytes", section(0xBB, hugeSnappy)},
        {"damaged snappy", section(0xBB, damagedSnappy)},
        {"snappy of the wrong size", section(0xBB, snappyOf(pattern(48)))},
        {"unknown texture type", section(0xB7, snappy)},
        {"BC7, not a plane taken here", section(0xBC, snappyOf(pattern(64)))},
        {"unknown second-stage compressor", section(0xDB, snappy)},
        {"chunked without instructions", section(0xCB, kDxt1)},
        {"chunk tables of different lengths",
         section(0xCB, concat({section(0x01, concat({section(0x02, {0x0A, 0x0A}),
                                                     section(0x03, le32s({32}))})),
                               kDxt1}))},
        {"chunk outside the frame data",
         section(0xCB, concat({section(0x01, concat({section(0x02, {0x0A}),
                                                     section(0x03, le32s({32})),
                                                     section(0x04, le32s({0x7FFFFFF0}))})),
                               kDxt1}))},
        {"chunks short of the picture", section(0xCB, concat({instructions, Bytes(kDxt1.begin(), kDxt1.begin() + 16)}))},
        {"more chunks than the picture has bytes",
         section(0xCB, concat({section(0x01, concat({section(0x02, Bytes(33, 0x0A)),
                                                     section(0x03, Bytes(33 * 4, 0))})),
                               kDxt1}))},
        {"unknown chunk compressor",
         section(0xCB, concat({section(0x01, concat({section(0x02, {0x0C}),
                                                     section(0x03, le32s({32}))})),
                               kDxt1}))},
        {"images Hap does not combine",
         section(0x0D, concat({section(0xAB, kDxt1), section(0xA1, pattern(32))}))},
        {"three images",
         section(0x0D, concat({section(0xAF, dxt5), section(0xA1, pattern(32)), section(0xA1, pattern(32))}))},
        {"no image", section(0x0D, {})},
        {"picture wider than any texture", section(0xAB, kDxt1), 100000, 8},
        {"picture of no size", section(0xAB, kDxt1), 0, 8},
        {"negative picture size", section(0xAB, kDxt1), 8, -8},
        // 16384 x 16384 in DXT5 needs 256 MiB: refused from the stated length, before allocating.
        {"largest picture, tiny packet", section(0xBE, snappy), 16384, 16384},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const HapFrameRef frame = decode(c.packet, c.width, c.height);
        EXPECT_FALSE(frame->isValid());
        EXPECT_FALSE(frame->error().empty());
        EXPECT_EQ(frame->dxtPlaneCount(), 0);
    }
}

// A snappy header may state any length: chunks whose headers state the whole largest picture
// from a few bytes each once sized a 256 MiB plane before their data was found wanting.
TEST(HapDecoderFrame, SnappyClaimingMoreThanItsBytesHoldIsRefusedBeforeAllocating) {
    const uint64_t picture = 16384ull * 16384;  // DXT5 bytes
    Bytes claim;  // varint of half the picture, then one literal byte
    for (uint64_t v = picture / 2; v; v >>= 7) claim.push_back(uint8_t((v & 0x7F) | (v >> 7 ? 0x80 : 0)));
    claim.insert(claim.end(), {0x00, 0x01});
    const Bytes packet = section(0xCE, concat({section(0x01, concat({section(0x02, {0x0B, 0x0B}),
                                                                   section(0x03, le32s({uint32_t(claim.size()), uint32_t(claim.size())})),
                                                                   section(0x04, le32s({0, 0}))})),
                                               claim}));
    const HapFrameRef frame = decode(packet, 16384, 16384);
    EXPECT_FALSE(frame->isValid());
    EXPECT_EQ(frame->error(), "snappy data stating more than its bytes can hold");
}

TEST(HapDecoderFrame, SurvivesEveryTruncationAndByteFlip) {
    const Bytes packets[] = {
        chunkedDxt1(true),
        section(0x0D, concat({section(0xBF, snappyOf(pattern(64, 2))), section(0xA1, pattern(32))})),
    };
    for (const Bytes& whole : packets) {
        for (size_t length = 0; length < whole.size(); ++length) {
            const HapFrameRef frame = decode(Bytes(whole.begin(), whole.begin() + long(length)));
            EXPECT_FALSE(frame->isValid()) << "valid when cut to " << length << " bytes";
        }
        for (size_t at = 0; at < whole.size(); ++at) {
            Bytes damaged = whole;
            damaged[at] ^= 0xFF;
            const HapFrameRef frame = decode(damaged);
            // Some flips land in texture bytes and still decode; the sizes must hold then.
            for (int i = 0; i < frame->dxtPlaneCount(); ++i)
                EXPECT_EQ(frame->dxtDataSize(i),
                          size_t(hapPlaneFormat(frame->dxtPixelFormat(i), i).bitsPerPixel) * 8);
        }
    }
}
