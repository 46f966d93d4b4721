#include "AudioTestSupport.h"
#include "QVTAudioStreamer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

// Channel c of frame k holds (c + 1) * 1000 + k, unless a value is given.
std::shared_ptr<const PcmBuffer> makeBuffer(uint32_t channels, uint32_t frames, double rate = 48000,
                                            float value = std::nanf("")) {
    auto buffer = std::make_shared<PcmBuffer>(PcmFormat(rate, channels), frames);
    buffer->setFrameLength(frames);
    for (uint32_t c = 0; c < channels; ++c)
        for (uint32_t k = 0; k < frames; ++k)
            buffer->floatChannelData(c)[k] = std::isnan(value) ? float((c + 1) * 1000 + k) : value;
    return buffer;
}

float sampleOf(uint32_t channel, uint32_t frame) { return float((channel + 1) * 1000 + frame); }

struct Block {
    float* data;
    int32_t frames;
    ~Block() { std::free(data); }
    float at(int32_t channel, int32_t frame) const { return data[channel * frames + frame]; }
};

class StreamerTest : public ::testing::Test {
protected:
    Block pull(int32_t frames, int32_t channels = 2) {
        return Block{streamer.audioDataWithNumberOfFrames(frames, channels), frames};
    }
    QVTAudioStreamer streamer{48000, 2};
};

TEST(QVTAudioStreamerInit, CorrectsRateAndChannelsAndStartsSilent) {
    QVTAudioStreamer streamer(500, 0);
    EXPECT_EQ(streamer.asbd().mSampleRate, 48000);
    EXPECT_EQ(streamer.asbd().mChannelsPerFrame, 1u);
    EXPECT_EQ(streamer.channelMappingA(), std::vector<int>{1});
    EXPECT_EQ(streamer.channelMappingB(), std::vector<int>{1});
    EXPECT_FALSE(streamer.isEnabled());
    EXPECT_FALSE(streamer.isMixing());
    EXPECT_EQ(streamer.volumeA(), 0.0);

    QVTAudioStreamer stereo(44100, 4);
    EXPECT_EQ(stereo.asbd().mSampleRate, 44100);
    EXPECT_EQ(stereo.channelMappingA(), (std::vector<int>{1, 2, 3, 4}));
}

TEST_F(StreamerTest, QueuedAudioIsSilentUntilAVolumeIsSet) {
    streamer.addBufferA(makeBuffer(2, 512));
    Block silent = pull(512);
    EXPECT_EQ(silent.at(0, 100), 0.0f);
    streamer.setVolumeA(1.0);
    streamer.addBufferA(makeBuffer(2, 512));
    Block audible = pull(512);
    EXPECT_EQ(audible.at(1, 100), sampleOf(1, 100));
}

TEST_F(StreamerTest, ShortDeckIsPaddedWithSilenceAfterItsAudio) {
    streamer.setVolumeA(1.0);
    streamer.addBufferA(makeBuffer(2, 300));
    Block block = pull(512);
    for (int32_t c = 0; c < 2; ++c) {
        EXPECT_EQ(block.at(c, 0), sampleOf(c, 0));
        EXPECT_EQ(block.at(c, 299), sampleOf(c, 299));
        EXPECT_EQ(block.at(c, 300), 0.0f);
        EXPECT_EQ(block.at(c, 511), 0.0f);
    }
    // The padding was consumed with the audio: the deck is empty again, so the next block is silent.
    streamer.addBufferA(makeBuffer(2, 512, 48000, 0.25f));
    Block next = pull(512);
    EXPECT_EQ(next.at(0, 0), 0.25f);
}

TEST_F(StreamerTest, ChannelMappingPicksDeckChannels) {
    struct Case {
        std::vector<int> mapping;
        float left, right;  // at frame 7
    };
    for (const Case& c : {Case{{2, 1}, sampleOf(1, 7), sampleOf(0, 7)}, Case{{0, 3}, 0, 0}, Case{{2}, sampleOf(1, 7), 0},
                          Case{{1, 1, 2}, sampleOf(0, 7), sampleOf(0, 7)}, Case{{}, 0, 0}}) {
        streamer.setVolumeA(1.0);
        streamer.setChannelMappingA(c.mapping);
        streamer.addBufferA(makeBuffer(2, 64));
        Block block = pull(64);
        EXPECT_EQ(block.at(0, 7), c.left) << ::testing::PrintToString(c.mapping);
        EXPECT_EQ(block.at(1, 7), c.right) << ::testing::PrintToString(c.mapping);
    }
}

