#include "Controller/KavioVideoItemManager.h"

#include "Audio/KavioAudioStreamersManagerInterface.h"
#include "Audio/KavioWaveformManagerInterface.h"
#include "Clock/QVTClock.h"
#include "Cue/KavioVideoItem.h"
#include "Inspector/KavioVideoItemPreferencesControllerInterface.h"
#include "Views/KavioItemsViewInterface.h"
#include "Remote/KavioNMCManager.h"
#include "Shell/AppDelegateInterface.h"
#include "DispatchQueue.h"
#include "Log.h"

#include <QScopeGuard>
#include <QRegularExpression>

#include <cmath>

namespace {

std::uint8_t linkFPS(const QVTClock& clock)
{
    return std::uint8_t(clock.framerate());
}

MediaTime cueTime(double seconds)
{
    return MediaTime::makeWithSeconds(seconds, MediaTime::kCueTimescale);
}

}  // namespace

// --- Goto before the end ---------------------------------------------------------------------------

void KavioVideoItemManager::performGoto10()
{
    performGotoToFromEnd(10.0);
}

void KavioVideoItemManager::performGoto20()
{
    performGotoToFromEnd(20.0);
}

void KavioVideoItemManager::performGoto30()
{
    performGotoToFromEnd(30.0);
}

void KavioVideoItemManager::performGotoToFromEnd(double seconds)
{
    if (isProcessingGlobalTransition())
        return;
    if (repostToMain([seconds](KavioVideoItemManager& self) { self.performGotoToFromEnd(seconds); }))
        return;
    const auto current = currentItem();
    if (!current)
        return;
    setSeekPerformedByGoto(true);
    const double target = masterClock_->secondsForSMPTEString(current->itemEndSMPTETime()) - seconds;
    locateClockToTime(target, [weakSelf = weak_from_this(), weakItem = std::weak_ptr(current), seconds] {
        const auto self = weakSelf.lock();
        if (!self)
            return;
        if (const auto item = weakItem.lock())
            self->masterClock()->networkLink().sendKavioGoto(QString::asprintf("00:00:%d:00", int(seconds)),
                                                             linkFPS(*self->masterClock()), item->index());
        self->setSeekPerformedByGoto(false);
    });
}

// --- The playhead drag -------------------------------------------------------------------------------

void KavioVideoItemManager::handleMarkerMouseDownWithCompletedHandler(std::function<void()> handler)
{
    KLOG_VERBOSE("handleMarkerMouseDownWithCompletedHandler");
    cachedhandledraggingmarker_ = true;
    handleTemporaryPlaybackStopWithCompletedHandler(std::move(handler));
}

void KavioVideoItemManager::handleMarkerMouseUpWithCompletedHandler(std::function<void()> handler)
{
    KLOG_VERBOSE("handleMarkerMouseUpWithCompletedHandler");
    checkIfCurrentCueIsNotProcessingTransitionToNextCueAndHandleStateView();
    const auto current = currentItem();
    const std::weak_ptr<KavioVideoItemManager> weakSelf = weak_from_this();
    const auto finish = [weakSelf, handler = std::move(handler)] {
        const auto self = weakSelf.lock();
        if (!self)
            return;
        self->cachedhandledraggingmarker_ = false;
        self->canjump_ = true;
        self->validateTransport();
        const auto cue = self->currentItem();
        const auto streamers = self->outlets_.audioStreamersManager.lock();
        if (cue && streamers) {
            if (cue->isProcessingTransitionToNextCueAtCurrentTime()) {
                const auto next = cue->nextItemToPlay();
                if (next && !next->channelMapping().isEmpty())
                    streamers->setChannelMappingB(next->channelMapping());
                streamers->setVolumeA(cue->audioPlayerVolume());
                if (next)
                    streamers->setVolumeB(next->audioPlayerVolume());
                streamers->setIsMixing(true);
            } else if (streamers->isMixing()) {
                // Ending the mix swaps the decks: the current cue goes back onto deck A.
                streamers->setIsMixing(false);
                streamers->switchBuffers();
                streamers->setVolumeA(cue->audioPlayerVolume());
            }
        }
        self->handleEndOfTemporaryPlaybackStopWithCompletedHandler(handler);
    };
    if (!current) {
        finish();
        return;
    }
    const double position = (current->inTimeAtCurrentPlaybackSpeed() + current->currentCMTime()).seconds();
    masterClock_->networkLink().sendKavioSeek(masterClock_->smpteRepresentationOfTime(position),
                                                   linkFPS(*masterClock_), current->index());
    current->fillVideoAndAudioBuffersAtCurrentTimeWithCompletedHandler(finish);
}

void KavioVideoItemManager::performGotoToByMarker()
{
    // Only a stopped transport is located here; a drag stops it first (what a goto should do
    // while playing is not settled).
    const auto current = currentItem();
    const auto marker = outlets_.markerController.lock();
    if (!current || !marker || isPlaying())
        return;
    setSeekPerformedByGoto(true);
    const double target = masterClock_->secondsForSMPTEString(current->originalItemStartSMPTETime()) +
                          current->loopedCMTime().seconds() +
                          masterClock_->frameTimeOfCurrentSMPTEFormat() * double(marker->markerTime() - marker->inTime());
    locateClockToTime(target, [weakSelf = weak_from_this()] {
        if (const auto self = weakSelf.lock())
            self->setSeekPerformedByGoto(false);
    });
}

