// The caption controls, the PDF page and the fade time popup, driven as an operator drives them
// and checked on the cues, then undone and redone.

#include "InspectorTestSupport.h"

#include "Views/KavioButton.h"
#include "Views/KavioPopUpButton.h"

#include "UndoManager.h"

#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

using InspectorTest::Fixture;

namespace {

TEST(KavioInspectorCaptions, FadeTitlesFollowTheCuesLengthAndAGroupOfMixedCuesTakesOneChoice)
{
    Fixture f;
    const auto a = f.add(f.still(QStringLiteral("a.png")));
    const auto b = f.add(f.still(QStringLiteral("b.png")));
    const struct {
        float fade;
        bool useDefault;
        const char* title;
    } cases[] = {
        {0.05f, false, "0 (cut)"}, {0.1f, false, "0.5"}, {0.9f, false, "0.5"}, {0.95f, false, "1"},
        {2.4f, false, "2"},        {7.0f, false, "7"},   {2.4f, true, "Project's Default"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        a->setIsUsingDefaultFadeDuration(c.useDefault);
        a->setFadetime(c.fade);
        EXPECT_EQ(KavioVideoItemPreferencesController::titleForFadeTimeOnItem(*a), QString::fromUtf8(c.title));
        f.select({a});
        EXPECT_EQ(f.o().fadeTimePopup->titleOfSelectedItem(), QString::fromUtf8(c.title));
    }

    a->setIsUsingDefaultFadeDuration(false);
    a->setFadetime(0.5f);
    b->setIsUsingDefaultFadeDuration(true);
    f.select({a, b});
    KavioPopUpButton* popup = f.o().fadeTimePopup;
    ASSERT_EQ(popup->titleOfSelectedItem(), kKavioMixedTitle);
    EXPECT_EQ(popup->indexOfSelectedItem(), 0);
    EXPECT_FALSE(popup->itemAtIndex(0).enabled);
    popup->chooseItemAtIndex(popup->indexOfItemWithTitle(QStringLiteral("1")));
    EXPECT_FLOAT_EQ(a->fadetime(), 1.0f);
    EXPECT_FLOAT_EQ(b->fadetime(), 1.0f);
    EXPECT_FALSE(b->isUsingDefaultFadeDuration());
    EXPECT_EQ(f.undo().undoCount(), 1);
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Change Fade Durations"));
    EXPECT_EQ(popup->indexOfItemWithTitle(kKavioMixedTitle), -1);
    ASSERT_TRUE(f.undo().undo());
    EXPECT_FLOAT_EQ(a->fadetime(), 0.5f);
    EXPECT_TRUE(b->isUsingDefaultFadeDuration());
    ASSERT_TRUE(f.undo().redo());
    EXPECT_FLOAT_EQ(b->fadetime(), 1.0f);

    // The project's default is the length the project's own popup shows.
    f.showProjectDefault(&KavioVideoItemManagerOutlets::defaultFadeDurationPopup, QStringLiteral("2"));
    popup->chooseItemAtIndex(popup->indexOfItemWithTitle(QStringLiteral("Project's Default")));
    EXPECT_TRUE(a->isUsingDefaultFadeDuration());
    EXPECT_FLOAT_EQ(a->fadetime(), 2.0f);
}

TEST(KavioInspectorCaptions, TheTrackEntryChoosesTheTrackAndTheStartTimeIsADelayAgainstIt)
{
    Fixture f;
    const QString path = f.captionedMovie();
    const auto movie = f.add(path);
    const auto other = f.add(path);
    ASSERT_EQ(movie->availableCaptions().size(), 2);
    f.select({movie});
    KavioPopUpButton* popup = f.o().subtitlesPopup;
    KavioTextField* start = f.o().subtitleStartTimeField;
    ASSERT_EQ(popup->numberOfItems(), 4);

    popup->chooseItemAtIndex(3);
    EXPECT_EQ(movie->selectedCaptionTrack(), 1);
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Change Selected Caption Track"));
    popup->chooseItemAtIndex(0);
    EXPECT_EQ(movie->selectedCaptionTrack(), -1);
    EXPECT_FALSE(start->isEnabled());
    EXPECT_EQ(Fixture::placeholder(start), QStringLiteral("-"));
    ASSERT_TRUE(f.undo().undo());
    EXPECT_EQ(movie->selectedCaptionTrack(), 1);

    // Track 0 starts at 2 s: shown grey while unshifted; a typed time is a delay against it.
    popup->chooseItemAtIndex(2);
    ASSERT_EQ(movie->selectedCaptionTrack(), 0);
    EXPECT_TRUE(start->isEnabled());
    EXPECT_EQ(start->text(), QString());
    EXPECT_EQ(Fixture::placeholder(start), QStringLiteral("00:00:02:00"));
    Fixture::type(start, QStringLiteral("00:00:05:00"));
    EXPECT_DOUBLE_EQ(movie->captionDelaySeconds(), 3.0);
    EXPECT_EQ(start->text(), QStringLiteral("00:00:05:00"));
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Change Caption Tracks Start Time"));
    ASSERT_TRUE(f.undo().undo());
    EXPECT_DOUBLE_EQ(movie->captionDelaySeconds(), 0.0);
    ASSERT_TRUE(f.undo().redo());
    EXPECT_DOUBLE_EQ(movie->captionDelaySeconds(), 3.0);
    // Empty removes the delay; text that is no timecode changes nothing.
    Fixture::type(start, QString());
    EXPECT_DOUBLE_EQ(movie->captionDelaySeconds(), 0.0);
    Fixture::type(start, QStringLiteral("00:00:04:00"));
    const int records = f.undo().undoCount();
    Fixture::type(start, QStringLiteral("00:99:00:00"));
    EXPECT_DOUBLE_EQ(movie->captionDelaySeconds(), 2.0);
    EXPECT_EQ(start->text(), QStringLiteral("00:00:04:00"));
    EXPECT_EQ(f.undo().undoCount(), records);
    // Another track starts unshifted.
    popup->chooseItemAtIndex(3);
    EXPECT_DOUBLE_EQ(movie->captionDelaySeconds(), 0.0);

    // Several cues all get the typed time, whichever comes first.
    ASSERT_NE(other, nullptr);
    movie->setSelectedCaptionTrack(0);
    other->setSelectedCaptionTrack(1);
    f.select({movie, other});
    Fixture::type(start, QStringLiteral("00:00:06:00"));
    EXPECT_DOUBLE_EQ(movie->captionDelaySeconds(), 4.0);
    EXPECT_DOUBLE_EQ(other->captionDelaySeconds(), 2.0);
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Change Caption Tracks Start Time"));

    // From the playhead: the inspector's current cue alone.
    movie->setCaptionDelaySeconds(0);
    other->setCaptionDelaySeconds(0);
    QTest::mouseClick(f.o().subtitleStartTimeFromPlayheadButton, Qt::LeftButton);
    EXPECT_NE(movie->captionDelaySeconds(), 0.0);
    EXPECT_DOUBLE_EQ(other->captionDelaySeconds(), 0.0);
}

TEST(KavioInspectorCaptions, ThePDFPageKeepsWithinEachCuesPagesAndMixedPagesShowMixed)
{
    Fixture f;
    const auto twelve = f.add(f.pdf(QStringLiteral("twelve.pdf"), 12));
    const auto five = f.add(f.pdf(QStringLiteral("five.pdf"), 5));
    const auto png = f.add(f.still(QStringLiteral("still.png")));
    ASSERT_EQ(twelve->pdfPageCount(), 12u);
    f.select({twelve});
    KavioTextField* field = f.o().pdfPageField;
    EXPECT_EQ(f.o().pdfPagesLabel->text(), QStringLiteral("1-12"));
    EXPECT_EQ(field->text(), QStringLiteral("1"));
    Fixture::type(field, QStringLiteral("9"));
    EXPECT_EQ(twelve->pdfPage(), 9u);
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Change PDF Pages"));
    // The same page records nothing and leaves the project as it was.
    const int records = f.undo().undoCount();
    const int unsaved = f.app->unsavedChanges;
    f.panel->undoChangePDFPage(QStringLiteral("9"), twelve->uid());
    EXPECT_EQ(f.undo().undoCount(), records);
    EXPECT_EQ(f.app->unsavedChanges, unsaved);
    // Beyond the pages, letters, 0: refused, the field shows the page.
    for (const char* typed : {"13", "0", "x"}) {
        SCOPED_TRACE(typed);
        Fixture::type(field, QString::fromUtf8(typed));
        EXPECT_EQ(twelve->pdfPage(), 9u);
        EXPECT_EQ(field->text(), QStringLiteral("9"));
    }
    ASSERT_TRUE(f.undo().undo());
    EXPECT_EQ(twelve->pdfPage(), 1u);

    // Pages 3 and 5: mixed, label kept; 10 for both keeps the short one within its 5 pages.
    twelve->setPdfPage(3);
    five->setPdfPage(5);
    f.select({twelve, five});
    EXPECT_EQ(field->text(), QString());
    EXPECT_EQ(Fixture::placeholder(field), kKavioMixedTitle);
    EXPECT_EQ(f.o().pdfPagesLabel->text(), QStringLiteral("1-12"));
    Fixture::type(field, QStringLiteral("10"));
    EXPECT_EQ(twelve->pdfPage(), 10u);
    EXPECT_EQ(five->pdfPage(), 5u);
    ASSERT_TRUE(f.undo().undo());
    EXPECT_EQ(twelve->pdfPage(), 3u);

    // A still with no pages: "0", disabled, no label; a step for it changes nothing.
    const int before = f.undo().undoCount();
    f.panel->undoChangePDFPage(QStringLiteral("2"), png->uid());
    EXPECT_EQ(f.undo().undoCount(), before);
    f.select({png});
    f.panel->handlePDFPageField();
    EXPECT_EQ(field->text(), QStringLiteral("0"));
    EXPECT_FALSE(field->isEnabled());
    EXPECT_EQ(f.o().pdfPagesLabel->text(), QString());
}

}  // namespace
