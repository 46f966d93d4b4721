#include "Controller/QVTTimelineMarkerController.h"

#include "Support/KavioVariantKinds.h"
#include "Views/QVTTimelineMarkerViewInterface.h"
#include "DispatchQueue.h"
#include "Log.h"
#include "NotificationCenter.h"
#include "QVTOSCManager.h"
#include "QVTOSCMessage.h"
#include "QVTOSCValue.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// The bar's margin at each end, in points.
constexpr double kMargin = 10.0;

// Single-precision rounding with halves away from zero, as the bar's frames are counted.
std::int64_t roundFrames(float value)
{
    return std::int64_t(std::round(value));
}

}  // namespace

std::shared_ptr<QVTTimelineMarkerController> QVTTimelineMarkerController::init(FeedbackSender sender)
{
    std::shared_ptr<QVTTimelineMarkerController> controller(new QVTTimelineMarkerController(std::move(sender)));
    const std::weak_ptr<QVTTimelineMarkerController> weak = controller;
    NotificationCenter::defaultCenter().addObserver(controller.get(), QStringLiteral("processOSCFeedback"), nullptr,
                                                    [weak](const Notification&) {
                                                        if (const auto self = weak.lock())
                                                            self->processOSCFeedback();
                                                    });
    return controller;
}

QVTTimelineMarkerController::QVTTimelineMarkerController(FeedbackSender sender)
    : sender_(std::move(sender)), oscFeedbackMessage_(std::make_unique<QVTOSCMessage>(QStringLiteral("/kavio/playhead")))
{
    if (!sender_)
        sender_ = [](const QVTOSCMessage& message) { QVTOSCManager::sharedManager().sendOSCMessage(message); };
}

QVTTimelineMarkerController::~QVTTimelineMarkerController()
{
    removeResources();
}

void QVTTimelineMarkerController::removeResources()
{
    NotificationCenter::defaultCenter().removeObserver(this);
}

// --- Figures ---------------------------------------------------------------------------------------

void QVTTimelineMarkerController::setMarkerTime(std::int64_t frames)
{
    if (markerTime_.exchange(frames) != frames)
        processOSCFeedback();
}

void QVTTimelineMarkerController::setEnabled(bool enabled)
{
    enabled_ = enabled;
    refreshMarker();
    if (const auto view = markerView_.lock())
        view->setPlayheadIndicatorHidden(!enabled);
}

void QVTTimelineMarkerController::addMarkerAndThrottler()
{
    inTime_ = 0;
    outTime_ = std::int64_t(compTime_ * double(compFPS_));
    transitionStartTime_ = kNoTransitionMark;
    markerTime_ = 0;
}

void QVTTimelineMarkerController::refreshMarker()
{
    if (const auto view = markerView_.lock())
        view->setNeedsDisplay();
}

double QVTTimelineMarkerController::inPointForWaveform() const
{
    const auto view = markerView_.lock();
    return view ? view->throttlerPixelsForTime(inTime()) : 0.0;
}

double QVTTimelineMarkerController::outPointForWaveform() const
{
    const auto view = markerView_.lock();
    return view ? view->throttlerPixelsForTime(outTime()) + 10.0 : 0.0;
}

bool QVTTimelineMarkerController::throttlerLeftSideSelected() const
{
    const auto view = markerView_.lock();
    return view && view->throttlerLeftSideSelected();
}

bool QVTTimelineMarkerController::throttlerRightSideSelected() const
{
    const auto view = markerView_.lock();
    return view && view->throttlerRightSideSelected();
}

bool QVTTimelineMarkerController::throttlerSelected() const
{
    const auto view = markerView_.lock();
    return view && view->throttlerSelected();
}

// --- The playhead ----------------------------------------------------------------------------------

void QVTTimelineMarkerController::moveMarkerToPos(float x)
{
    const auto view = markerView_.lock();
    if (!view)
        return;
    const double p = std::clamp(double(x), kMargin, std::max(kMargin, view->width() - kMargin));
    const std::int64_t frames = roundFrames(float(p - kMargin) * view->markerTimeUnitInPixels());
    if (frames == markerTime())
        return;
    setMarkerTime(frames);
    markerDragged();
}

void QVTTimelineMarkerController::markerDragged()
{
    if (const auto manager = videoItemManager_.lock())
        manager->performGotoToByMarker();
    if (const auto view = markerView_.lock())
        view->redrawMarker();
}

