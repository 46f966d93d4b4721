// The position bar's controller over a fake bar and a recording cue list controller: frames from
// mouse positions, the handles' rules, the playhead feedback, OSC moves, the record and zoom.

#include "Controller/QVTTimelineMarkerController.h"
#include "Views/QVTTimelineMarkerViewInterface.h"
#include "DispatchQueue.h"
#include "QVTOSCMessage.h"
#include "QVTOSCValue.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

// A bar of `width` points whose units the test sets.
struct FakeBar : QVTTimelineMarkerViewInterface {
    double w = 320.0, visible = 320.0;
    float markerUnit = 1.0f, throttlerUnit = 1.0f;
    bool left = false, right = false, range = false, shift = false;
    float helperX = 10.0f;
    bool indicatorHidden = false;
    double width() const override { return w; }
    void setWidth(double width) override { w = width; }
    double visibleWidth() const override { return visible; }
    float markerTimeUnitInPixels() const override { return markerUnit; }
    float throttlerTimeUnitInPixels() const override { return throttlerUnit; }
    float throttlerPixelsForTime(std::int64_t frames) const override { return float(frames) / throttlerUnit; }
    bool throttlerLeftSideSelected() const override { return left; }
    bool throttlerRightSideSelected() const override { return right; }
    bool throttlerSelected() const override { return range; }
    bool shiftPressed() const override { return shift; }
    float helperXForThrottlerDragMe() const override { return helperX; }
    void setHelperXForThrottlerDragMe(float x) override { helperX = x; }
    void redrawMarker() override {}
    void setNeedsDisplay() override {}
    void setPlayheadIndicatorHidden(bool hidden) override { indicatorHidden = hidden; }
};

// Counts what the bar asks of the cue list controller; the drag bracket's handlers run when the
// test says.
struct FakeManager : QVTTimelineMarkerControllerDelegate {
    int gotos = 0, throttlerDrags = 0;
    std::function<void()> pendingDown, pendingUp;
    void handleMarkerMouseDownWithCompletedHandler(std::function<void()> handler) override { pendingDown = std::move(handler); }
    void handleMarkerMouseUpWithCompletedHandler(std::function<void()> handler) override { pendingUp = std::move(handler); }
    void performGotoToByMarker() override { ++gotos; }
    void handleMarkerThrottlerDragged() override { ++throttlerDrags; }
};

struct MarkerFixture {
    std::vector<float> feedback;
    std::shared_ptr<QVTTimelineMarkerController> marker = QVTTimelineMarkerController::init([this](const QVTOSCMessage& m) {
        ASSERT_EQ(m.address(), QStringLiteral("/kavio/playhead"));
        feedback.push_back(m.values().front()->value().toFloat());
    });
    std::shared_ptr<FakeBar> bar = std::make_shared<FakeBar>();
    std::shared_ptr<FakeManager> manager = std::make_shared<FakeManager>();
    MarkerFixture()
    {
        marker->setMarkerView(bar);
        marker->setVideoItemManager(manager);
    }
    // A composition of `seconds` at 30 frames a second on a bar of 300 usable points.
    void composition(double seconds)
    {
        marker->setCompFPS(30);
        marker->setCompTime(seconds);
        marker->addMarkerAndThrottler();
        bar->throttlerUnit = float(seconds * 30.0 / 300.0);
        bar->markerUnit = bar->throttlerUnit;
    }
};

TEST(QVTTimelineMarkerController, StartsMovableAtThirtyFramesOverOneSecond)
{
    MarkerFixture f;
    EXPECT_TRUE(f.marker->canMovePlayhead());
    EXPECT_EQ(f.marker->compFPS(), 30u);
    EXPECT_DOUBLE_EQ(f.marker->compTime(), 1.0);
    EXPECT_FALSE(f.marker->isMixing());
    EXPECT_TRUE(f.marker->throttlersEnabled());
    EXPECT_EQ(f.marker->zoomRatio(), 1);
    f.marker->addMarkerAndThrottler();
    EXPECT_EQ(f.marker->inTime(), 0);
    EXPECT_EQ(f.marker->outTime(), 30);
    EXPECT_EQ(f.marker->transitionStartTime(), 4294967295LL);
    f.marker->setEnabled(false);
    EXPECT_TRUE(f.bar->indicatorHidden);
}

