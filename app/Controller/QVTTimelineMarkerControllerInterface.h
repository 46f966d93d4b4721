#pragma once
// The position bar's controller (playhead marker, in and out handles) as the cue list controller
// drives it. The marker controller implements it; tests give a recording fake. Times are frames
// of the composition (the current cue). Main thread unless said.

#include <cstdint>
#include <functional>

class QVTTimelineMarkerControllerInterface {
public:
    virtual ~QVTTimelineMarkerControllerInterface() = default;

    // --- Cue list controller ------------------------------------------------------------------
    virtual void setEnabled(bool enabled) = 0;
    // The in and out handles can be dragged. Any thread.
    virtual void setThrottlersEnabled(bool enabled) = 0;
    virtual void setIsMixing(bool mixing) = 0;
    virtual void setCompFPS(std::uint64_t fps) = 0;
    // Seconds.
    virtual void setCompTime(double seconds) = 0;
    virtual void setInTime(std::int64_t frames) = 0;
    virtual void setTransitionStartTime(std::int64_t frames) = 0;
    virtual void setOutTime(std::int64_t frames) = 0;
    virtual void setMarkerTime(std::int64_t frames) = 0;
    // In 0, out at the composition's end, no transition mark, playhead at 0.
    virtual void addMarkerAndThrottler() = 0;
    // x positions of the in and out handles on the waveform.
    virtual double inPointForWaveform() const = 0;
    virtual double outPointForWaveform() const = 0;
    // The position bar redraws.
    virtual void redrawMarkerView() = 0;
    // --- Jumps, transport and seeking ---------------------------------------------------------
    virtual std::int64_t markerTime() const = 0;
    virtual std::int64_t inTime() const = 0;
    virtual std::int64_t outTime() const = 0;
    // Which handle the operator holds on the position bar: the in side, the out side, the range.
    virtual bool throttlerLeftSideSelected() const = 0;
    virtual bool throttlerRightSideSelected() const = 0;
    virtual bool throttlerSelected() const = 0;
    // The remote playhead: a fraction 0..1 of the current cue's in-out range. Any thread.
    virtual void setMarkerTimeByOSC(float /*fraction*/) {}
};

// What the marker controller asks of the cue list controller while the operator drags the
// playhead or the in and out handles. Main thread.
class QVTTimelineMarkerControllerDelegate {
public:
    virtual ~QVTTimelineMarkerControllerDelegate() = default;

    // Brackets a playhead drag: playback stops for it (the handler runs once stopped) and
    // resumes after it (the handler runs once resumed).
    virtual void handleMarkerMouseDownWithCompletedHandler(std::function<void()> handler) = 0;
    virtual void handleMarkerMouseUpWithCompletedHandler(std::function<void()> handler) = 0;
    // The clock follows the playhead marker.
    virtual void performGotoToByMarker() = 0;
    // An in or out handle (or the range) moved: the current cue takes the new points.
    virtual void handleMarkerThrottlerDragged() = 0;
};
