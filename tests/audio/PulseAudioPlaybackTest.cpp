// Cue audio through the engine to a real PulseAudio server (the test process's own), recorded
// from the null sinks' monitors without remixing: every routed channel on its output, the
// file's frame counter without gap or repeat, seeks landing on their frame; and the output
// manager following sinks that come and go, the default sink, and a server that dies.

#include "Audio/KavioAudioEngine.h"
#include "Audio/KavioAudioOutputManager.h"
#include "Audio/KavioAudioOutputPanel.h"
#include "Audio/KavioAudioPlayer.h"
#include "Audio/KavioAudioStreamersManager.h"
#include "Cue/KavioVideoItem.h"
#include "AudioPlayerFakes.h"
#include "AudioTestEnvironments.h"
#include "AudioWait.h"
#include "DispatchQueue.h"
#include "MediaFixtures.h"
#include "PulseAudioTestServer.h"
#include "PulseRecorder.h"
#include "SixChannelRouting.h"
#include "Views/KavioPopUpButton.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <iostream>
#include <thread>

namespace {

std::string skipReason;

// The shared engine on the server's 8-channel sink.
class PulseEnvironment : public PulseBackendEnvironment {
public:
    void SetUp() override {
        PulseBackendEnvironment::SetUp();
        skipReason = unavailableReason();
        if (!skipReason.empty()) return;
        KavioAudioEngine& engine = KavioAudioEngine::sharedEngine();
        engine.setupProcessingFormatWithChannels(8, false);
        for (const AudioDeviceInfo& device : backend()->devices())
            if (device.uid == "multi") engine.setAUDeviceID(device.id);
        engine.startEngine();
        if (!engine.isRunning()) skipReason = "the engine did not start on the test server";
    }
};
const auto* environment = testing::AddGlobalTestEnvironment(new PulseEnvironment);

using SixChannelRouting::Frame;
using SixChannelRouting::playedFrames;

class PulseAudioPlaybackTest : public testing::Test {
protected:
    void SetUp() override {
        if (!skipReason.empty()) GTEST_SKIP() << skipReason;
        cue = std::make_shared<FakeCue>();
        player = KavioAudioPlayer::initWithFileURL(QString::fromStdString(MediaFixtures::path("six.wav")),
                                                   SixChannelRouting::kRouting, 8, 0, cue, 48000);
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
    SixChannelRouting::expectEveryChannelOnItsOutputAndEveryFrameOnce([&] {
        player->setCurrentTime(0.0);
        player->setVolume(1.0f);
        return record(2.6);
    });
}

TEST_F(PulseAudioPlaybackTest, SeekLandsOnItsFrame) {
    player->setCurrentTime(1.5);
    player->setVolume(1.0f);  // a seek while stopped leaves the node silent until then
    const std::vector<Frame> frames = record(1.0);
    // Where it lands and where it ends; every frame between is the test above's.
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.front().counter(), 72000);
    EXPECT_EQ(frames.back().counter(), 95999);
}

// The cue's side of its audio player as the cue's audio will give it: the player stands where
// the cue's position says.
class PositionOfCue : public FakeCue {
public:
    std::weak_ptr<KavioVideoItem> item;
    double currentTimeForAudioWithPlayer(const KavioAudioPlayer* player) const override {
        const auto cue = item.lock();
        return cue ? cue->currentTimeForAudioWithPlayer(player) : 0.0;
    }
};

TEST_F(PulseAudioPlaybackTest, AnAudioOnlyCueSoughtAndStartedPlaysFromItsFrame) {
    // As above: a stall of the loaded machine shows in one attempt, a fault of ours in every one.
    int first = -1;
    for (int attempt = 0; attempt < 3 && first != 72000; ++attempt) {
        const auto side = std::make_shared<PositionOfCue>();
        side->type = KavioMediaTypeAudio;
        player->removeResources();
        player = KavioAudioPlayer::initWithFileURL(QString::fromStdString(MediaFixtures::path("six.wav")),
                                                   SixChannelRouting::kRouting, 8, 0, side, 48000);
        ASSERT_TRUE(player);
        const auto cue = std::make_shared<KavioVideoItem>();
        side->item = cue;
        cue->setMediaType(KavioMediaTypeAudio);
        cue->setAudioPlayer(player);
        // Sound on at unity: the cue's start sets the player's volume from these.
        cue->soundButton().state = 1;
        cue->setVolume(1.0f);

        cue->seekToCMTime(MediaTime::makeWithSeconds(1.5, MediaTime::kCueTimescale));
        player->setVolume(1.0f);  // the cue's volume step; a seek while stopped leaves the node silent
        PulseRecorder recorder("multi", 8);
        ASSERT_TRUE(recorder.start());
        cue->startPlayers();
        EXPECT_TRUE(player->isPlaying());
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        cue->pausePlayersWithPreroll(false);
        EXPECT_FALSE(player->isPlaying());
        const std::vector<Frame> frames = playedFrames(recorder.stop());
        first = frames.empty() ? -1 : frames.front().counter();
        if (first != 72000) std::cerr << "attempt " << attempt + 1 << ": first frame " << first << "\n";
    }
    EXPECT_EQ(first, 72000);
}

}  // namespace

