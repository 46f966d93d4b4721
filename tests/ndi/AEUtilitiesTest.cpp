#include "AETime.h"
#include "AEUtilities.h"
#include "AudioTestSupport.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(AEUtilities, DefaultDescriptionIsStereoPlanarFloat) {
    const AudioStreamBasicDescription d = AEAudioDescriptionWithChannelsAndRate(6, 44100);
    EXPECT_EQ(d.mFormatID, 0x6C70636Du);
    EXPECT_EQ(d.mFormatFlags, 0x29u);
    EXPECT_EQ(d.mBytesPerFrame, 4u);
    EXPECT_EQ(d.mBitsPerChannel, 32u);
    EXPECT_EQ(d.mChannelsPerFrame, 6u);
    EXPECT_EQ(d.mSampleRate, 44100);
    EXPECT_EQ(AEAudioDescription.mChannelsPerFrame, 2u);
    EXPECT_EQ(AEAudioDescription.mSampleRate, 0);
}

TEST(AEUtilities, ChannelSetsBoxAndUnbox) {
    const AEChannelSet set = AEChannelSetValue::channelSetValue(AEChannelSetValue::valueWithChannelSet({2, 5}));
    EXPECT_EQ(set.firstChannel, 2);
    EXPECT_EQ(set.lastChannel, 5);
    EXPECT_EQ(AEChannelSetValue::channelSetValue(QVariant(3)).lastChannel, 0);
    EXPECT_EQ(AEChannelSetDefault.lastChannel, 1);
}

TEST(AETime, ConversionsAndTimeStamps) {
    EXPECT_EQ(AEHostTicksFromSeconds(1.5), 1500000000u);
    EXPECT_DOUBLE_EQ(AESecondsFromHostTicks(250000000), 0.25);
    const uint64_t before = AECurrentTimeInHostTicks();
    EXPECT_GE(AECurrentTimeInHostTicks(), before);

    EXPECT_EQ(AETimeStampWithHostTicks(0).mFlags, 0u);
    const AudioTimeStamp host = AETimeStampWithHostTicks(77);
    EXPECT_EQ(host.mFlags, uint32_t(kAudioTimeStampHostTimeValid));
    EXPECT_EQ(host.mHostTime, 77u);
    const AudioTimeStamp samples = AETimeStampWithSamples(512);
    EXPECT_EQ(samples.mFlags, uint32_t(kAudioTimeStampSampleTimeValid));
    EXPECT_EQ(samples.mSampleTime, 512);
}

TEST(AEUtilities, RateLimitPassesNineASecondAndSaysSoOnce) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // start a fresh window
    LogCapture log;
    int allowed = 0;
    for (int i = 0; i < 12; ++i) allowed += AERateLimit() ? 1 : 0;
    EXPECT_EQ(allowed, 9);
    EXPECT_EQ(log.count("TAAE: Suppressing some messages"), 1);
}

TEST(AEUtilities, ErrorNamesTheStatusAsTextWhenItReadsAsSuch) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    LogCapture log;
    EXPECT_FALSE(AEError(0, "render", "file.cpp", 10));
    EXPECT_TRUE(AEError(0x666D743F, "decode", "file.cpp", 11));  // 'fmt?'
    EXPECT_TRUE(AEError(-50, "encode", "file.cpp", 12));
    EXPECT_EQ(log.count("file.cpp:11: decode: 'fmt?' (1718449215)"), 1);
    EXPECT_EQ(log.count("file.cpp:12: encode: -50"), 1);
}

}  // namespace
