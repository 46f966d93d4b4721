#include "Cue/KavioVideoItem.h"

// TODO(level meter): the row's meter from the player's channel meters, re-made for
// audioMeterChannels() channels.
void KavioVideoItem::updateAudioMeter() {}
