#include "Cue/KavioVideoItem.h"

void KavioVideoItem::setFadetime(float seconds)
{
    // TODO(cue row): the fade buttons switch between cut and fade icons around 0.1 s.
    fadetime_.store(seconds);
}

void KavioVideoItem::setSelectedCaptionTrack(std::int32_t track)
{
    // TODO(captions of a cue): rebuild the caption readers for the render size.
    selectedCaptionTrack_.store(track);
    captionDelaySeconds_.store(0.0);
}
