// In and out points of the show's current movie at 25 fps, typed and taken from the playhead;
// the duration and alignment of stills; the playback speed of several cues.

#include "InspectorTestSupport.h"

#include "Views/KavioButton.h"
#include "Views/KavioPopUpButton.h"

#include "UndoManager.h"

#include <QTest>

#include <gtest/gtest.h>

using InspectorTest::Fixture;

namespace {

MediaTime seconds(double s)
{
    return MediaTime::makeWithSeconds(s, MediaTime::kCueTimescale);
}

struct CurrentMovie : Fixture {
    std::shared_ptr<InspectorTest::PlayheadCue> movie;
    CurrentMovie()
    {
        movie = addMovieWithPlayhead();
        select({movie});
    }
    QString smpte(std::int64_t frames) const { return controller->masterClock()->smpteRepresentationOfFrames(std::uint64_t(frames)); }
    QString in() const { return smpte(movie->inTimeFramesForDisplay()); }
    QString end() const { return smpte(movie->outTimeFramesForDisplay()); }
};

TEST(KavioInspectorTiming, TypedPointsKeepTheEndAFrameAfterTheInAndRefuseAnInAtTheEnd)
{
    CurrentMovie f;
    ASSERT_TRUE(f.o().inTimecodeField->isEnabled());
    Fixture::type(f.o().inTimecodeField, QStringLiteral("00:00:10:00"));
    EXPECT_EQ(f.in(), QStringLiteral("00:00:10:00"));
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Change Video In Time"));
    Fixture::type(f.o().outTimecodeField, QStringLiteral("00:00:05:00"));
    EXPECT_EQ(f.end(), QStringLiteral("00:00:10:01"));
    EXPECT_EQ(f.o().outTimecodeField->text(), QStringLiteral("00:00:10:01"));
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Change Video Out Time"));

    // An in point at or after the end is refused and the field shows the in point again.
    const int records = f.undo().undoCount();
    Fixture::type(f.o().inTimecodeField, QStringLiteral("00:00:10:01"));
    EXPECT_EQ(f.in(), QStringLiteral("00:00:10:00"));
    EXPECT_EQ(f.o().inTimecodeField->text(), QStringLiteral("00:00:10:00"));
    // The in point it has already: no record either.
    Fixture::type(f.o().inTimecodeField, QStringLiteral("10:00"));
    EXPECT_EQ(f.undo().undoCount(), records);

    // An end typed past the media's end cuts nothing off.
    Fixture::type(f.o().outTimecodeField, QStringLiteral("01:00:00:00"));
    EXPECT_EQ(f.movie->outTimeAtCurrentPlaybackSpeed(), MediaTime::zero());

    ASSERT_TRUE(f.undo().undo());
    EXPECT_EQ(f.end(), QStringLiteral("00:00:10:01"));
    ASSERT_TRUE(f.undo().undo());
    ASSERT_TRUE(f.undo().undo());
    EXPECT_EQ(f.in(), QStringLiteral("00:00:00:00"));
    ASSERT_TRUE(f.undo().redo());
    EXPECT_EQ(f.in(), QStringLiteral("00:00:10:00"));
}

TEST(KavioInspectorTiming, ThePlayheadButtonsSetTheOutAFrameAfterAndTheInAtThePlayhead)
{
    CurrentMovie f;
    f.movie->playhead = seconds(20);
    f.panel->handlePlayheadChangedRelatedOptions();
    ASSERT_TRUE(f.o().outTimeFromPlayheadButton->isEnabled());
    QTest::mouseClick(f.o().outTimeFromPlayheadButton, Qt::LeftButton);
    EXPECT_EQ(f.end(), QStringLiteral("00:00:20:01"));

    f.panel->undoSetInTime(seconds(2), f.movie->uid());
    f.movie->playhead = seconds(4);
    f.panel->handlePlayheadChangedRelatedOptions();
    ASSERT_TRUE(f.o().inTimeFromPlayheadButton->isEnabled());
    EXPECT_TRUE(f.panel->validateUserInterfaceItem(KavioInspectorMenuAction::SetInTimeOnCurrentCue));
    QTest::mouseClick(f.o().inTimeFromPlayheadButton, Qt::LeftButton);
    EXPECT_EQ(f.in(), QStringLiteral("00:00:06:00"));

    // At or before the in point the out button is off; the menu command follows it.
    f.movie->playhead = MediaTime::zero();
    f.panel->handlePlayheadChangedRelatedOptions();
    EXPECT_FALSE(f.o().outTimeFromPlayheadButton->isEnabled());
    EXPECT_FALSE(f.panel->validateUserInterfaceItem(KavioInspectorMenuAction::SetOutTimeOnCurrentCue));
}

TEST(KavioInspectorTiming, AResetIsOneStepAndTheControlsLockForAnotherCueOrWhilePlaying)
{
    CurrentMovie f;
    f.panel->undoSetInTime(seconds(3), f.movie->uid());
    f.panel->undoSetOutTime(seconds(7), f.movie->uid());
    f.controller->resetInOutTime();
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Reset Video In/Out Times"));
    EXPECT_EQ(f.in(), QStringLiteral("00:00:00:00"));
    ASSERT_TRUE(f.undo().undo());
    EXPECT_EQ(f.in(), QStringLiteral("00:00:03:00"));
    EXPECT_EQ(f.movie->outTimeAtCurrentPlaybackSpeed(), seconds(7));

    f.controller->setIsPlaying(true);
    f.panel->handlePlayingRelatedOptions();
    EXPECT_FALSE(f.o().inTimecodeField->isEnabled());
    EXPECT_FALSE(f.o().inTimeFromPlayheadButton->isEnabled());
    f.controller->setIsPlaying(false);
    f.panel->handlePlayingRelatedOptions();
    EXPECT_TRUE(f.o().inTimecodeField->isEnabled());

    const auto other = f.add(InspectorTest::movie30());
    f.select({other});
    EXPECT_FALSE(f.o().inTimecodeField->isEnabled());
    EXPECT_FALSE(f.o().outTimeFromPlayheadButton->isEnabled());
}

struct ThreeStills : Fixture {
    std::vector<std::shared_ptr<KavioVideoItem>> stills;
    ThreeStills()
    {
        for (const char* name : {"a.png", "b.png", "c.png"})
            stills.push_back(add(still(QString::fromLatin1(name))));
    }
};

TEST(KavioInspectorTiming, ADurationForThreeStillsIsOneGroupAndZeroChangesNothing)
{
    ThreeStills f;
    f.stills[1]->setDurationOfNonMovies(12);
    f.controller->handleItemsUpdatedWithScrollOption(0);
    f.select({f.stills[0], f.stills[1], f.stills[2]});
    const std::vector<float> before = {f.stills[0]->itemDuration(), f.stills[1]->itemDuration(), f.stills[2]->itemDuration()};
    EXPECT_EQ(Fixture::placeholder(f.o().videoDurationField), QStringLiteral("(mixed)"));

    Fixture::type(f.o().videoDurationField, QStringLiteral("00:00:00:00"));
    EXPECT_EQ(f.undo().undoCount(), 0);
    Fixture::type(f.o().videoDurationField, QStringLiteral("00:00:30:00"));
    EXPECT_EQ(f.undo().undoCount(), 1);
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Change Cue Durations"));
    for (const auto& cue : f.stills)
        EXPECT_FLOAT_EQ(cue->itemDuration(), 30.0f);
    EXPECT_EQ(f.o().videoDurationField->text(), QStringLiteral("00:00:30:00"));
    ASSERT_TRUE(f.undo().undo());
    f.controller->handleItemsUpdatedWithScrollOption(0);
    for (std::size_t i = 0; i < f.stills.size(); ++i)
        EXPECT_FLOAT_EQ(f.stills[i]->itemDuration(), before[i]);
}

TEST(KavioInspectorTiming, MixedAlignmentsShowTheDisabledMixedEntry)
{
    ThreeStills f;
    f.stills[1]->setAutoAlignToDuration(10);
    f.select({f.stills[0], f.stills[1]});
    KavioPopUpButton* popup = f.o().autoAlignToDurationPopup;
    EXPECT_EQ(popup->indexOfSelectedItem(), 0);
    EXPECT_EQ(popup->titleOfSelectedItem(), QStringLiteral("(mixed)"));
    EXPECT_FALSE(popup->itemAtIndex(0).enabled);
    EXPECT_EQ(f.o().videoDurationField->text(), QString());
    EXPECT_EQ(Fixture::placeholder(f.o().videoDurationField), QStringLiteral("(mixed)"));

    popup->chooseItemAtIndex(popup->indexOfItemWithTag(20));
    EXPECT_EQ(f.stills[0]->autoAlignToDuration(), 20);
    EXPECT_EQ(f.stills[1]->autoAlignToDuration(), 20);
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Change Durations Align to Time"));
    EXPECT_EQ(popup->indexOfItemWithTitle(QStringLiteral("(mixed)")), -1);
    ASSERT_TRUE(f.undo().undo());
    EXPECT_EQ(f.stills[0]->autoAlignToDuration(), 0);
    EXPECT_EQ(f.stills[1]->autoAlignToDuration(), 10);

    // One still with an alignment shows its length, not editable.
    f.select({f.stills[1]});
    EXPECT_FALSE(f.o().videoDurationField->isEditable());
}

TEST(KavioInspectorTiming, TheSpeedComparesWithTheShownCueAndSetsEverySelectedCue)
{
    ThreeStills f;
    f.select({f.stills[0], f.stills[1], f.stills[2]});
    Fixture::type(f.o().playbackSpeedField, QStringLiteral("100"));
    EXPECT_EQ(f.undo().undoCount(), 0);
    Fixture::type(f.o().playbackSpeedField, QStringLiteral("50"));
    ASSERT_TRUE(DispatchQueue::runMainUntil(
        [&] {
            return std::all_of(f.stills.begin(), f.stills.end(), [](const auto& c) { return c->playbackRateAsPercent() == 50; });
        },
        30.0));
    EXPECT_EQ(f.undo().undoCount(), 1);
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Change Playback Speed"));
    ASSERT_TRUE(f.undo().undo());
    ASSERT_TRUE(DispatchQueue::runMainUntil(
        [&] {
            return std::all_of(f.stills.begin(), f.stills.end(), [](const auto& c) { return c->playbackRateAsPercent() == 100; });
        },
        30.0));
}

}  // namespace
