// The output set-up window on the program's controls: settings chosen in their pop-ups and typed
// into their fields, each one undoable step; the basic and advanced settings; the format and
// keyer pop-ups following the selected output.
#include "OutputsTestSupport.h"
#include "OutputManagerFakes.h"

#include "Outputs/KavioDeckLinkBrowser.h"
#include "Outputs/KavioDecklinkOutput.h"
#include "Outputs/KavioOutputSetupControls.h"
#include "Outputs/KavioVideoOutputManager.h"
#include "Outputs/KavioVideoOutputView.h"
#include "Outputs/KavioVideoOutputsView.h"
#include "Views/KavioButton.h"
#include "Views/KavioControllableTextField.h"
#include "Views/KavioPlaceholderView.h"
#include "Views/KavioPopUpButton.h"

#include "DispatchQueue.h"
#include "UndoManager.h"
#include "UserDefaults.h"
#include "VirtualDeckLink.h"

#include <QDir>
#include <QMenu>
#include <QTest>
#include <QTimer>

namespace {

constexpr double kTimeout = 30.0;

class OutputSetupControlsTest : public OutputsTest {
protected:
    void SetUpWithDevice() override
    {
        auto& defaults = UserDefaults::standardUserDefaults();
        for (const char* key : {"lastUsedFormat_NDI", "lastUsedFormat_BMD"})
            defaults.removeObjectForKey(key);
        displays = std::make_shared<FakeDisplayList>();
        displays->list = {display("Studio 27", {0, 0, 1920, 1080}, true, {11, 0x10ac, 0xa0c4, 101})};
        cards = std::make_unique<KavioDeckLinkBrowser>(std::make_unique<decklink::VirtualDeckLinkBrowser>(1));
        outputs = std::make_unique<KavioVideoOutputManager>(*manager, nullptr, displays);
        outputs->setDeckLinkBrowser(cards.get());
        startOutputManager(*outputs);
        ui().show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&ui(), 30000));
    }
    void TearDown() override
    {
        outputs.reset();  // before the card list it was given
        cards.reset();
    }
    // As a first launch does, on a manager made with a card list.
    static void startOutputManager(KavioVideoOutputManager& made)
    {
        auto& defaults = UserDefaults::standardUserDefaults();
        for (const char* key : {"useHighBitDepthRendering", "disableDisplayMirroring", "disableMouseCursorHide",
                                "videoOutputSetup", "autoFullscreen"})
            defaults.removeObjectForKey(key);
        made.setVideoManager(std::make_shared<FakeVideoManager>());
        made.initManager();
    }

    KavioOutputSetupControls& ui() { return outputs->controls(); }
    UndoManager& undo() { return outputs->undoManager(); }
    KavioVideoOutputManager::OutputPtr output(unsigned long index) { return outputs->outputObjects()[index - 1]; }

    // Opens the pop-up with a click and picks the item of that title from its menu, as the
    // operator does.
    void choose(KavioPopUpButton* popup, const QString& title)
    {
        const int index = popup->indexOfItemWithTitle(title);
        const std::vector<QString> all = titles(popup);
        ASSERT_GE(index, 0) << title.toStdString() << " not in " << QStringList(all.begin(), all.end()).join(", ").toStdString();
        bool picked = false;
        auto* poll = new QTimer(popup);
        QObject::connect(poll, &QTimer::timeout, popup, [&, poll, index] {
            QMenu* menu = popup->openMenu();
            if (!menu || !menu->isVisible())
                return;
            poll->stop();
            picked = true;
            menu->setActiveAction(menu->actions().at(index));
            QTest::keyClick(menu, Qt::Key_Return);
        });
        poll->start(10);
        QTest::mouseClick(popup, Qt::LeftButton);
        delete poll;
        ASSERT_TRUE(picked);
    }
    // Types into the field and ends editing.
    static void type(KavioControllableTextField* field, const QString& text)
    {
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, text);
        QTest::keyClick(field, Qt::Key_Return);
    }
    void bind(unsigned long index, const QString& destination)
    {
        outputs->selectScreenAtIndex(index);
        choose(ui().currentScreenPopup, destination);
    }
    void clickTile(unsigned long index)
    {
        KavioVideoOutputView* tile = outputs->outputViewWithObject(output(index));
        ASSERT_TRUE(tile);
        QTest::mouseClick(tile, Qt::LeftButton, {}, {60, 30});
        ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return outputs->selectedOutput() == index; }, kTimeout));
    }
    std::vector<QString> titles(KavioPopUpButton* popup)
    {
        std::vector<QString> list;
        for (int i = 0; i < popup->numberOfItems(); ++i)
            list.push_back(popup->itemAtIndex(i).title);
        return list;
    }

    std::shared_ptr<FakeDisplayList> displays;
    std::unique_ptr<KavioDeckLinkBrowser> cards;
    std::unique_ptr<KavioVideoOutputManager> outputs;
};

