#include "OutputsTestSupport.h"
#include "OutputManagerFakes.h"

#include "Outputs/KavioOutputSetupControls.h"
#include "Outputs/KavioVideoOutputCornerHandle.h"
#include "Outputs/KavioVideoOutputSetupView.h"
#include "Views/KavioControllableTextField.h"
#include "Views/KavioPopUpButton.h"
#include "Views/KavioScrollView.h"

#include "../ndi/AudioTestSupport.h"
#include "NotificationCenter.h"
#include "UndoManager.h"
#include "UserDefaults.h"

#include <QDir>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTest>

namespace {

class KavioVideoOutputSetupViewTest : public OutputsTest {
protected:
    void SetUpWithDevice() override
    {
        displays = std::make_shared<FakeDisplayList>();
        displays->list = {display("Studio 27", {0, 0, 1920, 1080}, true, {11, 0x10ac, 0xa0c4, 101})};
        videoManager = std::make_shared<FakeVideoManager>();
        outputs = startOutputManager(*manager, displays, videoManager);
        ui().warpViewScrollView->setFixedSize(402, 245);
        ui().show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&ui()));
        canvas().handleChangeZoomToLevel("Fit");
        NotificationCenter::defaultCenter().addObserver(this, "ProjectHasUnsavedChanges", nullptr,
                                                        [this](const Notification&) { ++unsavedPosts; });
        undo().removeAllActions();
    }
    void TearDown() override
    {
        NotificationCenter::defaultCenter().removeObserver(this);
        outputs.reset();
    }

    KavioOutputSetupControls& ui() { return outputs->controls(); }
    KavioVideoOutputSetupView& canvas() { return *ui().outputSetupView; }
    UndoManager& undo() { return outputs->undoManager(); }
    std::shared_ptr<KavioVideoOutputObject> output(std::size_t n = 0) { return outputs->outputObjects().at(n); }
    void grid(int rows, int cols)
    {
        ui().screenRowsField->setText(QString::number(rows));
        ui().screenColsField->setText(QString::number(cols));
        outputs->changeNumberOfScreensManually();
        undo().removeAllActions();
    }

    // Presses the handle at its centre, moves the pointer by each offset (Qt's y downwards) with
    // the button held, and releases.
    void drag(KavioVideoOutputCornerHandle* handle, const std::vector<QPoint>& offsets)
    {
        const QPoint start(6, 6);
        QTest::mousePress(handle, Qt::LeftButton, {}, start);
        QPoint at = start;
        for (const QPoint& offset : offsets) {
            at += offset;
            QMouseEvent move(QEvent::MouseMove, at, handle->mapToGlobal(at), Qt::NoButton, Qt::LeftButton, {});
            QCoreApplication::sendEvent(handle, &move);
        }
        QTest::mouseRelease(handle, Qt::LeftButton, {}, at);
    }
    void key(Qt::Key k) { QTest::keyClick(&canvas(), k); }

    std::shared_ptr<FakeDisplayList> displays;
    std::shared_ptr<FakeVideoManager> videoManager;
    std::unique_ptr<KavioVideoOutputManager> outputs;
    int unsavedPosts = 0;
};

bool sameCorners(const KavioCornerCoords& a, const KavioCornerCoords& b)
{
    return a.data() == b.data();
}

