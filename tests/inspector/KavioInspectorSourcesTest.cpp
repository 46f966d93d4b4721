// The Source, Browser and Window sections over fake live directories: the source and window
// menus with their absent and mixed entries and layouts, source and DeckLink format edits with
// undo, the page settings and the page's interaction window, the cursor capture.

#include "FakeSourceDirectories.h"
#include "InspectorTestSupport.h"
#include "RecordingBrowserSource.h"

#include "Sources/KavioWindowSource.h"
#include "Views/KavioButton.h"

#include "UndoManager.h"

#include <QTest>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

using InspectorTest::Fixture;
using InspectorTest::FakeSourceDirectories;
using InspectorTest::InstalledDirectories;

namespace {

std::shared_ptr<KavioVideoItem> addPageCue(Fixture& f, const QString& uid, const QString& url)
{
    return f.addLive(KavioMediaTypeBrowser, uid, url);
}

TEST(KavioInspectorSources, ATypedAddressWithoutASchemeGetsHttp)
{
    const struct {
        const char* typed;
        const char* url;
    } cases[] = {
        {"example.org/show", "http://example.org/show"},
        {"", "http://"},
        {"https://example.org", "https://example.org"},
        {"file:///srv/page.html", "file:///srv/page.html"},
        {"see http://x", "see http://x"},
        {"localhost:8080/a b", "http://localhost:8080/a b"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(KavioVideoItemPreferencesController::browserURLForTypedText(QString::fromUtf8(c.typed)), QString::fromUtf8(c.url))
            << c.typed;
}

TEST(KavioInspectorSources, AnAddressTypedForTwoPagesIsOneStepAndUndoGivesEachItsOwn)
{
    Fixture f;
    const auto one = addPageCue(f, QStringLiteral("page1"), QStringLiteral("http://one.example"));
    const auto two = addPageCue(f, QStringLiteral("page2"), QStringLiteral("http://two.example"));
    f.select({one, two});
    EXPECT_FALSE(f.sectionHidden(QStringLiteral("Browser")));
    EXPECT_EQ(f.o().browserURLField->text(), QStringLiteral("http://one.example"));
    f.undo().removeAllActions();
    const int unsaved = f.app->unsavedChanges;
    Fixture::type(f.o().browserURLField, QStringLiteral("127.0.0.1:9/stage"));
    EXPECT_EQ(one->mediaPath(), QStringLiteral("http://127.0.0.1:9/stage"));
    EXPECT_EQ(two->mediaPath(), QStringLiteral("http://127.0.0.1:9/stage"));
    EXPECT_EQ(f.o().browserURLField->text(), QStringLiteral("http://127.0.0.1:9/stage"));
    EXPECT_GT(f.app->unsavedChanges, unsaved);
    EXPECT_EQ(f.undo().undoCount(), 1);
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Change Browser URL"));
    ASSERT_TRUE(f.undo().undo());
    EXPECT_EQ(one->mediaPath(), QStringLiteral("http://one.example"));
    EXPECT_EQ(two->mediaPath(), QStringLiteral("http://two.example"));
    ASSERT_TRUE(f.undo().redo());
    EXPECT_EQ(one->mediaPath(), QStringLiteral("http://127.0.0.1:9/stage"));

    // A step for a cue that is no web page changes nothing and records nothing.
    const auto still = f.add(f.still(QStringLiteral("still.png")));
    const QString path = still->mediaPath();
    f.panel->undoChangeBrowserURL(QStringLiteral("http://x"), still->uid());
    EXPECT_EQ(still->mediaPath(), path);
    EXPECT_EQ(f.undo().undoCount(), 0);
}

TEST(KavioInspectorSources, TheCursorOptionShowsTheCurrentCuesAndAClickSetsEveryWindowCue)
{
    Fixture f;
    const auto one = f.addLive(KavioMediaTypeWindow, QStringLiteral("w1"), QStringLiteral("Editor / Notes"));
    const auto two = f.addLive(KavioMediaTypeWindow, QStringLiteral("w2"), QStringLiteral("Player / Clip - 1"));
    for (const auto& cue : {one, two})
        cue->setWindowSource(std::make_shared<KavioWindowSource>(QSizeF(1280, 720), 25, 0, false, nullptr));
    two->setWindowSourceShowCursor(true);
    KavioButton* cursor = f.o().windowSourceShouldShowCursor;
    f.select({two});
    EXPECT_FALSE(f.sectionHidden(QStringLiteral("Window")));
    EXPECT_EQ(cursor->state(), 1);
    f.select({one, two});
    EXPECT_EQ(cursor->state(), 0);
    f.undo().removeAllActions();
    QTest::mouseClick(cursor, Qt::LeftButton);
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return one->windowSourceShowCursor(); }, 30.0));
    EXPECT_TRUE(two->windowSourceShowCursor());
    EXPECT_EQ(f.undo().undoCount(), 1);
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Change Window Source Show Cursor"));
    ASSERT_TRUE(f.undo().undo());
    EXPECT_FALSE(one->windowSourceShowCursor());
    EXPECT_TRUE(two->windowSourceShowCursor());
    ASSERT_TRUE(f.undo().redo());
    EXPECT_TRUE(one->windowSourceShowCursor());
}

