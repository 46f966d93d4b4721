#include "Cue/KavioVideoItem.h"

#include <algorithm>

#include "Clock/QVTClock.h"

#include "DispatchQueue.h"
#include "Log.h"
#include "MediaPlayer.h"

#include <cmath>

namespace {

MediaTime cueTime(double seconds)
{
    return MediaTime::makeWithSeconds(seconds, MediaTime::kCueTimescale);
}

std::int64_t playbackModeOf(const KavioVideoItem& cue)
{
    const auto controller = cue.manager();
    return controller ? controller->playbackMode() : 0;
}

const QString kNoTimeLeft = QStringLiteral("-00:00:00:00");

}  // namespace

MediaPlayer* KavioVideoItem::presentVideoPlayer() const
{
    return isMissing() ? nullptr : videoPlayer();
}

bool KavioVideoItem::ownsPlayer(const MediaPlayer* player) const
{
    return player && (player == normalVideoPlayer_.get() || player == loopHelperVideoPlayer_.get());
}

// --- Rewind and seek ----------------------------------------------------------------------------

void KavioVideoItem::rewind()
{
    rewindWithRebuildStartAndEndTimes(true);
}

void KavioVideoItem::rewindWithRebuildStartAndEndTimes(bool rebuild)
{
    if (!DispatchQueue::main().isCurrent()) {
        DispatchQueue::main().sync([this, rebuild] { rewindWithRebuildStartAndEndTimes(rebuild); });
        return;
    }
    if (!isReady())
        return;
    setLoopCounter(0);
    if (rebuild)
        rebuildStartAndEndTime();
    if (audioPlayer() && isPlaying())
        audioPlayer()->stop();
    MediaPlayer* player = presentVideoPlayer();
    if (!player) {
        seekToCMTime(inTimeAtCurrentPlaybackSpeed());
        return;
    }
    const MediaTime now = player->currentTime();
    KLOG_VERBOSE("currenttime {:f}", now.seconds());
    KLOG_VERBOSE("inTime {:f}", inTime().seconds());
    if (now != inTime()) {
        KLOG_VERBOSE("rewind: {}", cueName().toStdString());
        seekToCMTime(inTimeAtCurrentPlaybackSpeed());
        return;
    }
    setCurrentTimeOnAudioPlayers(inTime().seconds());
    if (const auto controller = manager())
        if (const auto self = weak_from_this().lock())
            controller->timeJumpedOnItem(self);
}

void KavioVideoItem::seekToSMPTETime(const QString& smpte)
{
    const auto controller = manager();
    const auto clock = controller ? controller->masterClock() : nullptr;
    if (clock)
        seekToCMTime(cueTime(clock->secondsForSMPTEString(smpte)));
}

void KavioVideoItem::seekToCMTime(const MediaTime& time)
{
    const double seconds = time.seconds();
    if (!std::isfinite(seconds)) {
        KLOG_WARN("refusing a seek of {} to {}", cueName().toStdString(), time.description());
        return;
    }
    MediaTime target = cueTime(seconds * playbackRate());
    if (target < MediaTime::zero())
        target = MediaTime::zero();
    tempCurrentTimeForNonMovies_ = target.seconds();

    MediaPlayer* player = presentVideoPlayer();
    const bool standalone = playbackModeOf(*this) == 0;
    // Standalone only an audio-only cue moves its audio player here; the time jump stops the
    // others'. Following timecode no jump report comes, so every audio player moves now.
    if (audioPlayer() && (!standalone || mediaType() == KavioMediaTypeAudio)) {
        audioPlayer()->stop();
        volumeChanged();
        if (audioPlayer()->duration() > target.seconds())
            audioPlayer()->setCurrentTime(target.seconds());
    }
    if (!player) {
        if (standalone)
            timeJumped(nullptr);
        return;
    }
    if (standalone)
        KLOG_VERBOSE("seek {}: {:f}", cueName().toStdString(), target.seconds());
    else
        KLOG_VERBOSE("seek in LTC/MTC mode {}: {:f}", cueName().toStdString(), target.seconds());

    // The player holds its time within the media: a target past the end lands on the end.
    target = MediaTime::minimum(target, player->duration());
    if (player->currentTime() == target) {
        KLOG_VERBOSE("seek is done - it was not needed");
        return;
    }
    player->pause();
    player->cancelPendingSeeks();
    setIsSeeking(true);
    setPreloadedTime(MediaTime::indefinite());
    player->seekToTime(target, MediaTime::zero(), MediaTime::zero(), DispatchQueue::main(),
                       [weak = weak_from_this()](bool) {
                           const auto cue = weak.lock();
                           if (!cue)
                               return;
                           KLOG_VERBOSE("seek is done");
                           cue->setIsSeeking(false);
                       });
}

// --- Position -------------------------------------------------------------------------------------

MediaTime KavioVideoItem::currentCMTimeWithEffectivePlaybackRate(bool effective) const
{
    const int type = mediaType();
    MediaTime raw = MediaTime::zero();
    if (const MediaPlayer* player = type == KavioMediaTypeMovie ? presentVideoPlayer() : nullptr) {
        raw = player->currentTime();
        if (raw.timescale == 1)
            raw.timescale = MediaTime::kCueTimescale;
    } else if ((type >= KavioMediaTypeMovie && type <= KavioMediaTypeWindow) || type == KavioMediaTypeAudio) {
        raw = cueTime(tempCurrentTimeForNonMovies());
    }
    const MediaTime sinceIn = raw - inTime();
    if (effective && playbackRateAsPercent() != 100)
        return cueTime(sinceIn.seconds() / playbackRate());
    return sinceIn;
}

MediaTime KavioVideoItem::currentCMTime() const
{
    return currentCMTimeWithEffectivePlaybackRate(true);
}