TEST_F(StreamerTest, MixingCrossfadesAToB) {
    streamer.setVolumeA(1.0);
    streamer.setVolumeB(1.0);
    streamer.setIsMixing(true);
    streamer.setMixProgress(0.25f);
    streamer.addBufferA(makeBuffer(2, 256, 48000, 0.8f));
    streamer.addBufferB(makeBuffer(2, 256, 48000, -0.4f));
    Block block = pull(256);
    for (int32_t c = 0; c < 2; ++c) EXPECT_FLOAT_EQ(block.at(c, 200), 0.75f * 0.8f + 0.25f * -0.4f);
}

TEST_F(StreamerTest, MixingSilencesChannelsWithoutAMapping) {
    streamer.setVolumeA(1.0);
    streamer.setVolumeB(1.0);
    streamer.setIsMixing(true);
    streamer.addBufferA(makeBuffer(2, 64, 48000, 0.5f));
    Block first = pull(64);
    EXPECT_EQ(first.at(1, 3), 0.5f);
    streamer.setChannelMappingA({1, 9});
    streamer.addBufferA(makeBuffer(2, 64, 48000, 0.5f));
    Block second = pull(64);
    EXPECT_EQ(second.at(0, 3), 0.5f);
    EXPECT_EQ(second.at(1, 3), 0.0f) << "an earlier pull's samples played again";
}

TEST_F(StreamerTest, NewChannelCountEmptiesTheDeckAndChangesTheFormat) {
    streamer.setVolumeA(1.0);
    streamer.addBufferA(makeBuffer(2, 100, 48000, 0.9f));
    streamer.addBufferA(makeBuffer(1, 50, 44100, 0.3f));
    EXPECT_EQ(streamer.asbd().mChannelsPerFrame, 1u);
    EXPECT_EQ(streamer.asbd().mSampleRate, 48000) << "the deck's rate stays with the streamer's";
    Block block = pull(100);
    EXPECT_EQ(block.at(0, 0), 0.3f);
    EXPECT_EQ(block.at(0, 49), 0.3f);
    EXPECT_EQ(block.at(0, 50), 0.0f) << "the stereo audio was dropped with the change";
    EXPECT_EQ(block.at(1, 0), 0.0f) << "mapping entry 2 is out of range for a mono deck";
}

TEST_F(StreamerTest, SwitchingPlaysDeckBAsDeckA) {
    streamer.setVolumeA(1.0);
    streamer.addBufferA(makeBuffer(2, 64, 48000, 0.1f));
    streamer.addBufferB(makeBuffer(2, 64, 48000, 0.2f));
    streamer.switchBuffers();
    Block block = pull(64);
    EXPECT_EQ(block.at(0, 10), 0.2f);
    // The former deck A was emptied: switching back brings nothing of it.
    streamer.switchBuffers();
    Block after = pull(64);
    EXPECT_EQ(after.at(0, 10), 0.0f);
}

TEST_F(StreamerTest, ClearingEmptiesTheDecks) {
    streamer.setVolumeA(1.0);
    streamer.addBufferA(makeBuffer(2, 64, 48000, 0.1f));
    streamer.clearBuffers();
    EXPECT_EQ(pull(64).at(0, 0), 0.0f);
}

TEST_F(StreamerTest, InterleavedPullScalesTruncatesAndClips) {
    streamer.setVolumeA(1.0);
    auto buffer = std::make_shared<PcmBuffer>(PcmFormat(48000, 2), 4);
    buffer->setFrameLength(4);
    const float left[] = {0.5f, -1.0f, 2.0f, -0.25f};
    for (int k = 0; k < 4; ++k) {
        buffer->floatChannelData(0)[k] = left[k];
        buffer->floatChannelData(1)[k] = 1.0f;
    }
    streamer.addBufferA(buffer);
    int16_t* block = streamer.interleaved16AudioDataWithNumberOfFrames(4, 3);
    ASSERT_NE(block, nullptr);
    const int16_t expected[] = {16383, 32767, 0, -32767, 32767, 0, 32767, 32767, 0, -8191, 32767, 0};
    for (int i = 0; i < 12; ++i) EXPECT_EQ(block[i], expected[i]) << "index " << i;
    std::free(block);
}

