#include "DecoderBufferStore.h"
#include "MediaFixtures.h"
#include "VideoFrameSource.h"

#include <gtest/gtest.h>

#include <cmath>
#include <future>
#include <vector>

using MediaFixtures::frameNumberOf;
using MediaFixtures::path;

namespace {

constexpr double kWait = 10.0;  // seconds; only reached when something hangs

std::unique_ptr<VideoFrameSource> openSource(const std::string& name,
                                             MediaPixelFormat format = MediaPixelFormat::BGRA) {
    MediaError error;
    VideoFrameSourceOptions options;
    options.pixelFormat = format;
    auto source = VideoFrameSource::open(path(name), options, &error);
    EXPECT_TRUE(source) << error.message;
    return source;
}

// Seeks and waits for the completion; answers its result.
bool seekAndWait(VideoFrameSource& source, const MediaTime& time) {
    std::promise<bool> done;
    source.seekToTime(time, [&done](bool finished) { done.set_value(finished); });
    auto result = done.get_future();
    if (result.wait_for(std::chrono::duration<double>(kWait)) != std::future_status::ready)
        return false;
    return result.get();
}

}  // namespace

TEST(VideoFrameSource, DeliversEveryFrameInOrderWithItsPresentationTime) {
    auto source = openSource("counter25.mp4");
    ASSERT_TRUE(source);
    EXPECT_EQ(source->width(), 320);
    EXPECT_EQ(MediaTime::compare(source->nominalFrameDuration(), MediaTime::make(1, 25)), 0);
    for (int k = 0; k < 50; ++k) {
        const MediaTime t = MediaTime::make(k, 25);
        ASSERT_TRUE(source->waitForItemTime(t, kWait)) << k;
        EXPECT_TRUE(source->hasNewFrameForItemTime(t));
        MediaTime shown;
        VideoFrameRef frame = source->copyFrameForItemTime(t, &shown);
        ASSERT_TRUE(frame);
        EXPECT_EQ(frameNumberOf(*frame), k);
        EXPECT_EQ(MediaTime::compare(shown, t), 0) << shown.description();
        EXPECT_FALSE(source->hasNewFrameForItemTime(t));  // that one was handed out already
    }
    // Past the end the last picture holds.
    ASSERT_TRUE(source->waitForItemTime(MediaTime::make(5, 1), kWait));
    EXPECT_TRUE(source->isAtEnd());
    VideoFrameRef last = source->copyFrameForItemTime(MediaTime::make(5, 1));
    ASSERT_TRUE(last);
    EXPECT_EQ(frameNumberOf(*last), 49);
    EXPECT_FALSE(source->error());
}

TEST(VideoFrameSource, EverySeekLandsOnTheFrameShownAtItsTime) {
    struct Clip {
        const char* name;
        double fps;
    };
    // Targets in seconds, in an order that jumps back and forth across key frames; some fall
    // between two frames, where the earlier frame is the one shown.
    const double targets[] = {1.48,  0.12,  1.96, 0.0,  0.44, 0.48,
                              0.479, 0.999, 1.0,  0.52, 1.5,  0.04};
    for (Clip clip : {Clip{"counter25.mp4", 25.0}, Clip{"counter2997.mov", 30000.0 / 1001.0}}) {
        auto source = openSource(clip.name);
        ASSERT_TRUE(source);
        for (double seconds : targets) {
            const MediaTime t = MediaTime::makeWithSeconds(seconds, 600);
            ASSERT_TRUE(seekAndWait(*source, t)) << clip.name << " " << seconds;
            MediaTime shown;
            VideoFrameRef frame = source->copyFrameForItemTime(t, &shown);
            ASSERT_TRUE(frame) << clip.name << " " << seconds;
            const int expected = int(std::floor(seconds * clip.fps + 1e-9));
            EXPECT_EQ(frameNumberOf(*frame), expected) << clip.name << " " << seconds;
            EXPECT_LE(MediaTime::compare(shown, t), 0);
            EXPECT_GT(shown.seconds() + 1.0 / clip.fps, seconds);
            // Playing on from the seek continues with the next frame.
            const MediaTime next =
                MediaTime::makeWithSeconds((expected + 1) / clip.fps + 0.001, 30000);
            if (expected + 1 < 50) {
                ASSERT_TRUE(source->waitForItemTime(next, kWait));
                EXPECT_TRUE(source->hasNewFrameForItemTime(next));
                EXPECT_EQ(frameNumberOf(*source->copyFrameForItemTime(next)), expected + 1);
            }
        }
    }
}