// --- The output manager following the server's devices -----------------------------------------

namespace {

class PulseOutputManagerTest : public testing::Test {
protected:
    void SetUp() override {
        if (!skipReason.empty()) GTEST_SKIP() << skipReason;
        ASSERT_TRUE(loadPlug());
        ASSERT_TRUE(waitUntil([&] { return idOf("plug") != 0; }));
        manager = std::make_shared<KavioAudioOutputManager>(engine(), streamers);
        manager->startManager();
        choose(manager->panel()->audioChannelsPopup(), "2");
        cue = std::make_shared<FakeCue>();
        cue->manager = manager;
        player = KavioAudioPlayer::initWithFileURL(QString::fromStdString(MediaFixtures::path("six.wav")), {1, 2}, 2,
                                                   0, cue, 48000);
        ASSERT_TRUE(player);
        // What a cue does on every master volume change: apply its volume again.
        NotificationCenter::defaultCenter().addObserver(this, KavioAudioNotification::MasterVolumeChanged, nullptr,
                                                        [this](const Notification&) { player->setVolume(1.0f); });
        player->setVolume(1.0f);
    }
    void TearDown() override {
        NotificationCenter::defaultCenter().removeObserver(this);
        if (player) player->removeResources();
        manager.reset();
        if (!plugModule.empty()) PulseAudioTestServer::pactl("unload-module " + plugModule);
        // Back to what the playback tests expect.
        engine().stopEngine();
        engine().setupProcessingFormatWithChannels(8, false);
        engine().setAUDeviceID(idOf("multi"));
        engine().startEngine();
    }
    static KavioAudioEngine& engine() { return KavioAudioEngine::sharedEngine(); }
    static AudioDeviceID idOf(const std::string& uid) {
        for (const AudioDeviceInfo& d : engine().backend()->devices())
            if (d.uid == uid) return d.id;
        return 0;
    }
    bool loadPlug() {
        return PulseAudioTestServer::pactl("load-module module-null-sink sink_name=plug channels=2 rate=48000 "
                                           "format=float32le sink_properties=device.description=PlugCard",
                                           &plugModule);
    }
    static void choose(KavioPopUpButton* popup, const QString& title) {
        const int index = popup->indexOfItemWithTitle(title);
        ASSERT_GE(index, 0) << title.toStdString();
        popup->chooseItemAtIndex(index);
    }
    static bool settle(const std::function<bool()>& done) { return DispatchQueue::runMainUntil(done, 10); }
    // Whether the sink's monitor carries the cue's frame counter.
    static bool heardOn(const std::string& sink) {
        PulseRecorder recorder(sink, 2);
        if (!recorder.start()) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const std::vector<float> recorded = recorder.stop();
        for (size_t i = 2; i + 1 < recorded.size(); i += 2)
            if (recorded[i] > 0 && std::lround((recorded[i] - recorded[i - 2]) * 32768) == 1) return true;
        return false;
    }
    void playFromStart() {
        cue->time = 0;
        player->setCurrentTime(0.0);
        player->setVolume(1.0f);
        player->play();
    }

