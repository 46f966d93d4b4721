#pragma once
// QVTTimelineMarkerController: the position bar's controller. It keeps the playhead and the in
// and out points of the composition (the current cue, or a crossover's mix) in frames, turns
// mouse positions on the bar into frames, moves the playhead on OSC and sends its position as
// the feedback "/kavio/playhead" (0 at the in point, 1 at the out point).
//
// Ownership: the main window's set-up creates the one controller; the bar view and the cue list
// controller are held weakly. Threads: main thread, except setMarkerTimeByOSC (any thread: it
// re-posts itself to the main queue) and processOSCFeedback (any thread).

#include "Controller/QVTTimelineMarkerControllerInterface.h"

#include <QVariantMap>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class QVTOSCMessage;
class QVTTimelineMarkerViewInterface;

class QVTTimelineMarkerController : public QVTTimelineMarkerControllerInterface,
                                    public std::enable_shared_from_this<QVTTimelineMarkerController> {
public:
    // What sends the playhead feedback; by default QVTOSCManager::sharedManager().
    using FeedbackSender = std::function<void(const QVTOSCMessage&)>;
    // No playhead mark for a transition.
    static constexpr std::int64_t kNoTransitionMark = 4294967295LL;

    // The initial state: playhead movable by OSC, 30 frames a second over 1 s, not mixing,
    // handles enabled; "processOSCFeedback" on the default centre resends the feedback.
    static std::shared_ptr<QVTTimelineMarkerController> init(FeedbackSender sender = {});
    ~QVTTimelineMarkerController() override;
    QVTTimelineMarkerController(const QVTTimelineMarkerController&) = delete;
    QVTTimelineMarkerController& operator=(const QVTTimelineMarkerController&) = delete;

    void setMarkerView(std::weak_ptr<QVTTimelineMarkerViewInterface> view) { markerView_ = std::move(view); }
    void setVideoItemManager(std::weak_ptr<QVTTimelineMarkerControllerDelegate> manager)
    {
        videoItemManager_ = std::move(manager);
    }

    // --- The figures (frames of the composition) --------------------------------------------
    std::int64_t markerTime() const override { return markerTime_.load(); }
    // Stores the playhead; a change sends the feedback.
    void setMarkerTime(std::int64_t frames) override;
    std::int64_t inTime() const override { return inTime_.load(); }
    void setInTime(std::int64_t frames) override { inTime_ = frames; }
    std::int64_t outTime() const override { return outTime_.load(); }
    void setOutTime(std::int64_t frames) override { outTime_ = frames; }
    std::int64_t transitionStartTime() const { return transitionStartTime_.load(); }
    void setTransitionStartTime(std::int64_t frames) override { transitionStartTime_ = frames; }
    float currentTime() const { return currentTime_; }
    void setCurrentTime(float seconds) { currentTime_ = seconds; }
    double compTime() const { return compTime_; }
    void setCompTime(double seconds) override { compTime_ = seconds; }
    std::uint64_t compFPS() const { return compFPS_; }
    void setCompFPS(std::uint64_t fps) override { compFPS_ = fps; }
    bool isMixing() const { return isMixing_; }
    void setIsMixing(bool mixing) override { isMixing_ = mixing; }
    bool enabled() const { return enabled_; }
    // Stores it and redraws; a disabled bar hides the waveform's playhead indicator.
    void setEnabled(bool enabled) override;
    bool throttlersEnabled() const { return throttlersEnabled_; }
    void setThrottlersEnabled(bool enabled) override { throttlersEnabled_ = enabled; }
    bool canMovePlayhead() const { return canMovePlayhead_.load(); }
    // The position bar blocks a second playhead move until the previous mouse-up is handled.
    void setCanMovePlayhead(bool can) { canMovePlayhead_.store(can); }
    const QVTOSCMessage& oscFeedbackMessage() const { return *oscFeedbackMessage_; }

    // In 0, out at the composition's end, no transition mark, playhead at 0.
    void addMarkerAndThrottler() override;

    // --- Drags from the bar ------------------------------------------------------------------
    // The playhead dragged to x: the frame under it (rounded half away from zero, in single
    // precision) becomes the playhead, and the cue list controller locates there.
    void moveMarkerToPos(float x);
    // A handle (or the range) dragged to x. Without Shift handles snap down to whole seconds of
    // the composition and a range moves only by whole seconds (a shorter drag accumulates);
    // a handle stops one frame short of the other; the range stays inside the composition. The
    // cue list controller is told after every change.
    void throttlerMovedToPoint(double x);
    // The cue list controller locates to the playhead; the marker redraws.
    void markerDragged();
    // v of the in-out range (0..1; outside clamped, not a number refused) becomes the playhead,
    // inside the controller's drag bracket. Dropped (logged) while the previous one is applied.
    void setMarkerTimeByOSC(float v) override;
    // Sends the playhead's place in the in-out range; 0 when the range is empty.
    void processOSCFeedback();
    void refreshMarker();
    void redrawMarkerView() override { refreshMarker(); }
    // The handles' x on the waveform.
    double inPointForWaveform() const override;
    double outPointForWaveform() const override;
    bool throttlerLeftSideSelected() const override;
    bool throttlerRightSideSelected() const override;
    bool throttlerSelected() const override;

    // Zoom in doubles the bar's width inside its margins; zoom out halves it, never below the
    // visible width.
    void zoomIn();
    void zoomOut();
    int zoomRatio() const { return 1; }

    void removeResources();

    // {"inTime", "outTime"} as integers. loadData keeps the range it has for a record without
    // two integers or with out at or before in; nothing for an empty record.
    QVariantMap saveData() const;
    void loadData(const QVariantMap& data);

private:
    explicit QVTTimelineMarkerController(FeedbackSender sender);
    void throttlerChanged();

    std::weak_ptr<QVTTimelineMarkerViewInterface> markerView_;
    std::weak_ptr<QVTTimelineMarkerControllerDelegate> videoItemManager_;
    FeedbackSender sender_;
    std::unique_ptr<QVTOSCMessage> oscFeedbackMessage_;

    // The playhead is read by the render thread's feedback; the rest belongs to the main thread.
    std::atomic<std::int64_t> markerTime_{0}, inTime_{0}, outTime_{0}, transitionStartTime_{kNoTransitionMark};
    float currentTime_ = 0.0f;
    double compTime_ = 1.0;
    std::uint64_t compFPS_ = 30;
    bool isMixing_ = false;
    bool enabled_ = false;
    bool throttlersEnabled_ = true;
    std::atomic<bool> canMovePlayhead_{true};
};
