// The playlist defaults and settings on a controller whose controls are plain widgets: the first
// run's defaults, stored values at the next start, the settings actions with their undo, the
// notifications reaching real cues, the bulk toggle change and the transport controls.

#include "SteppedShow.h"

#include "Rendering/QVTMetalManager.h"
#include "Shell/KavioPlaylistSettingsItems.h"
#include "Support/KavioColor.h"
#include "Support/KavioPlainColorWell.h"
#include "Support/KavioPlainPopUpButton.h"
#include "Support/KavioPlainTextField.h"

#include <gtest/gtest.h>

#include <QImage>

#include <cmath>
#include <limits>
#include <thread>

namespace {

// The playlist pane's controls, filled with the program's items.
struct PlaylistControls {
    KavioPlainPopUpButton frameRate, fade, transitionDuration, transition, cueView, jump, panic, deinterlace;
    KavioPlainTextField startTime, nonMovieDuration, browserURL;
    KavioPlainButton audio, fadeIn, fadeOut, transitionToggle, pauseAtBeginning, pauseAtEnd, loop, playlistLoop,
        playlistTransition;
    KavioPlainColorWell matte;

    void connect(KavioVideoItemManagerOutlets& o)
    {
        o.frameratePopup = &frameRate;
        o.defaultFadeDurationPopup = &fade;
        o.defaultTransitionDurationPopup = &transitionDuration;
        o.defaultTransitionPopup = &transition;
        o.defaultCueViewStatePopup = &cueView;
        o.jumpBehaviourPopup = &jump;
        o.panicBehaviourPopup = &panic;
        o.renderingDeinterlacePopup = &deinterlace;
        o.startTimeField = &startTime;
        o.defaultNonMovieCueDurationField = &nonMovieDuration;
        o.defaultBrowserSourceURLField = &browserURL;
        o.defaultToggleAudio = &audio;
        o.defaultToggleFadeIn = &fadeIn;
        o.defaultToggleFadeOut = &fadeOut;
        o.defaultToggleTransition = &transitionToggle;
        o.defaultTogglePauseAtBeginning = &pauseAtBeginning;
        o.defaultTogglePauseAtEnd = &pauseAtEnd;
        o.defaultToggleLoop = &loop;
        o.defaultTogglePlaylistLoop = &playlistLoop;
        o.defaultTogglePlaylistTransition = &playlistTransition;
        o.matteColorWell = &matte;
        addPlaylistSettingsItems(o);
        for (KavioPlainButton* toggle : {&audio, &fadeIn, &fadeOut, &transitionToggle, &pauseAtBeginning, &pauseAtEnd,
                                         &loop, &playlistLoop, &playlistTransition})
            toggle->setButtonType(KavioButtonType::OnOff);
        // The interface's initial checkbox states are the table's defaults.
        for (KavioPlainButton* on : {&audio, &pauseAtEnd, &playlistTransition})
            on->setState(1);
    }
};

struct PlaylistFixture : ControllerFixture {
    PlaylistControls controls;
    QVTMetalManager gpu{nullptr};

