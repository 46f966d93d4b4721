#include "Cue/KavioVideoItem.h"

// TODO(cue playback): the position bar's playhead.
std::int64_t KavioVideoItem::currentPlayhead() const { return 0; }
// TODO(looping): the loop helper.
void KavioVideoItem::setupLoopHelper() {}
