#include "Outputs/KavioNDIManager.h"
#include "Support/KavioPlainButton.h"
#include "Support/KavioPlainPopUpButton.h"

#include "NotificationCenter.h"
#include "QVTNDISender.h"
#include "UserDefaults.h"

#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// Records what the tally reaction asks of the cue list.
class RecordingCueList : public KavioNDITallyTarget {
public:
    bool playing = false;
    bool loading = false;
    QStringList calls;
    bool isLoadingProject() const override { return loading; }
    bool isPlaying() const override { return playing; }
    void startPlayback() override { calls << "start"; }
    void stopPlaybackWithCompletedHandler(std::function<void()> handler) override
    {
        calls << (handler ? "stop+handler" : "stop");
    }
    void setShouldLoadNextCueByNDI(bool v) override { calls << QString("loadNext=%1").arg(v); }
    void setShouldRewindCueByNDI(bool v) override { calls << QString("rewind=%1").arg(v); }
};

class KavioNDIManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        defaults = std::make_unique<UserDefaults>(dir.filePath("defaults.ini"));
        for (auto [title, tag] : {std::pair{"Do nothing", 0L}, {"Stop", 5L}, {"Stop, load next cue", 10L},
                                  {"Stop, rewind cue", 30L}})
            popup.addItem(title, tag);
        popup.selectItemWithTag(10);
        button.setButtonType(KavioButtonType::OnOff);
        manager = std::make_unique<KavioNDIManager>(defaults.get());
        manager->setNdiOnSwitchBehaviour(&popup);
        manager->setNdiIntegrationEnabledButton(&button);
        manager->setTallyTarget(cueList);
    }

    void postTally(QVariant state)
    {
        QVariantMap info;
        if (state.isValid())
            info.insert("state", state);
        int sender = 0;  // any sender counts
        NotificationCenter::defaultCenter().post(QVTNDISender::kTallyStateChangeNotification, &sender, info);
    }

    void switchOn()
    {
        button.setState(1);
        manager->ndiIntegrationEnabledChanged();
    }

    QTemporaryDir dir;
    std::unique_ptr<UserDefaults> defaults;
    KavioPlainPopUpButton popup;
    KavioPlainButton button;
    std::shared_ptr<RecordingCueList> cueList = std::make_shared<RecordingCueList>();
    std::unique_ptr<KavioNDIManager> manager;
};

TEST_F(KavioNDIManagerTest, TallyReactsByPlayingStateProgramStateAndBehaviourTag)
{
    struct Case {
        bool playing;
        bool onProgram;
        long tag;
        QStringList expected;
    };
    const QList<Case> cases = {
        {false, true, 0, {"start"}},
        {false, true, 5, {"start"}},
        {false, true, 10, {"start"}},
        {false, true, 30, {"start"}},
        {true, false, 0, {}},
        {true, false, 10, {"loadNext=1", "stop"}},
        {true, false, 30, {"rewind=1", "stop"}},
        {true, false, 5, {"stop"}},
        {true, true, 10, {}},
        {true, true, 0, {}},
        {false, false, 10, {}},
        {false, false, 5, {}},
    };
    switchOn();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "playing " << c.playing << " on program " << c.onProgram << " tag " << c.tag);
        cueList->calls.clear();
        cueList->playing = c.playing;
        ASSERT_TRUE(popup.selectItemWithTag(c.tag));
        postTally(c.onProgram);
        EXPECT_EQ(cueList->calls, c.expected);
    }
}

TEST_F(KavioNDIManagerTest, IgnoresTallyWhileSwitchedOffLoadingOrWithoutBooleanState)
{
    cueList->playing = false;
    postTally(true);  // never switched on
    switchOn();
    button.setState(0);
    manager->ndiIntegrationEnabledChanged();
    EXPECT_FALSE(manager->isObservingTally());
    postTally(true);
    EXPECT_TRUE(cueList->calls.isEmpty());

    switchOn();
    cueList->loading = true;
    postTally(true);
    EXPECT_TRUE(cueList->calls.isEmpty()) << "dropped during a project load";
    cueList->loading = false;
    postTally(QVariant());
    postTally(QString("yes"));
    EXPECT_TRUE(cueList->calls.isEmpty());
    postTally(true);
    EXPECT_EQ(cueList->calls, QStringList{"start"});
}

TEST_F(KavioNDIManagerTest, FirstLaunchStoresPopUpTagAndOffThenStartRestoresStoredSettings)
{
    manager->startManager();
    EXPECT_TRUE(defaults->hasKey("NDIOnSwitchBehaviour"));
    EXPECT_EQ(defaults->integerForKey("NDIOnSwitchBehaviour"), 10);
    EXPECT_TRUE(defaults->hasKey("NDIIntegrationEnabledButton"));
    EXPECT_FALSE(defaults->boolForKey("NDIIntegrationEnabledButton"));
    EXPECT_FALSE(manager->isObservingTally());
    postTally(true);
    EXPECT_TRUE(cueList->calls.isEmpty());

    // The actions store at once, and a new start (reading the file again) restores them.
    popup.selectItemWithTag(30);
    manager->ndiOnSwitchBehaviourChanged();
    switchOn();
    popup.selectItemWithTag(0);
    button.setState(0);
    UserDefaults reread(defaults->filePath());
    KavioNDIManager next(&reread);
    next.setNdiOnSwitchBehaviour(&popup);
    next.setNdiIntegrationEnabledButton(&button);
    next.startManager();
    EXPECT_EQ(popup.selectedTag(), 30);
    EXPECT_EQ(button.state(), 1);
    EXPECT_TRUE(next.isObservingTally());
}

TEST_F(KavioNDIManagerTest, RecordCarriesOnlyStoredDefaultsAndLoadingWritesDefaultsOnly)
{
    EXPECT_TRUE(manager->saveData().isEmpty());
    manager->startManager();
    popup.selectItemWithTag(30);
    manager->ndiOnSwitchBehaviourChanged();
    const QVariantMap saved = manager->saveData();
    EXPECT_EQ(saved.size(), 2);
    EXPECT_EQ(saved.value("NDIOnSwitchBehaviour").toLongLong(), 30);
    EXPECT_EQ(saved.value("NDIIntegrationEnabledButton").typeId(), QMetaType::Bool);

    // Loading changes the defaults only; the controls and the observation wait for a start.
    manager->loadWithData({{"NDIOnSwitchBehaviour", qlonglong(5)}, {"NDIIntegrationEnabledButton", true}});
    EXPECT_EQ(defaults->integerForKey("NDIOnSwitchBehaviour"), 5);
    EXPECT_TRUE(defaults->boolForKey("NDIIntegrationEnabledButton"));
    EXPECT_EQ(popup.selectedTag(), 30);
    EXPECT_EQ(button.state(), 0);
    EXPECT_FALSE(manager->isObservingTally());
    manager->startManager();
    EXPECT_EQ(popup.selectedTag(), 5);
    EXPECT_EQ(button.state(), 1);
    EXPECT_TRUE(manager->isObservingTally());

    // Values of the wrong type and absent keys leave their defaults alone.
    manager->loadWithData({{"NDIOnSwitchBehaviour", QString("10")}, {"NDIIntegrationEnabledButton", QString("NO")}});
    manager->loadWithData({});
    EXPECT_EQ(defaults->integerForKey("NDIOnSwitchBehaviour"), 5);
    EXPECT_TRUE(defaults->boolForKey("NDIIntegrationEnabledButton"));
}

}  // namespace
