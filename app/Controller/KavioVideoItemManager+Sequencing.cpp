#include "Controller/KavioVideoItemManager.h"

#include "Audio/KavioAudioStreamersManagerInterface.h"
#include "Clock/QVTClock.h"
#include "Controller/QVTTimelineMarkerControllerInterface.h"
#include "Cue/KavioVideoItem.h"
#include "Inspector/KavioVideoItemPreferencesControllerInterface.h"
#include "Remote/KavioNMCManager.h"
#include "Rendering/KavioMetalTransitionRendererInterface.h"
#include "Shell/AppDelegateInterface.h"
#include "Support/KavioButtonInterface.h"
#include "Support/KavioDoublesNearlyEqual.h"
#include "Views/KavioItemsViewInterface.h"
#include "DispatchQueue.h"
#include "Log.h"
#include "NotificationCenter.h"

#include <chrono>
#include <exception>
#include <thread>

namespace {

// The longest the clock thread waits for a lagging movie at its end: beyond this the movie has
// stalled, and waiting longer would freeze the show's clock.
constexpr double kFailSafeMaximumWait = 0.5;

const QString kTimeLeftAtEnd = QStringLiteral("-00:00:00:00");

}  // namespace

// --- The tick ------------------------------------------------------------------------------------

void KavioVideoItemManager::processOnCurrentClockTime(const Notification& notification)
{
    const QVariant value = notification.userInfo.value(QString::fromLatin1(QVTClockNotification::TimeChanged));
    if (value.typeId() != QMetaType::QString) {
        KLOG_WARN("CLOCK_TIME_CHANGED without a timecode string: ignored");
        return;
    }
    // A fault of one cue must not end the show: log it once and go on with the next frame.
    try {
        processTick(value.toString());
        tickfaultlogged_ = false;
    } catch (const std::exception& error) {
        if (!tickfaultlogged_.exchange(true))
            KLOG_ERROR("the clock tick failed: {}", error.what());
    } catch (...) {
        if (!tickfaultlogged_.exchange(true))
            KLOG_ERROR("the clock tick failed");
    }
}

