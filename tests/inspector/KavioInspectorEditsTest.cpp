// The General section's edits, typed and clicked as an operator does, each checked on the cues,
// then undone and redone; and what the fields refuse.

#include "InspectorTestSupport.h"

#include "Views/KavioColorTagIndicator.h"
#include "Views/KavioColorTagView.h"
#include "Views/KavioPopUpButton.h"

#include "UndoManager.h"

#include <QTest>

#include <cmath>
#include <optional>

#include <gtest/gtest.h>

using InspectorTest::Fixture;
using InspectorTest::TwoStills;

namespace {

TEST(KavioInspectorEdits, ATitleTypedForTwoCuesIsOneStepAndUndoGivesEachItsOwnBack)
{
    TwoStills f;
    f.a->setDisplayTitle(QStringLiteral("Opening"));
    f.b->setDisplayTitle(QStringLiteral("Finale"));
    f.select({f.a, f.b});
    const int unsaved = f.app->unsavedChanges;
    Fixture::type(f.o().displayTitleField, QStringLiteral("\t Both cues  "));
    EXPECT_EQ(f.a->displayTitle(), QStringLiteral("Both cues"));
    EXPECT_EQ(f.b->displayTitle(), QStringLiteral("Both cues"));
    EXPECT_GT(f.app->unsavedChanges, unsaved);
    EXPECT_EQ(f.undo().undoCount(), 1);
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Change Cue Display Titles"));
    EXPECT_TRUE(f.list->hasFocus());
    ASSERT_TRUE(f.undo().undo());
    EXPECT_EQ(f.a->displayTitle(), QStringLiteral("Opening"));
    EXPECT_EQ(f.b->displayTitle(), QStringLiteral("Finale"));
    EXPECT_EQ(f.undo().redoActionName(), QStringLiteral("Change Cue Title"));
    ASSERT_TRUE(f.undo().redo());
    EXPECT_EQ(f.b->displayTitle(), QStringLiteral("Both cues"));

    // Notes, with the same name for one cue and several.
    f.select({f.a});
    Fixture::type(f.o().notesField, QStringLiteral("  fade slowly "));
    EXPECT_EQ(f.a->cueNotes(), QStringLiteral("fade slowly"));
    EXPECT_EQ(f.o().notesField->text(), QStringLiteral("fade slowly"));
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Change Cue Notes"));
    ASSERT_TRUE(f.undo().undo());
    EXPECT_EQ(f.a->cueNotes(), QString());
}

TEST(KavioInspectorEdits, TheCueIDIsTrimmedUpperCasedCutToSixAndRelabelsTheGotoEntry)
{
    TwoStills f;
    f.select({f.a});
    EXPECT_EQ(Fixture::placeholder(f.o().cueIDField), QStringLiteral("1"));
    Fixture::type(f.o().cueIDField, QStringLiteral(" ab1 "));
    EXPECT_EQ(f.a->cueID(), QStringLiteral("AB1"));
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Change Cue IDs"));
    EXPECT_GE(f.o().gotoPopup->indexOfItemWithTitle(QStringLiteral("AB1")), 2);
    EXPECT_EQ(f.o().gotoPopup->indexOfItemWithTitle(QStringLiteral("1")), -1);

    // The field takes no seventh character.
    Fixture::type(f.o().cueIDField, QStringLiteral("ab12cd9"));
    EXPECT_EQ(f.a->cueID(), QStringLiteral("AB12CD"));
    // A longer value handed to the step is cut, never inside a surrogate pair.
    f.panel->undoChangeCueID(QStringLiteral("ab12cd9"), f.b->uid());
    EXPECT_EQ(f.b->cueID(), QStringLiteral("AB12CD"));
    f.panel->undoChangeCueID(QStringLiteral("abcde") + QString::fromUtf8("\xF0\x9F\x98\x80"), f.b->uid());
    EXPECT_EQ(f.b->cueID(), QStringLiteral("ABCDE"));
    ASSERT_TRUE(f.undo().undo());
    EXPECT_EQ(f.b->cueID(), QStringLiteral("AB12CD"));
}

TEST(KavioInspectorEdits, TheLoopCountSkipsEqualValuesAndBelowOneIsEndless)
{
    TwoStills f;
    f.select({f.a});
    EXPECT_EQ(Fixture::placeholder(f.o().loopCountField), QStringLiteral("∞"));
    Fixture::type(f.o().loopCountField, QStringLiteral("3"));
    EXPECT_EQ(f.a->loopCount(), 3);
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Change Loop Counts"));
    const int records = f.undo().undoCount();
    const int unsaved = f.app->unsavedChanges;
    Fixture::type(f.o().loopCountField, QStringLiteral("3"));
    EXPECT_EQ(f.undo().undoCount(), records);
    EXPECT_EQ(f.app->unsavedChanges, unsaved);
    Fixture::type(f.o().loopCountField, QStringLiteral("0"));
    EXPECT_EQ(f.a->loopCount(), KavioLoopCountEndless);
    EXPECT_EQ(f.o().loopCountField->text(), QString());
    EXPECT_EQ(Fixture::placeholder(f.o().loopCountField), QStringLiteral("∞"));
    ASSERT_TRUE(f.undo().undo());
    EXPECT_EQ(f.a->loopCount(), 3);
    ASSERT_TRUE(f.undo().redo());
    EXPECT_EQ(f.a->loopCount(), KavioLoopCountEndless);
}

TEST(KavioInspectorEdits, AColourTagClickedForTwoCuesIsUndoneToEachCuesOwnTag)
{
    TwoStills f;
    f.a->setColorTag(10);
    f.b->setColorTag(20);
    f.select({f.a, f.b});
    const int unsaved = f.app->unsavedChanges;
    KavioColorTagIndicator* green = nullptr;
    for (KavioColorTagIndicator* swatch : f.o().colorTagView->swatches())
        if (swatch->colorTag() == 30)
            green = swatch;
    ASSERT_NE(green, nullptr);
    QTest::mouseClick(green, Qt::LeftButton, {}, QPoint(10, 10));
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return f.a->colorTag() == 30 && f.b->colorTag() == 30; }, 30.0));
    EXPECT_TRUE(green->isSelected());
    EXPECT_GT(f.app->unsavedChanges, unsaved);
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Change Color Tags"));
    ASSERT_TRUE(f.undo().undo());
    EXPECT_EQ(f.a->colorTag(), 10);
    EXPECT_EQ(f.b->colorTag(), 20);
    ASSERT_TRUE(f.undo().redo());
    EXPECT_EQ(f.a->colorTag(), 30);
    EXPECT_EQ(f.b->colorTag(), 30);
}

