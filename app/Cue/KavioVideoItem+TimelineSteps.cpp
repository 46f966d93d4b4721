#include "Cue/KavioVideoItem.h"

// TODO(cue playback): the position bar's playhead.
std::int64_t KavioVideoItem::currentPlayhead() const { return 0; }
// TODO(level meter): the row's meter from the player's channel meters, re-made for
// audioMeterChannels() channels.
void KavioVideoItem::updateAudioMeter() {}
// TODO(looping): the loop helper.
void KavioVideoItem::setupLoopHelper() {}