void KavioVideoItemManager::processTick(const QString& tickTime)
{
    QString time = tickTime;
    const KavioVideoItemListSnapshot list = items();
    const bool standalone = playbackMode() == 0;

    // 1. Restart by loop: the last cue has ended and the playlist wraps to its start.
    bool restartedByLoop = false;
    if (shouldRestartClockByLoop()) {
        setShouldRestartClockByLoop(false);
        // The followers are not sent this jump back.
        masterClock_->networkLink().setShouldSkipSendingNextLocate(true);
        const auto first = list->empty() ? nullptr : list->front();
        // The transition from the last cue has started the first one: the clock joins it where
        // it stands on the line (its place, which the clock offset may move off zero).
        if (first && first->isPlaying() && list->back()->hasTransition())
            masterClock_->setClockTime(masterClock_->secondsForSMPTEString(first->originalItemStartSMPTETime()) +
                                       first->currentCMTime().seconds());
        else
            masterClock_->setClockStartTime(0.0);
        time = masterClock_->clockSMPTETime();
        const auto current = currentItem();
        if (current && current->nextItem() && list->size() == 1) {
            current->switchPlayersOnLoop();
            // Laid again from the playlist start, which the clock offset may move off frame 0.
            current->setupSMPTEEndTimeWithStartFrames(masterClock_->frameCountSMPTEString(time));
            current->setIsPlaying(false);
            setShouldTriggerNextItem(false);
            current->startPlayers();
        }
        restartedByLoop = true;
    }

    // 2. Gate.
    const auto current = currentItem();
    if (!isPlaying() || !current)
        return;

    // 3. Beyond the maximum.
    const double maximum = masterClock_->secondsForSMPTEString(masterClock_->maxClockSMPTETime());
    if (masterClock_->secondsForSMPTEString(time) > maximum) {
        if (current->isLooping()) {
            masterClock_->setMaxClockSMPTETime(current->itemEndSMPTETime());
        } else if (!shouldTriggerNextItem() && !current->nextItemToPlay()) {
            // Said once: the clock may stand past the maximum for many frames.
            if (!timeoverlogged_.exchange(true))
                KLOG_VERBOSE("time is over - secs: {:f} maxClockSMPTETime: {:f}", masterClock_->secondsForSMPTEString(time), maximum);
            return;
        }
    }
    timeoverlogged_ = false;

    // 4. The running time of cues without a media clock; the first tick after a start stays put.
    const auto transition = isProcessingGlobalTransition() ? currentTransition() : nullptr;
    if (shouldSkipIncreaseTimeBecauseOfFirstFrame()) {
        setShouldSkipIncreaseTimeBecauseOfFirstFrame(false);
    } else {
        const double step = masterClock_->frameTimeOfCurrentSMPTEFormat();
        if (transition) {
            if (const auto source = transition->sourceItem())
                source->increaseTimeForNonMovies(step);
            if (const auto destination = transition->destinationItem(); destination && destination->isPlaying())
                destination->increaseTimeForNonMovies(step);
        } else {
            current->increaseTimeForNonMovies(step);
        }
    }

    // 5. Time display.
    if (const auto app = delegate())
        app->displayTimeIfNeeded(displayTimeLeft() ? current->timeLeftSMPTE() : time);

    // 6. Follow-on, or the current cue's own times. Each branch that ends the tick goes to 7.
    const auto globalTransitionLoops = [&] {
        if (!isProcessingGlobalTransition() || !transition)
            return;
        const auto source = transition->sourceItem();
        if (source && source->isLooping() && source->timeLeftSMPTE() == kTimeLeftAtEnd)
            source->handleLooping();
        const auto destination = transition->destinationItem();
        if (destination && time == destination->itemEndSMPTETime() && destination->isLooping()) {
            destination->handleLooping();
            rebuildItemTimesByLoopingItem(destination);
        }
    };
    const std::shared_ptr<KavioVideoItem> first = list->empty() ? nullptr : list->front();

    // 6a. The move to the next cue, armed by the previous tick.
    if (shouldTriggerNextItem()) {
        setShouldTriggerNextItem(false);
        if (isProcessingGlobalTransition())
            return globalTransitionLoops();
        const auto old = current;
        if (old->isLooping() && old->shouldLoop()) {
            old->handleLooping();
            rebuildItemTimesByLoopingItem(old);
        } else {
            const auto next = old->nextItemToPlay();
            if (!next) {
                KLOG_WARN("the next cue went away before it could take over");
                return globalTransitionLoops();
            }
            // In standalone mode a cue that pauses at its beginning waits for the next GO.
            if (!next->isPlaying() && !(standalone && next->shouldStopAtBeginning() && !restartedByLoop))
                next->startPlayers();
            next->shouldStartRenderItemIfNotFileBased();
            setCurrentItem(next);
            next->markAsCurrent(true);
            if (const auto toSelect = itemToSelectAfterStop_.load()) {
                selectItem(toSelect);
                itemToSelectAfterStop_.store(nullptr);
            }
            const double position = masterClock_->secondsForSMPTEString(next->currentTimeSMPTE());
            KLOG_VERBOSE("currenttimesmpte: {:f} originalitemstartsmpte: {}", position,
                         next->originalItemStartSMPTETime().toStdString());
            masterClock_->setClockStartTimeWithoutOffset(
                position + masterClock_->secondsForSMPTEString(next->originalItemStartSMPTETime()));
            if (old->isLooping() || old->wasLooping()) {
                const bool wasLooping = old->wasLooping();
                old->rebuildStartAndEndTime();
                rebuildItemTimesByLoopingItem(old);
                if (old->hasTransition() && wasLooping)
                    rebuildItemTimesByTransitioningItem(old);
            }
            old->markAsCurrent(false);
            if (const auto streamers = outlets_.audioStreamersManager.lock()) {
                streamers->setIsMixing(false);
                streamers->switchBuffers();
                streamers->setVolumeA(next->audioPlayerVolume());
            }
            DispatchQueue::main().async([weakSelf = weak_from_this(), weakOld = std::weak_ptr(old), weakNext = std::weak_ptr(next)] {
                const auto self = weakSelf.lock();
                const auto leaving = weakOld.lock();
                if (!self || !leaving)
                    return;
                if (const auto marker = self->outlets_.markerController.lock())
                    marker->setIsMixing(false);
                leaving->pausePlayersWithPreroll(false);
                leaving->rewind();
                leaving->updateAudioMeter();
                if (const auto view = self->outlets_.itemsView.lock()) {
                    view->moveStateViewToOrigin(leaving);
                    if (const auto coming = weakNext.lock())
                        view->moveStateViewToOrigin(coming);
                }
            });
        }
        // A cue that pauses at its beginning stands by with the clock stopped.
        if (standalone && currentItem()->shouldStopAtBeginning())
            if (const auto app = delegate())
                app->stopClockByManagerIfNeeded();
        return globalTransitionLoops();
    }

    // Cue times are compared as SMPTE strings: a cue not laid out yet (empty times) never matches.
    const QString end = current->itemEndSMPTETime();
    const auto next = current->nextItemToPlay();

    // 6b. The cue's start.
    if (time == current->itemStartSMPTETime() && time != end) {
        if (!current->isPlaying())
            current->startPlayers();
        return globalTransitionLoops();
    }

    // 6c. The start of the transition into the next cue.
    if (time == current->transitionStartSMPTETime()) {
        if (current->isLooping() && !current->isLastLoop())
            return globalTransitionLoops();
        KLOG_VERBOSE("start transition at {}", time.toStdString());
        if (!shouldStartWhenTransitionStarts() && next && !next->isPlaying()) {
            if (next->mediaType() == KavioMediaTypeCamera)
                next->setIsSecondaryCamera(true);
            const auto streamers = outlets_.audioStreamersManager.lock();
            const QList<int> mapping = next->channelMapping();
            if (streamers && !mapping.isEmpty())
                streamers->setChannelMappingB(mapping);
            if (!next->shouldStopAtBeginning())
                next->startPlayers();
            if (streamers) {
                streamers->setIsMixing(true);
                streamers->setVolumeB(next->audioPlayerVolume());
            }
        }
        return globalTransitionLoops();
    }

    // 6d. The cue's end.
    if (time == end && !isProcessingGlobalTransition()) {
        const bool onLastPass = !current->isLooping() || current->isLastLoop();
        if (standalone && current->shouldStopAtEnd() && onLastPass) {
            failSafeMovieEnd();
            if (next) {
                chooseItemToSelectAfterStop(current);
                setShouldTriggerNextItem(true);
                if (current->nextItem() == first)
                    setShouldRestartClockByLoop(true);
            }
            if (const auto app = delegate())
                app->stopClockByManagerIfNeeded();
        } else if (next) {
            if (onLastPass)
                chooseItemToSelectAfterStop(current);
            setShouldTriggerNextItem(true);
            if (current->nextItem() == first) {
                if (current != first) {
                    if (!current->isLooping())
                        setShouldRestartClockByLoop(true);
                } else if (!current->isLooping()) {
                    // A one-cue playlist plays itself again from the start.
                    setShouldTriggerNextItem(false);
                    current->setLoopCounter(0);
                    setShouldRestartClockByLoop(true);
                }
            }
        } else if (current->isLooping() && current->shouldLoop()) {
            KLOG_VERBOSE("cue-loop last item");
            setShouldTriggerNextItem(true);
        } else if (standalone) {
            // Following timecode, the outside timecode decides what comes after the last cue.
            failSafeMovieEnd();
            if (const auto app = delegate())
                app->stopClockByManagerIfNeeded();
        }
        return globalTransitionLoops();
    }

    // 6e. The exact end frame was skipped: move on as at the end, a tick late.
    if (!willProcessingGlobalTransition() && !isProcessingGlobalTransition() && next && !end.isEmpty() &&
        masterClock_->smpteTimeIsEqualOrGreatThanSMPTETime(time, end)) {
        KLOG_VERBOSE(":: error: video ran out (time:{} end:{})", time.toStdString(), end.toStdString());
        setShouldTriggerNextItem(true);
    }

    // 7. Loops inside a global transition.
    globalTransitionLoops();
}

