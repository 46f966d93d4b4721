// The transport row's step buttons in the whole program, on a show opened from its file as the
// operator opens one (rendering running): a click on the real button reaches the controller's
// jump while the test only waits for its effect, so a step that could complete only once the
// waiting caller returned fails here.

#include "MovieShow.h"

#include "Clock/QVTClock.h"
#include "Shell/KavioWindow.h"

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
