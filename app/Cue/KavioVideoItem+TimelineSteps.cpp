#include "Cue/KavioVideoItem.h"

// TODO(cue playback): the position bar's figures.
std::int64_t KavioVideoItem::transitionStartTimeFrames() const { return 4294967295; }
std::int64_t KavioVideoItem::currentPlayhead() const { return 0; }
// TODO(transitions): the transition's running state.
bool KavioVideoItem::isProcessingTransition() const { return false; }
bool KavioVideoItem::isProcessingTransitionToNextCueAtCurrentTime() const { return false; }
// TODO(cue audio): the row's meter.
void KavioVideoItem::updateAudioMeter() {}
// TODO(looping): the loop helper.
void KavioVideoItem::setupLoopHelper() {}

void KavioVideoItem::validateTransition()
{
    // A transition longer than the cue would start before the cue does.
    if (transitionTime() > double(itemDuration())) {
        setHasTransition(false);
        transitionButton_.state = 0;
        return;
    }
    setHasTransition(transitionButton_.state == 1);
}