void KavioVideoItemManager::chooseItemToSelectAfterStop(const std::shared_ptr<KavioVideoItem>& current)
{
    // Counted on the snapshot: the clock thread does not wait for the items queue.
    std::shared_ptr<KavioVideoItem> selected;
    int count = 0;
    for (const auto& item : *items())
        if (item->isSelected()) {
            selected = item;
            ++count;
        }
    if (count == 0 || (count == 1 && selected == current))
        itemToSelectAfterStop_.store(current->nextItemToPlay());
}

// --- Around the tick -------------------------------------------------------------------------

void KavioVideoItemManager::failSafeMovieEnd()
{
    const auto current = currentItem();
    if (!current)
        return;
    const double position = current->currentCMTime().seconds();
    const double end = (current->videoDurationCMTime() - current->outTimeAtCurrentPlaybackSpeed() -
                        current->inTimeAtCurrentPlaybackSpeed())
                           .seconds();
    if (KavioDoublesNearlyEqual(position, end, 0.001) || position >= end)
        return;
    double wait = end - position;
    if (wait > kFailSafeMaximumWait) {
        KLOG_VERBOSE("failsafe: the movie lags {:f} s; waiting {:f} s only", wait, kFailSafeMaximumWait);
        wait = kFailSafeMaximumWait;
    }
    KLOG_VERBOSE("failsafe: will sleep for: {:f}", wait);
    std::this_thread::sleep_for(std::chrono::duration<double>(wait));
    current->increaseTimeForNonMovies(wait);
}

