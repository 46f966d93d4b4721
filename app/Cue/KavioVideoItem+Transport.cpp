#include "Cue/KavioVideoItem.h"

#include "DispatchQueue.h"
#include "Log.h"
#include "MediaPlayer.h"
#include "NotificationCenter.h"

#include <chrono>

namespace {

// The picture of a prerolled player needs a moment to reach its frame source.
constexpr std::chrono::nanoseconds kPrerollSettleDelay{16'666'666};

const QString kHandlePlaybackStateChangeOnWaveform = QStringLiteral("KavioHandlePlaybackStateChangeOnWaveform");

std::int64_t playbackModeOf(const KavioVideoItem& cue)
{
    const auto controller = cue.manager();
    return controller ? controller->playbackMode() : 0;
}

}  // namespace

void KavioVideoItem::runFrameSourceStep(const std::function<void()>& step)
{
    // The render loop takes the current cue's frames on this queue: a refill must not
    // interleave with a frame being taken.
    if (isCurrent())
        pixelBufferQueue().sync(step);
    else
        step();
}

void KavioVideoItem::allowTimeChangedNotifications()
{
    shouldforwardtimejumpedmessages_ = true;
}

// --- First preparation -------------------------------------------------------------------------

void KavioVideoItem::rewindAndPrerollWhenNotIsReady()
{
    if (isReady())
        return;
    setLoopCounter(0);
    rebuildStartAndEndTime();
    if (audioPlayer())
        audioPlayer()->setCurrentTime(inTime().seconds());
    MediaPlayer* player = presentVideoPlayer();
    if (!player)
        return;
    setIsSeeking(true);
    const auto prerolled = [weak = weak_from_this(), player](const MediaTime& time, bool finished) {
        const auto cue = weak.lock();
        if (!cue || !cue->ownsPlayer(player))
            return;
        if (finished) {
            KLOG_VERBOSE("prerolling at {:f} finished: {}", time.seconds(), cue->mediaPath().toStdString());
            cue->setPreloadedTime(time);
        } else {
            KLOG_VERBOSE("rewindAndPrerollWhenNotIsReady failed!");
            cue->setPreloadedTime(MediaTime::indefinite());
        }
        if (MediaPlayer* current = cue->videoPlayer())
            cue->runFrameSourceStep([&] { cue->fillVideoOutputOfPlayerFromCMTime(*current, time); });
        cue->applyCachedLoadData();
        cue->setIsReady(true);
        KLOG_VERBOSE("buffers filled on {}, isReady = YES", cue->mediaPath().toStdString());
        if (cue->isLooping())
            cue->setupLoopHelper();
    };
    player->seekToTime(inTime(), MediaTime::zero(), MediaTime::zero(), DispatchQueue::main(),
                       [weak = weak_from_this(), player, prerolled](bool) {
                           const auto cue = weak.lock();
                           if (!cue || !cue->ownsPlayer(player))
                               return;
                           cue->setIsSeeking(false);
                           const MediaTime time = cue->absoluteCurrentCMTime();
                           player->prerollAtRate(float(cue->playbackRate()), DispatchQueue::main(),
                                                 [prerolled, time](bool finished) { prerolled(time, finished); });
                       });
}

// --- Preroll and buffer fill -------------------------------------------------------------------

void KavioVideoItem::prerollAudioAtCurrentTime()
{
    if (!isLooping()) {
        setCurrentTimeOnAudioPlayers((currentCMTimeWithEffectivePlaybackRate(false) + inTime()).seconds());
        return;
    }
    // The idle player of a looping pair waits at the in point for the loop switch.
    for (const auto& audio : {audioPlayer(), loopHelperAudioPlayer_})
        if (audio)
            audio->setCurrentTime(currentTimeForAudioWithPlayer(audio.get()));
}

void KavioVideoItem::prerollVideoAtCurrentTimeWithCompletedHandler(std::function<void(bool)> completed)
{
    const auto answer = [&completed](bool prerolled) {
        if (completed)
            completed(prerolled);
    };
    // The callers' chains (refill, time-jump report) wait for an answer on every path: "no"
    // means nothing was prerolled.
    if (!isReady()) {
        answer(false);
        return;
    }
    MediaPlayer* player = presentVideoPlayer();
    if (!player) {
        answer(true);
        return;
    }
    const MediaTime time = absoluteCurrentCMTime();
    if (time == preloadedTime()) {
        KLOG_VERBOSE("skip prerolling: {} {:f}", mediaPath().toStdString(), preloadedTime().seconds());
        answer(false);
        return;
    }
    KLOG_VERBOSE("starting preroll: {}", mediaPath().toStdString());
    player->cancelPendingPrerolls();
    player->prerollAtRate(
        float(playbackRate()), DispatchQueue::main(),
        [weak = weak_from_this(), time, completed = std::move(completed)](bool finished) {
            const auto cue = weak.lock();
            if (!cue)
                return;
            if (!finished) {
                KLOG_VERBOSE("couldn't preroll: {}", cue->mediaPath().toStdString());
                cue->setPreloadedTime(MediaTime::indefinite());
                if (completed)
                    completed(false);
                return;
            }
            KLOG_VERBOSE("prerolling finished: {}", cue->mediaPath().toStdString());
            cue->setPreloadedTime(time);
            DispatchQueue::main().asyncAfter(kPrerollSettleDelay, [weak, completed] {
                if (weak.lock() && completed)
                    completed(true);
            });
        });
}

