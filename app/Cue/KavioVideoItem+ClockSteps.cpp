#include "Cue/KavioVideoItem.h"

#include "Clock/QVTClock.h"
#include "DispatchQueue.h"

void KavioVideoItem::markAsCurrent(bool current)
{
    if (isCurrent_.exchange(current) == current)
        return;
    if (DispatchQueue::isMainThread())
        refreshTitle();
    else
        queueOnMain([](KavioVideoItem& cue) { cue.refreshTitle(); });
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
