#include "Cue/KavioVideoItem.h"

#include "Clock/QVTClock.h"
#include "DispatchQueue.h"

#include <algorithm>

namespace {

// A player's time may sit a hair outside the in and out points after an exact seek.
constexpr double kPlayheadTolerance = 0.001;

}  // namespace

// TODO(preroll): the players themselves, on the main queue.
void KavioVideoItem::startPlayers()
{
    setIsPlaying(true);
    // A stop made the clock time where it stood its start; playing, it is back at its place.
    if (!isLooping())
        setItemStartSMPTETime(originalItemStartSMPTETime());
}

void KavioVideoItem::rewind()
{
    if (!isReady())
        return;
    // TODO(cue position): seek the players to the in point on the main queue.
    setLoopCounter(0);
    tempCurrentTimeForNonMovies_.store(inTime().seconds());
    rebuildStartAndEndTime();
    if (const auto controller = manager())
        controller->timeJumpedOnItem(shared_from_this());
}

bool KavioVideoItem::needsRewindBeforeStartPlayback() const
{
    const double position = currentCMTime().seconds();
    return position < -kPlayheadTolerance || position > double(itemDuration()) + kPlayheadTolerance;
}

void KavioVideoItem::markAsCurrent(bool current)
{
    if (isCurrent_.exchange(current) == current)
        return;
    if (DispatchQueue::isMainThread())
        refreshTitle();
    else
        queueOnMain([](KavioVideoItem& cue) { cue.refreshTitle(); });
}

void KavioVideoItem::increaseTimeForNonMovies(double seconds)
{
    if (mediaType() == KavioMediaTypeMovie)
        return;
    tempCurrentTimeForNonMovies_.store(tempCurrentTimeForNonMovies_.load() + seconds);
}

// TODO(live sources): the browser and window sources start rendering.
void KavioVideoItem::shouldStartRenderItemIfNotFileBased() {}

QString KavioVideoItem::currentTimeSMPTE() const
{
    const auto controller = manager();
    const auto clock = controller ? controller->masterClock() : nullptr;
    return clock ? clock->smpteRepresentationOfTime(currentCMTime().seconds()) : QString();
}

QString KavioVideoItem::timeLeftSMPTE() const
{
    const auto controller = manager();
    const auto clock = controller ? controller->masterClock() : nullptr;
    if (!clock)
        return {};
    // Counted to the start of the last frame, so the last frame itself has nothing left.
    const double left = double(itemDuration()) - clock->frameTimeOfCurrentSMPTEFormat() - currentCMTime().seconds();
    return QLatin1Char('-') + clock->smpteRepresentationOfTime(std::max(left, 0.0));
}

MediaTime KavioVideoItem::loopedCMTime() const
{
    return MediaTime::makeWithSeconds(double(float(loopCounter()) * itemDuration()), MediaTime::kCueTimescale);
}

QString KavioVideoItem::transitionStartSMPTETime() const
{
    const auto controller = manager();
    const auto clock = controller ? controller->masterClock() : nullptr;
    if (!hasTransition() || !clock)
        return {};
    // The transition lies at the end of the current loop pass.
    const float passes = itemDuration() * float(loopCounter() + 1);
    return clock->smpteRepresentationOfTime(double(passes) - transitionTime() +
                                            clock->secondsForSMPTEString(originalItemStartSMPTETime()));
}

QList<int> KavioVideoItem::channelMapping() const
{
    const auto player = audioPlayer();
    return player ? player->channelMapping() : QList<int>();
}

float KavioVideoItem::audioPlayerVolume() const
{
    const auto player = audioPlayer();
    return player ? player->volume() : 0.0f;
}

// TODO(looping): the loop pass, the swap of the player sets and the row's state.
void KavioVideoItem::handleLooping() {}
void KavioVideoItem::switchPlayersOnLoop() {}
void KavioVideoItem::setUIStateAfterPlayback() {}
void KavioVideoItem::setUIStateAfterStop() {}