    std::shared_ptr<KavioVideoItemManager> start()
    {
        controller = KavioVideoItemManager::init(*defaults);
        KavioVideoItemManagerOutlets o = outlets();
        controls.connect(o);
        controller->setOutlets(o);
        controller->setDelegate(app);
        controller->setMetalManager(gpu);
        app->controller = controller;
        return controller;
    }
    QVariant stored(const char* key) const { return defaults->objectForKey(QString::fromLatin1(key)); }
};

TEST(PlaylistDefaults, FirstRunWritesEveryDefaultAndRecordsNoUndo)
{
    PlaylistFixture f;
    f.start()->loadPlaylistDefaults();

    const QByteArray matte = f.defaults->dataForKey(QStringLiteral("matteColor"));
    ASSERT_EQ(matte.size(), 32);
    EXPECT_EQ(KavioColor::fromRecord(matte), (KavioColor{0.0, 1.0, 0.0, 1.0}));
    const QVTMatteColor gpuMatte = f.gpu.matteColor();
    EXPECT_EQ((KavioColor{gpuMatte.red, gpuMatte.green, gpuMatte.blue, gpuMatte.alpha}), (KavioColor{0.0, 1.0, 0.0, 1.0}));
    for (const auto& [key, on] : {std::pair{"defaultToggleAudio", true}, {"defaultToggleFadeIn", false},
                                  {"defaultToggleFadeOut", false}, {"defaultToggleTransition", false},
                                  {"defaultTogglePauseAtBeginning", false}, {"defaultTogglePauseAtEnd", true},
                                  {"defaultToggleLoop", false}, {"defaultTogglePlaylistLoop", false},
                                  {"defaultTogglePlaylistTransition", true}}) {
        ASSERT_TRUE(f.defaults->hasKey(QString::fromLatin1(key))) << key;
        EXPECT_EQ(f.defaults->boolForKey(QString::fromLatin1(key)), on) << key;
    }
    EXPECT_EQ(f.stored("defaultFrameRate").toString(), f.controls.frameRate.titleOfSelectedItem());
    EXPECT_EQ(f.stored("defaultPlaylistStartTime").toString(), QStringLiteral("00:00:00:00"));
    EXPECT_EQ(f.stored("defaultFadeDuration").toString(), f.controls.fade.titleOfSelectedItem());
    EXPECT_EQ(f.stored("defaultTransitionDuration").toString(), f.controls.transitionDuration.titleOfSelectedItem());
    EXPECT_FLOAT_EQ(f.defaults->floatForKey(QStringLiteral("defaultNonMovieCueDuration")), 2.0f);
    EXPECT_EQ(f.defaults->integerForKey(QStringLiteral("defaultCueViewState")), 10);
    EXPECT_TRUE(f.defaults->hasKey(QStringLiteral("defaultBrowserSourceURL")));
    EXPECT_EQ(f.defaults->integerForKey(QStringLiteral("defaultJumpBehaviour")), 1);
    EXPECT_EQ(f.defaults->integerForKey(QStringLiteral("defaultPanicBehaviour")), 10);
    EXPECT_EQ(f.defaults->integerForKey(QStringLiteral("defaultTransitionType")), 10);
    // The applied settings: the popup's 30 fps and its transition length.
    EXPECT_EQ(f.controller->masterClock()->smpteFormat(), QVTClockSMPTEFormat30);
    EXPECT_DOUBLE_EQ(f.controller->defaultTransitionDuration(), 2.0);
    // The playlist transition default reaches the main window's switch.
    EXPECT_EQ(f.app->globalTransition.state(), 1);
    EXPECT_FALSE(f.app->undo.canUndo());
    EXPECT_FALSE(f.app->preferencesUndo.canUndo());
}

TEST(PlaylistDefaults, StoredValuesApplyAtTheNextStart)
{
    PlaylistFixture f;
    UserDefaults& d = *f.defaults;
    d.setData(KavioColor{0.25, 0.5, 0.75, 0.5}.toRecord(), QStringLiteral("matteColor"));
    d.setBool(true, QStringLiteral("defaultToggleLoop"));
    d.setBool(false, QStringLiteral("defaultTogglePauseAtEnd"));
    d.setBool(true, QStringLiteral("defaultTogglePlaylistLoop"));
    d.setString(QStringLiteral("25 fps"), QStringLiteral("defaultFrameRate"));
    d.setString(QStringLiteral("01:00:00:00"), QStringLiteral("defaultPlaylistStartTime"));
    d.setString(QStringLiteral("3"), QStringLiteral("defaultFadeDuration"));
    d.setString(QStringLiteral("5"), QStringLiteral("defaultTransitionDuration"));
    d.setFloat(4.0f, QStringLiteral("defaultNonMovieCueDuration"));
    d.setInteger(0, QStringLiteral("defaultCueViewState"));
    d.setString(QStringLiteral("https://example.org/show"), QStringLiteral("defaultBrowserSourceURL"));
    d.setInteger(0, QStringLiteral("defaultJumpBehaviour"));
    d.setInteger(30, QStringLiteral("defaultPanicBehaviour"));
    d.setInteger(KavioTransitionTypeWipeUp, QStringLiteral("defaultTransitionType"));
    f.start()->loadPlaylistDefaults();

    const KavioVideoItemManager& c = *f.controller;
    const QVTMatteColor matte = f.gpu.matteColor();
    EXPECT_EQ((KavioColor{matte.red, matte.green, matte.blue, matte.alpha}), (KavioColor{0.25, 0.5, 0.75, 0.5}));
    EXPECT_DOUBLE_EQ(f.controls.matte.color().alphaF(), 1.0);  // the well shows it opaque
    // Loop on excludes transition and both pauses.
    EXPECT_EQ(f.controls.loop.state(), 1);
    EXPECT_FALSE(f.controls.transitionToggle.isEnabled());
    EXPECT_FALSE(f.controls.pauseAtBeginning.isEnabled());
    EXPECT_EQ(f.app->loop.state(), 1);
    EXPECT_EQ(c.masterClock()->smpteFormat(), QVTClockSMPTEFormat25);
    EXPECT_DOUBLE_EQ(c.masterClock()->clockOffset(), 3600.0);
    EXPECT_EQ(f.controls.fade.titleOfSelectedItem(), QStringLiteral("3"));
    EXPECT_DOUBLE_EQ(c.defaultTransitionDuration(), 5.0);
    EXPECT_DOUBLE_EQ(c.defaultNonMovieCueDuration(), 4.0);
    EXPECT_EQ(f.controls.nonMovieDuration.stringValue(), QStringLiteral("00:00:04:00"));
    EXPECT_EQ(c.defaultCueViewState(), 0);
    EXPECT_EQ(f.controls.cueView.selectedTag(), 0);
    EXPECT_EQ(c.defaultBrowserSourceURL(), QStringLiteral("https://example.org/show"));
    EXPECT_EQ(c.jumpBehaviour(), 0);
    EXPECT_EQ(f.controls.jump.selectedTag(), 0);
    EXPECT_EQ(c.panicBehaviour(), 30);
    EXPECT_EQ(f.controls.panic.selectedTag(), 30);
    EXPECT_EQ(f.controls.transition.selectedTag(), KavioTransitionTypeWipeUp);
    EXPECT_FALSE(f.app->undo.canUndo());
    EXPECT_FALSE(f.app->preferencesUndo.canUndo());
}

TEST(PlaylistDefaults, MalformedStoredValuesGiveWayAndLoseNothingElse)
{
    PlaylistFixture f;
    UserDefaults& d = *f.defaults;
    d.setString(QStringLiteral("99 fps"), QStringLiteral("defaultFrameRate"));
    d.setString(QStringLiteral("soon"), QStringLiteral("defaultTransitionDuration"));
    d.setData(QByteArray(5, '\x01'), QStringLiteral("matteColor"));
    d.setInteger(77, QStringLiteral("defaultPanicBehaviour"));
    d.setDouble(-3.0, QStringLiteral("defaultNonMovieCueDuration"));
    f.start()->loadPlaylistDefaults();

    // Titles no item carries: replaced by the selection.
    EXPECT_EQ(f.stored("defaultFrameRate").toString(), f.controls.frameRate.titleOfSelectedItem());
    EXPECT_EQ(f.stored("defaultTransitionDuration").toString(), f.controls.transitionDuration.titleOfSelectedItem());
    // A colour of the wrong length reads as absent.
    EXPECT_EQ(KavioColor::fromRecord(d.dataForKey(QStringLiteral("matteColor"))), (KavioColor{0.0, 1.0, 0.0, 1.0}));
    // A tag no item carries: the popup stays, the property takes it.
    EXPECT_EQ(f.controller->panicBehaviour(), 77);
    EXPECT_EQ(f.controls.panic.selectedTag(), 10);
    // A negative duration becomes one frame.
    EXPECT_DOUBLE_EQ(f.controller->defaultNonMovieCueDuration(), 1.0 / 30.0);
    EXPECT_EQ(f.controls.nonMovieDuration.stringValue(), QStringLiteral("00:00:00:01"));
}

TEST(PlaylistDefaults, DurationAndAddressUndoAndRedoOnThePreferencesWindow)
{
    PlaylistFixture f;
    f.start()->loadPlaylistDefaults();
    KavioVideoItemManager& c = *f.controller;
    UndoManager& undo = f.app->preferencesUndo;

    f.controls.nonMovieDuration.setStringValue(QStringLiteral("00:00:05:00"));
    c.changeDefaultNonMovieCueDuration();
    EXPECT_DOUBLE_EQ(c.defaultNonMovieCueDuration(), 5.0);
    EXPECT_EQ(undo.undoActionName(), QStringLiteral("Change Default non-Movie Cue Duration"));
    EXPECT_EQ(f.app->endedEditing, 1);
    ASSERT_TRUE(undo.undo());
    EXPECT_DOUBLE_EQ(c.defaultNonMovieCueDuration(), 2.0);
    EXPECT_FLOAT_EQ(f.defaults->floatForKey(QStringLiteral("defaultNonMovieCueDuration")), 2.0f);
    EXPECT_EQ(undo.redoActionName(), QStringLiteral("Change Default non-Movie Cue Duration"));
    ASSERT_TRUE(undo.redo());
    EXPECT_DOUBLE_EQ(c.defaultNonMovieCueDuration(), 5.0);
    EXPECT_EQ(f.controls.nonMovieDuration.stringValue(), QStringLiteral("00:00:05:00"));

    // Nothing, NaN and less than a frame all become one frame, shown as one frame.
    for (const double seconds : {0.0, std::numeric_limits<double>::quiet_NaN(), 0.01}) {
        c.undoChangeDefaultNonMovieCueDuration(seconds);
        EXPECT_DOUBLE_EQ(c.defaultNonMovieCueDuration(), 1.0 / 30.0) << seconds;
        EXPECT_EQ(f.controls.nonMovieDuration.stringValue(), QStringLiteral("00:00:00:01"));
    }
    f.controls.nonMovieDuration.setStringValue(QStringLiteral("00:00:00:00"));
    c.changeDefaultNonMovieCueDuration();
    EXPECT_EQ(f.controls.nonMovieDuration.stringValue(), QStringLiteral("00:00:00:01"));

    f.controls.browserURL.setStringValue(QStringLiteral("https://example.org/a"));
    c.changeDefaultBrowserSourceURL();
    f.controls.browserURL.setStringValue(QStringLiteral("https://example.org/b"));
    c.changeDefaultBrowserSourceURL();
    EXPECT_EQ(undo.undoActionName(), QStringLiteral("Change Default Browser Source URL"));
    ASSERT_TRUE(undo.undo());
    EXPECT_EQ(c.defaultBrowserSourceURL(), QStringLiteral("https://example.org/a"));
    EXPECT_EQ(f.defaults->stringForKey(QStringLiteral("defaultBrowserSourceURL")), QStringLiteral("https://example.org/a"));
    EXPECT_EQ(f.controls.browserURL.stringValue(), QStringLiteral("https://example.org/a"));
    ASSERT_TRUE(undo.redo());
    EXPECT_EQ(c.defaultBrowserSourceURL(), QStringLiteral("https://example.org/b"));
}

TEST(PlaylistDefaults, ToggleActionsApplyTheCouplingAndStore)
{
    PlaylistFixture f;
    f.start()->loadPlaylistDefaults();
    KavioVideoItemManager& c = *f.controller;
    PlaylistControls& t = f.controls;
    // Pause at end is on by default: loop and transition are free again only once it is off.
    t.pauseAtEnd.setState(0);
    c.changeDefaultTogglePauseAtEnd();
    EXPECT_FALSE(f.defaults->boolForKey(QStringLiteral("defaultTogglePauseAtEnd")));
    EXPECT_TRUE(t.loop.isEnabled());
    t.transitionToggle.setState(1);
    c.changeDefaultToggleTransition();
    EXPECT_EQ(t.loop.state(), 0);
    EXPECT_FALSE(t.loop.isEnabled());
    EXPECT_FALSE(t.pauseAtEnd.isEnabled());
    EXPECT_TRUE(t.pauseAtBeginning.isEnabled());
    EXPECT_TRUE(f.defaults->boolForKey(QStringLiteral("defaultToggleTransition")));
    t.transitionToggle.setState(0);
    c.changeDefaultToggleTransition();
    EXPECT_TRUE(t.loop.isEnabled());
    EXPECT_TRUE(t.pauseAtEnd.isEnabled());
    // The seven plain toggles are written together.
    t.fadeIn.setState(1);
    t.playlistLoop.setState(1);
    c.storePlaylistToggleDefaults();
    EXPECT_TRUE(f.defaults->boolForKey(QStringLiteral("defaultToggleFadeIn")));
    EXPECT_TRUE(f.defaults->boolForKey(QStringLiteral("defaultTogglePlaylistLoop")));
}

TEST(PlaylistDefaults, DeinterlaceAndBehaviourPopupsStoreTheirTags)
{
    PlaylistFixture f;
    f.start()->loadPlaylistDefaults();
    KavioVideoItemManager& c = *f.controller;
    int posted = 0;
    NotificationCenter::defaultCenter().addObserver(&posted, kKavioDeinterlaceStateChangedNotification, f.controller.get(),
                                                    [&posted](const Notification&) { ++posted; });
    f.controls.deinterlace.selectItemWithTag(0);
    c.changeRenderingDeinterlaceMode();
    EXPECT_EQ(c.deinterlaceMode(), 0);
    EXPECT_EQ(f.defaults->integerForKey(QStringLiteral("deinterlaceMode")), 0);
    EXPECT_EQ(posted, 1);
    NotificationCenter::defaultCenter().removeObserver(&posted);
    f.controls.panic.selectItemWithTag(20);
    c.changePanicBehaviour();
    f.controls.jump.selectItemWithTag(0);
    c.changeJumpBehaviour();
    f.controls.cueView.selectItemWithTag(0);
    c.changeDefaultCueViewStates();
    EXPECT_EQ(c.panicBehaviour(), 20);
    EXPECT_EQ(c.jumpBehaviour(), 0);
    EXPECT_EQ(c.defaultCueViewState(), 0);
    EXPECT_EQ(f.defaults->integerForKey(QStringLiteral("defaultPanicBehaviour")), 20);
    EXPECT_EQ(f.defaults->integerForKey(QStringLiteral("defaultJumpBehaviour")), 0);
    EXPECT_EQ(f.defaults->integerForKey(QStringLiteral("defaultCueViewState")), 0);
}

TEST(PlaylistDefaults, ViewTogglesFlipTheirDefaultsAndTheMenuTitles)
{
    PlaylistFixture f;
    f.start();
    KavioVideoItemManager& c = *f.controller;
    const auto title = [&c](KavioMenuAction a) { return c.validateUserInterfaceItem(a).title; };
    EXPECT_EQ(title(KavioMenuAction::ToggleCueTimeOverlay), QStringLiteral("Hide Cue Times Overlay on Preview"));
    const int clears = f.mtkView->clears;
    c.toggleCueTimeOverlay();
    EXPECT_FALSE(f.defaults->boolForKey(QStringLiteral("displayCueTimeOverlay")));
    EXPECT_EQ(f.mtkView->clears, clears + 1);
    EXPECT_EQ(title(KavioMenuAction::ToggleCueTimeOverlay), QStringLiteral("Show Cue Times Overlay on Preview"));
    c.toggleTimeDisplay();
    EXPECT_TRUE(c.displayTimeLeft());
    EXPECT_EQ(title(KavioMenuAction::ToggleTimeDisplay), QStringLiteral("Display Current Playlist Time"));
    c.toggleTRTDisplay();
    EXPECT_FALSE(f.defaults->boolForKey(QStringLiteral("displayTRT")));
    c.toggleCueAutoScroll();
    EXPECT_EQ(title(KavioMenuAction::ToggleCueAutoScroll), QStringLiteral("Enable Auto-Scroll to Current Cue"));
}

// --- Start time and frame rate ----------------------------------------------------------------------

struct SettingsShow : SteppedShowFixture<> {
    PlaylistControls controls;
    SettingsShow() : SteppedShowFixture({50, 75})
    {
        KavioVideoItemManagerOutlets o = controller->outlets();
        controls.connect(o);
        controller->setOutlets(o);
        controls.frameRate.selectItemWithTag(QVTClockSMPTEFormat25);
        controls.startTime.setStringValue(QStringLiteral("00:00:00:00"));
        openJumps();
        settle();
    }
    QStringList times()
    {
        QStringList out;
        for (const auto& cue : cues)
            out << cue->itemStartSMPTETime() + QLatin1Char('-') + cue->itemEndSMPTETime();
        return out;
    }
};

TEST(PlaylistSettings, StartTimeMovesEveryCueAndUndoesOnlyRealChanges)
{
    SettingsShow s;
    UndoManager& undo = s.app->preferencesUndo;
    s.controller->changeStartTime();
    EXPECT_FALSE(undo.canUndo());  // the same offset registers nothing

    s.controls.startTime.setStringValue(QStringLiteral("00:00:10:00"));
    s.controller->changeStartTime();
    s.settle();
    EXPECT_DOUBLE_EQ(s.clock->clockOffset(), 10.0);
    EXPECT_EQ(s.times(), (QStringList{"00:00:10:00-00:00:11:24", "00:00:12:00-00:00:14:24"}));
    EXPECT_EQ(s.defaults->stringForKey(QStringLiteral("defaultPlaylistStartTime")), QStringLiteral("00:00:10:00"));
    EXPECT_EQ(undo.undoActionName(), QStringLiteral("Change Playlist Start Time"));
    EXPECT_EQ(s.controller->currentItem(), s.cues[0]);  // rewound to the first cue

    ASSERT_TRUE(undo.undo());
    s.settle();
    EXPECT_DOUBLE_EQ(s.clock->clockOffset(), 0.0);
    EXPECT_EQ(s.times(), (QStringList{"00:00:00:00-00:00:01:24", "00:00:02:00-00:00:04:24"}));
    EXPECT_EQ(s.controls.startTime.stringValue(), QStringLiteral("00:00:00:00"));
    EXPECT_TRUE(undo.canRedo());

    // Text that is no timecode is refused; the field shows the offset again.
    s.controls.startTime.setStringValue(QStringLiteral("ten seconds"));
    s.controller->changeStartTime();
    EXPECT_DOUBLE_EQ(s.clock->clockOffset(), 0.0);
    EXPECT_EQ(s.controls.startTime.stringValue(), QStringLiteral("00:00:00:00"));
}

// The application controller's play decision on the real clock: a stop completes once the clock
// has stopped, a start starts the clock.
struct PlayingDelegate : FakeAppDelegate {
    using FakeAppDelegate::FakeAppDelegate;
    void performTogglePlayWithCompletedHandler(std::function<void()> handler) override
    {
        log.add(play.state() ? QStringLiteral("app.play") : QStringLiteral("app.stop"));
        const auto manager = controller.lock();
        if (play.state() == 0 && manager) {
            manager->stopClockWithCompletedHandler([handler] {
                if (handler)
                    DispatchQueue::main().async(handler);
            });
            return;
        }
        if (manager)
            manager->startClock();
        if (handler)
            handler();
    }
};

TEST(PlaylistSettings, FrameRateChangeWhilePlayingStopsConvertsRebuildsAndRestarts)
{
    SettingsShow s;
    auto playing = std::make_shared<PlayingDelegate>(s.log);
    playing->controller = s.controller;
    s.app = playing;
    s.controller->setDelegate(playing);
    s.go();
    playing->play.setState(1);
    ASSERT_FALSE(s.nextTick().isEmpty());
    ASSERT_TRUE(s.clock->isRunning());
    s.calls();

    const auto changeAndRun = [&s, &playing](const std::function<void()>& change, std::int32_t format) {
        change();
        EXPECT_EQ(playing->play.state(), 0);
        // The stop completes at the clock's next cycle; the conversion and the restart follow.
        for (int i = 0; i < 50 && s.clock->smpteFormat() != format; ++i)
            s.nextTick();
        return DispatchQueue::runMainUntil([&] { return s.clock->isRunning() && playing->play.state() == 1; }, 30.0);
    };
    s.controls.frameRate.selectItemWithTag(QVTClockSMPTEFormat24);
    ASSERT_TRUE(changeAndRun([&s] { s.controller->changeFramerate(); }, QVTClockSMPTEFormat24));
    EXPECT_EQ(s.clock->smpteFormat(), QVTClockSMPTEFormat24);
    // The cues are recounted at 24 frames a second: 50 and 75 frames of 25 were 2 s and 3 s.
    // These cues last whole frames: 50 and 75 frames now end at 24 frames a second's timecodes.
    EXPECT_EQ(s.times(), (QStringList{"00:00:00:00-00:00:02:01", "00:00:02:02-00:00:05:04"}));
    EXPECT_EQ(s.controller->currentItem(), s.cues[0]);
    const QStringList calls = s.calls();
    EXPECT_LT(calls.indexOf(QStringLiteral("app.stop")), calls.indexOf(QStringLiteral("app.play"))) << calls.join(' ').toStdString();
    EXPECT_EQ(s.defaults->stringForKey(QStringLiteral("defaultFrameRate")), s.controls.frameRate.titleOfSelectedItem());
    UndoManager& undo = s.app->preferencesUndo;
    EXPECT_EQ(undo.undoActionName(), QStringLiteral("Change Playlist Frame rate"));

    ASSERT_TRUE(changeAndRun([&undo] { undo.undo(); }, QVTClockSMPTEFormat25));
    EXPECT_EQ(s.clock->smpteFormat(), QVTClockSMPTEFormat25);
    EXPECT_EQ(s.times(), (QStringList{"00:00:00:00-00:00:01:24", "00:00:02:00-00:00:04:24"}));
    EXPECT_EQ(s.controls.frameRate.selectedTag(), QVTClockSMPTEFormat25);
    EXPECT_TRUE(undo.canRedo());
    s.controller->stopClockWithCompletedHandler({});
    s.nextTick();
}

TEST(PlaylistSettings, FrameRateTagsAboveThreeApplyAsThree)
{
    SettingsShow s;
    s.controls.frameRate.addItem(QStringLiteral("60 fps"), 7);
    s.controls.frameRate.selectItemWithTag(7);
    s.controller->changeFramerate();
    s.settle();
    EXPECT_EQ(s.clock->smpteFormat(), QVTClockSMPTEFormat30);
}

// --- What reaches the cues ----------------------------------------------------------------------------

TEST(PlaylistSettings, DefaultDurationNotificationsReachRealCues)
{
    PlaylistFixture f;
    f.start();
    QTemporaryDir media;
    QImage image(32, 18, QImage::Format_RGB32);
    image.fill(Qt::blue);
    const QString path = media.filePath(QStringLiteral("still.png"));
    ASSERT_TRUE(image.save(path));
    f.controller->storeDefaultNonMovieCueDuration(60.0);
    const auto following = f.controller->createItemWithPath(path);
    const auto own = f.controller->createItemWithPath(path);
    ASSERT_TRUE(following && own);
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return following->isReady() && own->isReady(); }, 30.0));
    following->setIsUsingDefaultTransitionDuration(true);
    own->setIsUsingDefaultTransitionDuration(false);
    own->setTransitionTime(1.5);

    float fade = -1.0f;
    NotificationCenter::defaultCenter().addObserver(&fade, kKavioDefaultFadeDurationChangedNotification, f.controller.get(),
                                                    [&fade](const Notification& n) {
                                                        fade = n.userInfo.value(kKavioDefaultFadeDurationKey).toFloat();
                                                    });
    f.controls.transitionDuration.selectItemWithTitle(QStringLiteral("5"));
    f.controller->changeDefaultTransitionDuration();
    f.controls.fade.selectItemWithTitle(QStringLiteral("0.5"));
    f.controller->changeDefaultFadeDuration();
    NotificationCenter::defaultCenter().removeObserver(&fade);

    EXPECT_DOUBLE_EQ(following->transitionTime(), 5.0);
    EXPECT_DOUBLE_EQ(own->transitionTime(), 1.5);
    EXPECT_FLOAT_EQ(fade, 0.5f);
    EXPECT_EQ(f.defaults->stringForKey(QStringLiteral("defaultTransitionDuration")), QStringLiteral("5"));
    EXPECT_EQ(f.defaults->stringForKey(QStringLiteral("defaultFadeDuration")), QStringLiteral("0.5"));
    // A title that is no number is no length at all.
    f.controls.transitionDuration.addItem(QStringLiteral("long"), 999);
    f.controls.transitionDuration.selectItemWithTitle(QStringLiteral("long"));
    f.controller->changeDefaultTransitionDuration();
    EXPECT_DOUBLE_EQ(f.controller->defaultTransitionDuration(), 0.0);
}