// A DeckLink four-character code.
constexpr std::uint32_t code(const char (&c)[5])
{
    return std::uint32_t(std::uint8_t(c[0])) << 24 | std::uint32_t(std::uint8_t(c[1])) << 16 |
           std::uint32_t(std::uint8_t(c[2])) << 8 | std::uint32_t(std::uint8_t(c[3]));
}

// A box's bottom within its section, y growing upwards.
int bottomOf(const QWidget* box)
{
    return box->parentWidget()->height() - box->y() - box->height();
}

QStringList titles(const KavioPopUpButton* popup)
{
    QStringList result;
    for (int i = 0; i < popup->numberOfItems(); ++i)
        result << popup->itemAtIndex(i).title;
    return result;
}

TEST(KavioInspectorSources, TwoCaptureCuesOnDifferentDevicesShowMixedAndSwitchTogetherUndoneEachToItsOwn)
{
    InstalledDirectories dirs;
    dirs->deckLink = {InspectorTest::deckLinkInput(QStringLiteral("DeckLink Mini"), 0, 7),
                      InspectorTest::deckLinkInput(QStringLiteral("DeckLink Out"), 3, 0, false)};
    dirs->capture = {{QStringLiteral("cam b"), QStringLiteral("usb-2")}, {QStringLiteral("Cam A"), QStringLiteral("usb-1")},
                     {QStringLiteral("DeckLink Mini"), QStringLiteral("v4l-dl")}, {QStringLiteral("Cam C"), QString()}};
    Fixture f;
    const auto one = f.addLive(KavioMediaTypeCamera, QStringLiteral("c1"), QStringLiteral("Cam A"));
    const auto two = f.addLive(KavioMediaTypeCamera, QStringLiteral("c2"), QStringLiteral("cam b"));
    one->setDeviceUID(QStringLiteral("usb-1"));
    two->setDeviceUID(QStringLiteral("usb-2"));
    KavioPopUpButton* popup = f.o().videoSourcePopup;

    f.select({one});
    EXPECT_FALSE(f.sectionHidden(QStringLiteral("Source")));
    // DeckLink inputs that capture and the system's devices, the DeckLink one listed once,
    // upper case before lower case.
    EXPECT_EQ(titles(popup), (QStringList{"Cam A", "Cam C", "DeckLink Mini", "cam b"}));
    EXPECT_EQ(popup->titleOfSelectedItem(), QStringLiteral("Cam A"));
    EXPECT_TRUE(popup->isEnabled());
    EXPECT_EQ(popup->itemAtIndex(2).representedObject, QVariant(QStringLiteral("7")));
    EXPECT_FALSE(popup->itemAtIndex(1).representedObject.isValid());
    EXPECT_EQ(f.o().sourceView->height(), 130);
    EXPECT_EQ(bottomOf(f.o().durationBox), 14);
    EXPECT_TRUE(f.o().deckLinkFormatBox->isHidden());

    f.select({one, two});
    EXPECT_EQ(popup->titleOfSelectedItem(), QStringLiteral("(mixed)"));
    EXPECT_EQ(popup->indexOfSelectedItem(), 0);
    EXPECT_FALSE(popup->itemAtIndex(0).enabled);
    EXPECT_TRUE(popup->isEnabled());

    f.undo().removeAllActions();
    const int unsaved = f.app->unsavedChanges;
    popup->chooseItemAtIndex(popup->indexOfItemWithTitle(QStringLiteral("DeckLink Mini")));
    for (const auto& cue : {one, two}) {
        EXPECT_EQ(cue->mediaPath(), QStringLiteral("DeckLink Mini"));
        EXPECT_EQ(cue->deviceUID(), QStringLiteral("7"));
    }
    EXPECT_GT(f.app->unsavedChanges, unsaved);
    EXPECT_EQ(f.undo().undoCount(), 1);
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Change Video Sources"));
    EXPECT_EQ(popup->titleOfSelectedItem(), QStringLiteral("DeckLink Mini"));
    ASSERT_TRUE(f.undo().undo());
    EXPECT_EQ(one->mediaPath(), QStringLiteral("Cam A"));
    EXPECT_EQ(one->deviceUID(), QStringLiteral("usb-1"));
    EXPECT_EQ(two->mediaPath(), QStringLiteral("cam b"));
    EXPECT_EQ(two->deviceUID(), QStringLiteral("usb-2"));
    EXPECT_EQ(popup->titleOfSelectedItem(), QStringLiteral("(mixed)"));
    ASSERT_TRUE(f.undo().redo());
    EXPECT_EQ(two->deviceUID(), QStringLiteral("7"));

    // No device at all: the popup is disabled, only the cue's own absent entry is in it.
    dirs->deckLink.clear();
    dirs->capture.clear();
    f.select({one});
    EXPECT_FALSE(popup->isEnabled());
    EXPECT_EQ(titles(popup), QStringList{"DeckLink Mini - DISCONNECTED"});
    EXPECT_EQ(f.o().sourceView->height(), 130);
}

