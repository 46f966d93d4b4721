#include "Controller/KavioVideoItemManager.h"

#include "Audio/KavioAudioStreamersManagerInterface.h"
#include "Audio/KavioWaveformManagerInterface.h"
#include "Clock/QVTClock.h"
#include "Cue/KavioVideoItem.h"
#include "Remote/KavioNMCManager.h"
#include "Rendering/KavioMetalTransitionRendererInterface.h"
#include "Shell/AppDelegateInterface.h"
#include "Support/KavioButtonInterface.h"
#include "Support/KavioSliderInterface.h"
#include "Views/KavioItemsViewInterface.h"
#include "DispatchQueue.h"
#include "Log.h"
#include "NotificationCenter.h"

#include <chrono>
#include <thread>

namespace {

// The mix as the position bar shows it during a crossover: 100 frames a second over one second.
constexpr std::uint64_t kMixFPS = 100;
constexpr std::int64_t kNoTransitionMark = 4294967295LL;
// Below this the master fader counts as closed: a crossover into black is a cut.
constexpr double kFaderOpenThreshold = 1e-5;

const QString kTimeLeftAtEnd = QStringLiteral("-00:00:00:00");

std::uint8_t linkFPS(const QVTClock& clock)
{
    return std::uint8_t(clock.framerate());
}

}  // namespace

// --- Waiting for the render pass -------------------------------------------------------------------

void KavioVideoItemManager::waitForRenderPass(const char* waiter) const
{
    using namespace std::chrono;
    const auto step = duration<double>(1.0 / 600.0);
    const auto limit = steady_clock::now() + duration_cast<steady_clock::duration>(duration<double>(kRenderPassWaitLimitSeconds));
    while (isRendering()) {
        if (steady_clock::now() >= limit) {
            KLOG_WARN("{}: the render pass did not end within {} s; going on without it", waiter,
                      kRenderPassWaitLimitSeconds);
            return;
        }
        std::this_thread::sleep_for(step);
    }
}

// --- The jump --------------------------------------------------------------------------------------

bool KavioVideoItemManager::globalTransitionIsOn() const
{
    const auto app = delegate();
    KavioButtonInterface* button = app ? app->globalTransitionButton() : nullptr;
    return button && button->state() == 1;
}

bool KavioVideoItemManager::shouldCrossOverTo(const std::shared_ptr<KavioVideoItem>& item) const
{
    const auto current = currentItem();
    const auto app = delegate();
    if (!globalTransitionIsOn() || item == current)
        return false;
    if (outlets_.masterSlider && outlets_.masterSlider->doubleValue() < kFaderOpenThreshold)
        return false;
    if ((app && app->shiftPressed()) || shouldLoadNextCueByATEM() || shouldLoadNextCueByNDI() ||
        isProcessingPanicBehaviour(30))
        return false;
    // A crossover needs both pictures: without a cue to leave, or without the target's
    // renderer (a cue whose media failed has none), the frame composition would never end it.
    return current && item->transition();
}

void KavioVideoItemManager::jumpToItem(const std::shared_ptr<KavioVideoItem>& item, bool isRewind)
{
    if (!item || !canjump_.load() || !item->isReady())
        return;
    itemToSelectAfterStop_.store(nullptr);
    setShouldRestartClockByLoop(false);

    // Plain jumps and rewinds reach a backup only with the panic behaviours that mirror them;
    // otherwise the backup applies its own behaviour to the panic it receives.
    KavioNMCManager& link = masterClock_->networkLink();
    const std::uint8_t fps = linkFPS(*masterClock_);
    const auto current = currentItem();
    if (shouldStartWhenTransitionStarts() || shouldStartPlaybackAfterStartTimeHasBeenSet()) {
        link.sendKavioPlayCue(item->index(), fps);
    } else if (!shouldProcessPanicBehaviour()) {
        if (isRewind && panicBehaviour() == 20 && current)
            link.sendKavioRewindCue(current->index(), fps);
        else if (!isRewind && panicBehaviour() == 30)
            link.sendKavioJumpToCue(item->index(), fps);
    }

    checkIfCurrentCueIsProcessingTransitionAndHandleStateView();

    if (!isRewind && shouldCrossOverTo(item)) {
        startTransitionToItem(item);
        setShouldStartWhenTransitionStarts(false);
        return;
    }

    canjump_ = false;
    isprocessingjump_ = true;
    setShouldSkipRenderingBecauseOfProcessingJump(true);
    if (!isPlaying()) {
        performJump(item, isRewind, false);
        return;
    }
    if (isRewind)
        isprocessingrewind_ = true;
    else
        KLOG_VERBOSE("jumping without transition...");
    stopClockWithCompletedHandler([weakSelf = weak_from_this(), item, isRewind] {
        if (const auto self = weakSelf.lock())
            self->performJump(item, isRewind, true);
    });
}

