// The playlist pane and the View menu's display toggles in the running program, under the test's X
// server, with pictures of both kept in the build folder for a look.

#include "ShellTestSupport.h"

#include "Clock/QVTClock.h"
#include "Controller/KavioVideoItemManager.h"
#include "Cue/KavioVideoItem.h"
#include "Shell/KavioWindow.h"
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

}  // namespace
