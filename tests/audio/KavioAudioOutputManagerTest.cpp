// The audio output manager on its own engine over the null backend: defaults, device choice,
// hot-plug, channels, volume, delay and its record, driven through its panel's widgets.

#include "Audio/KavioAudioChannelsView.h"
#include "Audio/KavioAudioEngine.h"
#include "Audio/KavioAudioOutputManager.h"
#include "Audio/KavioAudioOutputPanel.h"
#include "Audio/KavioAudioStreamersManager.h"
#include "AudioTestEnvironments.h"
#include "AudioTestSupport.h"
#include "CueTestSupport.h"
#include "DispatchQueue.h"
#include "NullAudioBackend.h"
#include "Support/KavioAlert.h"
#include "UserDefaults.h"
#include "Views/KavioButton.h"
#include "Views/KavioPopUpButton.h"
#include "Views/KavioTextField.h"

#include <QLineEdit>
#include <QSpinBox>
#include <QTabWidget>

#include <gtest/gtest.h>

using namespace AudioTestSupport;
namespace N = KavioAudioNotification;

namespace {

const auto* environment = testing::AddGlobalTestEnvironment(new PrivateSettingsEnvironment);

class KavioAudioOutputManagerTest : public testing::Test {
protected:
    void SetUp() override {
        for (const char* key : {"extendMonoFilesPopup", "extendMonoFiles", "audioVolumeNormalization", "audioOutput",
                                "audioChannels", "shouldUseStereoDownmix"})
            UserDefaults::standardUserDefaults().removeObjectForKey(key);
        backend = std::make_shared<NullAudioBackend>();
        builtIn = backend->addDevice("builtin", "Built-in Output", 0, 2);
        eight = backend->addDevice("eight", "Eight Out", 0, 8);
        backend->addDevice("mic", "Microphone", 1, 0);
        backend->setDefaultOutputDevice(builtIn);
        engine = std::make_unique<KavioAudioEngine>(backend);
        KavioAlert::setAnswerer([this](const KavioAlertSpec& spec) {
            alerts.push_back(spec.messageText);
            return KavioAlertAnswer{KavioAlert::FirstButtonReturn};
        });
    }
    void TearDown() override {
        manager.reset();
        KavioAlert::setAnswerer({});
    }
    void start() {
        manager = std::make_unique<KavioAudioOutputManager>(*engine, streamers);
        manager->setController(controller);
        manager->startManager();
    }
    KavioPopUpButton* outputs() const { return manager->panel()->audioDevicesPopup(); }
    // Chooses an output item as the operator does.
    void choose(KavioPopUpButton* popup, const QString& title) {
        const int index = popup->indexOfItemWithTitle(title);
        ASSERT_GE(index, 0) << title.toStdString();
        popup->chooseItemAtIndex(index);
    }
    bool settle(const std::function<bool()>& done) { return DispatchQueue::runMainUntil(done, 5); }

