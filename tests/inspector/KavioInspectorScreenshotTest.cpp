// Pictures of the inspector beside the cue list for a look: a movie, a still, two cues with
// different values, and nothing selected (PNG under the build tree's screenshots/).

#include "InspectorTestSupport.h"
#include "ViewsTestSupport.h"

#include <QTest>

#include <gtest/gtest.h>

using InspectorTest::Fixture;

namespace {

TEST(KavioInspectorScreenshots, MovieStillTwoMixedAndNone)
{
    Fixture f;
    ViewsTest::darkPanel(f.window);
    const auto movie = f.add(InspectorTest::movie30());
    const auto still = f.add(f.still(QStringLiteral("still.png")));
    ASSERT_TRUE(movie && still);
    movie->setCueNotes(QStringLiteral("Opening film"));
    still->setDisplayTitle(QStringLiteral("Logo"));
    still->setColorTag(30);
    f.controller->rearrangeItemsWithAnimation(false);

    const auto shoot = [&f](const KavioVideoItemList& cues, const QString& name) {
        f.select(cues);
        // Thumbnails arrive from the background; the picture waits for the cue's own.
        if (cues.size() == 1)
            DispatchQueue::runMainUntil([&] { return cues.front()->thumbnailImage() != nullptr; }, 30.0);
        f.panel->pullCurrentItemData();
        ViewsTest::saveScreenshot(f.window, name);
    };
    shoot({movie}, QStringLiteral("inspector_movie"));
    shoot({still}, QStringLiteral("inspector_still"));
    shoot({movie, still}, QStringLiteral("inspector_two_mixed"));
    shoot({}, QStringLiteral("inspector_none"));
    EXPECT_TRUE(f.o().preferencesView->shouldDrawThereAreNoItems());
}

}  // namespace
