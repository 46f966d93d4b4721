#include "Controller/KavioVideoItemManager.h"

#include "Clock/QVTClock.h"
#include "Controller/QVTTimelineMarkerControllerInterface.h"
#include "Cue/KavioVideoItem.h"
#include "Inspector/KavioVideoItemPreferencesControllerInterface.h"
#include "Remote/KavioATEMManagerInterface.h"
#include "Shell/AppDelegateInterface.h"
#include "Support/KavioButtonInterface.h"
#include "Support/KavioPopUpButtonInterface.h"
#include "Support/KavioSliderInterface.h"
#include "DispatchQueue.h"
#include "Log.h"
#include "NotificationCenter.h"
#include "UserDefaults.h"

namespace {

const QString kPlaybackModeKey = QStringLiteral("playbackmode");

// Runs `body` with the controller on the main queue later, while the controller lives.
void onMainLater(const std::weak_ptr<KavioVideoItemManager>& controller, std::function<void(KavioVideoItemManager&)> body)
{
    DispatchQueue::main().async([controller, body = std::move(body)] {
        if (const auto self = controller.lock())
            body(*self);
    });
}

// The application controller's play button and transport follow the playing state.
void showPlaying(KavioVideoItemManager& controller, bool playing)
{
    const auto app = controller.delegate();
    if (!app)
        return;
    if (KavioButtonInterface* play = app->playButton())
        play->setState(playing ? 1 : 0);
    app->setMainUIStateAfterPlaybackChanged();
}

void refreshPlayingRelatedOptions(KavioVideoItemManager& controller)
{
    if (KavioVideoItemPreferencesControllerInterface* inspector = controller.itemPreferencesController())
        inspector->handlePlayingRelatedOptions();
}

}  // namespace

// --- Operations ------------------------------------------------------------------------------

void KavioVideoItemManager::startClock()
{
    KLOG_VERBOSE("startClock");
    setShouldStartPlaybackAfterStartTimeHasBeenSet(false);
    setShouldStartClockAfterStartTimeHasBeenSet(false);
    const auto current = currentItem();
    if (!current)
        return;
    if (isprocessingjump_.load()) {
        KLOG_VERBOSE("startClock refused: a jump is being processed");
        return;
    }
    if (current->needsRewindBeforeStartPlayback() && !shouldTriggerNextItem() && !isProcessingGlobalTransition()) {
        KLOG_VERBOSE("rewind because of needsRewindBeforeStartPlayback");
        setShouldStartClockAfterStartTimeHasBeenSet(true);
        current->rewind();
        return;
    }
    masterClock_->startClock();
}

void KavioVideoItemManager::stopClockWithCompletedHandler(std::function<void()> handler)
{
    KLOG_VERBOSE("stopClock");
    setShouldStartClockAfterStartTimeHasBeenSet(false);
    masterClock_->stopClockWithCompletedHandler(std::move(handler));
}

void KavioVideoItemManager::locateClockToTime(double seconds, std::function<void()> handler)
{
    if (!masterClock_->isRunning()) {
        masterClock_->locateClockToTime(seconds);
        if (handler)
            handler();
        return;
    }
    stopClockWithCompletedHandler([weakSelf = weak_from_this(), seconds, handler = std::move(handler)] {
        const auto self = weakSelf.lock();
        if (!self)
            return;
        self->setShouldStartClockAfterStartTimeHasBeenSet(true);
        self->masterClock_->locateClockToTime(seconds);
        if (handler)
            handler();
    });
}

void KavioVideoItemManager::shouldLoop(bool loop)
{
    std::shared_ptr<KavioVideoItem> last;
    onItemsQueue([&] {
        const auto list = items_.load();
        if (list->empty())
            return;
        last = list->back();
        if (!loop) {
            last->setNextItem(nullptr);
            return;
        }
        last->setNextItem(list->front());
        const auto current = currentItem();
        if (list->size() == 1 && current)
            current->setupLoopHelper();
    });
    if (!last)
        return;
    DispatchQueue::main().async([weakLast = std::weak_ptr<KavioVideoItem>(last)] {
        if (const auto item = weakLast.lock()) {
            item->validateToggles();
            item->validateTransition();
        }
    });
}

// --- The clock's notifications ----------------------------------------------------------------

bool KavioVideoItemManager::isProcessingPanicBehaviour(std::int32_t behaviour) const
{
    return shouldProcessPanicBehaviour() && panicBehaviour() == behaviour;
}

