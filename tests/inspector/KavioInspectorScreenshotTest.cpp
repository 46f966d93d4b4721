// Pictures of the inspector beside the cue list for a look: a movie, a still, two cues with
// different values, and nothing selected; each section for one cue and mixed (PNG under the build
// tree's screenshots/).

#include "FakeSourceDirectories.h"
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

// The Source section for a capture cue, two that differ, DeckLink inputs with their formats and
// an NDI cue; the Browser and Window sections; over fake directories.
TEST(KavioInspectorScreenshots, SourceBrowserAndWindowSections)
{
    InspectorTest::InstalledDirectories dirs;
    dirs->capture = {{QStringLiteral("USB Camera"), QStringLiteral("usb-1")}, {QStringLiteral("HDMI Capture"), QStringLiteral("usb-2")}};
    dirs->deckLink = {InspectorTest::deckLinkInput(QStringLiteral("DeckLink Duo (1)"), 11, 0)};
    dirs->formats = {{QStringLiteral("1080p25"), nullptr}, {QStringLiteral("1080i50"), nullptr}, {QStringLiteral("720p50"), nullptr}};
    dirs->ndi = {InspectorTest::FakeSourceDirectories::ndiSource(QStringLiteral("CAMHOST (PTZ 1)"))};
    dirs->windows = {{QStringLiteral("Titler / Lower Third"), 31u}, {QStringLiteral("Browser / Show Page"), 32u}};
    Fixture f;
    ViewsTest::darkPanel(f.window);
    const auto usb = f.addLive(KavioMediaTypeCamera, QStringLiteral("c1"), QStringLiteral("USB Camera"));
    const auto hdmi = f.addLive(KavioMediaTypeCamera, QStringLiteral("c2"), QStringLiteral("HDMI Capture"));
    const auto deckLink = f.addLive(KavioMediaTypeCamera, QStringLiteral("c3"), QStringLiteral("DeckLink Duo (1)"));
    deckLink->setIsDeckLinkDevice(true);
    deckLink->setDeviceUID(QStringLiteral("11"));
    const auto ndi = f.addLive(KavioMediaTypeNDI, QStringLiteral("n1"), QStringLiteral("CAMHOST (PTZ 2)"));
    const auto page = f.addLive(KavioMediaTypeBrowser, QStringLiteral("p1"), QStringLiteral("http://127.0.0.1:9/stage"));
    const auto window = f.addLive(KavioMediaTypeWindow, QStringLiteral("w1"), QStringLiteral("Titler / Lower Third"));
    f.controller->rearrangeItemsWithAnimation(false);

    const std::tuple<KavioVideoItemList, QWidget*, const char*> shots[] = {
        {{usb}, f.o().sourceView, "source_one"},
        {{usb, hdmi}, f.o().sourceView, "source_mixed"},
        {{deckLink}, f.o().sourceView, "source_decklink"},
        {{ndi}, f.o().sourceView, "source_ndi_disconnected"},
        {{page}, f.o().browserSourceView, "browser_one"},
        {{window}, f.o().windowSourceView, "window_one"},
    };
    for (const auto& [cues, view, name] : shots) {
        f.select(cues);
        f.o().scrollView->ensureWidgetVisible(view, 0, 0);
        ViewsTest::saveScreenshot(f.window, QStringLiteral("inspector_%1").arg(QString::fromUtf8(name)));
    }
    EXPECT_EQ(f.o().videoSourcePopup->titleOfSelectedItem(), QStringLiteral("CAMHOST (PTZ 2) - DISCONNECTED"));
    EXPECT_EQ(f.o().windowSourcePopup->titleOfSelectedItem(), QStringLiteral("Titler / Lower Third"));
}

}  // namespace
