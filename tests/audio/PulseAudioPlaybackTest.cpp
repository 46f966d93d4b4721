// Cue audio through the engine to a real PulseAudio server (the test process's own), recorded
// from the 8-channel null sink's monitor without remixing: every routed channel on its output,
// the file's frame counter without gap or repeat, seeks landing on their frame.

#include "Audio/KavioAudioEngine.h"
#include "Audio/KavioAudioPlayer.h"
#include "AudioPlayerFakes.h"
#include "MediaFixtures.h"
#include "PulseAudioTestServer.h"
#include "PulseRecorder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

namespace {

std::string skipReason;

class PulseEnvironment : public testing::Environment {
public:
    void SetUp() override {
        if (!PulseAudioTestServer::ensureRunning(&skipReason)) return;
        auto backend = AudioBackend::make("pulse");
        if (!backend) {
            skipReason = "the PulseAudio test server does not answer";
            return;
        }
        AudioBackend::setShared(backend);
        KavioAudioEngine& engine = KavioAudioEngine::sharedEngine();
        engine.setupProcessingFormatWithChannels(8, false);
        for (const AudioDeviceInfo& device : backend->devices())
            if (device.uid == "multi") engine.setAUDeviceID(device.id);
        engine.startEngine();
        if (!engine.isRunning()) skipReason = "the engine did not start on the test server";
    }
};
const auto* environment = testing::AddGlobalTestEnvironment(new PulseEnvironment);

struct Frame {
    float channels[8];
    int counter() const {
        return int(std::lround(channels[7] * 32768.0f)) * 32000 + int(std::lround(channels[6] * 32768.0f));
    }
    bool playing() const { return std::abs(channels[0] - 0.3f) < 1e-4f; }
};

// The frames recorded while the cue played.
std::vector<Frame> playedFrames(const std::vector<float>& recorded) {
    std::vector<Frame> frames;
    for (size_t i = 0; i + 8 <= recorded.size(); i += 8) {
        Frame frame;
        std::copy_n(&recorded[i], 8, frame.channels);
        if (frame.playing()) frames.push_back(frame);
    }
    return frames;
}

class PulseAudioPlaybackTest : public testing::Test {
protected:
    void SetUp() override {
        if (!skipReason.empty()) GTEST_SKIP() << skipReason;
        cue = std::make_shared<FakeCue>();
        player = KavioAudioPlayer::initWithFileURL(QString::fromStdString(MediaFixtures::path("six.wav")),
                                                   {3, 4, 5, 6, 0, 0, 1, 2}, 8, 0, cue, 48000);
        ASSERT_TRUE(player);
        player->setVolume(1.0f);
    }
    void TearDown() override {
        if (player) player->removeResources();
    }
    std::vector<Frame> record(double seconds) {
        PulseRecorder recorder("multi", 8);
        EXPECT_TRUE(recorder.start());
        player->startPlayback();
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        player->stop();
        return playedFrames(recorder.stop());
    }

    std::shared_ptr<FakeCue> cue;
    std::shared_ptr<KavioAudioPlayer> player;
};

TEST_F(PulseAudioPlaybackTest, EveryChannelOnItsOutputAndEveryFrameOnce) {
    const std::vector<Frame> frames = record(2.6);
    for (size_t i = 1; i < frames.size(); ++i)
        if (frames[i].counter() != frames[i - 1].counter() + 1) {
            ADD_FAILURE() << "after " << frames[i - 1].counter() << " comes " << frames[i].counter() << " at " << i;
            break;
        }
    ASSERT_EQ(frames.size(), 96000u) << frames.front().counter() << " .. " << frames.back().counter();
    const float constants[6] = {0.3f, 0.4f, 0.5f, 0.6f, 0.0f, 0.0f};
    int wrong = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
        for (int c = 0; c < 6; ++c) wrong += std::abs(frames[i].channels[c] - constants[c]) > 1e-4f;
        wrong += frames[i].counter() != int(i);
    }
    EXPECT_EQ(wrong, 0);
}

TEST_F(PulseAudioPlaybackTest, SeekLandsOnItsFrame) {
    player->setCurrentTime(1.5);
    player->setVolume(1.0f);  // a seek while stopped leaves the node silent until then
    const std::vector<Frame> frames = record(1.0);
    ASSERT_EQ(frames.size(), 24000u);
    EXPECT_EQ(frames.front().counter(), 72000);
    EXPECT_EQ(frames.back().counter(), 95999);
}

}  // namespace
