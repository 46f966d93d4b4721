#include "OutputsTestSupport.h"
#include "OutputManagerFakes.h"

#include "Controller/KavioVideoItemManagerInterface.h"
#include "Outputs/KavioOutputSetupControls.h"
#include "Outputs/KavioVideoOutputManager.h"
#include "Views/KavioControllableTextField.h"
#include "Views/KavioPopUpButton.h"
#include "Outputs/KavioVideoOutputView.h"
#include "Outputs/KavioVideoOutputsView.h"
#include "Views/KavioButton.h"
#include "Rendering/KavioRenderClock.h"

#include "DispatchQueue.h"
#include "UndoManager.h"
#include "UserDefaults.h"

#include <QAction>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {

class KavioVideoOutputManagerTest : public OutputsTest {
protected:
    void SetUpWithDevice() override
    {
        displays = std::make_shared<FakeDisplayList>();
        displays->list = {display("Studio 27", {0, 0, 1920, 1080}, true, {11, 0x10ac, 0xa0c4, 101}),
                          display("Beamer", {1920, 0, 1280, 720}, false, {22, 0x4c2d, 0x0f00, 202})};
        videoManager = std::make_shared<FakeVideoManager>();
        outputs = startOutputManager(*manager, displays, videoManager);
    }
    void TearDown() override { outputs.reset(); }

    KavioOutputSetupControls& ui() { return outputs->controls(); }
    void grid(int rows, int cols)
    {
        ui().screenRowsField->setText(QString::number(rows));
        ui().screenColsField->setText(QString::number(cols));
        outputs->changeNumberOfScreensManually();
    }
    std::vector<std::uint64_t> indexes()
    {
        std::vector<std::uint64_t> list;
        for (const auto& o : outputs->outputObjects())
            list.push_back(o->index());
        return list;
    }

    std::shared_ptr<FakeDisplayList> displays;
    std::shared_ptr<FakeVideoManager> videoManager;
    std::unique_ptr<KavioVideoOutputManager> outputs;
};

TEST_F(KavioVideoOutputManagerTest, FirstStartStoresTheDefaultsAndMakesOneOutput)
{
    auto& defaults = UserDefaults::standardUserDefaults();
    EXPECT_TRUE(defaults.hasKey("useHighBitDepthRendering"));
    EXPECT_FALSE(defaults.boolForKey("useHighBitDepthRendering"));
    EXPECT_TRUE(defaults.boolForKey("disableDisplayMirroring"));
    EXPECT_TRUE(defaults.boolForKey("disableMouseCursorHide"));
    ASSERT_EQ(outputs->outputObjects().size(), 1u);
    EXPECT_EQ(outputs->renderResolution(), QSizeF(1920, 1080));
    EXPECT_EQ(outputs->renderSize(), QSizeF(1920, 1080));
    // A new output takes the last display.
    EXPECT_EQ(outputs->outputObjects()[0]->screenName(), "Beamer (1280 x 720)");
    EXPECT_EQ(ui().screensPopup->titleOfSelectedItem(), "1");
}

TEST_F(KavioVideoOutputManagerTest, SpanModeWidensTheCanvasByTheGrid)
{
    grid(1, 3);
    EXPECT_EQ(ui().screensPopup->titleOfSelectedItem(), "3");
    outputs->undoChangeDisplayModeToState(true);
    EXPECT_EQ(outputs->renderSize(), QSizeF(5760, 1080));
    outputs->undoChangeDisplayModeToState(false);
    EXPECT_EQ(outputs->renderSize(), QSizeF(1920, 1080));
}

TEST_F(KavioVideoOutputManagerTest, ResolutionTextsOutsideTheRulesChangeNothing)
{
    for (const char* text : {"1920x1080", "0 x 1080", "1920 x 16385", "a x b", "1 x 2 x 3"})
        outputs->undoChangeOutputResolutionTo(text);
    EXPECT_EQ(outputs->renderResolution(), QSizeF(1920, 1080));
    EXPECT_FALSE(outputs->undoManager().canUndo());
    outputs->undoChangeOutputResolutionTo("1280 x 720");
    EXPECT_EQ(outputs->renderResolution(), QSizeF(1280, 720));
    EXPECT_EQ(outputs->undoManager().undoActionName(), "Change Output Resolution");
    outputs->undoManager().undo();
    EXPECT_EQ(outputs->renderResolution(), QSizeF(1920, 1080));
}

