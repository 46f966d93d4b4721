// The main window's shell on the real main interface: side panels, menu validation, always on
// top, and the background view's bevel.

#include "ShellTestSupport.h"

#include "Audio/KavioWaveformManager.h"
#include "Controller/KavioVideoItemManager.h"
#include "Cue/KavioVideoItem.h"
#include "DispatchQueue.h"
#include "../media/MediaFixtures.h"
#include "NotificationCenter.h"
#include "Shell/KavioMasterView.h"
#include "Shell/KavioWindow.h"
#include "Views/KavioButton.h"
#include "Views/KavioHidingView.h"
#include "Views/KavioWaveformView.h"

#include <QAbstractAnimation>
#include <QAction>
#include <QFile>
#include <QProgressBar>
#include <QTest>

#include <gtest/gtest.h>

namespace {

struct PanelsFixture {
    ShellTestEnvironment env;
    ShellTestProgram program{env};
    AppDelegate& app = program.app();
    const AppDelegateOutlets& o = app.outlets();

    PanelsFixture()
    {
        program.ui->window().show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&program.ui->window()));
    }
    static void click(KavioButtonInterface* button) { QTest::mouseClick(dynamic_cast<KavioButton*>(button), Qt::LeftButton); }
    // Waits for the panel button to come back (its animation ended).
    static bool settled(KavioButtonInterface* button)
    {
        return QTest::qWaitFor([button] { return button->isEnabled(); }, 3000);
    }
};

TEST(AppDelegatePanels, HidingAndShowingTheRightPanelGivesTheCentreItsWidthBack)
{
    PanelsFixture f;
    const QRect middle = f.o.middleView->geometry();
    const int rightWidth = f.o.rightView->width();

    PanelsFixture::click(f.o.rightViewButton);
    EXPECT_TRUE(f.o.rightView->isHidden());
    EXPECT_FALSE(f.o.rightViewButton->isEnabled());
    ASSERT_NE(f.app.runningPanelAnimation(), nullptr);
    EXPECT_EQ(f.app.runningPanelAnimation()->totalDuration(), 400);
    // A second toggle while the animation runs changes nothing (it only beeps).
    f.app.toggleRightView(f.o.showHideCuePreferences);
    EXPECT_EQ(f.o.rightViewButton->state(), 0);
    ASSERT_TRUE(PanelsFixture::settled(f.o.rightViewButton));
    EXPECT_EQ(f.o.middleView->width(), middle.width() + rightWidth);
    EXPECT_EQ(f.o.showHideCuePreferences->text(), QStringLiteral("Show Cue Preferences"));
    EXPECT_FALSE(f.o.showHideCuePreferences->isChecked());
    EXPECT_EQ(f.o.rightView->maxWidth(), rightWidth);
    EXPECT_TRUE(f.app.hasUnsavedChanges());

    // The menu twin acts as a click.
    f.o.showHideCuePreferences->trigger();
    EXPECT_EQ(f.o.rightViewButton->state(), 1);
    ASSERT_TRUE(PanelsFixture::settled(f.o.rightViewButton));
    EXPECT_EQ(f.o.middleView->geometry(), middle);
    EXPECT_FALSE(f.o.rightView->isHidden());
    EXPECT_EQ(f.o.showHideCuePreferences->text(), QStringLiteral("Hide Cue Preferences"));
}

TEST(AppDelegatePanels, SynchronousFlagShowsTheLayoutAtOnceAndClearsItself)
{
    PanelsFixture f;
    f.app.setShouldUseSynchronousAnimationOnLeft(true);
    PanelsFixture::click(f.o.leftViewButton);
    if (QAbstractAnimation* animation = f.app.runningPanelAnimation()) {
        EXPECT_EQ(animation->totalDuration(), 0);
    }
    ASSERT_TRUE(PanelsFixture::settled(f.o.leftViewButton));
    EXPECT_EQ(f.o.verticalPlaceholderLeft->x(), 0);
    EXPECT_EQ(f.o.middleView->x(), f.o.verticalPlaceholderLeft->width());
    EXPECT_FALSE(f.app.shouldUseSynchronousAnimationOnLeft());
    EXPECT_FALSE(f.o.showHidePlaylist->isChecked());

    // Without the flag the next change takes its time.
    PanelsFixture::click(f.o.leftViewButton);
    ASSERT_NE(f.app.runningPanelAnimation(), nullptr);
    EXPECT_EQ(f.app.runningPanelAnimation()->totalDuration(), 400);
    ASSERT_TRUE(PanelsFixture::settled(f.o.leftViewButton));
    EXPECT_EQ(f.o.verticalPlaceholderLeft->x(), f.o.leftView->maxWidth());
    EXPECT_FALSE(f.o.leftView->isHidden());
}

