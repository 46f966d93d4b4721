// The refresh from the selection: layouts by media type, several cues at once, the colour tag,
// nothing while a project loads, the feedback, the keyboard back to the list, an open edit.

#include "InspectorTestSupport.h"

#include "Inspector/KavioColorChangingTextFieldCell.h"
#include "Inspector/KavioInspectorThumbnailView.h"
#include "NotificationCenter.h"
#include "Inspector/KavioVideoItemPreferencesViewItem.h"
#include "Views/KavioColorTagIndicator.h"
#include "Views/KavioColorTagView.h"
#include "Views/KavioPopUpButton.h"
#include "Views/KavioScrollView.h"

#include <QApplication>
#include <QScrollBar>
#include <QTest>

#include <thread>

#include <gtest/gtest.h>

using InspectorTest::Fixture;

namespace {

std::vector<std::int32_t> markedTags(const KavioColorTagView& view)
{
    std::vector<std::int32_t> tags;
    for (const KavioColorTagIndicator* swatch : view.swatches())
        if (swatch->isSelected())
            tags.push_back(swatch->colorTag());
    return tags;
}

TEST(KavioInspectorRefresh, TheGeneralSectionTakesTheLayoutOfTheCuesMediaType)
{
    Fixture f;
    const auto movie = f.add(InspectorTest::movie30());
    const auto audio = f.add(InspectorTest::wav());
    const auto still = f.add(f.still(QStringLiteral("s.png")));
    const auto gone = f.add(f.media.filePath(QStringLiteral("gone.mp4")));
    ASSERT_TRUE(movie && audio && still && gone);

    struct Case {
        std::shared_ptr<KavioVideoItem> cue;
        int height;
        bool inOut, speed;
    };
    for (const Case& c : {Case{movie, 280, true, true}, Case{audio, 244, true, false}, Case{still, 210, false, false},
                          Case{gone, 210, false, false}}) {
        f.select({c.cue});
        SCOPED_TRACE(c.cue->mediaPath().toStdString());
        EXPECT_EQ(f.o().infoView->height(), c.height);
        EXPECT_EQ(!f.o().inOutPointsBox->isHidden(), c.inOut);
        EXPECT_EQ(!f.o().playbackSpeedBox->isHidden(), c.speed);
        EXPECT_FALSE(f.o().gotoBox->isHidden());
        // The options stay at the top of the section, the goto row at its bottom.
        EXPECT_EQ(f.o().topOptionsBox->y(), 0);
        EXPECT_EQ(f.o().bottomOptionsBox->geometry().bottom() + 1, c.height + 5);
        EXPECT_EQ(f.o().locaitonInfoField->text(), c.cue->mediaPath());
    }
    EXPECT_FALSE(f.o().inTimecodeField->isEnabled());
    f.select({movie});
    EXPECT_EQ(f.o().playbackSpeedField->text(), QStringLiteral("100"));
    EXPECT_EQ(f.o().playbackSpeedBox->y(), 280 - 49 - f.o().playbackSpeedBox->height());
}

TEST(KavioInspectorRefresh, SeveralCuesShowDashesMixedPlaceholdersAndTheirCommonTag)
{
    Fixture f;
    const auto a = f.add(f.still(QStringLiteral("a.png")));
    const auto b = f.add(f.still(QStringLiteral("b.png")));
    a->setDisplayTitle(QStringLiteral("Opening"));
    b->setDisplayTitle(QStringLiteral("Finale"));
    a->setCueNotes(QStringLiteral("same"));
    b->setCueNotes(QStringLiteral("same"));
    a->setColorTag(10);
    b->setColorTag(20);
    f.select({a, b});
    EXPECT_TRUE(f.sectionHidden(QStringLiteral("Thumbnail")));
    EXPECT_TRUE(f.o().gotoBox->isHidden());
    EXPECT_EQ(f.o().infoView->height(), 220);
    EXPECT_EQ(f.o().codecInfoField->text(), QStringLiteral("-"));
    EXPECT_EQ(f.o().locaitonInfoField->text(), QStringLiteral("-"));
    EXPECT_EQ(f.o().inTimecodeField->text(), QStringLiteral("-"));
    EXPECT_EQ(f.o().displayTitleField->text(), QString());
    EXPECT_EQ(Fixture::placeholder(f.o().displayTitleField), QStringLiteral("(mixed)"));
    EXPECT_EQ(f.o().notesField->text(), QStringLiteral("same"));
    EXPECT_EQ(Fixture::placeholder(f.o().cueIDField), QString());
    EXPECT_FALSE(f.o().gotoPopup->isEnabled());
    EXPECT_TRUE(markedTags(*f.o().colorTagView).empty());

    b->setColorTag(10);
    a->setColorTag(30);
    b->setColorTag(30);
    f.select({a, b});
    EXPECT_EQ(markedTags(*f.o().colorTagView), std::vector<std::int32_t>{30});
}

TEST(KavioInspectorRefresh, NothingHappensWhileAProjectLoadsAndEachRefreshAsksForTheFeedback)
{
    Fixture f;
    const auto a = f.add(f.still(QStringLiteral("a.png")));
    const int feedbacks = f.recording->selectedFeedbacks;
    f.controller->setIsLoadingProject(true);
    f.select({a});
    EXPECT_EQ(f.recording->selectedFeedbacks, feedbacks);
    EXPECT_TRUE(f.o().preferencesView->shouldDrawThereAreNoItems());
    f.controller->setIsLoadingProject(false);
    f.panel->pullCurrentItemData();
    EXPECT_EQ(f.recording->selectedFeedbacks, feedbacks + 1);
    EXPECT_FALSE(f.o().preferencesView->shouldDrawThereAreNoItems());
}

TEST(KavioInspectorRefresh, ARefreshGivesTheKeyboardToTheListAndDropsAnEditTypedForOtherCues)
{
    Fixture f;
    const auto a = f.add(f.still(QStringLiteral("a.png")));
    const auto b = f.add(f.still(QStringLiteral("b.png")));
    f.select({a});
    KavioTextField* title = f.o().displayTitleField;
    title->setFocus();
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return title->hasFocus(); }, 30.0));
    QTest::keyClicks(title, QStringLiteral("typed for a"));
    // The selection changes from elsewhere while the edit is open.
    f.select({b});
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return f.list->hasFocus(); }, 30.0));
    EXPECT_EQ(a->displayTitle(), QString());
    EXPECT_EQ(b->displayTitle(), QString());
    EXPECT_EQ(f.undo().undoCount(), 0);
    EXPECT_EQ(title->text(), QString());
}

