#pragma once
// The description of PCM audio as it travels between the audio engine, the NDI receiver and the
// streamers: 32-bit float, non-interleaved (one plane per channel), a channel count and a rate,
// with the discrete-in-order channel layout, or the stereo layout for a stereo down-mix. A plain
// value; any thread.

#include "AEUtilities/AEAudioTypes.h"

#include <cstdint>

class PcmFormat {
public:
    // Discrete channels in order: the layout tag's upper half, the channel count its lower.
    static constexpr uint32_t kChannelLayoutTagDiscreteInOrder = 0x930000;
    // Left and right; the channel count stays whatever was given.
    static constexpr uint32_t kChannelLayoutTagStereo = 0x650002;

    PcmFormat() = default;
    PcmFormat(double sampleRate, uint32_t channelCount, bool stereoLayout = false);

    // A format with at least one channel and a positive rate.
    bool isValid() const;
    double sampleRate() const { return sampleRate_; }
    uint32_t channelCount() const { return channelCount_; }
    uint32_t channelLayoutTag() const {
        return stereoLayout_ ? kChannelLayoutTagStereo : kChannelLayoutTagDiscreteInOrder | channelCount_;
    }
    // lpcm, float packed non-interleaved, 4 bytes per frame and packet, 32 bits per channel.
    AudioStreamBasicDescription streamDescription() const;

    bool operator==(const PcmFormat&) const = default;

private:
    double sampleRate_ = 0;
    uint32_t channelCount_ = 0;
    bool stereoLayout_ = false;
};