    std::shared_ptr<NullAudioBackend> backend;
    AudioDeviceID builtIn = 0, eight = 0;
    std::unique_ptr<KavioAudioEngine> engine;
    KavioAudioStreamersManager streamers;
    std::shared_ptr<FakeKavioVideoItemManager> controller = std::make_shared<FakeKavioVideoItemManager>();
    std::unique_ptr<KavioAudioOutputManager> manager;
    std::vector<QString> alerts;
};

TEST_F(KavioAudioOutputManagerTest, FirstLaunchTakesTheDefaultsAndWritesThem) {
    streamers.setIsEnabled(false);
    backend->addDevice("nameless", "", 0, 2);
    backend->addDevice("hidden", "hidden", 0, 2);  // named as its UID: not listed
    start();
    EXPECT_EQ(outputs()->titleOfSelectedItem(), KavioAudioOutputPanel::kSystemsDefaultAndStreams);
    EXPECT_EQ(manager->audioOutputKind(), 30);
    EXPECT_FALSE(manager->isDisabled());
    EXPECT_FALSE(manager->hasNoOutputDeviceAtAll());
    EXPECT_EQ(manager->outputChannelMapping(), (QList<int>{1, 2}));
    EXPECT_EQ(manager->panel()->audioChannelsPopup()->titleOfSelectedItem(), "Stereo");
    EXPECT_TRUE(manager->shouldUseStereoDownMix());
    EXPECT_FALSE(manager->panel()->channelsView()->isEditingEnabled());
    EXPECT_TRUE(streamers.isEnabled());
    EXPECT_EQ(streamers.channelCount(), 2);
    EXPECT_TRUE(engine->isRunning());
    EXPECT_EQ(engine->processingFormat()->channelLayoutTag(), 0x650002u);
    EXPECT_EQ(backend->runningOutputDevice(), builtIn);
    UserDefaults& d = UserDefaults::standardUserDefaults();
    EXPECT_EQ(d.stringForKey("audioOutput"), KavioAudioOutputPanel::kSystemsDefaultAndStreams);
    EXPECT_EQ(d.integerForKey("audioChannels"), 2);
    EXPECT_TRUE(d.boolForKey("shouldUseStereoDownmix"));
    EXPECT_TRUE(d.boolForKey("audioVolumeNormalization"));
    EXPECT_TRUE(manager->panel()->audioVolumeNormalizationEnabledButton()->state() == 1);
    EXPECT_TRUE(d.hasKey("extendMonoFilesPopup"));
    // Devices with outputs follow the fixed items; the microphone has none.
    EXPECT_EQ(outputs()->numberOfItems(), KavioAudioOutputPanel::kFixedOutputItems + 3);
    EXPECT_GE(outputs()->indexOfItemWithTitle(" "), KavioAudioOutputPanel::kFixedOutputItems);
}

TEST_F(KavioAudioOutputManagerTest, StoredChannelCountsAndDownMixSurviveARestart) {
    struct Case {
        long stored;
        bool downmix;
        QString shown;
        int channels;
    };
    for (const Case& c : {Case{2, true, "Stereo", 2}, Case{2, false, "2", 2}, Case{8, false, "8", 8},
                          Case{40, false, "2", 2}, Case{0, false, "2", 2}}) {
        UserDefaults::standardUserDefaults().setInteger(c.stored, "audioChannels");
        UserDefaults::standardUserDefaults().setBool(c.downmix, "shouldUseStereoDownmix");
        start();
        EXPECT_EQ(manager->panel()->audioChannelsPopup()->titleOfSelectedItem(), c.shown) << c.stored;
        EXPECT_EQ(manager->outputChannelMapping().size(), c.channels) << c.stored;
        EXPECT_EQ(engine->processingFormat()->channelCount(), uint32_t(c.channels)) << c.stored;
        EXPECT_EQ(UserDefaults::standardUserDefaults().integerForKey("audioChannels"), c.channels) << c.stored;
        manager.reset();
    }
}

TEST_F(KavioAudioOutputManagerTest, UnpluggedDeviceShowsDisconnectedUntilItComesBack) {
    start();
    choose(outputs(), "Eight Out");
    EXPECT_EQ(manager->audioOutputKind(), 20);
    EXPECT_FALSE(streamers.isEnabled());
    EXPECT_EQ(backend->runningOutputDevice(), eight);
    PostCounter posts({N::SetupChanged});

    backend->removeDevice("eight");
    ASSERT_TRUE(settle([&] { return outputs()->titleOfSelectedItem() == "Eight Out - DISCONNECTED"; }));
    EXPECT_TRUE(manager->isDisabled());
    EXPECT_FALSE(manager->isMainVolumeEnabled());
    EXPECT_EQ(posts.count(N::SetupChanged), 1);

    // Another list change while it is still missing keeps it selected and output off.
    backend->addDevice("other", "Other Out", 0, 2);
    ASSERT_TRUE(settle([&] { return outputs()->indexOfItemWithTitle("Other Out") >= 0; }));
    EXPECT_EQ(outputs()->titleOfSelectedItem(), "Eight Out - DISCONNECTED");
    EXPECT_TRUE(manager->isDisabled());

    backend->addDevice("eight", "Eight Out", 0, 8);
    ASSERT_TRUE(settle([&] { return outputs()->titleOfSelectedItem() == "Eight Out"; }));
    EXPECT_FALSE(manager->isDisabled());
    EXPECT_TRUE(manager->isMainVolumeEnabled());
    EXPECT_EQ(backend->runningOutputDevice(), eight);
}

TEST_F(KavioAudioOutputManagerTest, BlackmagicDevicesAskFirstExceptWhileLoading) {
    backend->addDevice("bmd", "Blackmagic UltraStudio", 0, 2);
    start();
    choose(outputs(), "Blackmagic UltraStudio");
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0], "Please confirm selection");
    EXPECT_EQ(outputs()->titleOfSelectedItem(), KavioAudioOutputPanel::kStreamsOnly);  // "Use NDI & SDI"
    EXPECT_EQ(manager->audioOutputKind(), 10);
    EXPECT_TRUE(streamers.isEnabled());

    controller->loadingProject = true;
    choose(outputs(), "Blackmagic UltraStudio");
    EXPECT_EQ(alerts.size(), 1u);
    EXPECT_EQ(outputs()->titleOfSelectedItem(), "Blackmagic UltraStudio");
}