TEST_F(KavioVideoOutputSetupViewTest, FitAndPercentagesSizeTheCanvas)
{
    EXPECT_EQ(canvas().size(), QSize(400, 225));
    EXPECT_EQ(canvas().outputObj(), output());
    canvas().undoChangeZoomLevel("100");
    EXPECT_EQ(canvas().size(), QSize(1920, 1080));
    EXPECT_EQ(ui().zoomPopup->titleOfSelectedItem(), "100%");
    EXPECT_EQ(undo().undoActionName(), "Change Zoom Level");
    canvas().undoChangeZoomLevel("25");
    EXPECT_EQ(canvas().size(), QSize(480, 270));
    undo().undo();
    EXPECT_EQ(canvas().size(), QSize(1920, 1080));
    undo().undo();
    EXPECT_EQ(canvas().size(), QSize(400, 225));
    EXPECT_EQ(ui().zoomPopup->titleOfSelectedItem(), "Fit");
    // The corners in pixels survive the zoom; the handles follow the canvas.
    EXPECT_TRUE(sameCorners(output()->cornerCoords(), KavioCornerCoords{}));
    EXPECT_EQ(canvas().topRightHandle()->frameOrigin(), QPointF(376, 201));

    undo().removeAllActions();
    undo().disableUndoRegistration();
    canvas().undoChangeZoomLevel("50");
    undo().enableUndoRegistration();
    EXPECT_FALSE(undo().canUndo());
    EXPECT_EQ(canvas().size(), QSize(960, 540));
}

TEST_F(KavioVideoOutputSetupViewTest, DragStopsAtTheInnerAreaAndUndoReturnsToItsStart)
{
    KavioVideoOutputCornerHandle* topLeft = canvas().topLeftHandle();
    drag(topLeft, {{40, 30}});
    const KavioCornerCoords moved = output()->cornerCoords();
    EXPECT_GT(moved.topLeft.x, -1.0f);
    EXPECT_LT(moved.topLeft.y, 1.0f);
    undo().removeAllActions();

    std::vector<QPoint> tenEvents(9, QPoint(3, 2));
    tenEvents.push_back({-2000, -2000});
    drag(topLeft, tenEvents);
    EXPECT_EQ(topLeft->pixelValue(), QPointF(0, 1080));
    EXPECT_EQ(output()->cornerCoords().topLeft.x, -1.0f);
    EXPECT_EQ(output()->cornerCoords().topLeft.y, 1.0f);
    EXPECT_EQ(undo().undoActionName(), "Move Corner Point");
    EXPECT_TRUE(undo().undoActionIsDiscardable());
    EXPECT_EQ(unsavedPosts, 11);
    ASSERT_TRUE(undo().undo());
    EXPECT_FALSE(undo().canUndo()) << "the whole drag is one step";
    EXPECT_TRUE(sameCorners(output()->cornerCoords(), moved));

    drag(canvas().bottomRightHandle(), {{2000, 2000}});
    EXPECT_EQ(canvas().bottomRightHandle()->pixelValue(), QPointF(1920, 0));
    EXPECT_EQ(output()->cornerCoords().bottomRight.x, 1.0f);
    EXPECT_EQ(output()->cornerCoords().bottomRight.y, -1.0f);
}

TEST_F(KavioVideoOutputSetupViewTest, ArrowKeysStepTheSelectedCornerWithinTheFields)
{
    const KavioCornerCoords before = output()->cornerCoords();
    key(Qt::Key_Up);
    key(Qt::Key_Right);
    EXPECT_TRUE(sameCorners(output()->cornerCoords(), before)) << "no handle selected";
    EXPECT_FALSE(undo().canUndo());
    EXPECT_EQ(ui().currentCornerX->stringValue(), "-");
    EXPECT_FALSE(ui().currentCornerX->isEnabled());

    QTest::mouseClick(canvas().bottomLeftHandle(), Qt::LeftButton, {}, {6, 6});
    EXPECT_TRUE(ui().currentCornerY->isEnabled());
    EXPECT_EQ(ui().currentCornerY->maximum(), 1080);
    key(Qt::Key_Up);
    EXPECT_EQ(canvas().bottomLeftHandle()->pixelValue(), QPointF(0, 1));
    EXPECT_FLOAT_EQ(output()->cornerCoords().bottomLeft.y, 2.0f / 1080 - 1);
    key(Qt::Key_Left);  // at the minimum already
    EXPECT_EQ(canvas().bottomLeftHandle()->pixelValue(), QPointF(0, 1));

    QTest::mouseClick(canvas().topRightHandle(), Qt::LeftButton, {}, {6, 6});
    key(Qt::Key_Up);
    key(Qt::Key_Right);
    EXPECT_EQ(canvas().topRightHandle()->pixelValue(), QPointF(1920, 1080));
    key(Qt::Key_Down);
    EXPECT_EQ(canvas().topRightHandle()->pixelValue(), QPointF(1920, 1079));
    EXPECT_EQ(ui().currentCornerY->stringValue(), "1079");
}

