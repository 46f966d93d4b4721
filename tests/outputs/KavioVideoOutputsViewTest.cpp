#include "OutputsTestSupport.h"

#include "Outputs/KavioVideoOutputObject.h"
#include "Outputs/KavioVideoOutputView.h"
#include "Outputs/KavioVideoOutputsView.h"

#include "../ndi/AudioTestSupport.h"
#include "DispatchQueue.h"
#include "NotificationCenter.h"

#include <QDir>
#include <QEnterEvent>
#include <QTest>

namespace {

const QStringList kGridNotifications = {"KavioOutputViewDidSelected", "KavioSelectAboveOutput", "KavioSelectBelowOutput",
                                        "KavioSelectPrevOutput", "KavioSelectNextOutput", "KavioDeleteSelectedOutput"};

class KavioVideoOutputsViewTest : public OutputsTest {
protected:
    void SetUpWithDevice() override
    {
        output = std::make_shared<KavioVideoOutputObject>(QRectF(0, 0, 1920, 1080), false, *manager, nullptr);
        output->setIndex(3);
        output->setScreenName("Studio 27 (1920 x 1080)");
        grid.resize(448, 125);
        tile = new KavioVideoOutputView(&grid);
        tile->setGeometry(5, 5, 128, 72);
        tile->setObject(output);
        for (const QString& name : kGridNotifications)
            NotificationCenter::defaultCenter().addObserver(this, name, nullptr, [this](const Notification& n) {
                posted << n.name;
                postedObject = n.object;
            });
        grid.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&grid));
    }
    void TearDown() override { NotificationCenter::defaultCenter().removeObserver(this); }

    QImage drawnTile() { return tile->grab().toImage().convertToFormat(QImage::Format_ARGB32); }
    // Whether the two pictures differ anywhere in the rows [top, bottom), and nowhere else.
    static bool differOnlyInRows(const QImage& a, const QImage& b, int top, int bottom)
    {
        bool inside = false;
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x)
                if (a.pixel(x, y) != b.pixel(x, y)) {
                    if (y < top || y >= bottom)
                        return false;
                    inside = true;
                }
        return inside;
    }

    KavioVideoOutputsView grid;
    KavioVideoOutputView* tile = nullptr;
    std::shared_ptr<KavioVideoOutputObject> output;
    QStringList posted;
    void* postedObject = nullptr;
};

TEST_F(KavioVideoOutputsViewTest, ClicksSelectOnlyWithTheLeftButton)
{
    QTest::mouseClick(tile, Qt::RightButton, {}, {60, 30});
    EXPECT_FALSE(tile->isSelected());
    EXPECT_TRUE(posted.isEmpty());
    // Ctrl-click is a plain click here.
    QTest::mouseClick(tile, Qt::LeftButton, Qt::ControlModifier, {60, 30});
    EXPECT_TRUE(tile->isSelected());
    EXPECT_EQ(posted, QStringList{"KavioOutputViewDidSelected"});
    EXPECT_EQ(postedObject, output.get());
    posted.clear();
    QTest::mouseClick(&grid, Qt::LeftButton, {}, {300, 100});  // between tiles: swallowed
    EXPECT_TRUE(posted.isEmpty());
}

TEST_F(KavioVideoOutputsViewTest, KeysPostTheirNotificationsAndDeleteNeedsCtrl)
{
    grid.setFocus();
    LogCapture log;
    QTest::keyClick(&grid, Qt::Key_Backspace);
    QTest::keyClick(&grid, Qt::Key_Delete);
    QTest::keyClick(&grid, Qt::Key_A, Qt::ControlModifier);
    EXPECT_TRUE(posted.isEmpty());
    EXPECT_EQ(log.count("will try to delete"), 0);
    QTest::keyClick(&grid, Qt::Key_Backspace, Qt::ControlModifier);
    EXPECT_EQ(posted, QStringList{"KavioDeleteSelectedOutput"});
    EXPECT_EQ(log.count("will try to delete"), 1);
    posted.clear();
    QTest::keyClick(&grid, Qt::Key_Delete, Qt::ControlModifier);
    QTest::keyClick(&grid, Qt::Key_Up, Qt::ShiftModifier);
    QTest::keyClick(&grid, Qt::Key_Left, Qt::AltModifier);
    QTest::keyClick(&grid, Qt::Key_Down);
    QTest::keyClick(&grid, Qt::Key_Right);
    EXPECT_EQ(posted, (QStringList{"KavioDeleteSelectedOutput", "KavioSelectAboveOutput", "KavioSelectPrevOutput",
                                   "KavioSelectBelowOutput", "KavioSelectNextOutput"}));
}