TEST_F(KavioAudioOutputManagerTest, SameChoicesAgainRebuildNothing) {
    start();
    choose(outputs(), "Eight Out");
    PostCounter posts({N::ChannelsChanged, N::MasterVolumeChanged, KavioAudioEngine::kWillStopNotification});
    choose(outputs(), "Eight Out");
    EXPECT_EQ(posts.count(N::ChannelsChanged), 0);
    EXPECT_GE(posts.count(N::MasterVolumeChanged), 1);

    const int stops = posts.count(KavioAudioEngine::kWillStopNotification);
    streamers.setChannelCount(99);
    choose(manager->panel()->audioChannelsPopup(), "Stereo");
    EXPECT_EQ(posts.count(KavioAudioEngine::kWillStopNotification), stops);
    EXPECT_EQ(posts.count(N::ChannelsChanged), 0);
    EXPECT_EQ(streamers.channelCount(), 2);

    choose(manager->panel()->audioChannelsPopup(), "8");
    EXPECT_EQ(posts.count(N::ChannelsChanged), 1);
    EXPECT_EQ(engine->processingFormat()->channelCount(), 8u);
    EXPECT_EQ(manager->outputChannelMapping(), (QList<int>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_TRUE(manager->panel()->channelsView()->isEditingEnabled());
}

TEST_F(KavioAudioOutputManagerTest, DefaultFollowingOutputMovesWithTheDefault) {
    start();
    choose(outputs(), KavioAudioOutputPanel::kSystemsDefault);
    EXPECT_EQ(manager->audioOutputKind(), 20);
    backend->setDefaultOutputDevice(eight);
    ASSERT_TRUE(settle([&] { return backend->runningOutputDevice() == eight; }));
    EXPECT_EQ(manager->selectedOutputDeviceUID(), eight);

    // A lost server restarts the engine.
    PostCounter posts({KavioAudioEngine::kDidStartNotification});
    backend->loseServer();
    ASSERT_TRUE(settle([&] { return posts.count(KavioAudioEngine::kDidStartNotification) == 1; }));
}

TEST_F(KavioAudioOutputManagerTest, MasterVolumeInDecibelsAndDelay) {
    start();
    PostCounter posts({N::MasterVolumeChanged, N::DelayChanged});
    QLineEdit* field = manager->panel()->mainVolumeField();
    EXPECT_EQ(field->text(), "0");
    field->setText("-6");
    emit field->editingFinished();
    EXPECT_NEAR(manager->mainVolume(), 0.501, 0.001);
    EXPECT_EQ(posts.count(N::MasterVolumeChanged), 1);
    field->setText("loud");
    emit field->editingFinished();
    EXPECT_NEAR(manager->mainVolume(), 0.501, 0.001);

    QSpinBox* delay = manager->panel()->audioDelayField();
    delay->setValue(250);
    emit delay->editingFinished();
    emit delay->editingFinished();
    EXPECT_EQ(manager->delayInMs(), 250);
    EXPECT_EQ(posts.count(N::DelayChanged), 1);

    choose(outputs(), KavioAudioOutputPanel::kDisabled);
    EXPECT_TRUE(manager->isDisabled());
    EXPECT_FALSE(streamers.isEnabled());
    EXPECT_FALSE(manager->isMainVolumeEnabled());
}

TEST_F(KavioAudioOutputManagerTest, RecordRoundTripAndOddRecords) {
    start();
    choose(manager->panel()->audioChannelsPopup(), "8");
    choose(outputs(), "Eight Out");
    manager->panel()->channelsView()->rebuildChannelsViewWithSettings({2, 1, 0, 4, 5, 6, 7, 8});
    manager->panel()->setMainVolume(0.25);
    manager->masterVolumeChanged();
    const QVariantMap record = manager->saveData();
    EXPECT_EQ(record.value("audioDevicesPopup").toString(), "Eight Out");
    EXPECT_EQ(record.value("selectedDefaultOutputDeviceUUID").toString(), "eight");
    EXPECT_EQ(record.value("audioChannels").toString(), "8");
    manager.reset();

    start();
    manager->loadWithData(record);
    EXPECT_EQ(outputs()->titleOfSelectedItem(), "Eight Out");
    EXPECT_EQ(manager->outputChannelMapping(), (QList<int>{2, 1, 0, 4, 5, 6, 7, 8}));
    EXPECT_NEAR(manager->mainVolume(), 0.25, 1e-6);
    EXPECT_EQ(backend->runningOutputDevice(), eight);

    // The UID finds the device although its title is another one now.
    QVariantMap renamed = record;
    renamed["audioDevicesPopup"] = "Old Name";
    choose(outputs(), KavioAudioOutputPanel::kSystemsDefault);
    manager->loadWithData(renamed);
    EXPECT_EQ(outputs()->titleOfSelectedItem(), "Eight Out");

    // Missing keys keep what is there; an unknown title comes back disconnected.
    manager->loadWithData({{"audioDelay", "not a number"}});
    EXPECT_EQ(outputs()->titleOfSelectedItem(), "Eight Out");
    EXPECT_NEAR(manager->mainVolume(), 0.25, 1e-6);
    EXPECT_EQ(manager->delayInMs(), 0);
    manager->loadWithData({{"audioDevicesPopup", "Gone Card"}, {"audioChannels", "Quadraphonic"}});
    EXPECT_EQ(outputs()->titleOfSelectedItem(), "Gone Card - DISCONNECTED");
    EXPECT_TRUE(manager->isDisabled());
    EXPECT_EQ(manager->panel()->audioChannelsPopup()->titleOfSelectedItem(), "2");
}

}  // namespace

namespace {

TEST_F(KavioAudioOutputManagerTest, SetupWindowComesForwardOnItsTab) {
    start();
    QTabWidget preferences;
    preferences.addTab(new QWidget, "General");
    preferences.addTab(manager->panel(), "Audio");
    preferences.setCurrentIndex(0);
    manager->orderFrontAudioSetupWindow();
    EXPECT_EQ(preferences.currentWidget(), manager->panel());
    EXPECT_EQ(manager->panel()->objectName(), "audiooutput");
    EXPECT_TRUE(preferences.isVisible());
    manager.reset();  // the panel belongs to the window now
}

}  // namespace