TEST_F(KavioVideoOutputSetupViewTest, ResetCornersIsOneStepRestoringAllFour)
{
    QTest::mouseClick(canvas().topLeftHandle(), Qt::LeftButton, {}, {6, 6});
    key(Qt::Key_Right);
    QTest::mouseClick(canvas().bottomRightHandle(), Qt::LeftButton, {}, {6, 6});
    key(Qt::Key_Up);
    const KavioCornerCoords edited = output()->cornerCoords();
    undo().removeAllActions();
    canvas().resetHandles();
    EXPECT_TRUE(sameCorners(output()->cornerCoords(), KavioCornerCoords{}));
    EXPECT_EQ(undo().undoActionName(), "Reset Corners");
    EXPECT_FALSE(canvas().hasSelectedPin());
    ASSERT_TRUE(undo().undo());
    EXPECT_FALSE(undo().canUndo());
    EXPECT_TRUE(sameCorners(output()->cornerCoords(), edited));
}

TEST_F(KavioVideoOutputSetupViewTest, UndoingAnotherOutputsStepShowsThatOutputFirst)
{
    grid(1, 2);
    outputs->selectScreenAtIndex(2);
    ASSERT_EQ(canvas().outputObj(), output(1));
    QTest::mouseClick(canvas().bottomLeftHandle(), Qt::LeftButton, {}, {6, 6});
    key(Qt::Key_Up);
    EXPECT_NE(output(1)->cornerCoords().bottomLeft.y, -1.0f);
    outputs->selectScreenAtIndex(1);
    ASSERT_EQ(canvas().outputObj(), output(0));
    ASSERT_TRUE(undo().undo());
    EXPECT_EQ(canvas().outputObj(), output(1));
    EXPECT_EQ(outputs->selectedOutput(), 2u);
    EXPECT_TRUE(sameCorners(output(1)->cornerCoords(), KavioCornerCoords{}));
    EXPECT_TRUE(sameCorners(output(0)->cornerCoords(), KavioCornerCoords{}));
}

TEST_F(KavioVideoOutputSetupViewTest, EdgeBlendingIsOneStepSharedWithTheNeighbour)
{
    grid(1, 2);
    outputs->undoChangeEdgeBlendToState(true);
    outputs->selectScreenAtIndex(2);
    EXPECT_EQ(ui().edgeBlendWidths[0]->maximum(), 960);
    EXPECT_EQ(ui().edgeBlendWidths[2]->maximum(), 540);
    EXPECT_TRUE(ui().edgeBlendWidths[0]->isEnabled()) << "a neighbour on the left";
    EXPECT_FALSE(ui().edgeBlendWidths[1]->isEnabled());
    EXPECT_FALSE(ui().edgeBlendPowers[2]->isEnabled());
    undo().removeAllActions();

    ui().edgeBlendWidths[0]->setStringValue("200");
    ui().edgeBlendPowers[0]->setStringValue("2.5");
    canvas().changeEdgeBlending();
    EXPECT_EQ(undo().undoActionName(), "Set Edge Blending");
    EXPECT_FALSE(undo().undoActionIsDiscardable());
    EXPECT_EQ(output(1)->edgeBlendSettings().leftEdgeWidth, 200);
    EXPECT_EQ(output(0)->edgeBlendSettings().rightEdgeWidth, 200);
    EXPECT_FLOAT_EQ(output(0)->edgeBlendSettings().rightEdgePower, 2.5f);

    canvas().resetEdgeBlend();
    EXPECT_EQ(undo().undoActionName(), "Reset Edge Blending");
    EXPECT_EQ(output(1)->edgeBlendSettings().data(), KavioEdgeBlendSettings{}.data());
    EXPECT_EQ(output(0)->edgeBlendSettings().rightEdgeWidth, 0);
    EXPECT_EQ(ui().edgeBlendPowers[0]->stringValue(), "1.000000");
    undo().undo();
    EXPECT_EQ(output(1)->edgeBlendSettings().leftEdgeWidth, 200);
    EXPECT_EQ(output(0)->edgeBlendSettings().rightEdgeWidth, 200);
}

