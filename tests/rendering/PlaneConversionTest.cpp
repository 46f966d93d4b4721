// A decoder's planes converted by the layer renderer's shader against the same frame converted
// to BGRA on the processor and drawn as it is: both must show the same picture.

#include "MediaFixtures.h"
#include "RenderingTestSupport.h"
#include "Rendering/KavioFrameSlots.h"
#include "Rendering/QVTMetalLayerRenderer.h"

#include "VideoFrameSource.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <sstream>

namespace {

constexpr int kWidth = 256, kHeight = 144;

// "<pixel format>_<matrix>_<range>.mkv": a few frames of slow colour ramps (so that how chroma
// is filtered between its samples stays below a level) with alpha rising down the picture.
bool makeClip(const std::string& name)
{
    std::istringstream fields(name.substr(0, name.find('.')));
    std::string format, matrix, range;
    std::getline(fields, format, '_');
    std::getline(fields, matrix, '_');
    std::getline(fields, range, '_');
    const std::string codec = format == "nv12" || format == "yuv420p" ? "rawvideo" : "ffv1";
    return MediaFixtures::ffmpeg("-f lavfi -i \"color=s=" + std::to_string(kWidth) + "x" + std::to_string(kHeight)
                                 + ":d=0.2:r=25,format=gbrap,geq=r='40+X*0.6':g='60+Y':b='200-X*0.5':a='64+Y'\""
                                 + " -vf format=" + format + " -c:v " + codec + " -colorspace " + matrix
                                 + " -color_range " + range + " " + name);
}

VideoFrameRef firstFrame(const std::string& path, MediaPixelFormat format)
{
    VideoFrameSourceOptions options;
    options.pixelFormat = format;
    auto source = VideoFrameSource::open(path, options);
    if (!source || !source->waitForItemTime(MediaTime::zero(), 10))
        return nullptr;
    return source->copyFrameForItemTime(MediaTime::zero());
}

// The same picture as p010 does it: 10-bit samples in the high bits of 16, Cb and Cr paired.
VideoFrameRef asP010(const VideoFrame& frame)
{
    const VideoFramePlanes& from = frame.planes();
    const int w = frame.width(), h = frame.height(), cw = from.chromaWidth(w), ch = from.chromaHeight(h);
    auto bytes = std::make_shared<std::vector<std::uint16_t>>(std::size_t(w) * h + std::size_t(cw) * ch * 2);
    std::uint16_t* luma = bytes->data();
    std::uint16_t* pairs = luma + std::size_t(w) * h;
    auto sample = [&](int plane, int x, int y) {
        std::uint16_t v;
        std::memcpy(&v, from.data[plane] + std::ptrdiff_t(y) * from.bytesPerRow[plane] + 2 * x, 2);
        return std::uint16_t(v << 6);
    };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            luma[y * w + x] = sample(0, x, y);
    for (int y = 0; y < ch; ++y)
        for (int x = 0; x < cw; ++x) {
            pairs[2 * (y * cw + x)] = sample(1, x, y);
            pairs[2 * (y * cw + x) + 1] = sample(2, x, y);
        }
    VideoFramePlanes planes = from;
    planes.count = 2;
    planes.interleavedChroma = true;
    planes.sampleShift = 6;
    planes.data[0] = reinterpret_cast<const std::uint8_t*>(luma);
    planes.data[1] = reinterpret_cast<const std::uint8_t*>(pairs);
    planes.bytesPerRow[0] = 2 * w;
    planes.bytesPerRow[1] = 4 * cw;
    return std::make_shared<const VideoFrame>(w, h, planes, frame.presentationTime(), bytes);
}

class PlaneConversionTest : public RenderingTest {
protected:
    // The layer of one frame, drawn at its own size.
    std::vector<Rgba> layerOf(const std::function<void(QVTMetalLayerRenderer&, const QVTLayerSettings&)>& render)
    {
        QVTMetalLayerRenderer layer({double(kWidth), double(kHeight)}, false, false, false, false, *manager);
        QVTLayerSettings stretch;
        stretch.sizingMode = 2;
        frame([&] { render(layer, stretch); });
        return pixels(*layer.texture());
    }

