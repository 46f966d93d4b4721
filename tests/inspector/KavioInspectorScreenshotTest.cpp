// Pictures of the inspector beside the cue list for a look: a movie, a still, two cues with
// different values, and nothing selected; each section for one cue and mixed (PNG under the build
// tree's screenshots/).

#include "InspectorTestSupport.h"
#include "ViewsTestSupport.h"

#include "Views/KavioScrollView.h"

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

// Each section of the inspector scrolled into view, for one cue and for two that differ.
TEST(KavioInspectorScreenshots, SectionsForOneCueAndMixed)
{
    Fixture f;
    ViewsTest::darkPanel(f.window);
    f.setRenderSize({1920, 1080});
    const QString path = f.captionedMovie();
    const auto one = f.add(path);
    const auto two = f.add(path);
    ASSERT_TRUE(one && two);
    one->setGeometryScaleH(0.5f);
    one->setGeometryCrop({0.1f, 0.2f, 0, 0});
    one->setBrightness(0.25f);
    one->setTransitionType(KavioTransitionTypeWipeUp);
    one->setVolume(0.5f);
    two->setGeometryRotate(45);
    two->setSelectedCaptionTrack(1);
    two->setHue(-0.5f);
    f.controller->rearrangeItemsWithAnimation(false);

    const std::pair<QWidget*, const char*> sections[] = {
        {f.o().subtitlesView, "captions"}, {f.o().geometryView, "geometry"}, {f.o().colorControlsView, "color"},
        {f.o().audioOutputView, "audio"},  {f.o().transitionView, "transition"},
    };
    for (const auto& [cues, suffix] : {std::pair{KavioVideoItemList{one}, "one"}, std::pair{KavioVideoItemList{one, two}, "mixed"}}) {
        f.select(cues);
        f.panel->pullCurrentItemData();
        for (const auto& [view, name] : sections) {
            f.o().scrollView->ensureWidgetVisible(view, 0, 0);
            ViewsTest::saveScreenshot(f.window, QStringLiteral("inspector_%1_%2").arg(QString::fromUtf8(name), QString::fromUtf8(suffix)));
        }
    }
    EXPECT_EQ(f.o().geometryScaleHField->text(), QString());
}

}  // namespace