TEST(KavioInspectorSources, AnAbsentFrameSharingServerIsShownDisconnectedAndChoosingItKeepsTheName)
{
    InstalledDirectories dirs;
    dirs->syphon = {FakeSourceDirectories::server(QStringLiteral("Kavio"), QStringLiteral("Kavio Syphon #1")),
                    FakeSourceDirectories::server(QStringLiteral("resolume"), QStringLiteral("Main - Out")),
                    FakeSourceDirectories::server(QStringLiteral("Arena"), QStringLiteral("")),
                    FakeSourceDirectories::server(QStringLiteral("kavio"), QStringLiteral("Kavio Syphon #2"))};
    Fixture f;
    const QString gone = QStringLiteral("Titler - Lower / Third - 2");
    const auto cue = f.addLive(KavioMediaTypeSyphon, QStringLiteral("s1"), gone);
    cue->setIsMissing(true);
    KavioPopUpButton* popup = f.o().videoSourcePopup;
    f.select({cue});
    // The program's own servers never show; names are text, sorted without regard to case.
    EXPECT_EQ(titles(popup), (QStringList{"Arena - ", "resolume - Main - Out", gone + " - DISCONNECTED"}));
    EXPECT_EQ(popup->titleOfSelectedItem(), gone + " - DISCONNECTED");
    EXPECT_EQ(f.o().sourceView->height(), 130);
    EXPECT_EQ(bottomOf(f.o().durationBox), 14);

    f.undo().removeAllActions();
    popup->chooseItemAtIndex(popup->indexOfSelectedItem());
    EXPECT_EQ(cue->mediaPath(), gone);
    EXPECT_TRUE(cue->isMissing());
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Change Video Sources"));
    EXPECT_EQ(popup->titleOfSelectedItem(), gone + " - DISCONNECTED");

    // A present server is selected as it is.
    popup->chooseItemAtIndex(popup->indexOfItemWithTitle(QStringLiteral("resolume - Main - Out")));
    EXPECT_EQ(cue->mediaPath(), QStringLiteral("resolume - Main - Out"));
    EXPECT_EQ(titles(popup), (QStringList{"Arena - ", "resolume - Main - Out"}));
    ASSERT_TRUE(f.undo().undo());
    EXPECT_EQ(cue->mediaPath(), gone);
}

