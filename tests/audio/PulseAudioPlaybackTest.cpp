// Cue audio through the engine to a real PulseAudio server (the test process's own), recorded
// from the null sinks' monitors without remixing: every routed channel on its output, the
// file's frame counter without gap or repeat, seeks landing on their frame; and the output
// manager following sinks that come and go, the default sink, and a server that dies.

#include "Audio/KavioAudioEngine.h"
#include "Audio/KavioAudioOutputManager.h"
#include "Audio/KavioAudioOutputPanel.h"
#include "Audio/KavioAudioPlayer.h"
#include "Audio/KavioAudioStreamersManager.h"
#include "AudioPlayerFakes.h"
#include "AudioWait.h"
#include "DispatchQueue.h"
#include "MediaFixtures.h"
#include "PulseAudioTestServer.h"
#include "PulseRecorder.h"
#include "Views/KavioPopUpButton.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <iostream>
#include <thread>

namespace {

std::string skipReason;

class PulseEnvironment : public testing::Environment {
public:
    void SetUp() override {
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
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
    // The engine (made after the server) lets the backend go before the server is stopped.
    void TearDown() override { AudioBackend::setShared(nullptr); }
    QTemporaryDir config;
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
    // A machine loaded enough to hold the server's threads past its buffer loses samples in the
    // server; a fault of ours shows in every attempt, such a stall in one.
    std::string lastProblem;
    for (int attempt = 0; attempt < 3; ++attempt) {
        player->setCurrentTime(0.0);
        player->setVolume(1.0f);
        const std::vector<Frame> frames = record(2.6);
        const float constants[6] = {0.3f, 0.4f, 0.5f, 0.6f, 0.0f, 0.0f};
        int wrongChannels = 0;
        for (const Frame& frame : frames)
            for (int c = 0; c < 6; ++c) wrongChannels += std::abs(frame.channels[c] - constants[c]) > 1e-4f;
        ASSERT_EQ(wrongChannels, 0);
        lastProblem.clear();
        for (size_t i = 0; i < frames.size() && lastProblem.empty(); ++i)
            if (frames[i].counter() != int(i))
                lastProblem = "frame " + std::to_string(i) + " carries " + std::to_string(frames[i].counter());
        if (lastProblem.empty() && frames.size() != 96000u)
            lastProblem = std::to_string(frames.size()) + " frames";
        if (lastProblem.empty()) return;
        std::cerr << "attempt " << attempt + 1 << ": " << lastProblem << "\n";
    }
    ADD_FAILURE() << lastProblem;
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