    KavioAudioStreamersManager streamers;
    std::shared_ptr<KavioAudioOutputManager> manager;
    std::shared_ptr<FakeCue> cue;
    std::shared_ptr<KavioAudioPlayer> player;
    std::string plugModule;
};

TEST_F(PulseOutputManagerTest, UnplugSilencesReplugBringsSoundBack) {
    choose(manager->panel()->audioDevicesPopup(), "PlugCard");
    ASSERT_EQ(engine().getAUDeviceID(), idOf("plug"));
    playFromStart();
    EXPECT_TRUE(heardOn("plug"));

    ASSERT_TRUE(PulseAudioTestServer::pactl("unload-module " + plugModule));
    KavioPopUpButton* outputs = manager->panel()->audioDevicesPopup();
    ASSERT_TRUE(settle([&] { return outputs->titleOfSelectedItem() == "PlugCard - DISCONNECTED"; }));
    EXPECT_TRUE(manager->isDisabled());
    EXPECT_FALSE(manager->isMainVolumeEnabled());
    settle([] { return engine().isRunning(); });  // the restart falls back to the default sink
    EXPECT_EQ(engine().outputVolume(), 0.0f);  // wherever the engine fell back to, it is silent

    // Another device coming keeps the disconnected one selected.
    std::string other;
    ASSERT_TRUE(PulseAudioTestServer::pactl(
        "load-module module-null-sink sink_name=other channels=2 rate=48000 format=float32le", &other));
    ASSERT_TRUE(settle([&] { return outputs->numberOfItems() > KavioAudioOutputPanel::kFixedOutputItems + 3; }));
    EXPECT_EQ(outputs->titleOfSelectedItem(), "PlugCard - DISCONNECTED");
    PulseAudioTestServer::pactl("unload-module " + other);

    ASSERT_TRUE(loadPlug());
    ASSERT_TRUE(settle([&] { return outputs->titleOfSelectedItem() == "PlugCard" && engine().isRunning(); }));
    EXPECT_FALSE(manager->isDisabled());
    EXPECT_EQ(engine().getAUDeviceID(), idOf("plug"));
    EXPECT_EQ(engine().outputVolume(), 1.0f);
    playFromStart();
    EXPECT_TRUE(heardOn("plug"));
}

TEST_F(PulseOutputManagerTest, DefaultFollowingOutputMovesAndSurvivesAServerRestart) {
    choose(manager->panel()->audioDevicesPopup(), KavioAudioOutputPanel::kSystemsDefault);
    ASSERT_TRUE(PulseAudioTestServer::pactl("set-default-sink plug"));
    ASSERT_TRUE(settle([&] { return engine().getAUDeviceID() == idOf("plug") && engine().isRunning(); }));
    playFromStart();
    EXPECT_TRUE(heardOn("plug"));

    ASSERT_TRUE(PulseAudioTestServer::pactl("set-default-sink stereo"));
    ASSERT_TRUE(settle([&] { return engine().getAUDeviceID() == idOf("stereo") && engine().isRunning(); }));
    playFromStart();
    EXPECT_TRUE(heardOn("stereo"));

    PulseAudioTestServer::kill();
    ASSERT_TRUE(settle([&] { return engine().backend()->devices().empty(); }));
    std::string reason;
    ASSERT_TRUE(PulseAudioTestServer::restart(&reason)) << reason;
    ASSERT_TRUE(settle([&] { return idOf("stereo") != 0 && engine().isRunning(); }));
    PulseAudioTestServer::pactl("set-default-sink stereo");
    ASSERT_TRUE(settle([&] { return engine().getAUDeviceID() == idOf("stereo") && engine().isRunning(); }));
    playFromStart();
    EXPECT_TRUE(heardOn("stereo"));
    ASSERT_TRUE(loadPlug());  // for the next test's tear-down
}

}  // namespace