TEST(KavioInspectorSources, NDIListsOtherSourcesOnlyAndMixedKindsDisableThePopup)
{
    InstalledDirectories dirs;
    dirs->ndi = {FakeSourceDirectories::ndiSource(QStringLiteral("STAGE-1 (Kavio NDI #1)")),
                 FakeSourceDirectories::ndiSource(QStringLiteral("Kavio")),
                 FakeSourceDirectories::ndiSource(QStringLiteral("CAMHOST (Kavio NDI #2)")),
                 FakeSourceDirectories::ndiSource(QStringLiteral("b-cam (ptz)")),
                 FakeSourceDirectories::ndiSource(QStringLiteral("A-CAM (PTZ)"))};
    Fixture f;
    const auto ndi = f.addLive(KavioMediaTypeNDI, QStringLiteral("n1"), QStringLiteral("A-CAM (PTZ)"));
    const auto syphon = f.addLive(KavioMediaTypeSyphon, QStringLiteral("s1"), QStringLiteral("App - Out"));
    KavioPopUpButton* popup = f.o().videoSourcePopup;
    f.select({ndi});
    EXPECT_EQ(titles(popup), (QStringList{"A-CAM (PTZ)", "b-cam (ptz)", "CAMHOST (Kavio NDI #2)"}));
    EXPECT_EQ(popup->titleOfSelectedItem(), QStringLiteral("A-CAM (PTZ)"));
    EXPECT_FALSE(f.o().ndiInfoBox->isHidden());
    EXPECT_EQ(f.o().sourceView->height(), 170);
    EXPECT_EQ(bottomOf(f.o().durationBox), 54);

    f.select({ndi, syphon});
    EXPECT_FALSE(popup->isEnabled());
    EXPECT_EQ(popup->indexOfSelectedItem(), -1);
    EXPECT_EQ(popup->numberOfItems(), 3);

    // Back to one cue: enabled again, no "(mixed)" left over.
    f.select({syphon, ndi});
    f.select({syphon});
    EXPECT_TRUE(popup->isEnabled());
    EXPECT_EQ(titles(popup), QStringList{"App - Out - DISCONNECTED"});
}

