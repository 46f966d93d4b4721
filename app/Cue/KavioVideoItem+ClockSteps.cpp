#include "Cue/KavioVideoItem.h"

#include "Clock/QVTClock.h"
#include "DispatchQueue.h"

void KavioVideoItem::markAsCurrent(bool current)
{
    if (isCurrent_.exchange(current) == current)
        return;
    if (current)
        liveSourceMarkedCurrent();
    if (DispatchQueue::isMainThread())
        refreshTitle();
    else
        queueOnMain([](KavioVideoItem& cue) { cue.refreshTitle(); });
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
