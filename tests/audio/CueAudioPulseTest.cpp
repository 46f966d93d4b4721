// A cue's audio end to end: the cue's player on the engine, bound to the test server's
// 8-channel null sink "multi", recorded from its monitor. The cue's volume formula, the sound
// toggle, normalising (which never plays louder than the file) and the output's channel change
// reach what the sink plays.

#include "Audio/KavioAudioEngine.h"
#include "Audio/KavioAudioOutputManager.h"
#include "Audio/KavioAudioOutputPanel.h"
#include "Audio/KavioAudioPlayer.h"
#include "CueAudioFakes.h"
#include "DispatchQueue.h"
#include "LavfiFiles.h"
#include "NotificationCenter.h"
#include "PulseRecorder.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <thread>

namespace {

constexpr int kOutputs = 8;
using Peaks = std::array<float, kOutputs>;

// A 440 Hz sine of `amplitude` on the left channel of a stereo file, the right one silent.
std::string leftTone(const std::string& name, double amplitude)
{
    return LavfiFiles::made(name, "-f lavfi -i \"aevalsrc=" + std::to_string(amplitude) +
                                      "*sin(2*PI*440*t)|0:s=48000\" -t 4 -c:a pcm_f32le");
}

class CueAudioPulseTest : public testing::Test {
protected:
    void SetUp() override
    {
        // The suite's environment binds the engine to "multi"; without the server it does not run.
        if (!KavioAudioEngine::sharedEngine().isRunning())
            GTEST_SKIP() << "the engine does not run on the PulseAudio test server";
        controller->output->mapping = {1, 2, 0, 0, 0, 0, 0, 0};
    }
    void TearDown() override
    {
        for (const auto& cue : cues)
            if (const auto player = cue->normalAudioPlayer())
                player->removeResources();
    }
    std::shared_ptr<KavioVideoItem> cueFor(const std::string& path)
    {
        auto cue = makeAudioFileCue(controller, path);
        cue->setupAudioWithFileURL(QString::fromStdString(path));
        cues.push_back(cue);
        EXPECT_TRUE(cue->audioPlayer());
        // The set-up's analysis ends before the recording, so it cannot slow the playback.
        EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return !cue->isBuildingAudioWaveform(); }, 60.0));
        return cue;
    }
    // The peak of every output while the cue's player plays from its start. A stall of the
    // loaded machine can cost one attempt its sound; `expectSound` tries again then.
    static Peaks peaksOf(const std::shared_ptr<KavioVideoItem>& cue, bool expectSound = true)
    {
        const auto player = std::dynamic_pointer_cast<KavioAudioPlayer>(cue->audioPlayer());
        Peaks peaks{};
        if (!player)
            return peaks;
        for (int attempt = 0; attempt < 3; ++attempt) {
            // A seek to where the player stands does nothing: the stop dropped its buffers.
            player->setCurrentTime(1.0);
            player->setCurrentTime(0.0);
            cue->volumeChanged();  // as the cue's own seek does: a seek leaves a stopped node silent
            // What the outputs still held of the last playback drains first: it was sent at the
            // volume and routing of then.
            for (int wait = 0; wait < 50; ++wait) {
                PulseRecorder quiet("multi", kOutputs);
                EXPECT_TRUE(quiet.start());
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                const std::vector<float> tail = quiet.stop();
                if (std::all_of(tail.begin(), tail.end(), [](float v) { return std::abs(v) < 1e-4f; }))
                    break;
            }
            PulseRecorder recorder("multi", kOutputs);
            EXPECT_TRUE(recorder.start());
            player->startPlayback();
            std::this_thread::sleep_for(std::chrono::milliseconds(800));
            player->stop();
            const std::vector<float> recorded = recorder.stop();
            peaks.fill(0.0f);
            for (size_t i = 0; i < recorded.size(); ++i)
                peaks[i % kOutputs] = std::max(peaks[i % kOutputs], std::abs(recorded[i]));
            if (!expectSound || *std::max_element(peaks.begin(), peaks.end()) > 1e-3f)
                break;
        }
        return peaks;
    }

    std::shared_ptr<AudioController> controller = std::make_shared<AudioController>();
    std::vector<std::shared_ptr<KavioVideoItem>> cues;
};

TEST_F(CueAudioPulseTest, TheVolumeFormulaAndTheSoundToggleReachTheSink)
{
    const auto cue = cueFor(leftTone("tone05.wav", 0.5));
    cue->setVolume(0.5f);
    controller->output->main = 0.8;
    cue->volumeChanged();
    const Peaks played = peaksOf(cue);
    EXPECT_NEAR(played[0], 0.4f * 0.5f, 0.01f);
    EXPECT_LT(played[1], 1e-4f);

    cue->soundButton().state = 0;
    cue->volumeChanged();
    EXPECT_LT(peaksOf(cue, false)[0], 1e-4f);
}

TEST_F(CueAudioPulseTest, ANormalisedQuietFilePlaysAtItsOwnLevel)
{
    // -30 dBFS: the gain toward -18 dBFS is about 3.98, stored on the cue, never given the player.
    const double amplitude = std::pow(10.0, -30.0 / 20.0);
    const auto cue = cueFor(leftTone("minus30.wav", amplitude));
    cue->normalizeAudioVolume();
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return cue->volume() > 3.0f && !cue->analyzer(); }, 60.0));
    // One lane of two carries the tone: the loudest of the two channels is the tone's level.
    EXPECT_NEAR(cue->volume(), std::pow(10.0f, 12.0f / 20.0f), 0.05f);
    EXPECT_NEAR(peaksOf(cue)[0], amplitude, amplitude * 0.02);
}

TEST_F(CueAudioPulseTest, AChannelChangeMovesDefaultRoutedCuesOnly)
{
    const auto routed = cueFor(leftTone("tone03.wav", 0.3));
    const auto own = cueFor(leftTone("tone03.wav", 0.3));
    own->setIsUsingDefaultAudioChannels(false);
    own->setChannelMappingForPlayers({1, 2, 0, 0, 0, 0, 0, 0});
    EXPECT_NEAR(peaksOf(routed)[0], 0.3f, 0.01f);

    controller->output->mapping = {0, 0, 1, 2, 0, 0, 0, 0};
    NotificationCenter::defaultCenter().post(
        KavioAudioNotification::ChannelsChanged, controller->output.get(),
        {{KavioAudioNotification::ChannelMappingKey, QVariantList{0, 0, 1, 2, 0, 0, 0, 0}}});
    const Peaks moved = peaksOf(routed);
    EXPECT_LT(moved[0], 1e-4f);
    EXPECT_NEAR(moved[2], 0.3f, 0.01f);
    const Peaks kept = peaksOf(own);
    EXPECT_NEAR(kept[0], 0.3f, 0.01f);
    EXPECT_LT(kept[2], 1e-4f);
}

}  // namespace