TEST_F(KavioVideoOutputManagerTest, RecordRoundTripsAndSurplusOutputsAreIgnored)
{
    grid(2, 2);
    outputs->undoChangeOutputResolutionTo("1280 x 720");
    outputs->outputObjects()[3]->setWarpMode(5);
    QVariantMap record = outputs->saveData();
    EXPECT_EQ(record.value("renderResolution").toString(), "1280 x 720");
    EXPECT_EQ(record.value("screensRows").toInt(), 2);
    QVariantMap entries = record.value("outputs").toMap();
    entries.insert("5", entries.value("1"));
    entries.insert("6", entries.value("1"));
    record.insert("outputs", entries);

    KavioVideoOutputManager other(*manager, nullptr, displays);
    other.setVideoManager(videoManager);
    other.initManager();
    other.loadWithData(record);
    ASSERT_EQ(other.outputObjects().size(), 4u);
    EXPECT_EQ(other.outputObjects()[3]->warpMode(), 5);
    EXPECT_EQ(other.renderResolution(), QSizeF(1280, 720));
    record.insert("outputs", QVariantMap{{"1", entries.value("1")}, {"2", entries.value("2")},
                                         {"3", entries.value("3")}, {"4", entries.value("4")}});
    EXPECT_EQ(other.saveData(), record);

    record.remove("renderResolution");
    record.insert("screensRows", 40);  // out of range: one row
    outputs->loadWithData(record);
    EXPECT_EQ(outputs->renderResolution(), QSizeF(1280, 720));
    EXPECT_EQ(outputs->outputObjects().size(), 2u);
}

TEST_F(KavioVideoOutputManagerTest, OutputsOffStillPullTheirAudio)
{
    grid(1, 2);
    renderFrame([&] { outputs->renderWithTexture(solid(4, 4, kRed)); });
    for (const auto& output : outputs->outputObjects())
        EXPECT_EQ(output->audioOutputCount(), 1u);
}

TEST_F(KavioVideoOutputManagerTest, EdgeBlendPaddingsAccumulateAlongARow)
{
    grid(1, 3);
    outputs->undoChangeEdgeBlendToState(true);
    const std::int64_t widths[] = {0, 100, 120};
    for (std::size_t i = 0; i < 3; ++i) {
        auto output = outputs->outputObjects()[i];
        KavioEdgeBlendSettings blend;
        blend.leftEdgeWidth = widths[i];
        output->setEdgeBlendSettings(blend);
        output->setVideoOutputType(KavioVideoOutputTypeSyphon);  // windows stay hidden
    }
    outputs->toggleFullscreen();
    renderFrame([&] { outputs->renderWithTexture(solid(4, 4, kRed)); });
    std::vector<int> paddings;
    for (const auto& output : outputs->outputObjects())
        paddings.push_back(output->mtkView()->uniforms().edgeBlendPaddingX);
    EXPECT_EQ(paddings, (std::vector<int>{0, 100, 220}));
    outputs->toggleFullscreen();
}

TEST_F(KavioVideoOutputManagerTest, SafeChangesWaitForTheRunningPass)
{
    videoManager->clock = std::make_shared<KavioRenderClock>();
    outputs->undoChangeOutputResolutionTo("1280 x 720");  // clock stopped: at once
    EXPECT_EQ(outputs->renderResolution(), QSizeF(1280, 720));
    EXPECT_TRUE(outputs->renderAllowed());

    struct Passes : KavioRenderClockDelegate {
        bool renderIfCanAtTime(double) override { return true; }
    };
    auto delegate = std::make_shared<Passes>();
    videoManager->clock->setDelegate(delegate);
    videoManager->clock->startRenderingWithCVTime({60, 1, 0});
    outputs->undoChangeOutputResolutionTo("1920 x 1080");
    EXPECT_EQ(outputs->renderResolution(), QSizeF(1280, 720));
    EXPECT_FALSE(outputs->renderAllowed());
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return outputs->renderAllowed(); }, 10));
    EXPECT_EQ(outputs->renderResolution(), QSizeF(1920, 1080));
    videoManager->clock->stopRendering();
    videoManager->clock.reset();
}

