// The routing grid of the audio output settings end to end: a cue's tone plays through the
// engine on the 8-channel sink of the test process's own PulseAudio server, recorded from the
// sink's monitor, and the operator's edits in the grid move it from one output to another.

#include "Audio/KavioAudioChannelField.h"
#include "Audio/KavioAudioChannelsView.h"
#include "Audio/KavioAudioEngine.h"
#include "Audio/KavioAudioOutputManager.h"
#include "Audio/KavioAudioOutputPanel.h"
#include "Audio/KavioAudioPlayer.h"
#include "Audio/KavioAudioStreamersManager.h"
#include "AudioPlayerFakes.h"
#include "AudioTestEnvironments.h"
#include "AudioTestSupport.h"
#include "MediaFixtures.h"
#include "PulseRecorder.h"
#include "Views/KavioPopUpButton.h"

#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

namespace {

auto* const environment =
    static_cast<PulseBackendEnvironment*>(testing::AddGlobalTestEnvironment(new PulseBackendEnvironment));

// 20 s of a 1 kHz sine at half scale on channel 1, silence on channel 2.
bool makeTone(const std::string& name) {
    return MediaFixtures::ffmpeg("-f lavfi -i \"aevalsrc=0.5*sin(2*PI*1000*t)|0:s=48000:d=20\" -c:a pcm_f32le " + name);
}

// The RMS of each of the sink's 8 outputs over 300 ms of what it plays.
std::vector<double> outputLevels() {
    PulseRecorder recorder("multi", 8);
    if (!recorder.start()) return {};
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::vector<float> recorded = recorder.stop();
    std::vector<double> sums(8, 0.0);
    const size_t frames = recorded.size() / 8;
    for (size_t i = 0; i < frames * 8; ++i) sums[i % 8] += double(recorded[i]) * recorded[i];
    for (double& sum : sums) sum = frames ? std::sqrt(sum / double(frames)) : 0.0;
    return sums;
}

bool toneOnlyOn(int output) {
    const std::vector<double> levels = outputLevels();
    if (levels.size() != 8) return false;
    for (int c = 0; c < 8; ++c)
        if (c == output ? levels[size_t(c)] < 0.2 : levels[size_t(c)] > 0.01) return false;
    return true;
}

class ChannelRoutingPulseTest : public testing::Test {
protected:
    void SetUp() override {
        if (!environment->unavailableReason().empty()) GTEST_SKIP() << environment->unavailableReason();
        manager = std::make_shared<KavioAudioOutputManager>(KavioAudioEngine::sharedEngine(), streamers);
        manager->startManager();
        KavioPopUpButton* channels = manager->panel()->audioChannelsPopup();
        channels->chooseItemAtIndex(channels->indexOfItemWithTitle("8"));
        KavioPopUpButton* outputs = manager->panel()->audioDevicesPopup();
        for (int i = KavioAudioOutputPanel::kFixedOutputItems; i < outputs->numberOfItems(); ++i) {
            const QVariantList device = outputs->itemAtIndex(i).representedObject.toList();
            if (device.size() == 3 && device[1].toString() == "multi") outputs->chooseItemAtIndex(i);
        }
        ASSERT_TRUE(KavioAudioEngine::sharedEngine().isRunning());
        ASSERT_EQ(manager->outputChannelMapping().size(), 8);

        cue = std::make_shared<FakeCue>();
        cue->manager = manager;
        player = KavioAudioPlayer::initWithFileURL(QString::fromStdString(MediaFixtures::madePath("tone-left.wav", makeTone)),
                                                   manager->outputChannelMapping(), 8, 0, cue, 48000);
        ASSERT_TRUE(player);
        // What a cue playing on the default routing does when it changes.
        NotificationCenter::defaultCenter().addObserver(this, KavioAudioNotification::RoutingChanged, nullptr,
                                                        [this](const Notification&) {
                                                            player->setOutputChannelMapping(
                                                                manager->outputChannelMapping(), 8);
                                                        });
        player->setVolume(1.0f);
        player->play();

        manager->panel()->setParent(&window);
        manager->panel()->show();
        window.resize(560, 420);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    void TearDown() override {
        NotificationCenter::defaultCenter().removeObserver(this);
        if (player) player->removeResources();
        if (manager) manager->panel()->setParent(nullptr);
        manager.reset();
    }
    // Types `text` over a field's number and confirms it with Return.
    void type(int output, const QString& text) {
        KavioAudioChannelField* field = manager->panel()->channelsView()->channelFields()[output];
        field->setFocus(Qt::MouseFocusReason);
        ASSERT_TRUE(QTest::qWaitFor([&] { return field->selectedText() == field->text(); }, 10000));
        QTest::keyClicks(field, text);
        QTest::keyClick(field, Qt::Key_Return);
    }

    QWidget window;
    KavioAudioStreamersManager streamers;
    std::shared_ptr<KavioAudioOutputManager> manager;
    std::shared_ptr<FakeCue> cue;
    std::shared_ptr<KavioAudioPlayer> player;
};

bool eventually(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline)
        if (done()) return true;
    return false;
}

TEST_F(ChannelRoutingPulseTest, EditsInTheGridMoveThePlayingTone) {
    ASSERT_TRUE(eventually([] { return toneOnlyOn(0); })) << "the tone starts on output 1";

    AudioTestSupport::PostCounter posts({KavioAudioNotification::RoutingChanged});
    type(4, "1");
    EXPECT_EQ(posts.count(KavioAudioNotification::RoutingChanged), 1);
    type(0, "2");
    EXPECT_EQ(posts.count(KavioAudioNotification::RoutingChanged), 2);
    EXPECT_EQ(manager->outputChannelMapping(), (QList<int>{2, 2, 3, 4, 1, 6, 7, 8}));
    EXPECT_TRUE(eventually([] { return toneOnlyOn(4); })) << "on output 5, output 1 silent";
}

}  // namespace