    void expectSamePicture(const VideoFrameRef& native, const VideoFrameRef& bgra, const std::string& what)
    {
        ASSERT_TRUE(native && bgra) << what;
        ASSERT_EQ(native->pixelFormat(), MediaPixelFormat::Native) << what;
        KavioFrameSlots frameSlots(*manager);
        const auto viaPlanes = layerOf([&](QVTMetalLayerRenderer& layer, const QVTLayerSettings& settings) {
            const QVTPlaneTextures planes = frameSlots.uploadPlanes(native, KavioFrameSlots::A);
            ASSERT_TRUE(planes.textures[0]) << what;
            layer.renderWithPlanes(planes, settings);
        });
        const auto viaBgra = layerOf([&](QVTMetalLayerRenderer& layer, const QVTLayerSettings& settings) {
            layer.renderWithTexture(frameSlots.uploadFrame(*bgra, KavioFrameSlots::B), settings);
        });
        ASSERT_EQ(viaPlanes.size(), viaBgra.size());
        int worst = 0;
        std::size_t worstAt = 0;
        for (std::size_t i = 0; i < viaPlanes.size(); ++i) {
            const Rgba a = viaPlanes[i], b = viaBgra[i];
            const int d = std::max({std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b), std::abs(a.a - b.a)});
            if (d > worst)
                worst = d, worstAt = i;
        }
        EXPECT_LE(worst, 2) << what << ": at (" << worstAt % kWidth << ", " << worstAt / kWidth << ") planes give "
                            << viaPlanes[worstAt] << ", BGRA " << viaBgra[worstAt];
        EXPECT_GT(viaBgra[std::size_t(kWidth) * 72 + 128].a, 0) << what << ": the picture was drawn";
    }
};

TEST_F(PlaneConversionTest, PlanesShowWhatTheBgraPathShows)
{
    // Depths, chroma layouts, matrices and both ranges.
    const char* const clips[] = {
        "yuv420p_bt709_tv.mkv",        "yuv420p_bt470bg_pc.mkv",       "nv12_bt709_tv.mkv",
        "yuv444p_smpte170m_tv.mkv",    "yuv422p10le_bt709_tv.mkv",     "yuv420p10le_bt2020nc_tv.mkv",
        "yuva420p_bt709_tv.mkv",
    };
    for (const char* clip : clips) {
        const std::string path = MediaFixtures::madePath(clip, makeClip);
        ASSERT_FALSE(path.empty()) << clip;
        expectSamePicture(firstFrame(path, MediaPixelFormat::Native), firstFrame(path, MediaPixelFormat::BGRA), clip);
    }
    // p010: 10 bits at the top of 16, chroma paired; the decoders here do not make it, so the
    // 10-bit frame is repacked.
    const std::string path = MediaFixtures::madePath("yuv420p10le_bt2020nc_tv.mkv", makeClip);
    const auto tenBit = firstFrame(path, MediaPixelFormat::Native);
    ASSERT_TRUE(tenBit);
    expectSamePicture(asP010(*tenBit), firstFrame(path, MediaPixelFormat::BGRA), "p010");
}

