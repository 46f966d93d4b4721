// Movie frames on their way to the GPU, on real OpenGL (Mesa under Xvfb), read back: a frame the
// ring hands out keeps its bar code through an upload, Hap frames drawn by the frame source show
// the player's frame, and the Hap output's sizes, plane counts, bad frames and thumbnails.

#include "CueTestSupport.h"
#include "Cue/KavioPlayerItemVideoOutput.h"
#include "MediaFixtures.h"
#include "Rendering/KavioFrameSlots.h"
#include "RenderingTestSupport.h"

#include "DispatchQueue.h"
#include "MediaPlayer.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

MediaTime at600(double seconds)
{
    return MediaTime::makeWithSeconds(seconds, MediaTime::kCueTimescale);
}

// counter25.mp4 as Hap: the same bar codes, block-compressed.
bool makeHapCounter(const std::string& name)
{
    return MediaFixtures::ffmpeg("-i " + MediaFixtures::path("counter25.mp4") + " -an -c:v hap -format hap " + name);
}

bool makeHap1080(const std::string& name)
{
    return MediaFixtures::ffmpeg("-f lavfi -i testsrc=size=1920x1080:rate=25 -t 0.2 -c:v hap -format hap " + name);
}

// A scripted Hap output: the frame it is given, at any time.
struct HapScript : KavioPlayerFrameOutput {
    HapFrameRef frame;
    bool hasNewFrameForItemTime(const MediaTime&) const override { return true; }
    VideoFrameRef copyFrameForItemTime(const MediaTime&, MediaTime*) override { return nullptr; }
    HapFrameRef copyHapFrameForItemTime(const MediaTime&) override { return frame; }
    MediaTime currentTime() const override { return MediaTime::zero(); }
};

using Bytes = std::vector<std::uint8_t>;

// An 8 x 8 plane of four equal 4 x 4 blocks.
Bytes planeOf(const Bytes& block)
{
    Bytes bytes;
    for (int i = 0; i < 4; ++i)
        bytes.insert(bytes.end(), block.begin(), block.end());
    return bytes;
}

HapFrameRef hapFrame(std::vector<HapDecoderFrame::Plane> planes, std::uint32_t subtype)
{
    return HapDecoderFrame::withPlanes({8, 8}, {8, 8}, std::move(planes), subtype);
}

const Bytes kRedDxt1{0x00, 0xF8, 0x00, 0xF8, 0, 0, 0, 0};
// Scaled YCoCg orange (scale 1, luma 128) and an alpha block of 128.
const Bytes kOrangeCoCgDxt5{128, 128, 0, 0, 0, 0, 0, 0, 0x00, 0xFC, 0x00, 0xFC, 0, 0, 0, 0};
const Bytes kHalfAlphaRgtc1{128, 128, 0, 0, 0, 0, 0, 0};

class CueFramesGpuTest : public RenderingTest {
protected:
    void SetUpWithDevice() override { KavioPlayerItemVideoOutput::setDefaultMetalManager(manager.get()); }
    void TearDown() override { KavioPlayerItemVideoOutput::setDefaultMetalManager(nullptr); }

    // A texture read back as a frame of `width` pixels in `format` (its texels as they are), for
    // the bar-code reader.
    static VideoFrameRef frameOf(const GpuTexture& texture, MediaPixelFormat format = MediaPixelFormat::BGRA,
                                 int width = 0)
    {
        const int h = int(texture.height());
        const std::size_t rowBytes = GpuPixelFormats::bytesPerRow(texture.pixelFormat(), texture.width());
        auto bytes = std::make_shared<Bytes>(rowBytes * std::size_t(h));
        EXPECT_TRUE(texture.getBytes(bytes->data(), rowBytes, {0, 0, texture.width(), texture.height()}));
        return std::make_shared<VideoFrame>(format, width ? width : int(texture.width()), h, int(rowBytes),
                                            bytes->data(), MediaTime::zero(), bytes);
    }
    // The frame the source draws for `time`, inside one committed frame.
    std::shared_ptr<GpuTexture> hapAt(KavioPlayerItemVideoOutput& source, const MediaTime& time)
    {
        std::shared_ptr<GpuTexture> texture;
        frame([&] { texture = source.hapTextureAtTime(time); });
        return texture;
    }
    // Opens `path` and waits until the frame at `time` is decoded.
    static std::unique_ptr<MediaPlayer> playerAt(const std::string& path, double time)
    {
        auto player = MediaPlayer::open(path);
        EXPECT_NE(player, nullptr);
        if (!player)
            return nullptr;
        bool done = false;
        player->seekToTime(at600(time), MediaTime::zero(), MediaTime::zero(), DispatchQueue::main(),
                           [&](bool) { done = true; });
        EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return done; }, 30.0));
        return player;
    }
};