TEST_F(KavioVideoOutputSetupViewTest, AZeroSizeOutputKeepsItsStoredCorners)
{
    KavioCornerCoords stored;
    stored.topLeft = {-0.5f, 0.75f};
    output()->setCornerCoords(stored);
    output()->changeFrameIfNeeded(QRectF());
    LogCapture log;
    canvas().setOutputObj(output());
    EXPECT_EQ(log.count("invalid zoom frame!"), 1);
    EXPECT_EQ(canvas().size(), QSize(400, 225)) << "a frame that is not a number is not applied";
    QTest::mouseClick(canvas().topLeftHandle(), Qt::LeftButton, {}, {6, 6});
    key(Qt::Key_Down);
    drag(canvas().topLeftHandle(), {{20, 20}});
    canvas().undoChangeZoomLevel("100");
    canvas().undoChangeZoomLevel("Fit");
    EXPECT_TRUE(sameCorners(output()->cornerCoords(), stored));
}

// Lengths of the runs of filled and empty cells up the preview's middle column, bottom first.
std::vector<int> runsUpTheMiddle(const QImage& image)
{
    std::vector<int> runs;
    const int x = image.width() / 2;
    bool filled = false;
    for (int y = image.height() - 1; y >= 0; --y) {
        const bool here = qAlpha(image.pixel(x, y)) > 128;
        if (runs.empty() || here != filled)
            runs.push_back(0);
        filled = here;
        ++runs.back();
    }
    return runs;
}

TEST_F(KavioVideoOutputSetupViewTest, PreviewOfTheDefaultProjectionIsTheCheckerboardItself)
{
    canvas().redrawWithNewSettings();
    const QImage& board = canvas().sourceBackGround();
    const QImage& preview = canvas().perspectiveCorrectBackground();
    ASSERT_EQ(board.size(), QSize(364, 189));
    ASSERT_EQ(preview.size(), board.size());
    EXPECT_GT(qAlpha(board.pixel(2, board.height() - 2)), 200) << "the bottom-left cell is filled";
    EXPECT_EQ(qAlpha(board.pixel(board.width() / 8 + 2, board.height() - 2)), 0);
    int differing = 0;
    for (int y = 0; y < board.height(); ++y)
        for (int x = 0; x < board.width(); ++x) {
            const QRgb a = board.pixel(x, y), b = preview.pixel(x, y);
            if (std::abs(qAlpha(a) - qAlpha(b)) > 2 || std::abs(qGreen(a) - qGreen(b)) > 2)
                ++differing;
        }
    EXPECT_EQ(differing, 0);
}

