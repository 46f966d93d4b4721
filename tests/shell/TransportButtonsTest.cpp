// The transport row's step buttons in the whole program, on a show opened from its file as the
// operator opens one (rendering running): a click on the real button reaches the controller's
// jump while the test only waits for its effect, so a step that could complete only once the
// waiting caller returned fails here.

#include "ShellTestSupport.h"

#include "../media/MediaFixtures.h"
#include "Clock/QVTClock.h"
#include "Controller/KavioVideoItemManager.h"
#include "Cue/KavioVideoItem.h"
#include "DispatchQueue.h"
#include "Shell/KavioWindow.h"
#include "Views/KavioButton.h"

#include <QFile>
#include <QTest>

#include <gtest/gtest.h>

namespace {

struct MovieShow {
    ShellTestEnvironment env;
    ShellTestProgram program{env};
    std::shared_ptr<KavioVideoItemManager> controller;
    KavioVideoItemListSnapshot cues;

    explicit MovieShow(int count)
    {
        program.launch();
        controller = program.ui->controller();
        const QString movie = QString::fromStdString(MediaFixtures::path("counter25.mp4"));
        for (int n = 0; n < count; ++n) {
            const QString copy = env.dir.filePath(QStringLiteral("cue%1.mp4").arg(n));
            EXPECT_TRUE(QFile::copy(movie, copy));
            EXPECT_TRUE(controller->createItemWithPath(copy));
        }
        AppDelegate& app = program.app();
        const QString path = env.dir.filePath(QStringLiteral("Show.kavio2"));
        EXPECT_TRUE(app.processSaveWithURL(path));
        app.newProject();
        EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return controller->items()->empty(); }, 30));
        program.load(path);
        cues = controller->items();
        EXPECT_EQ(cues->size(), std::size_t(count));
        EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return allReady() && controller->canJump(); }, 30));
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&program.ui->window()));
    }

    bool allReady() const
    {
        return std::all_of(cues->begin(), cues->end(), [](const auto& cue) { return cue->isReady(); });
    }
    void click(KavioButtonInterface* control)
    {
        auto* widget = dynamic_cast<KavioButton*>(control);
        ASSERT_TRUE(widget);
        ASSERT_TRUE(widget->isEnabled());
        QTest::mouseClick(widget, Qt::LeftButton);
    }
    // The jump has made `position` current and may take the next press.
    bool becomesCurrent(std::size_t position)
    {
        return DispatchQueue::runMainUntil(
            [&] { return controller->currentItem() == (*cues)[position] && controller->canJump(); }, 30);
    }
};

}  // namespace

TEST(TransportButtons, EachStepMakesItsCueCurrentWhileTheCallerWaits)
{
    MovieShow show(3);
    ASSERT_FALSE(::testing::Test::HasFailure());
    const AppDelegateOutlets& o = show.program.app().outlets();
    ASSERT_EQ(show.controller->currentItem(), (*show.cues)[0]);
    const struct {
        KavioButtonInterface* button;
        const char* name;
        std::size_t target;
    } steps[] = {
        {o.nextItemButton, "next", 1},   {o.fastforwardButton, "fast forward", 2}, {o.prevItemButton, "previous", 1},
        {o.rewindButton, "rewind", 0},   {o.nextItemButton, "next again", 1},      {o.prevItemButton, "previous to the first", 0},
    };
    for (const auto& step : steps) {
        show.click(step.button);
        EXPECT_TRUE(show.becomesCurrent(step.target)) << step.name;
    }
}

TEST(TransportButtons, NextWhilePlayingStopsOnTheNextCue)
{
    MovieShow show(2);
    ASSERT_FALSE(::testing::Test::HasFailure());
    const AppDelegateOutlets& o = show.program.app().outlets();
    show.click(o.playButton);
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return show.controller->masterClock()->isRunning(); }, 30));
    show.click(o.nextItemButton);
    EXPECT_TRUE(show.becomesCurrent(1));
    // The jump behaviour of a new show stands by on the target.
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return !show.controller->masterClock()->isRunning(); }, 30));
}
