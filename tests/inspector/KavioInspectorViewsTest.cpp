// The inspector's section views on their own: a section around its content, collapsing and
// expanding, the stacking view's height and empty state, the thumbnail tile.

#include "ViewsTestSupport.h"

#include "Inspector/KavioInspectorThumbnailView.h"
#include "Inspector/KavioVideoItemPreferencesView.h"
#include "Inspector/KavioVideoItemPreferencesViewItem.h"

#include "DispatchQueue.h"
#include "NotificationCenter.h"

#include <QTest>

#include <gtest/gtest.h>

#include <thread>

namespace {

struct Sections : KavioVideoItemPreferencesViewDataSource {
    std::vector<std::unique_ptr<KavioVideoItemPreferencesViewItem>> items;
    const std::vector<std::unique_ptr<KavioVideoItemPreferencesViewItem>>& preferenceItems() const override { return items; }
    KavioVideoItemPreferencesViewItem& add(int contentHeight, const QString& title)
    {
        auto* content = new QWidget;
        content->resize(300, contentHeight);
        items.push_back(std::make_unique<KavioVideoItemPreferencesViewItem>(content, title));
        return *items.back();
    }
};

TEST(KavioInspectorSection, WrapsItsContentAndCollapsesToTheTitleBarKeepingTheContentOnTop)
{
    Sections sections;
    KavioVideoItemPreferencesViewItem& item = sections.add(200, QStringLiteral("General"));
    EXPECT_EQ(item.view()->height(), 235);
    // y-up: the content's bottom 5 points above the section's bottom.
    EXPECT_EQ(item.view()->height() - item.contentView()->geometry().bottom() - 1, 5);
    EXPECT_EQ(item.contentView()->y(), 30);

    int posts = 0;
    NotificationCenter::defaultCenter().addObserver(&posts, kKavioPreferencesViewItemCollapsedOrExpandedNotification, &item,
                                                    [&posts](const Notification&) { ++posts; });
    item.collapse();
    EXPECT_EQ(item.view()->height(), 30);
    EXPECT_EQ(item.oldHeight(), 235);
    item.collapse();
    EXPECT_EQ(item.oldHeight(), 235);
    item.expand();
    EXPECT_EQ(item.view()->height(), 235);
    EXPECT_EQ(posts, 0);

    // A click on the title toggles and posts once per click.
    item.view()->resize(300, item.view()->height());
    QTest::mouseClick(item.itemTitle(), Qt::LeftButton);
    EXPECT_TRUE(item.isCollapsed());
    item.toggleCollapseExpand();
    EXPECT_FALSE(item.isCollapsed());
    EXPECT_EQ(posts, 2);
    NotificationCenter::defaultCenter().removeObserver(&posts);
}

TEST(KavioInspectorSection, TheStackingViewIsAtLeastTheWindowLessFiftyAndItsEmptyStateHidesAll)
{
    QWidget window;
    window.resize(346, 800);
    auto* view = new KavioVideoItemPreferencesView(&window);
    view->resize(330, 10);
    Sections sections;
    sections.add(200, QStringLiteral("A"));
    sections.add(65, QStringLiteral("B"));
    view->setDataSource(&sections);
    EXPECT_EQ(view->height(), 750);

    auto& tall = sections.add(530, QStringLiteral("C"));
    tall.view()->setParent(view);
    tall.view()->show();
    view->updateHeight();
    EXPECT_EQ(view->height(), 235 + 100 + 565);

    view->setShouldDrawThereAreNoItems(true);
    for (const auto& item : sections.items)
        EXPECT_TRUE(item->view()->isHidden());
    // The same flag again leaves a section shown elsewhere alone.
    sections.items[0]->view()->show();
    view->setShouldDrawThereAreNoItems(true);
    EXPECT_FALSE(sections.items[0]->view()->isHidden());
    view->setShouldDrawThereAreNoItems(false);
    for (const auto& item : sections.items)
        EXPECT_FALSE(item->view()->isHidden());
}

TEST(KavioInspectorThumbnail, AWideImageIsLetterboxedInsideTheTileInsetAndTakenOverOnTheMainThread)
{
    const QRectF rect = KavioInspectorThumbnailView::imageRectForBounds(QSizeF(160, 120), QSize(1920, 1080));
    EXPECT_DOUBLE_EQ(rect.x(), 1.25);
    EXPECT_DOUBLE_EQ(rect.y(), 15.703125);
    EXPECT_DOUBLE_EQ(rect.width(), 157.5);
    EXPECT_DOUBLE_EQ(rect.height(), 88.59375);

    KavioInspectorThumbnailView tile;
    tile.resize(160, 120);
    ViewsTest::darkPanel(tile);
    tile.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&tile));
    auto image = std::make_shared<QImage>(1920, 1080, QImage::Format_RGB32);
    image->fill(Qt::red);
    std::thread([&tile, image] { tile.setCGImage(image); }).join();
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return tile.image() == image; }, 30.0));
    const QImage shown = tile.grab().toImage();
    // Red inside the letterbox, the tile's grey above and below it.
    EXPECT_TRUE(ViewsTest::near(ViewsTest::pixel(shown, 80, 60), Qt::red, 0.05));
    EXPECT_TRUE(ViewsTest::near(ViewsTest::pixel(shown, 80, 8), QColor::fromRgbF(0.15f, 0.15f, 0.15f), 0.03));
    EXPECT_TRUE(ViewsTest::near(ViewsTest::pixel(shown, 80, 111), QColor::fromRgbF(0.15f, 0.15f, 0.15f), 0.03));
    EXPECT_TRUE(ViewsTest::near(ViewsTest::pixel(shown, 80, 17), Qt::red, 0.05));
}

}  // namespace