TEST_F(OutputSetupControlsTest, EachSettingsPopUpIsOneUndoableStep)
{
    const struct {
        const char* name;
        KavioPopUpButton* KavioOutputSetupControls::*popup;
        const char* chosen;
        const char* actionName;
        std::function<long(KavioVideoOutputManager&)> value;
        long before, after;
    } cases[] = {
        {"orientation", &KavioOutputSetupControls::orientationPopup, "90\u00B0", "Change Screen Orientation",
         [](KavioVideoOutputManager& m) { return long(m.outputObjects()[0]->orientation()); }, 0, 90},
        {"warp", &KavioOutputSetupControls::warpTypePopup, "17 x 17", "Change Warp Type",
         [](KavioVideoOutputManager& m) { return m.outputObjects()[0]->warpMode(); }, 0, 2},
        {"screens", &KavioOutputSetupControls::screensPopup, "3", "Change Number of Screens",
         [](KavioVideoOutputManager& m) { return long(m.outputObjects().size()); }, 1, 3},
        {"resolution", &KavioOutputSetupControls::resolutionPopup, "1280 x 720", "Change Output Resolution",
         [](KavioVideoOutputManager& m) { return long(m.renderResolution().width()); }, 1920, 1280},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        KavioPopUpButton* popup = ui().*c.popup;
        const QString old = popup->titleOfSelectedItem();
        choose(popup, QString::fromUtf8(c.chosen));
        EXPECT_EQ(c.value(*outputs), c.after);
        EXPECT_EQ(popup->titleOfSelectedItem(), QString::fromUtf8(c.chosen));
        EXPECT_EQ(undo().undoActionName(), c.actionName);
        undo().undo();
        EXPECT_EQ(c.value(*outputs), c.before);
        EXPECT_EQ(popup->titleOfSelectedItem(), old) << "the title recorded before the change";
        undo().redo();
        EXPECT_EQ(c.value(*outputs), c.after);
        EXPECT_EQ(popup->titleOfSelectedItem(), QString::fromUtf8(c.chosen));
        undo().undo();
        undo().removeAllActions();
    }
}