TEST_F(KavioVideoOutputManagerTest, GridChangesAddRemoveAndRestoreOutputs)
{
    grid(1, 4);
    EXPECT_EQ(ui().screensPopup->titleOfSelectedItem(), "1 x 4");
    EXPECT_EQ(ui().screensPopup->selectedTag(), 100);
    EXPECT_EQ(outputs->outputObjects().size(), 4u);

    grid(1, 3);
    EXPECT_EQ(ui().screensPopup->titleOfSelectedItem(), "3");
    outputs->outputObjects()[2]->setOrientation(90);
    ui().screensPopup->selectItemWithTitle("1");
    outputs->changeNumberOfScreens();
    EXPECT_EQ(outputs->outputObjects().size(), 1u);
    EXPECT_EQ(outputs->undoManager().undoActionName(), "Change Number of Screens");
    outputs->undoManager().undo();
    ASSERT_EQ(outputs->outputObjects().size(), 3u);
    EXPECT_EQ(outputs->outputObjects()[2]->orientation(), 90u);
    EXPECT_EQ(ui().screensPopup->titleOfSelectedItem(), "3");
}

TEST_F(KavioVideoOutputManagerTest, DeletingAnOutputRenumbersAndUndoPutsItBack)
{
    grid(1, 3);
    auto third = outputs->outputObjects()[2];
    third->setWarpMode(7);
    outputs->deleteOutputAtIndex(2);
    EXPECT_EQ(indexes(), (std::vector<std::uint64_t>{1, 2}));
    EXPECT_EQ(outputs->outputObjects()[1], third);
    EXPECT_EQ(ui().screensPopup->titleOfSelectedItem(), "2");
    EXPECT_EQ(outputs->undoManager().undoActionName(), "Insert Output");
    outputs->undoManager().undo();
    EXPECT_EQ(indexes(), (std::vector<std::uint64_t>{1, 2, 3}));
    EXPECT_EQ(outputs->outputObjects()[2], third);
    EXPECT_EQ(ui().screensPopup->titleOfSelectedItem(), "3");

    grid(3, 1);
    outputs->deleteOutputAtIndex(3);
    EXPECT_EQ(ui().screensPopup->titleOfSelectedItem(), "2 x 1");
    EXPECT_EQ(outputs->screenSpan().rows, 2);
    EXPECT_EQ(outputs->outputObjects().size(), 2u);

    ui().screensPopup->selectItemWithTitle("1");
    outputs->changeNumberOfScreens();
    outputs->deleteOutputAtIndex(1);  // the last output stays
    EXPECT_EQ(outputs->outputObjects().size(), 1u);
}

TEST_F(KavioVideoOutputManagerTest, NavigationAndNeighboursInATwoByTwoGrid)
{
    grid(2, 2);
    const struct {
        unsigned long from;
        void (KavioVideoOutputManager::*move)();
        unsigned long to;
    } moves[] = {{2, &KavioVideoOutputManager::selectBelowOutput, 4},
                 {3, &KavioVideoOutputManager::selectAboveOutput, 1},
                 {1, &KavioVideoOutputManager::selectAboveOutput, 1},
                 {4, &KavioVideoOutputManager::selectNextOutput, 4},
                 {3, &KavioVideoOutputManager::selectPrevOutput, 2}};
    for (const auto& m : moves) {
        outputs->selectScreenAtIndex(m.from);
        (outputs.get()->*m.move)();
        EXPECT_EQ(outputs->selectedOutput(), m.to) << m.from;
    }

    auto third = outputs->outputObjects()[2];
    KavioEdgeBlendSettings blend;
    blend.topEdgeWidth = 60, blend.topEdgePower = 2.2f;
    third->setEdgeBlendSettings(blend);
    outputs->edgeBlendChangedWithObject(third);
    const auto first = outputs->outputObjects()[0]->edgeBlendSettings();
    EXPECT_EQ(first.bottomEdgeWidth, 60);
    EXPECT_EQ(first.bottomEdgePower, 2.2f);
    EXPECT_EQ(outputs->outputOnRightSideWithObject(third), outputs->outputObjects()[3]);
    EXPECT_EQ(outputs->outputOnLeftSideWithObject(third), nullptr);
}