TEST_F(PlaneConversionTest, PlaneRecordFollowsMatrixRangeDepthAndSiting)
{
    VideoFramePlanes layout;
    layout.count = 3;
    layout.chromaShiftX = layout.chromaShiftY = 1;
    auto rgbOf = [](const QVTMetalLayerRenderer::PlaneRecord& r, double y, double cb, double cr) {
        const double v[4] = {y, cb, cr, 1.0};
        double out[3] = {};
        for (int row = 0; row < 3; ++row)
            for (int k = 0; k < 4; ++k)
                out[row] += r[std::size_t(4 * row + k)] * v[k];
        return std::array<double, 3>{out[0], out[1], out[2]};
    };
    // Video-range white and black, and a BT.709 red, in 8 bits.
    layout.matrix = MediaColorMatrix::ITU_R_709;
    auto record = QVTMetalLayerRenderer::planeConversionRecord(layout, 1920, 1080);
    for (double c : rgbOf(record, 235 / 255.0, 128 / 255.0, 128 / 255.0))
        EXPECT_NEAR(c, 1.0, 1e-4);
    for (double c : rgbOf(record, 16 / 255.0, 128 / 255.0, 128 / 255.0))
        EXPECT_NEAR(c, 0.0, 1e-4);
    const auto red = rgbOf(record, 63 / 255.0, 102 / 255.0, 240 / 255.0);
    EXPECT_NEAR(red[0], 1.0, 0.01);
    EXPECT_NEAR(red[1], 0.0, 0.01);
    EXPECT_NEAR(red[2], 0.0, 0.01);
    // Left siting: a luma pixel's centre lies a quarter chroma texel right of uv / 2.
    EXPECT_FLOAT_EQ(record[16], 1.0f);
    EXPECT_FLOAT_EQ(record[18], 0.25f / 960);
    EXPECT_FLOAT_EQ(record[19], 0.0f);
    // 10 bits in 16 (as sampled: code / 65535) and full range: the top code is white.
    layout.bytesPerSample = 2;
    layout.bitDepth = 10;
    layout.fullRange = true;
    record = QVTMetalLayerRenderer::planeConversionRecord(layout, 1920, 1080);
    for (double c : rgbOf(record, 1023 / 65535.0, 512 / 65535.0, 512 / 65535.0))
        EXPECT_NEAR(c, 1.0, 1e-3);
    // Untagged pictures take BT.601 below 720 rows: red's green differs from BT.709's.
    layout = {};
    layout.count = 3;
    const auto small = rgbOf(QVTMetalLayerRenderer::planeConversionRecord(layout, 640, 480), 0.5, 0.4, 0.6);
    layout.matrix = MediaColorMatrix::ITU_R_601;
    const auto tagged = rgbOf(QVTMetalLayerRenderer::planeConversionRecord(layout, 640, 480), 0.5, 0.4, 0.6);
    EXPECT_NEAR(small[1], tagged[1], 1e-6);
    // Top-left siting moves the vertical map too; centred siting moves neither.
    layout.chromaShiftX = layout.chromaShiftY = 1;
    layout.siting = MediaChromaSiting::TopLeft;
    record = QVTMetalLayerRenderer::planeConversionRecord(layout, 64, 64);
    EXPECT_FLOAT_EQ(record[19], 0.25f / 32);
    layout.siting = MediaChromaSiting::Center;
    record = QVTMetalLayerRenderer::planeConversionRecord(layout, 64, 64);
    EXPECT_FLOAT_EQ(record[18], 0.0f);
    EXPECT_FLOAT_EQ(record[19], 0.0f);
}

TEST_F(PlaneConversionTest, PlanesOfTheWrongShapeAreSkipped)
{
    const std::string path = MediaFixtures::madePath("yuv420p_bt709_tv.mkv", makeClip);
    const auto native = firstFrame(path, MediaPixelFormat::Native);
    ASSERT_TRUE(native);
    KavioFrameSlots frameSlots(*manager);
    QVTPlaneTextures planes;
    const auto drawn = layerOf([&](QVTMetalLayerRenderer& layer, const QVTLayerSettings& settings) {
        planes = frameSlots.uploadPlanes(native, KavioFrameSlots::A);
        std::swap(planes.textures[1], planes.textures[0]);  // chroma where luma belongs
        layer.renderWithPlanes(planes, settings);
    });
    EXPECT_TRUE(near(drawn[0], kTransparent)) << "nothing drawn";
    EXPECT_FALSE(frameSlots.uploadPlanes(firstFrame(path, MediaPixelFormat::BGRA), KavioFrameSlots::A).textures[0])
        << "a packed frame has no planes";
}

}  // namespace
