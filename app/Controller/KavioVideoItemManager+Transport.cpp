#include "Controller/KavioVideoItemManager.h"

#include "Audio/KavioWaveformManagerInterface.h"
#include "Clock/QVTClock.h"
#include "Cue/KavioVideoItem.h"
#include "Remote/KavioNMCManager.h"
#include "Shell/AppDelegateInterface.h"
#include "Support/KavioButtonInterface.h"
#include "Support/KavioPopUpButtonInterface.h"
#include "Support/KavioSliderInterface.h"
#include "DispatchQueue.h"
#include "Log.h"

#include <cmath>

namespace {

std::uint8_t linkFPS(const QVTClock& clock)
{
    return std::uint8_t(clock.framerate());
}

}  // namespace

// --- Rewind and fast-forward -------------------------------------------------------------------------

void KavioVideoItemManager::rewindCurrentItem()
{
    if (const auto current = currentItem())
        jumpToItem(current, true);
}

void KavioVideoItemManager::rewind()
{
    const auto list = items();
    if (list->empty())
        return;
    const auto first = list->front();
    jumpToItem(first, first == currentItem());
}

void KavioVideoItemManager::fastForward()
{
    const auto list = items();
    if (!list->empty())
        jumpToItem(list->back());
}

// --- Frame steps --------------------------------------------------------------------------------------

bool KavioVideoItemManager::canStepPrevFrame() const
{
    const auto current = currentItem();
    return current && masterClock_->clockSMPTETime() != current->originalItemStartSMPTETime();
}

bool KavioVideoItemManager::canStepNextFrame() const
{
    const auto current = currentItem();
    return current && masterClock_->clockSMPTETime() != current->itemEndSMPTETime();
}

void KavioVideoItemManager::stepToPrevFrame()
{
    if (canStepPrevFrame())
        performFrameSteppingByValue(-1);
}

void KavioVideoItemManager::stepToNextFrame()
{
    if (canStepNextFrame())
        performFrameSteppingByValue(1);
}

void KavioVideoItemManager::performFrameSteppingByValue(int step)
{
    const auto current = currentItem();
    if (!current)
        return;
    setSeekPerformedByFrameSteps(true);
    const int direction = step < 1 ? -1 : 1;
    if (current->videoPlayer() && !current->isMissing()) {
        // One frame of the movie itself, at the cue's speed; the seek's time jump realigns the clock.
        const float fps = current->videoFPS();
        const double frame = fps > 0.0f ? 1.0 / double(fps) / current->playbackRate()
                                        : masterClock_->frameTimeOfCurrentSMPTEFormat();
        const MediaTime target = current->inTimeAtCurrentPlaybackSpeed() + current->currentCMTime() +
                                 MediaTime::makeWithSeconds(direction * frame, MediaTime::kCueTimescale);
        current->seekToCMTime(target);
        finishFrameStep(current, direction);
        return;
    }
    const std::int64_t frames = masterClock_->frameCountSMPTEString(masterClock_->clockSMPTETime()) + direction;
    const QString target = masterClock_->smpteRepresentationOfFrames(std::uint64_t(std::max<std::int64_t>(frames, 0)));
    if (frames < 0 ||
        !smpteTimeIsBetweenStartAndEnd(target, current->originalItemStartSMPTETime(), current->itemEndSMPTETime())) {
        // Left set, the next seek would be taken for a step inside the cue.
        setSeekPerformedByFrameSteps(false);
        return;
    }
    locateClockToTime(masterClock_->secondsForSMPTEString(target), [weakSelf = weak_from_this(), weakItem = std::weak_ptr(current), direction] {
        const auto self = weakSelf.lock();
        const auto item = weakItem.lock();
        if (self && item)
            self->finishFrameStep(item, direction);
    });
}

void KavioVideoItemManager::finishFrameStep(const std::shared_ptr<KavioVideoItem>& item, int step)
{
    setSeekPerformedByFrameSteps(false);
    const std::int64_t playhead = item->currentPlayhead();
    DispatchQueue::main().async([weakSelf = weak_from_this(), playhead] {
        const auto self = weakSelf.lock();
        if (const auto marker = self ? self->outlets_.markerController.lock() : nullptr) {
            marker->setMarkerTime(playhead);
            marker->redrawMarkerView();
        }
    });
    const double frame = masterClock_->frameTimeOfCurrentSMPTEFormat();
    const double t = (item->inTimeAtCurrentPlaybackSpeed() + item->currentCMTime()).seconds() + (step > 0 ? frame : -frame);
    masterClock_->networkLink().sendKavioSeek(masterClock_->smpteRepresentationOfTime(t), linkFPS(*masterClock_),
                                                   item->index());
}

// --- Speed and the temporary stop --------------------------------------------------------------------

