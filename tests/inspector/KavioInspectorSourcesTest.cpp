// The Browser section's page address: the rule that completes a typed address, and the edit
// of two web-page cues undone to each one's own page; the Window section's cursor capture.

#include "InspectorTestSupport.h"

#include "Sources/KavioWindowSource.h"
#include "Views/KavioButton.h"

#include "UndoManager.h"

#include <QTest>

#include <gtest/gtest.h>

using InspectorTest::Fixture;

namespace {

// A live cue as the list holds it, with no source behind it.
std::shared_ptr<KavioVideoItem> addLiveCue(Fixture& f, int type, const QString& uid, const QString& path)
{
    auto cue = std::make_shared<KavioVideoItem>();
    cue->setMediaType(type);
    cue->setMediaPath(path);
    cue->setManager(f.controller);
    cue->setUid(uid);
    f.controller->insertItem(cue, f.controller->items()->size() + 1);
    f.controller->buildItemQueue();
    return cue;
}

std::shared_ptr<KavioVideoItem> addPageCue(Fixture& f, const QString& uid, const QString& url)
{
    return addLiveCue(f, KavioMediaTypeBrowser, uid, url);
}

TEST(KavioInspectorSources, ATypedAddressWithoutASchemeGetsHttp)
{
    const struct {
        const char* typed;
        const char* url;
    } cases[] = {
        {"example.org/show", "http://example.org/show"},
        {"", "http://"},
        {"https://example.org", "https://example.org"},
        {"file:///srv/page.html", "file:///srv/page.html"},
        {"see http://x", "see http://x"},
        {"localhost:8080/a b", "http://localhost:8080/a b"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(KavioVideoItemPreferencesController::browserURLForTypedText(QString::fromUtf8(c.typed)), QString::fromUtf8(c.url))
            << c.typed;
}

TEST(KavioInspectorSources, AnAddressTypedForTwoPagesIsOneStepAndUndoGivesEachItsOwn)
{
    Fixture f;
    const auto one = addPageCue(f, QStringLiteral("page1"), QStringLiteral("http://one.example"));
    const auto two = addPageCue(f, QStringLiteral("page2"), QStringLiteral("http://two.example"));
    f.select({one, two});
    EXPECT_FALSE(f.sectionHidden(QStringLiteral("Browser")));
    EXPECT_EQ(f.o().browserURLField->text(), QStringLiteral("http://one.example"));
    f.undo().removeAllActions();
    const int unsaved = f.app->unsavedChanges;
    Fixture::type(f.o().browserURLField, QStringLiteral("127.0.0.1:9/stage"));
    EXPECT_EQ(one->mediaPath(), QStringLiteral("http://127.0.0.1:9/stage"));
    EXPECT_EQ(two->mediaPath(), QStringLiteral("http://127.0.0.1:9/stage"));
    EXPECT_EQ(f.o().browserURLField->text(), QStringLiteral("http://127.0.0.1:9/stage"));
    EXPECT_GT(f.app->unsavedChanges, unsaved);
    EXPECT_EQ(f.undo().undoCount(), 1);
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Change Browser URL"));
    ASSERT_TRUE(f.undo().undo());
    EXPECT_EQ(one->mediaPath(), QStringLiteral("http://one.example"));
    EXPECT_EQ(two->mediaPath(), QStringLiteral("http://two.example"));
    ASSERT_TRUE(f.undo().redo());
    EXPECT_EQ(one->mediaPath(), QStringLiteral("http://127.0.0.1:9/stage"));

    // A step for a cue that is no web page changes nothing and records nothing.
    const auto still = f.add(f.still(QStringLiteral("still.png")));
    const QString path = still->mediaPath();
    f.panel->undoChangeBrowserURL(QStringLiteral("http://x"), still->uid());
    EXPECT_EQ(still->mediaPath(), path);
    EXPECT_EQ(f.undo().undoCount(), 0);
}

TEST(KavioInspectorSources, TheCursorOptionShowsTheCurrentCuesAndAClickSetsEveryWindowCue)
{
    Fixture f;
    const auto one = addLiveCue(f, KavioMediaTypeWindow, QStringLiteral("w1"), QStringLiteral("Editor / Notes"));
    const auto two = addLiveCue(f, KavioMediaTypeWindow, QStringLiteral("w2"), QStringLiteral("Player / Clip - 1"));
    for (const auto& cue : {one, two})
        cue->setWindowSource(std::make_shared<KavioWindowSource>(QSizeF(1280, 720), 25, 0, false, nullptr));
    two->setWindowSourceShowCursor(true);
    KavioButton* cursor = f.o().windowSourceShouldShowCursor;
    f.select({two});
    EXPECT_FALSE(f.sectionHidden(QStringLiteral("Window")));
    EXPECT_EQ(cursor->state(), 1);
    f.select({one, two});
    EXPECT_EQ(cursor->state(), 0);
    f.undo().removeAllActions();
    QTest::mouseClick(cursor, Qt::LeftButton);
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return one->windowSourceShowCursor(); }, 30.0));
    EXPECT_TRUE(two->windowSourceShowCursor());
    EXPECT_EQ(f.undo().undoCount(), 1);
    EXPECT_EQ(f.undo().undoActionName(), QStringLiteral("Change Window Source Show Cursor"));
    ASSERT_TRUE(f.undo().undo());
    EXPECT_FALSE(one->windowSourceShowCursor());
    EXPECT_TRUE(two->windowSourceShowCursor());
    ASSERT_TRUE(f.undo().redo());
    EXPECT_TRUE(one->windowSourceShowCursor());
}

}  // namespace