TEST(KavioInspectorSources, DeckLinkFormatsAreAdoptedUnrecordedMixedAndChangedWithUndo)
{
    InstalledDirectories dirs;
    const auto hd = deckLinkFormat(code("Hp25"), code("2vuy"));
    const auto uhd = deckLinkFormat(code("4k25"), code("2vuy"));
    dirs->formats = {{QStringLiteral("1080p25"), hd}, {QStringLiteral("4K2160p25"), uhd}};
    dirs->deckLink = {InspectorTest::deckLinkInput(QStringLiteral("DeckLink Duo (1)"), 11, 0),
                      InspectorTest::deckLinkInput(QStringLiteral("DeckLink Duo (2)"), 12, 0)};
    Fixture f;
    const auto one = f.addLive(KavioMediaTypeCamera, QStringLiteral("d1"), QStringLiteral("DeckLink Duo (1)"));
    const auto two = f.addLive(KavioMediaTypeCamera, QStringLiteral("d2"), QStringLiteral("DeckLink Duo (2)"));
    for (const auto& cue : {one, two})
        cue->setIsDeckLinkDevice(true);
    one->setDeviceUID(QStringLiteral("11"));
    two->setDeviceUID(QStringLiteral("12"));
    two->setDecklinkFormatString(QStringLiteral("4K2160p25"));
    KavioPopUpButton* formats = f.o().deckLinkFormatPopup;

    f.undo().removeAllActions();
    const int unsaved = f.app->unsavedChanges;
    f.select({one});
    EXPECT_EQ(one->decklinkFormatString(), QStringLiteral("1080p25"));
    EXPECT_EQ(f.undo().undoCount(), 0);
    EXPECT_EQ(f.app->unsavedChanges, unsaved);
    EXPECT_FALSE(f.o().deckLinkFormatBox->isHidden());
    EXPECT_FALSE(formats->isHidden());
    EXPECT_EQ(f.o().sourceView->height(), 170);
    EXPECT_EQ(bottomOf(f.o().deckLinkFormatBox), 87);
    EXPECT_EQ(bottomOf(f.o().durationBox), 14);
    EXPECT_EQ(formats->titleOfSelectedItem(), QStringLiteral("1080p25"));

    f.select({one, two});
    EXPECT_EQ(titles(formats), (QStringList{"(mixed)", "1080p25", "4K2160p25"}));
    EXPECT_EQ(formats->indexOfSelectedItem(), 0);
    formats->chooseItemAtIndex(2);
    EXPECT_EQ(one->decklinkFormatString(), QStringLiteral("4K2160p25"));
    EXPECT_EQ(two->decklinkFormatString(), QStringLiteral("4K2160p25"));
    ASSERT_EQ(dirs->applied.size(), 2);
    EXPECT_EQ(dirs->applied[0].format, uhd);
    EXPECT_EQ(dirs->applied[0].name, QStringLiteral("DeckLink Duo (1)"));
    EXPECT_EQ(dirs->applied[0].uid, QStringLiteral("11"));
    EXPECT_EQ(dirs->applied[1].uid, QStringLiteral("12"));
    EXPECT_EQ(f.undo().undoCount(), 1);
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Change Decklink Formats"));
    ASSERT_TRUE(f.undo().undo());
    EXPECT_EQ(one->decklinkFormatString(), QStringLiteral("1080p25"));
    EXPECT_EQ(two->decklinkFormatString(), QStringLiteral("4K2160p25"));
    // Each device gets its cue's own format back (the group undoes in reverse order).
    ASSERT_EQ(dirs->applied.size(), 4);
    EXPECT_EQ(dirs->applied[2].uid, QStringLiteral("12"));
    EXPECT_EQ(dirs->applied[2].format, uhd);
    EXPECT_EQ(dirs->applied[3].uid, QStringLiteral("11"));
    EXPECT_EQ(dirs->applied[3].format, hd);
    ASSERT_TRUE(f.undo().redo());
    EXPECT_EQ(one->decklinkFormatString(), QStringLiteral("4K2160p25"));

    // A title the popup does not hold changes nothing and records nothing.
    f.undo().removeAllActions();
    f.panel->undoChangeFormat(QStringLiteral("PAL"), one->uid());
    EXPECT_EQ(one->decklinkFormatString(), QStringLiteral("4K2160p25"));
    EXPECT_EQ(f.undo().undoCount(), 0);

    // The device's own switch shows in the popup; nothing else changes.
    f.select({one});
    EXPECT_EQ(formats->titleOfSelectedItem(), QStringLiteral("4K2160p25"));
    f.panel->deckLinkFormatChangedOnDevice(deckLinkFormat(code("Hp25"), code("2vuy")));
    EXPECT_EQ(formats->titleOfSelectedItem(), QStringLiteral("1080p25"));
    EXPECT_EQ(one->decklinkFormatString(), QStringLiteral("4K2160p25"));
    f.panel->deckLinkFormatChangedOnDevice(deckLinkFormat(code("pal "), code("2vuy")));
    EXPECT_EQ(formats->titleOfSelectedItem(), QStringLiteral("1080p25"));
}

// A page source whose window is a widget's, parked as the page's is.
struct FakePageSource : RecordingBrowserSource {
    QWidget page;
    QWindow* webWindow() const override { return page.windowHandle(); }
};

std::shared_ptr<FakePageSource> withPageSource(const std::shared_ptr<KavioVideoItem>& cue)
{
    auto source = std::make_shared<FakePageSource>();
    cue->setBrowserSource(source);
    return source;
}

