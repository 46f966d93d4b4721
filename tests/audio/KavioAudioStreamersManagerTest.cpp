// The streamers manager's table and fan-outs, with real streamers.

#include "Audio/KavioAudioStreamersManager.h"
#include "AudioTestSupport.h"
#include "QVTAudioStreamer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

using namespace AudioTestSupport;

namespace {

TEST(KavioAudioStreamersManager, WithoutStreamersOnlyValuesAreStored) {
    KavioAudioStreamersManager manager;
    EXPECT_TRUE(manager.isEnabled());
    manager.setIsEnabled(false);
    manager.setIsMixing(true);
    manager.setMixProgress(0.25f);
    manager.setVolumeA(0.5);
    manager.setVolumeB(0.75);
    manager.addBufferA(makeBuffer(2, 16, [](uint32_t, uint32_t) { return 1.0f; }));
    manager.switchBuffers();
    manager.setChannelCount(0);
    manager.createAudioStreamerWithUUID("a");
    auto streamer = manager.streamerWithUUID("a");
    ASSERT_TRUE(streamer);
    // Only isEnabled reaches a new streamer; the rest keep the streamer's own start values.
    EXPECT_FALSE(streamer->isEnabled());
    EXPECT_FALSE(streamer->isMixing());
    EXPECT_EQ(streamer->mixProgress(), 0.0f);
    EXPECT_EQ(streamer->volumeA(), 0.0);
    EXPECT_EQ(streamer->channelMappingA(), (std::vector<int>{1}));  // a count of 0 makes 1 channel
    EXPECT_TRUE(manager.isMixing());
    EXPECT_EQ(manager.mixProgress(), 0.25f);
    EXPECT_EQ(manager.volumeB(), 0.75);
}

TEST(KavioAudioStreamersManager, TableReplacesRemovesAndFansOut) {
    KavioAudioStreamersManager manager;
    manager.setChannelCount(2);
    manager.createAudioStreamerWithUUID("a");
    auto first = manager.streamerWithUUID("a");
    manager.setChannelCount(4);
    manager.createAudioStreamerWithUUID("a");  // replaces and releases the first
    manager.createAudioStreamerWithUUID("b");
    auto a = manager.streamerWithUUID("a");
    auto b = manager.streamerWithUUID("b");
    EXPECT_NE(a, first);
    EXPECT_EQ(a->channelMappingA().size(), 4u);
    first->addBufferA(makeBuffer(2, 16, [](uint32_t, uint32_t) { return 1.0f; }));  // released: ignored

    manager.removeStreamerWithUUID("nobody");
    manager.setVolumeA(1.0);
    manager.setMixProgress(0.5f);
    manager.setChannelMappingA({2, 1});
    manager.addBufferA(makeBuffer(2, 16, [](uint32_t c, uint32_t) { return c ? 0.5f : 0.25f; }));
    for (const auto& streamer : {a, b}) {
        EXPECT_EQ(streamer->volumeA(), 1.0);
        EXPECT_EQ(streamer->mixProgress(), 0.5f);
        float* pulled = streamer->audioDataWithNumberOfFrames(16, 2);
        ASSERT_TRUE(pulled);
        EXPECT_EQ(pulled[0], 0.5f);   // channel 1 plays source 2
        EXPECT_EQ(pulled[16], 0.25f);
        std::free(pulled);
    }
    manager.removeStreamerWithUUID("a");
    EXPECT_FALSE(manager.streamerWithUUID("a"));
    EXPECT_EQ(manager.streamerWithUUID("b"), b);
}

TEST(KavioAudioStreamersManager, FanOutsRunWhileOutputsComeAndGo) {
    KavioAudioStreamersManager manager;
    manager.setChannelCount(2);
    std::atomic<bool> done{false};
    std::thread churn([&] {
        for (int i = 0; i < 200; ++i) {
            const QString uuid = QString::number(i % 5);
            manager.createAudioStreamerWithUUID(uuid);
            if (i % 3 == 0) manager.removeStreamerWithUUID(uuid);
        }
        done = true;
    });
    auto buffer = makeBuffer(2, 64, [](uint32_t, uint32_t) { return 0.1f; });
    int rounds = 0;
    while (!done) {
        manager.addBufferA(buffer);
        manager.setMixProgress(float(rounds % 10) / 10.0f);
        manager.clearCurrentBuffer();
        ++rounds;
    }
    churn.join();
    EXPECT_GT(rounds, 0);
}

}  // namespace
