#pragma once
// The position bar (playhead marker, in and out handles over the current cue's waveform) as its
// marker controller reads and drives it. The position bar view implements it; tests give a fake.
// Positions are in view points; the bar keeps a 10-point margin at each end. Main thread.

#include <cstdint>

class QVTTimelineMarkerViewInterface {
public:
    virtual ~QVTTimelineMarkerViewInterface() = default;

    // The bar's width; zooming sets it (the height stays).
    virtual double width() const = 0;
    virtual void setWidth(double width) = 0;
    // The width of the part of the bar the window shows: zooming out never goes below it.
    virtual double visibleWidth() const = 0;
    // Frames per point of the playhead's track: frames / (width - 20).
    virtual float markerTimeUnitInPixels() const = 0;
    // Frames per point of the handles' track: compTime x compFPS / (width - 20).
    virtual float throttlerTimeUnitInPixels() const = 0;
    // The x of a frame on the handles' track.
    virtual float throttlerPixelsForTime(std::int64_t frames) const = 0;
    // What the operator holds: the in handle, the out handle, the range between them; and Shift.
    virtual bool throttlerLeftSideSelected() const = 0;
    virtual bool throttlerRightSideSelected() const = 0;
    virtual bool throttlerSelected() const = 0;
    virtual bool shiftPressed() const = 0;
    // The x of the last applied move of a range drag.
    virtual float helperXForThrottlerDragMe() const = 0;
    virtual void setHelperXForThrottlerDragMe(float x) = 0;
    // Redraws the playhead marker / the whole bar.
    virtual void redrawMarker() = 0;
    virtual void setNeedsDisplay() = 0;
    // The playhead indicator over the waveform hides while the bar is disabled.
    virtual void setPlayheadIndicatorHidden(bool hidden) = 0;
};