TEST_F(OutputSetupControlsTest, UndoingAfterAnotherOutputWasShownRestoresThisOutputsValue)
{
    type(ui().screenColsField, "2");
    const struct {
        const char* name;
        KavioPopUpButton* KavioOutputSetupControls::*popup;
        const char* other;
        const char* chosen;
        const char* shown;
        std::function<long(const KavioVideoOutputObject&)> value;
        long before;
    } cases[] = {
        {"orientation", &KavioOutputSetupControls::orientationPopup, "90\u00B0", "180\u00B0", "0\u00B0",
         [](const KavioVideoOutputObject& o) { return long(o.orientation()); }, 0},
        {"warp", &KavioOutputSetupControls::warpTypePopup, "17 x 17", "25 x 25", "Corners",
         [](const KavioVideoOutputObject& o) { return o.warpMode(); }, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        KavioPopUpButton* popup = ui().*c.popup;
        clickTile(2);
        choose(popup, QString::fromUtf8(c.other));
        const long otherValue = c.value(*output(2));
        clickTile(1);
        EXPECT_EQ(popup->titleOfSelectedItem(), QString::fromUtf8(c.shown));
        choose(popup, QString::fromUtf8(c.chosen));
        undo().undo();
        EXPECT_EQ(c.value(*output(1)), c.before);
        EXPECT_EQ(popup->titleOfSelectedItem(), QString::fromUtf8(c.shown));
        EXPECT_EQ(c.value(*output(2)), otherValue);
    }
}

TEST_F(OutputSetupControlsTest, TypedGridAndResolutionStayWithinTheFields)
{
    type(ui().screenColsField, "4");
    EXPECT_EQ(outputs->outputObjects().size(), 4u);
    EXPECT_EQ(ui().screensPopup->titleOfSelectedItem(), "1 x 4");
    EXPECT_EQ(undo().undoActionName(), "Change Number of Screens");
    undo().undo();
    EXPECT_EQ(outputs->outputObjects().size(), 1u);
    EXPECT_EQ(ui().screensPopup->titleOfSelectedItem(), "1");
    undo().redo();
    EXPECT_EQ(outputs->outputObjects().size(), 4u);

    // Past a field's maximum the typing is refused; the resolution is kept.
    type(ui().resolutionWidthField, "20000");
    EXPECT_EQ(outputs->renderResolution(), QSizeF(1920, 1080));
    type(ui().resolutionWidthField, "1280");
    type(ui().resolutionHeightField, "720");
    EXPECT_EQ(outputs->renderResolution(), QSizeF(1280, 720));
    EXPECT_EQ(undo().undoActionName(), "Change Output Resolution");
    undo().undo();
    EXPECT_EQ(outputs->renderResolution(), QSizeF(1280, 1080));
}

TEST_F(OutputSetupControlsTest, BasicAndAdvancedSettingsShareThePlaceholder)
{
    auto inPlaceholder = [&](QWidget* w) { return w->parentWidget() == ui().settingsPlaceholder && w->isVisible(); };
    EXPECT_TRUE(inPlaceholder(ui().basicSettingsView));
    EXPECT_FALSE(inPlaceholder(ui().advancedSettingsView));
    EXPECT_TRUE(ui().currentScreenPopup->isVisible());
    EXPECT_FALSE(ui().enableMatteColorButton->isVisible());
    EXPECT_EQ(ui().basicSettingsButton->state(), 1);

    QTest::mouseClick(ui().advancedSettingsButton, Qt::LeftButton);
    EXPECT_TRUE(inPlaceholder(ui().advancedSettingsView));
    EXPECT_FALSE(inPlaceholder(ui().basicSettingsView));
    EXPECT_TRUE(ui().enableMatteColorButton->isVisible());
    EXPECT_FALSE(ui().currentScreenPopup->isVisible());
    EXPECT_EQ(ui().advancedSettingsButton->state(), 1);
    EXPECT_EQ(ui().basicSettingsButton->state(), 0);
    // A setting of the advanced view still is one step.
    QTest::mouseClick(ui().enableMatteColorButton, Qt::LeftButton);
    EXPECT_TRUE(output(1)->colorMatteEnabled());
    EXPECT_EQ(undo().undoActionName(), "Toggle Enable Color Matte");
    // Clicking the shown view's switch keeps it shown.
    QTest::mouseClick(ui().advancedSettingsButton, Qt::LeftButton);
    EXPECT_TRUE(inPlaceholder(ui().advancedSettingsView));
    EXPECT_EQ(ui().advancedSettingsButton->state(), 1);

    QTest::mouseClick(ui().basicSettingsButton, Qt::LeftButton);
    EXPECT_TRUE(inPlaceholder(ui().basicSettingsView));
    EXPECT_FALSE(ui().advancedSettingsView->isVisible());
}

TEST_F(OutputSetupControlsTest, FormatAndKeyerPopUpsPerKindOfOutput)
{
    // Destination, then what the two pop-ups show for it.
    const struct {
        const char* destination;
        bool offline;
        bool formatEnabled;
        int formats;
        const char* format;
        bool keyerEnabled;
        const char* keyer;
    } cases[] = {
        {"Studio 27 (Main Display - 1920 x 1080)", false, false, 1, "Unavailable", false, "Unavailable"},
        {"Syphon", false, false, 1, "Unavailable", false, "Unavailable"},
        {"NDI™", false, true, 16, "YUV - 30fps", false, "Unavailable"},
        {"Virtual DeckLink 1", false, true, 54 * 2, "1080i 60fps", true, "None"},
        {"Virtual DeckLink 1", true, false, 1, "Unavailable", false, "Unavailable"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.destination) + (c.offline ? " offline" : ""));
        bind(1, QString::fromUtf8(c.destination));
        output(1)->setIsOnline(!c.offline);
        outputs->updateUIAfterScreenSelected();
        EXPECT_EQ(ui().outputFormatPopup->isEnabled(), c.formatEnabled);
        EXPECT_EQ(ui().outputFormatPopup->numberOfItems(), c.formats);
        EXPECT_EQ(ui().outputFormatPopup->titleOfSelectedItem(), QString::fromUtf8(c.format));
        EXPECT_EQ(ui().outputKeyerPopup->isEnabled(), c.keyerEnabled);
        EXPECT_EQ(ui().outputKeyerPopup->titleOfSelectedItem(), QString::fromUtf8(c.keyer));
        EXPECT_EQ(ui().outputFormatPopup->indexOfItemWithTitle("Unavailable") >= 0, !c.formatEnabled);
        output(1)->setIsOnline(true);
    }
    EXPECT_EQ(titles(ui().outputKeyerPopup), (std::vector<QString>{"Unavailable"}));
}

