#include "Cue/KavioVideoItem.h"

// TODO(cue audio): the row's meter.
void KavioVideoItem::updateAudioMeter() {}