TEST(KavioInspectorSources, PageSettingsApplyToEveryPageAndUndoEach)
{
    Fixture f;
    const auto one = addPageCue(f, QStringLiteral("p1"), QStringLiteral("http://one.example"));
    const auto two = addPageCue(f, QStringLiteral("p2"), QStringLiteral("http://two.example"));
    const auto first = withPageSource(one);
    const auto second = withPageSource(two);
    first->css = QStringLiteral("body { color: red }");
    second->unload = true;
    second->tag = 20;
    f.select({one, two});
    // The current cue's values, not mixed.
    EXPECT_EQ(f.o().browserCustomCSSField->text(), QStringLiteral("body { color: red }"));
    EXPECT_EQ(f.o().browserShouldUnloadOnPauseButton->state(), 0);
    EXPECT_TRUE(f.o().browserInteractButton->isHidden());
    f.undo().removeAllActions();

    // The style sheet: both pages load again, also for the same text typed again.
    Fixture::type(f.o().browserCustomCSSField, QStringLiteral("h1 { display: none }"));
    EXPECT_EQ(first->css, QStringLiteral("h1 { display: none }"));
    EXPECT_EQ(second->css, QStringLiteral("h1 { display: none }"));
    EXPECT_EQ(first->calls.count("load"), 1);
    EXPECT_EQ(second->calls.count("load"), 1);
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Change Browser Custom CSS"));
    f.o().browserCustomCSSField->setFocus();
    QTest::keyClick(f.o().browserCustomCSSField, Qt::Key_Return);
    EXPECT_EQ(first->calls.count("load"), 2);
    EXPECT_EQ(second->calls.count("load"), 2);
    EXPECT_EQ(f.undo().undoCount(), 2);
    ASSERT_TRUE(f.undo().undo());
    ASSERT_TRUE(f.undo().undo());
    EXPECT_EQ(first->css, QStringLiteral("body { color: red }"));
    EXPECT_EQ(second->css, QString());
    ASSERT_TRUE(f.undo().redo());
    EXPECT_EQ(second->css, QStringLiteral("h1 { display: none }"));

    // Unload on pause, from the button's own state.
    f.undo().removeAllActions();
    QTest::mouseClick(f.o().browserShouldUnloadOnPauseButton, Qt::LeftButton);
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return first->unload; }, 30.0));
    EXPECT_TRUE(second->unload);
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Change Browser Should Unload"));
    ASSERT_TRUE(f.undo().undo());
    EXPECT_FALSE(first->unload);
    EXPECT_TRUE(second->unload);

    // The capture size: the tag as the entry carries it, and each page resized at once.
    f.undo().removeAllActions();
    f.sizedOutputs->size = QSizeF(1920, 1080);
    KavioPopUpButton* sizes = f.o().browserRenderSizeTagPopup;
    sizes->chooseItemAtIndex(sizes->indexOfItemWithTag(10));
    EXPECT_EQ(first->tag, 10);
    EXPECT_EQ(second->tag, 10);
    ASSERT_FALSE(second->renderSizes.isEmpty());
    EXPECT_EQ(second->renderSizes.last(), QSizeF(1920, 1080));
    EXPECT_EQ(f.undo().undoCount(), 1);
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Change Browser Render Size"));
    ASSERT_TRUE(f.undo().undo());
    EXPECT_EQ(first->tag, 0);
    EXPECT_EQ(second->tag, 20);
}

