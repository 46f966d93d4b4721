#include "Cue/KavioVideoItem.h"

#include "Cue/KavioPlayerItemVideoOutput.h"
#include "Views/KavioButton.h"
#include "Views/KavioVideoItemView.h"
#include "DispatchQueue.h"
#include "Log.h"
#include "MediaPlayer.h"

// --- The loop-helper set ----------------------------------------------------------------------------

void KavioVideoItem::setupLoopHelper()
{
    if (mediaType() == KavioMediaTypeMovie && !loopHelperVideoPlayer_ && isReady() && !isMissing()) {
        setCanLoop(false);
        MediaError error;
        MediaPlayerOptions options;
        // As the normal player: the decoder's own planes, converted on the GPU.
        options.pixelFormat = MediaPixelFormat::Native;
        std::shared_ptr<MediaPlayer> helper =
            MediaPlayer::open(resolvedPathForPath(mediaPath()).toStdString(), options, &error);
        if (helper) {
            loopHelperVideoPlayer_ = helper;
            loopHelperVideoOutput_ = std::make_shared<KavioPlayerItemVideoOutput>(
                KavioPlayerFrameOutput::forPlayer(*helper), helper->isHap());
            if (const auto self = weak_from_this().lock())
                loopHelperVideoOutput_->setVideoItem(self);
            // The helper's first decoded frame tells it is ready to take over.
            MediaPlayer* player = helper.get();
            player->prerollAtRate(float(playbackRate()), DispatchQueue::main(),
                                  [weak = weak_from_this(), player](bool decoded) {
                                      if (const auto cue = weak.lock())
                                          cue->loopHelperPlayerLoaded(player, decoded);
                                  });
        } else {
            KLOG_VERBOSE("cannot make the loop helper player: {}", error.message);
        }
    }
    if (const auto normal = normalAudioPlayer_.load(); normal && !loopHelperAudioPlayer_ && !isMissing()) {
        const bool live = mediaType() == KavioMediaTypeCamera || mediaType() == KavioMediaTypeNDI;
        loopHelperAudioPlayer_ = makeAudioPlayer(live ? QString() : resolvedPathForPath(mediaPath()), live ? 2 : 0);
        if (loopHelperAudioPlayer_)
            loopHelperAudioPlayer_->setVolume(normal->volume());
    }
    if (loopHelperAudioPlayer_)
        KLOG_VERBOSE("loopHelperAudioPlayer is ready, starts at {:f} secs !", inTime().seconds());
}

void KavioVideoItem::loopHelperPlayerLoaded(MediaPlayer* player, bool ready)
{
    if (player != loopHelperVideoPlayer_.get())
        return;
    if (!ready) {
        KLOG_VERBOSE("loop helper player failed");
        setCanLoop(false);
        return;
    }
    setCanLoop(true);
    // The helper waits at the in point, prerolled and its frame source filled.
    if (videoPlayer() != player)
        parkPlayerAtInPoint(player, "loopHelperVideoPlayer couldn't seek, there will be problems!",
                            "loopHelperVideoPlayer couldn't preroll, there will be problems!");
}

void KavioVideoItem::removeLoopHelper()
{
    if (loopHelperVideoPlayer_) {
        loopHelperVideoPlayer_->pause();
        loopHelperVideoPlayer_->cancelPendingPrerolls();
        if (timeJumpedPlayer_ == loopHelperVideoPlayer_.get())
            observeTimeJumpsOf(nullptr);
        // A frame being taken keeps its own copy of the set; the cue lets go of the source on
        // its frame queue, so none is dropped under a frame being taken.
        onPixelBufferQueue([this] {
            if (playerSet_.load().output == loopHelperVideoOutput_)
                setPlayerSet(playerSet_.load().player, nullptr);
            loopHelperVideoOutput_.reset();
        });
        setCanLoop(false);
    }
    if (const auto audio = std::exchange(loopHelperAudioPlayer_, nullptr)) {
        audio->stop();
        audio->removeResources();
        if (audioPlayer() == audio)
            audioPlayer_.store(nullptr);
    }
}