TEST(VideoFrameSource, ConvertsToEachPixelFormat) {
    const struct {
        MediaPixelFormat format;
        int bytesPerRow;  // for 320 pixels
    } cases[] = {
        {MediaPixelFormat::BGRA, 1280},
        {MediaPixelFormat::YUV422_8, 640},
        {MediaPixelFormat::YUV422_10, 7 * 128},
        {MediaPixelFormat::RGBAHalf, 2560},
    };
    for (const auto& c : cases) {
        auto source = openSource("counter25.mp4", c.format);
        ASSERT_TRUE(source);
        const MediaTime t = MediaTime::make(13, 25);  // 13 = bits 0, 2 and 3
        ASSERT_TRUE(seekAndWait(*source, t));
        VideoFrameRef frame = source->copyFrameForItemTime(t);
        ASSERT_TRUE(frame);
        const std::string name = fourCCString(uint32_t(c.format));
        EXPECT_EQ(frame->pixelFormat(), c.format) << name;
        EXPECT_EQ(frame->bytesPerRow(), c.bytesPerRow) << name;
        EXPECT_EQ(frame->height(), 240) << name;
        EXPECT_EQ(frameNumberOf(*frame), 13) << name;
        EXPECT_NEAR(MediaFixtures::brightnessAt(*frame, 20, 8), 1.0, 0.06) << name;   // bit 0
        EXPECT_NEAR(MediaFixtures::brightnessAt(*frame, 60, 8), 0.0, 0.06) << name;   // bit 1
        EXPECT_NEAR(MediaFixtures::brightnessAt(*frame, 300, 8), 0.0, 0.06) << name;  // bit 7
    }
}

TEST(VideoFrameSource, FramesAreSharedAndOutliveTheirSource) {
    auto source = openSource("counter25.mp4");
    ASSERT_TRUE(source);
    const MediaTime t = MediaTime::make(7, 25);
    ASSERT_TRUE(seekAndWait(*source, t));
    VideoFrameRef first = source->copyFrameForItemTime(t);
    VideoFrameRef again = source->copyFrameForItemTime(t);  // a paused player asks again
    ASSERT_TRUE(first);
    EXPECT_EQ(first.get(), again.get());
    EXPECT_EQ(first->data(), again->data());
    source.reset();
    EXPECT_EQ(frameNumberOf(*first), 7);
}

// Decoders draw their picture memory from what earlier decoders released; a picture still held
// must never be handed to another decoder.
TEST(VideoFrameSource, PicturesHeldPastTheirSourceKeepTheirMemoryWhenOthersReuseIt) {
    auto lumaOf = [](const VideoFrame& frame) {
        const VideoFramePlanes& p = frame.planes();
        std::vector<uint8_t> bytes;
        for (int y = 0; y < frame.height(); ++y)
            bytes.insert(bytes.end(), p.data[0] + y * p.bytesPerRow[0],
                         p.data[0] + y * p.bytesPerRow[0] + frame.width() * p.bytesPerSample);
        return bytes;
    };
    auto source = openSource("counter25.mp4", MediaPixelFormat::Native);
    ASSERT_TRUE(source);
    const MediaTime t = MediaTime::make(7, 25);
    ASSERT_TRUE(seekAndWait(*source, t));
    const VideoFrameRef kept = source->copyFrameForItemTime(t);
    ASSERT_TRUE(kept);
    ASSERT_EQ(kept->pixelFormat(), MediaPixelFormat::Native);
    const std::vector<uint8_t> keptLuma = lumaOf(*kept);
    source.reset();
    EXPECT_GT(DecoderBufferStore::freeBytes(), 0) << "the other pictures' memory is kept for reuse";

    // Pictures of the same size, decoded into the memory the first decoder gave back.
    auto other = openSource("counter25from100.mp4", MediaPixelFormat::Native);
    ASSERT_TRUE(other);
    for (int k = 0; k < 50; ++k) {
        const MediaTime at = MediaTime::make(k, 25);
        ASSERT_TRUE(other->waitForItemTime(at, kWait)) << k;
        const VideoFrameRef frame = other->copyFrameForItemTime(at);
        ASSERT_TRUE(frame) << k;
        EXPECT_EQ(frameNumberOf(*frame), 100 + k);
        EXPECT_NE(frame->planes().data[0], kept->planes().data[0]) << k;
    }
    EXPECT_EQ(frameNumberOf(*kept), 7);
    EXPECT_TRUE(lumaOf(*kept) == keptLuma) << "the held picture was written over";
    other.reset();
    EXPECT_LE(DecoderBufferStore::freeBytes(), DecoderBufferStore::kMaxFreeBytes);
}

