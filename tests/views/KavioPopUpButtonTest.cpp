#include "ViewsTestSupport.h"

#include "Views/KavioControlStyle.h"
#include "Views/KavioPopUpButton.h"

#include <gtest/gtest.h>

#include <QFontMetricsF>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {
QStringList titles(const KavioPopUpButton& popUp)
{
    QStringList list;
    for (int i = 0; i < popUp.numberOfItems(); ++i)
        list << popUp.itemAtIndex(i).title;
    return list;
}
}  // namespace

TEST(KavioPopUpButtonTest, EntriesFollowThePlatformsRules)
{
    struct Step {
        const char* what;
        std::function<void(KavioPopUpButton&)> act;
        QStringList titles;
        int selected;
    };
    const std::vector<Step> steps = {
        {"add three", [](auto& p) { p.addItem("24", 0); p.addItem("25", 1); p.addItem("30", 2); p.selectItemAtIndex(1); },
         {"24", "25", "30"}, 1},
        {"an existing title replaces the earlier entry", [](auto& p) { p.addItem("24", 7); }, {"25", "30", "24"}, 0},
        {"an unknown title keeps the selection", [](auto& p) { EXPECT_FALSE(p.selectItemWithTitle("50")); },
         {"25", "30", "24"}, 0},
        {"tag", [](auto& p) { p.selectItemWithTag(7); }, {"25", "30", "24"}, 2},
        {"an unknown tag keeps the selection", [](auto& p) { EXPECT_FALSE(p.selectItemWithTag(99)); },
         {"25", "30", "24"}, 2},
        {"an index no entry has selects nothing", [](auto& p) { p.selectItemAtIndex(3); }, {"25", "30", "24"}, -1},
        {"insert at an index", [](auto& p) { p.selectItemAtIndex(1); p.insertItem("Disabled", 0, -1); },
         {"Disabled", "25", "30", "24"}, 2},
        {"a disabled entry may stand first and be selected",
         [](auto& p) { p.setItemEnabled(0, false); p.selectItemWithTitle("Disabled"); }, {"Disabled", "25", "30", "24"}, 0},
        {"remove by index before the selection", [](auto& p) { p.selectItemAtIndex(2); p.removeItemAtIndex(0); },
         {"25", "30", "24"}, 1},
        {"removing the selected entry", [](auto& p) { p.removeItemWithTitle("30"); }, {"25", "24"}, -1},
        {"renaming keeps both entries of one title", [](auto& p) { p.addItemWithTitle(""); p.setItemTitle(2, "25"); },
         {"25", "24", "25"}, -1},
    };
    KavioPopUpButton popUp;
    for (const Step& step : steps) {
        step.act(popUp);
        EXPECT_EQ(titles(popUp), step.titles) << step.what;
        EXPECT_EQ(popUp.indexOfSelectedItem(), step.selected) << step.what;
    }
    EXPECT_EQ(popUp.selectedTag(), -1);
    EXPECT_EQ(popUp.titleOfSelectedItem(), QString());
    EXPECT_TRUE(popUp.selectItemWithTitle(QStringLiteral("24")));
    EXPECT_EQ(popUp.selectedTag(), 7);
    EXPECT_EQ(popUp.oldItemTitle(), QStringLiteral("None"));
    popUp.cacheToOldValue();
    EXPECT_EQ(popUp.oldItemTitle(), QStringLiteral("24"));
}

TEST(KavioPopUpButtonTest, TitlesShortenToFitAndAlwaysEnd)
{
    const QFont font = KavioPopUpButtonCell::titleFont();
    const QFontMetricsF metrics(font);
    const QString title = QStringLiteral("Blackmagic Design UltraStudio Monitor 3G output 1");
    const QString shown = KavioPopUpButtonCell::shortenedTitle(title, font, 126.0);
    ASSERT_TRUE(shown.endsWith(QStringLiteral("...")));
    const qsizetype kept = shown.size() - 3;
    EXPECT_EQ((title.size() - kept) % 3, 0) << "the title less 3, 6, 9 ... characters";
    EXPECT_TRUE(title.startsWith(shown.left(kept)));
    EXPECT_LE(metrics.horizontalAdvance(shown), 100.0);
    EXPECT_GT(metrics.horizontalAdvance(title.left(kept + 3) + QStringLiteral("...")), 100.0) << "the first form that fits";
    EXPECT_EQ(KavioPopUpButtonCell::shortenedTitle(QStringLiteral("25"), font, 126.0), QStringLiteral("25"));
    for (const QString& any : {QStringLiteral("Monitor"), QStringLiteral("ab"), QString(100, QLatin1Char('W'))})
        EXPECT_EQ(KavioPopUpButtonCell::shortenedTitle(any, font, 20.0), QStringLiteral("...")) << "a 20-px pop-up ends";
}

TEST(KavioPopUpButtonTest, ChoosingFromTheMenuSelectsAndRunsTheAction)
{
    QWidget window;
    auto* popUp = new KavioPopUpButton(&window);
    popUp->setGeometry(10, 10, 126, 24);
    popUp->addItem(QStringLiteral("Disabled"), 0);
    popUp->addItem(QStringLiteral("Custom"), 1);
    popUp->selectItemAtIndex(0);
    int actions = 0;
    popUp->setAction([&] { ++actions; });
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTimer::singleShot(0, [&] {
        ASSERT_TRUE(QTest::qWaitFor([&] { return popUp->openMenu() && popUp->openMenu()->isVisible(); }, 2000));
        QMenu* menu = popUp->openMenu();
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(menu->actions().at(1)).center());
    });
    QTest::mouseClick(popUp, Qt::LeftButton);
    EXPECT_EQ(popUp->titleOfSelectedItem(), QStringLiteral("Custom"));
    EXPECT_EQ(actions, 1);

    ViewsTest::darkPanel(window);
    auto* longTitle = new KavioPopUpButton(&window);
    longTitle->setGeometry(10, 40, 126, 24);
    longTitle->addItem(QStringLiteral("Blackmagic Design UltraStudio Monitor"), 0);
    longTitle->selectItemAtIndex(0);
    auto* disabled = new KavioPopUpButton(&window);
    disabled->setGeometry(10, 70, 126, 24);
    disabled->addItem(QStringLiteral("30 fps"), 0);
    disabled->selectItemAtIndex(0);
    disabled->setEnabled(false);
    longTitle->show();
    disabled->show();
    window.resize(150, 100);
    QTest::qWait(50);
    ViewsTest::saveScreenshot(window, QStringLiteral("pop-ups"));
}