// A cue that counts its revalidations (and leaves its toggles as they were set: the cue's own
// rules would take the goto off a cue without a target).
class ToggleCue : public FixedLengthCue {
public:
    using FixedLengthCue::FixedLengthCue;
    void validateToggles() override { ++validations; }
    int validations = 0;
};

TEST(PlaylistSettings, AToggleChangesOnEverySelectedCue)
{
    ControllerFixture f;
    f.connected();
    const auto cues = f.addCues<ToggleCue>({30, 30, 30, 30});
    for (const auto& cue : cues)
        cue->gotoButton().enabled = true;
    for (int i = 0; i < 3; ++i)
        cues[size_t(i)]->setIsSelected(true);
    f.controller->cueToggleChangedOnSelectedItems(KavioToggleGoto, true);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(cues[size_t(i)]->gotoButton().state, 1) << i;
        EXPECT_EQ(cues[size_t(i)]->validations, 1) << i;
    }
    EXPECT_EQ(cues[3]->gotoButton().state, 0);
    EXPECT_EQ(cues[3]->validations, 0);
    f.controller->cueToggleChangedOnSelectedItems(99, false);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(cues[size_t(i)]->gotoButton().state, 1) << i;
        EXPECT_EQ(cues[size_t(i)]->validations, 2) << i;
    }
}