TEST(VideoFrameSource, ReplacedAndCancelledSeeksCompleteWithFalse) {
    auto source = openSource("counter25.mp4");
    ASSERT_TRUE(source);
    std::promise<bool> first, second, third;
    source->seekToTime(MediaTime::make(40, 25), [&](bool done) { first.set_value(done); });
    source->seekToTime(MediaTime::make(20, 25), [&](bool done) { second.set_value(done); });
    EXPECT_FALSE(first.get_future().get());
    EXPECT_TRUE(second.get_future().get());
    EXPECT_EQ(frameNumberOf(*source->copyFrameForItemTime(MediaTime::make(20, 25))), 20);

    source->seekToTime(MediaTime::make(45, 25), [&](bool done) { third.set_value(done); });
    source->cancelPendingSeeks();
    EXPECT_FALSE(third.get_future().get());
    EXPECT_FALSE(source->copyFrameForItemTime(MediaTime::make(45, 25)));
    EXPECT_FALSE(source->waitForItemTime(MediaTime::make(45, 25), 0.2));
    ASSERT_TRUE(seekAndWait(*source, MediaTime::make(45, 25)));  // a new seek brings frames back
    EXPECT_EQ(frameNumberOf(*source->copyFrameForItemTime(MediaTime::make(45, 25))), 45);
}

TEST(VideoFrameSource, DecodesHapAndTenBitMovies) {
    for (const char* name : {"hap.mov", "bt2020.mp4", "prores.mov"}) {
        for (MediaPixelFormat format : {MediaPixelFormat::BGRA, MediaPixelFormat::YUV422_8}) {
            auto source = openSource(name, format);
            ASSERT_TRUE(source) << name;
            const MediaTime t = MediaTime::make(12, 25);
            ASSERT_TRUE(seekAndWait(*source, t)) << name;
            MediaTime shown;
            VideoFrameRef frame = source->copyFrameForItemTime(t, &shown);
            ASSERT_TRUE(frame) << name;
            EXPECT_EQ(frame->width(), 128) << name;
            EXPECT_EQ(frame->height(), 96) << name;
            EXPECT_EQ(MediaTime::compare(shown, t), 0) << name << " " << shown.description();
            EXPECT_EQ(frame->pixelFormat(), format) << name;
        }
    }
}

TEST(VideoFrameSource, RefusesFilesWithoutPictures) {
    const struct {
        std::string file;
        MediaErrorCode code;
    } cases[] = {
        {MediaFixtures::folder() + "/missing.mp4", MediaErrorCode::FileNotFound},
        {path("notmedia.mov"), MediaErrorCode::NotMedia},
        {path("six.wav"), MediaErrorCode::NoSuchTrack},
    };
    for (const auto& c : cases) {
        MediaError error;
        EXPECT_FALSE(VideoFrameSource::open(c.file, {}, &error)) << c.file;
        EXPECT_EQ(error.code, c.code) << c.file << ": " << error.message;
    }
}