// --- In and out handles --------------------------------------------------------------------------------

void KavioVideoItemManager::handleMarkerThrottlerDragged()
{
    const auto current = currentItem();
    const auto marker = outlets_.markerController.lock();
    KavioVideoItemPreferencesControllerInterface* inspector = itemPreferencesController();
    if (!current || !marker)
        return;
    const double frame = masterClock_->frameTimeOfCurrentSMPTEFormat();
    const bool range = marker->throttlerSelected();
    if (inspector && (range || marker->throttlerLeftSideSelected()))
        inspector->undoSetInTime(cueTime(double(marker->inTime()) * frame), current->uid());
    if (inspector && (range || marker->throttlerRightSideSelected()))
        inspector->undoSetOutTime(cueTime(current->videoDuration() - double(marker->outTime()) * frame), current->uid());
    if (isPlaying() && (marker->markerTime() > marker->outTime() || marker->markerTime() < marker->inTime()))
        rewindCurrentItem();
}

void KavioVideoItemManager::resetInOutTime()
{
    const auto current = currentItem();
    if (KavioVideoItemPreferencesControllerInterface* inspector = itemPreferencesController(); current && inspector)
        inspector->undoSetInTimeAndOutTime(MediaTime::zero(), MediaTime::zero(), current->uid());
}

void KavioVideoItemManager::handleInOutChangeOnItem(const std::shared_ptr<KavioVideoItem>& item)
{
    handleItemTimesUpdated();
    setHasUnsavedChanges(true);
    const auto marker = outlets_.markerController.lock();
    if (!marker)
        return;
    const double frame = masterClock_->frameTimeOfCurrentSMPTEFormat();
    marker->setInTime(std::int64_t(item->inTimeAtCurrentPlaybackSpeed().seconds() / frame));
    marker->setOutTime(std::int64_t((item->videoDuration() - item->outTimeAtCurrentPlaybackSpeed().seconds()) / frame));
    marker->setTransitionStartTime(item->transitionStartTimeFrames());
    marker->redrawMarkerView();
    if (const auto waveform = outlets_.waveformManager.lock())
        waveform->redrawMinMaxOnWaveformWithMin(marker->inPointForWaveform(), marker->outPointForWaveform());
}

void KavioVideoItemManager::handleInTimeResetOnItem(const std::shared_ptr<KavioVideoItem>& item)
{
    if (!item || item != currentItem())
        return;
    item->handleInTimeChange();
    handleInOutChangeOnItem(item);
    sendCurrentCueTRTOSCFeedback();
}

void KavioVideoItemManager::handleOutTimeResetOnItem(const std::shared_ptr<KavioVideoItem>& item)
{
    if (!item || item != currentItem())
        return;
    handleInOutChangeOnItem(item);
    sendCurrentCueTRTOSCFeedback();
}

void KavioVideoItemManager::handleInOutTimeResetOnItem(const std::shared_ptr<KavioVideoItem>& item)
{
    if (!item || item != currentItem())
        return;
    rewindCurrentItem();
    handleInOutChangeOnItem(item);
    sendCurrentCueTRTOSCFeedback();
}

// --- Locating the show --------------------------------------------------------------------------------

bool KavioVideoItemManager::smpteTimeIsBetweenStartAndEnd(const QString& time, const QString& start,
                                                          const QString& end) const
{
    const auto at1000 = [this](const QString& smpte) {
        return MediaTime::makeWithSeconds(double(float(masterClock_->secondsForSMPTEString(smpte))), 1000);
    };
    const MediaTime t = at1000(time);
    return t >= at1000(start) && t <= at1000(end);
}