TEST_F(CueFramesGpuTest, AHandedOutFrameKeepsItsBarCodeThroughTheUpload)
{
    RecordingOSCOutput osc;
    const auto controller = std::make_shared<FakeKavioVideoItemManager>();
    const auto cue = std::make_shared<KavioVideoItem>(osc.sender());
    ASSERT_TRUE(cue->initMovieCue(QString::fromStdString(MediaFixtures::path("counter25.mp4")), controller, {}));
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return cue->isReady(); }, 60.0));
    // Past the frames the preparation took, once the decoder is ahead.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    cue->pixelBufferQueue().sync([&] { cue->videoOutput()->fillBuffersFromCMTime(MediaTime::make(3, 25)); });
    cue->setIsPlaying(true);

    KavioFrameSlots frameSlots(*manager);
    for (int expected = 3; expected < 6; ++expected) {
        VideoFrameRef handed;
        cue->pixelBufferQueue().sync(
            [&] { handed = cue->videoOutput()->copyBufferedPixelBufferForCurrentTime(at600(expected / 25.0)); });
        ASSERT_NE(handed, nullptr);
        // A cue's movie frames are its decoder's planes; the bar code is in the luma plane.
        ASSERT_EQ(handed->pixelFormat(), MediaPixelFormat::Native);
        QVTPlaneTextures planes;
        frame([&] { planes = frameSlots.uploadPlanes(handed, KavioFrameSlots::A); });
        ASSERT_NE(planes.textures[0], nullptr);
        const auto luma = frameOf(*planes.textures[0]);
        VideoFramePlanes layout = handed->planes();
        layout.data[0] = luma->data();
        layout.bytesPerRow[0] = luma->bytesPerRow();
        const VideoFrame uploaded(handed->width(), handed->height(), layout, MediaTime::zero(), nullptr);
        EXPECT_EQ(MediaFixtures::frameNumberOf(uploaded), expected);
    }
}

TEST_F(CueFramesGpuTest, AHapFrameDrawnByTheSourceShowsThePlayersFrame)
{
    const auto path = MediaFixtures::madePath("cuehapcounter.mov", makeHapCounter);
    ASSERT_FALSE(path.empty());
    for (const double time : {0.0, 0.4}) {
        const auto player = playerAt(path, time);
        ASSERT_NE(player, nullptr);
        KavioPlayerItemVideoOutput source(KavioPlayerFrameOutput::forPlayer(*player), true);
        const auto texture = hapAt(source, at600(time));
        ASSERT_NE(texture, nullptr);
        EXPECT_EQ(MediaFixtures::frameNumberOf(*frameOf(*texture)), int(time * 25)) << time;
    }
}

TEST_F(CueFramesGpuTest, AHap1080FrameUsesPowerOfTwoPlanesAndOneOutputTexture)
{
    const auto path = MediaFixtures::madePath("cuehap1080.mov", makeHap1080);
    ASSERT_FALSE(path.empty());
    const auto player = playerAt(path, 0.0);
    ASSERT_NE(player, nullptr);
    KavioPlayerItemVideoOutput source(KavioPlayerFrameOutput::forPlayer(*player), true);
    const auto first = hapAt(source, at600(0.0));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(source.hapTextureSize(), QSizeF(2048, 2048));
    EXPECT_EQ(first->width(), 1920u);
    EXPECT_EQ(first->height(), 1080u);
    for (const double time : {0.04, 0.08})
        EXPECT_EQ(hapAt(source, at600(time)), first);
}

TEST_F(CueFramesGpuTest, TwoPlaneFramesDrawBothAndBadFramesKeepThePicture)
{
    const auto script = std::make_shared<HapScript>();
    KavioPlayerItemVideoOutput source(script, true);
    EXPECT_EQ(hapAt(source, MediaTime::zero()), nullptr);  // no frame yet

    script->frame = hapFrame({{fourCC("DYtA"), planeOf(kOrangeCoCgDxt5)}, {fourCC("DYtA"), planeOf(kHalfAlphaRgtc1)}},
                             fourCC("HapM"));
    auto texture = hapAt(source, MediaTime::zero());
    ASSERT_NE(texture, nullptr);
    EXPECT_TRUE(near(pixel(*texture, 4, 4), {253, 130, 0, 128}));
    EXPECT_EQ(source.hapTextureSize(), QSizeF(8, 8));

    // A damaged frame and one of three planes are not shown: the picture stays.
    const Bytes garbage(64, 0xEE);
    for (const auto& bad :
         {HapDecoderFrame::decode(garbage.data(), garbage.size(), fourCC("HapM"), 8, 8),
          hapFrame({{fourCC("DYtA"), planeOf(kOrangeCoCgDxt5)}, {fourCC("DYtA"), planeOf(kHalfAlphaRgtc1)},
                    {fourCC("DYtA"), planeOf(kHalfAlphaRgtc1)}},
                   fourCC("HapM"))}) {
        script->frame = bad;
        texture = hapAt(source, MediaTime::zero());
        ASSERT_NE(texture, nullptr);
        EXPECT_TRUE(near(pixel(*texture, 4, 4), {253, 130, 0, 128}));
    }
}

TEST_F(CueFramesGpuTest, AThumbnailIsANewFinishedTexture)
{
    const auto script = std::make_shared<HapScript>();
    script->frame = hapFrame({{fourCC("DXt1"), planeOf(kRedDxt1)}}, fourCC("Hap1"));
    KavioPlayerItemVideoOutput source(script, true);
    const auto shown = hapAt(source, MediaTime::zero());
    // No frame command buffer is open: the thumbnail makes, commits and waits for its own.
    const auto thumbnail = source.hapTextureForThumbnailAtTime(MediaTime::zero(), false);
    ASSERT_NE(thumbnail, nullptr);
    EXPECT_NE(thumbnail, shown);
    EXPECT_NE(thumbnail, source.outputTexture());
    EXPECT_TRUE(near(pixel(*thumbnail, 4, 4), kRed));
}

}  // namespace