double KavioVideoItem::currentTimeForAudioWithPlayer(const KavioCueAudioPlayer* player) const
{
    if (player && player == audioPlayer().get())
        return (currentCMTimeWithEffectivePlaybackRate(false) + inTime()).seconds();
    return inTime().seconds();
}

std::shared_ptr<const MediaAsset> KavioVideoItem::itemAsset() const
{
    return videoPlayer() ? asset_ : nullptr;
}

QString KavioVideoItem::currentTimeSMPTE() const
{
    const auto controller = manager();
    const auto clock = controller ? controller->masterClock() : nullptr;
    return clock ? clock->smpteRepresentationOfTime(currentCMTime().seconds()) : QStringLiteral("00:00:00:00");
}

QString KavioVideoItem::timeLeftSMPTE() const
{
    const auto controller = manager();
    const auto clock = controller ? controller->masterClock() : nullptr;
    if (!isReady() || !clock)
        return kNoTimeLeft;
    // Counted to the start of the last frame: the cue's end on the line is its last frame, and
    // the tick that stands on it must read exactly "-00:00:00:00" to pause there.
    const double left = double(itemDuration()) - clock->frameTimeOfCurrentSMPTEFormat() - currentCMTime().seconds();
    return QStringLiteral("-") + clock->smpteRepresentationOfTime(std::max(left, 0.0));
}

double KavioVideoItem::timeLeftUntilEndOrTransition() const
{
    const auto controller = manager();
    const auto clock = controller ? controller->masterClock() : nullptr;
    // The clock reads the text without its sign: the time left on the frame grid.
    const double left = clock ? clock->secondsForSMPTEString(timeLeftSMPTE()) : 0.0;
    if (!hasTransition())
        return left;
    return std::max(left - transitionTime(), 0.0);
}

MediaTime KavioVideoItem::loopedCMTime() const
{
    // Double precision: a single-precision product drifts past a frame after days of looping.
    return cueTime(double(loopCounter()) * double(itemDuration()));
}

void KavioVideoItem::increaseTimeForNonMovies(double seconds)
{
    increaseTimeForNonMoviesNonRecursively(seconds);
    const auto next = nextItemToPlay();
    if (!hasTransition() || !next || next.get() == this || !next->isPlaying())
        return;
    const auto controller = manager();
    const bool intoFirst = next->index() == 1;
    const bool firstBackToFirst = index() == 1 && next->nextItemToPlay().get() == this;
    if (intoFirst || firstBackToFirst || !(controller && controller->isProcessingGlobalTransition()))
        next->increaseTimeForNonMoviesNonRecursively(seconds);
}

void KavioVideoItem::increaseTimeForNonMoviesNonRecursively(double seconds)
{
    tempCurrentTimeForNonMovies_.fetch_add(seconds);
}

// --- Time jumps -----------------------------------------------------------------------------------

void KavioVideoItem::reportTimeJumpIfAllowed()
{
    const auto controller = manager();
    const auto self = weak_from_this().lock();
    if (controller && self && shouldforwardtimejumpedmessages_)
        controller->timeJumpedOnItem(self);
}

void KavioVideoItem::timeJumped(const MediaPlayer* source)
{
    if (!DispatchQueue::main().isCurrent()) {
        KLOG_VERBOSE("moving back timeJumped to the main thread!");
        DispatchQueue::main().sync([this, source] { KavioVideoItem::timeJumped(source); });
        return;
    }
    // The idle player of a looping pair jumps when it is parked: not the cue's position.
    if (source && source != videoPlayer())
        return;
    if (!isReady() && !isMissing() && mediaType() == KavioMediaTypeMovie)
        return;
    if (playbackModeOf(*this) != 0) {
        reportTimeJumpIfAllowed();
        return;
    }
    const MediaPlayer* player = presentVideoPlayer();
    KLOG_VERBOSE("time jumped on item: {} thread: {} time: {:f}", source ? "TimeJumped" : "(null)",
                 DispatchQueue::main().label(), player ? player->currentTime().seconds() : 0.0);

    const auto next = nextItemToPlay();
    if (isProcessingTransitionToNextCueAtCurrentTime()) {
        // Negative inside the transition: -x is the time since it began. The next cue stands
        // that far past its own in point, the rule the controller places cues by.
        const double x = double(itemDuration()) - transitionTime() - currentCMTime().seconds();
        if (next)
            next->seekToCMTime(next->inTimeAtCurrentPlaybackSpeed() + cueTime(-x));
    } else if (next) {
        if (!next->itemIsRewindedAndPreloaded() && !next->isPlaying() && isCurrent() && next.get() != this) {
            KLOG_VERBOSE("will call setShouldFillbuffersAfterRewind on nextItemToPlay: {}", next->mediaPath().toStdString());
            next->setShouldFillbuffersAfterRewind(true);
            next->rewind();
        } else {
            next->setShouldFillbuffersAfterRewind(false);
        }
    }
    if (audioPlayer()) {
        audioPlayer()->stop();
        volumeChanged();
    }
    const auto controller = manager();
    const bool dragging = controller && controller->isPlayheadMarkerDragging();
    if (player && (!dragging || shouldFillbuffersAfterRewind())) {
        setShouldFillbuffersAfterRewind(false);
        KLOG_VERBOSE("filling buffer on {} because isPlayheadMarkerDragging is NO or shouldFillbuffersAfterRewind", index());
        fillVideoAndAudioBuffersAtCurrentTimeWithCompletedHandler([weak = weak_from_this()] {
            if (const auto cue = weak.lock())
                cue->reportTimeJumpIfAllowed();
        });
        return;
    }
    reportTimeJumpIfAllowed();
}