void KavioVideoItemManager::performJump(const std::shared_ptr<KavioVideoItem>& item, bool isRewind, bool wasPlaying)
{
    KLOG_VERBOSE("wasplaying: {}", int(wasPlaying));
    bool startClockAfter = isprocessingtransitionfallback_.load();
    if (isRewind)
        startClockAfter = wasPlaying;
    else if (jumpBehaviour() == 0 && !shouldLoadNextCueByATEM() && !shouldLoadNextCueByNDI() &&
             !isProcessingPanicBehaviour(30))
        startClockAfter = true;

    waitForRenderPass("jump");
    setShouldTriggerNextItem(false);

    if (const auto current = currentItem()) {
        current->updateAudioMeter();
        current->markAsCurrent(false);
        setCurrentItem(item);
        item->markAsCurrent(true);
    } else {
        masterClock_->setClockStartTime(0.0);
        // No cue is current to report a time jump, which is what ends the rendering skip.
        setShouldSkipRenderingBecauseOfProcessingJump(false);
    }
    setShouldStartClockAfterStartTimeHasBeenSet(startClockAfter);

    // The target's rewind may report its time jump at once, and that report starts the clock
    // when asked: the jump's flags are cleared before it, after every other cue stands rewound.
    for (const auto& cue : *items())
        if (cue != item)
            cue->rewind();
    isprocessingjump_ = false;
    isprocessingrewind_ = false;
    canjump_ = true;
    setShouldStartWhenTransitionStarts(false);
    item->rewind();
}

void KavioVideoItemManager::jumpToItemByClock(const Notification& notification)
{
    bool ok = false;
    const qlonglong index = notification.userInfo.value(QString::fromLatin1(QVTClockNotification::JumpToItem)).toLongLong(&ok);
    const auto list = items();
    if (!ok || index < 0 || std::uint64_t(index) >= list->size()) {
        KLOG_VERBOSE("Cue number is larger then available Cues, ignore...");
        return;
    }
    setShouldStartWhenTransitionStarts(false);
    setShouldStopAfterTransitionStops(true);
    jumpToItem((*list)[std::size_t(index)]);
}

// --- Previous, next, selected, by name -------------------------------------------------------------

void KavioVideoItemManager::jumpToPrevItem()
{
    const auto current = currentItem();
    if (!current)
        return;
    const auto list = items();
    if (!list->empty() && list->front() == current) {
        rewind();
        return;
    }
    for (std::size_t i = 1; i < list->size(); ++i)
        if ((*list)[i] == current) {
            jumpToItem((*list)[i - 1]);
            return;
        }
}

void KavioVideoItemManager::jumpToNextItem()
{
    const auto current = currentItem();
    if (!current)
        return;
    if (const auto next = current->nextItem())
        jumpToItem(next);
    else
        fastForward();
}

void KavioVideoItemManager::jumpToSelectedItem()
{
    const auto selected = selectedItems();
    if (!selected.empty())
        jumpToItem(selected.front());
}

void KavioVideoItemManager::jumpToItemWithName(const QString& name)
{
    if (!name.isEmpty())
        jumpToItem(itemWithName(name));
}

void KavioVideoItemManager::jumpToAndPlaySelectedItem()
{
    if (repostToMain([](KavioVideoItemManager& self) { self.jumpToAndPlaySelectedItem(); }))
        return;
    const auto selected = selectedItems();
    if (!selected.empty())
        jumpToAndPlayItem(selected.front());
}

void KavioVideoItemManager::jumpToAndPlayItemAtIndex(std::uint64_t index)
{
    if (repostToMain([index](KavioVideoItemManager& self) { self.jumpToAndPlayItemAtIndex(index); }))
        return;
    jumpToAndPlayItem(itemWithIndex(index));
}

void KavioVideoItemManager::jumpToAndPlayItemWithName(const QString& name)
{
    if (repostToMain([name](KavioVideoItemManager& self) { self.jumpToAndPlayItemWithName(name); }))
        return;
    jumpToAndPlayItem(itemWithName(name));
}

void KavioVideoItemManager::jumpToAndPlayItemWithCueID(const QString& cueID)
{
    if (repostToMain([cueID](KavioVideoItemManager& self) { self.jumpToAndPlayItemWithCueID(cueID); }))
        return;
    jumpToAndPlayItem(itemWithCueID(cueID));
}

// --- GO ----------------------------------------------------------------------------------------------

