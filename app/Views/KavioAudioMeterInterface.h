#pragma once

// What a cue row needs of its level meter: the cue builds it for its channel count and writes
// levels in dB; the meter repaints on the user-interface tick, never from the caller.
class KavioAudioMeterInterface {
public:
    virtual ~KavioAudioMeterInterface() = default;
    virtual void initWithChannels(int count) = 0;
    virtual void setLevelForChannel(float level, int channel) = 0;
};
