#include "Cue/KavioVideoItem.h"

#include "Clock/QVTClock.h"
#include "Rendering/KavioMetalTransitionRendererInterface.h"
#include "Rendering/QVTMetalLayerRendererInterface.h"
#include "DispatchQueue.h"
#include "Log.h"
#include "NotificationCenter.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr std::int64_t kNoTransitionFrames = 4294967295;

}  // namespace

// --- The renderer --------------------------------------------------------------------------------

std::shared_ptr<KavioMetalTransitionRendererInterface> KavioVideoItem::transition() const
{
    return transition_.load();
}

void KavioVideoItem::setupTransition()
{
    const auto controller = manager();
    const QSizeF size = controller ? controller->renderSize() : QSizeF();
    const bool highBitDepth = controller && controller->useHighBitDepthRendering();
    // The render and clock threads read `transition` every frame: they see the old renderer or
    // the new one, never a half-made one.
    auto fresh = KavioMetalTransitionRendererInterface::make(size, highBitDepth, transitionType());
    const auto old = transition_.load();
    transition_.store(std::move(fresh));
    if (old)
        old->removeResources();

    if (!metalRendererHelper_.load()) {
        const bool deinterlace = isInterlaced() && controller && controller->deinterlaceMode() != 0;
        auto helper = QVTMetalLayerRendererInterface::make(size, isYUV(), highBitDepth, preferedTransform() == 10,
                                                           deinterlace);
        if (helper)
            helper->setInputSize(sourceSize());
        metalRendererHelper_.store(std::move(helper));
    }
    resetTransition();
}

void KavioVideoItem::resetTransition()
{
    const auto renderer = transition();
    if (!renderer)
        return;
    renderer->setSourceItem(weak_from_this().lock());
    renderer->setDestinationItem(nextItemToPlay());
    renderer->setDuration(transitionTime());
}

// --- The length ----------------------------------------------------------------------------------

void KavioVideoItem::setTransitionTime(double seconds)
{
    // A record or an OSC message may carry anything: a length that is no number, or that lies
    // before the cue, would move every following cue to nonsense.
    if (!std::isfinite(seconds) || seconds < 0.0) {
        KLOG_ERROR("transition length refused: {}", seconds);
        return;
    }
    const float duration = itemDuration();
    double length = seconds;
    if (length >= 0.001 && duration >= 0.001) {
        const auto controller = manager();
        const auto clock = controller ? controller->masterClock() : nullptr;
        const double twoFrames = clock ? 2.0 * clock->frameTimeOfCurrentSMPTEFormat() : 0.0;
        bool again = true;
        while (again && duration > 0.0f) {
            again = false;
            // The halves are single precision, compared as doubles: the line is built that way.
            const double half = double(duration / 2.0f);
            if (length <= half) {
                const auto next = nextItemToPlay();
                if (next && double(next->itemDuration() / 2.0f) < length) {
                    length /= 2.0;
                    again = true;
                }
            } else {
                length /= 2.0;
                again = true;
            }
            transitionTime_.store(length);
            if (length == half) {
                // Exactly half would let the next cue start on this cue's own middle frame. Never
                // below 0: a negative length would move the next cue later than this cue's end.
                const double shorter = std::max(0.0, length - twoFrames);
                again = shorter != length;
                length = shorter;
                transitionTime_.store(length);
            }
        }
    }
    transitionTime_.store(length);

    const auto self = weak_from_this().lock();
    if (const auto controller = manager(); controller && self) {
        if (hasTransition())
            controller->rebuildItemTimesByTransitioningItem(self);
        controller->handleTransitionTimeChangeOnItem(self);
    }
}

void KavioVideoItem::validateTransition()
{
    setTransitionTime(transitionTime());
    // A transition longer than the cue would start before the cue does. The toggle keeps the
    // operator's choice for when the cue is long enough again.
    if (transitionTime() > double(itemDuration())) {
        setHasTransition(false);
        return;
    }
    if (!DispatchQueue::isMainThread()) {
        queueOnMain([](KavioVideoItem& cue) { cue.setHasTransition(cue.transitionButton_.state == 1); });
        return;
    }
    setHasTransition(transitionButton_.state == 1);
}