TEST_F(KavioVideoOutputSetupViewTest, PreviewShowsPerspectiveForAConvexQuadAndBilinearCellsForABowTie)
{
    KavioCornerCoords pulled;
    pulled.topLeft = {-0.5f, 1.0f};
    pulled.topRight = {0.5f, 1.0f};
    output()->setCornerCoords(pulled);
    canvas().redrawWithNewSettings();
    const std::vector<int> perspective = runsUpTheMiddle(canvas().perspectiveCorrectBackground());
    ASSERT_EQ(perspective.size(), 8u);
    EXPECT_GT(perspective.front(), perspective.back() * 1.3) << "rows shorten towards the narrow top";
    const QImage& warped = canvas().perspectiveCorrectBackground();
    EXPECT_EQ(qAlpha(warped.pixel(2, 2)), 0) << "outside the pulled-in top corner";

    KavioCornerCoords bowTie;
    bowTie.topLeft = {1.0f, 1.0f};
    bowTie.topRight = {-1.0f, 1.0f};
    output()->setCornerCoords(bowTie);
    output()->setWarpMode(1);  // subdivided: the cells follow the bilinear grid
    canvas().redrawWithNewSettings();
    // Near the unchanged bottom edge the columns keep their even widths: no perspective weight.
    const QImage& crossed = canvas().perspectiveCorrectBackground();
    std::vector<int> columns;
    bool filled = false;
    for (int x = 0; x < crossed.width(); ++x) {
        const bool here = qAlpha(crossed.pixel(x, crossed.height() - 2)) > 128;
        if (columns.empty() || here != filled)
            columns.push_back(0);
        filled = here;
        ++columns.back();
    }
    // A sliver at either end where the slanted sides cross the scanline is no cell.
    if (columns.back() < 4)
        columns.pop_back();
    if (columns.front() < 4)
        columns.erase(columns.begin());
    ASSERT_EQ(columns.size(), 8u);
    for (int run : columns)
        EXPECT_NEAR(run, 364 / 8.0, 3.0);
}

TEST_F(KavioVideoOutputSetupViewTest, PreviewDarkensALeftBlendInARamp)
{
    canvas().redrawWithNewSettings();
    const QImage plain = canvas().perspectiveCorrectBackground();
    output()->setEdgeBlendEnabled(true);
    KavioEdgeBlendSettings blend;
    blend.leftEdgeWidth = 480;  // a quarter of the picture
    output()->setEdgeBlendSettings(blend);
    canvas().redrawWithNewSettings();
    const QImage blended = canvas().perspectiveCorrectBackground();
    ASSERT_FALSE(blended.isNull());
    const int y = blended.height() - 5;  // along the bottom row of cells, whose first cell is filled
    const int quarter = blended.width() / 4;
    EXPECT_LT(qGreen(blended.pixel(2, y)), qGreen(plain.pixel(2, y)) / 2);
    EXPECT_LT(qGreen(blended.pixel(2, y)), qGreen(blended.pixel(30, y)));
    EXPECT_EQ(qGreen(blended.pixel(quarter + 80, y)), qGreen(plain.pixel(quarter + 80, y)));
}

TEST_F(KavioVideoOutputSetupViewTest, AnEmptyInnerAreaGivesNoPreviewAndTheCanvasStillDraws)
{
    canvas().resize(30, 30);
    canvas().handleChangeZoomToLevel("1");  // 19 x 10: no inner area
    EXPECT_EQ(canvas().size(), QSize(19, 10));
    canvas().redrawWithNewSettings();
    EXPECT_TRUE(canvas().sourceBackGround().isNull());
    EXPECT_TRUE(canvas().perspectiveCorrectBackground().isNull());
    EXPECT_FALSE(canvas().grab().isNull());
    EXPECT_TRUE(sameCorners(output()->cornerCoords(), KavioCornerCoords{}));
}

TEST_F(KavioVideoOutputSetupViewTest, ScreenshotOfTheSetUpWindow)
{
    grid(1, 2);
    outputs->undoChangeEdgeBlendToState(true);
    outputs->selectScreenAtIndex(2);
    QTest::mouseClick(canvas().topLeftHandle(), Qt::LeftButton, {}, {6, 6});
    for (int i = 0; i < 30; ++i)
        key(Qt::Key_Right);
    ui().edgeBlendWidths[0]->setStringValue("300");
    canvas().changeEdgeBlending();
    QDir().mkpath(KAVIO_SCREENSHOT_DIR);
    ASSERT_TRUE(ui().grab().save(QStringLiteral(KAVIO_SCREENSHOT_DIR "/output-setup-window.png")));
}

}  // namespace