void KavioVideoItemManager::handleClockStart()
{
    KLOG_VERBOSE("handleClockStart");
    if (!currentItem())
        return;
    setShouldSkipIncreaseTimeBecauseOfFirstFrame(true);
    setIsPlaying(true);
    const std::weak_ptr<KavioVideoItemManager> weakSelf = weak_from_this();
    onMainLater(weakSelf, refreshPlayingRelatedOptions);
    if (outlets_.masterSlider && outlets_.masterSlider->doubleValue() <= 0.0)
        setShouldFadeIn(true);
    for (const auto& item : *items())
        item->setUIStateAfterPlayback();
    onMainLater(weakSelf, [](KavioVideoItemManager& self) { showPlaying(self, true); });
}

void KavioVideoItemManager::handleClockStop()
{
    KLOG_VERBOSE("handleClockStop, _isprocessingrewind {}", int(isprocessingrewind_.load()));
    const auto current = currentItem();
    if (!current)
        return;
    const bool loadNext = shouldLoadNextCueByATEM() || shouldLoadNextCueByNDI();
    const bool rewindByIntegration = shouldRewindCueByATEM() || shouldRewindCueByNDI();
    const bool panicRewind = isProcessingPanicBehaviour(20);
    const bool panicLoadNext = isProcessingPanicBehaviour(30);

    // 1. Pause the cues: what the stop belongs to decides whether they stay ready to resume.
    if (cachedhandledraggingmarker_.load() || seekPerformedByGoto() || isprocessingjump_.load() ||
        shouldStopAfterTransitionStops()) {
        current->pausePlayersWithPreroll(false);
        const auto next = current->nextItemToPlay();
        if (current->hasTransition() && next && next->isPlaying()) {
            next->pausePlayersWithPreroll(false);
            next->updateAudioMeter();
        }
    } else {
        if (!isprocessingrewind_.load() && !isprocessingtemporarystop_.load() && !loadNext && !rewindByIntegration &&
            !panicRewind && !panicLoadNext) {
            // Stopped on its very last frame: nothing to resume, the switcher takes over.
            if (current->shouldStopAtEnd() && current->timeLeftSMPTE() == QLatin1String("-00:00:00:00")) {
                current->pausePlayersWithPreroll(false);
                if (const auto atem = outlets_.atemManager.lock())
                    atem->handleCueAtPauseAtEnd();
            } else {
                current->pausePlayersWithPreroll(true);
            }
        } else {
            KLOG_VERBOSE("pausePlayersWithPreroll: NO");
            current->pausePlayersWithPreroll(false);
        }
        for (const auto& item : *items())
            if (item != current)
                item->pausePlayersWithPreroll(true);
    }

    // 2-3. Not playing any more; load the next cue when an integration or a panic asked.
    setIsPlaying(false);
    if (!loadNext && !panicLoadNext) {
        current->allowTimeChangedNotifications();
    } else {
        KLOG_VERBOSE("shouldLoadNextCue by ATEM/NDI or Panic...");
        jumpToItem(current->nextItem());
        setShouldLoadNextCueByATEM(false);
        setShouldLoadNextCueByNDI(false);
        const auto toSelect = itemToSelectAfterStop_.load();
        if (!toSelect || toSelect == current)
            itemToSelectAfterStop_.store(currentItem());
    }

    // 4-5. The interface; in standalone mode the transport and the cues' rows too.
    const std::weak_ptr<KavioVideoItemManager> weakSelf = weak_from_this();
    onMainLater(weakSelf, refreshPlayingRelatedOptions);
    if (playbackMode() == 0) {
        onMainLater(weakSelf, [](KavioVideoItemManager& self) { showPlaying(self, false); });
        for (const auto& item : *items())
            item->setUIStateAfterStop();
        displayAndSetCurrentItemStartTime();
        if (panicRewind || rewindByIntegration) {
            rewindCurrentItem();
            selectCurrentItem();
            setShouldRewindCueByATEM(false);
            setShouldRewindCueByNDI(false);
        } else if (const auto toSelect = itemToSelectAfterStop_.load()) {
            selectItem(toSelect);
            onMainLater(weakSelf, [toSelect](KavioVideoItemManager& self) { self.scrollToItem(toSelect); });
        }
    }

    // 6. Every mode.
    itemToSelectAfterStop_.store(nullptr);
    onMainLater(weakSelf, [](KavioVideoItemManager& self) { self.redrawPlayheadAndMeters(); });
    setShouldProcessPanicBehaviour(false);
}