void KavioVideoItemManager::seekToSMPTETime(const QString& smpte)
{
    const double s = masterClock_->secondsForSMPTEString(smpte);
    const auto list = items();
    const auto displayItemStart = [this] { displayAndSetCurrentItemStartTime(); };
    // Every way out hands the keys back to the list, so the arrows and Space act on it again.
    const auto refocusList = qScopeGuard([this] {
        if (const auto view = outlets_.itemsView.lock())
            view->becomeFirstResponder(true);
    });

    if (list->empty()) {
        if (const auto app = delegate())
            app->displayTimeIfNeeded(masterClock_->smpteRepresentationOfTime(masterClock_->clockOffset()));
        return;
    }

    if (s > masterClock_->secondsForSMPTEString(masterClock_->maxClockSMPTETime()) && !seekPerformedByGoto()) {
        const auto last = list->back();
        setCurrentItem(last);
        last->markAsCurrent(true);
        // Once only: a last cue ending past a stale maximum would otherwise come back here.
        if (masterClock_->secondsForSMPTEString(last->itemEndSMPTETime()) < s)
            seekToSMPTETime(last->itemEndSMPTETime());
        masterClock_->setClockTime(masterClock_->secondsForSMPTEString(last->itemEndSMPTETime()));
        setShouldTriggerNextItem(false);
        for (const auto& cue : *list)
            if (cue != last) {
                cue->rewind();
                cue->markAsCurrent(false);
            }
        return;
    }

    const auto current = currentItem();
    if (current && (seekPerformedByGoto() || seekPerformedByFrameSteps())) {
        const double x = s - current->itemStartCMTime().seconds() - current->loopedCMTime().seconds();
        current->seekToCMTime(cueTime(x + current->inTimeAtCurrentPlaybackSpeed().seconds()));
        displayItemStart();
        return;
    }

    bool found = false;
    for (const auto& cue : *list) {
        const QString start = cue->originalItemStartSMPTETime();
        const bool looping = cue->isLooping() && masterClock_->smpteTimeIsEqualOrGreatThanSMPTETime(smpte, start);
        if (found || (!smpteTimeIsBetweenStartAndEnd(smpte, start, cue->itemEndSMPTETime()) && !looping)) {
            cue->rewindWithRebuildStartAndEndTimes(false);
            cue->markAsCurrent(false);
            continue;
        }
        if (const auto previous = currentItem(); previous && previous != cue)
            previous->markAsCurrent(false);
        setCurrentItem(cue);
        cue->markAsCurrent(true);
        setShouldTriggerNextItem(false);
        double loopOffset = 0.0;
        if (looping) {
            const auto duration = std::int64_t(cue->itemDurationFrames());
            const std::int64_t startFrames = masterClock_->frameCountSMPTEString(start);
            const bool firstPass = masterClock_->smpteTimeIsEqualOrLowerThanSMPTETime(
                smpte, masterClock_->smpteRepresentationOfFrames(std::uint64_t(startFrames + duration)));
            // A cue of no frames has no passes to count.
            if (firstPass || duration <= 0) {
                cue->setLoopCounter(0);
            } else {
                const std::int64_t passes = (masterClock_->frameCountSMPTEString(smpte) - startFrames) / duration;
                cue->setLoopCounter(std::uint64_t(passes));
                loopOffset = masterClock_->secondsForSMPTEString(
                    masterClock_->smpteRepresentationOfFrames(std::uint64_t(passes * duration)));
            }
            rebuildItemTimesByLoopingItem(cue);
            found = true;
        }
        cue->seekToCMTime(cueTime(s - cue->itemStartCMTime().seconds() - loopOffset +
                                  cue->inTimeAtCurrentPlaybackSpeed().seconds()));
        displayItemStart();
    }
}

void KavioVideoItemManager::seekToSMPTETimeOnCurrentItem(const QString& smpte)
{
    const auto current = currentItem();
    if (!current)
        return;
    double x = masterClock_->secondsForSMPTEString(smpte);
    const double length = masterClock_->secondsForSMPTEString(current->videoTRTSMPTE());
    if (x > length)
        x = length - masterClock_->frameTimeOfCurrentSMPTEFormat() - 0.001;
    x += masterClock_->secondsForSMPTEString(current->originalItemStartSMPTETime()) + current->loopedCMTime().seconds();
    setSeekPerformedByGoto(true);
    seekToSMPTETime(masterClock_->smpteRepresentationOfTime(x));
    setSeekPerformedByGoto(false);
}

void KavioVideoItemManager::setClockToTime(const QString& text)
{
    if (text.isEmpty())
        return;
    const auto current = currentItem();
    if (displayTimeLeft() && current && text == current->timeLeftSMPTE())
        return;
    static const QRegularExpression timecode(QStringLiteral("^[+-]?[0-9:]+$"));
    if (!timecode.match(text).hasMatch()) {
        KLOG_WARN("\"{}\" is no timecode; the clock stays where it is", text.toStdString());
        if (const auto app = delegate())
            app->displayTimeIfNeeded(masterClock_->clockSMPTETime());
        return;
    }
    const QChar sign = text.front();
    const bool relative = sign == QLatin1Char('+') || sign == QLatin1Char('-');
    const double offset = double(masterClock_->frameCountSMPTEString(relative ? text.mid(1) : text)) *
                          masterClock_->frameTimeOfCurrentSMPTEFormat();
    double target = offset;
    if (sign == QLatin1Char('+'))
        target = masterClock_->clockTime() + offset;
    else if (sign == QLatin1Char('-'))
        // Before the playlist's start there is no show to locate to.
        target = std::max(masterClock_->clockTime() - offset, masterClock_->clockOffset());
    seekToSMPTETime(masterClock_->smpteRepresentationOfTime(target));
}

bool KavioVideoItemManager::isJumpToSelectedItemEnabled() const
{
    return !masterClock_->isMTCSlave() && !masterClock_->isLTCSlave() && !isTranscoding() && selectedItems().size() == 1;
}

bool KavioVideoItemManager::isMixing() const
{
    const auto streamers = outlets_.audioStreamersManager.lock();
    return streamers && streamers->isMixing();
}
