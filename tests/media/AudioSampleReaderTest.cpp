#include "AudioSampleReader.h"
#include "MediaFixtures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

using MediaFixtures::path;

namespace {

std::unique_ptr<AudioSampleReader> openReader(const std::string& file, AudioReadFormat format) {
    MediaError error;
    auto reader = AudioSampleReader::open(file, format, &error);
    EXPECT_TRUE(reader) << error.message;
    return reader;
}

AudioReadFormat planar(int channels, bool downmix = false, int rate = 48000) {
    AudioReadFormat format;
    format.channels = channels;
    format.stereoDownmix = downmix;
    format.sampleRate = rate;
    return format;
}

// Reads everything, one array per channel.
std::vector<std::vector<float>> readAll(AudioSampleReader& reader) {
    std::vector<std::vector<float>> all(size_t(reader.channelCount()));
    std::vector<std::vector<float>> chunk(all.size(), std::vector<float>(1000));
    std::vector<float*> pointers;
    for (auto& c : chunk)
        pointers.push_back(c.data());
    for (long n; (n = reader.read(pointers.data(), 1000)) > 0;)
        for (size_t c = 0; c < all.size(); ++c)
            all[c].insert(all[c].end(), chunk[c].begin(), chunk[c].begin() + n);
    return all;
}

// The fixture's counter channels as a sample frame number.
long frameNumber(float low, float high) {
    return std::lround(high * 32768) * 32000 + std::lround(low * 32768);
}

}  // namespace

TEST(AudioSampleReader, DiscreteChannelsInOrderWithMissingOnesSilent) {
    auto reader = openReader(path("six.wav"), planar(8));
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->channelCount(), 8);
    EXPECT_EQ(reader->sourceChannelCount(), 6);
    EXPECT_EQ(reader->lengthInFrames(), 96000);
    auto all = readAll(*reader);
    ASSERT_EQ(all[0].size(), 96000u);
    for (long n : {0L, 1L, 31999L, 32000L, 70001L, 95999L})
        EXPECT_EQ(frameNumber(all[0][size_t(n)], all[1][size_t(n)]), n);
    for (int c = 2; c < 6; ++c)
        EXPECT_NEAR(all[size_t(c)][500], 0.1f * float(c + 1), 1e-4) << c;
    for (int c = 6; c < 8; ++c)
        EXPECT_EQ(*std::max_element(all[size_t(c)].begin(), all[size_t(c)].end()), 0.f) << c;
    EXPECT_FALSE(reader->error());

    auto two = openReader(path("six.wav"), planar(2));  // a stereo output keeps the first two
    ASSERT_TRUE(two);
    auto firstTwo = readAll(*two);
    ASSERT_EQ(firstTwo.size(), 2u);
    EXPECT_EQ(firstTwo[1], all[1]);
}

TEST(AudioSampleReader, StereoDownmix) {
    auto reader = openReader(path("six.wav"), planar(8, true));
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->channelCount(), 2);
    auto all = readAll(*reader);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].size(), 96000u);
    EXPECT_GT(std::abs(all[0][500]), 0.1f);  // the constant centre and surround channels mixed in
    EXPECT_GT(std::abs(all[1][500]), 0.1f);
}

TEST(AudioSampleReader, SeekLandsOnTheExactSampleFrame) {
    auto reader = openReader(path("six.wav"), planar(2));
    ASSERT_TRUE(reader);
    std::vector<float> low(10), high(10);
    float* channels[] = {low.data(), high.data()};
    for (long target : {48000L, 12345L, 0L, 95990L, 4096L, 4095L, 32000L, 1L, 70001L}) {
        ASSERT_TRUE(reader->seekToFrame(target));
        EXPECT_EQ(reader->position(), target);
        ASSERT_EQ(reader->read(channels, 10), 10) << target;
        for (int i = 0; i < 10; ++i)
            ASSERT_EQ(frameNumber(low[size_t(i)], high[size_t(i)]), target + i) << target;
        EXPECT_EQ(reader->position(), target + 10);
    }
    for (long pastEnd : {96000L, 500000L}) {
        ASSERT_TRUE(reader->seekToFrame(pastEnd));
        EXPECT_EQ(reader->read(channels, 10), 0) << pastEnd;
    }
}