void KavioVideoItemManager::handleIntegrationsOnPauseAtEnd()
{
    if (shouldLoadNextCueByATEM() || shouldLoadNextCueByNDI()) {
        KLOG_VERBOSE("shouldLoadNextCue by ATEM or NDI...");
        if (const auto current = currentItem())
            jumpToItem(current->nextItem());
        setShouldLoadNextCueByATEM(false);
        setShouldLoadNextCueByNDI(false);
    } else if (shouldRewindCueByATEM() || shouldRewindCueByNDI()) {
        rewindCurrentItem();
        selectCurrentItem();
        setShouldRewindCueByATEM(false);
        setShouldRewindCueByNDI(false);
    }
    selectCurrentItem();
    scrollToItem(currentItem());
}

void KavioVideoItemManager::handleClockRewind()
{
    if (currentItem())
        rewind();
}

void KavioVideoItemManager::handleExternalStartTimeSet(const Notification& notification)
{
    if (!currentItem())
        return;
    const QVariant value = notification.userInfo.value(QString::fromLatin1(QVTClockNotification::ExtStartTimeSet));
    if (value.typeId() != QMetaType::QString) {
        KLOG_WARN("QVTCLOCK_EXT_START_TIME_SET without a timecode string: ignored");
        return;
    }
    const QString smpte = value.toString();
    // The clock's locate returns only once the show has sought there.
    if (DispatchQueue::isMainThread()) {
        seekToSMPTETime(smpte);
        return;
    }
    DispatchQueue::main().sync([weakSelf = weak_from_this(), smpte] {
        if (const auto self = weakSelf.lock())
            self->seekToSMPTETime(smpte);
    });
}

void KavioVideoItemManager::handleClockSlaveStateChanged()
{
    const bool locked = masterClock_->isConnectedToSlave();
    const bool jamSync = masterClock_->isInJamSync();
    KLOG_VERBOSE("handleClockSlaveStateChanged: {} jamsync: {}", int(locked), int(jamSync));
    if (!delegate())
        return;
    const QString image = jamSync ? QStringLiteral("kavio_timecode_lost")
                          : locked ? QStringLiteral("kavio_timecode")
                                   : QStringLiteral("kavio_wait");
    onMainLater(weak_from_this(), [image](KavioVideoItemManager& self) {
        const auto app = self.delegate();
        if (KavioButtonInterface* play = app ? app->playButton() : nullptr)
            play->setImageName(image);
    });
}

// --- Sync sources ---------------------------------------------------------------------------

void KavioVideoItemManager::handleSwitchToStandaloneMode()
{
    KLOG_VERBOSE("handleSwitchToStandaloneMode (will call Stop)");
    handleClockStop();
    onItemsQueue([&] {
        for (const auto& item : *items_.load())
            item->handleSwitchToStandaloneMode();
    });
}

void KavioVideoItemManager::handleSwitchToSlaveMode()
{
    onItemsQueue([&] {
        for (const auto& item : *items_.load())
            item->handleSwitchToSlaveMode();
    });
}

void KavioVideoItemManager::handleFallbackToStandaloneMode()
{
    setPlaybackMode(0);
    onItemsQueue([&] {
        for (const auto& item : *items_.load())
            item->handleSwitchToStandaloneMode();
    });
}

void KavioVideoItemManager::syncSourceChanged(const std::shared_ptr<QVTMIDINode>& node)
{
    masterClock_->setMtcSourceNode(node);
}

void KavioVideoItemManager::changePlaybackModeOnOpen()
{
    if (!outlets_.playbackModeOnOpen)
        return;
    defaults_.setInteger(outlets_.playbackModeOnOpen->selectedTag(), kPlaybackModeKey);
    defaults_.synchronize();
}

std::int64_t KavioVideoItemManager::storedPlaybackModeOnOpen() const
{
    const std::int64_t mode = defaults_.integerForKey(kPlaybackModeKey);
    if (mode < 0 || mode > 2) {
        KLOG_WARN("stored playbackmode {} is no mode; standalone is used", mode);
        return 0;
    }
    return mode;
}

void KavioVideoItemManager::setDisplayTimeLeft(bool timeLeft)
{
    displayTimeLeft_ = timeLeft;
    defaults_.setBool(timeLeft, QStringLiteral("displayTimeLeft"));
    defaults_.synchronize();
}