TEST(KavioInspectorSources, TheInteractionWindowIsModalAndClosingLeavesItOpenBorderlessAndParked)
{
    Fixture f;
    const auto cue = addPageCue(f, QStringLiteral("p1"), QStringLiteral("http://one.example"));
    const auto source = withPageSource(cue);
    source->page.setWindowFlags(Qt::FramelessWindowHint | Qt::Tool | Qt::WindowDoesNotAcceptFocus);
    source->page.setGeometry(-2000, -2000, 320, 180);
    source->page.show();
    ASSERT_NE(source->webWindow(), nullptr);
    QWindow& window = *source->webWindow();
    f.select({cue});
    EXPECT_FALSE(f.o().browserInteractButton->isHidden());

    struct {
        bool visible = false;
        QString title;
        Qt::WindowModality modality = Qt::NonModal;
        Qt::WindowFlags flags;
        QRect geometry;
        bool blocksOthers = false;
        bool closed = true;
    } open;
    bool returned = false, rescued = false;
    QTimer::singleShot(0, &window, [&] {
        open.visible = window.isVisible() && source->page.isVisible();
        open.title = window.title();
        open.modality = window.modality();
        open.flags = window.flags();
        open.geometry = window.geometry();
        open.blocksOthers = QGuiApplication::modalWindow() == &window;
        open.closed = window.close();
    });
    // Should the close not end the interaction, the test ends it rather than hang.
    QTimer::singleShot(30000, &window, [&] {
        if (!returned) {
            rescued = true;
            f.panel->windowShouldClose(&window);
        }
    });
    QTest::mouseClick(f.o().browserInteractButton, Qt::LeftButton);
    returned = true;
    ASSERT_FALSE(rescued);

    EXPECT_TRUE(open.visible);
    EXPECT_EQ(open.title, QStringLiteral("Kavio's Browser Cue"));
    EXPECT_EQ(open.modality, Qt::ApplicationModal);
    EXPECT_TRUE(open.blocksOthers);
    EXPECT_TRUE(open.flags & Qt::WindowTitleHint);
    EXPECT_TRUE(open.flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(open.flags & Qt::WindowDoesNotAcceptFocus);
    EXPECT_FALSE(open.flags & Qt::FramelessWindowHint);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(open.geometry.size(), QSize(screen.width() - 100, screen.height() - 200));
    EXPECT_EQ(open.geometry.center(), screen.center());
    EXPECT_FALSE(open.closed);

    // Still open, borderless again and parked out of sight, no longer modal.
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(source->page.isVisible());
    EXPECT_TRUE(window.flags() & Qt::FramelessWindowHint);
    EXPECT_EQ(window.modality(), Qt::NonModal);
    EXPECT_EQ(QGuiApplication::modalWindow(), nullptr);
    ASSERT_EQ(source->flagsWhenParked.size(), 1);
    EXPECT_TRUE(source->flagsWhenParked.first() & Qt::FramelessWindowHint);
    // A later close is the program's own (the window goes with its source).
    EXPECT_TRUE(window.close());
}

TEST(KavioInspectorSources, TheWindowMenuKeepsTheManagersOrderAndSwitchesEveryWindowCue)
{
    InstalledDirectories dirs;
    dirs->windows = {{QStringLiteral("Titler / Lower - Third"), 31u}, {QStringLiteral("Browser / Show / Page"), 32u},
                     {QStringLiteral(" / "), 33u}};
    Fixture f;
    const auto one = f.addLive(KavioMediaTypeWindow, QStringLiteral("w1"), QStringLiteral("Browser / Show / Page"));
    const auto two = f.addLive(KavioMediaTypeWindow, QStringLiteral("w2"), QStringLiteral("Editor / Notes"));
    KavioPopUpButton* popup = f.o().windowSourcePopup;
    f.select({two});
    EXPECT_EQ(titles(popup), (QStringList{"Titler / Lower - Third", "Browser / Show / Page", " / ", "Editor / Notes - DISCONNECTED"}));
    EXPECT_EQ(popup->titleOfSelectedItem(), QStringLiteral("Editor / Notes - DISCONNECTED"));

    f.select({one, two});
    EXPECT_EQ(popup->titleOfSelectedItem(), QStringLiteral("(mixed)"));
    EXPECT_FALSE(popup->itemAtIndex(0).enabled);
    f.undo().removeAllActions();
    popup->chooseItemAtIndex(popup->indexOfItemWithTitle(QStringLiteral("Titler / Lower - Third")));
    EXPECT_EQ(one->mediaPath(), QStringLiteral("Titler / Lower - Third"));
    EXPECT_EQ(two->mediaPath(), QStringLiteral("Titler / Lower - Third"));
    EXPECT_EQ(f.undo().undoCount(), 1);
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Change Window Source"));
    ASSERT_TRUE(f.undo().undo());
    EXPECT_EQ(one->mediaPath(), QStringLiteral("Browser / Show / Page"));
    EXPECT_EQ(two->mediaPath(), QStringLiteral("Editor / Notes"));

    // The absent window chosen again: its name without the mark.
    f.select({two});
    popup->chooseItemAtIndex(popup->indexOfSelectedItem());
    EXPECT_EQ(two->mediaPath(), QStringLiteral("Editor / Notes"));

    // Reload takes the manager's list as it is now.
    dirs->windows.append({QStringLiteral("Editor / Notes"), 34u});
    QTest::mouseClick(f.o().windowSourceReloadButton, Qt::LeftButton);
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return popup->numberOfItems() == 4 && popup->indexOfSelectedItem() == 3; }, 30.0));
    EXPECT_EQ(popup->titleOfSelectedItem(), QStringLiteral("Editor / Notes"));
}

TEST(KavioInspectorSources, ChosenNamesLoseEveryDisconnectedMarkAndNothingElse)
{
    const struct {
        const char* title;
        const char* name;
    } cases[] = {
        {"Cam - DISCONNECTED", "Cam"},
        {"App - Out - DISCONNECTED - DISCONNECTED", "App - Out"},
        {"Owner / A - B", "Owner / A - B"},
        {" - DISCONNECTED", ""},
        {"", ""},
        {"x - disconnected", "x - disconnected"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(KavioSourceMenus::nameWithoutDisconnected(QString::fromUtf8(c.title)), QString::fromUtf8(c.name)) << c.title;
}

}  // namespace
