#include "ControllerFakes.h"

#include "Rendering/KavioOverlayFontManager.h"
#include "Support/KavioPlainColorWell.h"
#include "Support/KavioPlainPopUpButton.h"
#include "Support/KavioPlainSlider.h"
#include "NotificationCenter.h"
#include "QVTOSCMessage.h"

#include <QAction>
#include <QFileInfo>
#include <QtEndian>

#include <gtest/gtest.h>

namespace {

QByteArray colorBytes(double r, double g, double b, double a)
{
    QByteArray bytes(32, Qt::Uninitialized);
    const double rgba[] = {r, g, b, a};
    for (int i = 0; i < 4; ++i)
        qToLittleEndian(rgba[i], bytes.data() + i * 8);
    return bytes;
}

struct Controls {
    KavioPlainPopUpButton playbackMode, deinterlace, fontSize, font;
    KavioPlainButton autoStart, autoFullscreen, masterButton, loopToggle;
    KavioPlainColorWell fontColor, backgroundColor;
    KavioPlainSlider masterSlider;

    Controls()
    {
        for (long tag : {0, 1, 2})
            playbackMode.addItem(QString::number(tag), tag);
        for (long tag : {0, 10, 20})
            deinterlace.addItem(QString::number(tag), tag);
        for (long tag : {24, 36, 48})
            fontSize.addItem(QString::number(tag), tag);
        fontSize.selectItemWithTag(36);
        autoStart.setButtonType(KavioButtonType::OnOff);
        autoFullscreen.setButtonType(KavioButtonType::OnOff);
        for (const char* name : {"Arial", "Helvetica Neue", "Courier"})
            font.addItem(QString::fromLatin1(name), 0);
    }
    void connect(KavioVideoItemManagerOutlets& o)
    {
        o.playbackModeOnOpen = &playbackMode;
        o.renderingDeinterlacePopup = &deinterlace;
        o.subtitleOverlaySize = &fontSize;
        o.subtitleOverlayFont = &font;
        o.autoStartButton = &autoStart;
        o.autoFullscreenButton = &autoFullscreen;
        o.masterButton = &masterButton;
        o.defaultToggleLoop = &loopToggle;
        o.subtitleOverlayFontColor = &fontColor;
        o.subtitleOverlayBackgroundColor = &backgroundColor;
        o.masterSlider = &masterSlider;
    }
};

struct SetupFixture : ControllerFixture {
    Controls controls;
    void start()
    {
        connected();
        auto o = outlets();
        controls.connect(o);
        controller->setOutlets(o);
        controller->initManager();
    }
};

TEST(KavioVideoItemManagerSetup, EmptyDefaultsAreWrittenWithTheirKinds)
{
    SetupFixture f;
    f.start();
    struct Case {
        const char* key;
        QVariant value;
    };
    const Case cases[] = {
        {"displayTimeLeft", false},        {"displayTRT", true},        {"displayCueTimeOverlay", true},
        {"displaySubtitles", true},        {"displayRenderingFPS", true}, {"autoScrollToCurrentCue", true},
        {"playbackmode", 0},               {"autoStart", false},        {"autoFullscreen", false},
        {"subtitlesFont", QStringLiteral("Helvetica Neue")},          {"subtitlesFontSize", qlonglong(36)},
        {"subtitlesFontColor", colorBytes(1, 1, 1, 1)},               {"subtitlesBackgroundColor", colorBytes(0, 0, 0, 0.65)},
    };
    for (const auto& c : cases) {
        const QString key = QString::fromLatin1(c.key);
        SCOPED_TRACE(c.key);
        ASSERT_TRUE(f.defaults->hasKey(key));
        const QVariant stored = f.defaults->objectForKey(key);
        EXPECT_EQ(stored.typeId(), c.value.typeId());
        EXPECT_EQ(stored, c.value);
    }
    EXPECT_EQ(f.controls.deinterlace.selectedTag(), 10);
    EXPECT_EQ(f.controller->deinterlaceMode(), 10);
    EXPECT_EQ(f.controls.font.titleOfSelectedItem(), QStringLiteral("Helvetica Neue"));
    EXPECT_EQ(f.controls.fontSize.selectedTag(), 36);
}

TEST(KavioVideoItemManagerSetup, StoredValuesAreKeptAndMalformedOnesReplaced)
{
    SetupFixture f;
    const QVariantMap stored{
        {"displayTimeLeft", true}, {"displayTRT", false}, {"autoScrollToCurrentCue", false},
        {"playbackmode", 2}, {"autoStart", true}, {"subtitlesFont", QStringLiteral("Courier")},
        {"subtitlesFontSize", 48}, {"deinterlaceMode", 20},
        {"subtitlesFontColor", colorBytes(1, 0, 0, 0.5)}, {"subtitlesBackgroundColor", colorBytes(0, 0, 1, 0.3)},
    };
    for (auto it = stored.begin(); it != stored.end(); ++it)
        f.defaults->setObject(it.value(), it.key());
    // Of the wrong kind: a word for a flag, a colour that is not 32 bytes long.
    f.defaults->setObject(QStringLiteral("banana"), QStringLiteral("displaySubtitles"));
    f.defaults->setObject(QByteArray(5, 'x'), QStringLiteral("autoFullscreen"));
    f.start();

    for (auto it = stored.begin(); it != stored.end(); ++it)
        EXPECT_EQ(f.defaults->objectForKey(it.key()), it.value()) << it.key().toStdString();
    EXPECT_EQ(f.defaults->objectForKey(QStringLiteral("displaySubtitles")), QVariant(true));
    EXPECT_EQ(f.defaults->objectForKey(QStringLiteral("autoFullscreen")), QVariant(false));

    EXPECT_EQ(f.controls.playbackMode.selectedTag(), 2);
    EXPECT_EQ(f.controls.autoStart.state(), 1);
    EXPECT_EQ(f.controls.deinterlace.selectedTag(), 20);
    EXPECT_EQ(f.controls.font.titleOfSelectedItem(), QStringLiteral("Courier"));
    EXPECT_EQ(f.controls.fontSize.selectedTag(), 48);
    // Caption text is shown opaque whatever its stored alpha; the background keeps its alpha.
    EXPECT_EQ(f.controls.fontColor.color(), QColor::fromRgbF(1, 0, 0, 1));
    EXPECT_EQ(f.controls.backgroundColor.color(), QColor::fromRgbF(0, 0, 1, 0.3f));
    EXPECT_EQ(KavioOverlayFontManager::sharedManager().subtitleFontColor(), (KavioColor{1, 0, 0, 1}));
    EXPECT_EQ(KavioOverlayFontManager::sharedManager().subtitleBackgroundColor(), (KavioColor{0, 0, 1, 0.3}));
}

TEST(KavioVideoItemManagerSetup, ColourOfTheWrongLengthReadsAsAbsent)
{
    SetupFixture f;
    f.defaults->setData(QByteArray(31, '\0'), QStringLiteral("subtitlesFontColor"));
    f.start();
    EXPECT_EQ(f.defaults->dataForKey(QStringLiteral("subtitlesFontColor")), colorBytes(1, 1, 1, 1));
    EXPECT_EQ(f.controls.fontColor.color(), QColor::fromRgbF(1, 1, 1, 1));
}

TEST(KavioVideoItemManagerSetup, FeedbackMessagesAndExtensionLists)
{
    ControllerFixture f;
    f.connected();
    const std::pair<const QVTOSCMessage*, QVTOSCMessage::Snapshot> cases[] = {
        {&f.controller->trtmsg(), {QStringLiteral("/kavio/currentCueTRT"), {{3, QStringLiteral("00:00:00:00")}}}},
        {&f.controller->selectedcuenamemsg(), {QStringLiteral("/kavio/selectedCueName"), {{3, QStringLiteral("-")}}}},
        {&f.controller->selectedcueidmsg(), {QStringLiteral("/kavio/selectedCueID"), {{3, QStringLiteral("-")}}}},
        {&f.controller->pongmsg(), {QStringLiteral("/kavio/pong"), {{2, 1}}}},
    };
    for (const auto& [message, expected] : cases) {
        const auto snapshot = message->snapshot();
        EXPECT_EQ(snapshot.address, expected.address);
        EXPECT_EQ(snapshot.values, expected.values) << expected.address.toStdString();
    }

    EXPECT_EQ(KavioVideoItemManager::supportedImageFormats(),
              QStringList({"jpg", "gif", "png", "jpeg", "tiff", "tif", "bmp", "pdf", "heif", "heic"}));
    EXPECT_EQ(KavioVideoItemManager::supportedVideoFormats(),
              QStringList({"mov", "mp4", "m4v", "mxf", "avi", "mpg", "dxv", "dv", "hevc"}));
    EXPECT_EQ(KavioVideoItemManager::supportedAudioFormats(), QStringList({"m4a", "mp3", "caf", "wav", "aif", "aiff", "flac"}));
    EXPECT_EQ(&KavioVideoItemManager::supportedImageFormats(), &KavioVideoItemManager::supportedImageFormats());
    EXPECT_EQ(&KavioVideoItemManager::supportedVideoFormats(), &KavioVideoItemManager::supportedVideoFormats());
    EXPECT_EQ(&KavioVideoItemManager::supportedAudioFormats(), &KavioVideoItemManager::supportedAudioFormats());
}

class RecordingController : public KavioVideoItemManager {
public:
    RecordingController(UserDefaults& defaults, std::shared_ptr<QVTClockTimeSource> source)
        : KavioVideoItemManager(defaults, std::move(source))
    {
    }
    QStringList handled;
    void processOnCurrentClockTime(const Notification&) override { handled << "processOnCurrentClockTime"; }
    void handleClockStart() override { handled << "handleClockStart"; }
    void handleClockStop() override { handled << "handleClockStop"; }
    void handleClockRewind() override { handled << "handleClockRewind"; }
    void handleExternalStartTimeSet(const Notification&) override { handled << "handleExternalStartTimeSet"; }
    void frameRateChangedByMTC() override { handled << "frameRateChangedByMTC"; }
    void handleClockSlaveStateChanged() override { handled << "handleClockSlaveStateChanged"; }
    void jumpToItemByClock(const Notification&) override { handled << "jumpToItemByClock"; }
    void handleNMCBackupCommand(const Notification& n) override { handled << "handleNMCBackupCommand:" + n.name; }
    void handleOSCFeedbackOnCueChanges(const Notification&) override { handled << "handleOSCFeedbackOnCueChanges"; }
    void performGoto20() override { handled << "performGoto20"; }
    void rewindCurrentItem() override { handled << "rewindCurrentItem"; }
};

TEST(KavioVideoItemManagerSetup, EachNotificationReachesItsHandlerUntilTheControllerIsGone)
{
    ControllerFixture f;
    auto controller = KavioVideoItemManager::init<RecordingController>(*f.defaults);
    auto clock = controller->masterClock();
    NotificationCenter& center = clock->notificationCenter();
    const std::pair<const char*, QString> cases[] = {
        {"CLOCK_TIME_CHANGED", "processOnCurrentClockTime"},
        {"QVTCLOCK_STARTED", "handleClockStart"},
        {"QVTCLOCK_STOPPED", "handleClockStop"},
        {"QVTCLOCK_REWINDED", "handleClockRewind"},
        {"QVTCLOCK_EXT_START_TIME_SET", "handleExternalStartTimeSet"},
        {"QVTCLOCK_MTC_FRAMERATE_CHANGED", "frameRateChangedByMTC"},
        {"QVTCLOCK_SLAVE_STATE_CHANGED", "handleClockSlaveStateChanged"},
        {"jumpToItem", "jumpToItemByClock"},
        {"KavioSeekNMCCommand", "handleNMCBackupCommand:KavioSeekNMCCommand"},
        {"KavioGotoNMCCommand", "handleNMCBackupCommand:KavioGotoNMCCommand"},
        {"KavioJumpNMCCommand", "handleNMCBackupCommand:KavioJumpNMCCommand"},
        {"KavioJumpAndPlayNMCCommand", "handleNMCBackupCommand:KavioJumpAndPlayNMCCommand"},
        {"KavioPlayNMCCommand", "handleNMCBackupCommand:KavioPlayNMCCommand"},
        {"KavioStopNMCCommand", "handleNMCBackupCommand:KavioStopNMCCommand"},
        {"KavioPanicNMCCommand", "handleNMCBackupCommand:KavioPanicNMCCommand"},
        {"KavioRewindNMCCommand", "handleNMCBackupCommand:KavioRewindNMCCommand"},
    };
    for (const auto& [name, handler] : cases) {
        controller->handled.clear();
        center.post(QString::fromLatin1(name), clock.get());
        EXPECT_EQ(controller->handled, QStringList{handler}) << name;
        // Only the controller's own clock is listened to.
        controller->handled.clear();
        center.post(QString::fromLatin1(name), &center);
        EXPECT_TRUE(controller->handled.isEmpty()) << name;
    }
    controller->handled.clear();
    NotificationCenter::defaultCenter().post(kKavioCueOSCAddressSpaceChangedNotification, &center);
    EXPECT_EQ(controller->handled, QStringList{"handleOSCFeedbackOnCueChanges"});

    controller.reset();
    NotificationCenter::defaultCenter().post(kKavioCueOSCAddressSpaceChangedNotification);  // must not call into it
}

TEST(KavioVideoItemManagerSetup, InitManagerStartsTheNeighboursInOrderAndWiresTheControls)
{
    SetupFixture f;
    auto controller = KavioVideoItemManager::init<RecordingController>(*f.defaults);
    auto o = f.outlets();
    f.controls.connect(o);
    QAction rewind;
    o.rewindCurrentItemMenuItem = &rewind;
    controller->setOutlets(o);
    const QString transcoded = KavioVideoItemManager::transcodedVideosDir();
    QDir(transcoded).removeRecursively();
    f.log.take();
    controller->initManager();

    EXPECT_EQ(f.log.take(), QStringList({"marker.setEnabled(0)", "outputs.initManager", "inspector.loadPreferenceItems",
                                         "marker.addMarkerAndThrottler", "marker.redraw", "atem.setDelegate",
                                         "atem.startManager", "ndi.setDelegate", "ndi.startManager"}));
    EXPECT_EQ(f.atem->delegate.lock(), controller);
    EXPECT_EQ(f.ndi->delegate.lock(), controller);
    EXPECT_EQ(transcoded, controllerTestHome().filePath(QStringLiteral("Videos/Kavio/Transcoded")));
    EXPECT_TRUE(QFileInfo(transcoded).isDir());
    EXPECT_EQ(controller->maxRenderSize(), 8192u);
    EXPECT_EQ(controller->renderSize(), QSizeF(1280, 720));
    EXPECT_EQ(controller->waveformQueue(), &f.waveform->queue);
    EXPECT_TRUE(controller->canJump());
    ASSERT_TRUE(controller->renderClock());
    EXPECT_EQ(controller->renderClock()->delegate(), f.mtkView);
    EXPECT_EQ(f.controls.masterSlider.oscAddress(), QStringLiteral("/kavio/mainFader"));
    EXPECT_EQ(f.controls.masterButton.buttonType(), KavioButtonType::MomentaryPushIn);
    EXPECT_EQ(f.controls.loopToggle.buttonType(), KavioButtonType::OnOff);
    const std::pair<KavioPlainButton*, const char*> gotos[] = {
        {&f.goto10, "/kavio/goto10"}, {&f.goto20, "/kavio/goto20"}, {&f.goto30, "/kavio/goto30"}};
    for (const auto& [button, address] : gotos) {
        EXPECT_EQ(button->buttonType(), KavioButtonType::MomentaryPushIn);
        EXPECT_EQ(button->oscAddress(), QString::fromLatin1(address));
    }
    f.goto20.click();
    rewind.trigger();
    EXPECT_EQ(controller->handled, QStringList({"performGoto20", "rewindCurrentItem"}));
}

}  // namespace