// --- Transport controls ----------------------------------------------------------------------------------

TEST(PlaylistSettings, ValidateTransportSetsTheControlsAndWaitsWhenCalledFromAnotherThread)
{
    ControllerFixture f;
    f.connected();
    KavioPlainButton master;
    KavioVideoItemManagerOutlets o = f.controller->outlets();
    o.masterButton = &master;
    f.controller->setOutlets(o);
    FakeAppDelegate& app = *f.app;
    app.play.setState(1);
    app.loop.setState(1);

    // While a project loads nothing changes.
    f.controller->setIsLoadingProject(true);
    f.controller->validateTransport();
    EXPECT_EQ(app.play.state(), 1);
    f.controller->setIsLoadingProject(false);

    f.controller->validateTransport();
    EXPECT_EQ(app.play.state(), 0);
    EXPECT_EQ(app.loop.state(), 0);
    EXPECT_TRUE(f.log.take().contains(QStringLiteral("app.togglePlay")));
    for (const KavioPlainButton* b : {&app.play, &app.loop, &app.rewind, &app.fastforward, &app.prevItem,
                                      &app.nextItem, &app.globalTransition, &master})
        EXPECT_FALSE(b->isEnabled());
    EXPECT_FALSE(app.timecodeFieldEnabled);
    EXPECT_FALSE(f.marker->enabled);

    // One cue of 15 s, current, validated from another thread: the call returns once the
    // controls have changed.
    const auto cues = f.addCues({450});  // 15 s at 30 frames a second
    f.controller->setCurrentItem(cues[0]);
    std::atomic<bool> returned{false};
    std::atomic<bool> enabledWhenReturned{false};
    std::thread clockThread([&] {
        f.controller->validateTransport();
        enabledWhenReturned = app.play.isEnabled();
        returned = true;
    });
    const bool done = DispatchQueue::runMainUntil([&] { return returned.load(); }, 30.0);
    clockThread.join();
    ASSERT_TRUE(done);
    EXPECT_TRUE(enabledWhenReturned);
    EXPECT_TRUE(app.prevItem.isEnabled());
    EXPECT_FALSE(app.nextItem.isEnabled());
    EXPECT_FALSE(app.globalTransition.isEnabled());
    EXPECT_TRUE(app.timecodeFieldEnabled);
    EXPECT_TRUE(f.goto10.isEnabled());
    EXPECT_FALSE(f.goto20.isEnabled());
    EXPECT_FALSE(f.goto30.isEnabled());
    f.controller->setCurrentItem(nullptr);
}

}  // namespace