TEST_F(KavioVideoOutputsViewTest, ColoursFollowSelectionAndHoverAndADeselectedTileKeepsItsHover)
{
    const QColor idle = QColor::fromRgbF(0.62f, 0.62f, 0.62f), hover = QColor::fromRgbF(0.83f, 0.83f, 0.83f),
                 blue = QColor::fromRgbF(0.0f, 0.656f, 0.929f);
    EXPECT_EQ(tile->drawColor(), idle);
    QEnterEvent enter({10, 10}, {10, 10}, {10, 10});
    QCoreApplication::sendEvent(tile, &enter);
    EXPECT_EQ(tile->drawColor(), hover);
    QTest::mouseClick(tile, Qt::LeftButton, {}, {60, 30});
    EXPECT_EQ(tile->drawColor(), blue);
    tile->setIsSelected(false);  // the manager selected another output
    EXPECT_EQ(tile->drawColor(), hover);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(tile, &leave);
    EXPECT_EQ(tile->drawColor(), idle);
    // While selected, the pointer changes nothing.
    tile->setIsSelected(true);
    QCoreApplication::sendEvent(tile, &enter);
    tile->setIsSelected(false);
    EXPECT_EQ(tile->drawColor(), idle);
}

TEST_F(KavioVideoOutputsViewTest, ScreenNamesAreCutAtTheirBracket)
{
    const QImage bracketed = drawnTile();
    output->setScreenName("Studio 27");
    const QImage plain = drawnTile();
    EXPECT_EQ(bracketed, plain);
    output->setScreenName("Studio 27(A)");
    EXPECT_NE(drawnTile(), plain) << "a name without \" (\" shows whole";
}

TEST_F(KavioVideoOutputsViewTest, NumberStandsAboveTheResolution)
{
    const QImage three = drawnTile();
    output->setIndex(4);
    const QImage four = drawnTile();
    output->setIndex(3);
    output->changeFrameIfNeeded(QRectF(0, 0, 1280, 720));
    const QImage smaller = drawnTile();
    // The number's band lies above the resolution's, and the name's below both.
    EXPECT_TRUE(differOnlyInRows(three, four, 0, 32));
    EXPECT_TRUE(differOnlyInRows(three, smaller, 31, 47));

    output->changeFrameIfNeeded(QRectF(0, 0, 1920, 1080));
    tile->setHasError(true);
    QDir().mkpath(KAVIO_SCREENSHOT_DIR);
    grid.grab().save(QStringLiteral(KAVIO_SCREENSHOT_DIR "/outputs-grid-tile.png"));
    const QImage marked = drawnTile();
    EXPECT_TRUE(differOnlyInRows(three, marked, 0, 32)) << "the error mark sits beside the number";
}

TEST_F(KavioVideoOutputsViewTest, EdgeBlendBarsShowOnlyWithBlendingOnAndAWidth)
{
    KavioEdgeBlendSettings blend;
    blend.rightEdgeWidth = 200;
    output->setEdgeBlendSettings(blend);
    const QColor idle = QColor::fromRgbF(0.62f, 0.62f, 0.62f);
    auto barAt = [&](const QImage& image, int x) { return QColor(image.pixel(x, 36)).rgb() == idle.rgb(); };

    const QImage off = drawnTile();
    output->setEdgeBlendEnabled(true);
    const QImage right = drawnTile();
    for (int x = 122; x <= 125; ++x) {
        EXPECT_FALSE(barAt(off, x)) << x;
        EXPECT_TRUE(barAt(right, x)) << x;
    }
    EXPECT_FALSE(barAt(right, 4)) << "no left bar without a left width";
    EXPECT_FALSE(barAt(right, 110));
    blend.leftEdgeWidth = 1;
    output->setEdgeBlendSettings(blend);
    EXPECT_TRUE(barAt(drawnTile(), 4));
}

}  // namespace