TEST(AppDelegatePanels, OneSidePanelAlwaysStaysAndTheWaveformStripMovesTheCentre)
{
    PanelsFixture f;
    EXPECT_TRUE(f.app.validateMenuItem(f.o.showHideCuePreferences));
    f.app.setShouldUseSynchronousAnimationOnLeft(true);
    f.app.toggleLeftView(f.o.showHidePlaylist);
    ASSERT_TRUE(PanelsFixture::settled(f.o.leftViewButton));
    EXPECT_FALSE(f.app.validateMenuItem(f.o.showHideCuePreferences));
    EXPECT_TRUE(f.app.validateMenuItem(f.o.showHidePlaylist));

    const int height = f.o.middleView->height();
    f.app.toggleWaveformView(f.o.showHideWaveform);
    ASSERT_TRUE(PanelsFixture::settled(f.o.waveformViewButton));
    EXPECT_TRUE(f.o.waveformView->isHidden());
    EXPECT_EQ(f.o.middleView->height(), height + f.o.waveformView->height());
    EXPECT_EQ(f.o.showHideWaveform->text(), QStringLiteral("Show Waveform"));
}

TEST(AppDelegatePanels, ThePanelsComeBackFromTheRecordWithoutAnimation)
{
    QVariantMap record;
    {
        PanelsFixture f;
        f.app.setShouldUseSynchronousAnimationOnRight(true);
        f.app.toggleRightView(f.o.showHideCuePreferences);
        ASSERT_TRUE(PanelsFixture::settled(f.o.rightViewButton));
        f.app.toggleWaveformView(f.o.showHideWaveform);
        ASSERT_TRUE(PanelsFixture::settled(f.o.waveformViewButton));
        f.o.rightView->setMaxWidth(300);
        record = f.app.saveData();
    }
    EXPECT_EQ(record.value(QStringLiteral("rightViewButton")), false);
    EXPECT_EQ(record.value(QStringLiteral("waveformViewButton")), false);
    EXPECT_EQ(record.value(QStringLiteral("leftViewButton")), true);
    EXPECT_EQ(record.value(QStringLiteral("rightViewMaxWidth")), 300.0f);

    PanelsFixture f;
    const QRect middle = f.o.middleView->geometry();
    const int shownWidth = f.o.rightView->width();
    f.app.loadWithData(record);
    // The side panel is laid out at once; the strip animates as usual. Hiding keeps the width
    // the panel had as its width.
    EXPECT_TRUE(f.o.rightView->isHidden());
    EXPECT_EQ(f.o.rightView->maxWidth(), shownWidth);
    ASSERT_TRUE(PanelsFixture::settled(f.o.rightViewButton));
    ASSERT_TRUE(PanelsFixture::settled(f.o.waveformViewButton));
    EXPECT_EQ(f.o.middleView->width(), middle.width() + shownWidth);
    EXPECT_TRUE(f.o.waveformView->isHidden());
    EXPECT_FALSE(f.o.leftView->isHidden());

    f.app.loadWithData({{QStringLiteral("rightViewMaxWidth"), 280.0f}, {QStringLiteral("leftViewButton"), QStringLiteral("0")}});
    EXPECT_EQ(f.o.rightView->maxWidth(), 280);
    EXPECT_EQ(f.o.leftViewButton->state(), 1);
}

TEST(AppDelegatePanels, CueTypesAndMenuTitles)
{
    PanelsFixture f;
    int posted = 0;
    NotificationCenter::defaultCenter().addObserver(&posted, kKavioCueTypesToggledNotification, nullptr,
                                                    [&posted](const Notification&) { ++posted; });
    f.app.toggleCueTypes();
    NotificationCenter::defaultCenter().removeObserver(&posted);
    EXPECT_EQ(posted, 1);
    EXPECT_TRUE(f.program.defaults->boolForKey(QStringLiteral("toggleShowCueTypes")));
    EXPECT_TRUE(f.app.validateMenuItem(f.o.toggleCueTypesMenuItem));
    EXPECT_EQ(f.o.toggleCueTypesMenuItem->text(), QStringLiteral("Hide Cue Types"));

    f.program.ui->controller()->setIsTranscoding(true);
    EXPECT_FALSE(f.app.validateMenuItem(f.o.newProjectMenuItem));
    EXPECT_FALSE(f.app.validateMenuItem(f.o.loadProjectMenuItem));
}