TEST_F(KavioVideoOutputManagerTest, PerOutputSwitchesUndoWithTheirNames)
{
    outputs->undoToggleEnableMatteColorButton(true, 1);
    EXPECT_TRUE(outputs->outputObjects()[0]->colorMatteEnabled());
    EXPECT_TRUE((ui().enableMatteColorButton->state() != 0));
    EXPECT_EQ(outputs->undoManager().undoActionName(), "Toggle Enable Color Matte");
    outputs->undoManager().undo();
    EXPECT_FALSE(outputs->outputObjects()[0]->colorMatteEnabled());
    outputs->undoToggleEnableSubtitlesButton(false, 1);
    EXPECT_EQ(outputs->undoManager().undoActionName(), "Toggle Subtitles / CC");
    outputs->undoToggleEnableTimeOverlayButton(true, 1);
    EXPECT_EQ(outputs->undoManager().undoActionName(), "Toggle Time Overlays");
}

TEST_F(KavioVideoOutputManagerTest, ClosingTheSetUpWindowForgetsItsUndoSteps)
{
    outputs->orderFrontVideoOutputSetupWindow();
    EXPECT_TRUE(ui().isVisible());
    EXPECT_FALSE(outputs->undoManager().canUndo());
    outputs->undoToggleEnableMatteColorButton(true, 1);
    EXPECT_TRUE(outputs->undoManager().canUndo());
    ui().close();
    EXPECT_FALSE(outputs->undoManager().canUndo());
}

TEST_F(KavioVideoOutputManagerTest, OutputsOnAndOffAndTheMainDisplay)
{
    auto output = outputs->outputObjects()[0];
    output->setVideoOutputType(KavioVideoOutputTypeSyphon);
    output->setScreenName("Studio 27 (Main Display - 1920 x 1080)");
    EXPECT_FALSE(outputs->isMainDisplayOnFullscreen());
    outputs->toggleFullscreen();
    EXPECT_TRUE(outputs->shouldOutput());
    EXPECT_TRUE(output->isFullscreen());
    EXPECT_TRUE(outputs->isMainDisplayOnFullscreen());
    outputs->toggleFullscreen();
    EXPECT_FALSE(output->isFullscreen());
    EXPECT_FALSE(outputs->isMainDisplayOnFullscreen());
}

TEST_F(KavioVideoOutputManagerTest, TheSetUpWindowsControlsRunTheirActions)
{
    // Typing into a grid field applies it once editing ends; ending it again untouched does nothing.
    QLineEdit* cols = ui().screenColsField;
    cols->selectAll();
    QTest::keyClicks(cols, "2");
    QTest::keyClick(cols, Qt::Key_Return);
    EXPECT_EQ(outputs->outputObjects().size(), 2u);
    outputs->undoManager().removeAllActions();
    QTest::keyClick(cols, Qt::Key_Return);
    EXPECT_FALSE(outputs->undoManager().canUndo());

    ui().show();
    QTest::mouseClick(ui().spanModeButton, Qt::LeftButton);
    EXPECT_EQ(outputs->renderSize(), QSizeF(3840, 1080));
    EXPECT_EQ(outputs->undoManager().undoActionName(), "Toggle Span Mode");

    KavioPopUpButton* destinations = ui().currentScreenPopup;
    const int syphon = destinations->indexOfItemWithTitle("Syphon");
    ASSERT_GE(syphon, 0);
    destinations->chooseItemAtIndex(syphon);
    EXPECT_EQ(outputs->outputObjects()[outputs->selectedOutput() - 1]->videoOutputType(), KavioVideoOutputTypeSyphon);

    // The menu item and the button switch the outputs, each showing the state once.
    for (bool on : {true, false}) {
        ui().fullscreenMenuItem->trigger();
        EXPECT_EQ(outputs->shouldOutput(), on);
        EXPECT_EQ(ui().fullscreenMenuItem->isChecked(), on);
        EXPECT_EQ(ui().fullscreenButton->state() != 0, on);
    }
    ui().show();
    QTest::mouseClick(ui().fullscreenButton, Qt::LeftButton);
    EXPECT_TRUE(outputs->shouldOutput());
    EXPECT_TRUE(ui().fullscreenMenuItem->isChecked());
    EXPECT_EQ(ui().fullscreenButton->oscAddress(), "/kavio/toggleVideoOutputs");
    QTest::mouseClick(ui().fullscreenButton, Qt::LeftButton);
    EXPECT_FALSE(outputs->shouldOutput());
}

// --- Screens ---------------------------------------------------------------------------------