void KavioVideoItem::changeDefaultTransitionDuration(const Notification& notification)
{
    if (!isUsingDefaultTransitionDuration())
        return;
    const QVariant value = notification.userInfo.value(kKavioDefaultTransitionDurationKey);
    if (value.isValid())
        setTransitionTime(double(value.toFloat()));
}

// --- Where it lies --------------------------------------------------------------------------------

QString KavioVideoItem::transitionStartSMPTETime() const
{
    const auto controller = manager();
    const auto clock = controller ? controller->masterClock() : nullptr;
    if (!hasTransition() || !clock)
        return {};
    // The transition lies at the end of the current loop pass. Multiplied in double precision:
    // in single precision a long loop's pass end drifts off the frame grid.
    const double passes = double(itemDuration()) * double(loopCounter() + 1);
    return clock->smpteRepresentationOfTime(passes - transitionTime() +
                                            clock->secondsForSMPTEString(originalItemStartSMPTETime()));
}

std::int64_t KavioVideoItem::transitionStartTimeFrames() const
{
    const auto controller = manager();
    const auto clock = controller ? controller->masterClock() : nullptr;
    if (!hasTransition() || !clock)
        return kNoTransitionFrames;
    const double start = double(itemDuration()) + inTime().seconds() - transitionTime();
    return clock->frameCountSMPTEString(clock->smpteRepresentationOfTime(start));
}

// --- How far it has come (render and clock threads) -------------------------------------------

double KavioVideoItem::transitionProgress() const
{
    const double length = transitionTime();
    // A zero length has no progress to tell: 0 keeps the outgoing picture, not a division by 0.
    if (!transition_.load() || !(length > 0.0))
        return 0.0;
    if (shouldStopAtEnd()) {
        const auto controller = manager();
        const auto clock = controller ? controller->masterClock() : nullptr;
        if (clock && clock->clockSMPTETime() == itemEndSMPTETime())
            return 1.0;
    }
    const double progress = (currentCMTime().seconds() - (double(itemDuration()) - length)) / length;
    return std::max(progress, 0.0);
}

double KavioVideoItem::transitionProgressInSeconds() const
{
    if (!transition_.load() || !isProcessingTransition())
        return 0.0;
    return std::max(currentCMTime().seconds() - (double(itemDuration()) - transitionTime()), 0.0);
}

bool KavioVideoItem::isProcessingTransitionToNextCueAtCurrentTime() const
{
    if (!hasTransition() || !isCurrent())
        return false;
    const auto next = nextItemToPlay();
    return next && currentCMTime().seconds() > double(itemDuration()) - transitionTime() && !next->isPlaying();
}

bool KavioVideoItem::isProcessingTransition() const
{
    if (isLooping() && !isLastLoop())
        return false;
    if (!hasTransition() || !transition_.load())
        return false;
    const auto next = nextItemToPlay();
    const auto controller = manager();
    const auto clock = controller ? controller->masterClock() : nullptr;
    if (!next || !clock)
        return false;
    const QString now = clock->clockSMPTETime();
    if (!clock->smpteTimeIsEqualOrGreatThanSMPTETime(now, transitionStartSMPTETime()) &&
        !shouldHandleSpecialCaseWithLoopingAndTransitionAtTime(now))
        return false;
    if (controller->isProcessingGlobalTransition())
        return clock->smpteTimeIsLowerThanSMPTETime(now, next->itemStartSMPTETime());
    return true;
}

bool KavioVideoItem::shouldHandleSpecialCaseWithLoopingAndTransitionAtTime(const QString& smpte) const
{
    const auto next = nextItemToPlay();
    const auto controller = manager();
    const auto clock = controller ? controller->masterClock() : nullptr;
    return next && clock && clock->smpteTimeIsLowerThanSMPTETime(smpte, itemStartSMPTETime()) &&
           clock->smpteTimeIsEqualOrGreatThanSMPTETime(smpte, next->itemStartSMPTETime());
}