TEST(QVTTimelineMarkerController, ThePlayheadTakesTheFrameUnderTheMouseRoundedHalfAwayFromZero)
{
    MarkerFixture f;
    f.bar->markerUnit = 0.3f;  // 90 frames over 300 points
    const struct {
        float x;
        std::int64_t frames;
    } table[] = {{15.0f, 2}, {11.5f, 0}, {5.0f, 0}, {16.6f, 2}, {200.0f, 57}, {400.0f, 90}, {10.0f, 0}};
    f.marker->setMarkerTime(-1);
    for (const auto& row : table) {
        f.marker->moveMarkerToPos(row.x);
        EXPECT_EQ(f.marker->markerTime(), row.frames) << row.x;
    }
    // Only the moves that changed the frame located the clock.
    EXPECT_EQ(f.manager->gotos, 6);
}

TEST(QVTTimelineMarkerController, HandlesSnapToWholeSecondsUnlessShiftAndStopAFrameShortOfEachOther)
{
    MarkerFixture f;
    f.composition(10.0);  // 300 frames, one per point
    f.bar->left = true;
    f.marker->throttlerMovedToPoint(55.0);  // frame 45, down to 30
    EXPECT_EQ(f.marker->inTime(), 30);
    f.bar->shift = true;
    f.marker->throttlerMovedToPoint(55.0);
    EXPECT_EQ(f.marker->inTime(), 45);
    f.marker->throttlerMovedToPoint(1000.0);  // onto the out handle
    EXPECT_EQ(f.marker->inTime(), 299);
    f.bar->shift = false;
    f.marker->throttlerMovedToPoint(40.0);
    EXPECT_EQ(f.marker->inTime(), 30);
    const int told = f.manager->throttlerDrags;
    f.marker->throttlerMovedToPoint(41.0);  // the same frame after the snap: nothing
    EXPECT_EQ(f.manager->throttlerDrags, told);

    f.bar->left = false;
    f.bar->right = true;
    f.marker->throttlerMovedToPoint(0.0);  // onto the in handle
    EXPECT_EQ(f.marker->outTime(), 31);
    f.marker->throttlerMovedToPoint(100.0);
    EXPECT_EQ(f.marker->outTime(), 90);
    EXPECT_EQ(f.manager->throttlerDrags, told + 2);
}

TEST(QVTTimelineMarkerController, TheRangeMovesByWholeSecondsAndStaysInsideTheComposition)
{
    MarkerFixture f;
    f.composition(10.0);
    f.marker->setInTime(30);
    f.marker->setOutTime(90);
    f.bar->range = true;
    f.bar->helperX = 100.0f;
    f.marker->throttlerMovedToPoint(115.0);  // 15 frames: under a second, the range stays
    EXPECT_EQ(f.marker->inTime(), 30);
    EXPECT_EQ(f.manager->throttlerDrags, 1);
    f.marker->throttlerMovedToPoint(140.0);  // 40 frames: one second
    EXPECT_EQ(f.marker->inTime(), 60);
    EXPECT_EQ(f.marker->outTime(), 120);
    EXPECT_FLOAT_EQ(f.bar->helperX, 140.0f);
    f.bar->shift = true;
    f.marker->throttlerMovedToPoint(145.0);
    EXPECT_EQ(f.marker->inTime(), 65);
    f.bar->helperX = 10.0f;
    f.marker->throttlerMovedToPoint(1000.0);  // clamped to the composition's end
    EXPECT_EQ(f.marker->outTime(), 300);
    EXPECT_EQ(f.marker->inTime(), 240);
    f.bar->helperX = 310.0f;
    f.marker->throttlerMovedToPoint(0.0);  // and to its start
    EXPECT_EQ(f.marker->inTime(), 0);
    EXPECT_EQ(f.marker->outTime(), 60);
}