void QVTTimelineMarkerController::setMarkerTimeByOSC(float v)
{
    if (!DispatchQueue::isMainThread()) {
        DispatchQueue::main().async([weak = weak_from_this(), v] {
            if (const auto self = weak.lock())
                self->setMarkerTimeByOSC(v);
        });
        return;
    }
    if (std::isnan(v)) {
        KLOG_WARN("a playhead position that is not a number: refused");
        return;
    }
    v = std::clamp(v, 0.0f, 1.0f);
    if (!canMovePlayhead_.load()) {
        KLOG_VERBOSE("skipping setMarkerTimeByOSC");
        return;
    }
    const auto manager = videoItemManager_.lock();
    if (!manager)
        return;
    canMovePlayhead_ = false;
    const std::weak_ptr<QVTTimelineMarkerController> weak = weak_from_this();
    manager->handleMarkerMouseDownWithCompletedHandler([weak, v] {
        const auto self = weak.lock();
        if (!self)
            return;
        const float in = float(self->inTime());
        self->setMarkerTime(std::int64_t(std::trunc(in + (float(self->outTime()) - in) * v)));
        self->markerDragged();
        const auto manager = self->videoItemManager_.lock();
        if (!manager) {
            self->canMovePlayhead_ = true;
            return;
        }
        manager->handleMarkerMouseUpWithCompletedHandler([weak] {
            if (const auto self = weak.lock())
                self->canMovePlayhead_ = true;
        });
    });
}

void QVTTimelineMarkerController::processOSCFeedback()
{
    const std::int64_t in = inTime();
    const std::int64_t out = outTime();
    // An empty range has no place to report: 0, never a division by zero.
    const float v = out > in ? float(markerTime() - in) / float(out - in) : 0.0f;
    const auto values = oscFeedbackMessage_->values();
    if (values.empty())
        oscFeedbackMessage_->addOSCValue(std::make_shared<QVTOSCValue>(QVTOSCValueTypeFloat, v));
    else
        values.front()->setValue(v);
    sender_(*oscFeedbackMessage_);
}

// --- The handles -----------------------------------------------------------------------------------

void QVTTimelineMarkerController::throttlerChanged()
{
    if (const auto view = markerView_.lock())
        view->setNeedsDisplay();
    if (const auto manager = videoItemManager_.lock())
        manager->handleMarkerThrottlerDragged();
}

void QVTTimelineMarkerController::throttlerMovedToPoint(double x)
{
    const auto view = markerView_.lock();
    if (!view)
        return;
    const float u = view->throttlerTimeUnitInPixels();
    const double p = std::clamp(x, kMargin, std::max(kMargin, view->width() - kMargin));
    const std::int64_t origin = roundFrames(u * float(kMargin));
    std::int64_t frames = roundFrames(u * float(p)) - origin;
    const bool shift = view->shiftPressed();
    const auto fps = std::int64_t(compFPS_);
    const auto snapped = [&](std::int64_t f) { return shift || fps <= 0 ? f : f - f % fps; };

    if (view->throttlerLeftSideSelected()) {
        frames = snapped(frames);
        if (frames >= outTime())
            frames = outTime() - 1;
        if (frames == inTime())
            return;
        inTime_ = frames;
        throttlerChanged();
        return;
    }
    if (view->throttlerRightSideSelected()) {
        frames = snapped(frames);
        if (frames <= inTime())
            frames = inTime() + 1;
        if (frames == outTime())
            return;
        outTime_ = frames;
        throttlerChanged();
        return;
    }
    std::int64_t d = frames - (roundFrames(u * view->helperXForThrottlerDragMe()) - origin);
    if (double(outTime() + d) > compTime_ * double(compFPS_))
        d = std::int64_t(std::trunc(double(compFPS_) * compTime_ - double(outTime())));
    if (inTime() + d < 0)
        d = -inTime();
    if (d == 0)
        return;
    if (!shift && std::llabs(d) < fps) {
        throttlerChanged();
        return;
    }
    if (!shift && fps > 0)
        d -= d % fps;
    inTime_ += d;
    outTime_ += d;
    view->setHelperXForThrottlerDragMe(float(p));
    throttlerChanged();
}

// --- Zoom ------------------------------------------------------------------------------------------

void QVTTimelineMarkerController::zoomIn()
{
    if (const auto view = markerView_.lock()) {
        view->setWidth(2.0 * (view->width() - 2 * kMargin) + 2 * kMargin);
        refreshMarker();
    }
}

void QVTTimelineMarkerController::zoomOut()
{
    if (const auto view = markerView_.lock()) {
        view->setWidth(std::max((view->width() - 2 * kMargin) * 0.5 + 2 * kMargin, view->visibleWidth()));
        refreshMarker();
    }
}

// --- Record ----------------------------------------------------------------------------------------

QVariantMap QVTTimelineMarkerController::saveData() const
{
    return {{QStringLiteral("inTime"), qlonglong(inTime())}, {QStringLiteral("outTime"), qlonglong(outTime())}};
}

void QVTTimelineMarkerController::loadData(const QVariantMap& data)
{
    if (data.isEmpty())
        return;
    const QVariant in = data.value(QStringLiteral("inTime"));
    const QVariant out = data.value(QStringLiteral("outTime"));
    if (!kavioIsIntegerKind(in) || !kavioIsIntegerKind(out) || out.toLongLong() <= in.toLongLong()) {
        KLOG_WARN("a marker record without an in point before its out point: the range is kept");
        return;
    }
    inTime_ = in.toLongLong();
    outTime_ = out.toLongLong();
    refreshMarker();
}
