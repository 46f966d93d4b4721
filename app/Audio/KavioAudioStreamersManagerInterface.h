#pragma once
// The process-wide manager of the per-output audio streamers, as the cue list controller uses
// it. The audio engine implements it; tests give a recording fake.

#include <QList>

class KavioAudioStreamersManagerInterface {
public:
    virtual ~KavioAudioStreamersManagerInterface() = default;

    // --- Cue list controller ------------------------------------------------------------------
    // The channel mapping of deck A (the current cue): per output channel, the 1-based source
    // channel, 0 silent. Any thread.
    virtual void setChannelMappingA(const QList<int>& mapping) = 0;
    // Frame composition
    // Where every streamer's crossfade from deck A to deck B stands, 0..1. Render thread.
    virtual void setMixProgress(float progress) = 0;
};
