#pragma once
// The position bar: a ruler of the current cue's length (frame ticks, second, minute and hour
// labels), the playhead marker, the in and out handles with the range between them and the
// transition area. The marker controller holds every value; the bar draws them and turns presses
// and drags into the controller's moves. A press with drags is one undo group on the window's
// undo manager. Drawing is described y upwards; the time scale runs from x = 10 to W - 10.
//
// Scales: N = compFPS x compTime - 1 frames, kept at 0 or above (a zero or negative length
// gives 0); with N = 0 or W <= 20 every scale is 0, so no division by zero reaches a pixel.
// Main thread.

#include "Views/QVTTimelineMarkerViewInterface.h"

#include <QRectF>
#include <QWidget>

#include <cstdint>
#include <memory>

class KavioPlayheadIndicator;
class QVTTimelineMarkerController;
class QVTTimelineMarkerControllerDelegate;
class UndoManager;

class QVTTimelineMarkerView : public QWidget, public QVTTimelineMarkerViewInterface {
public:
    explicit QVTTimelineMarkerView(QWidget* parent = nullptr);

    struct Outlets {
        std::weak_ptr<QVTTimelineMarkerController> controller;
        std::weak_ptr<QVTTimelineMarkerControllerDelegate> videoItemManager;
        UndoManager* undoManager = nullptr;
        KavioPlayheadIndicator* playheadIndicatorOnWaveform = nullptr;
    };
    void setOutlets(const Outlets& outlets) { outlets_ = outlets; }

    // --- Scales --------------------------------------------------------------------------------
    std::int64_t numberOfFrames() const;
    float markerPixelsForTime() const;
    QRectF markerRect() const;
    QRectF fullThrottlerRect() const;
    QRectF throttlerLeftRect() const;
    QRectF throttlerRightRect() const;
    QRectF transitionAreaRect() const;
    bool markerSelected() const { return markerSelected_; }

    // --- QVTTimelineMarkerViewInterface -------------------------------------------------------
    double width() const override { return QWidget::width(); }
    void setWidth(double width) override { resize(int(width), height()); }
    double visibleWidth() const override;
    float markerTimeUnitInPixels() const override;
    float throttlerTimeUnitInPixels() const override;
    float throttlerPixelsForTime(std::int64_t frames) const override;
    bool throttlerLeftSideSelected() const override { return throttlerLeftSideSelected_; }
    bool throttlerRightSideSelected() const override { return throttlerRightSideSelected_; }
    bool throttlerSelected() const override { return throttlerSelected_; }
    bool shiftPressed() const override { return shiftPressed_; }
    float helperXForThrottlerDragMe() const override { return helperXForThrottlerDragMe_; }
    void setHelperXForThrottlerDragMe(float x) override { helperXForThrottlerDragMe_ = x; }
    void redrawMarker() override;
    void setNeedsDisplay() override { update(); }
    void setPlayheadIndicatorHidden(bool hidden) override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // Frames per pixel of the drawing scale: (W - 20) / N, 0 when N < 2 or W <= 20.
    double pixelsPerFrame() const;
    // The y-up rectangle in Qt coordinates.
    QRectF qt(const QRectF& upward) const;
    void mouseUp();
    void markerMouseDown(bool moveTo, float x);

    Outlets outlets_;
    bool undogroupingstarted_ = false;
    bool shouldwaitforcompletedhandler_ = false;
    bool shouldprocessmouseupaftercompletedhandler_ = false;
    bool markerSelected_ = false;
    bool throttlerLeftSideSelected_ = false;
    bool throttlerRightSideSelected_ = false;
    bool throttlerSelected_ = false;
    bool shiftPressed_ = true;
    float helperXForThrottlerDragMe_ = 0.0f;
    QRectF lastDrawRect_;
};
