// The playlist pane and the View menu's display toggles in the running program, under the test's X
// server, with pictures of both kept in the build folder for a look.

#include "ShellTestSupport.h"

#include "Clock/QVTClock.h"
#include "Controller/KavioVideoItemManager.h"
#include "Cue/KavioVideoItem.h"
#include "Shell/KavioWindow.h"
#include "Support/KavioSliderInterface.h"
#include "Support/KavioTextFieldInterface.h"
#include "Views/KavioPopUpButton.h"

#include <QAction>
#include <QDir>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include <gtest/gtest.h>

namespace {

void save(QWidget& widget, const char* name)
{
    QDir().mkpath(QStringLiteral(KAVIO_SCREENSHOT_DIR));
    const QString path = QStringLiteral(KAVIO_SCREENSHOT_DIR "/%1.png").arg(QLatin1String(name));
    EXPECT_TRUE(widget.grab().save(path)) << path.toStdString();
}

QAction* viewItem(QMenu& view, KavioMenuAction action)
{
    for (QAction* item : view.actions())
        if (item->property("kavioMenuAction").toInt() == int(action))
            return item;
    return nullptr;
}

TEST(PlaylistPane, ChoosingAFrameRateRecountsTheCuesAndTheViewMenuTitlesFlip)
{
    ShellTestEnvironment env;
    ShellTestProgram program(env);
    program.launch();
    const auto controller = program.ui->controller();
    const auto cue = KavioVideoItem::initWithCamera(QStringLiteral("Test camera"), controller);
    controller->insertItem(cue, 1);
    controller->handleItemTimesUpdated();
    ASSERT_EQ(controller->masterClock()->smpteFormat(), QVTClockSMPTEFormat30);
    const QString endAt30 = cue->itemEndSMPTETime();

    controller->editPlaylistSettings();
    QWidget& preferences = program.ui->preferencesWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&preferences));
    EXPECT_EQ(program.app().outlets().preferencesTabView->currentWidget()->objectName(), QStringLiteral("playlist"));
    auto* frameRate = dynamic_cast<KavioPopUpButton*>(controller->outlets().frameratePopup);
    ASSERT_NE(frameRate, nullptr);
    frameRate->chooseItemAtIndex(frameRate->indexOfItemWithTag(QVTClockSMPTEFormat25));
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller->masterClock()->smpteFormat() == QVTClockSMPTEFormat25; }, 30000));
    // Two seconds of still end a frame short of two seconds, in the new rate's frames.
    EXPECT_EQ(endAt30, QStringLiteral("00:00:01:29"));
    EXPECT_EQ(cue->itemEndSMPTETime(), QStringLiteral("00:00:01:24"));
    EXPECT_EQ(program.defaults->stringForKey(QStringLiteral("defaultFrameRate")), frameRate->titleOfSelectedItem());
    QTest::qWait(0);
    save(preferences, "playlist-pane");

    KavioWindow& window = program.ui->window();
    QMenu* view = nullptr;
    for (QAction* top : window.menuBar()->actions())
        if (top->text() == QStringLiteral("View"))
            view = top->menu();
    ASSERT_NE(view, nullptr);
    QAction* overlay = viewItem(*view, KavioMenuAction::ToggleCueTimeOverlay);
    ASSERT_NE(overlay, nullptr);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    view->popup(window.mapToGlobal(QPoint(40, 40)));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view));
    EXPECT_EQ(overlay->text(), QStringLiteral("Hide Cue Times Overlay on Preview"));
    EXPECT_TRUE(overlay->isEnabled());
    save(*view, "view-menu");
    view->hide();
    overlay->trigger();
    view->popup(window.mapToGlobal(QPoint(40, 40)));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view));
    EXPECT_EQ(overlay->text(), QStringLiteral("Show Cue Times Overlay on Preview"));
    view->hide();
    controller->removeItem(cue);
}

// Every action the controller validates has one item in the menu bar; opening its menu enables it
// by the controller's rules.
TEST(PlaylistPane, TheControllersMenuItemsFollowItsRules)
{
    ShellTestEnvironment env;
    ShellTestProgram program(env);
    program.launch();
    const auto controller = program.ui->controller();
    KavioWindow& window = program.ui->window();
    QMap<int, QAction*> items;
    QMap<int, QMenu*> menus;
    for (QAction* top : window.menuBar()->actions())
        if (QMenu* menu = top->menu())
            for (QAction* item : menu->actions())
                if (const int action = item->property("kavioMenuAction").toInt(); action != int(KavioMenuAction::Other)) {
                    EXPECT_FALSE(items.contains(action)) << "one item per action: " << action;
                    items.insert(action, item);
                    menus.insert(action, menu);
                }
    for (int action = int(KavioMenuAction::RewindCurrentItem); action <= int(KavioMenuAction::CreateWindowSourceCue);
         ++action)
        EXPECT_TRUE(items.contains(action)) << "no item for action " << action;

    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const auto enabledWhenShown = [&](KavioMenuAction action) {
        QMenu* menu = menus.value(int(action));
        menu->popup(window.mapToGlobal(QPoint(40, 40)));
        EXPECT_TRUE(QTest::qWaitForWindowExposed(menu));
        const bool enabled = items.value(int(action))->isEnabled();
        menu->hide();
        return enabled;
    };
    // An empty show on the internal clock: cues can be made, nothing is current to rewind.
    EXPECT_TRUE(enabledWhenShown(KavioMenuAction::CreateVideoCue));
    EXPECT_FALSE(enabledWhenShown(KavioMenuAction::RewindCurrentItem));
    EXPECT_FALSE(enabledWhenShown(KavioMenuAction::SetGotoOnCurrentToSelected));
    EXPECT_TRUE(enabledWhenShown(KavioMenuAction::DoPanic));
    controller->outlets().masterSlider->setDoubleValue(0.0);
    EXPECT_FALSE(enabledWhenShown(KavioMenuAction::DoPanic)) << "panic with the fader down";

    // Collapsing wants a selection, and flips the selected rows.
    EXPECT_FALSE(enabledWhenShown(KavioMenuAction::ToggleCollapseExpandCues));
    const auto cue = KavioVideoItem::initWithCamera(QStringLiteral("Test camera"), controller);
    controller->insertItem(cue, 1);
    controller->selectItem(cue);
    EXPECT_TRUE(enabledWhenShown(KavioMenuAction::ToggleCollapseExpandCues));
    items.value(int(KavioMenuAction::ToggleCollapseExpandCues))->trigger();
    EXPECT_TRUE(cue->isCollapsed());
    items.value(int(KavioMenuAction::ToggleCollapseExpandCues))->trigger();
    EXPECT_FALSE(cue->isCollapsed());
    controller->removeItem(cue);
}

// The pane shows the clock as it is when it opens, whatever changed the clock meanwhile.
TEST(PlaylistPane, OpeningThePaneShowsTheClocksFormatAndOffset)
{
    ShellTestEnvironment env;
    ShellTestProgram program(env);
    program.launch();
    const auto controller = program.ui->controller();
    controller->masterClock()->setSmpteFormat(QVTClockSMPTEFormat25);
    controller->masterClock()->setClockOffset(3600.0);
    controller->editPlaylistSettings();
    EXPECT_EQ(controller->outlets().frameratePopup->selectedTag(), QVTClockSMPTEFormat25);
    EXPECT_EQ(controller->outlets().startTimeField->stringValue(), QStringLiteral("01:00:00:00"));
}

}  // namespace