TEST(VideoFrameSource, TruncatedAndDamagedFilesEndCleanly) {
    for (const char* name : {"truncated.mp4", "damaged.mp4"}) {
        auto source = openSource(name);
        ASSERT_TRUE(source) << name;
        int previous = -1, delivered = 0;
        for (int k = 0; k < 50; ++k) {
            const MediaTime t = MediaTime::make(k, 25);
            source->waitForItemTime(t, kWait);
            if (!source->hasNewFrameForItemTime(t)) continue;
            VideoFrameRef frame = source->copyFrameForItemTime(t);
            ASSERT_TRUE(frame);
            const int number = frameNumberOf(*frame);
            if (number >= 0) {  // a concealed damaged picture may not show its bar code
                EXPECT_GT(number, previous) << name;
                previous = number;
            }
            ++delivered;
        }
        EXPECT_TRUE(source->waitForItemTime(MediaTime::make(10, 1), kWait)) << name;
        EXPECT_TRUE(source->isAtEnd()) << name;
        EXPECT_GT(delivered, 10) << name;
        if (std::string(name) == "damaged.mp4")
            EXPECT_EQ(previous, 49) << "playback goes on after the damage";
        else
            EXPECT_LT(previous, 49) << "the cut-off frames cannot be there";
        // Seeking past what is left lands on the last picture there is.
        ASSERT_TRUE(seekAndWait(*source, MediaTime::make(49, 25))) << name;
        EXPECT_TRUE(source->copyFrameForItemTime(MediaTime::make(49, 25))) << name;
    }
}

TEST(VideoFrameSource, HandsOutTheDecodersOwnPlanes) {
    const struct {
        const char* name;
        int planeCount, bytesPerSample, bitDepth, chromaShiftX, chromaShiftY;
        MediaColorMatrix matrix;
    } cases[] = {
        {"counter25.mp4", 3, 1, 8, 1, 1, MediaColorMatrix::ITU_R_709},
        {"bt2020.mp4", 3, 2, 10, 1, 1, MediaColorMatrix::ITU_R_2020},
        {"prores.mov", 3, 2, 10, 0, 0, MediaColorMatrix::Unspecified},  // made from RGB: 4:4:4
    };
    for (const auto& c : cases) {
        auto source = openSource(c.name, MediaPixelFormat::Native);
        ASSERT_TRUE(source) << c.name;
        const MediaTime t = MediaTime::make(13, 25);
        ASSERT_TRUE(seekAndWait(*source, t)) << c.name;
        VideoFrameRef frame = source->copyFrameForItemTime(t);
        ASSERT_TRUE(frame) << c.name;
        ASSERT_EQ(frame->pixelFormat(), MediaPixelFormat::Native) << c.name;
        const VideoFramePlanes& p = frame->planes();
        EXPECT_EQ(p.count, c.planeCount) << c.name;
        EXPECT_FALSE(p.interleavedChroma) << c.name;
        EXPECT_EQ(p.bytesPerSample, c.bytesPerSample) << c.name;
        EXPECT_EQ(p.bitDepth, c.bitDepth) << c.name;
        EXPECT_EQ(p.chromaShiftX, c.chromaShiftX) << c.name;
        EXPECT_EQ(p.chromaShiftY, c.chromaShiftY) << c.name;
        EXPECT_EQ(p.matrix, c.matrix) << c.name;
        EXPECT_FALSE(p.fullRange) << c.name;
        for (int i = 0; i < p.count; ++i) {
            EXPECT_NE(p.data[i], nullptr) << c.name << " plane " << i;
            EXPECT_GE(p.bytesPerRow[i], p.bytesPerSample * (i == 0 ? frame->width()
                                                                    : p.chromaWidth(frame->width())))
                << c.name << " plane " << i;
        }
        // The bar code read straight from the decoder's luma plane.
        if (frame->width() >= 320) {
            EXPECT_EQ(frameNumberOf(*frame), 13) << c.name;
        }
    }
    // Layouts the GPU does not take as they are (Hap decodes to RGB here) come as BGRA.
    auto hap = openSource("hap.mov", MediaPixelFormat::Native);
    ASSERT_TRUE(hap);
    ASSERT_TRUE(seekAndWait(*hap, MediaTime::zero()));
    VideoFrameRef frame = hap->copyFrameForItemTime(MediaTime::zero());
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->pixelFormat(), MediaPixelFormat::BGRA);
    EXPECT_EQ(frame->planes().count, 0);
}