void KavioVideoItem::fillVideoAndAudioBuffersAtCurrentTimeWithCompletedHandler(std::function<void()> completed)
{
    if (audioPlayer())
        prerollAudioAtCurrentTime();
    MediaPlayer* player = presentVideoPlayer();
    if (player && playbackModeOf(*this) == 0) {
        KLOG_VERBOSE("filling buffers on {}", mediaPath().toStdString());
        prerollVideoAtCurrentTimeWithCompletedHandler([weak = weak_from_this(),
                                                       completed = std::move(completed)](bool prerolled) {
            const auto cue = weak.lock();
            if (!cue)
                return;
            MediaPlayer* current = cue->presentVideoPlayer();
            if (prerolled && current && playbackModeOf(*cue) == 0) {
                const MediaTime time = current->currentTime();
                cue->runFrameSourceStep([&] { cue->fillVideoOutputOfPlayerFromCMTime(*current, time); });
            }
            const auto next = cue->nextItemToPlay();
            if (next && cue->isProcessingTransitionToNextCueAtCurrentTime())
                next->fillVideoAndAudioBuffersAtCurrentTimeWithCompletedHandler(completed);
            else if (completed)
                completed();
        });
        return;
    }
    if (player)
        KLOG_VERBOSE("skip prerolling because playback mode is not Standalone");
    if (completed)
        completed();
}

void KavioVideoItem::prerollVideoPlayer(MediaPlayer* player, std::function<void()> completed)
{
    if (!player)
        return;
    player->cancelPendingSeeks();
    player->seekToTime(
        inTime(), MediaTime::zero(), MediaTime::zero(), DispatchQueue::main(),
        [weak = weak_from_this(), player, completed = std::move(completed)](bool) {
            const auto cue = weak.lock();
            if (!cue || !cue->ownsPlayer(player))
                return;
            player->cancelPendingPrerolls();
            player->prerollAtRate(float(cue->playbackRate()), DispatchQueue::main(),
                                  [weak, completed](bool finished) {
                                      const auto cue = weak.lock();
                                      if (!cue)
                                          return;
                                      if (finished)
                                          KLOG_VERBOSE("videoplayer prerolled at rate: {:f}", cue->playbackRate());
                                      else
                                          KLOG_VERBOSE("error, could not preroll player!");
                                      if (completed)
                                          completed();
                                  });
        });
}

// --- Questions ---------------------------------------------------------------------------------

bool KavioVideoItem::needsRewindBeforeStartPlayback() const
{
    const MediaTime in = inTimeAtCurrentPlaybackSpeed();
    const MediaTime playhead = currentCMTime() + in;
    if (playhead >= in && playhead <= videoDurationCMTime() - outTimeAtCurrentPlaybackSpeed())
        return false;
    KLOG_VERBOSE("playheadtime: {:f}", playhead.seconds());
    return true;
}

bool KavioVideoItem::itemIsRewindedAndPreloaded() const
{
    const MediaTime time = absoluteCurrentCMTime();
    return time == inTime() && time == preloadedTime();
}

void KavioVideoItem::shouldStartRenderItemIfNotFileBased()
{
    if (mediaType() == KavioMediaTypeBrowser && browserSource_)
        browserSource_->setShouldRender(true);
    else if (mediaType() == KavioMediaTypeWindow && windowSource_)
        windowSource_->setShouldRender(true);
}

// --- Start and pause ---------------------------------------------------------------------------

void KavioVideoItem::startPlayers()
{
    if (!DispatchQueue::main().isCurrent()) {
        // Qualified: an override already ran on this thread; only the body moves to the main queue.
        DispatchQueue::main().sync([this] { KavioVideoItem::startPlayers(); });
        return;
    }
    KLOG_VERBOSE("startPlayers: {}", mediaPath().toStdString());
    setIsPlaying(true);
    if (fadeInButton_.state != 1)
        setFadeOpacity(1.0f);
    shouldforwardtimejumpedmessages_ = false;
    const auto next = nextItemToPlay();
    if (hasTransition() && next && next.get() != this && isCurrent() && isProcessingTransition())
        next->startPlayers();
    if (MediaPlayer* player = presentVideoPlayer()) {
        player->cancelPendingSeeks();
        player->cancelPendingPrerolls();
        // Started now, as the clock was: a seek still under way holds the picture at its target
        // and the player then runs on from this moment, not from when the frames came, so the
        // picture keeps the clock's time (a chased timecode starts the show on a seek).
        player->setRate(float(playbackRate()), MediaTime::invalid(), MediaPlayer::hostTimeNow());
        if (canLoop() && (isLooping() || nextItem().get() == this))
            parkIdlePlayerAtInPoint();
    }
    if (audioPlayer() && !isMissing()) {
        const auto controller = manager();
        if (!(controller && controller->isProcessingGlobalTransition())) {
            setAudioFade(1.0f);
            volumeChanged();
        }
        audioPlayer()->play();
    }
    if (!isLooping())
        setItemStartSMPTETime(originalItemStartSMPTETime());
    setPreloadedTime(MediaTime::indefinite());
    shouldStartRenderItemIfNotFileBased();
    if (mediaType() == KavioMediaTypeNDI && isCurrent())
        NotificationCenter::defaultCenter().post(kHandlePlaybackStateChangeOnWaveform);
}

