// The position bar on a real widget with a real marker controller and a recording cue list
// controller side.

#include "ViewsTestSupport.h"

#include "Controller/QVTTimelineMarkerController.h"
#include "DispatchQueue.h"
#include "UndoManager.h"
#include "Views/KavioPlayheadIndicator.h"
#include "Views/QVTTimelineMarkerView.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTest>

#include <cmath>

#include <functional>
#include <vector>

#include <gtest/gtest.h>

namespace {

// Keeps the completion handlers so a test decides when the controller is done.
struct RecordingDelegate : QVTTimelineMarkerControllerDelegate {
    std::vector<std::function<void()>> downs, ups;
    int gotos = 0;
    int throttlerDrags = 0;
    int undone = 0;
    UndoManager* undo = nullptr;
    void handleMarkerMouseDownWithCompletedHandler(std::function<void()> handler) override { downs.push_back(handler); }
    void handleMarkerMouseUpWithCompletedHandler(std::function<void()> handler) override { ups.push_back(handler); }
    void performGotoToByMarker() override { ++gotos; }
    // As the inspector does: each applied change registers its own undo.
    void handleMarkerThrottlerDragged() override
    {
        ++throttlerDrags;
        if (undo)
            undo->registerUndo(this, [this] { ++undone; });
    }
};

struct BarFixture {
    QWidget parent;
    QVTTimelineMarkerView* bar = new QVTTimelineMarkerView(&parent);
    std::shared_ptr<QVTTimelineMarkerView> handle{bar, [](QVTTimelineMarkerView*) {}};
    KavioPlayheadIndicator indicator;
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    std::shared_ptr<QVTTimelineMarkerController> controller = QVTTimelineMarkerController::init([](const QVTOSCMessage&) {});
    UndoManager undo;

    BarFixture(double seconds, int width = 620, std::uint64_t fps = 30)
    {
        parent.resize(width, 30);
        bar->setGeometry(0, 0, width, 30);
        ViewsTest::darkPanel(parent);
        controller->setMarkerView(handle);
        controller->setVideoItemManager(delegate);
        controller->setCompFPS(fps);
        controller->setCompTime(seconds);
        controller->addMarkerAndThrottler();
        controller->setEnabled(true);
        bar->setOutlets({controller, delegate, &undo, &indicator});
        delegate->undo = &undo;
        parent.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&parent));
    }
    QImage picture() { return bar->grab().toImage(); }
    // Whether a tick of the ruler's grey stands at x just above the bottom edge.
    bool tickAt(const QImage& image, int x) const
    {
        return ViewsTest::near(ViewsTest::pixel(image, x, image.height() - 2), QColor::fromRgbF(0.7f, 0.7f, 0.7f), 0.05);
    }
};

TEST(QVTTimelineMarkerView, TenSecondsAtThirtyFramesInSixHundredTwentyPixels)
{
    BarFixture f(10);
    f.controller->setEnabled(false);  // the marker would cover the first ticks
    EXPECT_EQ(f.bar->numberOfFrames(), 299);
    const QImage image = f.picture();
    const double s = 600.0 / 299;
    // Every 10th frame, none between.
    EXPECT_TRUE(f.tickAt(image, int(10 * s + 10)));
    EXPECT_TRUE(f.tickAt(image, int(20 * s + 10)));
    EXPECT_FALSE(f.tickAt(image, int(5 * s + 10)));
    // "0m" with its taller tick at x = 10; second ticks, 20 high, at every second.
    EXPECT_TRUE(ViewsTest::near(ViewsTest::pixel(image, 10, 30 - 24), QColor::fromRgbF(0.7f, 0.7f, 0.7f), 0.05));
    const double p = 30 * s;
    for (int k = 1; k <= 9; ++k) {
        // Fractional positions land on the pixel on either side.
        bool tick = false;
        for (int dx = -1; dx <= 1; ++dx)
            tick = tick || ViewsTest::near(ViewsTest::pixel(image, int(k * p + 10) + dx, 30 - 18),
                                           QColor::fromRgbF(0.7f, 0.7f, 0.7f), 0.05);
        EXPECT_TRUE(tick) << k;
    }
    ViewsTest::saveScreenshot(f.parent, QStringLiteral("position-bar-10s"));
}

TEST(QVTTimelineMarkerView, TwoHoursLabelEveryTenMinutes)
{
    BarFixture f(7200);
    f.controller->setEnabled(false);
    const QImage image = f.picture();
    const double q = 30 * (600.0 / (30 * 7200 - 1)) * 60;
    // Minute ticks (26 or 29 high) every 10 minutes, none at 5.
    EXPECT_TRUE(ViewsTest::near(ViewsTest::pixel(image, int(10 * q + 10), 30 - 24), QColor::fromRgbF(0.7f, 0.7f, 0.7f), 0.05));
    EXPECT_TRUE(ViewsTest::near(ViewsTest::pixel(image, int(60 * q + 10), 30 - 27), QColor::fromRgbF(0.7f, 0.7f, 0.7f), 0.05));
    EXPECT_FALSE(ViewsTest::near(ViewsTest::pixel(image, int(5 * q + 10), 30 - 24), QColor::fromRgbF(0.7f, 0.7f, 0.7f), 0.05));
    ViewsTest::saveScreenshot(f.parent, QStringLiteral("position-bar-2h"));
}

TEST(QVTTimelineMarkerView, DegenerateScalesAreZeroAndDrawWithoutACrash)
{
    for (const auto& [seconds, width] : {std::pair{0.0, 620}, {10.0, 10}, {-5.0, 620}, {std::nan(""), 620}}) {
        BarFixture f(seconds, width);
        EXPECT_EQ(f.bar->markerTimeUnitInPixels(), 0.0f);
        EXPECT_EQ(f.bar->throttlerTimeUnitInPixels(), 0.0f);
        EXPECT_EQ(f.bar->markerPixelsForTime(), 0.0f);
        EXPECT_EQ(f.bar->throttlerPixelsForTime(100), 0.0f);
        EXPECT_FALSE(f.picture().isNull());
    }
}