TEST(QVTTimelineMarkerController, FeedbackIsZeroAtTheInPointOneAtTheOutAndZeroForAnEmptyRange)
{
    MarkerFixture f;
    f.marker->setInTime(10);
    f.marker->setOutTime(110);
    for (const auto& [frames, expected] : {std::pair{10, 0.0f}, {110, 1.0f}, {60, 0.5f}}) {
        f.marker->setMarkerTime(frames);
        EXPECT_FLOAT_EQ(f.feedback.back(), expected) << frames;
    }
    const std::size_t sent = f.feedback.size();
    f.marker->setMarkerTime(60);  // unchanged: nothing sent
    EXPECT_EQ(f.feedback.size(), sent);
    f.marker->setOutTime(10);
    f.marker->processOSCFeedback();
    EXPECT_FLOAT_EQ(f.feedback.back(), 0.0f);
}

TEST(QVTTimelineMarkerController, OSCMovesAreGatedClampedAndRefuseNotANumber)
{
    MarkerFixture f;
    f.marker->setInTime(0);
    f.marker->setOutTime(100);
    f.marker->setMarkerTimeByOSC(std::numeric_limits<float>::quiet_NaN());
    EXPECT_FALSE(f.manager->pendingDown);
    f.marker->setMarkerTimeByOSC(1.5f);
    ASSERT_TRUE(f.manager->pendingDown);
    EXPECT_FALSE(f.marker->canMovePlayhead());
    auto down = std::exchange(f.manager->pendingDown, nullptr);
    f.marker->setMarkerTimeByOSC(0.25f);  // the previous move is still applied: dropped
    EXPECT_FALSE(f.manager->pendingDown);
    down();
    EXPECT_EQ(f.marker->markerTime(), 100);
    EXPECT_EQ(f.manager->gotos, 1);
    ASSERT_TRUE(f.manager->pendingUp);
    EXPECT_FALSE(f.marker->canMovePlayhead());
    std::exchange(f.manager->pendingUp, nullptr)();
    EXPECT_TRUE(f.marker->canMovePlayhead());
    f.marker->setMarkerTimeByOSC(0.255f);
    std::exchange(f.manager->pendingDown, nullptr)();
    EXPECT_EQ(f.marker->markerTime(), 25);
}

TEST(QVTTimelineMarkerController, TheRecordRoundTripsAndABadOneKeepsTheRange)
{
    MarkerFixture f;
    f.marker->setInTime(12);
    f.marker->setOutTime(340);
    const QVariantMap saved = f.marker->saveData();
    MarkerFixture g;
    g.marker->loadData(saved);
    EXPECT_EQ(g.marker->inTime(), 12);
    EXPECT_EQ(g.marker->outTime(), 340);
    const QVariantMap bad[] = {
        {},
        {{"inTime", 1.5}, {"outTime", 20}},
        {{"inTime", QStringLiteral("1")}, {"outTime", 20}},
        {{"inTime", 20}, {"outTime", 20}},
        {{"inTime", 30}, {"outTime", 20}},
        {{"outTime", 20}},
    };
    for (const QVariantMap& record : bad) {
        g.marker->loadData(record);
        EXPECT_EQ(g.marker->inTime(), 12);
        EXPECT_EQ(g.marker->outTime(), 340);
    }
}

TEST(QVTTimelineMarkerController, ZoomDoublesAndHalvesTheWidthInsideTheMarginsNeverBelowTheVisibleWidth)
{
    MarkerFixture f;
    f.marker->zoomIn();
    EXPECT_DOUBLE_EQ(f.bar->w, 620.0);
    f.marker->zoomIn();
    EXPECT_DOUBLE_EQ(f.bar->w, 1220.0);
    f.marker->zoomOut();
    EXPECT_DOUBLE_EQ(f.bar->w, 620.0);
    f.marker->zoomOut();
    f.marker->zoomOut();
    EXPECT_DOUBLE_EQ(f.bar->w, 320.0);
    EXPECT_EQ(f.marker->zoomRatio(), 1);
}

}  // namespace
