#include "Cue/KavioVideoItem.h"

#include "Clock/QVTClock.h"

#include "DispatchQueue.h"
#include "Log.h"
#include "MediaPlayer.h"
#include "UserDefaults.h"

#include <cmath>

namespace {

std::shared_ptr<QVTClock> clockOf(const KavioVideoItem& cue)
{
    const auto controller = cue.manager();
    return controller ? controller->masterClock() : nullptr;
}

// Frame counts below zero name no frame of the timecode line: they count as frame 0.
std::uint64_t frameOrZero(std::int64_t frames)
{
    return std::uint64_t(std::max<std::int64_t>(frames, 0));
}

MediaTime cueTime(double seconds)
{
    return MediaTime::makeWithSeconds(seconds, MediaTime::kCueTimescale);
}

// The next whole minute (10) or hour (20) after start + length, less the start.
double autoAligned(double start, double length, std::int32_t code)
{
    double unit = 0;
    if (code == 10)
        unit = 60;
    else if (code == 20)
        unit = 3600;
    else
        return length;
    // Cut to a whole count: an end exactly on the unit still moves to the next one.
    const double end = double(std::int32_t((start + length) / unit)) * unit + unit;
    return length + ((end - length) - start);
}

}  // namespace

double KavioVideoItem::getGoodDuration() const
{
    const int type = mediaType();
    // The cache is what a missing cue answers with; reading the length refreshes it.
    auto* self = const_cast<KavioVideoItem*>(this);
    if (isMissing() && (type == KavioMediaTypeMovie || type == KavioMediaTypeAudio)) {
        if (!(cachedGoodDurationWhenMissing() > 0.0f))
            self->setCachedGoodDurationWhenMissing(durationOfNonMovies());
        return cachedGoodDurationWhenMissing();
    }
    double length = 0;
    if (type == KavioMediaTypeMovie)
        length = itemAssetDuration();
    else if (type >= KavioMediaTypeCamera && type <= KavioMediaTypeWindow)
        length = durationOfNonMovies();
    else if (type == KavioMediaTypeAudio) {
        const auto player = audioPlayer();
        length = player ? player->duration() : 0.0;
    }
    length -= inTime().seconds();
    length -= outTime().seconds();
    if (playbackRateAsPercent() != 100)
        length /= playbackRate();
    self->setCachedGoodDurationWhenMissing(float(length));
    return autoAligned(itemStartCMTime().seconds(), length, autoAlignToDuration());
}

std::uint64_t KavioVideoItem::itemDurationFrames() const
{
    const auto clock = clockOf(*this);
    return clock ? frameOrZero(clock->frameCountSMPTEString(clock->smpteRepresentationOfTime(getGoodDuration()))) : 0;
}

void KavioVideoItem::setupSMPTEStartAndEndTimes()
{
    const auto clock = clockOf(*this);
    if (!clock)
        return;
    const QString start = clock->smpteRepresentationOfTime(itemStartCMTime().seconds());
    setItemStartSMPTETime(start);
    setOriginalItemStartSMPTETime(start);
    const double startSeconds = clock->secondsForSMPTEString(start);
    // Snaps the start to the frame grid.
    setItemStartCMTime(cueTime(startSeconds));
    const double snapped = itemStartCMTime().seconds();
    const double end = clock->secondsForSMPTEString(clock->smpteRepresentationOfTime(snapped + getGoodDuration()));
    setItemDuration(float(end - startSeconds));
    setItemEndSMPTETime(clock->smpteRepresentationOfTime(snapped + itemDuration()));
    handleZeroFrameOnSMPTEEndTime();
    safetySMPTEChecks();
    displayItemTimes();
}

void KavioVideoItem::setupSMPTEEndTimeWithStartFrames(std::int64_t startFrames)
{
    const auto clock = clockOf(*this);
    if (!clock)
        return;
    const std::uint64_t first = frameOrZero(startFrames);
    const QString start = clock->smpteRepresentationOfFrames(first);
    setItemStartSMPTETime(start);
    setItemStartCMTime(cueTime(clock->secondsForSMPTEString(start)));
    const std::uint64_t frames = itemDurationFrames();
    setItemDuration(float(clock->secondsForSMPTEString(clock->smpteRepresentationOfFrames(frames))));
    setItemEndSMPTETime(clock->smpteRepresentationOfFrames(first + frames));
    handleZeroFrameOnSMPTEEndTime();
    safetySMPTEChecks();
    displayItemTimes();
}

