// Hap frames from real files made by the ffmpeg command's Hap encoder.

#include "HapFrameSource.h"
#include "MediaFixtures.h"
#include "PlayerFixtures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <future>

namespace {

HapFrameRef firstFrame(const std::string& path) {
    MediaError error;
    auto source = HapFrameSource::open(path, 4, &error);
    if (!source) {
        ADD_FAILURE() << error.message;
        return nullptr;
    }
    EXPECT_TRUE(source->waitForItemTime(MediaTime::zero(), 10));
    return source->copyFrameForItemTime(MediaTime::zero());
}

}  // namespace

TEST(HapFrameSource, FullHDHapFrameIsOneDXT1PlaneOfExactSize) {
    const HapFrameRef single = firstFrame(PlayerFixtures::path("hap1080.mov"));
    const HapFrameRef chunked = firstFrame(PlayerFixtures::path("hapchunked1080.mov"));
    for (const HapFrameRef& frame : {single, chunked}) {
        ASSERT_TRUE(frame);
        ASSERT_TRUE(frame->isValid()) << frame->error();
        EXPECT_EQ(frame->codecSubType(), fourCC("Hap1"));
        EXPECT_EQ(frame->dxtImgSize().width, 1920);
        EXPECT_EQ(frame->dxtImgSize().height, 1080);
        ASSERT_EQ(frame->dxtPlaneCount(), 1);
        EXPECT_EQ(frame->dxtPixelFormat(0), fourCC("DXt1"));
        EXPECT_EQ(frame->dxtDataSize(0), 1036800u);
    }
    // Chunking changes only the second stage: the texture is the same.
    EXPECT_EQ(std::memcmp(single->dxtData(0), chunked->dxtData(0), 1036800), 0);
}

TEST(HapFrameSource, EachKindYieldsItsPlaneFormat) {
    const struct {
        const char* fixture;
        uint32_t subType, plane;
        HapTextureFormat format;
        size_t bytes;
    } cases[] = {
        {"hapraw.mov", fourCC("Hap1"), fourCC("DXt1"), HapTextureFormat::RGB_DXT1, 128 * 96 / 2},
        {"hapalpha.mov", fourCC("Hap5"), fourCC("DXT5"), HapTextureFormat::RGBA_DXT5, 128 * 96},
        {"hapq.mov", fourCC("HapY"), fourCC("DYt5"), HapTextureFormat::RGBA_DXT5, 128 * 96},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fixture);
        const HapFrameRef frame = firstFrame(PlayerFixtures::path(c.fixture));
        ASSERT_TRUE(frame);
        ASSERT_TRUE(frame->isValid()) << frame->error();
        EXPECT_EQ(frame->codecSubType(), c.subType);
        ASSERT_EQ(frame->dxtPlaneCount(), 1);
        EXPECT_EQ(frame->dxtPixelFormat(0), c.plane);
        EXPECT_EQ(hapPlaneFormat(frame->dxtPixelFormat(0), 0).textureFormat, c.format);
        EXPECT_EQ(frame->dxtDataSize(0), c.bytes);
    }
}

TEST(HapFrameSource, SeeksFrameExactAndPlaysOnInOrder) {
    auto source = HapFrameSource::open(MediaFixtures::path("hap.mov"));
    ASSERT_TRUE(source);
    std::promise<bool> done;
    source->seekToTime(MediaTime::make(13, 25) + MediaTime::make(1, 100),
                       [&](bool finished) { done.set_value(finished); });
    EXPECT_TRUE(done.get_future().get());
    MediaTime shown;
    ASSERT_TRUE(source->copyFrameForItemTime(MediaTime::make(53, 100), &shown));
    EXPECT_EQ(shown, MediaTime::make(13, 25));
    for (int frame = 14; frame < 25; ++frame) {
        const MediaTime t = MediaTime::make(frame, 25);
        ASSERT_TRUE(source->waitForItemTime(t, 10));
        ASSERT_TRUE(source->copyFrameForItemTime(t, &shown));
        EXPECT_EQ(shown, t);
    }
    EXPECT_TRUE(source->waitForItemTime(MediaTime::make(5, 1), 10));
    EXPECT_TRUE(source->isAtEnd());
}

TEST(HapFrameSource, DamagedFramesAreSkippedAndTheTrackStillEnds) {
    auto source = HapFrameSource::open(PlayerFixtures::path("hapdamaged.mov"));
    ASSERT_TRUE(source);
    int frames = 0;
    MediaTime last = MediaTime::negativeInfinity();
    for (int i = 0; i < 25; ++i) {
        const MediaTime t = MediaTime::make(i, 25);
        source->waitForItemTime(t, 10);
        MediaTime shown;
        if (source->copyFrameForItemTime(t, &shown) && shown != last) {
            ++frames;
            last = shown;
        }
    }
    EXPECT_TRUE(source->isAtEnd() || source->error());
    EXPECT_GT(source->skippedFrameCount(), 0);
    EXPECT_GT(frames, 0);
    EXPECT_LT(frames, 25);
}

TEST(HapFrameSource, RefusesWhatIsNotHap) {
    const struct {
        std::string path;
        MediaErrorCode code;
    } cases[] = {
        {MediaFixtures::folder() + "/nothing-here.mov", MediaErrorCode::FileNotFound},
        {MediaFixtures::path("notmedia.mov"), MediaErrorCode::NotMedia},
        {MediaFixtures::path("tone44k.wav"), MediaErrorCode::NoSuchTrack},
        {MediaFixtures::path("prores.mov"), MediaErrorCode::NoDecoder},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        MediaError error;
        EXPECT_FALSE(HapFrameSource::open(c.path, 4, &error));
        EXPECT_EQ(error.code, c.code);
    }
}