void KavioVideoItemManager::pressPlayButton(int state, std::function<void()> completed)
{
    const auto app = delegate();
    if (!app)
        return;
    if (KavioButtonInterface* play = app->playButton())
        play->setStateByOSC(state);
    app->performTogglePlayWithCompletedHandler(std::move(completed));
}

void KavioVideoItemManager::jumpToAndPlayItem(const std::shared_ptr<KavioVideoItem>& item)
{
    if (!canjump_.load())
        return;
    if (repostToMain([item](KavioVideoItemManager& self) { self.jumpToAndPlayItem(item); }))
        return;
    if (!item || !item->isReady())
        return;
    const auto current = currentItem();
    if (item != current) {
        if (!isPlaying() || (jumpBehaviour() == 1 && !globalTransitionIsOn()))
            setShouldStartPlaybackAfterStartTimeHasBeenSet(true);
        setShouldStartWhenTransitionStarts(true);
        jumpToItem(item);
        return;
    }
    if (isPlaying())
        return;
    const auto list = items();
    const bool waitsAtEnd = item->shouldStopAtEnd() && shouldTriggerNextItem();
    const bool lastAtEnd = !list->empty() && list->back() == item && item->timeLeftSMPTE() == kTimeLeftAtEnd;
    setShouldTriggerNextItem(false);
    if (waitsAtEnd || lastAtEnd) {
        setShouldStartPlaybackAfterStartTimeHasBeenSet(true);
        jumpToItem(item);
        return;
    }
    pressPlayButton(1, [weakSelf = weak_from_this(), weakItem = std::weak_ptr(item)] {
        const auto self = weakSelf.lock();
        const auto cue = weakItem.lock();
        if (self && cue)
            self->masterClock()->networkLink().sendKavioPlayCue(cue->index(), linkFPS(*self->masterClock()));
    });
}

// --- Crossovers ----------------------------------------------------------------------------------------

void KavioVideoItemManager::startTransitionToItem(const std::shared_ptr<KavioVideoItem>& item)
{
    if (!item || isProcessingGlobalTransition())
        return;
    const auto transition = item->transition();
    const auto current = currentItem();
    if (!transition || !current) {
        KLOG_WARN("a crossover to cue {} needs the current cue and its transition renderer; not started",
                  long(item->index()));
        return;
    }
    setShouldTriggerNextItem(false);
    setCurrentTransition(transition);
    setWillProcessingGlobalTransition(true);
    canjump_ = false;
    transition->setSourceItem(current);
    transition->setDestinationItem(item);
    transition->setProgress(0.0f);
    transition->setDuration(item->transitionTime());
    if (item->mediaType() == KavioMediaTypeCamera)
        item->setIsSecondaryCamera(true);

    DispatchQueue::main().async([weakSelf = weak_from_this()] {
        const auto self = weakSelf.lock();
        if (!self)
            return;
        if (const auto marker = self->outlets_.markerController.lock()) {
            marker->setCompFPS(kMixFPS);
            marker->setCompTime(1.0);
            marker->setInTime(0);
            marker->setOutTime(std::int64_t(kMixFPS) - 1);
            marker->setMarkerTime(0);
            marker->setTransitionStartTime(kNoTransitionMark);
            marker->redrawMarkerView();
        }
        if (const auto waveform = self->outlets_.waveformManager.lock())
            waveform->setDrawsMixing(true);
    });

    waitForRenderPass("transition");

    const double targetStart = masterClock_->secondsForSMPTEString(item->originalItemStartSMPTETime());
    if (!shouldStartWhenTransitionStarts() && jumpBehaviour() != 0) {
        // Stand by on the target: the clock moves to its place, and a running one stops when
        // the crossover ends.
        if (jumpBehaviour() == 1) {
            masterClock_->setClockStartTimeWithoutOffset(targetStart);
            if (masterClock_->isRunning())
                setShouldStopAfterTransitionStops(true);
        }
        startTransitionBody(item, false, false);
        return;
    }
    const auto realignOutgoing = [this, current] {
        current->setupSMPTEStartAndEndTimes();
        if (current->isLooping() || current->wasLooping())
            rebuildItemTimesByLoopingItem(current);
    };
    if (!isPlaying() || !masterClock_->isRunning()) {
        masterClock_->setClockStartTimeWithoutOffset(targetStart);
        realignOutgoing();
        startTransitionBody(item, true, true);
        return;
    }
    masterClock_->restartClockFromTimeWithoutNotifyingManager(
        targetStart, [weakSelf = weak_from_this(), weakItem = std::weak_ptr(item), realignOutgoing] {
            const auto self = weakSelf.lock();
            const auto target = weakItem.lock();
            if (!self || !target)
                return;
            realignOutgoing();
            self->startTransitionBody(target, true, false);
        });
}

