#pragma once
// What the program asks of the audio streamers manager: the per-output A/B streamers, each
// operation fanned out to all of them. Any thread.

#include <cstdint>
#include <memory>
#include <vector>

class PcmBuffer;

class KavioAudioStreamersManagerInterface {
public:
    virtual ~KavioAudioStreamersManagerInterface() = default;

    // --- Buffers and mappings (cue audio players, cue list controller) ---------------------
    virtual void addBufferA(const std::shared_ptr<const PcmBuffer>& buffer) = 0;
    virtual void addBufferB(const std::shared_ptr<const PcmBuffer>& buffer) = 0;
    virtual void setChannelMappingA(const std::vector<int>& mapping) = 0;
    virtual void setChannelMappingB(const std::vector<int>& mapping) = 0;
    virtual void switchBuffers() = 0;
    virtual void clearBuffers() = 0;
    virtual void clearCurrentBuffer() = 0;

    // --- Stored settings, forwarded to every streamer --------------------------------------
    virtual bool isEnabled() const = 0;
    virtual void setIsEnabled(bool enabled) = 0;
    virtual bool isMixing() const = 0;
    virtual void setIsMixing(bool mixing) = 0;
    virtual float mixProgress() const = 0;
    virtual void setMixProgress(float progress) = 0;
    virtual double volumeA() const = 0;
    virtual void setVolumeA(double volume) = 0;
    virtual double volumeB() const = 0;
    virtual void setVolumeB(double volume) = 0;
    // Only stored: the channel count of streamers created from now on.
    virtual int32_t channelCount() const = 0;
    virtual void setChannelCount(int32_t count) = 0;
};