void KavioVideoItem::setupNewSMPTEEndTimeAfterLooping()
{
    const auto clock = clockOf(*this);
    if (!clock)
        return;
    const QString original = originalItemStartSMPTETime();
    const std::uint64_t first = frameOrZero(clock->frameCountSMPTEString(original));
    const std::uint64_t frames = itemDurationFrames();
    setItemStartSMPTETime(original);
    setItemEndSMPTETime(clock->smpteRepresentationOfFrames(frames * loopCounter() + first + frames));
    handleZeroFrameOnSMPTEEndTime();
    displayItemTimes();
}

void KavioVideoItem::handleZeroFrameOnSMPTEEndTime()
{
    const auto clock = clockOf(*this);
    if (!clock)
        return;
    const std::int64_t end = clock->frameCountSMPTEString(itemEndSMPTETime());
    // An unsigned step back from frame 0 would wrap to the far end of the timecode line.
    setItemEndSMPTETime(clock->smpteRepresentationOfFrames(frameOrZero(end - 1)));
}

void KavioVideoItem::safetySMPTEChecks()
{
    const auto clock = clockOf(*this);
    if (!clock || itemStartSMPTETime() != itemEndSMPTETime())
        return;
    const std::int64_t start = clock->frameCountSMPTEString(itemStartSMPTETime());
    setItemEndSMPTETime(clock->smpteRepresentationOfFrames(frameOrZero(start) + 1));
}

void KavioVideoItem::rebuildStartAndEndTime()
{
    const auto clock = clockOf(*this);
    if (clock)
        setupSMPTEEndTimeWithStartFrames(clock->frameCountSMPTEString(originalItemStartSMPTETime()));
}

void KavioVideoItem::setPlaybackRatePercent(std::int64_t percent, std::function<void()> completed)
{
    const auto done = [completed] {
        if (completed)
            completed();
    };
    // A rate of 0 or less would stop the cue's clock and divide its times by zero.
    if (percent <= 0) {
        KLOG_WARN("refusing a playback rate of {} %", percent);
        done();
        return;
    }
    const auto controller = manager();
    if (percent != playbackRateAsPercent()) {
        playbackRateAsPercent_ = percent;
        setLoopCounter(0);
        rebuildStartAndEndTime();
        setPreloadedTime(MediaTime::indefinite());
        for (const auto& audio : {audioPlayer(), loopHelperAudioPlayer_})
            if (audio)
                audio->setRate(float(playbackRate()));
        fillVideoAndAudioBuffersAtCurrentTimeWithCompletedHandler();
        // The idle player of a looping pair takes over at the loop point: it must stand ready
        // at the new rate too.
        MediaPlayer* idle = videoPlayer() == normalVideoPlayer_.get() ? loopHelperVideoPlayer_.get()
                                                                      : normalVideoPlayer_.get();
        if (isLooping() && idle) {
            idle->prerollAtRate(float(playbackRate()), DispatchQueue::main(),
                                [weak = weak_from_this(), idle, done](bool) {
                                    const auto cue = weak.lock();
                                    if (cue && cue->ownsPlayer(idle))
                                        cue->fillVideoOutputOfPlayerFromCMTime(*idle, idle->currentTime());
                                    done();
                                });
        } else {
            done();
        }
    } else {
        done();
    }
    if (controller)
        controller->setHasUnsavedChanges(true);
}

void KavioVideoItem::displayItemTimes()
{
    if (!DispatchQueue::isMainThread()) {
        queueOnMain([](KavioVideoItem& cue) { cue.writeRowTimes(); });
        return;
    }
    writeRowTimes();
}

void KavioVideoItem::writeRowTimes()
{
    rowTimes_.start = itemStartSMPTETime();
    if (UserDefaults::standardUserDefaults().boolForKey(QStringLiteral("displayTRT"))) {
        if (rowTimes_.endLabel != QLatin1String("TRT:"))
            rowTimes_.endLabel = QStringLiteral("TRT:");
        rowTimes_.endLabelToolTip = QStringLiteral("Total Run Time");
        rowTimes_.end = videoTRTSMPTE();
    } else {
        if (rowTimes_.endLabel != QLatin1String("End:")) {
            rowTimes_.endLabel = QStringLiteral("End:");
            rowTimes_.endLabelToolTip = QStringLiteral("End Time");
        }
        rowTimes_.end = itemEndSMPTETime();
    }
    const auto controller = manager();
    const bool current = controller && controller->currentItem().get() == this;
    if (!isLooping())
        rowTimes_.loop.clear();
    else if (loopCount() != KavioLoopCountEndless)
        rowTimes_.loop = current ? QString::asprintf("Play %ld/%d", long(loopCounter() + 1), loopCount())
                                 : QString::asprintf("Plays: %d", loopCount());
    else if (loopCounter() == 0)
        rowTimes_.loop = QStringLiteral("Plays: ∞");
    else
        rowTimes_.loop = QString::asprintf("Play %ld", long(loopCounter()));
    refreshRowTimes();
}
