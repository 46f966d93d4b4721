#include "Cue/KavioVideoItem.h"

void KavioVideoItem::volumeChanged()
{
    // TODO(audio routing and volume): the players' volume from the cue's volume, the sound
    // toggle, the fades and the master and main volumes.
}