TEST(AppDelegatePanels, AlwaysOnTopTwiceIsBackToNormal)
{
    PanelsFixture f;
    f.app.changeAlwaysOnTop();
    EXPECT_EQ(f.app.mainWindowLevel(), 25);
    EXPECT_TRUE(f.o.alwaysOnTopMenuItem->isChecked());
    EXPECT_TRUE(f.program.ui->window().isVisible());
    f.app.changeAlwaysOnTop();
    EXPECT_EQ(f.app.mainWindowLevel(), 0);
    EXPECT_FALSE(f.o.alwaysOnTopMenuItem->isChecked());
    EXPECT_TRUE(f.program.ui->window().isVisible());
}

TEST(KavioMasterView, DrawsItsBevel)
{
    KavioMasterView view;
    view.resize(100, 60);
    QImage image(view.size(), QImage::Format_ARGB32);
    image.fill(Qt::black);
    view.render(&image);
    const auto grey = [&image](int x, int y) { return qGray(image.pixel(x, y)); };
    const int body = 46;     // white 0.18
    const int light = 87;    // white 0.5 at half opacity over the body
    const int dark = 26;     // white 0.1
    EXPECT_NEAR(grey(50, 30), body, 2);
    EXPECT_NEAR(grey(50, 0), light, 2);   // top edge
    EXPECT_NEAR(grey(0, 30), light, 2);   // left edge
    EXPECT_NEAR(grey(50, 59), dark, 2);   // bottom edge
    EXPECT_NEAR(grey(99, 30), dark, 2);   // right edge
    EXPECT_NEAR(grey(50, 1), body, 2);
    EXPECT_NEAR(grey(50, 58), body, 2);
}

}  // namespace

TEST(AppDelegatePanels, TheWaveformStripFollowsTheCurrentCueAndShowsABusyBarWhileWaveformsAreBuilt)
{
    PanelsFixture f;
    const auto controller = f.program.ui->controller();
    // The view has no meta-object of its own, so findChild cannot tell it from other widgets.
    KavioWaveformView* strip = nullptr;
    for (QWidget* child : f.o.waveformView->findChildren<QWidget*>())
        strip = strip ? strip : dynamic_cast<KavioWaveformView*>(child);
    ASSERT_NE(strip, nullptr);
    auto* busy = strip->findChild<QProgressBar*>();
    ASSERT_NE(busy, nullptr);
    EXPECT_TRUE(busy->isHidden());

    // The manager follows the current cue and draws the range into the strip.
    const QString sound = f.env.dir.filePath(QStringLiteral("tone.wav"));
    ASSERT_TRUE(QFile::copy(QString::fromStdString(MediaFixtures::path("tone44k.wav")), sound));
    ASSERT_TRUE(controller->createItemWithPath(sound));
    const auto cue = controller->items()->front();
    controller->setCurrentItem(cue);
    const auto waveform = std::dynamic_pointer_cast<KavioWaveformManager>(controller->outlets().waveformManager.lock());
    ASSERT_TRUE(waveform);
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return waveform->currentItem() == cue; }, 30.0));
    waveform->redrawMinMaxOnWaveformWithMin(5.0, 50.0);
    EXPECT_EQ(strip->displayMin(), 5.0f);
    EXPECT_EQ(strip->displayMax(), 50.0f);
    // A hidden strip keeps what it showed.
    f.app.toggleWaveformView(f.o.showHideWaveform);
    ASSERT_TRUE(PanelsFixture::settled(f.o.waveformViewButton));
    waveform->redrawMinMaxOnWaveformWithMin(7.0, 70.0);
    EXPECT_EQ(strip->displayMin(), 5.0f);
    EXPECT_EQ(strip->displayMax(), 50.0f);

    // Two jobs running, one ends: the bar stays until the last one ends.
    auto& center = NotificationCenter::defaultCenter();
    center.post(KavioWaveformNotification::DidStart);
    center.post(KavioWaveformNotification::DidStart);
    center.post(KavioWaveformNotification::DidEnd);
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return !busy->isHidden(); }, 30.0));
    center.post(KavioWaveformNotification::DidEnd);
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return busy->isHidden(); }, 30.0));
}