void KavioVideoItemManager::timeJumpedOnItem(const std::shared_ptr<KavioVideoItem>& item)
{
    const auto current = currentItem();
    if (isPlaying() || !current || item != current || !item->isReady())
        return;
    setShouldTriggerNextItem(false);
    setShouldRestartClockByLoop(false);
    DispatchQueue::main().async([weakSelf = weak_from_this()] {
        const auto self = weakSelf.lock();
        if (KavioVideoItemPreferencesControllerInterface* inspector = self ? self->itemPreferencesController() : nullptr)
            inspector->handlePlayheadChangedRelatedOptions();
    });
    if (cachedhandledraggingmarker_.load())
        return;
    if (playbackMode() == 0)
        setClockAndItemStartTimeAfterJump();
    else
        setShouldSkipRenderingBecauseOfProcessingJump(false);
    isprocessingtransitionfallback_ = false;

    if (shouldStartClockAfterStartTimeHasBeenSet()) {
        startClock();
    } else if (shouldStartPlaybackAfterStartTimeHasBeenSet()) {
        const auto press = [weakSelf = weak_from_this()] {
            const auto self = weakSelf.lock();
            const auto app = self ? self->delegate() : nullptr;
            if (!app)
                return;
            if (KavioButtonInterface* play = app->playButton())
                play->setStateByOSC(1);
            app->performTogglePlayWithCompletedHandler({});
        };
        if (DispatchQueue::isMainThread())
            press();
        else
            DispatchQueue::main().async(press);
    }
}

void KavioVideoItemManager::setClockAndItemStartTimeAfterJump()
{
    if (const auto current = currentItem()) {
        double target = (current->currentCMTime() + current->itemStartCMTime() + current->loopedCMTime()).seconds();
        const double end = masterClock_->secondsForSMPTEString(current->itemEndSMPTETime());
        if (target > end)
            target = end;
        masterClock_->setClockStartTimeWithoutOffset(target);
        KLOG_VERBOSE("currentCMTime: {:f} targettime: {:f} clocktime: {}", current->currentCMTime().seconds(), target,
                     masterClock_->clockSMPTETime().toStdString());
    }
    displayAndSetCurrentItemStartTime();
    setShouldSkipRenderingBecauseOfProcessingJump(false);
}

void KavioVideoItemManager::displayAndSetCurrentItemStartTime()
{
    KLOG_VERBOSE("displayAndSetCurrentItemStartTime: {}", masterClock_->clockSMPTETime().toStdString());
    const auto current = currentItem();
    if (!current)
        masterClock_->setClockStartTime(0.0);
    const QString clockTime = masterClock_->clockSMPTETime();
    if (const auto app = delegate()) {
        if (current)
            app->displayTimeIfNeeded(displayTimeLeft() ? current->timeLeftSMPTE() : clockTime);
    }
    const std::weak_ptr<KavioVideoItemManager> weakSelf = weak_from_this();
    if (current) {
        // The next start of the clock starts the cue's players on its first tick.
        current->setItemStartSMPTETime(clockTime);
        if (cachedhandledraggingmarker_.load())
            return;
    }
    DispatchQueue::main().async([weakSelf] {
        const auto self = weakSelf.lock();
        const auto marker = self ? self->outlets_.markerController.lock() : nullptr;
        if (!marker)
            return;
        const auto item = self->currentItem();
        marker->setMarkerTime(item ? item->currentPlayhead() : 0);
        marker->redrawMarkerView();
    });
}

void KavioVideoItemManager::redrawPlayheadAndMeters()
{
    const auto current = currentItem();
    if (const auto marker = outlets_.markerController.lock()) {
        marker->setMarkerTime(current ? current->currentPlayhead() : 0);
        marker->redrawMarkerView();
    }
    if (current)
        current->updateAudioMeter();
}