TEST_F(OutputSetupControlsTest, ACardListsItsFormatsByWidthAndTakesOneOfTheRenderSize)
{
    auto card = std::dynamic_pointer_cast<decklink::VirtualDeckLinkDevice>(cards->deviceWithName("Virtual DeckLink 1"));
    ASSERT_TRUE(card);
    card->setPlaybackVideoFormats({{decklink::fourCC("4k25"), decklink::kPixelFormat2vuy},
                                   {decklink::fourCC("Hp25"), decklink::kPixelFormat2vuy},
                                   {decklink::fourCC("ntsc"), decklink::kPixelFormat2vuy},
                                   {decklink::fourCC("Hp30"), decklink::kPixelFormatBGRA},
                                   {decklink::fourCC("hp50"), decklink::kPixelFormat2vuy}});
    const struct {
        const char* resolution;
        const char* lastUsed;
        const char* taken;
    } cases[] = {
        {"1920 x 1080", "", "1080p 30fps"},
        {"1280 x 720", "", "720p 50fps"},
        {"3840 x 2160", "", "2160p 25fps"},
        {"1920 x 1080", "NTSC", "NTSC"},
        {"2560 x 1440", "", "NTSC"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.resolution) + " / " + c.lastUsed);
        outputs->undoChangeOutputResolutionTo(c.resolution);
        UserDefaults::standardUserDefaults().setString(c.lastUsed, "lastUsedFormat_BMD");
        bind(1, "Syphon");
        bind(1, "Virtual DeckLink 1");
        EXPECT_EQ(titles(ui().outputFormatPopup), (std::vector<QString>{"NTSC", "720p 50fps", "1080p 25fps",
                                                                        "1080p 30fps", "2160p 25fps"}));
        EXPECT_EQ(output(1)->videoOutputFormatString(), c.taken);
        EXPECT_EQ(ui().outputFormatPopup->titleOfSelectedItem(), c.taken);
    }
}

TEST_F(OutputSetupControlsTest, FormatAndKeyerFollowTheSelectedOutput)
{
    type(ui().screenColsField, "2");
    ASSERT_EQ(outputs->outputObjects().size(), 2u);
    bind(1, "NDI™");
    choose(ui().outputFormatPopup, "YUV - 25fps");
    bind(2, "Virtual DeckLink 1");
    choose(ui().outputFormatPopup, "720p 50fps");
    EXPECT_EQ(output(2)->videoOutputFormatString(), "720p 50fps");
    EXPECT_FALSE(ui().formatErrorButton->isHidden()) << "1280 x 720 against the render resolution";
    EXPECT_EQ(ui().formatErrorButton->toolTip(), "Rendering Resolution Mismatch...");
    auto tileInError = [&](unsigned long index) { return outputs->outputViewWithObject(output(index))->hasError(); };
    EXPECT_TRUE(tileInError(2));
    EXPECT_FALSE(tileInError(1));

    clickTile(1);
    EXPECT_EQ(ui().outputFormatPopup->numberOfItems(), 16);
    EXPECT_EQ(ui().outputFormatPopup->titleOfSelectedItem(), "YUV - 25fps");
    EXPECT_TRUE(ui().formatErrorButton->isHidden());
    EXPECT_FALSE(ui().outputKeyerPopup->isEnabled());

    clickTile(2);
    EXPECT_EQ(ui().outputFormatPopup->numberOfItems(), 54 * 2);
    EXPECT_EQ(ui().outputFormatPopup->titleOfSelectedItem(), "720p 50fps");
    EXPECT_FALSE(ui().formatErrorButton->isHidden());
    EXPECT_EQ(titles(ui().outputKeyerPopup), (std::vector<QString>{"None", "Internal", "External"}));

    // The keyer: chosen, undone and redone, the pop-up showing the title each time.
    choose(ui().outputKeyerPopup, "Internal");
    EXPECT_EQ(undo().undoActionName(), "Change Keyer");
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return output(2)->decklinkKeyer() == "Internal"; }, kTimeout));
    undo().undo();
    EXPECT_EQ(ui().outputKeyerPopup->titleOfSelectedItem(), "None");
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return output(2)->decklinkKeyer() == "None"; }, kTimeout));
    undo().redo();
    EXPECT_EQ(ui().outputKeyerPopup->titleOfSelectedItem(), "Internal");
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return output(2)->decklinkKeyer() == "Internal"; }, kTimeout));

    // A fitting format clears the mark; undone from the other output, the pop-up shows output 2 again.
    choose(ui().outputFormatPopup, "1080p 25fps");
    EXPECT_TRUE(ui().formatErrorButton->isHidden());
    EXPECT_FALSE(tileInError(2));
    EXPECT_EQ(output(2)->frame(), QRectF(0, 0, 1920, 1080));
    clickTile(1);
    undo().undo();
    EXPECT_EQ(outputs->selectedOutput(), 2u);
    EXPECT_EQ(output(2)->videoOutputFormatString(), "720p 50fps");
    EXPECT_EQ(ui().outputFormatPopup->titleOfSelectedItem(), "720p 50fps");
    EXPECT_FALSE(ui().formatErrorButton->isHidden());
    EXPECT_TRUE(tileInError(2));
    undo().redo();
    EXPECT_EQ(ui().outputFormatPopup->titleOfSelectedItem(), "1080p 25fps");
    EXPECT_EQ(output(1)->videoOutputFormatString(), "YUV - 25fps") << "the other output keeps its format";
}