TEST_F(KavioVideoOutputManagerTest, TwinMonitorsAreToldApartByTheirId)
{
    displays->list = {display("LG", {0, 0, 1920, 1080}, true, {0, 1, 2, 301}),
                      display("LG", {1920, 0, 1920, 1080}, false, {0, 1, 2, 302}),
                      display("LG", {3840, 0, 1920, 1080}, false, {0, 1, 2, 303})};
    outputs->refreshScreensList();
    const KavioNameAndInfo second{"LG (1920 x 1080)", {0, 1, 2, 302}};
    EXPECT_TRUE(outputs->hasMultipleDisplaysWithSameNameAndResolution(second.title));
    // Re-arranged: the display with id 302 moved to the right.
    displays->list[1].frame = {3840, 0, 1920, 1080};
    displays->list[2].frame = {1920, 0, 1920, 1080};
    auto found = outputs->screenWithNameAndInfo(second);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->frame, QRectF(3840, 0, 1920, 1080));
}

TEST_F(KavioVideoOutputManagerTest, AUniqueMonitorIsFoundDespiteANewId)
{
    const KavioNameAndInfo stored{"Beamer (1280 x 720)", {22, 0x4c2d, 0x0f00, 999}};
    auto found = outputs->screenWithNameAndInfo(stored);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->info.displayid, 202u);
    EXPECT_FALSE(outputs->screenWithNameAndInfo({"Beamer (1280 x 720)", {23, 0x4c2d, 0x0f00, 202}}).has_value());
}

TEST_F(KavioVideoOutputManagerTest, UnpluggingAndReplugging)
{
    auto output = outputs->outputObjects()[0];
    ASSERT_EQ(output->screenName(), "Beamer (1280 x 720)");
    const KavioDisplay beamer = displays->list[1];
    displays->list.pop_back();
    outputs->refreshScreensList();
    EXPECT_FALSE(output->isOnline());
    EXPECT_GE(ui().currentScreenPopup->indexOfItemWithTitle("Beamer (1280 x 720) - DISCONNECTED"), 0);
    EXPECT_TRUE(ui().fullscreenButton->isHidden());
    EXPECT_FALSE(ui().fullscreenErrorButton->isHidden());
    EXPECT_EQ(outputs->disconnectedScreens().size(), 1u);

    displays->list.push_back(beamer);
    outputs->refreshScreensList();
    EXPECT_TRUE(output->isOnline());
    EXPECT_LT(ui().currentScreenPopup->indexOfItemWithTitle("Beamer (1280 x 720) - DISCONNECTED"), 0);
    EXPECT_FALSE(ui().fullscreenButton->isHidden());
    EXPECT_TRUE(ui().fullscreenErrorButton->isHidden());
    EXPECT_TRUE(outputs->disconnectedScreens().empty());
}

TEST_F(KavioVideoOutputManagerTest, ChoosingADestinationRebindsTheOutput)
{
    outputs->undoChangeScreen({"Syphon", {}}, 1);
    auto output = outputs->outputObjects()[0];
    EXPECT_EQ(output->videoOutputType(), KavioVideoOutputTypeSyphon);
    EXPECT_EQ(output->frame(), QRectF(0, 0, 1920, 1080));
    EXPECT_EQ(outputs->undoManager().undoActionName(), "Change Screen");
    outputs->undoManager().undo();
    EXPECT_EQ(output->videoOutputType(), KavioVideoOutputTypeScreen);
    EXPECT_EQ(output->frame(), QRectF(1920, 0, 1280, 720));
}

TEST(KavioEDIDTest, ReadsTheIdentityAndTheProductName)
{
    QByteArray edid(128, '\0');
    const unsigned char header[8] = {0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x00};
    std::memcpy(edid.data(), header, 8);
    edid[8] = char(0x10), edid[9] = char(0xac);                        // vendor
    edid[10] = char(0xc4), edid[11] = char(0xa0);                      // model, little-endian
    edid[12] = 0x78, edid[13] = 0x56, edid[14] = 0x34, edid[15] = 0x12;  // serial
    const char descriptor[] = {0, 0, 0, char(0xfc), 0, 'S', 't', 'u', 'd', 'i', 'o', ' ', '2', '7', '\n', ' ', ' ', ' '};
    std::memcpy(edid.data() + 72, descriptor, 18);
    unsigned sum = 0;
    for (int i = 0; i < 127; ++i)
        sum += std::uint8_t(edid[i]);
    edid[127] = char((256 - sum % 256) % 256);

    const auto identity = KavioEDID::parse(edid);
    ASSERT_TRUE(identity.has_value());
    EXPECT_EQ(identity->vendor, 0x10acu);
    EXPECT_EQ(identity->model, 0xa0c4u);
    EXPECT_EQ(identity->serial, 0x12345678u);
    EXPECT_EQ(identity->productName, "Studio 27");

    QByteArray broken = edid;
    broken[20] = char(broken[20] + 1);  // checksum fails
    EXPECT_FALSE(KavioEDID::parse(broken).has_value());
    EXPECT_FALSE(KavioEDID::parse(edid.left(127)).has_value());
}

}  // namespace

