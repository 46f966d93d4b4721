#pragma once
// The audio-pull interface through which senders take an output's sound. Implementations are
// safe to call from any thread.

#include "AEUtilities/AEAudioTypes.h"

#include <cstdint>

class QVTNDIAudioSource {
public:
    virtual ~QVTNDIAudioSource() = default;

    // The format of the delivered audio.
    virtual AudioStreamBasicDescription asbd() = 0;
    // A newly allocated block of channelCount * frames floats, one plane per channel (plane c
    // starts at float c * frames); unset samples are 0. The caller releases it with free().
    // Null for a frame or channel count below 1.
    virtual float* audioDataWithNumberOfFrames(int32_t frames, int32_t channelCount) = 0;
    // A newly allocated block of channelCount * frames signed 16-bit samples, frame after frame
    // (channel c of frame j at j * channelCount + c); unset samples are 0. The caller releases
    // it with free(). Null for a frame or channel count below 1.
    virtual int16_t* interleaved16AudioDataWithNumberOfFrames(int32_t frames, int32_t channelCount) = 0;
    // Empties everything queued.
    virtual void clearBuffers() = 0;
    // Whether callers send this source's audio; the source delivers either way.
    virtual bool isEnabled() const = 0;
    virtual void setIsEnabled(bool enabled) = 0;
    // Whether pulls crossfade between the source's two decks.
    virtual bool isMixing() const = 0;
    virtual void setIsMixing(bool mixing) = 0;
};
