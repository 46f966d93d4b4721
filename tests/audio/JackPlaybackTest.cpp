// Cue audio through the engine to the test process's own JACK server: a peer client stands for
// an 8-channel device and records what reaches its ports; every routed channel lands on its
// port and the file's frame counter arrives without gap or repeat.

#include "Audio/KavioAudioEngine.h"
#include "Audio/KavioAudioPlayer.h"
#include "AudioPlayerFakes.h"
#include "AudioWait.h"
#include "JackPeer.h"
#include "JackTestServer.h"
#include "MediaFixtures.h"
#include "SixChannelRouting.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(JackPlayback, EveryChannelOnItsPortAndEveryFrameOnce) {
    std::string reason;
    if (!JackTestServer::ensureRunning(&reason)) GTEST_SKIP() << reason;
    JackPeer peer;
    ASSERT_TRUE(peer.ok());
    auto backend = AudioBackend::make("jack");
    ASSERT_TRUE(backend);
    AudioDeviceID device = 0;
    ASSERT_TRUE(waitUntil([&] {
        for (const AudioDeviceInfo& d : backend->devices())
            if (d.uid == "jack:peer" && d.outputChannels == JackPeer::kInputs) device = d.id;
        return device != 0;
    }));
    AudioBackend::setShared(backend);
    KavioAudioEngine& engine = KavioAudioEngine::sharedEngine();
    engine.setupProcessingFormatWithChannels(SixChannelRouting::kOutputs, false);
    ASSERT_EQ(engine.setAUDeviceID(device), 0);
    engine.startEngine();
    ASSERT_TRUE(engine.isRunning());

    const auto cue = std::make_shared<FakeCue>();
    const auto player = KavioAudioPlayer::initWithFileURL(QString::fromStdString(MediaFixtures::path("six.wav")),
                                                          SixChannelRouting::kRouting, SixChannelRouting::kOutputs, 0,
                                                          cue, 48000);
    ASSERT_TRUE(player);
    SixChannelRouting::expectEveryChannelOnItsOutputAndEveryFrameOnce([&] {
        player->setCurrentTime(0.0);
        player->setVolume(1.0f);  // a seek while stopped leaves the node silent until then
        peer.startRecording();
        player->startPlayback();
        std::this_thread::sleep_for(std::chrono::milliseconds(2600));
        player->stop();
        return SixChannelRouting::playedFrames(peer.stopRecording());
    });
    player->removeResources();
    engine.stopEngine();
    AudioBackend::setShared(nullptr);
}

}  // namespace