void KavioVideoItem::parkIdlePlayerAtInPoint()
{
    MediaPlayer* current = videoPlayer();
    const bool normalInUse = current == normalVideoPlayer_.get();
    if (!normalInUse && current != loopHelperVideoPlayer_.get())
        return;
    MediaPlayer* idle = normalInUse ? loopHelperVideoPlayer_.get() : normalVideoPlayer_.get();
    if (!idle || idle->currentTime() == inTime())
        return;
    idle->cancelPendingSeeks();
    if (normalInUse)
        parkPlayerAtInPoint(idle, "loopHelperVideoPlayer couldn't seek, there will be problems!",
                            "loopHelperVideoPlayer couldn't preroll, there will be problems!");
    else
        parkPlayerAtInPoint(idle, "normalVideoPlayer couldn't seek, there will be problems!",
                            "normalVideoPlayer couldn't preroll, there will be problems!");
}

void KavioVideoItem::parkPlayerAtInPoint(MediaPlayer* player, const char* seekFailure, const char* prerollFailure)
{
    player->pause();
    player->seekToTime(
        inTime(), MediaTime::zero(), MediaTime::zero(), DispatchQueue::main(),
        [weak = weak_from_this(), player, seekFailure, prerollFailure](bool sought) {
            const auto cue = weak.lock();
            if (!cue || !cue->ownsPlayer(player))
                return;
            if (!sought && seekFailure)
                KLOG_VERBOSE("{}", seekFailure);
            player->cancelPendingPrerolls();
            player->prerollAtRate(float(cue->playbackRate()), DispatchQueue::main(),
                                  [weak, player, prerollFailure](bool prerolled) {
                                      const auto cue = weak.lock();
                                      if (!cue || !cue->ownsPlayer(player))
                                          return;
                                      if (!prerolled)
                                          KLOG_VERBOSE("{}", prerollFailure);
                                      cue->fillVideoOutputOfPlayerFromCMTime(*player, player->currentTime());
                                  });
        });
}

void KavioVideoItem::handleInTimeChange()
{
    if (!isLooping() || !canLoop())
        return;
    KLOG_VERBOSE("prerolling helper because of inTime change ...");
    // The set in use plays on; the idle set waits at the in point for the next loop switch.
    const bool helperInUse = videoPlayer() != normalVideoPlayer_.get();
    const auto current = audioPlayer();
    const auto idleAudio = helperInUse ? (current == loopHelperAudioPlayer_ ? nullptr : current) : loopHelperAudioPlayer_;
    if (idleAudio)
        idleAudio->setCurrentTime(inTime().seconds());
    MediaPlayer* idle = helperInUse ? normalVideoPlayer_.get() : loopHelperVideoPlayer_.get();
    if (!idle)
        return;
    parkPlayerAtInPoint(idle, nullptr,
                        helperInUse ? "error, could not preroll normalVideoPlayer!"
                                    : "error, could not preroll loopHelperVideoPlayer!");
}

void KavioVideoItem::pausePlayersWithPreroll(bool preroll)
{
    if (!DispatchQueue::main().isCurrent()) {
        DispatchQueue::main().sync([this, preroll] { KavioVideoItem::pausePlayersWithPreroll(preroll); });
        return;
    }
    const bool wasPlaying = isPlaying();
    setIsPlaying(false);
    MediaPlayer* player = presentVideoPlayer();
    if (player && wasPlaying) {
        player->pause();
        if (preroll) {
            KLOG_VERBOSE("prerolling after pause");
            prerollVideoAtCurrentTimeWithCompletedHandler([weak = weak_from_this()](bool prerolled) {
                const auto cue = weak.lock();
                if (!cue)
                    return;
                if (playbackModeOf(*cue) != 0)
                    KLOG_VERBOSE("error, preroll was not needed on pausePlayersWithPreroll");
                else if (prerolled)
                    cue->runFrameSourceStep([&] { cue->fillVideoOutputAfterPauseIfNeeded(); });
            });
        }
    }
    if ((audioPlayer() || loopHelperAudioPlayer_) && wasPlaying) {
        for (const auto& audio : {audioPlayer(), loopHelperAudioPlayer_})
            if (audio)
                audio->stop();
        if (preroll) {
            KLOG_VERBOSE("should preroll audio: {}", int(preroll));
            prerollAudioAtCurrentTime();
        }
    }
    if (mediaType() == KavioMediaTypeNDI && isCurrent())
        NotificationCenter::defaultCenter().post(kHandlePlaybackStateChangeOnWaveform);
}