TEST(QVTTimelineMarkerView, MixingDrawsOnlyThePlayheadAndTheBorder)
{
    BarFixture f(10);
    f.controller->setIsMixing(true);
    f.controller->setMarkerTime(150);
    const QImage image = f.picture();
    const double s = 600.0 / 299;
    EXPECT_FALSE(f.tickAt(image, int(10 * s + 10)));
    // The playhead's stem.
    EXPECT_TRUE(ViewsTest::near(ViewsTest::pixel(image, int(150 * s + 10), 28), QColor::fromRgbF(0.0f, 0.556f, 0.929f), 0.05));
    EXPECT_EQ(f.indicator.x(), int(std::lround(150 * s + 9)));
}

TEST(QVTTimelineMarkerView, AClickJumpsThePlayheadOnceTheControllerIsReadyAndReplaysTheMouseUp)
{
    BarFixture f(10);
    QTest::mousePress(f.bar, Qt::LeftButton, {}, QPoint(400, 5));
    ASSERT_EQ(f.delegate->downs.size(), 1u);
    EXPECT_TRUE(f.bar->markerSelected());
    // The mouse-up arrives before the controller is done: it waits.
    QTest::mouseRelease(f.bar, Qt::LeftButton, {}, QPoint(400, 5));
    EXPECT_TRUE(f.delegate->ups.empty());
    f.delegate->downs.front()();
    EXPECT_NEAR(double(f.controller->markerTime()), (400 - 10) * 299.0 / 600, 1.0);
    ASSERT_EQ(f.delegate->ups.size(), 1u);
    EXPECT_FALSE(f.controller->canMovePlayhead());
    f.delegate->ups.front()();
    EXPECT_TRUE(f.controller->canMovePlayhead());
    EXPECT_FALSE(f.undo.canUndo());  // no drag, no group
}

TEST(QVTTimelineMarkerView, DraggingThePlayheadIsOneUndoGroupAndShiftHoldsIt)
{
    BarFixture f(10);
    f.controller->setMarkerTime(0);
    QTest::mousePress(f.bar, Qt::LeftButton, {}, QPoint(15, 10));  // on the marker
    ASSERT_EQ(f.delegate->downs.size(), 1u);
    f.delegate->downs.front()();
    QMouseEvent shifted(QEvent::MouseMove, QPointF(300, 10), f.bar->mapToGlobal(QPointF(300, 10)), Qt::NoButton,
                        Qt::LeftButton, Qt::ShiftModifier);
    QApplication::sendEvent(f.bar, &shifted);
    EXPECT_EQ(f.controller->markerTime(), 0);
    QMouseEvent moved(QEvent::MouseMove, QPointF(310, 10), f.bar->mapToGlobal(QPointF(310, 10)), Qt::NoButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(f.bar, &moved);
    EXPECT_NEAR(double(f.controller->markerTime()), 300 * 299.0 / 600, 1.0);
    QTest::mouseRelease(f.bar, Qt::LeftButton, {}, QPoint(310, 10));
    EXPECT_EQ(f.delegate->ups.size(), 1u);
}

TEST(QVTTimelineMarkerView, ARangeDragUndoesInOneStep)
{
    BarFixture f(100);
    const auto move = [&](double x) {
        QMouseEvent moved(QEvent::MouseMove, QPointF(x, 27), f.bar->mapToGlobal(QPointF(x, 27)), Qt::NoButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(f.bar, &moved);
    };
    f.controller->setOutTime(1500);
    QTest::mousePress(f.bar, Qt::LeftButton, {}, QPoint(100, 27));
    ASSERT_TRUE(f.bar->throttlerSelected());
    move(130);
    move(160);
    move(190);
    QTest::mouseRelease(f.bar, Qt::LeftButton, {}, QPoint(190, 27));
    ASSERT_GE(f.delegate->throttlerDrags, 2);
    f.undo.undo();
    EXPECT_EQ(f.delegate->undone, f.delegate->throttlerDrags);
    EXPECT_FALSE(f.undo.canUndo());
}

TEST(QVTTimelineMarkerView, WithoutThrottlersTheRangeIsInertAndHandlesAreNotDrawn)
{
    BarFixture f(10);
    f.controller->setThrottlersEnabled(false);
    f.controller->setEnabled(false);
    QTest::mousePress(f.bar, Qt::LeftButton, {}, QPoint(300, 27));  // on the range body
    EXPECT_FALSE(f.bar->throttlerSelected());
    EXPECT_TRUE(f.delegate->downs.empty());
    QTest::mouseRelease(f.bar, Qt::LeftButton, {}, QPoint(300, 27));
    const QImage image = f.picture();
    EXPECT_FALSE(ViewsTest::near(ViewsTest::pixel(image, 5, 25), QColor::fromRgbF(0.6f, 0.6f, 0.6f), 0.05));

    f.controller->setThrottlersEnabled(true);
    QTest::mousePress(f.bar, Qt::LeftButton, {}, QPoint(300, 27));
    EXPECT_TRUE(f.bar->throttlerSelected());
    QTest::mouseRelease(f.bar, Qt::LeftButton, {}, QPoint(300, 27));
    QTest::mousePress(f.bar, Qt::LeftButton, {}, QPoint(3, 27));
    EXPECT_TRUE(f.bar->throttlerLeftSideSelected());
    QTest::mouseRelease(f.bar, Qt::LeftButton, {}, QPoint(3, 27));
}

}  // namespace
