#include "Cue/KavioVideoItem.h"

#include "Clock/QVTClock.h"
#include "DispatchQueue.h"

void KavioVideoItem::markAsCurrent(bool current)
{
    if (current && mediaType() == KavioMediaTypeCamera)
        setIsSecondaryCamera(false);
    if (isCurrent_.exchange(current) == current)
        return;
    if (current)
        liveSourceMarkedCurrent();
    const auto present = [current](KavioVideoItem& cue) {
        // The web-page and window sources render only while their cue is current.
        for (const auto& source : {cue.browserSource_, cue.windowSource_})
            if (source)
                source->setShouldRender(current);
        cue.refreshTitle();
    };
    if (DispatchQueue::isMainThread())
        present(*this);
    else
        queueOnMain(present);
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