TEST(KavioInspectorRefresh, ANewThumbnailPostedFromTheBackgroundReachesTheTileOnTheMainThread)
{
    Fixture f;
    const auto still = f.add(f.still(QStringLiteral("a.png")));
    f.select({still});
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return still->thumbnailImage() != nullptr; }, 30.0));
    f.o().theThumbnailView->setCGImage(nullptr);
    std::thread([&still] {
        NotificationCenter::defaultCenter().post(kKavioCurrentItemThumbnailChangedNotification, still.get());
    }).join();
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return f.o().theThumbnailView->image() != nullptr; }, 30.0));
    EXPECT_EQ(f.o().theThumbnailView->image(), still->thumbnailImage());
}

TEST(KavioInspectorRefresh, TheScrollPositionStaysWhileTheInspectorGrowsOrShrinks)
{
    Fixture f;
    const auto movie = f.add(InspectorTest::movie30());
    const auto still = f.add(f.still(QStringLiteral("a.png")));
    f.select({movie});
    QScrollBar* bar = f.o().scrollView->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 120);
    bar->setValue(120);
    f.select({still});
    EXPECT_EQ(bar->value(), 120);
    // Opening a section grows the inspector; what was in view stays in view.
    auto* thumbnail = f.panel->preferenceItemWithTitle(QStringLiteral("Thumbnail"));
    thumbnail->collapse();
    f.panel->updateHeightOfPreferencesViewWithDisplay(false);
    bar->setValue(60);
    QTest::mouseClick(thumbnail->itemTitle(), Qt::LeftButton);
    EXPECT_FALSE(thumbnail->isCollapsed());
    EXPECT_EQ(bar->value(), 60);
}

}  // namespace