void KavioVideoItemManager::handleChangeOfPlaybackSpeedOnItem(const std::shared_ptr<KavioVideoItem>& item,
                                                               std::int64_t speed, std::function<void()> completed)
{
    const auto done = [completed] {
        if (completed)
            completed();
    };
    if (!item || item->playbackRateAsPercent() == speed) {
        done();
        return;
    }
    const std::weak_ptr<KavioVideoItemManager> weakSelf = weak_from_this();
    const std::weak_ptr<KavioVideoItem> weakItem = item;
    if (item != currentItem()) {
        DispatchQueue::main().async([weakSelf, weakItem, speed, done] {
            const auto cue = weakItem.lock();
            if (!cue)
                return done();
            cue->setPlaybackRatePercent(speed, [weakSelf, done] {
                if (const auto self = weakSelf.lock())
                    self->handleItemTimesUpdated();
                done();
            });
        });
        return;
    }
    if (const auto marker = outlets_.markerController.lock())
        marker->setEnabled(false);
    if (const auto waveform = outlets_.waveformManager.lock())
        waveform->refreshWaveformView();
    handleTemporaryPlaybackStopWithCompletedHandler([weakSelf, weakItem, speed, completed] {
        DispatchQueue::main().async([weakSelf, weakItem, speed, completed] {
            const auto self = weakSelf.lock();
            const auto cue = weakItem.lock();
            if (!self || !cue)
                return;
            cue->setPlaybackRatePercent(speed, [weakSelf, completed] {
                const auto self = weakSelf.lock();
                if (!self)
                    return;
                self->handleItemTimesUpdated();
                self->updateMarkerSettingsToCurrentItem();
                if (const auto marker = self->outlets_.markerController.lock())
                    marker->setEnabled(true);
                if (const auto waveform = self->outlets_.waveformManager.lock())
                    waveform->refreshWaveformView();
                self->handleEndOfTemporaryPlaybackStopWithCompletedHandler(completed);
            });
        });
    });
}

void KavioVideoItemManager::handleTemporaryPlaybackStopWithCompletedHandler(std::function<void()> handler)
{
    KLOG_VERBOSE("handleTemporaryPlaybackStopWithCompletedHandler");
    cachedwasplaying_ = isPlaying();
    canjump_ = false;
    isprocessingtemporarystop_ = true;
    if (isPlaying())
        pressPlayButton(0, std::move(handler));
    else if (handler)
        handler();
    validateTransport();
}

void KavioVideoItemManager::handleEndOfTemporaryPlaybackStopWithCompletedHandler(std::function<void()> handler)
{
    canjump_ = true;
    isprocessingtemporarystop_ = false;
    if (!cachedwasplaying_.load()) {
        if (handler)
            handler();
        return;
    }
    KLOG_VERBOSE("_cachedwasplaying");
    pressPlayButton(1, [handler = std::move(handler)] {
        KLOG_VERBOSE("performTogglePlayWithCompletedHandler");
        if (handler)
            handler();
    });
}

// --- Frame rate ------------------------------------------------------------------------------------------

void KavioVideoItemManager::frameRateChangedByMTC()
{
    const std::int32_t format = masterClock_->smpteFormat();
    DispatchQueue::main().async([weakSelf = weak_from_this(), format] {
        const auto self = weakSelf.lock();
        if (self && self->outlets_.frameratePopup)
            self->outlets_.frameratePopup->selectItemWithTag(format);
    });
}

void KavioVideoItemManager::convertFramerateTo(std::int32_t format)
{
    masterClock_->setSmpteFormat(format);
    DispatchQueue::main().async([weakSelf = weak_from_this(), format] {
        const auto self = weakSelf.lock();
        if (self && self->outlets_.frameratePopup)
            self->outlets_.frameratePopup->selectItemWithTag(format);
    });
    KLOG_VERBOSE("changeFramerate, new format: {}", format);
}

// --- Master fader, fades and panic -----------------------------------------------------------------------

void KavioVideoItemManager::masterSliderChanged()
{
    const auto current = currentItem();
    if (current && current->audioPlayer() && !current->isProcessingTransition())
        current->volumeChanged();
    // Set again so the fader sends its feedback.
    if (KavioSliderInterface* fader = outlets_.masterSlider)
        fader->setDoubleValue(fader->doubleValue());
}

void KavioVideoItemManager::doFade()
{
    KavioSliderInterface* fader = outlets_.masterSlider;
    if (!fader)
        return;
    const auto app = delegate();
    const bool alt = app && app->altPressed();
    KavioButtonInterface* button = outlets_.masterButton;
    if (fader->doubleValue() > 0.0) {
        if (!alt) {
            setShouldFadeIn(false);
            if (button)
                button->setShouldShowAlternateImage(false);
            setShouldFadeOut(true);
            return;
        }
        fader->setDoubleValue(0.0);
        if (button)
            button->setShouldShowAlternateImage(true);
        masterSliderChanged();
        return;
    }
    if (button)
        button->setShouldShowAlternateImage(false);
    if (!alt) {
        setShouldFadeIn(true);
        setShouldFadeOut(false);
        return;
    }
    fader->setDoubleValue(1.0);
    masterSliderChanged();
}

