#include "ViewsTestSupport.h"

#include "Views/KavioColorTagIndicator.h"
#include "Views/KavioColorTagView.h"
#include "Views/KavioControlStyle.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QMenu>
#include <QTest>
#include <QWidgetAction>

TEST(KavioColorTagViewTest, SwatchesStandAtTheirPlacesAndOnlyRealTagsSelect)
{
    KavioColorTagView strip;
    strip.resize(200, 26);
    strip.buildUI();
    std::vector<int> xs, tags;
    for (KavioColorTagIndicator* swatch : strip.swatches()) {
        xs.push_back(swatch->x());
        tags.push_back(swatch->colorTag());
        EXPECT_EQ(swatch->geometry().size(), QSize(20, 20));
        EXPECT_EQ(swatch->y(), 6);
    }
    EXPECT_EQ(xs, (std::vector<int>{20, 52, 84, 116, 148, 180}));
    EXPECT_EQ(tags, (std::vector<int>{0, 10, 20, 30, 40, 50}));

    const auto selected = [&] {
        std::vector<int> on;
        for (KavioColorTagIndicator* swatch : strip.swatches())
            if (swatch->isSelected())
                on.push_back(swatch->colorTag());
        return on;
    };
    strip.selectColorTag(30);
    EXPECT_EQ(selected(), std::vector<int>{30});
    strip.selectColorTag(0);
    EXPECT_TRUE(selected().empty()) << "the no-tag swatch never shows as selected";
}

TEST(KavioColorTagViewTest, AClickInAMenuReportsAfterTheFlashAndClosesTheMenu)
{
    QMenu menu;
    menu.addAction(QStringLiteral("Copy"));
    auto* strip = new KavioColorTagView;
    strip->setFixedSize(200, 26);
    auto* item = new QWidgetAction(&menu);
    item->setDefaultWidget(strip);
    menu.addAction(item);
    QElapsedTimer clock;
    qint64 reportedAfter = -1;
    int reportedTag = -1;
    strip->setTarget([&](KavioColorTagIndicator& swatch) {
        reportedAfter = clock.elapsed();
        reportedTag = swatch.colorTag();
    });
    menu.popup(QPoint(100, 100));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
    KavioColorTagIndicator* green = strip->swatches().at(3);
    clock.start();
    QTest::mouseClick(green, Qt::LeftButton);
    EXPECT_EQ(green->blink(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return reportedTag >= 0; }, 3000));
    EXPECT_EQ(reportedTag, 30);
    EXPECT_GE(reportedAfter, 4 * KavioColorTagIndicator::kBlinkStepMilliseconds - 5);
    EXPECT_EQ(green->blink(), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !menu.isVisible(); }, 2000));
}

TEST(KavioColorTagViewTest, Screenshot)
{
    QWidget panel;
    ViewsTest::darkPanel(panel);
    panel.resize(200, 60);
    auto* strip = new KavioColorTagView(&panel);
    strip->setGeometry(0, 0, 200, 26);
    strip->selectColorTag(20);
    auto* prefs = new KavioColorTagView(&panel);
    prefs->setGeometry(0, 30, 200, 26);
    prefs->swatches().front()->setShouldDrawAsPreferencesItem(true);
    panel.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    ViewsTest::saveScreenshot(panel, QStringLiteral("color-tags"));
}