void KavioVideoItem::observeTimeJumpsOf(MediaPlayer* player)
{
    if (timeJumpedPlayer_ && timeJumpedToken_)
        timeJumpedPlayer_->removeEventObserver(timeJumpedToken_);
    timeJumpedToken_ = 0;
    timeJumpedPlayer_ = player;
    if (!player)
        return;
    timeJumpedToken_ = player->addEventObserver(
        DispatchQueue::main(), [weak = weak_from_this(), player](MediaPlayerEvent event) {
            const auto cue = weak.lock();
            if (cue && event == MediaPlayerEvent::TimeJumped && cue->ownsPlayer(player))
                cue->timeJumped(player);
        });
}

// --- Loop passes ------------------------------------------------------------------------------------

void KavioVideoItem::handleLooping()
{
    KLOG_VERBOSE("handleLooping");
    loopCounter_.fetch_add(1);
    switchPlayersOnLoop();
    tempCurrentTimeForNonMovies_ = inTime().seconds();
    setupNewSMPTEEndTimeAfterLooping();
    setFadeOpacity(1.0f);
    startPlayers();
}

void KavioVideoItem::switchPlayersOnLoop()
{
    if (!DispatchQueue::main().isCurrent()) {
        DispatchQueue::main().sync([this] { KavioVideoItem::switchPlayersOnLoop(); });
        return;
    }
    KLOG_VERBOSE("switchPlayersOnLoop");
    const double in = inTime().seconds();
    tempCurrentTimeForNonMovies_ = in;
    if (MediaPlayer* current = videoPlayer()) {
        const auto next = nextItemToPlay();
        if (hasTransition() && next && next.get() != this && next->isPlaying()) {
            next->pausePlayersWithPreroll(false);
            next->rewind();
        }
        if (!canLoop()) {
            KLOG_VERBOSE("looping handler does not ready...");
        } else if (current == normalVideoPlayer_.get()) {
            setPlayerSet(loopHelperVideoPlayer_, loopHelperVideoOutput_);
            KLOG_VERBOSE("switched to loopHelperVideoPlayer");
            observeTimeJumpsOf(loopHelperVideoPlayer_.get());
        } else {
            setPlayerSet(normalVideoPlayer_, normalVideoOutput_);
            KLOG_VERBOSE("switched to normalVideoPlayer");
            observeTimeJumpsOf(normalVideoPlayer_.get());
        }
    }
    if (const auto current = audioPlayer()) {
        const bool live = mediaType() == KavioMediaTypeCamera || mediaType() == KavioMediaTypeNDI;
        if (const auto normal = normalAudioPlayer_.load(); current != normal) {
            current->stop();
            current->setCurrentTime(in);
            audioPlayer_.store(normal);
        } else if (!live) {
            current->stop();
            current->setCurrentTime(in);
            // Without a helper player the normal one stays, at the in point, for startPlayers().
            if (loopHelperAudioPlayer_) {
                audioPlayer_.store(loopHelperAudioPlayer_);
                KLOG_VERBOSE("switched to loopHelperAudioPlayer");
            }
        }
        volumeChanged();
    }
}

void KavioVideoItem::setCurrentTimeOnAudioPlayers(double seconds)
{
    for (const auto& audio : {normalAudioPlayer_.load(), loopHelperAudioPlayer_})
        if (audio)
            audio->setCurrentTime(seconds);
}

// --- The row around start and stop ------------------------------------------------------------------

namespace {

// The open-file button alone: presenting every toggle would resend their OSC feedback at each
// start and stop.
void presentOpenButton(const KavioVideoItem& cue)
{
    if (KavioVideoItemView* row = cue.filledRow()) {
        row->openButton->setEnabled(cue.openButton().enabled);
        row->update();
    }
}

}  // namespace

void KavioVideoItem::setUIStateAfterPlayback()
{
    queueOnMain([](KavioVideoItem& cue) {
        cue.openButton_.enabled = false;
        presentOpenButton(cue);
    });
}

void KavioVideoItem::setUIStateAfterStop()
{
    const auto controller = manager();
    if (controller && (controller->shouldStartPlaybackAfterStartTimeHasBeenSet() ||
                       controller->shouldSkipRenderingBecauseOfProcessingJump()))
        return;
    if (!DispatchQueue::isMainThread()) {
        queueOnMain([](KavioVideoItem& cue) { cue.setUIStateAfterStop(); });
        return;
    }
    openButton_.enabled = true;
    presentOpenButton(*this);
}