TEST(AudioSampleReader, InterleavedIntegersAtTheTracksOwnRate) {
    AudioReadFormat format;
    format.samples = AudioReadFormat::Samples::InterleavedInt32;
    format.sampleRate = 0;
    auto reader = openReader(path("six.wav"), format);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->sampleRate(), 48000);
    EXPECT_EQ(reader->channelCount(), 6);
    ASSERT_TRUE(reader->seekToFrame(1000));
    std::vector<int32_t> samples(6 * 4);
    ASSERT_EQ(reader->read(samples.data(), 4), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(samples[size_t(i * 6)], (1000 + i) << 16);  // 16-bit values, full scale 2^31
        EXPECT_EQ(samples[size_t(i * 6 + 5)], std::lround(0.6 * 32768) << 16);
    }
    float* wrongForm[] = {nullptr};
    EXPECT_EQ(reader->read(wrongForm, 4), 0);
    EXPECT_TRUE(reader->error());
}

TEST(AudioSampleReader, ResamplesTo48kAndReadsCompressedTracks) {
    auto tone = openReader(path("tone44k.wav"), planar(0));
    ASSERT_TRUE(tone);
    EXPECT_EQ(tone->channelCount(), 1);
    EXPECT_EQ(tone->lengthInFrames(), 48000);
    auto all = readAll(*tone);
    EXPECT_NEAR(double(all[0].size()), 48000.0, 2.0);
    // Still 440 Hz: count upward zero crossings over the whole second.
    int crossings = 0;
    for (size_t i = 1; i < all[0].size(); ++i)
        crossings += all[0][i - 1] < 0 && all[0][i] >= 0;
    EXPECT_NEAR(crossings, 440, 2);

    auto movie = openReader(path("counter25.mp4"), planar(2));
    ASSERT_TRUE(movie);
    EXPECT_NEAR(double(readAll(*movie)[0].size()), 96000.0, 1024.0);
    ASSERT_TRUE(movie->seekToFrame(48000));
    std::vector<float> left(256), right(256);
    float* channels[] = {left.data(), right.data()};
    ASSERT_EQ(movie->read(channels, 256), 256);
    EXPECT_GT(*std::max_element(left.begin(), left.end()), 0.05f);
}

TEST(AudioSampleReader, ATrackThatStartsLateBeginsWithSilence) {
    auto reader = openReader(path("lateaudio.mov"), planar(1));
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->lengthInFrames(), 96000);
    auto all = readAll(*reader);
    ASSERT_NEAR(double(all[0].size()), 96000.0, 2.0);
    auto loudest = [&](size_t from, size_t to) {
        float peak = 0;
        for (size_t i = from; i < to; ++i)
            peak = std::max(peak, std::abs(all[0][i]));
        return peak;
    };
    EXPECT_EQ(loudest(0, 24000), 0.f);
    EXPECT_GT(loudest(24000, 24100), 0.05f);
    // A seek into the silence gives the same samples as reading from the start.
    ASSERT_TRUE(reader->seekToFrame(23950));
    std::vector<float> part(100);
    float* channel[] = {part.data()};
    ASSERT_EQ(reader->read(channel, 100), 100);
    EXPECT_TRUE(std::equal(part.begin(), part.end(), all[0].begin() + 23950));
}

TEST(AudioSampleReader, BadInputsGiveErrorsOrACleanEnd) {
    const struct {
        std::string file;
        MediaErrorCode code;
    } cases[] = {
        {MediaFixtures::folder() + "/missing.wav", MediaErrorCode::FileNotFound},
        {path("notmedia.mov"), MediaErrorCode::NotMedia},
        {path("counter2997.mov"), MediaErrorCode::NoSuchTrack},
    };
    for (const auto& c : cases) {
        MediaError error;
        EXPECT_FALSE(AudioSampleReader::open(c.file, planar(2), &error)) << c.file;
        EXPECT_EQ(error.code, c.code) << c.file << ": " << error.message;
    }

    // A wave file cut short: its header promises two seconds, the data holds less.
    std::ifstream in(path("six.wav"), std::ios::binary);
    std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const std::string cut = MediaFixtures::folder() + "/cut.wav";
    std::ofstream(cut, std::ios::binary)
        .write(bytes.data(), std::streamsize(bytes.size() * 4 / 10));
    auto reader = openReader(cut, planar(2));
    ASSERT_TRUE(reader);
    auto all = readAll(*reader);
    EXPECT_GT(all[0].size(), 30000u);
    EXPECT_LT(all[0].size(), 40000u);
    EXPECT_FALSE(reader->error());
    EXPECT_EQ(frameNumber(all[0].back(), all[1].back()), long(all[0].size()) - 1);
}