void KavioVideoItemManager::startTransitionBody(const std::shared_ptr<KavioVideoItem>& item, bool startPlayers,
                                                bool pressPlay)
{
    KLOG_VERBOSE("startProcessingTransitionBlock!");
    temprendertime_ = 0.0;
    setShouldStartWhenTransitionStarts(false);
    setIsProcessingGlobalTransition(true);
    setWillProcessingGlobalTransition(false);
    // The frame composition gives the renderer the output size on its own thread every pass.

    if (const auto streamers = outlets_.audioStreamersManager.lock()) {
        const QList<int> mapping = item->channelMapping();
        if (!mapping.isEmpty())
            streamers->setChannelMappingB(mapping);
        streamers->setVolumeB(item->audioPlayerVolume());
        streamers->setIsMixing(true);
    }
    DispatchQueue::main().async([weakSelf = weak_from_this()] {
        const auto self = weakSelf.lock();
        if (const auto marker = self ? self->outlets_.markerController.lock() : nullptr)
            marker->setIsMixing(true);
    });
    if (startPlayers) {
        item->setAudioFade(0.0f);
        item->volumeChanged();
        item->startPlayers();
    }
    item->shouldStartRenderItemIfNotFileBased();
    if (pressPlay) {
        const auto press = [weakSelf = weak_from_this()] {
            if (const auto self = weakSelf.lock())
                self->pressPlayButton(1, {});
        };
        if (DispatchQueue::isMainThread())
            press();
        else
            DispatchQueue::main().async(press);
    }
}

void KavioVideoItemManager::stopTransitionToItem()
{
    temprendertime_ = 0.0;
    setIsProcessingGlobalTransition(false);
    const auto transition = currentTransition();
    if (!transition)
        return;
    transition->setProgress(0.0f);
    const auto incoming = transition->destinationItem();
    const auto outgoing = transition->sourceItem();
    if (!incoming) {
        canjump_ = true;
        return;
    }
    setCurrentItem(incoming);
    incoming->markAsCurrent(true);
    lastrendereditem_.store(incoming);

    if (!shouldStopAfterTransitionStops()) {
        finishTransition(outgoing, incoming);
        return;
    }
    stopClockWithCompletedHandler([weakSelf = weak_from_this(), outgoing, incoming] {
        const auto self = weakSelf.lock();
        if (!self)
            return;
        self->setShouldStopAfterTransitionStops(false);
        self->setShouldTriggerNextItem(false);
        if (const auto current = self->currentItem())
            current->rebuildStartAndEndTime();
        self->finishTransition(outgoing, incoming);
    });
}

void KavioVideoItemManager::finishTransition(const std::shared_ptr<KavioVideoItem>& outgoing,
                                             const std::shared_ptr<KavioVideoItem>& incoming)
{
    if (outgoing)
        outgoing->markAsCurrent(false);
    const std::weak_ptr<KavioVideoItemManager> weakSelf = weak_from_this();
    DispatchQueue::main().async([weakSelf, outgoing, incoming] {
        const auto self = weakSelf.lock();
        if (!self)
            return;
        if (const auto view = self->outlets_.itemsView.lock()) {
            if (outgoing)
                view->moveStateViewToOrigin(outgoing);
            view->moveStateViewToOrigin(incoming);
        }
        if (const auto waveform = self->outlets_.waveformManager.lock())
            waveform->setDrawsMixing(false);
    });
    if (const auto streamers = outlets_.audioStreamersManager.lock()) {
        streamers->setIsMixing(false);
        streamers->switchBuffers();
        streamers->setVolumeA(incoming->audioPlayerVolume());
    }
    DispatchQueue::main().async([weakSelf, outgoing, incoming] {
        const auto self = weakSelf.lock();
        if (!self)
            return;
        if (outgoing) {
            // The outgoing cue's own transition may have started its next cue meanwhile.
            const auto next = outgoing->hasTransition() ? outgoing->nextItemToPlay() : nullptr;
            if (next && next->isPlaying() && next != incoming) {
                next->pausePlayersWithPreroll(false);
                next->rewind();
                next->updateAudioMeter();
            }
        }
        if (incoming->isLooping())
            incoming->displayItemTimes();
        if (outgoing) {
            outgoing->pausePlayersWithPreroll(false);
            outgoing->rewind();
            outgoing->updateAudioMeter();
        }
        if (!self->isPlaying())
            self->setClockAndItemStartTimeAfterJump();
        // The new current cue's own renderer crosses into its next cue again.
        if (const auto current = self->currentItem())
            current->resetTransition();
        self->canjump_ = true;
    });
}
