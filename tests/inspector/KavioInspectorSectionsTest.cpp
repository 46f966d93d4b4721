// The inspector's sections beside a real cue list: stored collapsed flags, Alt with a click,
// the selection predicates, which sections a selection shows, and the empty state.

#include "InspectorTestSupport.h"

#include "Inspector/KavioVideoItemPreferencesViewItem.h"
#include "UserDefaults.h"

#include <QTest>

#include <gtest/gtest.h>

using InspectorTest::Fixture;

namespace {

const QStringList kTitles = {"Thumbnail", "Media Info", "General", "Subtitle / Closed Caption", "Browser", "Window",
                             "Source", "Geometry", "Color Controls", "Audio Output", "Transition & Fade In/Out"};

TEST(KavioInspectorSections, FirstLaunchStoresElevenExpandedTitlesAndAltClickCollapsesThemAll)
{
    Fixture f;
    QStringList titles;
    for (const auto& item : f.panel->preferenceItems())
        titles << item->title();
    EXPECT_EQ(titles, kTitles);
    QVariantMap stored = f.defaults->dictionaryForKey(kKavioPreferenceItemsStatesKey);
    EXPECT_EQ(stored.size(), 11);
    for (const QString& title : kTitles)
        EXPECT_EQ(stored.value(title), QVariant(false)) << title.toStdString();

    // A plain click on "Geometry" collapses it alone.
    auto* geometry = f.panel->preferenceItemWithTitle(QStringLiteral("Geometry"));
    QTest::mouseClick(geometry->itemTitle(), Qt::LeftButton);
    stored = f.defaults->dictionaryForKey(kKavioPreferenceItemsStatesKey);
    for (const QString& title : kTitles)
        EXPECT_EQ(stored.value(title).toBool(), title == QStringLiteral("Geometry")) << title.toStdString();
    // Expanded again with Alt held: every section follows it open; collapsed with Alt: all close.
    f.app->alt = true;
    QTest::mouseClick(geometry->itemTitle(), Qt::LeftButton);
    QTest::mouseClick(geometry->itemTitle(), Qt::LeftButton);
    stored = f.defaults->dictionaryForKey(kKavioPreferenceItemsStatesKey);
    for (const QString& title : kTitles)
        EXPECT_EQ(stored.value(title), QVariant(true)) << title.toStdString();
    for (const auto& item : f.panel->preferenceItems())
        EXPECT_EQ(item->view()->height(), 30);
}

TEST(KavioInspectorSections, StoredFlagsComeBackAndAValueThatIsNoDictionaryIsWrittenAfresh)
{
    {
        Fixture f(false);
        f.defaults->setDictionary({{"Media Info", true}}, kKavioPreferenceItemsStatesKey);
        f.panel->loadPreferenceItems();
        EXPECT_TRUE(f.panel->preferenceItemWithTitle(QStringLiteral("Media Info"))->isCollapsed());
        EXPECT_FALSE(f.panel->preferenceItemWithTitle(QStringLiteral("General"))->isCollapsed());
    }
    Fixture f(false);
    f.defaults->setObject(QStringLiteral("garbage"), kKavioPreferenceItemsStatesKey);
    f.panel->loadPreferenceItems();
    for (const auto& item : f.panel->preferenceItems())
        EXPECT_FALSE(item->isCollapsed());
    EXPECT_EQ(f.defaults->dictionaryForKey(kKavioPreferenceItemsStatesKey).size(), 11);
}

TEST(KavioInspectorSections, NothingSelectedShowsTheEmptyStateAsTallAsTheWindowLessFifty)
{
    Fixture f;
    EXPECT_TRUE(f.o().preferencesView->shouldDrawThereAreNoItems());
    EXPECT_EQ(f.o().preferencesView->height(), 750);
    for (const QString& title : kTitles)
        EXPECT_TRUE(f.sectionHidden(title));
    // The predicates of an empty selection.
    EXPECT_FALSE(f.panel->hasMultipleItems());
    EXPECT_TRUE(f.panel->matchingMediaTypeOnSelectedItems());
    EXPECT_TRUE(f.panel->browserSourceSettingsSupportedOnSelectedItems());
    EXPECT_TRUE(f.panel->windowSourceSettingsSupportedOnSelectedItems());
    for (bool value : {f.panel->audioSupportedOnSelectedItems(), f.panel->sourceSettingsSupportedOnSelectedItems(),
                       f.panel->sourcePopupSupportedOnSelectedItems(), f.panel->decklinkSettingsSupportedOnSelectedItems(),
                       f.panel->pdfPageSupportedOnSelectedItems()})
        EXPECT_FALSE(value);

    const auto still = f.add(f.still(QStringLiteral("a.png")));
    f.select({still});
    EXPECT_FALSE(f.o().preferencesView->shouldDrawThereAreNoItems());
    EXPECT_FALSE(f.panel->hasMultipleItems());
    f.select({});
    EXPECT_TRUE(f.o().preferencesView->shouldDrawThereAreNoItems());
    EXPECT_EQ(f.o().preferencesView->height(), 750);
}

TEST(KavioInspectorSections, SelectionsShowTheirSectionsStackedGapFreeFromTheTop)
{
    Fixture f;
    const auto movie = f.add(InspectorTest::movie30());
    const auto audio = f.add(InspectorTest::wav());
    const auto audio2 = f.add(InspectorTest::wav());
    const auto page = f.add(f.pdf(QStringLiteral("three.pdf"), 3));

    const auto shown = [&f] {
        QStringList titles;
        for (const QString& title : kTitles)
            if (!f.sectionHidden(title))
                titles << title;
        return titles;
    };
    // Audio Output shows where every selected cue has sound to route.
    const auto withAudio = [](QStringList titles, bool audio) {
        if (audio)
            titles.insert(titles.size() - 1, QStringLiteral("Audio Output"));
        return titles;
    };
    f.select({movie});
    EXPECT_EQ(shown(), withAudio({"Thumbnail", "Media Info", "General", "Subtitle / Closed Caption", "Geometry",
                                  "Color Controls", "Transition & Fade In/Out"},
                                 movie->hasAudioChannels()));
    // Stacked from the top without gaps.
    int y = 0;
    for (const auto& item : f.panel->preferenceItems()) {
        if (item->view()->isHidden())
            continue;
        EXPECT_EQ(item->view()->y(), y) << item->title().toStdString();
        y += item->view()->height();
    }

    f.select({audio});
    EXPECT_EQ(shown(), withAudio({"Thumbnail", "Media Info", "General", "Transition & Fade In/Out"}, audio->hasAudioChannels()));
    // A second audio-only cue keeps Source hidden and leaves Geometry and Color Controls as they were.
    f.select({audio, audio2});
    EXPECT_EQ(shown(), withAudio({"Media Info", "General", "Transition & Fade In/Out"}, audio->hasAudioChannels()));
    EXPECT_TRUE(f.panel->hasMultipleItems());

    f.select({page});
    EXPECT_EQ(shown(), (QStringList{"Thumbnail", "Media Info", "General", "Source", "Geometry", "Color Controls",
                                    "Transition & Fade In/Out"}));
    EXPECT_TRUE(f.panel->pdfPageSupportedOnSelectedItems());
    EXPECT_TRUE(f.panel->sourceSettingsSupportedOnSelectedItems());
    EXPECT_FALSE(f.panel->matchingMediaTypeOnSelectedItems() && f.panel->hasMultipleItems());
}

TEST(KavioInspectorSections, AResizeOfACollapsedSectionKeepsItCollapsed)
{
    Fixture f;
    auto* general = f.panel->preferenceItemWithTitle(QStringLiteral("General"));
    general->collapse();
    f.panel->makeHeightTo(100, f.o().infoView);
    EXPECT_TRUE(general->isCollapsed());
    EXPECT_EQ(general->view()->height(), 30);
    general->expand();
    EXPECT_EQ(general->view()->height(), 135);
    EXPECT_EQ(f.o().infoView->height(), 100);
}

}  // namespace
