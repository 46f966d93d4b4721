// The loopback messages as bytes, and the v210 / P216 conversions, without sockets.
#include "NdiLoopbackCodec.h"
#include "NdiPixelConversion.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>

namespace Codec = NdiLoopbackCodec;

namespace {

std::vector<uint8_t> pattern(size_t size)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = uint8_t(i * 7 + 3);
    return bytes;
}

std::optional<Codec::Message> decodeWhole(const std::vector<uint8_t>& message)
{
    Codec::Reader reader;
    reader.append(message.data(), message.size());
    return reader.next();
}

}  // namespace

TEST(NdiLoopbackCodec, VideoAudioMetadataAndTallyRoundTrip)
{
    const auto pixels = pattern(36 * 4 * 2);  // P216: two planes of 4 rows at stride 36
    ndi::VideoFrame video;
    video.width = 16, video.height = 4, video.fourCC = ndi::kFourCC_P216;
    video.frameRateN = 24000, video.frameRateD = 1001, video.pictureAspectRatio = 4.0f;
    video.timecode = 123456789012345, video.data = pixels.data(), video.lineStride = 36;
    auto decoded = decodeWhole(Codec::encodeVideo(video));
    ASSERT_TRUE(decoded);
    const auto& v = std::get<Codec::DecodedVideo>(*decoded);
    EXPECT_EQ(v.frame.width, 16);
    EXPECT_EQ(v.frame.height, 4);
    EXPECT_EQ(v.frame.fourCC, ndi::kFourCC_P216);
    EXPECT_EQ(v.frame.frameRateN, 24000);
    EXPECT_EQ(v.frame.frameRateD, 1001);
    EXPECT_EQ(v.frame.pictureAspectRatio, 4.0f);
    EXPECT_EQ(v.frame.lineStride, 36);
    EXPECT_EQ(v.frame.timecode, 123456789012345);
    EXPECT_EQ(v.bytes, pixels);

    // Planes with a padded stride arrive packed at samples x 4.
    std::vector<float> planes(2 * 10, 0.0f);
    for (int i = 0; i < 3; ++i)
        planes[size_t(i)] = float(i) + 0.5f, planes[10 + size_t(i)] = -float(i);
    ndi::AudioFrame audio;
    audio.sampleRate = 48000, audio.channels = 2, audio.samples = 3, audio.data = planes.data();
    audio.channelStride = 40;
    decoded = decodeWhole(Codec::encodeAudio(audio));
    ASSERT_TRUE(decoded);
    const auto& a = std::get<Codec::DecodedAudio>(*decoded);
    EXPECT_EQ(a.frame.channels, 2);
    EXPECT_EQ(a.frame.samples, 3);
    EXPECT_EQ(a.frame.channelStride, 12);
    EXPECT_EQ(a.samples, (std::vector<float>{0.5f, 1.5f, 2.5f, 0.0f, -1.0f, -2.0f}));

    decoded = decodeWhole(Codec::encodeMetadata("<ndi_tally/>"));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(std::get<Codec::Metadata>(*decoded).text, "<ndi_tally/>");

    decoded = decodeWhole(Codec::encodeTally({true, false}));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(std::get<ndi::Tally>(*decoded), (ndi::Tally{true, false}));
}

TEST(NdiLoopbackCodec, MessagesSplitAnywhereArriveWhole)
{
    std::vector<uint8_t> stream;
    for (bool program : {true, false, true}) {
        const auto m = Codec::encodeTally({program, !program});
        stream.insert(stream.end(), m.begin(), m.end());
    }
    Codec::Reader reader;
    std::vector<ndi::Tally> got;
    for (uint8_t byte : stream) {
        reader.append(&byte, 1);
        while (auto message = reader.next())
            got.push_back(std::get<ndi::Tally>(*message));
    }
    EXPECT_FALSE(reader.failed());
    EXPECT_EQ(got, (std::vector<ndi::Tally>{{true, false}, {false, true}, {true, false}}));
}

