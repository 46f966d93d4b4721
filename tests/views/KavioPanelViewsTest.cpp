#include "ViewsTestSupport.h"

#include "Support/KavioAddons.h"
#include "Views/KavioBackgroundView.h"
#include "Views/KavioBoxView.h"
#include "Views/KavioCircularProgressIndicator.h"
#include "Views/KavioControlStyle.h"
#include "Views/KavioIconImageView.h"
#include "Views/KavioOneLineBoxView.h"
#include "Views/KavioPlaceholderView.h"
#include "Views/KavioProgressCell.h"
#include "Views/KavioScrollView.h"
#include "Views/KavioScroller.h"
#include "Views/KavioSeparatorView.h"

#include <gtest/gtest.h>

#include <QGridLayout>
#include <QPainter>
#include <QTest>

using namespace KavioControlStyle;
using ViewsTest::near;
using ViewsTest::pixel;

namespace {
QImage rendered(QWidget& widget, QSize size)
{
    widget.resize(size);
    return ViewsTest::drawn(size.width(), size.height(), [&](QPainter& p) {
        widget.render(&p, {}, {}, QWidget::DrawChildren);
    });
}
}  // namespace

TEST(KavioPanelViewsTest, PlaceholderLinesFollowShapeAndSide)
{
    struct Case {
        QSize size;
        bool right;
        QPoint dark, light;
    };
    const Case cases[] = {
        {{10, 100}, true, {9, 50}, {0, 50}},
        {{10, 100}, false, {0, 50}, {1, 50}},
        {{100, 10}, true, {50, 9}, {50, 8}},
    };
    for (const Case& c : cases) {
        KavioPlaceholderView view;
        view.setDrawsOnRightSide(c.right);
        const QImage image = rendered(view, c.size);
        EXPECT_TRUE(near(pixel(image, c.dark.x(), c.dark.y()), grey(0.1))) << c.size.width() << c.right;
        EXPECT_FALSE(near(pixel(image, c.light.x(), c.light.y()), grey(0.18))) << "a light line";
        EXPECT_TRUE(near(pixel(image, c.size.width() / 2 + 2, c.size.height() / 2 - 2), grey(0.18)));
    }
}

TEST(KavioPanelViewsTest, ProgressShapes)
{
    KavioCircularProgressIndicator pie;
    EXPECT_EQ(pixel(rendered(pie, {40, 40}), 28, 12).alpha(), 0) << "nothing while maxValue is 0";
    pie.setMaxValue(4);
    pie.setCurrentValue(1);
    const QImage quarter = rendered(pie, {40, 40});
    EXPECT_TRUE(near(pixel(quarter, 28, 12), accent())) << "a quarter clockwise from the top";
    EXPECT_EQ(pixel(quarter, 12, 28).alpha(), 0);
    pie.setCurrentValue(4);
    EXPECT_EQ(pixel(rendered(pie, {40, 40}), 28, 12).alpha(), 0) << "done: the arc is empty";

    const auto bar = [](float progress) {
        KavioProgressCell cell;
        cell.setProgress(progress);
        return pixel(ViewsTest::drawn(100, 30, [&](QPainter& p) { cell.drawWithFrame(p, QRectF(0, 0, 100, 30)); }), 30, 22);
    };
    EXPECT_TRUE(near(bar(0.5f), QColor::fromRgbF(0.0f, 0.556f, 0.929f)));
    EXPECT_EQ(bar(0.02f).alpha(), 0) << "no bar 3 pixels wide or less";
}

TEST(KavioPanelViewsTest, ScrollersLieOverTheContentAndFadeAfterScrolling)
{
    KavioScrollView view;
    auto* content = new QWidget;
    content->resize(300, 1000);
    view.setWidget(content);
    view.resize(200, 200);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    EXPECT_TRUE(view.verticalScroller()->isVisible());
    EXPECT_TRUE(view.horizontalScroller()->isVisible());
    EXPECT_EQ(view.verticalScroller()->geometry(), QRect(185, 0, 15, 185));
    EXPECT_EQ(view.horizontalScroller()->geometry(), QRect(0, 185, 185, 15));
    EXPECT_EQ(view.viewport()->geometry(), QRect(0, 0, 200, 200)) << "the content under the scrollers";

    view.setShouldRedrawOnScroll(true);
    view.verticalScrollBar()->setValue(300);
    EXPECT_EQ(view.verticalScroller()->value(), 300);
    EXPECT_FALSE(view.shouldRedrawOnScroll());
    EXPECT_EQ(view.verticalScroller()->alpha(), 1.0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.verticalScroller()->alpha() == 0.0; }, 3000));

    content->resize(100, 100);
    QTest::qWait(20);
    EXPECT_FALSE(view.verticalScroller()->isVisible()) << "hidden when the content fits";
}