namespace {

// The fader's move per rendered frame: a fade of D seconds at R frames a second, in single
// precision; a length or rate that is not positive (a duration title that is no number) ends
// the fade in one step.
float fadeStep(const KavioPopUpButtonInterface* durationPopup, std::int32_t renderingFPS)
{
    const float duration = durationPopup ? durationPopup->titleOfSelectedItem().toFloat() : 0.0f;
    const float frames = duration * float(renderingFPS);
    return frames > 0.0f ? 1.0f / frames : 1.0f;
}

// The fader after one step; single-precision sums of 1/(D x R) fall a hair short of the end,
// which would cost a further frame, so a level within half a step of 0 or 1 lands on it.
double fadeLevelAfterStep(float level, float step)
{
    const float next = level + step;
    const float half = std::fabs(step) * 0.5f;
    if (next < half)
        return 0.0;
    if (next > 1.0f - half)
        return 1.0;
    return double(next);
}

}  // namespace

void KavioVideoItemManager::stepMasterFade(float direction)
{
    const float step = direction * fadeStep(outlets_.defaultFadeDurationPopup, renderingFPS());
    DispatchQueue::main().async([weakSelf = weak_from_this(), step] {
        const auto self = weakSelf.lock();
        KavioSliderInterface* fader = self ? self->outlets_.masterSlider : nullptr;
        if (!fader)
            return;
        fader->setDoubleValue(fadeLevelAfterStep(float(fader->doubleValue()), step));
        self->masterSliderChanged();
    });
}

void KavioVideoItemManager::processFadeOut()
{
    KavioSliderInterface* fader = outlets_.masterSlider;
    if (fader && fader->doubleValue() > 0.0) {
        stepMasterFade(-1.0f);
        return;
    }
    setShouldFadeOut(false);
    if (shouldPanic())
        endPanic();
    setShouldPanic(false);
}

void KavioVideoItemManager::processFadeIn()
{
    KavioSliderInterface* fader = outlets_.masterSlider;
    if (fader && fader->doubleValue() < 1.0) {
        stepMasterFade(1.0f);
        return;
    }
    setShouldFadeIn(false);
    setShouldPanic(false);
}

void KavioVideoItemManager::doPanic()
{
    setShouldFadeIn(false);
    setShouldPanic(true);
    setShouldFadeOut(true);
    masterClock_->networkLink().sendKavioPanic();
}

void KavioVideoItemManager::endPanic()
{
    const std::weak_ptr<KavioVideoItemManager> weakSelf = weak_from_this();
    if (isPlaying()) {
        // The behaviour is applied by the clock's stop handling.
        setShouldProcessPanicBehaviour(true);
        const bool followsTimecode = masterClock_->isMTCSlave() || masterClock_->isLTCSlave();
        DispatchQueue::main().async([weakSelf, followsTimecode] {
            const auto self = weakSelf.lock();
            const auto app = self ? self->delegate() : nullptr;
            if (!app)
                return;
            if (followsTimecode) {
                app->toggleSourceMode(0);
                return;
            }
            if (KavioButtonInterface* play = app->playButton())
                play->setStateByOSC(0);
            app->togglePlay();
        });
        return;
    }
    setShouldPanic(false);
    setShouldProcessPanicBehaviour(false);
    const std::int32_t behaviour = panicBehaviour();
    if (behaviour != 20 && behaviour != 30)
        return;
    setShouldProcessPanicBehaviour(true);
    DispatchQueue::main().async([weakSelf, behaviour] {
        const auto self = weakSelf.lock();
        if (!self)
            return;
        if (behaviour == 20) {
            self->rewindCurrentItem();
            self->setShouldProcessPanicBehaviour(false);
            self->selectCurrentItem();
            return;
        }
        if (const auto current = self->currentItem())
            self->jumpToItem(current->nextItem());
        self->setShouldProcessPanicBehaviour(false);
        const auto current = self->currentItem();
        self->selectItem(current);
        self->scrollToItem(current);
    });
}

// --- Playback from elsewhere ---------------------------------------------------------------------------

void KavioVideoItemManager::startPlayback()
{
    if (repostToMain([](KavioVideoItemManager& self) { self.startPlayback(); }))
        return;
    const auto app = delegate();
    if (!app)
        return;
    if (KavioButtonInterface* play = app->playButton())
        play->setStateByOSC(1);
    app->togglePlay();
}

void KavioVideoItemManager::stopPlaybackWithCompletedHandler(std::function<void()> handler)
{
    if (repostToMain([handler](KavioVideoItemManager& self) { self.stopPlaybackWithCompletedHandler(handler); }))
        return;
    if (!delegate()) {
        if (handler)
            handler();
        return;
    }
    pressPlayButton(0, std::move(handler));
}