TEST_F(StreamerTest, NewPullChannelCountIsLoggedOnce) {
    LogCapture log;
    streamer.setVolumeA(1.0);
    for (int i = 0; i < 3; ++i) std::free(streamer.audioDataWithNumberOfFrames(32, 6));
    EXPECT_EQ(log.count("channels change 2 -> 6"), 1);
    streamer.addBufferA(makeBuffer(2, 32));
    Block block{streamer.audioDataWithNumberOfFrames(32, 6), 32};
    EXPECT_EQ(block.at(1, 5), sampleOf(1, 5));
    EXPECT_EQ(block.at(5, 5), 0.0f);
}

TEST_F(StreamerTest, BadPullsAreRefusedWithoutTouchingTheDecks) {
    EXPECT_EQ(streamer.audioDataWithNumberOfFrames(0, 2), nullptr);
    EXPECT_EQ(streamer.audioDataWithNumberOfFrames(-5, 2), nullptr);
    EXPECT_EQ(streamer.audioDataWithNumberOfFrames(64, 0), nullptr);
    EXPECT_EQ(streamer.interleaved16AudioDataWithNumberOfFrames(64, -1), nullptr);

    streamer.setVolumeA(1.0);
    streamer.addBufferA(makeBuffer(2, 64));
    LogCapture log;
    Block tooLarge = pull(QVTAudioStreamer::kWorkFrames + 1);
    ASSERT_NE(tooLarge.data, nullptr);
    EXPECT_EQ(tooLarge.at(1, QVTAudioStreamer::kWorkFrames), 0.0f);
    EXPECT_EQ(log.count("exceeds the work buffers"), 1);
    EXPECT_EQ(pull(64).at(0, 63), sampleOf(0, 63)) << "the queued audio is still there";
}

TEST_F(StreamerTest, EmptyBuffersAreIgnoredAndAFullDeckDropsWithALogLine) {
    streamer.addBufferA(nullptr);
    streamer.addBufferA(std::make_shared<PcmBuffer>(PcmFormat(48000, 2), 16));  // frame length 0
    LogCapture log;
    // 32 s fit; a 40 s buffer does not.
    auto huge = std::make_shared<PcmBuffer>(PcmFormat(48000, 2), 48000 * 40);
    huge->setFrameLength(48000 * 40);
    streamer.addBufferB(huge);
    EXPECT_EQ(log.count("error, could not copy audiobufferlist to the circular buffer B->7680000"), 1);
}

TEST(QVTAudioStreamerTeardown, RemoveResourcesTwiceAndPullAfterwardsAreSafe) {
    QVTAudioStreamer streamer(48000, 2);
    streamer.removeResources();
    streamer.removeResources();
    streamer.addBufferA(makeBuffer(2, 16));
    float* block = streamer.audioDataWithNumberOfFrames(16, 2);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block[0], 0.0f);
    std::free(block);
}

TEST(PcmBuffer, ListViewFollowsTheFrameLength) {
    PcmBuffer buffer(PcmFormat(48000, 3), 100);
    EXPECT_EQ(buffer.format().channelLayoutTag(), 0x930003u);
    const AudioBufferList* list = buffer.audioBufferList();
    ASSERT_EQ(list->mNumberBuffers, 3u);
    EXPECT_EQ(list->mBuffers[0].mDataByteSize, 0u);
    buffer.setFrameLength(1000);  // clamped to the capacity
    EXPECT_EQ(buffer.frameLength(), 100u);
    EXPECT_EQ(list->mBuffers[2].mDataByteSize, 400u);
    EXPECT_EQ(list->mBuffers[2].mData, buffer.floatChannelData(2));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(buffer.floatChannelData(1)) % 16, 0u);
    EXPECT_EQ(buffer.floatChannelData(3), nullptr);
    EXPECT_EQ(PcmBuffer(PcmFormat(0, 2), 10).audioBufferList()->mNumberBuffers, 0u);
}

}  // namespace