TEST(KavioPanelViewsTest, Screenshot)
{
    QWidget panel;
    ViewsTest::darkPanel(panel, 0.25);
    auto* grid = new QGridLayout(&panel);
    auto* background = new KavioBackgroundView;
    auto* box = new KavioBoxView;
    auto* line = new KavioOneLineBoxView;
    auto* separator = new KavioSeparatorView;
    auto* placeholder = new KavioPlaceholderView;
    placeholder->setFixedWidth(12);
    auto* pie = new KavioCircularProgressIndicator;
    pie->setMaxValue(3);
    pie->setCurrentValue(1);
    pie->setFixedSize(40, 40);
    auto* icon = new KavioIconImageView;
    icon->setImage(templateImage(QStringLiteral("kavio_error")));
    icon->setFixedSize(32, 32);
    const QList<QWidget*> views = {background, box, line, separator, placeholder, pie, icon};
    for (int i = 0; i < views.size(); ++i) {
        views[i]->setMinimumSize(qMax(views[i]->minimumWidth(), 12), 40);
        grid->addWidget(views[i], 0, i);
    }
    panel.resize(520, 60);
    panel.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    ViewsTest::saveScreenshot(panel, QStringLiteral("panels"));
}

// Every icon the rows, buttons and inspector name is there: a white shape on a clear ground, each
// unlike the others, and each media type of a row has its own.
TEST(KavioIcons, EveryNamedIconIsDrawnAndDistinct)
{
    const QStringList names = {"kavio_movie", "kavio_camera", "kavio_syphon", "kavio_ndi", "kavio_still",
                               "kavio_browser", "kavio_window", "kavio_audio", "kavio_expand2", "kavio_collapse2",
                               "kavio_fadein", "kavio_fadeout", "kavio_cut_in", "kavio_cut_out", "kavio_transition",
                               "kavio_transition_broken", "kavio_goto_up", "kavio_goto_down", "kavio_play",
                               "kavio_wait", "kavio_timecode", "kavio_timecode_lost", "kavio_close", "kavio_check",
                               "kavio_error"};
    QList<QImage> seen;
    for (const QString& name : names) {
        const QImage icon = templateImage(name).convertToFormat(QImage::Format_ARGB32);
        ASSERT_FALSE(icon.isNull()) << name.toStdString();
        EXPECT_EQ(icon.size(), QSize(32, 32)) << name.toStdString();
        int opaque = 0;
        bool oneColour = true;
        QRgb colour = 0;
        for (int y = 0; y < icon.height(); ++y)
            for (int x = 0; x < icon.width(); ++x)
                if (const QRgb c = icon.pixel(x, y); qAlpha(c) == 255) {
                    colour = opaque++ ? colour : c;
                    oneColour = oneColour && c == colour;
                }
        EXPECT_GT(opaque, 20) << name.toStdString();
        EXPECT_TRUE(oneColour) << name.toStdString() << " is a single-colour template to tint";
        EXPECT_EQ(qAlpha(icon.pixel(0, 0)), 0) << name.toStdString();
        EXPECT_FALSE(seen.contains(icon)) << name.toStdString() << " looks like another icon";
        seen.append(icon);
    }
    EXPECT_TRUE(templateImage(QStringLiteral("kavio_nonesuch")).isNull());

    // A sheet of them as the rows tint them, for a look.
    QWidget panel;
    ViewsTest::darkPanel(panel);
    auto* grid = new QGridLayout(&panel);
    for (int i = 0; i < names.size(); ++i) {
        auto* view = new KavioIconImageView;
        view->setImage(KavioAddons::tintImageWithColor(templateImage(names[i]), QColor::fromRgbF(0.65f, 0.65f, 0.65f)));
        view->setFixedSize(32, 32);
        grid->addWidget(view, i / 8, i % 8);
    }
    panel.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    ViewsTest::saveScreenshot(panel, QStringLiteral("icons"));
}
