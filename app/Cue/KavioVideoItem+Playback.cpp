#include "Cue/KavioVideoItem.h"

void KavioVideoItem::setSelectedCaptionTrack(std::int32_t track)
{
    // TODO(captions of a cue): rebuild the caption readers for the render size.
    selectedCaptionTrack_.store(track);
    captionDelaySeconds_.store(0.0);
}

void KavioVideoItem::volumeChanged()
{
    // TODO(audio routing and volume): the players' volume from the cue's volume, the sound
    // toggle, the fades and the master and main volumes.
}