TEST(NdiLoopbackCodec, MalformedMessagesAreRefused)
{
    const auto pixels = pattern(8 * 4 * 2);
    ndi::VideoFrame video;
    video.width = 4, video.height = 2, video.fourCC = ndi::kFourCC_BGRA, video.data = pixels.data();
    video.lineStride = 16;
    const auto good = Codec::encodeVideo(video);
    ASSERT_FALSE(good.empty());

    auto withBody = [&](std::function<void(std::vector<uint8_t>&)> edit) {
        auto m = good;
        edit(m);
        return m;
    };
    auto setU32 = [](std::vector<uint8_t>& m, size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            m[at + size_t(i)] = uint8_t(v >> (8 * i));
    };
    const size_t body = Codec::kHeaderSize;
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"unknown type", withBody([](auto& m) { m[4] = 9; })},
        {"body over the limit", withBody([&](auto& m) { setU32(m, 0, Codec::kMaxBodySize + 1); })},
        {"body shorter than its fields", withBody([&](auto& m) { m.resize(body + 10); setU32(m, 0, 10); })},
        {"rows missing", withBody([&](auto& m) { m.pop_back(); setU32(m, 0, uint32_t(m.size() - body)); })},
        {"rows left over", withBody([&](auto& m) { m.push_back(0); setU32(m, 0, uint32_t(m.size() - body)); })},
        {"zero width", withBody([&](auto& m) { setU32(m, body, 0); })},
        {"stride below the row", withBody([&](auto& m) { setU32(m, body + 24, 15); })},
        {"huge height", withBody([&](auto& m) { setU32(m, body + 4, 0x80000000u); })},
        {"tally of three bytes", [] { auto m = Codec::encodeTally({}); m.push_back(0); m[0] = 3; return m; }()},
    };
    for (const Case& c : cases) {
        Codec::Reader reader;
        reader.append(c.bytes.data(), c.bytes.size());
        EXPECT_FALSE(reader.next()) << c.what;
        EXPECT_TRUE(reader.failed()) << c.what;
        // Nothing comes after a bad message, even a good one.
        reader.append(good.data(), good.size());
        EXPECT_FALSE(reader.next()) << c.what;
    }

    // A truncated message is only incomplete.
    Codec::Reader reader;
    reader.append(good.data(), good.size() - 1);
    EXPECT_FALSE(reader.next());
    EXPECT_FALSE(reader.failed());
    reader.append(&good.back(), 1);
    EXPECT_TRUE(reader.next());

    // Frames that cannot be described are not encoded.
    video.lineStride = 8;
    EXPECT_TRUE(Codec::encodeVideo(video).empty());
    video.lineStride = 16, video.width = 0;
    EXPECT_TRUE(Codec::encodeVideo(video).empty());
    ndi::AudioFrame audio;
    EXPECT_TRUE(Codec::encodeAudio(audio).empty());
}

TEST(NdiPixelConversion, V210AndP216RoundTripAndLayout)
{
    for (int width : {6, 48, 50, 1280, 1920}) {
        const int height = 3;
        const int v210Stride = NdiPixelConversion::v210Stride(width);
        std::vector<uint8_t> v210(size_t(v210Stride) * height, 0);
        // Every 10-bit sample distinct-ish, the padding of a partial last group zero.
        const int groups = (width + 5) / 6;
        for (int row = 0; row < height; ++row)
            for (int g = 0; g < groups; ++g)
                for (int w = 0; w < 4; ++w) {
                    uint32_t word = 0;
                    for (int k = 0; k < 3; ++k) {
                        const int index = g * 12 + w * 3 + k;  // sample within the row
                        const bool used = index / 2 < width;  // each pixel brings two samples
                        if (used)
                            word |= uint32_t((index * 37 + row * 5 + 64) & 0x3ff) << (10 * k);
                    }
                    std::memcpy(&v210[size_t(row) * v210Stride + size_t(g) * 16 + size_t(w) * 4], &word, 4);
                }
        const int p216Stride = NdiPixelConversion::p216Stride(width) + 8;  // padded rows
        std::vector<uint8_t> p216(size_t(p216Stride) * height * 2);
        ASSERT_TRUE(NdiPixelConversion::v210ToP216(v210.data(), v210Stride, width, height, p216.data(), p216Stride));
        // Pixel 0 of row 0: Cb0 is sample 0, Y0 sample 1, at the top of 16 bits.
        uint16_t y0, cb0;
        std::memcpy(&y0, &p216[0], 2);
        std::memcpy(&cb0, &p216[size_t(p216Stride) * height], 2);
        EXPECT_EQ(y0, uint16_t(((1 * 37 + 64) & 0x3ff) << 6)) << width;
        EXPECT_EQ(cb0, uint16_t(((0 * 37 + 64) & 0x3ff) << 6)) << width;
        std::vector<uint8_t> back(v210.size(), 0xAB);
        ASSERT_TRUE(NdiPixelConversion::p216ToV210(p216.data(), p216Stride, width, height, back.data(), v210Stride));
        for (int row = 0; row < height; ++row)
            EXPECT_EQ(0, std::memcmp(&back[size_t(row) * v210Stride], &v210[size_t(row) * v210Stride],
                                     size_t(groups) * 16))
                << width << " row " << row;
    }
    EXPECT_EQ(NdiPixelConversion::v210Stride(1920), 5120);
    EXPECT_EQ(NdiPixelConversion::v210Stride(1280), 3456);

    std::vector<uint8_t> any(1 << 16);
    EXPECT_FALSE(NdiPixelConversion::v210ToP216(any.data(), 128, 0, 1, any.data(), 128));
    EXPECT_FALSE(NdiPixelConversion::v210ToP216(any.data(), 128, 7, 1, any.data(), 128));   // odd width
    EXPECT_FALSE(NdiPixelConversion::v210ToP216(any.data(), 15, 6, 1, any.data(), 128));    // short v210 row
    EXPECT_FALSE(NdiPixelConversion::p216ToV210(any.data(), 10, 6, 1, any.data(), 128));    // short P216 row
}