namespace {

// The render-method choice on a real render clock, with Qt's screens.
class KavioRenderMethodTest : public KavioVideoOutputManagerTest {
protected:
    void SetUpWithDevice() override
    {
        KavioVideoOutputManagerTest::SetUpWithDevice();
        videoManager->clock = std::make_shared<KavioRenderClock>();
        videoManager->clock->setDelegate(passes);
        outputs = std::make_unique<KavioVideoOutputManager>(*manager, nullptr);
        outputs->setVideoManager(videoManager);
        outputs->initManager();  // starts the display link: changes now wait for a pass
        grid(1, 2);
        ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return outputs->renderAllowed(); }, 10));
        ASSERT_EQ(outputs->outputObjects().size(), 2u);
    }
    struct Passes : KavioRenderClockDelegate {
        bool renderIfCanAtTime(double) override { return true; }
    };
    std::shared_ptr<Passes> passes = std::make_shared<Passes>();
    void TearDown() override
    {
        outputs.reset();
        videoManager->clock.reset();
    }
    KavioRenderClock& clock() { return *videoManager->clock; }
};

TEST_F(KavioRenderMethodTest, TheFirstRateOfAnNDIOutputDecidesEvenOffline)
{
    const GpuTime rates[] = {{25, 1, 0}, {50, 1, 0}};
    for (std::size_t i = 0; i < 2; ++i) {
        auto output = outputs->outputObjects()[i];
        output->setVideoOutputType(KavioVideoOutputTypeNDI);
        output->setFramerate(rates[i]);
    }
    outputs->outputObjects()[0]->setIsOnline(false);
    outputs->checkOutputsForBestRenderMethod();
    EXPECT_FALSE(clock().isRenderingForScreens());
    EXPECT_EQ(clock().renderingFPS(), 25);
}

TEST_F(KavioRenderMethodTest, WithoutARateADisplayLinkRunsAndIsOnlyMovedAfterwards)
{
    for (const auto& output : outputs->outputObjects())
        output->setIsOnline(false);
    outputs->checkOutputsForBestRenderMethod();
    EXPECT_TRUE(clock().isRenderingForScreens());
    EXPECT_FALSE(clock().isStopped());
    EXPECT_GT(clock().renderingFPS(), 0);

    // An online frame-sharing output has no display: still the main screen, the link moved.
    auto output = outputs->outputObjects()[1];
    output->setIsOnline(true);
    output->setVideoOutputType(KavioVideoOutputTypeSyphon);
    output->setScreenInfo({});
    outputs->checkOutputsForBestRenderMethod();
    EXPECT_TRUE(clock().isRenderingForScreens());
    EXPECT_FALSE(clock().isStopped());
}

}  // namespace

TEST_F(KavioVideoOutputManagerTest, TilesFollowTheOutputsAndAClickSelectsThroughTheGrid)
{
    grid(2, 2);
    auto tiles = [&] {
        std::vector<KavioVideoOutputView*> list;
        for (const auto& o : outputs->outputObjects())
            list.push_back(outputs->outputViewWithObject(o));
        return list;
    };
    std::vector<KavioVideoOutputView*> placed = tiles();
    ASSERT_EQ(placed.size(), 4u);
    EXPECT_EQ(placed[3]->geometry(), QRect(138, 82, 128, 72));
    EXPECT_TRUE(placed[0]->isSelected());
    EXPECT_EQ(ui().outputsView->size(), QSize(448, 159));

    QTest::mouseClick(placed[3], Qt::LeftButton, {}, {60, 30});
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return outputs->selectedOutput() == 4; }, 30.0));
    EXPECT_FALSE(placed[0]->isSelected());
    outputs->selectPrevOutput();
    EXPECT_TRUE(placed[2]->isSelected());
    EXPECT_FALSE(placed[3]->isSelected());

    grid(1, 2);
    EXPECT_EQ(ui().outputsView->findChildren<KavioVideoOutputView*>().size(), 2);
}