TEST(KavioInspectorEdits, TheGotoPopupListsOtherCuesAndAFirstTargetSwitchesTheTogglesOn)
{
    TwoStills f;
    f.select({f.a});
    KavioPopUpButton* popup = f.o().gotoPopup;
    const int own = popup->indexOfItemWithTitle(QStringLiteral("1"));
    const int other = popup->indexOfItemWithTitle(QStringLiteral("2"));
    ASSERT_GE(own, 2);
    ASSERT_GE(other, 2);
    EXPECT_FALSE(popup->itemAtIndex(own).enabled);
    EXPECT_TRUE(popup->itemAtIndex(other).enabled);
    popup->chooseItemAtIndex(other);
    EXPECT_EQ(f.a->gotoItemUID(), f.b->uid());
    ASSERT_TRUE(f.a->gotoButton().enabled);
    EXPECT_EQ(f.a->gotoButton().state, 1);
    EXPECT_EQ(f.a->gotoTargetButton().state, 1);
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Change Goto Item"));
    // The entry for no target stores the empty string.
    popup->chooseItemAtIndex(0);
    EXPECT_EQ(f.a->gotoItemUID(), QString());
    ASSERT_TRUE(f.undo().undo());
    EXPECT_EQ(f.a->gotoItemUID(), f.b->uid());
}

// Text a new operator might type into each field; refused text changes no cue, records nothing
// and leaves the field as it was.
TEST(KavioInspectorEdits, EveryFieldRefusesWhatIsNoValueOfItsKind)
{
    Fixture f;
    const auto movie = f.addMovieWithPlayhead();
    const QString longText(300, QLatin1Char('x'));
    struct Case {
        KavioTextField* field;
        QString typed;
        std::optional<QString> shown;  // none: the field's text from before
    };
    const auto& o = f.o();
    const std::vector<Case> cases = {
        {o.displayTitleField, longText, longText},
        {o.cueIDField, QStringLiteral("nan"), QStringLiteral("NAN")},
        {o.cueIDField, longText, QStringLiteral("XXXXXX")},
        {o.loopCountField, QStringLiteral("abc"), std::nullopt},
        {o.loopCountField, QStringLiteral("nan"), std::nullopt},
        {o.inTimecodeField, QStringLiteral("12:99:99:99"), std::nullopt},
        {o.inTimecodeField, QStringLiteral("nan"), std::nullopt},
        {o.inTimecodeField, QString(), std::nullopt},
        {o.inTimecodeField, longText, std::nullopt},
        {o.outTimecodeField, QStringLiteral("1:2:3:4:5"), std::nullopt},
        {o.outTimecodeField, QStringLiteral("00:00:00:25"), std::nullopt},
        {o.outTimecodeField, QString(), std::nullopt},
        {o.playbackSpeedField, QStringLiteral("0"), std::nullopt},
        {o.playbackSpeedField, QStringLiteral("5000"), std::nullopt},
        {o.playbackSpeedField, QStringLiteral("nan"), std::nullopt},
        {o.playbackSpeedField, QString(), std::nullopt},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(index++);
        f.select({movie});
        const QString before = c.field->text();
        const int records = f.undo().undoCount();
        const MediaTime in = movie->inTimeAtCurrentPlaybackSpeed();
        const MediaTime out = movie->outTimeAtCurrentPlaybackSpeed();
        const std::int32_t loops = movie->loopCount();
        Fixture::type(c.field, c.typed);
        EXPECT_EQ(c.field->text(), c.shown.value_or(before));
        EXPECT_EQ(f.undo().undoCount() > records, c.shown.has_value());
        EXPECT_EQ(movie->inTimeAtCurrentPlaybackSpeed(), in);
        EXPECT_EQ(movie->outTimeAtCurrentPlaybackSpeed(), out);
        EXPECT_EQ(movie->playbackRateAsPercent(), 100);
        EXPECT_EQ(movie->loopCount(), loops);
        EXPECT_TRUE(std::isfinite(movie->itemDuration()));
    }
}

}  // namespace
