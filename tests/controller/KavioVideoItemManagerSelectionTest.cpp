#include "ControllerFakes.h"

#include "NotificationCenter.h"

#include <QRegularExpression>


#include <future>
#include <thread>

#include <gtest/gtest.h>

namespace {

struct SelectionFixture : ControllerFixture {
    std::vector<std::shared_ptr<FixedLengthCue>> cues;
    int selectionChanges = 0;
    NotificationCenter::Token token = 0;

    explicit SelectionFixture(int count = 5)
    {
        connected();
        cues = addCues(std::vector<std::int64_t>(std::size_t(count), 250));
        token = NotificationCenter::defaultCenter().addObserver(nullptr, kKavioSelectionChangedNotification, nullptr,
                                                                [this](const Notification&) { ++selectionChanges; });
    }
    ~SelectionFixture() { NotificationCenter::defaultCenter().removeObserver(token); }

    QList<std::uint64_t> selectedIndexes() const
    {
        QList<std::uint64_t> indexes;
        for (const auto& item : controller->selectedItems())
            indexes << item->index();
        return indexes;
    }
};

TEST(KavioVideoItemManagerSelection, StepsStartFromTheSelectionOrElseTheCurrentCue)
{
    SelectionFixture f;
    f.controller->selectPreviousCue();  // nothing selected, nothing current
    EXPECT_TRUE(f.selectedIndexes().isEmpty());

    f.controller->setCurrentItem(f.cues[2]);
    f.log.take();
    f.controller->selectPreviousCue();
    EXPECT_EQ(f.selectedIndexes(), QList<std::uint64_t>{2});
    EXPECT_EQ(f.controller->lastClickedItem(), f.cues[1]);
    EXPECT_EQ(f.log.take().filter("scrollTo"), QStringList{"view.scrollTo(c2)"});  // not visible

    f.view->visible.insert(f.cues[0].get());
    f.controller->selectPreviousCue();
    EXPECT_EQ(f.selectedIndexes(), QList<std::uint64_t>{1});
    EXPECT_TRUE(f.log.take().filter("scrollTo").isEmpty());

    // At the first cue there is nowhere to go: only the anchor goes.
    const int changes = f.selectionChanges;
    f.controller->selectPreviousCue();
    EXPECT_EQ(f.selectedIndexes(), QList<std::uint64_t>{1});
    EXPECT_EQ(f.controller->lastClickedItem(), nullptr);
    EXPECT_EQ(f.selectionChanges, changes);

    f.controller->selectItems({f.cues[3]});
    f.controller->selectNextCue();  // from the last selected
    EXPECT_EQ(f.selectedIndexes(), QList<std::uint64_t>{5});
}

TEST(KavioVideoItemManagerSelection, SelectingFromAnotherThreadHappensOnTheMainThread)
{
    SelectionFixture f(3);
    std::thread([&] {
        f.controller->selectItem(f.cues[2]);
        f.controller->scrollToItem(f.cues[2]);
    }).join();
    EXPECT_TRUE(f.selectedIndexes().isEmpty());
    EXPECT_TRUE(f.log.take().filter("scrollTo").isEmpty());
    DispatchQueue::drainMain();
    EXPECT_EQ(f.selectedIndexes(), QList<std::uint64_t>{3});
    EXPECT_EQ(f.log.take().filter("scrollTo"), QStringList{"view.scrollTo(c3)"});
}

TEST(KavioVideoItemManagerSelection, SelectionOperations)
{
    SelectionFixture f;
    f.cues[1]->setColorTag(3);
    f.cues[3]->setColorTag(3);
    f.controller->selectItem(f.cues[0]);
    f.controller->selectItemsByColorTag(3);
    EXPECT_EQ(f.selectedIndexes(), QList<std::uint64_t>({2, 4}));
    EXPECT_TRUE(f.controller->shouldShowColorTags());

    f.controller->selectAllItems();
    EXPECT_EQ(f.selectedIndexes().size(), 5);
    EXPECT_EQ(f.controller->lastClickedItem(), nullptr);

    // Both ends included; a range reaching past the list is cut at its end.
    f.controller->deselectItemsInPositionRange(2, 1);
    EXPECT_EQ(f.selectedIndexes(), QList<std::uint64_t>({1, 4, 5}));
    f.controller->deselectItemsInPositionRange(4, 100);
    EXPECT_EQ(f.selectedIndexes(), QList<std::uint64_t>{1});
    f.controller->selectItemsInPositionRange(0, 1);
    EXPECT_EQ(f.selectedIndexes(), QList<std::uint64_t>{1});
    EXPECT_EQ(f.controller->indexOfFirstSelectedItem(), 1);
    EXPECT_EQ(f.controller->notSelectedItems().size(), 4u);

    f.controller->selectItem(nullptr);
    EXPECT_EQ(f.selectedIndexes(), QList<std::uint64_t>{1});
    f.controller->selectItems({});
    EXPECT_EQ(f.controller->indexOfLastSelectedItem(), 1);
}

TEST(KavioVideoItemManagerSelection, KeyboardRangeGrowsAndShrinksAtItsMovingEnd)
{
    SelectionFixture f;
    f.controller->selectItem(f.cues[2]);
    const struct {
        bool down;
        QList<std::uint64_t> selected;
        std::uint64_t moving;
    } steps[] = {
        {true, {3, 4}, 4}, {true, {3, 4, 5}, 5}, {true, {3, 4, 5}, 5},  // stops at the last cue
        {false, {3, 4}, 4}, {false, {3}, 3}, {false, {2, 3}, 2},
    };
    for (const auto& step : steps) {
        step.down ? f.controller->expandSelectionDown() : f.controller->expandSelectionUp();
        EXPECT_EQ(f.selectedIndexes(), step.selected);
        EXPECT_EQ(f.controller->lastExpandIndex(), step.moving);
    }

    f.controller->selectItem(f.cues[0]);
    f.controller->expandSelectionUp();
    EXPECT_EQ(f.selectedIndexes(), QList<std::uint64_t>{1});
    EXPECT_EQ(f.controller->lastExpandIndex(), 1u);
}

TEST(KavioVideoItemManagerSelection, LookupsTakeTheFirstMatchAndCueIDsBeforePositions)
{
    SelectionFixture f;
    f.cues[4]->setCueID(QStringLiteral("2"));
    f.cues[1]->setCueName(QStringLiteral("Intro"));
    f.cues[3]->setCueName(QStringLiteral("Intro"));
    EXPECT_EQ(f.controller->itemWithCueID(QStringLiteral("2")), f.cues[4]);
    EXPECT_EQ(f.controller->itemWithCueID(QStringLiteral("3")), f.cues[2]);
    EXPECT_EQ(f.controller->itemWithName(QStringLiteral("Intro")), f.cues[1]);
    EXPECT_EQ(f.controller->itemWithName(QStringLiteral("intro")), nullptr);
    EXPECT_EQ(f.controller->itemWithUID(QStringLiteral("c4")), f.cues[3]);
    EXPECT_EQ(f.controller->itemWithIndex(5), f.cues[4]);
    for (const QString& none : {QString(), QStringLiteral("zz")}) {
        EXPECT_EQ(f.controller->itemWithUID(none), nullptr);
        EXPECT_EQ(f.controller->itemWithName(none), nullptr);
        EXPECT_EQ(f.controller->itemWithCueID(none), nullptr);
    }
    EXPECT_EQ(f.controller->itemWithIndex(0), nullptr);
    EXPECT_EQ(f.controller->itemIndexAtLocation({5, 45}), 3u);
    EXPECT_EQ(f.controller->itemIndexAtLocation({5, 500}), 0u);

    f.controller->selectAndScrollToItemAtCueID(QStringLiteral("2"));
    EXPECT_EQ(f.selectedIndexes(), QList<std::uint64_t>{5});
}

TEST(KavioVideoItemManagerSelection, MovesLandBeforeOrAfterTheTargetAndUndoAndRedo)
{
    SelectionFixture f;
    UndoManager& undo = f.app->undo;
    EXPECT_TRUE(f.controller->moveItemWithUID(QStringLiteral("c2"), 5));
    EXPECT_EQ(f.uidsInOrder(), QStringList({"c1", "c3", "c4", "c5", "c2"}));
    EXPECT_TRUE(f.controller->moveItemWithUID(QStringLiteral("c5"), 3));
    EXPECT_EQ(f.uidsInOrder(), QStringList({"c1", "c3", "c5", "c4", "c2"}));

    ASSERT_TRUE(undo.undo());
    EXPECT_EQ(f.uidsInOrder(), QStringList({"c1", "c3", "c4", "c5", "c2"}));
    ASSERT_TRUE(undo.undo());
    EXPECT_EQ(f.uidsInOrder(), QStringList({"c1", "c2", "c3", "c4", "c5"}));
    ASSERT_TRUE(undo.redo());
    EXPECT_EQ(f.uidsInOrder(), QStringList({"c1", "c3", "c4", "c5", "c2"}));

    // Moving by one row swaps neighbours; a target beyond the list is its end.
    EXPECT_TRUE(f.controller->moveItemWithUID(QStringLiteral("c5"), 3));
    EXPECT_EQ(f.uidsInOrder(), QStringList({"c1", "c3", "c5", "c4", "c2"}));
    EXPECT_TRUE(f.controller->moveItemWithUID(QStringLiteral("c1"), 99));
    EXPECT_EQ(f.uidsInOrder(), QStringList({"c3", "c5", "c4", "c2", "c1"}));
    EXPECT_FALSE(f.controller->moveItemWithUID(QStringLiteral("c1"), 5));

    // An unknown uid moves nothing, still rebuilds and marks the project changed, registers no undo.
    const int undoSteps = undo.undoCount();
    f.log.take();
    EXPECT_FALSE(f.controller->moveItemWithUID(QStringLiteral("nope"), 1));
    const QStringList calls = f.log.take();
    EXPECT_TRUE(calls.contains("inspector.videoItemsUpdated"));
    EXPECT_TRUE(calls.contains("app.unsaved(1)"));
    EXPECT_EQ(undo.undoCount(), undoSteps);

    f.controller->moveItemsWithUIDs({QStringLiteral("c1"), QStringLiteral("c2")}, 1);
    EXPECT_EQ(f.uidsInOrder(), QStringList({"c1", "c2", "c3", "c5", "c4"}));
}

TEST(KavioVideoItemManagerSelection, DropMarkerFollowsThePointer)
{
    SelectionFixture f(3);
    f.controller->makeDragMarkerAtLocation({5, 25});
    EXPECT_EQ(f.controller->newCueIndex(), 2u);
    EXPECT_EQ(f.view->dragMarked, QSet<KavioVideoItem*>{f.cues[1].get()});
    f.controller->makeDragMarkerAtLocation({5, 400});  // below the rows
    EXPECT_EQ(f.controller->newCueIndex(), 4u);
    EXPECT_TRUE(f.view->dragMarked.isEmpty());
}

TEST(KavioVideoItemManagerSelection, CollapsingTouchesTheSelectionOrWithAltEveryRow)
{
    SelectionFixture f(3);
    f.controller->toggleSelectedItemsWithItem(nullptr);
    for (const auto& cue : f.cues)
        EXPECT_FALSE(cue->isCollapsed());

    f.controller->toggleSelectedItemsWithItem(f.cues[1]);  // selects it alone, then collapses it
    EXPECT_EQ(f.selectedIndexes(), QList<std::uint64_t>{2});
    EXPECT_TRUE(f.cues[1]->isCollapsed());
    EXPECT_FALSE(f.cues[0]->isCollapsed());
    EXPECT_TRUE(f.log.take().contains("view.updateHeight"));

    f.app->alt = true;
    f.controller->toggleSelectedItemsWithItem(nullptr);
    for (const auto& cue : f.cues)
        EXPECT_TRUE(cue->isCollapsed());
    f.controller->toggleSelectedItemsWithItem(f.cues[1]);
    for (const auto& cue : f.cues)
        EXPECT_FALSE(cue->isCollapsed());
}

TEST(KavioVideoItemManagerSelection, SelectedItemsAnswersFromInsideTheItemsQueue)
{
    SelectionFixture f(3);
    f.controller->selectItem(f.cues[1]);
    std::promise<std::size_t> answer;
    auto result = answer.get_future();
    f.controller->itemsQueue().async([&] { answer.set_value(f.controller->selectedItems().size()); });
    ASSERT_EQ(result.wait_for(std::chrono::seconds(30)), std::future_status::ready) << "deadlock on the items queue";
    EXPECT_EQ(result.get(), 1u);
}

TEST(KavioVideoItemManagerSelection, CurrentCueFromTheClockThreadTouchesControlsOnlyOnTheMainThread)
{
    struct Case {
        float seconds;
        bool goto10, goto20, goto30;
    };
    const Case cases[] = {{9.99f, false, false, false}, {10.0f, true, false, false}, {15.0f, true, false, false},
                          {20.0f, true, true, false},   {30.0f, true, true, true}};
    for (const auto& c : cases) {
        SelectionFixture f(2);
        for (auto* button : {&f.goto10, &f.goto20, &f.goto30})
            button->setEnabled(true);
        f.cues[0]->setItemDuration(c.seconds);
        std::thread([&] { f.controller->setCurrentItem(f.cues[0]); }).join();
        EXPECT_EQ(f.controller->currentItem(), f.cues[0]);
        EXPECT_TRUE(f.goto10.isEnabled() && f.goto20.isEnabled() && f.goto30.isEnabled());
        EXPECT_TRUE(f.log.take().filter("waveform").isEmpty());

        DispatchQueue::drainMain();
        EXPECT_EQ(f.goto10.isEnabled(), c.goto10) << c.seconds;
        EXPECT_EQ(f.goto20.isEnabled(), c.goto20) << c.seconds;
        EXPECT_EQ(f.goto30.isEnabled(), c.goto30) << c.seconds;
        EXPECT_TRUE(f.marker->throttlers);  // a movie
        EXPECT_EQ(f.log.take().filter(QRegularExpression("waveform|inspector.handle")),
                  QStringList({"waveform.setCurrentItem(c1)", "inspector.handlePlayingRelatedOptions", "waveform.redraw(10,90)"}));
    }
}

TEST(KavioVideoItemManagerSelection, WithoutACurrentCueTheMarkerShowsTenEmptySeconds)
{
    SelectionFixture f(2);
    f.controller->masterClock()->setSmpteFormat(QVTClockSMPTEFormat24);
    f.cues[0]->setMediaType(KavioMediaTypeStill);
    f.controller->setCurrentItem(f.cues[0]);
    DispatchQueue::drainMain();
    EXPECT_FALSE(f.marker->throttlers);
    EXPECT_TRUE(f.marker->enabled);

    f.controller->setCurrentItem(nullptr);
    DispatchQueue::drainMain();
    EXPECT_FALSE(f.marker->enabled);
    EXPECT_EQ(f.marker->compTime, 10.0);
    EXPECT_EQ(f.marker->fps, 24u);
    EXPECT_EQ(f.marker->inTime(), 0);
    EXPECT_EQ(f.marker->outTime(), 239);
    EXPECT_EQ(f.marker->markerTime(), 0);
    EXPECT_FALSE(f.controller->isCurrentItemIsAvailableForPlayback());
}

TEST(KavioVideoItemManagerSelection, GotoTargetsAndTheNextCueToSelect)
{
    SelectionFixture f(3);
    f.cues[0]->setGotoItemUID(QStringLiteral("c3"));
    f.cues[1]->setGotoItemUID(QStringLiteral("c3"));
    f.controller->removeItem(f.cues[2]);
    f.controller->updateGotoItemUIDs();
    EXPECT_TRUE(f.cues[0]->gotoItemUID().isEmpty());  // its target left the list

    f.controller->setCurrentItem(f.cues[0]);
    f.controller->checkIfNeedsToSelectNextItemToPlay();
    EXPECT_EQ(f.selectedIndexes(), QList<std::uint64_t>{2});
    f.log.take();
    f.controller->setGotoOnCurrentToSelected();
    EXPECT_EQ(f.log.take(), QStringList{"inspector.undoChangeGotoItem(c2,c1)"});
}

TEST(KavioVideoItemManagerSelection, StateViewsFollowTheCurrentCuesTransition)
{
    SelectionFixture f(3);
    f.controller->setCurrentItem(f.cues[0]);
    DispatchQueue::drainMain();
    const QStringList reset{"view.stateViewToOrigin(c1)", "view.stateViewHidden(c2,1)", "view.stateViewToOrigin(c2)"};
    for (const bool inTransition : {false, true}) {
        f.cues[0]->inTransition = inTransition;
        f.log.take();
        f.controller->checkIfCurrentCueIsProcessingTransitionAndHandleStateView();
        f.controller->checkIfCurrentCueIsNotProcessingTransitionToNextCueAndHandleStateView();
        EXPECT_TRUE(f.log.take().isEmpty());  // the views change on the main queue
        DispatchQueue::drainMain();
        EXPECT_EQ(f.log.take(), reset) << inTransition;
        EXPECT_EQ(f.cues[1]->meterUpdates, 1);  // only once the crossing is over
    }
}

}  // namespace