TEST_F(OutputSetupControlsTest, AnOutputWithoutAFormatTakesThePreferredOneAsAnEdit)
{
    bind(1, "NDI™");
    UserDefaults::standardUserDefaults().setString("YUV - 50fps", "lastUsedFormat_NDI");
    output(1)->setVideoOutputFormatString({});
    undo().removeAllActions();
    outputs->updateUIAfterScreenSelected();
    EXPECT_EQ(output(1)->videoOutputFormatString(), "YUV - 50fps");
    EXPECT_EQ(output(1)->framerate().timeValue, 50000);
    EXPECT_EQ(ui().outputFormatPopup->titleOfSelectedItem(), "YUV - 50fps");
    EXPECT_EQ(undo().undoActionName(), "Change Output Format");
    // Undone, it has no format again and nothing new is taken while the step replays.
    undo().undo();
    EXPECT_TRUE(output(1)->videoOutputFormatString().isEmpty());
    EXPECT_FALSE(undo().canUndo());
    EXPECT_TRUE(undo().canRedo());
    // An unknown stored format is still what the pop-up shows.
    output(1)->setVideoOutputFormatString("YUV - 26fps");
    outputs->updateUIAfterScreenSelected();
    EXPECT_EQ(ui().outputFormatPopup->titleOfSelectedItem(), "YUV - 26fps");
    EXPECT_EQ(ui().outputFormatPopup->numberOfItems(), 17);
    UserDefaults::standardUserDefaults().removeObjectForKey("lastUsedFormat_NDI");
}

TEST_F(OutputSetupControlsTest, HighBitDepthHasNoKeyer)
{
    UserDefaults::standardUserDefaults().setBool(true, "useHighBitDepthRendering");
    KavioVideoOutputManager deep(*manager, nullptr, displays);
    deep.setDeckLinkBrowser(cards.get());
    deep.setVideoManager(std::make_shared<FakeVideoManager>());
    deep.initManager();
    deep.controls().currentScreenPopup->chooseItemAtIndex(
        deep.controls().currentScreenPopup->indexOfItemWithTitle("Virtual DeckLink 1"));
    deep.updateUIAfterScreenSelected();
    EXPECT_TRUE(deep.controls().outputFormatPopup->isEnabled());
    EXPECT_FALSE(deep.controls().outputKeyerPopup->isEnabled());
    EXPECT_EQ(deep.controls().outputKeyerPopup->titleOfSelectedItem(), "Unavailable");
    UserDefaults::standardUserDefaults().removeObjectForKey("useHighBitDepthRendering");
}

TEST_F(OutputSetupControlsTest, ScreenshotsOfBasicAndAdvancedSettings)
{
    type(ui().screenColsField, "2");
    bind(2, "Virtual DeckLink 1");
    choose(ui().outputFormatPopup, "720p 50fps");
    ui().resize(1100, 620);
    QDir().mkpath(KAVIO_SCREENSHOT_DIR);
    ASSERT_TRUE(ui().grab().save(QStringLiteral(KAVIO_SCREENSHOT_DIR "/output-setup-basic.png")));
    QTest::mouseClick(ui().advancedSettingsButton, Qt::LeftButton);
    ASSERT_TRUE(ui().grab().save(QStringLiteral(KAVIO_SCREENSHOT_DIR "/output-setup-advanced.png")));
}

}  // namespace
